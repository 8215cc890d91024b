#!/bin/sh
# Runs the harbor executable on the sample bundle as a user would, and checks what it prints
# and how it ends.
#   harbor-smoke.sh <harbor executable> <sample bundle folder> <scratch folder>
set -u
harbor=$1
bundle=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
. "$(dirname "$0")/log-checks.sh"
newlog

# A run that ends by itself: the container starts, creates its start-up plugin, and terminates
# cleanly once the page is done or the run time is over.
newlog
"$harbor" --web-backend headless --home "$work/home" --run-seconds 10 --until "hello: done" "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
expect "harbor: running "
expect "(org.harbor.hello), home $work/home"
expect "Harbor native platform version 4.2.0 is starting."
expect "Multi-tasking -> Device: YES, App: YES"
expect "[HBRTimer][networkstatus] "
expect "[HBRTimer][localstorage] "
expect "[HBRTimer][TotalPluginStartup] "
expect "harbor: terminating: "
expect "harbor: stopped"
for folder in Documents Library/Caches Library/Preferences tmp; do
  [ -d "$work/home/$folder" ] || fail "no $folder in the sandbox home"
done

# The page calls every plugin and prints their answers, under both engines; the runner answers
# the dialogs (first button, default text unless told otherwise) and logs them and the sounds.
expect_page() {
  expect "Using $1"
  expect "hello: deviceready"
  expect "harbor: splash 'Default-667h' shown"
  expect "hello: screen: splash hidden, status bar light on #1E90FF"
  expect "harbor: splash gone"
  expect "harbor: status bar style light content"
  expect "harbor: status bar background #1E90FF"
  expect "hello: device: "
  expect ", Harbor 4.2.0, uuid "
  expect "hello: connection: "
  expect "hello: clipboard: copied \"Hello from the page\", pasted \"Hello from the page\""
  expect "INFO: hello: a line through the logger; 100% as written, %s %d %n included"
  expect "hello: vibration: asked"
  expect "harbor: vibrate (0.4 s)"
  expect "harbor: alert 'Hello' 'Hello from the page' [OK] -> OK"
  expect "hello: alert: button 1"
  expect "hello: beep: asked for 2"
  expect "harbor: sound beep.wav ("
  expect "hello: battery: "
  expect "hello: file: read back \"window.helloFromFile = 'a script from a file';\""
  expect "hello: file: loaded hbrfile://localhost/temporary/hello-file.js: a script from a file"
  expect "hello: file: fetched 200 application/javascript, 46 characters"
  expect "hello: file: removed hello-file.js"
  expect "hello: done"
  if grep -qF "hello: gave up waiting" "$log"; then fail "the page gave up waiting"; fi
}
# A clean start-up: no script error, no failed load.
expect_clean() {
  for text in "xception" "JavaScript error" "Failed to load webpage"; do
    if grep -qF "$text" "$log"; then fail "an error-looking line: $text"; fi
  done
}
expect_page UIWebView
expect_clean
expect "hello: globalization: en-US, "
expect ", 1,234,567.891, \$1,234.50"
expect "hello: storage: launch 1"
expect "hello: acceleration: none, no accelerometer (harbor --acceleration)"
expect "hello: heading: none, no compass (harbor --heading)"
expect "hello: position: none, location services off (harbor --location)"
expect "harbor: alert 'Confirm' 'Carry on?' [OK, Cancel] -> OK"
expect "hello: confirm: button 1"
expect "hello: prompt: button 1, text \"Harbor\""
expect "harbor: alert 'Hello Harbor' 'Is this the page speaking?' [OK, Cancel] -> OK"
expect "hello: page confirm: true"
expect "hello: page prompt: \"Harbor\""

# The system purges Library/Caches between launches; the storage backup brings the count back.
[ -f "$work/home/Documents/Backups/localstorage.appdata.db" ] || fail "no backup of the page's storage"
rm -f "$work/home/Library/Caches/file__0.localstorage"
# A walk north, about 22 m a step: every fix passes the watch's 5 m filter.
printf '# a walk\n51.5000,-0.12\n51.5002,-0.12\n51.5004,-0.12\n51.5006,-0.12\n' >"$work/walk.txt"
newlog
"$harbor" --web-backend headless --home "$work/home" --engine HBRWKWebViewEngine --dialog-button 2 --dialog-text "Ada" \
  --acceleration 0,0,-1 --heading 90 --location-track "$work/walk.txt" \
  --run-seconds 10 --until "hello: done" "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status under the WKWebView engine"
expect_page WKWebView
expect_clean
expect "hello: storage: launch 2"
expect "hello: acceleration: 0, 0, 9.81"
expect "hello: heading: 90"
expect "harbor: location permission 'Hello Harbor prints where you are.' (when in use) -> allowed"
expect "hello: position: 51.50"
expect "hello: fix 3: 51.50"
expect "harbor: alert 'Confirm' 'Carry on?' [OK, Cancel] -> Cancel"
expect "hello: confirm: button 2"
expect "harbor: alert 'Prompt' 'Your name?' [OK, Cancel] -> Cancel with 'Ada'"
expect "hello: prompt: button 2, text \"Ada\""
expect "hello: page confirm: false"
expect "hello: page prompt: null"

# The page's local notification fires two seconds on and reaches it as a trigger. It is kept in
# the sandbox home, so the next run can be launched by opening it, and the page hears a click.
# A home of its own: one the runs above scheduled could fire here first.
newlog
"$harbor" --web-backend headless --home "$work/notification-home" --run-seconds 10 --until "hello: notification: event trigger" "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status waiting for the notification"
expect "hello: notification: event schedule 1, foreground"
expect "harbor: notification fired 'Hello\\nfrom the page'"
expect "hello: notification: event trigger 1, foreground"
newlog
"$harbor" --web-backend headless --home "$work/notification-home" --open-notification --run-seconds 10 --until "hello: notification: event click" \
  "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status opening the notification"
expect "harbor: notification opened 'Hello\\nfrom the page'"
expect "hello: notification: event click 1, background"
expect "hello: notification: event cancel 1, background"

# Killed right after the page scheduled its notification, harbor loses nothing: the store is
# whole, holds the notification, and the next start reads it without complaint.
newlog
"$harbor" --web-backend headless --home "$work/kill-home" --run-seconds 10 "$bundle" 2>"$log" &
pid=$!
wait_for "$pid" "hello: notification: event schedule"
kill -KILL "$pid"
wait "$pid" 2>/dev/null
# The list, or the journal of changes made since it was written.
cat "$work/kill-home/Library/LocalNotifications.json" "$work/kill-home/Library/LocalNotifications.journal" 2>/dev/null |
  grep -qF '"alertBody":"Hello\nfrom the page"' || fail "the scheduled notification was not kept"
newlog
"$harbor" --web-backend headless --home "$work/kill-home" --until "is starting." "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status after a kill"
if grep -qF "cannot be read" "$log"; then fail "the stored notifications were damaged"; fi

# Another application opens the application with a URL; the page hears it once it has loaded.
newlog
"$harbor" --web-backend headless --home "$work/home" --open-url "harborhello://greeting?from=smoke" \
  --run-seconds 10 --until "hello: opened with " "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status with --open-url"
expect "harbor: opened with URL harborhello://greeting?from=smoke -> YES"
expect "hello: opened with harborhello://greeting?from=smoke"

# The page writes dates and numbers the way the device's locale does.
newlog
"$harbor" --web-backend headless --home "$work/home" --locale de_CH --run-seconds 10 --until "hello: done" "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status with --locale de_CH"
expect "hello: globalization: de-CH, "
expect ", 1’234’567.891, CHF"

# The simulated device facts reach the container.
newlog
"$harbor" --web-backend headless --home "$work/home" --system-version 7.1 --until "is starting." "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status with --system-version"
expect "Your current version of iOS is 7.1."

# An engine the simulated system cannot run says why another stands in.
newlog
"$harbor" --web-backend headless --home "$work/home" --engine HBRWKWebViewEngine --system-version 8.4 --until "hello: done" \
  --run-seconds 10 "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status with an engine the system cannot run"
expect "The web view engine HBRWKWebViewEngine cannot be used (it cannot load the start page on system version 8.4); HBRUIWebViewEngine stands in."
expect "Using UIWebView"

# SIGTERM stops it cleanly, with the terminate notification.
newlog
"$harbor" --web-backend headless --home "$work/home" "$bundle" 2>"$log" &
pid=$!
wait_for "$pid" "harbor: running "
kill -TERM "$pid"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
expect "harbor: terminating: received SIGTERM"
expect "harbor: stopped"

# Help, and clear errors for bad input.
newlog
"$harbor" --web-backend headless --help >"$log" 2>&1 || fail "--help failed"
expect "Usage: harbor [options] <bundle folder>"
expect "--dialog-button N"
expect "--dialog-text TEXT"
expect "--location LAT,LON[,ALT]"
expect "--open-url URL"
newlog
"$harbor" --web-backend headless --open-url "no url" "$bundle" >"$log" 2>&1
[ $? -eq 2 ] || fail "a bad --open-url is not refused with status 2"
expect "harbor: --open-url needs an absolute URL"
newlog
"$harbor" --web-backend headless --dialog-button 0 "$bundle" >"$log" 2>&1
[ $? -eq 2 ] || fail "a bad --dialog-button is not refused with status 2"
expect "harbor: --dialog-button needs a button number from 1"
newlog
"$harbor" --web-backend headless --engine HBRDevice "$bundle" >"$log" 2>&1
[ $? -eq 2 ] || fail "a class that is no engine is not refused with status 2"
expect "harbor: --engine needs a web view engine class (HBRUIWebViewEngine or HBRWKWebViewEngine), not \"HBRDevice\""
newlog
"$harbor" --web-backend headless --run-seconds soon "$bundle" >"$log" 2>&1
[ $? -eq 2 ] || fail "a bad option is not refused with status 2"
expect "harbor: --run-seconds needs a positive number of seconds"
newlog
"$harbor" --web-backend headless --location-track "$work/walk.txt" --location 0,181 "$bundle" >"$log" 2>&1
[ $? -eq 2 ] || fail "a bad --location is not refused with status 2"
expect "harbor: --location: longitude 181 is not between -180 and 180"
newlog
"$harbor" --web-backend headless --home "$work/home" "$work" >"$log" 2>&1
[ $? -eq 1 ] || fail "a folder without config.xml is not refused with status 1"
expect "has no config.xml"

# A malformed config.xml is named with where it breaks, before anything starts, with status 1.
mkdir -p "$work/broken/www"
printf '<widget>\n  <feature name="x">\n</widget>\n' >"$work/broken/config.xml"
newlog
"$harbor" --web-backend headless --home "$work/home" "$work/broken" >"$log" 2>&1
[ $? -eq 1 ] || fail "a malformed config.xml does not end with status 1"
expect "harbor: $work/broken/config.xml is not well-formed XML (line 3, column 10: Opening and ending tag mismatch: feature line 2 and widget): correct the file"
if grep -qF "harbor: running" "$log"; then fail "the application started on a malformed config.xml"; fi
# One the container refuses itself stops it with its message and status 1, not a crash.
: >"$work/broken/config.xml"
newlog
"$harbor" --web-backend headless --home "$work/home" "$work/broken" >"$log" 2>&1
[ $? -eq 1 ] || fail "an empty config.xml does not end with status 1"
expect "ERROR: $work/broken/config.xml is empty."
expect "harbor: the application cannot go on"

# The sample's source folder lacks the page script the build adds: named at once, pointing to the
# built bundle (relative to the current folder), instead of a page that never starts.
build=$(dirname "$(dirname "$bundle")")
newlog
(cd "$(dirname "$build")" && "$harbor" --web-backend headless --home "$work/source-home" --until "hello: done" \
  "$(dirname "$0")/../../examples/hello") >"$log" 2>&1
[ $? -eq 1 ] || fail "the source sample does not end with status 1"
expect "harbor: www/harbor.js is missing: run the built bundle, $(basename "$build")/examples/hello"
if grep -qF "harbor: running" "$log"; then fail "the source sample started"; fi

# As the README runs it, the sample shows every step and logs nothing error-looking; so does a
# mistyped option get its pointer to the help and the name it most likely meant.
newlog
"$harbor" --web-backend headless --home "$work/readme-home" --pictures test --acceleration 0,0,-1 --heading 90 \
  --location-track "$(dirname "$0")/../../examples/tracks/embankment.txt" --run-seconds 30 --until "hello: done" \
  "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status for the README's run"
expect "hello: acceleration: 0, 0, 9.81"
expect "hello: fix 3: "
expect "hello: camera: hbr_photo_001.jpg, fitted into 320x320"
expect "hello: done"
expect_clean_run
newlog
"$harbor" --web-backend headless --untill "hello: done" "$bundle" >"$log" 2>&1
[ $? -eq 2 ] || fail "a mistyped option is not refused with status 2"
expect "harbor: unknown option --untill; did you mean --until?"
expect "Run harbor --help for the options."
if grep -qF "Usage:" "$log"; then fail "an argument error prints the whole help"; fi

echo "harbor smoke test passed"
