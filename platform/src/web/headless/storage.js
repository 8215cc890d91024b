// window.localStorage and window.sessionStorage for a document of the headless page engine.
// Called once per document, after the DOM stand-in, with the native hooks (out of the page's
// reach in this closure), the global object and the DOMException class of the document.
// Values live on the native side, so every document of an origin sees the same area.
(function (native, win, DOMException) {
  'use strict';

  var LEGACY_CODES = { QuotaExceededError: 22, SecurityError: 18 };

  function domError(message, name) {
    var error = new DOMException(message, name);
    if (LEGACY_CODES[name]) error.code = LEGACY_CODES[name];
    return error;
  }
  function check(refusal) {
    if (refusal) throw domError(refusal.message, refusal.name);
  }
  function need(count, args, name) {
    if (args.length < count) {
      throw new TypeError("Failed to execute '" + name + "' on 'Storage': " + count + ' argument' +
                          (count > 1 ? 's' : '') + ' required, but only ' + args.length + ' present.');
    }
  }

  var kinds = new WeakMap();
  function kindOf(storage) {
    var kind = kinds.get(storage);
    if (!kind) throw new TypeError('Illegal invocation');
    return kind;
  }

  function Storage() {
    throw new TypeError('Illegal constructor');
  }
  function method(name, f) {
    Object.defineProperty(Storage.prototype, name, { value: f, writable: true, configurable: true, enumerable: true });
  }
  method('getItem', function getItem(key) {
    need(1, arguments, 'getItem');
    return native.getItem(kindOf(this), String(key));
  });
  method('setItem', function setItem(key, value) {
    need(2, arguments, 'setItem');
    check(native.setItem(kindOf(this), String(key), String(value)));
  });
  method('removeItem', function removeItem(key) {
    need(1, arguments, 'removeItem');
    check(native.removeItem(kindOf(this), String(key)));
  });
  method('clear', function clear() {
    check(native.clear(kindOf(this)));
  });
  method('key', function key(index) {
    need(1, arguments, 'key');
    // An unsigned long, as the page's number is taken by a browser.
    return native.key(kindOf(this), Number(index) >>> 0);
  });
  Object.defineProperty(Storage.prototype, 'length', {
    get: function () { return native.length(kindOf(this)); },
    configurable: true,
    enumerable: true
  });
  Object.defineProperty(Storage.prototype, Symbol.toStringTag, { value: 'Storage', configurable: true });

  // Stored keys read and write as properties (localStorage.n = 1), except that names the
  // prototype has (getItem, length) still read as the prototype's; assignment always stores.
  function handler(kind) {
    return {
      get: function (target, name, receiver) {
        if (typeof name === 'symbol' || name in target) return Reflect.get(target, name, receiver);
        var value = native.getItem(kind, name);
        return value === null ? undefined : value;
      },
      set: function (target, name, value, receiver) {
        if (typeof name === 'symbol') return Reflect.set(target, name, value, receiver);
        check(native.setItem(kind, name, String(value)));
        return true;
      },
      has: function (target, name) {
        if (typeof name === 'symbol' || name in target) return name in target;
        return native.getItem(kind, name) !== null;
      },
      deleteProperty: function (target, name) {
        if (typeof name === 'symbol') return Reflect.deleteProperty(target, name);
        check(native.removeItem(kind, name));
        return true;
      },
      ownKeys: function (target) {
        return native.keys(kind).concat(Reflect.ownKeys(target));
      },
      getOwnPropertyDescriptor: function (target, name) {
        if (typeof name !== 'symbol') {
          var value = native.getItem(kind, name);
          if (value !== null) return { value: value, writable: true, enumerable: true, configurable: true };
        }
        return Reflect.getOwnPropertyDescriptor(target, name);
      },
      defineProperty: function (target, name, descriptor) {
        if (typeof name === 'symbol') return Reflect.defineProperty(target, name, descriptor);
        if ('get' in descriptor || 'set' in descriptor) return false;
        check(native.setItem(kind, name, String(descriptor.value)));
        return true;
      }
    };
  }

  var made = {};
  function storage(kind) {
    if (!native.available()) throw domError('The operation is insecure.', 'SecurityError');
    if (!made[kind]) {
      var proxy = new Proxy(Object.create(Storage.prototype), handler(kind));
      kinds.set(proxy, kind);
      made[kind] = proxy;
    }
    return made[kind];
  }

  win.Storage = Storage;
  Object.defineProperty(win, 'localStorage', {
    get: function () { return storage('local'); },
    configurable: true,
    enumerable: true
  });
  Object.defineProperty(win, 'sessionStorage', {
    get: function () { return storage('session'); },
    configurable: true,
    enumerable: true
  });
})
