// window.imagePicker: several photos from the albums as JPEG file URLs, optionally scaled.
// getPictures(success, fail, {maximumImagesCount: 15, width: 0, height: 0, quality: 100}).
harbor.define('harbor-plugin-image-picker.imagepicker', function (require, exports, module) {
  var exec = require('harbor/exec');

  var imagePicker = {
    getPictures: function (success, fail, options) {
      var o = options || {};
      var params = {
        maximumImagesCount: o.maximumImagesCount !== undefined ? o.maximumImagesCount : 15,
        width: o.width || 0,
        height: o.height || 0,
        quality: o.quality !== undefined ? o.quality : 100
      };
      exec(success, fail, 'ImagePicker', 'getPictures', [params]);
    }
  };

  window.imagePicker = imagePicker;
  module.exports = imagePicker;
});
