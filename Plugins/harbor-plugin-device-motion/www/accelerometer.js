// The device's acceleration: one native stream shared by every watch of the page.
harbor.define('harbor-plugin-device-motion.accelerometer', function (require, exports, module) {
  var exec = require('harbor/exec');
  var watches = {};
  var count = 0;
  var nextId = 1;
  var running = false;
  var last = null;

  function start() {
    running = true;
    exec(function (a) {
      last = a;
      Object.keys(watches).forEach(function (id) { watches[id].success(a); });
    }, function (message) {
      running = false;
      Object.keys(watches).forEach(function (id) { if (watches[id].fail) watches[id].fail(message); });
    }, 'Accelerometer', 'start', []);
  }

  function stop() {
    running = false;
    exec(null, null, 'Accelerometer', 'stop', []);
  }

  // success({x, y, z, timestamp}) once, with the next reading.
  exports.getCurrentAcceleration = function (success, fail) {
    var id = exports.watchAcceleration(function (a) {
      exports.clearWatch(id);
      success(a);
    }, function (message) {
      exports.clearWatch(id);
      if (fail) fail(message);
    });
  };

  // success({x, y, z, timestamp}) with every reading; returns the id for clearWatch.
  exports.watchAcceleration = function (success, fail) {
    var id = String(nextId++);
    watches[id] = {success: success, fail: fail};
    count++;
    if (!running) start();
    return id;
  };

  exports.clearWatch = function (id) {
    if (!watches[id]) return;
    delete watches[id];
    count--;
    if (count === 0 && running) stop();
  };

  exports.lastReading = function () { return last; };
});
