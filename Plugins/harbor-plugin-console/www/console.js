// Sends the page's console lines to the system log as well, each with its level.
harbor.define('harbor-plugin-console.console', function (require, exports, module) {
  var exec = require('harbor/exec');
  var cut = require('harbor/text').cut;
  var levels = { log: 'LOG', info: 'INFO', warn: 'WARN', error: 'ERROR', debug: 'DEBUG' };

  function text(value) {
    if (typeof value === 'string') return value;
    try {
      var json = JSON.stringify(value);
      return json === undefined ? String(value) : json;
    } catch (e) {
      return String(value);
    }
  }

  var page = window.console || {};
  var native = {};
  Object.keys(levels).forEach(function (name) {
    var original = page[name];
    native[name] = function () {
      var parts = Array.prototype.map.call(arguments, text);
      exec(null, null, 'Console', 'logLevel', [levels[name], cut(parts.join(' '))]);
      if (typeof original === 'function') original.apply(page, arguments);
    };
    page[name] = native[name];
  });
  window.console = page;
  module.exports = native;
});
