// navigator.connection: the connection type, kept current by the native side, with "online" and
// "offline" document events when the device gains or loses its connection.
harbor.define('harbor-plugin-network-information.network', function (require, exports, module) {
  var exec = require('harbor/exec');

  var Connection = {
    UNKNOWN: 'unknown',
    ETHERNET: 'ethernet',
    WIFI: 'wifi',
    CELL_2G: '2g',
    CELL_3G: '3g',
    CELL_4G: '4g',
    CELL: 'cellular',
    NONE: 'none'
  };

  var connection = { type: Connection.UNKNOWN };
  var known = false;

  function onType(type) {
    var wasOnline = known && connection.type !== Connection.NONE;
    connection.type = type;
    var isOnline = type !== Connection.NONE;
    if (!known || wasOnline !== isOnline) {
      harbor.fireDocumentEvent(isOnline ? 'online' : 'offline');
    }
    known = true;
  }

  // Asks once more; the answer also updates connection.type.
  connection.getInfo = function (success, fail) {
    exec(function (type) {
      onType(type);
      if (success) success(type);
    }, fail, 'NetworkStatus', 'getConnectionInfo', []);
  };

  // The first answer and every later change arrive on this callback.
  exec(onType, function () { connection.type = Connection.UNKNOWN; }, 'NetworkStatus', 'getConnectionInfo', []);

  window.Connection = Connection;
  navigator.connection = connection;
  module.exports = connection;
});
