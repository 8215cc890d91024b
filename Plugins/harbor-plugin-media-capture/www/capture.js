// navigator.device.capture: a photo, a video or an audio recording, each answered with a list of
// MediaFile objects, and the capture modes the device supports (filled in by the native side
// through setSupportedModes).
harbor.define('harbor-plugin-media-capture.capture', function (require, exports, module) {
  var exec = require('harbor/exec');

  function CaptureError(code) { this.code = typeof code === 'number' ? code : CaptureError.CAPTURE_INTERNAL_ERR; }
  CaptureError.CAPTURE_INTERNAL_ERR = 0;
  CaptureError.CAPTURE_APPLICATION_BUSY = 1;
  CaptureError.CAPTURE_INVALID_ARGUMENT = 2;
  CaptureError.CAPTURE_NO_MEDIA_FILES = 3;
  CaptureError.CAPTURE_NOT_SUPPORTED = 20;

  function MediaFile(file) {
    this.name = file.name;
    this.fullPath = file.fullPath;
    this.localURL = file.localURL;
    this.type = file.type;
    this.lastModifiedDate = file.lastModifiedDate;
    this.size = file.size;
  }
  // {codecs, bitrate, height, width, duration}
  MediaFile.prototype.getFormatData = function (success, fail) {
    exec(success, function (error) { if (fail) fail(new CaptureError(error && error.code)); },
         'Capture', 'getFormatData', [this.fullPath, this.type]);
  };

  function capture(action) {
    return function (success, fail, options) {
      exec(function (files) {
        if (success) success((files || []).map(function (f) { return new MediaFile(f); }));
      }, function (error) {
        if (fail) fail(new CaptureError(error && error.code));
      }, 'Capture', action, [options || {}]);
    };
  }

  var api = {
    supportedImageModes: [],
    supportedVideoModes: [],
    supportedAudioModes: [],
    captureAudio: capture('captureAudio'),
    captureImage: capture('captureImage'),
    captureVideo: capture('captureVideo'),
    // Asks the native side; it answers through setSupportedModes.
    getMediaModes: function () { exec(null, null, 'Capture', 'getMediaModes', []); },
    setSupportedModes: function (modes) {
      api.supportedImageModes = (modes && modes.image) || [];
      api.supportedVideoModes = (modes && modes.video) || [];
      api.supportedAudioModes = (modes && modes.audio) || [];
    }
  };

  navigator.device = navigator.device || {};
  navigator.device.capture = api;
  window.CaptureError = CaptureError;
  window.MediaFile = MediaFile;
  module.exports = api;
});
