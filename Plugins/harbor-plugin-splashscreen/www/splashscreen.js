// The launch image over the page: shown until the first page has loaded, then faded out.
harbor.define('harbor-plugin-splashscreen.splashscreen', function (require, exports, module) {
  var exec = require('harbor/exec');

  exports.show = function () { exec(null, null, 'SplashScreen', 'show', []); };
  exports.hide = function () { exec(null, null, 'SplashScreen', 'hide', []); };
});
