#!/bin/sh
# The runner on WebKit against pages whose commands the container cannot read, or cannot read in
# time, under both web view engines: every command whose callback id can be read is answered once
# (an error naming why where it cannot be carried out), one such command takes none of its
# neighbours with it, and the runner's own memory stays small however the page sends them.
#   webkit-bridge.sh <harbor executable> <sample bundle folder> <scratch folder>
set -u
harbor=$1
sample=$2
work=$3
. "$(dirname "$0")/log-checks.sh"
start_without_display

# app <name> <script>: the sample bundle (its configuration maps every plugin) with a page that
# runs the script once the bridge is ready; say() logs a line the test waits for.
app() {
  rm -rf "$work/$1"
  cp -R "$sample" "$work/$1"
  cat >"$work/$1/www/index.html" <<HTML
<!DOCTYPE html>
<html><head><meta charset="utf-8"><script src="harbor.js"></script><script>
function say(text) { console.log('bridge: ' + text); }
function answer(name) {
  return [function () { say(name + ' answered'); },
          function (e) { say(name + ' failed: ' + (typeof e === 'string' ? e : JSON.stringify(e))); }];
}
function call(name, service, action, args) {
  var a = answer(name);
  harbor.exec(a[0], a[1], service, action, args);
}
document.addEventListener('deviceready', function () {
$2
}, false);
</script></head><body></body></html>
HTML
}

# run_small <bundle> <engine> <line> [peak in KiB]: runs the bundle until its log shows the line,
# then stops the runner, failing when the runner's memory peaked past the bound on the way.
run_small() {
  newlog
  timeout -s KILL 170 "$harbor" --home "$work/home.$runs" --web-backend webkit --engine "$2" --run-seconds 150 \
    "$1" 2>"$log" &
  pid=$!
  wait_for "$pid" "$3" 1200
  peak=$(runner_peak "$pid")
  kill -TERM "$pid"
  wait "$pid"
  [ -n "$peak" ] || fail "no peak read for the runner"
  echo "runner peak under $2 for $(basename "$1"): $peak kB"
  [ "$peak" -lt "${4:-614400}" ] || fail "the runner's memory peaked at $peak kB under $2, over ${4:-614400} kB"
}

# once <text>: the log has exactly one line with the text.
once() {
  n=$(grep -cF -- "$1" "$log")
  [ "$n" -eq 1 ] || fail "$n lines with: $1"
}

# A notification schedule nested 600 levels deep, sent in the same turn as two ordinary calls:
# the two are answered, the deep one fails with why.
app deep "
var deep = 1;
for (var i = 0; i < 600; i++) deep = [deep];
call('device', 'Device', 'getDeviceInfo', []);
call('deep', 'LocalNotification', 'schedule', [{ id: 1, data: deep }]);
call('clipboard', 'Clipboard', 'copy', ['text']);
setTimeout(function () { say('settled'); }, 1500);"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run_small "$work/deep" "$engine" "bridge: settled"
  once "bridge: device answered"
  once "bridge: clipboard answered"
  once "bridge: deep failed: The command cannot be read: "
  grep -F "bridge: deep failed" "$log" | grep -qF "deeper than 512 levels" || fail "the deep call's error names no reason"
  expect "ERROR: Cannot read the command LocalNotification.schedule ("
done

# Arguments past the bounds on values (2^22) and on text as the runner holds it (200 MiB of
# U+0001: 1.2 GB once written as JSON): answered with why, and the runner stays small. A call
# after them is answered as usual. The long text is posted as it is: harbor.js would write it as
# JSON in the page first, past the page's own memory limit. WebKit's own copies of the message in
# the runner (some 600 MiB) come before anything of ours runs; they took 5.3 GB with the escaped
# form read.
app bounds "
var many = [];
many.length = 4194304;
call('many', 'Clipboard', 'copy', [many]);
var exec = harbor.require('harbor/exec'), nativeCallback = exec.nativeCallback;
exec.nativeCallback = function (id, status, message) {
  if (id === 'Text1') say('text answered ' + status + ': ' + message);
  return nativeCallback.apply(this, arguments);
};
window.webkit.messageHandlers.harbor.postMessage(['Text1', 'Clipboard', 'copy', ['\\u0001'.repeat(200 * 1024 * 1024)]]);
call('after', 'Device', 'getDeviceInfo', []);
setTimeout(function () { say('settled'); }, 1500);"
run_small "$work/bounds" HBRWKWebViewEngine "bridge: settled" 1572864
once "bridge: many failed: The command cannot be read: it holds more than 4194304 values"
once "bridge: text answered 8: The command cannot be read: it holds more than 256 MiB of text"
once "bridge: after answered"

# A callback that keeps the page busy past the UIWebView engine's wait (10 s): the call it makes
# meanwhile still reaches its plugin and is answered.
app slow "
call('first', 'Device', 'getDeviceInfo', []);
harbor.exec(function () {
  var end = Date.now() + 11000;
  while (Date.now() < end) {}
  call('inside', 'Device', 'getDeviceInfo', []);
  say('long callback done');
}, null, 'Device', 'getDeviceInfo', []);"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run_small "$work/slow" "$engine" "bridge: inside answered"
  once "bridge: long callback done"
  once "bridge: inside answered"
done

# A page posting 1 KiB messages in a loop for 20 s (a million of them and more): WebKit would
# hold in the runner whatever the container has not run yet (1.2 GB by the end); the page is held
# to 10000 waiting, the surplus dropped in the page and logged, and the runner stays small.
app flood "
setTimeout(function () {
  var payload = 'x'.repeat(1000), n = 0, h = window.webkit.messageHandlers.harbor;
  for (var end = Date.now() + 20000; Date.now() < end; n++) h.postMessage(['INVALID', 'Device', 'getDeviceInfo', [payload]]);
  say('flood done');
  setTimeout(function () { say('settled'); }, 2000);
}, 200);"
run_small "$work/flood" HBRWKWebViewEngine "bridge: settled" 512000
expect "WebKit: the page posts script messages faster than the container runs them; 10000 wait"
expect "script messages of the page were dropped while the container caught up"

# The same through harbor.js, with callbacks: every call is answered once, by its plugin or, when
# it was dropped, with why. The calls are made in one turn of the page, which hears nothing of
# what the container has run until it returns: past the 10000 a page may have waiting, calls are
# dropped however fast the container runs them.
app calls "
setTimeout(function () {
  var sent = 0, answered = 0, dropped = 0, other = 0;
  function check() {
    if (answered + dropped + other < sent) return;
    say('calls ' + sent + ' sent, all answered once: ' + (answered + dropped + other === sent) +
        ', dropped ' + (dropped > 0) + ', other ' + other);
  }
  for (; sent < 12000; sent++) {
    harbor.exec(function () { answered++; check(); }, function (e) {
      if (/^The command was dropped: /.test(e)) dropped++; else other++;
      check();
    }, 'Device', 'getDeviceInfo', []);
  }
}, 200);"
run_small "$work/calls" HBRWKWebViewEngine "sent, all answered once"
expect "all answered once: true, dropped true, other 0"

echo "harbor WebKit bridge test passed"
