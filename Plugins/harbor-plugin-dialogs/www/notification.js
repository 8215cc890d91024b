// navigator.notification: native alert, confirm and prompt dialogs, and a beep. Dialog callbacks
// get the 1-based index of the pressed button; prompt's gets {buttonIndex, input1}.
harbor.define('harbor-plugin-dialogs.notification', function (require, exports, module) {
  var exec = require('harbor/exec');

  function labels(given, fallback) {
    if (typeof given === 'string') return given.split(',');
    return Array.isArray(given) && given.length ? given : fallback;
  }

  var notification = {
    alert: function (message, done, title, buttonName) {
      exec(done, null, 'Notification', 'alert', [String(message), title || 'Alert', buttonName || 'OK']);
    },
    confirm: function (message, done, title, buttonLabels) {
      exec(done, null, 'Notification', 'confirm',
           [String(message), title || 'Confirm', labels(buttonLabels, ['OK', 'Cancel'])]);
    },
    prompt: function (message, done, title, buttonLabels, defaultText) {
      exec(done, null, 'Notification', 'prompt',
           [String(message), title || 'Prompt', labels(buttonLabels, ['OK', 'Cancel']),
            defaultText === undefined ? '' : String(defaultText)]);
    },
    beep: function (count) {
      exec(null, null, 'Notification', 'beep', [count || 1]);
    }
  };

  navigator.notification = notification;
  module.exports = notification;
});
