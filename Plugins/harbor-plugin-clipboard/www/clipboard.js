// Copy and paste of text: require('harbor-plugin-clipboard.clipboard').copy(text, done, fail).
harbor.define('harbor-plugin-clipboard.clipboard', function (require, exports, module) {
  var exec = require('harbor/exec');

  // done(text) once the text is on the clipboard.
  exports.copy = function (text, done, fail) {
    exec(done, fail, 'Clipboard', 'copy', [text]);
  };

  // done(text), or done(null) when the clipboard holds no text.
  exports.paste = function (done, fail) {
    exec(done, fail, 'Clipboard', 'paste', []);
  };
});
