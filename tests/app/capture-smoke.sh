#!/bin/sh
# Runs the harbor executable on a page of its own, in a copy of the hello sample with the capture
# plugin added: every screen the page opens (the audio recorder, the multi-image picker, a
# video-only library picker, the camera) must be answered by the runner as a person would, and
# every answer must reach the page and the log.
#   capture-smoke.sh <harbor executable> <hello sample folder> <scratch folder>
set -u
harbor=$1
sample=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
bundle="$work/bundle"
cp -R "$sample" "$bundle"
. "$(dirname "$0")/log-checks.sh"
newlog

cat > "$bundle/config.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.harbor.capture" version="1.0.0">
  <name>Harbor Capture</name>
  <content src="index.html" />
  <feature name="Capture"><param name="ios-package" value="HBRCapture" /></feature>
  <feature name="Camera"><param name="ios-package" value="HBRCamera" /></feature>
  <feature name="ImagePicker"><param name="ios-package" value="MIPPicker" /></feature>
  <feature name="File"><param name="ios-package" value="HBRFile" /></feature>
</widget>
XML

cat > "$bundle/www/index.html" <<'HTML'
<!DOCTYPE html>
<html>
<head>
  <meta charset="utf-8">
  <script src="harbor.js"></script>
  <script src="plugins/harbor-plugin-media-capture/capture.js"></script>
  <script src="plugins/harbor-plugin-camera/camera.js"></script>
  <script src="plugins/harbor-plugin-image-picker/imagepicker.js"></script>
</head>
<body>
  <script>
    function say(text) { console.log('capture: ' + text); }
    document.addEventListener('deviceready', function () {
      var capture = harbor.require('harbor-plugin-media-capture.capture');
      var camera = harbor.require('harbor-plugin-camera.camera');
      var picker = harbor.require('harbor-plugin-image-picker.imagepicker');
      function name(path) { return String(path).replace(/^.*\//, ''); }
      var steps = [
        function (next) {
          capture.captureAudio(function (files) {
            say('audio ' + files.length + ' ' + files[0].name + ' ' + files[0].type + ' ' + (files[0].size > 44));
            next();
          }, function (e) { say('audio failed ' + e.code); next(); }, {});
        },
        function (next) {
          capture.captureAudio(function () { say('negative recorded'); next(); },
                               function (e) { say('negative refused ' + e.code); next(); }, {duration: -5});
        },
        function (next) {
          picker.getPictures(function (urls) {
            say('pictures ' + urls.length + ' ' + urls.map(name).join(' '));
            next();
          }, function (e) { say('pictures failed ' + e); next(); }, {maximumImagesCount: 2});
        },
        function (next) {
          camera.getPicture(function (url) { say('library movie ' + name(url)); next(); },
                            function (m) { say('library movie failed ' + m); next(); },
                            {sourceType: 0, mediaType: 1, destinationType: 1});
        },
        function (next) {
          capture.captureImage(function (files) { say('image ' + files[0].name); next(); },
                               function (e) { say('image failed ' + e.code); next(); });
        },
        function (next) {
          capture.captureVideo(function (files) { say('video ' + files[0].name); next(); },
                               function (e) { say('video failed ' + e.code); next(); }, {duration: 1});
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

"$harbor" --web-backend headless --home "$work/home" --run-seconds 60 --until "capture: done" --pictures test "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
expect "harbor: screen 'Audio recording' -> Record"
expect "harbor: screen 'Audio recording' -> Stop after 1 s"
expect "harbor: screen 'Audio recording' -> Done"
expect "capture: audio 1 audio_001.wav audio/wav true"
expect "capture: negative refused 2"
expect "harbor: screen 'Select an Album' -> 'Camera Roll (1)'"
expect "harbor: screen 'Pick Photos' -> chose 1 (assets-library://"
expect "capture: pictures 1 hbr_photo_001.jpg"
expect "harbor: image picker library -> movie 'picked-test-movie-"
expect "capture: library movie picked-test-movie-"
expect "harbor: image picker camera -> 'test picture'"
expect "capture: image photo_001.jpg"
expect "harbor: image picker camera -> filmed 3 s"
expect "capture: video "
expect "capture: done"
if grep -q "failed" "$log"; then fail "a step failed"; fi
echo "ok"
