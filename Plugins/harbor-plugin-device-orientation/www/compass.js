// The compass heading: single readings and watches. The native side keeps one watch at a time,
// so this module keeps at most one native watch, at the finest filter any page watch asked for.
harbor.define('harbor-plugin-device-orientation.compass', function (require, exports, module) {
  var exec = require('harbor/exec');
  var NOT_SUPPORTED = 20;
  var watches = {};
  var nextId = 1;

  // The native error is a bare code; pages get {code}.
  function error(fail) {
    return function (code) { if (fail) fail({code: typeof code === 'number' ? code : 0}); };
  }

  function finest() {
    var filter = null;
    Object.keys(watches).forEach(function (id) {
      var f = watches[id].filter;
      if (filter === null || f < filter) filter = f;
    });
    return filter;
  }

  function restartWatch() {
    var filter = finest();
    if (filter === null) {
      exec(null, null, 'Compass', 'stopHeading', []);
      return;
    }
    exec(function (heading) {
      Object.keys(watches).forEach(function (id) { watches[id].success(heading); });
    }, function (code) {
      var all = watches;
      watches = {};
      Object.keys(all).forEach(function (id) { error(all[id].fail)(code); });
    }, 'Compass', 'watchHeadingFilter', [{filter: filter}]);
  }

  // success({magneticHeading, trueHeading, headingAccuracy, timestamp}) once.
  exports.getCurrentHeading = function (success, fail) {
    exec(success, error(fail), 'Compass', 'getHeading', []);
  };

  // success(heading) whenever the heading moves by options.filter degrees (default 1); returns
  // the id for clearWatch.
  exports.watchHeading = function (success, fail, options) {
    var filter = options && typeof options.filter === 'number' && options.filter >= 0 ? options.filter : 1;
    var id = String(nextId++);
    var before = finest();
    watches[id] = {success: success, fail: fail, filter: filter};
    if (before === null || filter < before) restartWatch();
    return id;
  };

  exports.clearWatch = function (id) {
    if (!watches[id]) return;
    var before = finest();
    delete watches[id];
    var after = finest();
    if (after === null || after !== before) restartWatch();
  };

  exports.NOT_SUPPORTED = NOT_SUPPORTED;
});
