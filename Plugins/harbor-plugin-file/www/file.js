// Files for the page: file systems, entries, readers and writers over the File service.
//   var file = require('harbor-plugin-file.file');
//   file.requestFileSystem(file.LocalFileSystem.PERSISTENT, 0, function (fs) {
//     fs.root.getFile('notes.txt', { create: true }, function (entry) {
//       entry.createWriter(function (writer) { writer.write('hello'); });
//     });
//   });
// Failures reach the page as a FileError ({ code }); window.requestFileSystem,
// window.resolveLocalFileSystemURL, window.LocalFileSystem and window.FileError are the same.
harbor.define('harbor-plugin-file.file', function (require, exports, module) {
  var exec = require('harbor/exec');

  function FileError(code, message) {
    this.code = code;
    if (message !== undefined) this.message = message;
  }
  var codes = ['NOT_FOUND_ERR', 'SECURITY_ERR', 'ABORT_ERR', 'NOT_READABLE_ERR', 'ENCODING_ERR',
    'NO_MODIFICATION_ALLOWED_ERR', 'INVALID_STATE_ERR', 'SYNTAX_ERR', 'INVALID_MODIFICATION_ERR',
    'QUOTA_EXCEEDED_ERR', 'TYPE_MISMATCH_ERR', 'PATH_EXISTS_ERR'];
  codes.forEach(function (name, i) { FileError[name] = i + 1; });

  var LocalFileSystem = { TEMPORARY: 0, PERSISTENT: 1 };

  // The service answers a failure with a bare code, or a text for what the photo library
  // cannot do; either becomes a FileError.
  function failWith(fail) {
    return function (answer) {
      if (!fail) return;
      fail(typeof answer === 'number' ? new FileError(answer) : new FileError(FileError.ENCODING_ERR, answer));
    };
  }
  function call(action, args, success, fail) {
    exec(success, failWith(fail), 'File', action, args);
  }

  // ---- Entries ----

  var fileSystems = {};
  function fileSystemNamed(name) {
    if (!fileSystems[name]) fileSystems[name] = new FileSystem(name, null);
    return fileSystems[name];
  }

  function FileSystem(name, root) {
    this.name = name;
    this.root = root;
  }

  // The URL the service reads: each name of a local path escaped on its own, so that "#", "?"
  // and "%" stay part of the name; the photo library's full path carries its query as it is.
  function urlOf(fileSystemName, fullPath) {
    var path = fileSystemName === 'assets-library' ? fullPath :
      fullPath.split('/').map(encodeURIComponent).join('/');
    return 'hbrfile://localhost/' + fileSystemName + path;
  }

  function Entry(isFile, isDirectory, name, fullPath, fileSystem, nativeURL) {
    this.isFile = isFile;
    this.isDirectory = isDirectory;
    this.name = name;
    this.fullPath = fullPath;
    this.filesystem = fileSystem;
    this.nativeURL = nativeURL;
  }
  Entry.prototype.toURL = function () {
    return urlOf(this.filesystem.name, this.fullPath);
  };
  Entry.prototype.toInternalURL = Entry.prototype.toURL;
  Entry.prototype.getMetadata = function (success, fail) {
    call('getFileMetadata', [this.toURL()], function (m) {
      if (success) success({ modificationTime: new Date(m.lastModifiedDate), size: m.size });
    }, fail);
  };
  Entry.prototype.setMetadata = function (success, fail, metadata) {
    call('setMetadata', [this.toURL(), metadata || {}], success, fail);
  };
  function copyOrMove(action) {
    return function (parent, newName, success, fail) {
      var args = [this.toURL(), parent && parent.toURL ? parent.toURL() : null];
      if (newName !== undefined && newName !== null) args.push(newName);
      call(action, args, function (e) { if (success) success(entryOf(e)); }, fail);
    };
  }
  Entry.prototype.copyTo = copyOrMove('copyTo');
  Entry.prototype.moveTo = copyOrMove('moveTo');
  Entry.prototype.remove = function (success, fail) {
    call('remove', [this.toURL()], success, fail);
  };
  Entry.prototype.getParent = function (success, fail) {
    call('getParent', [this.toURL()], function (e) { if (success) success(entryOf(e)); }, fail);
  };

  function DirectoryEntry(name, fullPath, fileSystem, nativeURL) {
    Entry.call(this, false, true, name, fullPath, fileSystem, nativeURL);
  }
  DirectoryEntry.prototype = Object.create(Entry.prototype);
  DirectoryEntry.prototype.constructor = DirectoryEntry;
  DirectoryEntry.prototype.createReader = function () {
    return new DirectoryReader(this.toURL());
  };
  DirectoryEntry.prototype.getFile = function (path, options, success, fail) {
    call('getFile', [this.toURL(), path, options || {}], function (e) { if (success) success(entryOf(e)); }, fail);
  };
  DirectoryEntry.prototype.getDirectory = function (path, options, success, fail) {
    call('getDirectory', [this.toURL(), path, options || {}], function (e) { if (success) success(entryOf(e)); }, fail);
  };
  DirectoryEntry.prototype.removeRecursively = function (success, fail) {
    call('removeRecursively', [this.toURL()], success, fail);
  };

  function DirectoryReader(url) {
    this.url = url;
  }
  DirectoryReader.prototype.readEntries = function (success, fail) {
    call('readEntries', [this.url], function (list) { if (success) success(list.map(entryOf)); }, fail);
  };

  function FileEntry(name, fullPath, fileSystem, nativeURL) {
    Entry.call(this, true, false, name, fullPath, fileSystem, nativeURL);
  }
  FileEntry.prototype = Object.create(Entry.prototype);
  FileEntry.prototype.constructor = FileEntry;
  // The file's description as it is now: name, type, size and date.
  FileEntry.prototype.file = function (success, fail) {
    var url = this.toURL();
    call('getFileMetadata', [url], function (m) {
      if (success) success(new File(m.name, url, m.type, m.lastModifiedDate, m.size));
    }, fail);
  };
  FileEntry.prototype.createWriter = function (success, fail) {
    this.file(function (f) { if (success) success(new FileWriter(f)); }, fail);
  };

  function entryOf(e) {
    var fileSystem = fileSystemNamed(e.filesystemName);
    return e.isDirectory ? new DirectoryEntry(e.name, e.fullPath, fileSystem, e.nativeURL) :
      new FileEntry(e.name, e.fullPath, fileSystem, e.nativeURL);
  }

  // ---- Files and reading ----

  function File(name, localURL, type, lastModifiedDate, size) {
    this.name = name;
    this.localURL = localURL;
    this.type = type;
    this.lastModifiedDate = lastModifiedDate;
    this.size = size;
    this.start = 0;
    this.end = size;
  }
  // A part of the file; negative positions count from its end.
  File.prototype.slice = function (start, end) {
    var size = this.end - this.start;
    function at(p, fallback) {
      if (p === undefined) return fallback;
      return p < 0 ? Math.max(size + p, 0) : Math.min(p, size);
    }
    var from = at(start, 0);
    var to = Math.max(at(end, size), from);
    var part = new File(this.name, this.localURL, this.type, this.lastModifiedDate, this.size);
    part.start = this.start + from;
    part.end = this.start + to;
    return part;
  };

  function fire(target, name, extra) {
    var handler = target['on' + name];
    if (typeof handler === 'function') {
      var event = { type: name, target: target };
      for (var k in extra || {}) event[k] = extra[k];
      handler.call(target, event);
    }
  }

  function FileReader() {
    this.readyState = FileReader.EMPTY;
    this.result = null;
    this.error = null;
  }
  FileReader.EMPTY = 0;
  FileReader.LOADING = 1;
  FileReader.DONE = 2;
  FileReader.prototype.abort = function () {
    this.aborted = true;
  };
  function read(action, withEncoding) {
    return function (file, encoding) {
      if (this.readyState === FileReader.LOADING) throw new FileError(FileError.INVALID_STATE_ERR);
      var reader = this;
      reader.readyState = FileReader.LOADING;
      reader.result = null;
      reader.error = null;
      reader.aborted = false;
      fire(reader, 'loadstart');
      var args = [file.localURL];
      if (withEncoding) args.push(encoding || 'UTF-8');
      args.push(file.start, file.end);
      exec(function (result) {
        reader.readyState = FileReader.DONE;
        if (reader.aborted) return;
        reader.result = result;
        fire(reader, 'load');
        fire(reader, 'loadend');
      }, function (code) {
        reader.readyState = FileReader.DONE;
        if (reader.aborted) return;
        reader.error = new FileError(typeof code === 'number' ? code : FileError.ENCODING_ERR);
        fire(reader, 'error');
        fire(reader, 'loadend');
      }, 'File', action, args);
    };
  }
  FileReader.prototype.readAsText = read('readAsText', true);
  FileReader.prototype.readAsDataURL = read('readAsDataURL', false);
  FileReader.prototype.readAsArrayBuffer = read('readAsArrayBuffer', false);
  FileReader.prototype.readAsBinaryString = read('readAsBinaryString', false);

  // ---- Writing ----

  function FileWriter(file) {
    this.localURL = file.localURL;
    this.fileName = file.name;
    this.length = file.size;
    this.position = 0;
    this.readyState = FileWriter.INIT;
    this.error = null;
  }
  FileWriter.INIT = 0;
  FileWriter.WRITING = 1;
  FileWriter.DONE = 2;
  // Moves where the next write goes; negative offsets count from the end.
  FileWriter.prototype.seek = function (offset) {
    if (this.readyState === FileWriter.WRITING) throw new FileError(FileError.INVALID_STATE_ERR);
    if (offset < 0) offset = Math.max(this.length + offset, 0);
    this.position = Math.min(offset, this.length);
  };
  function change(writer, action, args, done) {
    if (writer.readyState === FileWriter.WRITING) throw new FileError(FileError.INVALID_STATE_ERR);
    writer.readyState = FileWriter.WRITING;
    writer.error = null;
    fire(writer, 'writestart');
    exec(function (n) {
      writer.readyState = FileWriter.DONE;
      done(n);
      fire(writer, 'write');
      fire(writer, 'writeend');
    }, function (code) {
      writer.readyState = FileWriter.DONE;
      writer.error = new FileError(typeof code === 'number' ? code : FileError.ABORT_ERR);
      fire(writer, 'error');
      fire(writer, 'writeend');
    }, 'File', action, args);
  }
  // Text or an ArrayBuffer (or a view of one), put at the position; what followed is dropped.
  FileWriter.prototype.write = function (data) {
    var writer = this;
    change(writer, 'write', [writer.localURL, data, writer.position], function (n) {
      writer.position += n;
      writer.length = writer.position;
    });
  };
  FileWriter.prototype.truncate = function (size) {
    var writer = this;
    change(writer, 'truncate', [writer.localURL, size], function (length) {
      writer.length = length;
      writer.position = Math.min(writer.position, length);
    });
  };

  // ---- Entry points ----

  exports.requestFileSystem = function (type, size, success, fail) {
    call('requestFileSystem', [type, size], function (answer) {
      var fileSystem = fileSystemNamed(answer.name);
      fileSystem.root = entryOf(answer.root);
      if (success) success(fileSystem);
    }, fail);
  };
  exports.resolveLocalFileSystemURL = function (url, success, fail) {
    call('resolveLocalFileSystemURI', [url], function (e) { if (success) success(entryOf(e)); }, fail);
  };
  // done(bytes as decimal text).
  exports.getFreeDiskSpace = function (done, fail) {
    call('getFreeDiskSpace', [], done, fail);
  };
  // done({ applicationDirectory, dataDirectory, documentsDirectory, cacheDirectory, ... }).
  exports.requestAllPaths = function (done, fail) {
    call('requestAllPaths', [], done, fail);
  };

  exports.FileError = FileError;
  exports.LocalFileSystem = LocalFileSystem;
  exports.FileSystem = FileSystem;
  exports.Entry = Entry;
  exports.DirectoryEntry = DirectoryEntry;
  exports.FileEntry = FileEntry;
  exports.DirectoryReader = DirectoryReader;
  exports.File = File;
  exports.FileReader = FileReader;
  exports.FileWriter = FileWriter;

  window.requestFileSystem = exports.requestFileSystem;
  window.resolveLocalFileSystemURL = exports.resolveLocalFileSystemURL;
  window.LocalFileSystem = LocalFileSystem;
  window.FileError = FileError;
});
