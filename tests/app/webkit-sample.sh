#!/bin/sh
# Runs the sample on WebKit under both engines, as a user would on a machine without a display:
# every plugin answers, hbrfile loading works, and the page's launch counter survives restarts
# and a purge of the live storage (brought back from Documents/Backups). Then both samples as the
# README runs them, with nothing error-looking in their logs, and the sample's source folder,
# refused before anything starts.
#   webkit-sample.sh <harbor executable> <sample bundle folder> <scratch folder>
set -u
harbor=$1
bundle=$2
work=$3
. "$(dirname "$0")/log-checks.sh"
start_without_display

home="$work/home"
run() {
  newlog
  timeout -s KILL 90 "$harbor" --home "$home" --web-backend webkit --run-seconds 60 --until "hello: done" "$@" \
    "$bundle" 2>"$log"
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status ($*)"
  expect "harbor: private display :"
  expect "harbor: stopped"
}

# The page calls every plugin and prints their answers, and loads a file by its hbrfile URL.
expect_page() {
  expect "Using $1"
  expect "hello: deviceready"
  expect "hello: device: "
  expect ", Harbor 4.2.0, uuid "
  expect "hello: connection: "
  expect "hello: clipboard: copied \"Hello from the page\", pasted \"Hello from the page\""
  expect "INFO: hello: a line through the logger; 100% as written, %s %d %n included"
  expect "hello: vibration: asked"
  expect "harbor: alert 'Hello' 'Hello from the page' [OK] -> OK"
  expect "hello: alert: button 1"
  expect "hello: beep: asked for 2"
  expect "hello: battery: "
  expect "hello: globalization: en-US, "
  expect "hello: file: read back \"window.helloFromFile = 'a script from a file';\""
  expect "hello: file: loaded hbrfile://localhost/temporary/hello-file.js: a script from a file"
  expect "hello: file: fetched 200 application/javascript, 46 characters"
  expect "hello: page confirm: "
  expect "hello: done"
  if grep -qF "hello: gave up waiting" "$log"; then fail "the page gave up waiting"; fi
  for text in "xception" "Failed to load webpage" "CRITICAL" "Gtk-WARNING"; do
    if grep -qF "$text" "$log"; then fail "an error-looking line: $text"; fi
  done
}

run
expect_page UIWebView
expect "hello: storage: launch 1"

run --engine HBRWKWebViewEngine
expect_page WKWebView
expect "hello: storage: launch 2"

# The system purges Library/Caches between launches; the storage backup brings the count back.
[ -n "$(ls -A "$home/Documents/Backups" 2>/dev/null)" ] || fail "nothing in Documents/Backups"
rm -rf "$home/Library/Caches"
mkdir -p "$home/Library/Caches"
run
expect "hello: storage: launch 3"

# And once more under the other engine, purged again.
rm -rf "$home/Library/Caches"
mkdir -p "$home/Library/Caches"
run --engine HBRWKWebViewEngine
expect "hello: storage: launch 4"

# As the README runs the samples: every step of the hello sample shows its answer, the media
# sample records and plays its take, and neither logs anything error-looking. The screenshots
# are written (that their lines wrap is for a person to see).
newlog
timeout -s KILL 90 "$harbor" --home "$work/readme-home" --screenshot "$work/hello.png" --pictures test \
  --acceleration 0,0,-1 --heading 90 --location-track "$(dirname "$0")/../../examples/tracks/embankment.txt" \
  --run-seconds 60 --until "hello: done" "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status for the README's run of the hello sample"
expect "hello: heading: 90"
expect "hello: camera: hbr_photo_001.jpg, fitted into 320x320"
expect "harbor: screenshot written to $work/hello.png"
expect_clean_run
newlog
timeout -s KILL 90 "$harbor" --home "$work/media-home" --screenshot "$work/media.png" --run-seconds 60 \
  --until "media: done" "$(dirname "$bundle")/media" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status for the README's run of the media sample"
expect "media: status playback 1 4"
expect "harbor: screenshot written to $work/media.png"
expect_clean_run

# The sample's source folder is refused before any display starts: it lacks the page script.
newlog
timeout -s KILL 90 "$harbor" --home "$work/source-home" --until "hello: done" "$(dirname "$0")/../../examples/hello" 2>"$log"
status=$?
[ "$status" -eq 1 ] || fail "exit status $status for the source sample"
expect "harbor: www/harbor.js is missing: run the built bundle, "
if grep -qF "harbor: private display" "$log"; then fail "a display was started for the source sample"; fi

# Every private display went with its run.
[ -z "$(ls -A "$work/tmp")" ] || fail "left in TMPDIR: $(ls -A "$work/tmp")"

echo "harbor WebKit sample test passed"
