#!/bin/sh
# A picture a camera held sideways, as a page on WebKit sees it, under both engines: the photo
# library holds a 400 x 300 JPEG with Exif orientation 6 (it shows 300 x 400), and the page asks
# the camera plugin for it with and without correctOrientation, as base64 text and as a file,
# then the multi-image picker. The page measures each answer itself: the stored size and the Exif
# orientation from the JPEG's bytes, the size the image shows at, and which colour shows in each
# corner when it is drawn on a canvas. Corrected, the pixels are upright and untagged; as taken,
# they are as stored with the orientation in the Exif data; shown, both are upright. A PNG in the
# library (no orientation) comes back as it is.
#   webkit-orientation.sh <harbor executable> <sample bundle folder> <oriented-pictures> <scratch folder>
set -u
harbor=$1
sample=$2
pictures=$3
work=$4
. "$(dirname "$0")/log-checks.sh"
start_without_display
mkdir -p "$work/turned" "$work/plain"
newlog

"$pictures" "$work/tmp" || fail "the test pictures could not be made"
mv "$work/tmp/turned.jpg" "$work/turned/"
mv "$work/tmp/plain.png" "$work/plain/"

bundle="$work/bundle"
cp -R "$sample" "$bundle"
cat >"$bundle/config.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.harbor.orientation" version="1.0.0">
  <name>Harbor Orientation</name>
  <content src="index.html" />
  <feature name="Camera"><param name="ios-package" value="HBRCamera" /></feature>
  <feature name="ImagePicker"><param name="ios-package" value="MIPPicker" /></feature>
  <feature name="File"><param name="ios-package" value="HBRFile" /></feature>
</widget>
XML
cat >"$bundle/www/index.html" <<'HTML'
<!DOCTYPE html>
<html>
<head>
  <meta charset="utf-8">
  <script src="harbor.js"></script>
  <script src="plugins/harbor-plugin-camera/camera.js"></script>
  <script src="plugins/harbor-plugin-image-picker/imagepicker.js"></script>
  <script src="plugins/harbor-plugin-file/file.js"></script>
  <script src="engine.js"></script>
</head>
<body>
  <script>
    function say(text) { console.log('orientation: ' + text); }

    // What the JPEG's bytes say: the stored size from its frame header, and the "Orientation"
    // entry of the Exif segment's first IFD.
    function facts(bytes) {
      if (bytes[0] !== 0xFF || bytes[1] !== 0xD8) return 'not a JPEG';
      var width = 0, height = 0, exif = 'none', at = 2;
      while (at + 9 < bytes.length && bytes[at] === 0xFF) {
        var marker = bytes[at + 1], length = bytes[at + 2] << 8 | bytes[at + 3];
        if (marker >= 0xC0 && marker <= 0xC3) {
          height = bytes[at + 5] << 8 | bytes[at + 6];
          width = bytes[at + 7] << 8 | bytes[at + 8];
          break;
        }
        if (marker === 0xE1 && String.fromCharCode(bytes[at + 4], bytes[at + 5], bytes[at + 6], bytes[at + 7]) === 'Exif') {
          var tiff = at + 10, little = bytes[tiff] === 0x49;
          var u16 = function (p) { return little ? bytes[p] | bytes[p + 1] << 8 : bytes[p] << 8 | bytes[p + 1]; };
          var u32 = function (p) { return little ? (u16(p) | u16(p + 2) << 16) >>> 0 : (u16(p) << 16 | u16(p + 2)) >>> 0; };
          var ifd = tiff + u32(tiff + 4), count = u16(ifd);
          for (var i = 0; i < count; i++) {
            if (u16(ifd + 2 + 12 * i) === 0x0112) exif = String(u16(ifd + 2 + 12 * i + 8));
          }
        }
        at += 2 + length;
      }
      return 'stored ' + width + 'x' + height + ' exif ' + exif;
    }

    var colours = {red: [230, 30, 30], green: [30, 200, 30], blue: [30, 30, 230], yellow: [230, 220, 30]};
    function colourName(p) {
      for (var name in colours) {
        var c = colours[name];
        if (Math.abs(p[0] - c[0]) <= 40 && Math.abs(p[1] - c[1]) <= 40 && Math.abs(p[2] - c[2]) <= 40) return name;
      }
      return 'rgb(' + p[0] + ',' + p[1] + ',' + p[2] + ')';
    }

    // The size the image shows at and the colours at its corners (top left, top right, bottom
    // left, bottom right), as the engine draws it.
    function shown(src, done) {
      var img = new Image();
      img.onload = function () {
        try {
          measure();
        } catch (e) {
          done('cannot be measured: ' + e);
        }
      };
      function measure() {
        var w = img.naturalWidth, h = img.naturalHeight;
        var canvas = document.createElement('canvas');
        canvas.width = w;
        canvas.height = h;
        var context = canvas.getContext('2d');
        context.drawImage(img, 0, 0);
        var corners = [[0.1, 0.1], [0.9, 0.1], [0.1, 0.9], [0.9, 0.9]].map(function (f) {
          return colourName(context.getImageData(Math.floor(f[0] * w), Math.floor(f[1] * h), 1, 1).data);
        });
        done('shows ' + w + 'x' + h + ', corners ' + corners.join(' '));
      }
      img.onerror = function () { done('does not show'); };
      img.src = src;
    }

    function bytesOfFile(url, done) {
      var xhr = new XMLHttpRequest();
      xhr.open('GET', url);
      xhr.responseType = 'arraybuffer';
      xhr.onload = function () { done(new Uint8Array(xhr.response || new ArrayBuffer(0))); };
      xhr.onerror = function () { done(new Uint8Array(0)); };
      xhr.send();
    }

    function report(name, bytes, src, next) {
      shown(src, function (look) {
        say(name + ': ' + facts(bytes) + ', ' + look);
        next();
      });
    }

    // A file the plugin answered, read as a page reads it: by its hbrfile URL (the only way under
    // the WKWebView engine, whose pages read files only in the bundle's folder) and shown from
    // the bytes read (an image from another scheme would taint the canvas), and under the
    // UIWebView engine by its file URL as well.
    function reportFile(name, url, next) {
      if (!/^file:\/\/\/.*\/hbr_photo_\d{3}\.jpg$/.test(url)) {
        say(name + ': failed: not a file URL of the temporary folder: ' + url);
        return next();
      }
      harbor.require('harbor-plugin-file.file').resolveLocalFileSystemURL(url, function (entry) {
        bytesOfFile(entry.toURL(), function (bytes) {
          report(name, bytes, URL.createObjectURL(new Blob([bytes], {type: 'image/jpeg'})), function () {
            if (!readsFileURLs) return next();
            bytesOfFile(url, function (bytes) { report(name + ' by its file URL', bytes, url, next); });
          });
        });
      }, function (error) { say(name + ': failed to resolve ' + url + ': ' + (error && error.code)); next(); });
    }

    function fromCamera(name, destination, correct) {
      return function (next) {
        harbor.require('harbor-plugin-camera.camera').getPicture(function (answer) {
          if (destination === 0) {
            var text = atob(answer), bytes = new Uint8Array(text.length);
            for (var i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
            report(name, bytes, 'data:image/jpeg;base64,' + answer, next);
          } else {
            reportFile(name, answer, next);
          }
        }, function (message) { say(name + ': failed ' + message); next(); },
        {sourceType: 0, destinationType: destination, correctOrientation: correct});
      };
    }

    document.addEventListener('deviceready', function () {
      var picker = harbor.require('harbor-plugin-image-picker.imagepicker');
      var steps = [
        fromCamera('data corrected', 0, true),
        fromCamera('data as taken', 0, false),
        fromCamera('file corrected', 1, true),
        fromCamera('file as taken', 1, false),
        function (next) {
          picker.getPictures(function (urls) {
            reportFile('picker', urls[0], next);
          }, function (e) { say('picker: failed ' + e); next(); }, {maximumImagesCount: 1});
        }
      ];
      (function run(i) {
        if (i === steps.length) return say('done');
        steps[i](function () { setTimeout(function () { run(i + 1); }, 0); });
      })(0);
    }, false);
  </script>
</body>
</html>
HTML

# run <engine> <pictures folder>: one bounded run with a home of its own.
run() {
  newlog
  if [ "$1" = HBRUIWebViewEngine ]; then reads=true; else reads=false; fi
  echo "var readsFileURLs = $reads;" >"$bundle/www/engine.js"
  timeout -s KILL 90 "$harbor" --home "$work/home.$runs" --web-backend webkit --engine "$1" --pictures "$2" \
    --run-seconds 60 --until "orientation: done" "$bundle" 2>"$log"
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status under $1 with $2"
  expect "orientation: done"
  if grep -qF "failed" "$log"; then fail "a step failed under $1 with $2"; fi
}

upright="shows 300x400, corners blue red yellow green"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$engine" "$work/turned"
  expect "orientation: data corrected: stored 300x400 exif none, $upright"
  expect "orientation: data as taken: stored 400x300 exif 6, $upright"
  expect "orientation: file corrected: stored 300x400 exif none, $upright"
  expect "orientation: file as taken: stored 400x300 exif 6, $upright"
  expect "orientation: picker: stored 400x300 exif 6, $upright"
  if [ "$engine" = HBRUIWebViewEngine ]; then
    expect "orientation: file corrected by its file URL: stored 300x400 exif none, $upright"
    expect "orientation: file as taken by its file URL: stored 400x300 exif 6, $upright"
    expect "orientation: picker by its file URL: stored 400x300 exif 6, $upright"
  fi
  expect_clean_run

  run "$engine" "$work/plain"
  as_stored="stored 400x300 exif none, shows 400x300, corners red green blue yellow"
  for step in "data corrected" "data as taken" "file corrected" "file as taken" picker; do
    expect "orientation: $step: $as_stored"
  done
  expect_clean_run
done
echo "ok"
