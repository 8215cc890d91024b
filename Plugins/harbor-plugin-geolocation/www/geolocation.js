// The device's position: once, or with every move. Positions reach the page in the web's shape,
// {coords: {latitude, longitude, altitude, accuracy, altitudeAccuracy, heading, speed},
// timestamp}, with null for what the device does not know; errors as {code, message}, code 1
// when permission is refused or location services are off, 2 when no position can be had, 3
// when the options' timeout (milliseconds) passed first.
harbor.define('harbor-plugin-geolocation.geolocation', function (require, exports, module) {
  var exec = require('harbor/exec');
  var watches = {};
  var nextId = 1;

  // The device says "unknown" with a negative number.
  function known(value) { return typeof value === 'number' && value >= 0 ? value : null; }

  function position(p) {
    var altitudeKnown = known(p.altitudeAccuracy) !== null;
    return {
      coords: {
        latitude: p.latitude,
        longitude: p.longitude,
        altitude: altitudeKnown ? p.altitude : null,
        accuracy: p.accuracy,
        altitudeAccuracy: altitudeKnown ? p.altitudeAccuracy : null,
        heading: known(p.heading),
        speed: known(p.velocity)
      },
      timestamp: p.timestamp
    };
  }

  function error(fail) {
    return function (e) {
      if (!fail) return;
      fail({code: e && typeof e.code === 'number' ? e.code : exports.POSITION_UNAVAILABLE,
            message: e && typeof e.message === 'string' ? e.message : ''});
    };
  }

  function highAccuracy(options) { return !!(options && options.enableHighAccuracy); }

  // The timeout as the web reads it, a whole number of milliseconds from 0 to 2^32 - 1; none when
  // not given, and the request then waits as long as it takes. The native side runs the clock,
  // since only it knows when the user is looking at the permission prompt, which does not count.
  function timeout(options) {
    if (!options || options.timeout === undefined) return [];
    var t = Number(options.timeout);
    if (isNaN(t) || t < 0) t = 0;
    return [Math.min(Math.round(t), 4294967295)];
  }

  // success(position) once; options.enableHighAccuracy asks for the best fix the device has.
  exports.getCurrentPosition = function (success, fail, options) {
    exec(function (p) { success(position(p)); }, error(fail), 'Geolocation', 'getLocation',
         [highAccuracy(options)].concat(timeout(options)));
  };

  // success(position) with every move; returns the id for clearWatch.
  exports.watchPosition = function (success, fail, options) {
    var id = String(nextId++);
    watches[id] = true;
    exec(function (p) {
      if (watches[id]) success(position(p));
    }, function (e) {
      if (watches[id]) error(fail)(e);
    }, 'Geolocation', 'addWatch', [id, highAccuracy(options)].concat(timeout(options)));
    return id;
  };

  exports.clearWatch = function (id) {
    if (!watches[id]) return;
    delete watches[id];
    exec(null, null, 'Geolocation', 'clearWatch', [id]);
  };

  exports.PERMISSION_DENIED = 1;
  exports.POSITION_UNAVAILABLE = 2;
  exports.TIMEOUT = 3;
});
