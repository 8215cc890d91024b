// navigator.notification: native alert, confirm and prompt dialogs, and a beep. Dialog callbacks
// get the 1-based index of the pressed button; prompt's gets {buttonIndex, input1}.
harbor.define('harbor-plugin-dialogs.notification', function (require, exports, module) {
  var exec = require('harbor/exec');
  var cut = require('harbor/text').cut;

  // Texts go cut, as the container would show them; other values as they are.
  function text(value) {
    return typeof value === 'string' ? cut(value) : value;
  }

  function labels(given, fallback) {
    if (typeof given === 'string') return cut(given).split(',');
    return Array.isArray(given) && given.length ? given.map(text) : fallback;
  }

  var notification = {
    alert: function (message, done, title, buttonName) {
      exec(done, null, 'Notification', 'alert', [cut(message), text(title || 'Alert'), text(buttonName || 'OK')]);
    },
    confirm: function (message, done, title, buttonLabels) {
      exec(done, null, 'Notification', 'confirm',
           [cut(message), text(title || 'Confirm'), labels(buttonLabels, ['OK', 'Cancel'])]);
    },
    prompt: function (message, done, title, buttonLabels, defaultText) {
      exec(done, null, 'Notification', 'prompt',
           [cut(message), text(title || 'Prompt'), labels(buttonLabels, ['OK', 'Cancel']),
            defaultText === undefined ? '' : cut(defaultText)]);
    },
    beep: function (count) {
      exec(null, null, 'Notification', 'beep', [count || 1]);
    }
  };

  navigator.notification = notification;
  module.exports = notification;
});
