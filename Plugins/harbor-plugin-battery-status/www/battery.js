// Battery status as window events: "batterystatus" on every change, "batterylow" and
// "batterycritical" when the level falls to 20 or 5 while unplugged. The native side watches only
// while someone listens through this module.
harbor.define('harbor-plugin-battery-status.battery', function (require, exports, module) {
  var exec = require('harbor/exec');
  var LOW = 20;
  var CRITICAL = 5;
  var listeners = [];
  var last = null;

  function fire(name, status) {
    var event = document.createEvent('Events');
    event.initEvent(name, false, false);
    event.level = status.level;
    event.isPlugged = status.isPlugged;
    window.dispatchEvent(event);
  }

  function onStatus(status) {
    if (!status) return;
    var crossed = function (limit) {
      return !status.isPlugged && status.level !== null && status.level <= limit &&
             (last === null || last.level === null || last.level > limit);
    };
    if (last === null || status.level !== last.level || status.isPlugged !== last.isPlugged) {
      fire('batterystatus', status);
      if (crossed(CRITICAL)) fire('batterycritical', status);
      else if (crossed(LOW)) fire('batterylow', status);
    }
    last = status;
    listeners.forEach(function (listener) { listener(status); });
  }

  // listener({level: 0-100 or null, isPlugged}) on every change; the first one starts watching.
  exports.watch = function (listener) {
    listeners.push(listener);
    if (listeners.length === 1) exec(onStatus, null, 'Battery', 'start', []);
  };

  // The last one removed stops watching.
  exports.clearWatch = function (listener) {
    listeners = listeners.filter(function (l) { return l !== listener; });
    if (listeners.length === 0) {
      exec(null, null, 'Battery', 'stop', []);
      last = null;
    }
  };
});
