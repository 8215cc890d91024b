// FileTransfer: upload(filePath, server, success, fail, options, trustAllHosts) and
// download(source, target, success, fail, trustAllHosts, options), each reporting progress to
// the object's onprogress as {lengthComputable, loaded, total}; abort() ends the running one,
// whose fail callback then gets a FileTransferError with code ABORT_ERR.
harbor.define('harbor-plugin-file-transfer.FileTransfer', function (require, exports, module) {
  var exec = require('harbor/exec');
  var nextId = 0;

  function FileTransferError(code, source, target, status, body) {
    this.code = code || null;
    this.source = source || null;
    this.target = target || null;
    this.http_status = status || null;
    this.body = body || null;
  }
  FileTransferError.FILE_NOT_FOUND_ERR = 1;
  FileTransferError.INVALID_URL_ERR = 2;
  FileTransferError.CONNECTION_ERR = 3;
  FileTransferError.ABORT_ERR = 4;
  FileTransferError.NOT_MODIFIED_ERR = 5;

  function FileTransfer() {
    this._id = String(++nextId);
    this.onprogress = null;
  }

  // Progress results carry lengthComputable; everything else is the final answer.
  function answer(transfer, success) {
    return function (result) {
      if (result && typeof result.lengthComputable !== 'undefined') {
        if (typeof transfer.onprogress === 'function') {
          transfer.onprogress({ type: 'progress', lengthComputable: result.lengthComputable,
                                loaded: result.loaded, total: result.total });
        }
      } else if (success) {
        success(result);
      }
    };
  }

  function failure(fail) {
    return function (e) {
      if (fail) fail(new FileTransferError(e && e.code, e && e.source, e && e.target, e && e.http_status, e && e.body));
    };
  }

  FileTransfer.prototype.upload = function (filePath, server, success, fail, options, trustAllHosts) {
    options = options || {};
    exec(answer(this, success), failure(fail), 'FileTransfer', 'upload',
         [filePath, server, options.fileKey || null, options.fileName || null, options.mimeType || null,
          options.params || null, !!trustAllHosts, options.chunkedMode !== false, options.headers || null,
          this._id, options.httpMethod || null]);
  };

  FileTransfer.prototype.download = function (source, target, success, fail, trustAllHosts, options) {
    options = options || {};
    exec(answer(this, success), failure(fail), 'FileTransfer', 'download',
         [source, target, !!trustAllHosts, this._id, options.headers || null]);
  };

  FileTransfer.prototype.abort = function () {
    exec(null, null, 'FileTransfer', 'abort', [this._id]);
  };

  window.FileTransfer = FileTransfer;
  window.FileTransferError = FileTransferError;
  module.exports = FileTransfer;
});
