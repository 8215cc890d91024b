// The status bar: over the page or above it, its style and colour, hidden or shown. Listens for
// its visibility (isVisible) and for taps ('statusTap' on window) once the page is ready.
harbor.define('harbor-plugin-statusbar.statusbar', function (require, exports, module) {
  var exec = require('harbor/exec');

  function call(action, args) { exec(null, null, 'StatusBar', action, args || []); }

  exports.isVisible = true;
  exports.overlaysWebView = function (overlay) { call('overlaysWebView', [!!overlay]); };
  exports.styleDefault = function () { call('styleDefault'); };
  exports.styleLightContent = function () { call('styleLightContent'); };
  exports.styleBlackTranslucent = function () { call('styleBlackTranslucent'); };
  exports.styleBlackOpaque = function () { call('styleBlackOpaque'); };
  exports.backgroundColorByName = function (name) { call('backgroundColorByName', [name]); };
  exports.backgroundColorByHexString = function (hex) { call('backgroundColorByHexString', [hex]); };
  exports.hide = function () { call('hide'); };
  exports.show = function () { call('show'); };

  // Events from the bar: a boolean (visible or not) or {type: 'tap'}.
  exports.ready = function () {
    exec(function (event) {
      if (event && event.type === 'tap') {
        var tap = document.createEvent('Event');
        tap.initEvent('statusTap', true, true);
        window.dispatchEvent(tap);
      } else {
        exports.isVisible = !!event;
      }
    }, null, 'StatusBar', '_ready', []);
  };
});
