// Local notifications: schedule, update, cancel and clear them, ask which exist, and hear what
// happens to them. The container calls harbor.plugins.notification.local.core.fireEvent for
// every event, holding them until this module has told it the page is ready.
harbor.define('harbor-plugin-local-notification.local-notification', function (require, exports, module) {
  var exec = require('harbor/exec');
  var listeners = {};

  function list(value) {
    return Array.isArray(value) ? value : [value];
  }

  // A copy with a Date for "at" turned into seconds since 1970; everything else goes as given.
  function options(notification) {
    var copy = {};
    Object.keys(notification || {}).forEach(function (key) { copy[key] = notification[key]; });
    if (copy.at instanceof Date) copy.at = Math.round(copy.at.getTime() / 1000);
    return copy;
  }

  // Every call answers its callback once. Should the native side fail to answer (a result it
  // could not send, say), the failure is logged and the callback hears no result, as for an id
  // that names nothing, rather than nothing at all.
  function call(action, args, callback, scope) {
    var answer = typeof callback === 'function' ? function (result) { callback.call(scope || null, result); } : null;
    var failure = function (message) {
      console.error('LocalNotification.' + action + ' failed: ' + message);
      if (answer) answer(undefined);
    };
    exec(answer, failure, 'LocalNotification', action, args);
  }

  exports.schedule = function (notifications, callback, scope) {
    call('schedule', list(notifications).map(options), callback, scope);
  };
  exports.update = function (notifications, callback, scope) {
    call('update', list(notifications).map(options), callback, scope);
  };
  ['cancel', 'clear'].forEach(function (action) {
    exports[action] = function (ids, callback, scope) { call(action, list(ids), callback, scope); };
  });
  ['cancelAll', 'clearAll', 'hasPermission', 'registerPermission',
   'getAllIds', 'getScheduledIds', 'getTriggeredIds'].forEach(function (action) {
    exports[action] = function (callback, scope) { call(action, [], callback, scope); };
  });
  ['isPresent', 'isScheduled', 'isTriggered'].forEach(function (action) {
    exports[action] = function (id, callback, scope) { call(action, [id], callback, scope); };
  });
  // getAll(callback) for every notification, getAll(ids, callback) for some; the same for
  // getScheduled and getTriggered. get(id, callback) and getSingle... answer one notification's
  // options, or nothing.
  ['getAll', 'getScheduled', 'getTriggered'].forEach(function (action) {
    exports[action] = function (ids, callback, scope) {
      if (typeof ids === 'function') {
        scope = callback;
        callback = ids;
        ids = [];
      }
      call(action, ids === undefined || ids === null ? [] : list(ids), callback, scope);
    };
  });
  ['getSingle', 'getSingleScheduled', 'getSingleTriggered'].forEach(function (action) {
    exports[action] = function (id, callback, scope) { call(action, [id], callback, scope); };
  });
  exports.get = exports.getSingle;

  // Listeners: callback(notification, state) for schedule, update, cancel, clear, trigger and
  // click; callback(state) for cancelall and clearall. The state is "foreground" or "background".
  exports.on = function (event, callback, scope) {
    (listeners[event] = listeners[event] || []).push({ callback: callback, scope: scope || null });
  };
  exports.un = function (event, callback) {
    listeners[event] = (listeners[event] || []).filter(function (l) { return l.callback !== callback; });
  };

  exports.core = {
    fireEvent: function (event) {
      var args = Array.prototype.slice.call(arguments, 1);
      (listeners[event] || []).slice().forEach(function (l) { l.callback.apply(l.scope, args); });
    }
  };

  harbor.plugins = harbor.plugins || {};
  harbor.plugins.notification = harbor.plugins.notification || {};
  harbor.plugins.notification.local = exports;

  // The container holds the events until the page can hear them.
  if (typeof document !== 'undefined' && document.addEventListener) {
    document.addEventListener('deviceready', function () {
      exec(null, null, 'LocalNotification', 'deviceready', []);
    }, false);
  }
});
