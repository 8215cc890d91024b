#!/bin/sh
# Runs the harbor executable on hostile bundles: pages that never stop, timers that multiply, a
# start page of a gigabyte, command batches with half a surrogate pair, page text that tries to
# forge log lines, and a large ArrayBuffer argument. Each run ends within a bound of its own.
#   harbor-hostile.sh <harbor executable> <sample bundle folder> <scratch folder> [unmeasured]
# "unmeasured" skips the bounds on peak memory (for sanitizer builds, whose peaks mean nothing).
set -u
harbor=$1
sample=$2
work=$3
memory=${4:-measured}
rm -rf "$work"
mkdir -p "$work"

. "$(dirname "$0")/log-checks.sh"
newlog

# Runs harbor on the bundle $1 until its log has a line with $2, reads its peak resident memory
# (KiB) into $peak, then stops it with SIGTERM, which must end it with status 0.
peak_at() {
  "$harbor" --web-backend headless --home "$work/home" "$1" 2>"$log" &
  pid=$!
  wait_for "$pid" "$2"
  peak=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
  kill -TERM "$pid"
  wait "$pid"
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
}

# bundle <name> <page body>: a bundle whose start page is the given HTML, with harbor.js and the
# plugins the pages below call.
bundle() {
  b="$work/$1"
  mkdir -p "$b/www"
  cat >"$b/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>org.harbor.hostile</string></dict></plist>
PLIST
  cat >"$b/config.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.harbor.hostile" version="1.0.0">
  <content src="index.html" />
  <preference name="BackupWebStorage" value="local" />
  <feature name="LocalStorage"><param name="ios-package" value="HBRLocalStorage" /></feature>
  <feature name="Device"><param name="ios-package" value="HBRDevice" /></feature>
  <feature name="Clipboard"><param name="ios-package" value="HBRClipboard" /></feature>
</widget>
XML
  cp "$sample/www/harbor.js" "$b/www/harbor.js"
  printf '%s\n' "$2" >"$b/www/index.html"
}

run() {
  timeout -s KILL 60 "$harbor" --web-backend headless --home "$work/home" "$@" 2>"$log"
}

# A page that never returns is stopped by the run time, and by one SIGTERM; termination then
# runs as usual and the runner exits with 0.
bundle spin '<script>console.log("spinning"); while (true) {}</script>'
run --run-seconds 1 "$work/spin"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status for an endless page and --run-seconds"
expect "console.log: spinning"
expect "harbor: terminating: --run-seconds 1 elapsed"
expect "harbor: stopped"

newlog
"$harbor" --web-backend headless --home "$work/home" "$work/spin" 2>"$log" &
pid=$!
wait_for "$pid" "console.log: spinning"
kill -TERM "$pid"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status after one SIGTERM to an endless page"
expect "harbor: terminating: received SIGTERM"
expect "harbor: stopped"

# Timers that each start two more: termination stops them and ends.
newlog
bundle storm '<script>
var fired = 0;
function grow() { if (++fired === 1000) console.log("storm: growing"); setTimeout(grow, 0); setTimeout(grow, 0); }
grow();
</script>'
run --run-seconds 1 "$work/storm"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status for a timer storm"
expect "storm: growing"
expect "harbor: stopped"

# A sparse start page of a gigabyte is refused at the size limit without being read whole.
newlog
bundle huge ''
rm -f "$work/huge/www/index.html"
truncate -s 1G "$work/huge/www/index.html"
peak_at "$work/huge" "Failed to load webpage with error: resource exceeds maximum size"
[ "$memory" = unmeasured ] || [ "$peak" -lt 204800 ] || fail "refusing a 1 GB start page took $peak KiB"

# Half a surrogate pair in one argument loses nothing else of its batch, under either engine.
bundle surrogate '<script src="harbor.js"></script><script>
document.addEventListener("deviceready", function () {
  var answers = 0;
  function answer(what) {
    return function () {
      console.log("surrogate: " + what + " answered");
      if (++answers === 3) console.log("surrogate: done");
    };
  }
  harbor.exec(answer("first"), answer("first failed"), "Device", "getDeviceInfo", []);
  harbor.exec(answer("cut"), answer("cut failed"), "Clipboard", "copy", ["cut \ud83d emoji"]);
  harbor.exec(answer("last"), answer("last failed"), "Device", "getDeviceInfo", []);
});
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  newlog
  run --engine "$engine" --run-seconds 10 --until "surrogate: done" "$work/surrogate"
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status for a lone surrogate under $engine"
  expect "surrogate: first answered"
  expect "surrogate: cut answered"
  expect "surrogate: last answered"
done

# Names and console text from the page cannot forge the runner's lines nor cut one short.
newlog
bundle forge '<script src="harbor.js"></script><script>
document.addEventListener("deviceready", function () {
  function nothing() {}
  harbor.exec(nothing, nothing, "Nope\nharbor: alert \u0027forged\u0027 [OK] -> OK", "x", []);
  harbor.exec(nothing, nothing, "Cut\u0000Short", "x", []);
  console.log("page\nharbor: alert \u0027forged by the console\u0027 [OK] -> OK");
  setTimeout(function () { console.log("forge: done"); }, 10);
});
</script>'
run --run-seconds 10 --until "forge: done" "$work/forge"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status for a page forging log lines"
if grep -q "^harbor: alert 'forged" "$log"; then fail "the page forged a line of the runner's"; fi
expect "ERROR: Plugin 'Nope\\nharbor: alert 'forged' [OK] -> OK' not found"
expect "ERROR: Plugin 'Cut\\x00Short' not found"
expect "console.log: page\\nharbor: alert 'forged by the console' [OK] -> OK"

# An ArrayBuffer argument costs the page a few times its size, not dozens: the peak with a
# 37.5 MB buffer encoded for the bridge, against the peak with the buffer alone.
arraybuffer_peak() {
  newlog
  bundle "buffer$1" "<script src=\"harbor.js\"></script><script>
var buffer = new Uint8Array(39321600);
for (var i = 0; i < buffer.length; i += 4096) buffer[i] = i & 255;
var text = $1 ? harbor.require('harbor/base64').fromArrayBuffer(buffer) : '';
console.log('buffer: encoded ' + text.length);
</script>"
  peak_at "$work/buffer$1" "buffer: encoded "
}
arraybuffer_peak 0
bare=$peak
arraybuffer_peak 1
expect "buffer: encoded 52428800"
[ "$memory" = unmeasured ] || [ $((peak - bare)) -lt 153600 ] ||
  fail "Base64 of a 37.5 MB buffer took $((peak - bare)) KiB more"

echo "harbor hostile pages test passed"
