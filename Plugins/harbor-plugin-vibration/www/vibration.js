// navigator.vibrate(): one short vibration. Durations and patterns are accepted and ignored; the
// device has one vibration only.
harbor.define('harbor-plugin-vibration.vibration', function (require, exports, module) {
  var exec = require('harbor/exec');

  function vibrate() {
    exec(null, null, 'Vibration', 'vibrate', []);
    return true;
  }

  navigator.vibrate = vibrate;
  module.exports = vibrate;
});
