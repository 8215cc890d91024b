// window.device: facts about the device, filled in by the native side shortly after load.
harbor.define('harbor-plugin-device.device', function (require, exports, module) {
  var exec = require('harbor/exec');
  var device = {
    available: false,
    platform: null,
    version: null,
    uuid: null,
    harbor: null,
    model: null,
    manufacturer: null,
    isVirtual: null
  };

  // done(device) with fresh facts.
  device.getInfo = function (done, fail) {
    exec(function (info) {
      ['platform', 'version', 'uuid', 'harbor', 'model', 'manufacturer', 'isVirtual'].forEach(function (key) {
        device[key] = info[key];
      });
      device.available = true;
      if (done) done(device);
    }, fail, 'Device', 'getDeviceInfo', []);
  };

  device.getInfo();
  window.device = device;
  module.exports = device;
});
