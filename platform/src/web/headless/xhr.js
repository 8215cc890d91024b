// XMLHttpRequest and fetch() for a document of the headless page engine: GET only, over the
// platform's URL loading (file:, data:, registered URL protocols, http and https), with the
// size limit of the page's own resources. Called once per document, after the DOM stand-in,
// with the native hooks (kept in this closure), the global object and the DOM's classes.
//
// A load reports through the handlers given to native.send, each on a later turn of the main
// loop: response(status, statusText, headers, url, total), progress(loaded, total), and
// done(error): during done, native.take(id, kind) gives the body as 'text' or 'arraybuffer'.
(function (native, win, DOMException, Event, EventTargetPrototype) {
  'use strict';

  function hidden(object, name, value) {
    Object.defineProperty(object, name, { value: value, writable: true, configurable: true, enumerable: false });
  }

  function ProgressEvent(type, init) {
    Event.call(this, type, init);
    init = init || {};
    this.lengthComputable = !!init.lengthComputable;
    this.loaded = Number(init.loaded) || 0;
    this.total = Number(init.total) || 0;
  }
  ProgressEvent.prototype = Object.create(Event.prototype);
  ProgressEvent.prototype.constructor = ProgressEvent;

  function XMLHttpRequestEventTarget() {}
  ['addEventListener', 'removeEventListener', 'dispatchEvent'].forEach(function (name) {
    XMLHttpRequestEventTarget.prototype[name] = EventTargetPrototype[name];
  });

  function fire(target, type, loaded, total) {
    var event = new ProgressEvent(type, { lengthComputable: total >= 0, loaded: loaded, total: total >= 0 ? total : 0 });
    event.isTrusted = true;
    target.dispatchEvent(event);
  }
  function fireState(xhr) {
    var event = new Event('readystatechange');
    event.isTrusted = true;
    xhr.dispatchEvent(event);
  }

  function resolveURL(text) {
    var url = native.resolve(String(text));
    if (url === null || url === undefined) throw new DOMException("'" + text + "' is not a valid URL.", 'SyntaxError');
    return url;
  }
  // Header fields a page may not set: the loading system owns them (a page's Host or
  // Content-Length would misdescribe the request). Ignored, as browsers ignore them.
  var FORBIDDEN = /^(accept-charset|accept-encoding|access-control-request-headers|access-control-request-method|connection|content-length|cookie|cookie2|date|dnt|expect|host|keep-alive|origin|referer|te|trailer|transfer-encoding|upgrade|user-agent|via|proxy-.*|sec-.*)$/i;
  function allowedHeaders(list) {
    return list.filter(function (h) { return !FORBIDDEN.test(h[0]); });
  }

  function isGet(method) {
    return method === undefined || String(method).toUpperCase() === 'GET';
  }

  // ---- XMLHttpRequest ---------------------------------------------------------------------------

  var UNSENT = 0, OPENED = 1, HEADERS_RECEIVED = 2, LOADING = 3, DONE = 4;
  var RESPONSE_TYPES = ['', 'text', 'arraybuffer', 'json'];

  function XMLHttpRequest() {
    if (!(this instanceof XMLHttpRequest)) throw new TypeError("Failed to construct 'XMLHttpRequest': Please use the 'new' operator");
    hidden(this, '_state', UNSENT);
    hidden(this, '_load', 0);
    hidden(this, '_generation', 0);
    hidden(this, '_sent', false);
    hidden(this, '_headers', []);
    hidden(this, '_response', null);
    hidden(this, '_type', '');
    ['_status', '_statusText', '_responseHeaders', '_responseURL', '_text', '_error', '_url', '_timer', '_charset'].forEach(function (name) {
      hidden(this, name, null);
    }, this);
    this.upload = new XMLHttpRequestEventTarget();
    this.timeout = 0;
    this.withCredentials = false;
    reset(this);
  }
  XMLHttpRequest.prototype = Object.create(XMLHttpRequestEventTarget.prototype);
  XMLHttpRequest.prototype.constructor = XMLHttpRequest;
  [XMLHttpRequest, XMLHttpRequest.prototype].forEach(function (o) {
    o.UNSENT = UNSENT; o.OPENED = OPENED; o.HEADERS_RECEIVED = HEADERS_RECEIVED; o.LOADING = LOADING; o.DONE = DONE;
  });

  function reset(xhr) {
    xhr._status = 0;
    xhr._statusText = '';
    xhr._responseHeaders = [];
    xhr._responseURL = '';
    xhr._text = '';
    xhr._response = null;
    xhr._error = false;
  }

  function stop(xhr) {
    if (xhr._load) native.abort(xhr._load);
    xhr._load = 0;
    xhr._generation++;
    if (xhr._timer) win.clearTimeout(xhr._timer);
    xhr._timer = 0;
  }

  XMLHttpRequest.prototype.open = function (method, url, async) {
    if (arguments.length < 2) throw new TypeError('Not enough arguments');
    if (!isGet(method)) throw new DOMException('Only GET requests are supported.', 'NotSupportedError');
    if (arguments.length > 2 && !async) throw new DOMException('Synchronous requests are not supported.', 'InvalidAccessError');
    var resolved = resolveURL(url);
    stop(this);
    reset(this);
    this._url = resolved;
    this._headers = [];
    this._sent = false;
    if (this._state !== OPENED) {
      this._state = OPENED;
      fireState(this);
    }
  };

  XMLHttpRequest.prototype.setRequestHeader = function (name, value) {
    if (arguments.length < 2) throw new TypeError('Not enough arguments');
    if (this._state !== OPENED || this._sent) throw new DOMException("The object's state must be OPENED.", 'InvalidStateError');
    name = String(name);
    if (!/^[!#$%&'*+.^_`|~0-9A-Za-z-]+$/.test(name)) throw new DOMException("'" + name + "' is not a valid HTTP header field name.", 'SyntaxError');
    value = String(value).replace(/^[ \t\r\n]+|[ \t\r\n]+$/g, '');
    if (/[\r\n\0]/.test(value)) throw new DOMException("'" + value + "' is not a valid HTTP header field value.", 'SyntaxError');
    for (var i = 0; i < this._headers.length; i++) {
      if (this._headers[i][0].toLowerCase() === name.toLowerCase()) {
        this._headers[i][1] += ', ' + value;
        return;
      }
    }
    this._headers.push([name, value]);
  };

  XMLHttpRequest.prototype.send = function () {
    if (this._state !== OPENED || this._sent) throw new DOMException("The object's state must be OPENED.", 'InvalidStateError');
    var xhr = this;
    var generation = ++xhr._generation;
    var received = 0, total = -1;
    function current() {
      return xhr._generation === generation;
    }
    function fail(kind) {
      xhr._load = 0;
      if (xhr._timer) win.clearTimeout(xhr._timer);
      reset(xhr);
      xhr._error = true;
      xhr._state = DONE;
      xhr._sent = false;
      fireState(xhr);
      fire(xhr, kind, 0, -1);
      fire(xhr, 'loadend', 0, -1);
    }
    xhr._sent = true;
    fire(xhr, 'loadstart', 0, -1);
    if (!current()) return;
    var handlers = {
      response: function (status, statusText, headers, url, expected) {
        if (!current()) return;
        xhr._status = status;
        xhr._statusText = statusText;
        xhr._responseHeaders = headers;
        xhr._responseURL = url;
        total = expected;
        xhr._state = HEADERS_RECEIVED;
        fireState(xhr);
      },
      progress: function (loaded) {
        if (!current()) return;
        received = loaded;
        if (xhr._state === HEADERS_RECEIVED) {
          xhr._state = LOADING;
          fireState(xhr);
        }
        if (current()) fire(xhr, 'progress', received, total);
      },
      done: function (error, id) {
        if (!current()) return;
        if (error !== null) {
          fail('error');
          return;
        }
        var type = xhr._type;
        if (type === 'arraybuffer') {
          xhr._response = native.take(id, 'arraybuffer');
          received = xhr._response.byteLength;
        } else {
          xhr._text = native.take(id, 'text', xhr._charset);
          if (type === 'json') {
            try {
              xhr._response = JSON.parse(xhr._text);
            } catch (e) {
              xhr._response = null;
            }
          }
        }
        xhr._load = 0;
        if (xhr._timer) win.clearTimeout(xhr._timer);
        xhr._timer = 0;
        if (xhr._state === HEADERS_RECEIVED) {
          xhr._state = LOADING;
          fireState(xhr);
          if (!current()) return;
        }
        xhr._state = DONE;
        xhr._sent = false;
        fireState(xhr);
        if (!current()) return;
        fire(xhr, 'load', received, total);
        if (current()) fire(xhr, 'loadend', received, total);
      }
    };
    xhr._load = native.send(xhr._url, allowedHeaders(xhr._headers), handlers);
    if (xhr.timeout > 0) {
      xhr._timer = win.setTimeout(function () {
        if (!current()) return;
        stop(xhr);
        fail('timeout');
      }, xhr.timeout);
    }
  };

  XMLHttpRequest.prototype.abort = function () {
    var active = this._sent && (this._state === OPENED || this._state === HEADERS_RECEIVED || this._state === LOADING);
    stop(this);
    if (active) {
      reset(this);
      this._state = DONE;
      this._sent = false;
      fireState(this);
      fire(this, 'abort', 0, -1);
      fire(this, 'loadend', 0, -1);
    }
    if (this._state === DONE) {
      this._state = UNSENT;
      reset(this);
    }
  };

  XMLHttpRequest.prototype.getResponseHeader = function (name) {
    if (this._state < HEADERS_RECEIVED || this._error) return null;
    name = String(name).toLowerCase();
    var values = [];
    this._responseHeaders.forEach(function (h) {
      if (h[0] === name) values.push(h[1]);
    });
    return values.length ? values.join(', ') : null;
  };
  XMLHttpRequest.prototype.getAllResponseHeaders = function () {
    if (this._state < HEADERS_RECEIVED || this._error) return '';
    return this._responseHeaders.map(function (h) { return h[0] + ': ' + h[1] + '\r\n'; }).join('');
  };
  // Only the charset of the override matters here: it decides how responseText is decoded.
  XMLHttpRequest.prototype.overrideMimeType = function (mime) {
    if (this._state === LOADING || this._state === DONE) {
      throw new DOMException("The MIME type cannot be overridden if the object's state is LOADING or DONE.", 'InvalidStateError');
    }
    var charset = /;\s*charset=([^;]+)/i.exec(String(mime));
    this._charset = charset ? charset[1].replace(/["' ]/g, '') : null;
  };

  function readOnly(name, get) {
    Object.defineProperty(XMLHttpRequest.prototype, name, { get: get, configurable: true, enumerable: true });
  }
  readOnly('readyState', function () { return this._state; });
  readOnly('status', function () { return this._status; });
  readOnly('statusText', function () { return this._statusText; });
  readOnly('responseURL', function () { return this._responseURL; });
  readOnly('responseText', function () {
    if (this._type !== '' && this._type !== 'text') {
      throw new DOMException("The value is only accessible if the object's 'responseType' is '' or 'text' (was '" + this._type + "').", 'InvalidStateError');
    }
    return this._state === DONE ? this._text : '';
  });
  readOnly('response', function () {
    if (this._type === '' || this._type === 'text') return this._state === DONE ? this._text : '';
    return this._state === DONE ? this._response : null;
  });
  Object.defineProperty(XMLHttpRequest.prototype, 'responseType', {
    get: function () { return this._type; },
    set: function (value) {
      if (this._state === LOADING || this._state === DONE) {
        throw new DOMException("The response type cannot be set if the object's state is LOADING or DONE.", 'InvalidStateError');
      }
      value = String(value);
      if (RESPONSE_TYPES.indexOf(value) >= 0) this._type = value;
    },
    configurable: true,
    enumerable: true
  });

  // ---- fetch ----------------------------------------------------------------------------------

  function Headers(init) {
    hidden(this, '_list', []);
    if (!init) return;
    var self = this;
    if (init instanceof Headers) init.forEach(function (value, name) { self.append(name, value); });
    else if (Array.isArray(init)) init.forEach(function (pair) { self.append(pair[0], pair[1]); });
    else Object.keys(init).forEach(function (name) { self.append(name, init[name]); });
  }
  Headers.prototype.append = function (name, value) {
    name = String(name).toLowerCase();
    value = String(value);
    for (var i = 0; i < this._list.length; i++) {
      if (this._list[i][0] === name) {
        this._list[i][1] += ', ' + value;
        return;
      }
    }
    this._list.push([name, value]);
  };
  Headers.prototype.set = function (name, value) {
    this.delete(name);
    this.append(name, value);
  };
  Headers.prototype.delete = function (name) {
    name = String(name).toLowerCase();
    this._list = this._list.filter(function (h) { return h[0] !== name; });
  };
  Headers.prototype.get = function (name) {
    name = String(name).toLowerCase();
    for (var i = 0; i < this._list.length; i++) {
      if (this._list[i][0] === name) return this._list[i][1];
    }
    return null;
  };
  Headers.prototype.has = function (name) {
    return this.get(name) !== null;
  };
  Headers.prototype.forEach = function (callback, thisArg) {
    this._list.slice().forEach(function (h) { callback.call(thisArg, h[1], h[0], this); }, this);
  };
  Headers.prototype.entries = function () {
    return this._list.map(function (h) { return [h[0], h[1]]; })[Symbol.iterator]();
  };
  Headers.prototype.keys = function () {
    return this._list.map(function (h) { return h[0]; })[Symbol.iterator]();
  };
  Headers.prototype.values = function () {
    return this._list.map(function (h) { return h[1]; })[Symbol.iterator]();
  };
  Headers.prototype[Symbol.iterator] = Headers.prototype.entries;

  function Response(buffer, init) {
    init = init || {};
    hidden(this, '_buffer', buffer);
    hidden(this, '_charset', init.charset || null);
    this.status = init.status === undefined ? 200 : init.status;
    this.statusText = init.statusText || '';
    this.ok = this.status >= 200 && this.status < 300;
    this.headers = init.headers instanceof Headers ? init.headers : new Headers(init.headers);
    this.url = init.url || '';
    this.type = 'basic';
    this.redirected = false;
    this.bodyUsed = false;
  }
  function consume(response) {
    if (response.bodyUsed) return Promise.reject(new TypeError('Body has already been consumed.'));
    response.bodyUsed = true;
    return Promise.resolve(response._buffer);
  }
  Response.prototype.arrayBuffer = function () {
    return consume(this).then(function (buffer) { return buffer.slice(0); });
  };
  Response.prototype.text = function () {
    var charset = this._charset;
    return consume(this).then(function (buffer) { return native.decode(buffer, charset); });
  };
  Response.prototype.json = function () {
    return this.text().then(function (text) { return JSON.parse(text); });
  };
  Response.prototype.clone = function () {
    if (this.bodyUsed) throw new TypeError('Body has already been consumed.');
    var copy = new Response(this._buffer, { status: this.status, statusText: this.statusText, headers: new Headers(this.headers), url: this.url, charset: this._charset });
    return copy;
  };

  function fetch(input, init) {
    init = init || {};
    return new Promise(function (resolve, reject) {
      var target = input && typeof input === 'object' && 'url' in input ? input.url : input;
      var method = init.method !== undefined ? init.method : (input && typeof input === 'object' ? input.method : undefined);
      if (!isGet(method)) throw new TypeError('Only GET requests are supported.');
      var url = native.resolve(String(target));
      if (url === null || url === undefined) throw new TypeError("Failed to fetch: '" + target + "' is not a valid URL.");
      var headers = new Headers(init.headers);
      var meta = null;
      native.send(url, allowedHeaders(headers._list), {
        response: function (status, statusText, list, responseURL) {
          meta = { status: status, statusText: statusText, headers: new Headers(list), url: responseURL };
        },
        progress: function () {},
        done: function (error, id) {
          if (error !== null) {
            reject(new TypeError('Failed to fetch: ' + error));
            return;
          }
          meta = meta || { status: 200, statusText: 'OK', headers: new Headers(), url: url };
          var type = meta.headers.get('content-type') || '';
          var charset = /;\s*charset=([^;]+)/i.exec(type);
          meta.charset = charset ? charset[1].replace(/["' ]/g, '') : null;
          resolve(new Response(native.take(id, 'arraybuffer'), meta));
        }
      });
    });
  }

  win.ProgressEvent = ProgressEvent;
  win.XMLHttpRequestEventTarget = XMLHttpRequestEventTarget;
  win.XMLHttpRequest = XMLHttpRequest;
  win.Headers = Headers;
  win.Response = Response;
  win.fetch = fetch;
})
