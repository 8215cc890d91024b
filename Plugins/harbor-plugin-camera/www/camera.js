// navigator.camera: a picture from the camera or the photo library, as base64 text, a file URL
// or the library's asset URL; cleanup removes the files the camera made. Options by name, sent
// by position; what is left out takes the native default.
harbor.define('harbor-plugin-camera.camera', function (require, exports, module) {
  var exec = require('harbor/exec');

  var Camera = {
    DestinationType: { DATA_URL: 0, FILE_URI: 1, NATIVE_URI: 2 },
    EncodingType: { JPEG: 0, PNG: 1 },
    MediaType: { PICTURE: 0, VIDEO: 1, ALLMEDIA: 2 },
    PictureSourceType: { PHOTOLIBRARY: 0, CAMERA: 1, SAVEDPHOTOALBUM: 2 },
    PopoverArrowDirection: { ARROW_UP: 1, ARROW_DOWN: 2, ARROW_LEFT: 4, ARROW_RIGHT: 8, ARROW_ANY: 15 },
    Direction: { BACK: 0, FRONT: 1 }
  };

  function given(value) { return value === undefined ? null : value; }

  // What getPicture gives back: moves the library picker's popover on a tablet.
  function CameraPopoverHandle() {}
  CameraPopoverHandle.prototype.setPosition = function (popoverOptions) {
    exec(null, null, 'Camera', 'repositionPopover', [popoverOptions]);
  };

  var camera = {
    getPicture: function (success, fail, options) {
      var o = options || {};
      var args = [given(o.quality), given(o.destinationType), given(o.sourceType), given(o.targetWidth),
                  given(o.targetHeight), given(o.encodingType), given(o.mediaType), !!o.allowEdit,
                  !!o.correctOrientation, !!o.saveToPhotoAlbum, given(o.popoverOptions),
                  given(o.cameraDirection)];
      exec(success, fail, 'Camera', 'takePicture', args);
      return new CameraPopoverHandle();
    },
    cleanup: function (success, fail) {
      exec(success, fail, 'Camera', 'cleanup', []);
    }
  };
  camera.DestinationType = Camera.DestinationType;
  camera.EncodingType = Camera.EncodingType;
  camera.MediaType = Camera.MediaType;
  camera.PictureSourceType = Camera.PictureSourceType;
  camera.PopoverArrowDirection = Camera.PopoverArrowDirection;
  camera.Direction = Camera.Direction;

  navigator.camera = camera;
  module.exports = camera;
});
