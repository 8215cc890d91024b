/*
 * harbor.js: the page side of Harbor's bridge.
 *
 * Gives the page a small module system (harbor.define / harbor.require), the module
 * 'harbor/exec' that carries page calls to native plugins and their results back, and the
 * document events the container fires (with a sticky "deviceready").
 *
 * A page call: exec(success, fail, service, action, args). The call becomes the entry
 * [callbackId, service, action, args] and reaches the native side in one of two ways, chosen
 * when this file loads:
 *   - "messageHandler": when window.webkit.messageHandlers.harbor exists, each entry is posted
 *     to it as it is made;
 *   - "iframe": otherwise entries wait in a queue; the first entry of a burst signals the
 *     native side (exec.signal, replaceable by the engine), which then fetches the whole queue
 *     with exec.nativeFetchMessages().
 * Results come back through exec.nativeCallback(callbackId, status, message, keepCallback,
 * debug): status 1 calls the success callback, 0 calls nothing, any other status the failure
 * callback; the callback stays registered only while keepCallback is 1. Calls the page makes
 * while native code is calling in are not signalled: the native call's return value carries
 * them.
 *
 * No dependencies; plain ES5 so that any engine the container uses can run it.
 */
(function (global) {
  'use strict';

  if (global.harbor && typeof global.harbor.define === 'function') {
    return; // loaded twice: the first copy owns the callbacks and the queue
  }

  var hasOwn = function (object, key) {
    return Object.prototype.hasOwnProperty.call(object, key);
  };

  function report(what, error) {
    var console = global.console;
    var text = what + (error !== undefined ? ': ' + (error && error.stack ? error + '\n' + error.stack : error) : '');
    if (console && typeof console.error === 'function') {
      console.error(text);
    } else if (console && typeof console.log === 'function') {
      console.log(text);
    }
  }

  // ---- Modules ---------------------------------------------------------------------------

  var factories = Object.create(null);
  var modules = Object.create(null);

  function define(id, factory) {
    if (typeof id !== 'string' || typeof factory !== 'function') {
      throw new TypeError('harbor.define needs a module id and a factory function');
    }
    if (id in factories) {
      throw new Error('module ' + id + ' is already defined');
    }
    factories[id] = factory;
  }

  function require(id) {
    if (id in modules) {
      return modules[id].exports;
    }
    if (!(id in factories)) {
      throw new Error('module ' + id + ' not found');
    }
    var module = { id: id, exports: {} };
    // Registered before the factory runs, so that modules requiring each other see the
    // exports made so far instead of recursing.
    modules[id] = module;
    try {
      factories[id].call(module.exports, require, module.exports, module);
    } catch (e) {
      delete modules[id];
      throw e;
    }
    return module.exports;
  }

  var harbor = {
    define: define,
    require: require,
    isDefined: function (id) {
      return id in factories;
    }
  };
  global.harbor = harbor;

  // ---- Base64 (engines without a DOM have no atob/btoa) -----------------------------------

  define('harbor/base64', function (require, exports) {
    var alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
    var codes = new Uint8Array(256);
    var i;
    for (i = 0; i < 256; i++) {
      codes[i] = 255;
    }
    for (i = 0; i < alphabet.length; i++) {
      codes[alphabet.charCodeAt(i)] = i;
    }

    function bytesOf(buffer) {
      if (ArrayBuffer.isView(buffer)) {
        return new Uint8Array(buffer.buffer, buffer.byteOffset, buffer.byteLength);
      }
      return new Uint8Array(buffer);
    }

    var alphabetCodes = new Uint8Array(64);
    for (i = 0; i < 64; i++) {
      alphabetCodes[i] = alphabet.charCodeAt(i);
    }
    // Bytes per piece: whole groups of three, so only the last piece has padding.
    var pieceBytes = 3 * 8192;

    // Standard Base64 with padding, of an ArrayBuffer or a typed array view. Each piece is
    // written into one small array of character codes and made a string at once: adding
    // characters to a string one at a time builds a rope of tiny strings, which cost dozens of
    // times the buffer's size before the engine flattens it.
    exports.fromArrayBuffer = function (buffer) {
      var bytes = bytesOf(buffer);
      var n = bytes.length;
      var parts = [];
      var chars = new Uint8Array(pieceBytes / 3 * 4);
      for (var start = 0; start < n; start += pieceBytes) {
        var end = Math.min(n, start + pieceBytes);
        var out = 0;
        var j;
        for (j = start; j + 2 < end; j += 3) {
          var v = (bytes[j] << 16) | (bytes[j + 1] << 8) | bytes[j + 2];
          chars[out++] = alphabetCodes[v >> 18];
          chars[out++] = alphabetCodes[(v >> 12) & 63];
          chars[out++] = alphabetCodes[(v >> 6) & 63];
          chars[out++] = alphabetCodes[v & 63];
        }
        if (end - j === 1) {
          chars[out++] = alphabetCodes[bytes[j] >> 2];
          chars[out++] = alphabetCodes[(bytes[j] & 3) << 4];
          chars[out++] = 61;  // '='
          chars[out++] = 61;
        } else if (end - j === 2) {
          var w = (bytes[j] << 8) | bytes[j + 1];
          chars[out++] = alphabetCodes[w >> 10];
          chars[out++] = alphabetCodes[(w >> 4) & 63];
          chars[out++] = alphabetCodes[(w & 15) << 2];
          chars[out++] = 61;
        }
        parts.push(String.fromCharCode.apply(null, chars.subarray(0, out)));
      }
      return parts.join('');
    };

    // An ArrayBuffer of the Base64 text. Characters outside the alphabet (padding, white
    // space) are skipped; a dangling single character carries no whole byte and is dropped.
    exports.toArrayBuffer = function (text) {
      text = String(text);
      var values = new Uint8Array(text.length);
      var count = 0;
      var k;
      for (k = 0; k < text.length; k++) {
        var c = text.charCodeAt(k);
        var code = c < 256 ? codes[c] : 255;
        if (code !== 255) {
          values[count++] = code;
        }
      }
      var rest = count % 4;
      var bytes = new Uint8Array(Math.floor(count / 4) * 3 + (rest === 2 ? 1 : rest === 3 ? 2 : 0));
      var out = 0;
      for (k = 0; k + 3 < count; k += 4) {
        var v = (values[k] << 18) | (values[k + 1] << 12) | (values[k + 2] << 6) | values[k + 3];
        bytes[out++] = v >> 16;
        bytes[out++] = (v >> 8) & 255;
        bytes[out++] = v & 255;
      }
      if (rest >= 2) {
        bytes[out++] = ((values[k] << 2) | (values[k + 1] >> 4)) & 255;
      }
      if (rest === 3) {
        bytes[out++] = ((values[k + 1] << 4) | (values[k + 2] >> 2)) & 255;
      }
      return bytes.buffer;
    };
  });

  // ---- Page text the container shows or logs -------------------------------------------------

  // The container's one cut of a page's text (console lines, dialogs): past 16384 UTF-16 units
  // the start is kept, never half a surrogate pair, with the count of the characters cut; a text
  // longer by no more than 64 units (the note's room) stays whole. The container cuts every such
  // text the same way on arrival; cutting here first keeps a long text off the bridge.
  define('harbor/text', function (require, exports) {
    var limit = 16384;
    var room = 64;

    function isHigh(code) {
      return code >= 0xD800 && code <= 0xDBFF;
    }

    exports.cut = function (text) {
      text = String(text);
      if (text.length <= limit + room) {
        return text;
      }
      var end = isHigh(text.charCodeAt(limit - 1)) ? limit - 1 : limit;
      var characters = 0;
      for (var k = end; k < text.length; k++) {
        var code = text.charCodeAt(k);
        var secondHalf = code >= 0xDC00 && code <= 0xDFFF && k > end && isHigh(text.charCodeAt(k - 1));
        if (!secondHalf) {
          characters++;
        }
      }
      return text.slice(0, end) + ' ... (' + characters + ' more characters cut)';
    };
  });

  // ---- The bridge ---------------------------------------------------------------------------

  define('harbor/exec', function (require, exports, module) {
    var base64 = require('harbor/base64');

    var MAX_CALLBACK_ID_LENGTH = 100;
    var MODES = { iframe: true, messageHandler: true };

    var callbacks = Object.create(null); // callback id -> { success, fail }
    // A random start keeps ids of a reloaded page apart from late results meant for the last one.
    var nextCallbackNumber = Math.floor(Math.random() * 2000000000);
    var queue = []; // JSON texts of the entries waiting to be fetched
    var signalled = false; // a signal is out and no fetch has come since
    var nativeDepth = 0; // > 0 while native code is calling into the page
    var bridgeMode = messageHandler() ? 'messageHandler' : 'iframe';
    var signalFrame = null;

    function messageHandler() {
      var webkit = global.webkit;
      var handlers = webkit && webkit.messageHandlers;
      var handler = handlers && handlers.harbor;
      return handler && typeof handler.postMessage === 'function' ? handler : null;
    }

    function isBinary(value) {
      var kind = Object.prototype.toString.call(value);
      return kind === '[object ArrayBuffer]' || (typeof ArrayBuffer !== 'undefined' && ArrayBuffer.isView(value));
    }

    // Callback ids travel back inside a script literal, so only letters, digits, '.', '_' and
    // '-' are used, at most 100 of them.
    function makeCallbackId(service) {
      var number = String(nextCallbackNumber++);
      var prefix = service.replace(/[^A-Za-z0-9._-]/g, '_');
      return prefix.slice(0, MAX_CALLBACK_ID_LENGTH - number.length) + number;
    }

    // Binary arguments travel as Base64 wrappers; the native side turns top-level ones back
    // into bytes.
    function wireArguments(args) {
      var out = new Array(args.length);
      for (var i = 0; i < args.length; i++) {
        out[i] = isBinary(args[i]) ? { HBRType: 'ArrayBuffer', data: base64.fromArrayBuffer(args[i]) } : args[i];
      }
      return out;
    }

    function unwrapPart(part) {
      if (part && typeof part === 'object' && part.HBRType === 'ArrayBuffer' && typeof part.data === 'string') {
        return base64.toArrayBuffer(part.data);
      }
      return part;
    }

    // The callback's arguments: one message, or each part of a MultiPart result.
    function callbackArguments(message) {
      if (message && typeof message === 'object' && message.HBRType === 'MultiPart' && Array.isArray(message.messages)) {
        return message.messages.map(unwrapPart);
      }
      return [unwrapPart(message)];
    }

    function sendSignal() {
      if (nativeDepth > 0 || signalled || !queue.length) {
        return;
      }
      signalled = true;
      try {
        module.exports.signal();
      } catch (e) {
        // The commands stay queued; the next call signals again.
        signalled = false;
        report('harbor: signalling the native side failed', e);
      }
    }

    function exec(success, fail, service, action, args) {
      if (typeof service !== 'string' || !service || typeof action !== 'string' || !action) {
        throw new TypeError('exec needs a service name and an action name');
      }
      if (args === undefined || args === null) {
        args = [];
      } else if (!Array.isArray(args)) {
        throw new TypeError('exec arguments must be an array');
      }
      var wantsAnswer = typeof success === 'function' || typeof fail === 'function';
      // "INVALID" tells the native side that nobody listens for an answer.
      var callbackId = wantsAnswer ? makeCallbackId(service) : 'INVALID';
      var entry = [callbackId, service, action, wireArguments(args)];

      if (bridgeMode === 'messageHandler') {
        var handler = messageHandler();
        if (!handler) {
          throw new Error('the harbor message handler is gone');
        }
        // Carried as JSON carries it, as in the other mode: WebKit hands the host a message as JSON
        // anyway, but drops one it cannot copy (a function or a symbol among the arguments) without
        // a word, and the caller would wait for ever; a cycle throws here, at the caller.
        var carried = JSON.parse(JSON.stringify(entry));
        if (wantsAnswer) {
          callbacks[callbackId] = { success: success, fail: fail };
        }
        var sent;
        try {
          sent = handler.postMessage(carried);
        } catch (e) {
          delete callbacks[callbackId];
          throw e;
        }
        // A page posting faster than the container runs its commands has the surplus dropped
        // before it leaves the page (the promise says "dropped"): the caller hears so.
        if (wantsAnswer && sent && typeof sent.then === 'function') {
          sent.then(function (outcome) {
            if (outcome === 'dropped') {
              deliver(callbackId, 9, 'The command was dropped: the page sent commands faster than the container runs them', false);
            }
          });
        }
        return;
      }

      // Serialised now: a later change to the arguments does not change the call, and an
      // argument that cannot be sent fails here, at its caller, without touching the queue.
      var json = JSON.stringify(entry);
      if (wantsAnswer) {
        callbacks[callbackId] = { success: success, fail: fail };
      }
      queue.push(json);
      sendSignal();
    }

    // The commands queued since the last fetch as one JSON array, or '' when none wait.
    function nativeFetchMessages() {
      signalled = false;
      if (!queue.length) {
        return '';
      }
      var json = '[' + queue.join(',') + ']';
      queue = [];
      return json;
    }

    function deliver(callbackId, status, message, keepCallback) {
      var entry = callbacks[callbackId];
      if (!entry) {
        return;
      }
      if (!keepCallback) {
        delete callbacks[callbackId];
      }
      var callback = status === 1 ? entry.success : status === 0 ? null : entry.fail;
      if (typeof callback !== 'function') {
        return;
      }
      try {
        callback.apply(null, callbackArguments(message));
      } catch (e) {
        // A failing page callback must not cost the native side the commands queued meanwhile.
        report('harbor: error in ' + (status === 1 ? 'success' : 'failure') + ' callback ' + callbackId, e);
      }
    }

    function nativeCallback(callbackId, status, message, keepCallback, debug) {
      nativeDepth++;
      try {
        deliver(String(callbackId), Number(status), message, keepCallback === 1 || keepCallback === true);
      } finally {
        nativeDepth--;
      }
      return nativeFetchMessages();
    }

    // Runs script the native side sent and returns what it queued. When the script throws, the
    // native wrapper reports it; what was queued before the throw is then signalled as usual.
    function nativeEvalAndFetch(fn) {
      nativeDepth++;
      var completed = false;
      try {
        fn();
        completed = true;
      } finally {
        nativeDepth--;
        if (!completed) {
          sendSignal();
        }
      }
      return nativeFetchMessages();
    }

    // The frame the iframe-mode signal navigates, made when missing.
    function makeSignalFrame() {
      var doc = global.document;
      if (!doc || typeof doc.createElement !== 'function') {
        return null;
      }
      if (!signalFrame || !signalFrame.parentNode) {
        var parent = doc.body || doc.documentElement;
        if (!parent) {
          return null;
        }
        signalFrame = doc.createElement('iframe');
        if (signalFrame.style) {
          signalFrame.style.display = 'none';
        }
        parent.appendChild(signalFrame);
      }
      return signalFrame;
    }

    // The iframe-mode signal: a navigation to an hbr: URL, which the engine intercepts. The
    // navigation carries nothing. Engines without a document replace this function.
    function signal() {
      var frame = makeSignalFrame();
      if (frame) {
        frame.src = 'hbr://ready';
      }
    }

    // The signal's frame is made as this file loads, before the page makes frames of its own:
    // WebKit makes at most 1000 frames for a page and none after that, so a frame first made
    // for the first command of a page holding that many would never navigate, and no command
    // of the page would ever be fetched.
    if (bridgeMode === 'iframe') {
      makeSignalFrame();
    }

    exec.nativeFetchMessages = nativeFetchMessages;
    exec.nativeCallback = nativeCallback;
    exec.nativeEvalAndFetch = nativeEvalAndFetch;
    exec.signal = signal;
    exec.bridgeMode = function () {
      return bridgeMode;
    };
    exec.setBridgeMode = function (mode) {
      if (!MODES[mode]) {
        throw new Error('unknown bridge mode ' + mode);
      }
      bridgeMode = mode;
    };
    // Callback ids still waiting for results (for diagnostics and tests).
    exec.pendingCallbackIds = function () {
      return Object.keys(callbacks);
    };
    module.exports = exec;
  });

  // ---- Document events ----------------------------------------------------------------------

  // Listeners of one event that harbor delivers itself. A sticky channel fires once; a
  // listener added after that is called at once.
  function Channel(type, sticky) {
    this.type = type;
    this.sticky = !!sticky;
    this.fired = false;
    this.event = null;
    this.listeners = [];
  }

  function callListener(listener, event) {
    try {
      if (typeof listener === 'function') {
        listener.call(global.document, event);
      } else {
        listener.handleEvent(event);
      }
    } catch (e) {
      report('harbor: error in a "' + event.type + '" listener', e);
    }
  }

  Channel.prototype.subscribe = function (listener) {
    if (!listener || (typeof listener !== 'function' && typeof listener.handleEvent !== 'function')) {
      return;
    }
    if (this.sticky && this.fired) {
      callListener(listener, this.event);
      return;
    }
    if (this.listeners.indexOf(listener) < 0) {
      this.listeners.push(listener);
    }
  };

  Channel.prototype.unsubscribe = function (listener) {
    var i = this.listeners.indexOf(listener);
    if (i >= 0) {
      this.listeners.splice(i, 1);
    }
  };

  Channel.prototype.fire = function (event) {
    if (this.sticky) {
      if (this.fired) {
        return;
      }
      this.fired = true;
      this.event = event;
    }
    var listeners = this.listeners.slice();
    if (this.sticky) {
      this.listeners = [];
    }
    for (var i = 0; i < listeners.length; i++) {
      callListener(listeners[i], event);
    }
  };

  var channels = Object.create(null);
  var doc = global.document;
  var bareContext = !doc;
  var documentAdd = null;

  function channelFor(type, sticky) {
    type = String(type);
    if (!(type in channels)) {
      channels[type] = new Channel(type, sticky);
    }
    return channels[type];
  }

  if (bareContext) {
    // No DOM (a bare script engine): a stand-in document whose events are all harbor's own.
    doc = global.document = {
      addEventListener: function (type, listener) {
        channelFor(type).subscribe(listener);
      },
      removeEventListener: function (type, listener) {
        if (String(type) in channels) {
          channels[type].unsubscribe(listener);
        }
      },
      dispatchEvent: function (event) {
        if (event && String(event.type) in channels) {
          channels[event.type].fire(event);
        }
        return true;
      }
    };
  } else if (typeof doc.addEventListener === 'function') {
    // Events with a harbor channel are delivered by harbor (deviceready must be sticky, which
    // DOM events are not); all others go to the document as usual.
    documentAdd = doc.addEventListener;
    var documentRemove = doc.removeEventListener;
    doc.addEventListener = function (type, listener, options) {
      if (String(type) in channels) {
        channels[type].subscribe(listener);
      } else {
        documentAdd.call(doc, type, listener, options);
      }
    };
    doc.removeEventListener = function (type, listener, options) {
      if (String(type) in channels) {
        channels[type].unsubscribe(listener);
      } else if (typeof documentRemove === 'function') {
        documentRemove.call(doc, type, listener, options);
      }
    };
  }

  function createEvent(type, data) {
    var event = null;
    if (!bareContext) {
      try {
        if (typeof doc.createEvent === 'function') {
          event = doc.createEvent('Events');
          event.initEvent(type, false, false);
        } else if (typeof global.Event === 'function') {
          event = new global.Event(type);
        }
      } catch (e) {
        event = null;
      }
    }
    if (!event) {
      event = { type: type };
    }
    if (data && typeof data === 'object') {
      for (var key in data) {
        if (hasOwn(data, key)) {
          event[key] = data[key];
        }
      }
    }
    return event;
  }

  // Makes harbor deliver the document event `type` itself; sticky events fire once and call
  // late listeners at once.
  harbor.addDocumentEventHandler = function (type, sticky) {
    return channelFor(type, sticky);
  };

  // Fires a document event ("pause", "resume", ...), with data's own properties copied onto
  // the event.
  harbor.fireDocumentEvent = function (type, data) {
    type = String(type);
    var event = createEvent(type, data);
    if (type in channels) {
      channels[type].fire(event);
    } else if (!bareContext && typeof doc.dispatchEvent === 'function') {
      try {
        doc.dispatchEvent(event);
      } catch (e) {
        report('harbor: could not dispatch "' + type + '"', e);
      }
    }
  };

  harbor.exec = require('harbor/exec');

  // ---- deviceready ----------------------------------------------------------------------------

  harbor.addDocumentEventHandler('deviceready', true);

  function fireDeviceReady() {
    harbor.fireDocumentEvent('deviceready');
  }

  if (bareContext) {
    fireDeviceReady();
  } else if (doc.readyState === 'loading' && documentAdd) {
    documentAdd.call(doc, 'DOMContentLoaded', fireDeviceReady, false);
  } else if (typeof global.setTimeout === 'function') {
    // Lets the rest of the page's scripts add their listeners first; they would be called at
    // once anyway, but in their own order.
    global.setTimeout(fireDeviceReady, 0);
  } else {
    fireDeviceReady();
  }
})(typeof globalThis !== 'undefined' ? globalThis : typeof window !== 'undefined' ? window : this);
