// The device's position: once, or with every move. Positions reach the page in the web's shape,
// {coords: {latitude, longitude, altitude, accuracy, altitudeAccuracy, heading, speed},
// timestamp}, with null for what the device does not know; errors as {code, message}, code 1
// when permission is refused or location services are off, 2 when no position can be had.
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

  // success(position) once; options.enableHighAccuracy asks for the best fix the device has.
  exports.getCurrentPosition = function (success, fail, options) {
    exec(function (p) { success(position(p)); }, error(fail), 'Geolocation', 'getLocation', [highAccuracy(options)]);
  };

  // success(position) with every move; returns the id for clearWatch.
  exports.watchPosition = function (success, fail, options) {
    var id = String(nextId++);
    watches[id] = true;
    exec(function (p) {
      if (watches[id]) success(position(p));
    }, function (e) {
      if (watches[id]) error(fail)(e);
    }, 'Geolocation', 'addWatch', [id, highAccuracy(options)]);
    return id;
  };

  exports.clearWatch = function (id) {
    if (!watches[id]) return;
    delete watches[id];
    exec(null, null, 'Geolocation', 'clearWatch', [id]);
  };

  exports.PERMISSION_DENIED = 1;
  exports.POSITION_UNAVAILABLE = 2;
});
