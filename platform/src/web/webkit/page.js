// The WebKit engine's page script: run by the web extension in every document before the page's
// own scripts (and so out of the page's reach), with `post`, a native function of the extension
// that carries (kind, first, second) to the engine. In every document, frames included, the
// page's dialogs show their texts cut: WebKit hands the container a dialog's text whole (a 128 MiB
// alert took the runner to 1-2.4 GB, by machine), and a frame's dialog is the page's. In top-level documents,
// the console and uncaught errors reach the log as under the headless engine ("console", level,
// text), cut as every page text is; the URLs iframes are set to are announced ("frame", url, cut
// the same way) before WebKit asks about their navigation, since WebKit does not say which frame
// navigates. A request to capture the screen is refused as the container refuses the camera
// ("screen"), with the page told as WebKit tells it.
(function (post) {
  // The one cut of a page's text (plat/foundation/TextCut.h, cutPageText): past `limit` UTF-16
  // units the start is kept, never between the halves of a surrogate pair, with the count of the
  // characters cut; a text longer by no more than `room` (what the note takes) is kept whole, so
  // that a text cut once passes the container's own cut unchanged.
  // The built-ins it uses are taken now, before the page could replace them.
  var limit = 16384, room = 64;
  var unitAt = Function.prototype.call.bind(String.prototype.charCodeAt);
  var part = Function.prototype.call.bind(String.prototype.slice);
  var apply = Reflect.apply;
  function cut(text) {
    if (text.length <= limit + room) return text;
    var end = limit, code = unitAt(text, end - 1);
    if (code >= 0xD800 && code <= 0xDBFF) end -= 1;
    var count = 0;
    for (var i = end; i < text.length; ++i) {
      code = unitAt(text, i);
      if (!(code >= 0xDC00 && code <= 0xDFFF && i > end && (unitAt(text, i - 1) & 0xFC00) === 0xD800)) ++count;
    }
    return part(text, 0, end) + ' ... (' + count + ' more characters cut)';
  }
  ['alert', 'confirm', 'prompt'].forEach(function (name) {
    var dialog = window[name];
    if (typeof dialog !== 'function') return;
    // The texts as the dialog would take them (an absent one stays absent), cut.
    window[name] = function () {
      var texts = [];
      for (var i = 0; i < arguments.length; ++i) texts[i] = arguments[i] === undefined ? undefined : cut(`${arguments[i]}`);
      return apply(dialog, window, texts);
    };
  });
  if (window.top !== window) return;
  function describe(value) {
    if (typeof value === 'string') return value;
    if (value instanceof Error) return String(value);
    if (value && typeof value === 'object') {
      try { var json = JSON.stringify(value); if (json !== undefined) return json; } catch (e) {}
    }
    return String(value);
  }
  ['log', 'info', 'warn', 'error', 'debug'].forEach(function (level) {
    // WebKit's own console is not called: it would carry the whole text to the container's
    // process, which logs only the start of it.
    console[level] = function () {
      post('console', level, cut(Array.prototype.map.call(arguments, describe).join(' ')));
    };
  });
  window.addEventListener('error', function (event) {
    var where = event.filename ? ' (' + event.filename + (event.lineno ? ':' + event.lineno : '') + ')' : '';
    post('console', 'error', cut('JavaScript error: ' + describe(event.error || event.message) + where));
  });
  function announce(value) {
    try { post('frame', cut(new URL(String(value), document.baseURI).href), ''); } catch (e) {}
  }
  var frame = window.HTMLIFrameElement && HTMLIFrameElement.prototype;
  var src = frame && Object.getOwnPropertyDescriptor(frame, 'src');
  if (src && src.set) {
    Object.defineProperty(frame, 'src', {
      configurable: true, enumerable: src.enumerable, get: src.get,
      set: function (value) { announce(value); return src.set.call(this, value); }
    });
  }
  var setAttribute = Element.prototype.setAttribute;
  Element.prototype.setAttribute = function (name, value) {
    if (this instanceof HTMLIFrameElement && String(name).toLowerCase() === 'src') announce(value);
    return setAttribute.apply(this, arguments);
  };
  // Frames that arrive inside inserted nodes or markup start loading as they are inserted; one
  // without a src navigates to about:blank, which WebKit asks about too.
  function announceFrame(frame) {
    announce(frame.hasAttribute('src') ? frame.getAttribute('src') : 'about:blank');
  }
  function announceIn(node) {
    try {
      if (!node || (node.nodeType !== 1 && node.nodeType !== 11)) return;
      if (node instanceof HTMLIFrameElement) announceFrame(node);
      var frames = node.querySelectorAll ? node.querySelectorAll('iframe') : [];
      for (var i = 0; i < frames.length; ++i) announceFrame(frames[i]);
    } catch (e) {}
  }
  var parseInto = Object.getOwnPropertyDescriptor(Element.prototype, 'innerHTML');
  function announceMarkup(markup) {
    try {
      if (!parseInto || String(markup).toLowerCase().indexOf('<iframe') < 0) return;
      var template = document.createElement('template');  // its content loads nothing
      parseInto.set.call(template, markup);
      announceIn(template.content);
    } catch (e) {}
  }
  [[Node.prototype, ['appendChild', 'insertBefore', 'replaceChild']],
   [Element.prototype, ['append', 'prepend', 'before', 'after', 'replaceWith', 'replaceChildren']],
   [DocumentFragment.prototype, ['append', 'prepend', 'replaceChildren']]].forEach(function (entry) {
    entry[1].forEach(function (name) {
      var original = entry[0][name];
      if (typeof original !== 'function') return;
      entry[0][name] = function () {
        for (var i = 0; i < arguments.length; ++i) announceIn(arguments[i]);
        return original.apply(this, arguments);
      };
    });
  });
  ['innerHTML', 'outerHTML'].forEach(function (name) {
    var property = Object.getOwnPropertyDescriptor(Element.prototype, name);
    if (!property || !property.set) return;
    Object.defineProperty(Element.prototype, name, {
      configurable: true, enumerable: property.enumerable, get: property.get,
      set: function (value) { announceMarkup(value); return property.set.call(this, value); }
    });
  });
  // WebKit's own getDisplayMedia is switched off: it asks the desktop's screen-cast portal before
  // the container could refuse.
  var devices = window.MediaDevices && MediaDevices.prototype;
  if (devices && !('getDisplayMedia' in devices)) {
    Object.defineProperty(devices, 'getDisplayMedia', {
      configurable: true, enumerable: true, writable: true,
      value: function getDisplayMedia() {
        post('screen', '', '');
        return Promise.reject(new DOMException('The request is not allowed by the user agent or the platform in the ' +
                                               'current context, possibly because the user denied permission.',
                                               'NotAllowedError'));
      }
    });
  }
  var insertAdjacentHTML = Element.prototype.insertAdjacentHTML;
  Element.prototype.insertAdjacentHTML = function (where, markup) {
    announceMarkup(markup);
    return insertAdjacentHTML.apply(this, arguments);
  };
})
