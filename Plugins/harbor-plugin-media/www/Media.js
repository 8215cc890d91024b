// Sounds the page plays and records: new Media(src, success, error, status). The native side
// answers through Media.onStatus (state changes, the duration, positions and errors); each
// object keeps what it last heard.
harbor.define('harbor-plugin-media.Media', function (require, exports, module) {
  var exec = require('harbor/exec');
  var sounds = {};
  var next = 0;

  function MediaError(code, message) {
    this.code = typeof code === 'number' ? code : 0;
    this.message = message || '';
  }
  MediaError.MEDIA_ERR_NONE_ACTIVE = 0;
  MediaError.MEDIA_ERR_ABORTED = 1;
  MediaError.MEDIA_ERR_NETWORK = 2;
  MediaError.MEDIA_ERR_DECODE = 3;
  MediaError.MEDIA_ERR_NONE_SUPPORTED = 4;

  function Media(src, successCallback, errorCallback, statusCallback) {
    // Unique within the page; the native side forgets every sound when a page loads.
    this.id = 'media-' + (++next);
    this.src = src;
    this.successCallback = successCallback;
    this.errorCallback = errorCallback;
    this.statusCallback = statusCallback;
    this._duration = -1;
    this._position = -1;
    sounds[this.id] = this;
    exec(null, this.errorCallback, 'Media', 'create', [this.id, this.src]);
  }

  Media.MEDIA_STATE = 1;
  Media.MEDIA_DURATION = 2;
  Media.MEDIA_POSITION = 3;
  Media.MEDIA_ERROR = 9;
  Media.MEDIA_NONE = 0;
  Media.MEDIA_STARTING = 1;
  Media.MEDIA_RUNNING = 2;
  Media.MEDIA_PAUSED = 3;
  Media.MEDIA_STOPPED = 4;
  Media.MEDIA_MSG = ['None', 'Starting', 'Running', 'Paused', 'Stopped'];

  Media.get = function (id) { return sounds[id]; };

  // options: {numberOfLoops: n (plays n times), playAudioWhenScreenIsLocked: false}
  Media.prototype.play = function (options) {
    exec(null, null, 'Media', 'startPlayingAudio', [this.id, this.src, options]);
  };
  Media.prototype.stop = function () { exec(null, this.errorCallback, 'Media', 'stopPlayingAudio', [this.id]); };
  Media.prototype.pause = function () { exec(null, this.errorCallback, 'Media', 'pausePlayingAudio', [this.id]); };
  Media.prototype.seekTo = function (milliseconds) {
    exec(null, this.errorCallback, 'Media', 'seekToAudio', [this.id, milliseconds]);
  };
  Media.prototype.getDuration = function () { return this._duration; };
  Media.prototype.getCurrentPosition = function (success, fail) {
    var me = this;
    exec(function (position) {
      me._position = position;
      if (success) success(position);
    }, fail, 'Media', 'getCurrentPositionAudio', [this.id]);
  };
  Media.prototype.startRecord = function () {
    exec(null, this.errorCallback, 'Media', 'startRecordingAudio', [this.id, this.src]);
  };
  Media.prototype.stopRecord = function () { exec(null, this.errorCallback, 'Media', 'stopRecordingAudio', [this.id]); };
  Media.prototype.getCurrentAmplitude = function (success, fail) {
    exec(success, fail, 'Media', 'getCurrentAmplitudeAudio', [this.id]);
  };
  Media.prototype.release = function () {
    exec(null, this.errorCallback, 'Media', 'release', [this.id]);
    delete sounds[this.id];
  };
  Media.prototype.setVolume = function (volume) {
    exec(null, null, 'Media', 'setVolume', [this.id, volume]);
  };
  Media.prototype.setRate = function (rate) {
    exec(null, null, 'Media', 'setRate', [this.id, rate]);
  };

  // Every status call of the native side comes here.
  Media.onStatus = function (id, type, value) {
    var media = sounds[id];
    if (!media) return;
    if (type === Media.MEDIA_STATE) {
      if (value === Media.MEDIA_STOPPED && media.successCallback) media.successCallback();
      if (media.statusCallback) media.statusCallback(value);
    } else if (type === Media.MEDIA_DURATION) {
      media._duration = value;
    } else if (type === Media.MEDIA_POSITION) {
      media._position = Number(value);
    } else if (type === Media.MEDIA_ERROR) {
      if (media.errorCallback) media.errorCallback(new MediaError(value && value.code, value && value.message));
    }
  };

  Media.MediaError = MediaError;
  window.Media = Media;
  window.MediaError = MediaError;
  module.exports = Media;
});
