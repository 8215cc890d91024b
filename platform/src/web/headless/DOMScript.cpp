#include "DOMScript.h"

namespace plat::web {

const char* domScript() {
  return R"JS((function (native, options) {
  'use strict';
  var win = globalThis;
  var slice = Array.prototype.slice;

  function hidden(object, name, value) {
    Object.defineProperty(object, name, { value: value, writable: true, configurable: true, enumerable: false });
  }
  function getter(object, name, get, set) {
    Object.defineProperty(object, name, { get: get, set: set, configurable: true, enumerable: true });
  }

  function describe(value) {
    if (typeof value === 'string') return value;
    if (value instanceof Error) return String(value);
    if (value && typeof value === 'object') {
      try {
        var json = JSON.stringify(value);
        if (json !== undefined) return json;
      } catch (e) {}
    }
    return String(value);
  }

  function reportError(error) {
    var where = error && error.sourceURL ? ' (' + error.sourceURL + (error.line ? ':' + error.line : '') + ')' : '';
    native.log('error', 'JavaScript error: ' + describe(error) + where);
  }

  // ---- DOMException and events ----------------------------------------------------------------

  function DOMException(message, name) {
    this.message = message === undefined ? '' : String(message);
    this.name = name === undefined ? 'Error' : String(name);
  }
  DOMException.prototype = Object.create(Error.prototype);
  DOMException.prototype.constructor = DOMException;
  win.DOMException = DOMException;

  function Event(type, init) {
    if (!(this instanceof Event)) throw new TypeError("Failed to construct 'Event': Please use the 'new' operator");
    if (arguments.length < 1) throw new TypeError('Not enough arguments');
    init = init || {};
    this.type = String(type);
    this.bubbles = !!init.bubbles;
    this.cancelable = !!init.cancelable;
    this.defaultPrevented = false;
    this.target = null;
    this.currentTarget = null;
    this.eventPhase = 0;
    this.isTrusted = false;
    this.timeStamp = Date.now();
    hidden(this, '_stop', false);
    hidden(this, '_stopNow', false);
  }
  Event.prototype.preventDefault = function () {
    if (this.cancelable) this.defaultPrevented = true;
  };
  Event.prototype.stopPropagation = function () {
    this._stop = true;
  };
  Event.prototype.stopImmediatePropagation = function () {
    this._stop = true;
    this._stopNow = true;
  };
  Event.prototype.initEvent = function (type, bubbles, cancelable) {
    this.type = String(type);
    this.bubbles = !!bubbles;
    this.cancelable = !!cancelable;
  };
  function CustomEvent(type, init) {
    Event.call(this, type, init);
    this.detail = init && 'detail' in init ? init.detail : null;
  }
  CustomEvent.prototype = Object.create(Event.prototype);
  CustomEvent.prototype.constructor = CustomEvent;
  CustomEvent.prototype.initCustomEvent = function (type, bubbles, cancelable, detail) {
    this.initEvent(type, bubbles, cancelable);
    this.detail = detail;
  };
  win.Event = Event;
  win.CustomEvent = CustomEvent;

  var LISTENERS = typeof Symbol === 'function' ? Symbol('listeners') : '__listeners';

  function listenersOf(target, create) {
    var map = target[LISTENERS];
    if (!map && create) {
      map = Object.create(null);
      hidden(target, LISTENERS, map);
    }
    return map;
  }
  function captureOf(options) {
    return typeof options === 'boolean' ? options : !!(options && options.capture);
  }

  var eventTargetMethods = {
    addEventListener: function (type, listener, options) {
      if (!listener || (typeof listener !== 'function' && typeof listener !== 'object')) return;
      type = String(type);
      var capture = captureOf(options);
      var list = listenersOf(this, true)[type] || (listenersOf(this, true)[type] = []);
      for (var i = 0; i < list.length; i++) {
        if (list[i].listener === listener && list[i].capture === capture) return;
      }
      list.push({ listener: listener, capture: capture, once: !!(options && options.once) });
    },
    removeEventListener: function (type, listener, options) {
      var map = listenersOf(this, false);
      var list = map && map[String(type)];
      if (!list) return;
      var capture = captureOf(options);
      for (var i = 0; i < list.length; i++) {
        if (list[i].listener === listener && list[i].capture === capture) {
          list[i].removed = true;
          list.splice(i, 1);
          return;
        }
      }
    },
    dispatchEvent: function (event) {
      if (!(event instanceof Event) && !(event && typeof event.type === 'string')) {
        throw new TypeError("parameter 1 is not of type 'Event'");
      }
      return dispatch(this, event);
    }
  };

  function invoke(target, event) {
    event.currentTarget = target;
    var map = listenersOf(target, false);
    var list = map && map[event.type];
    if (list) {
      list = list.slice();
      for (var i = 0; i < list.length && !event._stopNow; i++) {
        var entry = list[i];
        if (entry.removed) continue;
        if (entry.once) eventTargetMethods.removeEventListener.call(target, event.type, entry.listener, entry.capture);
        try {
          if (typeof entry.listener === 'function') entry.listener.call(target, event);
          else if (typeof entry.listener.handleEvent === 'function') entry.listener.handleEvent(event);
        } catch (e) {
          reportError(e);
        }
      }
    }
    var handler = target['on' + event.type];
    if (typeof handler !== 'function' && target._attributes && ('on' + event.type) in target._attributes) {
      // An event handler written in the markup (onload="...").
      try {
        handler = new Function('event', target._attributes['on' + event.type]);
      } catch (e) {
        reportError(e);
      }
    }
    if (typeof handler === 'function' && !event._stopNow) {
      try {
        if (handler.call(target, event) === false) event.preventDefault();
      } catch (e) {
        reportError(e);
      }
    }
  }

  function dispatch(target, event) {
    event.target = target;
    event._stop = false;
    event._stopNow = false;
    var path = [target];
    if (event.bubbles) {
      for (var node = target.parentNode; node; node = node.parentNode) path.push(node);
      if (path[path.length - 1] === document && target !== win) path.push(win);
    }
    event.eventPhase = 2;
    invoke(target, event);
    event.eventPhase = 3;
    for (var i = 1; i < path.length && !event._stop; i++) invoke(path[i], event);
    event.currentTarget = null;
    event.eventPhase = 0;
    return !event.defaultPrevented;
  }

  function fire(target, type, bubbles, extra) {
    var event = new Event(type, { bubbles: !!bubbles });
    event.isTrusted = true;
    if (extra) {
      for (var key in extra) event[key] = extra[key];
    }
    return dispatch(target, event);
  }

  // ---- Nodes ------------------------------------------------------------------------------------

  function Node() {
    this.parentNode = null;
    this.childNodes = [];
  }
  Node.prototype.addEventListener = eventTargetMethods.addEventListener;
  Node.prototype.removeEventListener = eventTargetMethods.removeEventListener;
  Node.prototype.dispatchEvent = eventTargetMethods.dispatchEvent;
  Node.ELEMENT_NODE = 1;
  Node.TEXT_NODE = 3;
  Node.DOCUMENT_NODE = 9;

  function isConnected(node) {
    for (var n = node; n; n = n.parentNode) {
      if (n === document) return true;
    }
    return false;
  }
  function didConnect(node) {
    if (typeof node._connected === 'function') node._connected();
    var kids = node.childNodes.slice();
    for (var i = 0; i < kids.length; i++) didConnect(kids[i]);
  }
  function didDisconnect(node) {
    if (typeof node._disconnected === 'function') node._disconnected();
    for (var i = 0; i < node.childNodes.length; i++) didDisconnect(node.childNodes[i]);
  }

  Node.prototype.insertBefore = function (child, reference) {
    if (!(child instanceof Node)) throw new TypeError("parameter 1 is not of type 'Node'");
    if (child === this || child.contains(this)) throw new DOMException('The new child contains the parent.', 'HierarchyRequestError');
    var index = reference === null || reference === undefined ? -1 : this.childNodes.indexOf(reference);
    if (reference && index < 0) throw new DOMException('The node before which the new node is to be inserted is not a child of this node.', 'NotFoundError');
    if (child.parentNode) child.parentNode.removeChild(child);
    if (reference) index = this.childNodes.indexOf(reference);
    if (index < 0) this.childNodes.push(child);
    else this.childNodes.splice(index, 0, child);
    child.parentNode = this;
    if (isConnected(this)) didConnect(child);
    return child;
  };
  Node.prototype.appendChild = function (child) {
    return this.insertBefore(child, null);
  };
  Node.prototype.removeChild = function (child) {
    var index = this.childNodes.indexOf(child);
    if (index < 0) throw new DOMException('The node to be removed is not a child of this node.', 'NotFoundError');
    var wasConnected = isConnected(this);
    this.childNodes.splice(index, 1);
    child.parentNode = null;
    if (wasConnected) didDisconnect(child);
    return child;
  };
  Node.prototype.replaceChild = function (child, old) {
    this.insertBefore(child, old);
    return this.removeChild(old);
  };
  Node.prototype.contains = function (other) {
    for (var n = other; n; n = n.parentNode) {
      if (n === this) return true;
    }
    return false;
  };
  Node.prototype.hasChildNodes = function () {
    return this.childNodes.length > 0;
  };
  getter(Node.prototype, 'firstChild', function () {
    return this.childNodes[0] || null;
  });
  getter(Node.prototype, 'lastChild', function () {
    return this.childNodes[this.childNodes.length - 1] || null;
  });
  getter(Node.prototype, 'isConnected', function () {
    return isConnected(this);
  });
  getter(Node.prototype, 'ownerDocument', function () {
    return this === document ? null : document;
  });

  function Text(data) {
    Node.call(this);
    this.nodeType = 3;
    this.nodeName = '#text';
    this.data = data === undefined ? '' : String(data);
  }
  Text.prototype = Object.create(Node.prototype);
  Text.prototype.constructor = Text;
  getter(Text.prototype, 'textContent', function () {
    return this.data;
  }, function (value) {
    this.data = String(value);
  });

  function Element(tag) {
    Node.call(this);
    this.nodeType = 1;
    this.tagName = String(tag).toUpperCase();
    this.nodeName = this.tagName;
    this.style = {};
    hidden(this, '_attributes', Object.create(null));
  }
  Element.prototype = Object.create(Node.prototype);
  Element.prototype.constructor = Element;
  Element.prototype.getAttribute = function (name) {
    name = String(name).toLowerCase();
    return name in this._attributes ? this._attributes[name] : null;
  };
  Element.prototype.setAttribute = function (name, value) {
    name = String(name).toLowerCase();
    this._attributes[name] = String(value);
    if (typeof this._attributeChanged === 'function') this._attributeChanged(name);
  };
  Element.prototype.removeAttribute = function (name) {
    delete this._attributes[String(name).toLowerCase()];
  };
  Element.prototype.hasAttribute = function (name) {
    return String(name).toLowerCase() in this._attributes;
  };
  Element.prototype.remove = function () {
    if (this.parentNode) this.parentNode.removeChild(this);
  };
  Element.prototype.getElementsByTagName = function (name) {
    name = String(name).toUpperCase();
    var found = [];
    (function walk(node) {
      for (var i = 0; i < node.childNodes.length; i++) {
        var child = node.childNodes[i];
        if (child.nodeType === 1 && (name === '*' || child.tagName === name)) found.push(child);
        walk(child);
      }
    })(this);
    return found;
  };
  getter(Element.prototype, 'children', function () {
    return this.childNodes.filter(function (n) { return n.nodeType === 1; });
  });
  getter(Element.prototype, 'id', function () {
    return this.getAttribute('id') || '';
  }, function (value) {
    this.setAttribute('id', value);
  });
  getter(Element.prototype, 'className', function () {
    return this.getAttribute('class') || '';
  }, function (value) {
    this.setAttribute('class', value);
  });
  getter(Element.prototype, 'textContent', function () {
    if (this._text !== undefined) return this._text;
    return this.childNodes.map(function (n) { return n.textContent; }).join('');
  }, function (value) {
    if (isConnected(this)) this.childNodes.forEach(didDisconnect);
    this.childNodes = [];
    hidden(this, '_text', value === null || value === undefined ? '' : String(value));
  });
  getter(Element.prototype, 'innerHTML', function () {
    return this.textContent;
  }, function (value) {
    this.textContent = value;
  });
  getter(Element.prototype, 'classList', function () {
    var element = this;
    function names() {
      return element.className.split(/\s+/).filter(function (n) { return n; });
    }
    return {
      contains: function (n) { return names().indexOf(n) >= 0; },
      add: function () {
        var list = names();
        for (var i = 0; i < arguments.length; i++) if (list.indexOf(arguments[i]) < 0) list.push(arguments[i]);
        element.className = list.join(' ');
      },
      remove: function () {
        var gone = slice.call(arguments);
        element.className = names().filter(function (n) { return gone.indexOf(n) < 0; }).join(' ');
      },
      toggle: function (n) {
        var on = names().indexOf(n) < 0;
        if (on) this.add(n);
        else this.remove(n);
        return on;
      }
    };
  });

  function resolve(url) {
    var resolved = native.resolveURL(String(url));
    if (resolved === null || resolved === undefined) {
      throw new DOMException("'" + url + "' is not a valid URL.", 'SyntaxError');
    }
    return resolved;
  }
  function reflectURL(prototype, name) {
    getter(prototype, name, function () {
      var value = this.getAttribute(name);
      if (value === null) return '';
      var resolved = native.resolveURL(value);
      return resolved === null || resolved === undefined ? value : resolved;
    }, function (value) {
      this.setAttribute(name, value);
    });
  }

  // Frames: a connected iframe with a src navigates its frame through the web view's delegate,
  // on every connection and every assignment of src. As in WebKit, a page has at most
  // MAX_FRAMES frames: an iframe connected past that gets none and never navigates.
  var MAX_FRAMES = 1000;
  var framesMade = 0;
  var frames = Object.create(null);
  var nextFrameId = 1;
  function HTMLIFrameElement() {
    Element.call(this, 'iframe');
    hidden(this, '_frameId', nextFrameId++);
    hidden(this, '_hasFrame', false);
    this.contentWindow = null;
    this.contentDocument = null;
  }
  HTMLIFrameElement.prototype = Object.create(Element.prototype);
  HTMLIFrameElement.prototype.constructor = HTMLIFrameElement;
  reflectURL(HTMLIFrameElement.prototype, 'src');
  HTMLIFrameElement.prototype._navigate = function () {
    var src = this.getAttribute('src');
    if (src === null || src === '') return;
    var url = native.resolveURL(src);
    if (url === null || url === undefined) return;
    frames[this._frameId] = this;
    native.navigateFrame(this._frameId, url);
  };
  HTMLIFrameElement.prototype._connected = function () {
    if (!this._hasFrame) {
      if (framesMade >= MAX_FRAMES) return;
      this._hasFrame = true;
      framesMade++;
    }
    this._navigate();
  };
  HTMLIFrameElement.prototype._disconnected = function () {
    if (!this._hasFrame) return;
    this._hasFrame = false;
    framesMade--;
  };
  HTMLIFrameElement.prototype._attributeChanged = function (name) {
    if (name === 'src' && this._hasFrame) this._navigate();
  };

  // Scripts: one inserted by the page runs when it is connected (fetched first when it has a
  // src); those of the document's own markup are run by the parser.
  var scripts = Object.create(null);
  var nextScriptId = 1;
  var currentScript = null;
  function isScriptType(type) {
    if (type === null) return true;
    type = type.replace(/^\s+|\s+$/g, '').toLowerCase();
    return type === '' || /^(text|application)\/(x-)?(java|ecma)script$/.test(type) || type === 'text/jscript' ||
      type === 'text/livescript';
  }
  function HTMLScriptElement() {
    Element.call(this, 'script');
    hidden(this, '_scriptId', nextScriptId++);
    hidden(this, '_started', false);
  }
  HTMLScriptElement.prototype = Object.create(Element.prototype);
  HTMLScriptElement.prototype.constructor = HTMLScriptElement;
  reflectURL(HTMLScriptElement.prototype, 'src');
  getter(HTMLScriptElement.prototype, 'text', function () {
    return this.textContent;
  }, function (value) {
    this.textContent = value;
  });
  getter(HTMLScriptElement.prototype, 'type', function () {
    return this.getAttribute('type') || '';
  }, function (value) {
    this.setAttribute('type', value);
  });
  HTMLScriptElement.prototype._connected = function () {
    if (this._started) return;
    var src = this.getAttribute('src');
    var text = this.textContent;
    if (src === null && !text) return;  // started later, once it has something to run
    this._started = true;
    if (!isScriptType(this.getAttribute('type'))) return;
    if (src !== null) {
      var url = src === '' ? null : native.resolveURL(src);
      if (url === null || url === undefined) {
        var element = this;
        win.setTimeout(function () { fire(element, 'error'); }, 0);
        return;
      }
      scripts[this._scriptId] = this;
      native.loadScript(this._scriptId, url);
      return;
    }
    var previous = currentScript;
    currentScript = this;
    try {
      (0, eval)(text);
    } catch (e) {
      reportError(e);
    } finally {
      currentScript = previous;
    }
  };
  HTMLScriptElement.prototype._attributeChanged = function (name) {
    if (name === 'src' && isConnected(this)) this._connected();
  };

  // ---- The document -----------------------------------------------------------------------------

  function Document() {
    Node.call(this);
    this.nodeType = 9;
    this.nodeName = '#document';
  }
  Document.prototype = Object.create(Node.prototype);
  Document.prototype.constructor = Document;

  var document = new Document();
  var readyState = 'loading';
  var title = '';
  var body = null;
  var htmlElement = new Element('html');
  var headElement = new Element('head');
  document.appendChild(htmlElement);
  htmlElement.appendChild(headElement);

  function ensureBody() {
    if (!body) {
      body = new Element('body');
      htmlElement.appendChild(body);
    }
    return body;
  }

  Document.prototype.createElement = function (tag) {
    if (arguments.length < 1) throw new TypeError('Not enough arguments');
    var name = String(tag).toLowerCase();
    if (name === 'iframe') return new HTMLIFrameElement();
    if (name === 'script') return new HTMLScriptElement();
    return new Element(name);
  };
  Document.prototype.createTextNode = function (data) {
    return new Text(data);
  };
  Document.prototype.createEvent = function (kind) {
    var event = /^customevents?$/i.test(String(kind)) ? new CustomEvent('') : new Event('');
    return event;
  };
  Document.prototype.getElementById = function (id) {
    id = String(id);
    var found = null;
    (function walk(node) {
      for (var i = 0; i < node.childNodes.length && !found; i++) {
        var child = node.childNodes[i];
        if (child.nodeType === 1 && child.getAttribute('id') === id) found = child;
        else walk(child);
      }
    })(this);
    return found;
  };
  Document.prototype.getElementsByTagName = function (name) {
    var all = htmlElement.getElementsByTagName(name);
    var upper = String(name).toUpperCase();
    return upper === 'HTML' || upper === '*' ? [htmlElement].concat(all) : all;
  };
  Document.prototype.querySelector = function (selector) {
    return this.querySelectorAll(selector)[0] || null;
  };
  Document.prototype.querySelectorAll = function (selector) {
    selector = String(selector).replace(/^\s+|\s+$/g, '');
    if (/^#[\w-]+$/.test(selector)) {
      var element = this.getElementById(selector.slice(1));
      return element ? [element] : [];
    }
    if (/^[a-zA-Z][\w-]*$/.test(selector)) return this.getElementsByTagName(selector);
    if (/^\.[\w-]+$/.test(selector)) {
      var name = selector.slice(1);
      return htmlElement.getElementsByTagName('*').filter(function (e) { return e.classList.contains(name); });
    }
    return [];
  };
  getter(Document.prototype, 'documentElement', function () { return htmlElement; });
  getter(Document.prototype, 'head', function () { return headElement; });
  getter(Document.prototype, 'body', function () { return body; });
  getter(Document.prototype, 'readyState', function () { return readyState; });
  getter(Document.prototype, 'URL', function () { return currentURL; });
  getter(Document.prototype, 'documentURI', function () { return currentURL; });
  getter(Document.prototype, 'title', function () { return title; }, function (value) { title = String(value); });
  getter(Document.prototype, 'currentScript', function () { return currentScript; });
  getter(Document.prototype, 'defaultView', function () { return win; });
  getter(Document.prototype, 'cookie', function () { return ''; }, function () {});
  getter(Document.prototype, 'referrer', function () { return ''; });
  getter(Document.prototype, 'hidden', function () { return false; });
  getter(Document.prototype, 'visibilityState', function () { return 'visible'; });
  getter(Document.prototype, 'location', function () { return location; }, function (value) { navigate(value, 'other'); });

  // ---- window -----------------------------------------------------------------------------------

  win.window = win;
  win.self = win;
  win.top = win;
  win.parent = win;
  win.frames = win;
  win.document = document;
  win.Node = Node;
  win.Element = Element;
  win.HTMLElement = Element;
  win.HTMLIFrameElement = HTMLIFrameElement;
  win.HTMLScriptElement = HTMLScriptElement;
  win.Document = Document;
  win.Text = Text;
  win.addEventListener = eventTargetMethods.addEventListener;
  win.removeEventListener = eventTargetMethods.removeEventListener;
  win.dispatchEvent = eventTargetMethods.dispatchEvent;

  var currentURL = String(options.url);

  function navigate(url, kind) {
    native.navigate(resolve(url), kind);
  }
  function urlParts() {
    return native.urlParts(currentURL) || {};
  }
  var location = {};
  ['protocol', 'host', 'hostname', 'port', 'pathname', 'search', 'origin'].forEach(function (name) {
    getter(location, name, function () { return urlParts()[name] || ''; });
  });
  getter(location, 'href', function () { return currentURL; }, function (value) { navigate(value, 'other'); });
  getter(location, 'hash', function () {
    return urlParts().hash || '';
  }, function (value) {
    value = String(value);
    if (value.charAt(0) === '#') value = value.slice(1);
    var hash = currentURL.indexOf('#');
    var target = (hash < 0 ? currentURL : currentURL.slice(0, hash)) + '#' + value;
    // The fragment the page already has is no navigation at all (WebKit's rule).
    if (target !== currentURL) navigate(target, 'other');
  });
  location.assign = function (url) { navigate(url, 'other'); };
  // The page's history entry is replaced rather than a new one added.
  location.replace = function (url) { navigate(url, 'replace'); };
  location.reload = function () { native.navigate(currentURL, 'reload'); };
  location.toString = function () { return currentURL; };
  Object.defineProperty(win, 'location', {
    get: function () { return location; },
    set: function (value) { navigate(value, 'other'); },
    configurable: false,
    enumerable: true
  });

  var userAgent = String(options.userAgent);
  win.navigator = {
    userAgent: userAgent,
    appName: 'Netscape',
    appCodeName: 'Mozilla',
    appVersion: userAgent.replace(/^Mozilla\//, ''),
    product: 'Gecko',
    vendor: 'Apple Computer, Inc.',
    platform: String(options.platform),
    language: String(options.language),
    languages: [String(options.language)],
    onLine: true,
    cookieEnabled: true,
    standalone: false
  };

  // The page's session history (kept by the page engine): a move is made on a later turn.
  win.history = { state: null };
  getter(win.history, 'length', function () { return native.historyLength(); });
  win.history.back = function () { native.traverse(-1); };
  win.history.forward = function () { native.traverse(1); };
  win.history.go = function (delta) { native.traverse(Math.trunc(Number(delta)) || 0); };

  win.console = {};
  ['log', 'info', 'warn', 'error', 'debug'].forEach(function (level) {
    win.console[level] = function () {
      native.log(level, slice.call(arguments).map(describe).join(' '));
    };
  });
  win.console.assert = function (condition) {
    if (!condition) native.log('error', 'Assertion failed: ' + slice.call(arguments, 1).map(describe).join(' '));
  };

  // ---- Timers -----------------------------------------------------------------------------------

  var timers = Object.create(null);
  var nextTimer = 1;
  function addTimer(callback, delay, args, repeat) {
    if (typeof callback !== 'function') {
      var code = String(callback);
      callback = function () { (0, eval)(code); };
    }
    var id = nextTimer++;
    delay = Number(delay);
    if (!(delay > 0)) delay = 0;
    timers[id] = { callback: callback, args: args, repeat: repeat };
    native.setTimer(id, delay, repeat);
    return id;
  }
  win.setTimeout = function (callback, delay) {
    return addTimer(callback, delay, slice.call(arguments, 2), false);
  };
  win.setInterval = function (callback, delay) {
    return addTimer(callback, delay, slice.call(arguments, 2), true);
  };
  win.clearTimeout = win.clearInterval = function (id) {
    id = Number(id);
    if (id in timers) {
      delete timers[id];
      native.clearTimer(id);
    }
  };
  win.requestAnimationFrame = function (callback) {
    return win.setTimeout(function () { callback(Date.now()); }, 16);
  };
  win.cancelAnimationFrame = win.clearTimeout;

  // ---- Dialogs ----------------------------------------------------------------------------------

  win.alert = function (message) {
    native.alert(message === undefined ? '' : String(message));
  };
  win.confirm = function (message) {
    return !!native.confirm(message === undefined ? '' : String(message));
  };
  win.prompt = function (message, defaultText) {
    var answer = native.prompt(message === undefined ? '' : String(message),
                               defaultText === undefined || defaultText === null ? '' : String(defaultText));
    return typeof answer === 'string' ? answer : null;
  };

  // ---- Base64 -----------------------------------------------------------------------------------

  var ALPHABET = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
  win.btoa = function (text) {
    if (arguments.length < 1) throw new TypeError('Not enough arguments');
    text = String(text);
    var out = '';
    for (var i = 0; i < text.length; i += 3) {
      var a = text.charCodeAt(i), b = text.charCodeAt(i + 1), c = text.charCodeAt(i + 2);
      if (a > 255 || b > 255 || c > 255) {
        throw new DOMException('The string contains invalid characters.', 'InvalidCharacterError');
      }
      var n = (a << 16) | ((b || 0) << 8) | (c || 0);
      out += ALPHABET.charAt(n >> 18) + ALPHABET.charAt((n >> 12) & 63) +
        (i + 1 < text.length ? ALPHABET.charAt((n >> 6) & 63) : '=') + (i + 2 < text.length ? ALPHABET.charAt(n & 63) : '=');
    }
    return out;
  };
  win.atob = function (text) {
    if (arguments.length < 1) throw new TypeError('Not enough arguments');
    text = String(text).replace(/[\t\n\f\r ]+/g, '');
    if (text.length % 4 === 0) text = text.replace(/==?$/, '');
    if (text.length % 4 === 1 || /[^A-Za-z0-9+\/]/.test(text)) {
      throw new DOMException('The string to be decoded is not correctly encoded.', 'InvalidCharacterError');
    }
    var out = '';
    var bits = 0, count = 0;
    for (var i = 0; i < text.length; i++) {
      bits = (bits << 6) | ALPHABET.indexOf(text.charAt(i));
      count += 6;
      if (count >= 8) {
        count -= 8;
        out += String.fromCharCode((bits >> count) & 255);
      }
    }
    return out;
  };

  // ---- Script message handlers (the WebKit flavour) -----------------------------------------------

  var messageHandlers = null;
  var NativePromise = Promise;  // the page may replace its own
  if (options.messageHandlers) {
    messageHandlers = {};
    win.webkit = { messageHandlers: messageHandlers };
  }
  function setMessageHandlers(names) {
    if (!messageHandlers) return;
    Object.keys(messageHandlers).forEach(function (name) { delete messageHandlers[name]; });
    names.forEach(function (name) {
      messageHandlers[name] = {
        // As WebKit's: a promise, resolved once the message is sent; a call without a body, or
        // with one WebKit cannot copy, sends nothing and its promise never settles; one past the
        // messages a page may have waiting is dropped, its promise resolved with "dropped".
        postMessage: function (body) {
          if (arguments.length < 1) return new NativePromise(function () {});
          var sent = native.postMessage(name, body);
          if (sent === 'dropped') return NativePromise.resolve('dropped');
          if (!sent) return new NativePromise(function () {});
          return NativePromise.resolve();
        }
      };
    });
  }
  setMessageHandlers(options.messageHandlers || []);

  // ---- What the engine drives -------------------------------------------------------------------

  return {
    fireTimer: function (id) {
      var timer = timers[id];
      if (!timer) return;
      if (!timer.repeat) delete timers[id];
      try {
        timer.callback.apply(win, timer.args);
      } catch (e) {
        reportError(e);
      }
    },
    setReadyState: function (state) {
      readyState = state;
      fire(document, 'readystatechange');
      if (state === 'interactive') fire(document, 'DOMContentLoaded', true);
      if (state === 'complete') {
        fire(win, 'load');
        fire(win, 'pageshow');
      }
    },
    ensureBody: ensureBody,
    setTitle: function (text) {
      title = String(text).replace(/\s+/g, ' ').replace(/^ | $/g, '');
    },
    // An element of the document's own markup; scripts are marked started (the parser runs them).
    // Returns the script id for scripts, 0 otherwise.
    parserElement: function (tag, attributes, inBody) {
      var element = document.createElement(tag);
      for (var i = 0; i < attributes.length; i++) {
        element._attributes[String(attributes[i][0]).toLowerCase()] = String(attributes[i][1]);
      }
      if (element instanceof HTMLScriptElement) {
        element._started = true;
        scripts[element._scriptId] = element;
      }
      (inBody ? ensureBody() : headElement).appendChild(element);
      return element instanceof HTMLScriptElement ? element._scriptId : 0;
    },
    beginScript: function (id) {
      currentScript = scripts[id] || null;
    },
    // An inline script of the markup has run: no event.
    endScript: function (id) {
      currentScript = null;
      delete scripts[id];
    },
    scriptDone: function (id, ok) {
      var element = scripts[id];
      currentScript = null;
      if (!element) return;
      delete scripts[id];
      fire(element, ok ? 'load' : 'error');
    },
    frameLoaded: function (id) {
      var element = frames[id];
      if (!element) return;
      delete frames[id];
      fire(element, 'load');
    },
    sameDocument: function (url) {
      var old = currentURL;
      currentURL = String(url);
      var oldHash = old.indexOf('#') < 0 ? '' : old.slice(old.indexOf('#'));
      var newHash = currentURL.indexOf('#') < 0 ? '' : currentURL.slice(currentURL.indexOf('#'));
      // The address changes at once; the event comes as a task of its own, as in a browser.
      var now = currentURL;
      if (oldHash !== newHash) addTimer(function () { fire(win, 'hashchange', false, { oldURL: old, newURL: now }); }, 0, [], false);
    },
    setMessageHandlers: setMessageHandlers,
    reportError: reportError
  };
}))JS";
}

}  // namespace plat::web
