#!/bin/sh
# The runner on WebKit against hostile pages, on its private display: downloads the page starts
# write nothing (HOME points at a scratch folder that must stay empty), a page that allocates
# without end has its content process ended and is reloaded a bounded number of times before the
# error page shows, long addresses (the page's, a frame's, and a frame's held by every history
# entry), many addresses in a short time, huge console lines, dialogs and refused addresses leave
# the runner small and reach the log cut, a console flood is kept to the log's rate, and window.print() does not stop the runner
# from stopping. Both engines each time.
#   webkit-sandbox.sh <harbor executable> <sample bundle folder> <record-server> <scratch folder>
set -u
harbor=$1
sample=$2
recordserver=$3
work=$4
. "$(dirname "$0")/log-checks.sh"
start_without_display
mkdir -p "$work/user-home"
newlog
# Whatever WebKit or a library beneath it would write into the user's folders lands here.
export HOME="$work/user-home"
unset XDG_CACHE_HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_DOWNLOAD_DIR

# A loopback server that records every request.
start_record_server 600

# bundle <name> <page body> [extra config.xml lines]: a bundle whose start page is the HTML,
# with an error page that says it showed.
bundle() {
  b="$work/$1"
  write_bundle "$b" "$1" "$1" "<preference name=\"ErrorUrl\" value=\"error.html\" /> ${3:-}"
  printf '<!doctype html><meta charset="utf-8"><body>%s</body>\n' "$2" >"$b/www/index.html"
  printf '%s\n' '<!doctype html><script>console.log("sandbox: error page shown");</script>' >"$b/www/error.html"
}

# run <bundle> [options]: one bounded run with a home of its own.
run() { run_webkit 120 "$@"; }

nothing_in_home() {
  left=$(find "$HOME" -mindepth 1 | head -n 5)
  [ -z "$left" ] || fail "written into the user's home: $left"
}

# Downloads: a link with the download attribute to a file of the bundle, to a file outside the
# sandbox, to data: and blob: URLs, and responses a browser would download. None is written.
echo "outside the sandbox" >"$work/outside.txt"
bundle downloads "<iframe name=\"sink1\"></iframe><iframe name=\"sink2\"></iframe><iframe name=\"sink3\"></iframe>
<iframe name=\"sink4\"></iframe>
<a id=\"bundle\" target=\"sink1\" download=\"saved.txt\" href=\"data.txt\">bundle</a>
<a id=\"outside\" target=\"sink2\" download href=\"file://$work/outside.txt\">outside</a>
<a id=\"data\" target=\"sink3\" download=\"d.txt\" href=\"data:text/plain,hello\">data</a>
<a id=\"blob\" target=\"sink4\" download=\"b.txt\">blob</a>
<script>
document.getElementById('blob').href = URL.createObjectURL(new Blob(['blob text']));
var links = ['bundle', 'outside', 'data', 'blob'];
var frames = ['$origin/attachment', '$origin/octet'];
links.forEach(function (id, i) { setTimeout(function () { document.getElementById(id).click(); }, 100 * i); });
frames.forEach(function (url) { var f = document.createElement('iframe'); f.src = url; document.body.appendChild(f); });
setTimeout(function () { location.href = '$origin/attachment'; }, 600);
setTimeout(function () { console.log('sandbox: downloads tried'); }, 1500);
</script>" "<allow-navigation href=\"$origin/*\" />"
echo "bundle data" >"$work/downloads/www/data.txt"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  : >"$work/requests"
  # Each refusal comes when WebKit gets to it: waited for, line by line, then the run is stopped.
  newlog
  timeout -s KILL 120 "$harbor" --home "$work/home.$runs" --web-backend webkit --engine "$engine" --run-seconds 100 \
    "$work/downloads" 2>"$log" &
  pid=$!
  wait_for "$pid" "sandbox: downloads tried"
  wait_for "$pid" "WebKit: did not download $origin/attachment (an attachment): pages download with the File Transfer plugin"
  wait_for "$pid" "WebKit: did not download $origin/octet (of type application/octet-stream)"
  wait_for "$pid" "WebKit: a page may not read file://$work/outside.txt"
  kill -TERM "$pid"
  wait "$pid"
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status for the downloads under $engine"
  grep -q "GET /attachment" "$work/requests" || fail "the attachment was never asked for under $engine"
  nothing_in_home
  if find "$work/home.$runs" -name 'saved.txt' -o -name 'd.txt' -o -name 'b.txt' | grep -q .; then
    fail "a download was saved in the sandbox home under $engine"
  fi
done

# A page that allocates without end, in one loop that never returns to its event loop: its
# content process is ended at the limit, the page reloaded three times, then the error page.
bundle bomb '<script>
console.log("sandbox: bomb loaded");
setTimeout(function () { var keep = []; for (;;) keep.push(new Array(1e6).fill(Math.random())); }, 100);
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/bomb" --engine "$engine" --web-memory-limit 320 --run-seconds 110 --until "sandbox: error page shown"
  [ "$status" -eq 0 ] || fail "exit status $status for the memory bomb under $engine"
  expect "WebKit: the page's content process exceeded its memory limit; reloading the page"
  expect "(3 reloads within a minute already); the page is not reloaded, its load fails"
  expect "sandbox: error page shown"
  reloads=$(grep -c "reloading the page" "$log")
  [ "$reloads" -eq 3 ] || fail "$reloads reloads under $engine, not 3"
  nothing_in_home
done

# run_until_small <bundle> <engine> <line> [tenths of a second]: runs the bundle until its log
# shows the line (30 s at most unless told), then stops the runner, failing when the runner's
# memory peaked past 400 MiB on the way (the runner is the child `timeout` started), or when a
# log line is longer than the cut page texts make.
run_until_small() {
  newlog
  timeout -s KILL 120 "$harbor" --home "$work/home.$runs" --web-backend webkit --engine "$2" --run-seconds 100 \
    "$1" 2>"$log" &
  pid=$!
  wait_for "$pid" "$3" "${4:-300}"
  peak=$(runner_peak "$pid")
  kill -TERM "$pid"
  wait "$pid"
  [ -n "$peak" ] || fail "no peak read for the runner"
  [ "$peak" -lt 409600 ] || fail "the runner's memory peaked at $peak kB under $2, over 400 MiB"
  longest=$(awk '{ if (length($0) > n) n = length($0) } END { print n }' "$log")
  [ "$longest" -lt 20000 ] || fail "a log line of $longest characters under $2"
}

# A page that sets long fragments in a loop: WebKit's UI side, the runner, would keep many copies
# of each (200 of 2 MiB took it past 3 GB); the page's process ends once its last addresses hold
# 4 MiB, the page is reloaded three times, then the error page shows, and the runner stays small.
bundle addresses '<script>
setTimeout(function () {
  var long = "x".repeat(2 * 1024 * 1024 - 100);
  for (var i = 0; i < 200; i++) location.hash = i + long;
  console.log("sandbox: every fragment set");
}, 100);
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run_until_small "$work/addresses" "$engine" "sandbox: error page shown"
  expect "WebKit: the page's last addresses hold"
  expect "(3 reloads within a minute already); the page is not reloaded, its load fails"
  ! grep -qF "sandbox: every fragment set" "$log" || fail "every fragment was set under $engine"
done

# The same on a frame: 200 fragments of 2 MiB set on an empty frame, whose address the filter
# refuses, each refusal logged. The runner stays small, and no address is logged whole.
bundle frameaddresses '<iframe id="blank"></iframe><script>
window.onload = function () { setTimeout(function () {
  var long = "x".repeat(2 * 1024 * 1024 - 100), frame = document.getElementById("blank").contentWindow;
  for (var i = 0; i < 200; i++) frame.location.hash = i + long;
  console.log("sandbox: every fragment set");
}, 100); };
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run_until_small "$work/frameaddresses" "$engine" "(3 reloads within a minute already); the page is not reloaded"
  expect "WebKit: the page's last addresses hold"
  expect "WebKit: the page's content process was ended for its addresses; reloading the page"
  expect "ERROR Internal navigation rejected - <allow-navigation> not set for url='about:blank#0xxx"
  ! grep -qF "sandbox: every fragment set" "$log" || fail "every fragment was set on a frame under $engine"
  expect_size_below 500000
done

# A frame with a long address, then short fragments of the page: every history entry of the page
# holds the frame's address too.
bundle heldbyframes '<iframe id="f" src="frame.html?'"$(head -c 1048576 /dev/zero | tr '\0' x)"'"></iframe><script>
document.getElementById("f").onload = function () { setTimeout(function () {
  for (var i = 0; i < 100; i++) location.hash = "n" + i;
  console.log("sandbox: every fragment set");
}, 100); };
</script>'
printf '%s\n' '<!doctype html><script>document.title = "frame";</script>' >"$work/heldbyframes/www/frame.html"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run_until_small "$work/heldbyframes" "$engine" "(3 reloads within a minute already); the page is not reloaded"
  expect "WebKit: the page's last addresses hold"
  ! grep -qF "sandbox: every fragment set" "$log" || fail "every fragment was set beside a long frame under $engine"
done

# Many navigations in a short time: the page's process does not wait for the runner, so a page
# that navigates in a loop runs ahead of it, and WebKit holds in the runner all it has sent and
# the runner has not yet taken in (3000 fragments of 40 KB took it past 1 GB, 40000 of 1 KB on a
# frame to 1.5 GB, though the last 100 of either held less than 4 MiB). The page's process is held
# until the runner catches up, the addresses of the last ten seconds count too, and the runner
# stays small.
bundle manyaddresses '<script>
setTimeout(function () {
  var long = "x".repeat(40000);
  for (var i = 0; i < 3000; i++) location.hash = i + long;
  console.log("sandbox: every fragment set");
}, 100);
</script>'
bundle manyframeaddresses '<iframe id="blank"></iframe><script>
window.onload = function () { setTimeout(function () {
  var long = "x".repeat(1000), frame = document.getElementById("blank").contentWindow;
  for (var i = 0; i < 40000; i++) frame.location.hash = i + long;
  console.log("sandbox: every fragment set");
}, 100); };
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run_until_small "$work/manyaddresses" "$engine" "(3 reloads within a minute already); the page is not reloaded"
  expect "WebKit: the page's addresses of the last 10 seconds hold"
  ! grep -qF "sandbox: every fragment set" "$log" || fail "3000 fragments of 40 KB were set under $engine"
  run_until_small "$work/manyframeaddresses" "$engine" "(3 reloads within a minute already); the page is not reloaded"
  expect "WebKit: the page's addresses of the last 10 seconds hold"
  expect "WebKit: the page's content process was ended for its addresses; reloading the page"
  ! grep -qF "sandbox: every fragment set" "$log" || fail "40000 fragments were set on a frame under $engine"
done

# WebKit keeps in the runner what it made for a frame's navigation that was refused until the
# page's process ends: refusals of 40 KB addresses, nine a second, within the other bounds, end
# the process once their addresses hold 16 MiB.
bundle refusedaddresses '<iframe id="blank"></iframe><script>
window.onload = function () {
  var long = "x".repeat(40000), frame = document.getElementById("blank").contentWindow, i = 0;
  setInterval(function () { frame.location.hash = i++ + long; }, 111);
};
</script>'
# An ordinary page: its fragment changed ten times a second for longer than the ten seconds that
# count, and a few changes beside a frame of 1 MiB; it is neither held for long nor ended.
bundle ordinaryaddresses '<script>
var i = 0, timer = setInterval(function () {
  location.hash = "step" + i + "x".repeat(2000);
  if (++i < 150) return;
  clearInterval(timer);
  var frame = document.createElement("iframe");
  frame.onload = function () {
    for (var k = 0; k < 3; k++) history.pushState(null, "", "#pushed" + k);
    console.log("sandbox: ordinary page done");
  };
  frame.src = "frame.html?'"$(head -c 1048576 /dev/zero | tr '\0' x)"'";
  document.body.appendChild(frame);
}, 100);
</script>'
printf '%s\n' '<!doctype html><script>document.title = "frame";</script>' >"$work/ordinaryaddresses/www/frame.html"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run_until_small "$work/refusedaddresses" "$engine" "WebKit: the page's content process was ended for its addresses; reloading the page" 900
  expect "WebKit: the page's refused navigations hold"
  ! grep -qF "addresses of the last 10 seconds hold" "$log" || fail "the refusals were ended by their rate under $engine"
  run_until_small "$work/ordinaryaddresses" "$engine" "sandbox: ordinary page done" 600
  ! grep -qF "content process" "$log" || fail "an ordinary page's process was ended under $engine"
done

# One 128 MiB console line: cut in the page, with what was cut counted; the line after it is
# logged whole; the runner itself stays small.
bundle loud '<script>
console.log("x".repeat(128 * 1024 * 1024));
console.log("sandbox: after the long line");
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run_until_small "$work/loud" "$engine" "sandbox: after the long line"
  expect "... (134201344 more characters cut)"
done

# The page's other texts: a 128 MiB alert of the page and of a frame, a prompt with a 128 MiB
# default, a 250 MiB line to the Console plugin and a 2 MiB line past its page module, and a
# navigation to a 3 MiB address the filter refuses. Each reaches the runner cut, and the
# runner stays small.
bundle texts '<iframe id="f"></iframe><script src="harbor.js"></script>
<script src="plugins/harbor-plugin-console/console.js"></script><script>
var huge = "x".repeat(128 * 1024 * 1024);
document.addEventListener("deviceready", function () {
  alert(huge);
  document.getElementById("f").contentWindow.alert(huge);
  prompt("name?", huge);
  harbor.require("harbor-plugin-console.console");
  console.log("y".repeat(250 * 1024 * 1024));
  harbor.exec(null, null, "Console", "logLevel", ["INFO", "z".repeat(2 * 1024 * 1024)]);
  setTimeout(function () {
    location.href = "https://example.invalid/?" + "w".repeat(3 * 1024 * 1024);
    setTimeout(function () { console.log("sandbox: texts shown"); }, 500);
  }, 100);
});
</script>' '<feature name="Console"><param name="ios-package" value="HBRLogger" /></feature>'
mkdir -p "$work/texts/www/plugins"
cp -R "$sample/www/plugins/harbor-plugin-console" "$work/texts/www/plugins/"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run_until_small "$work/texts" "$engine" "sandbox: texts shown"
  alerts=$(grep -c "^harbor: alert " "$log")
  [ "$alerts" -eq 3 ] || fail "$alerts dialogs shown under $engine, not 3"
  expect "console.log: yyyy"
  grep -q "^yyyy.* more characters cut)$" "$log" || fail "no cut line of the Console plugin under $engine"
  expect "INFO: zzzz"
  expect "... (2080768 more characters cut)"
  expect "ERROR Internal navigation rejected - <allow-navigation> not set for url='https://example.invalid/?www"
  expect "... (3129369 more characters cut)'"
done

# A page that floods its console: the log keeps to its rate and says how many lines it dropped;
# the run still ends on the --until text logged in the flood, and stops cleanly.
bundle flood '<script>
var line = "f".repeat(8000), started = Date.now();
(function burst() {
  for (var i = 0; i < 2000; i++) console.log(line);
  if (Date.now() - started < 3000) setTimeout(burst, 0); else console.log("sandbox: flood over");
})();
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/flood" --engine "$engine" --run-seconds 100 --until "sandbox: flood over"
  [ "$status" -eq 0 ] || fail "exit status $status after the flood under $engine"
  expect "console.log: sandbox: flood over"
  expect "lines dropped"
  expect "harbor: stopped"
  expect_size_below 16000000
done

# window.print(): cancelled at once; the page goes on and the runner still stops when told.
bundle print '<script>
window.print();
console.log("sandbox: printed");
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/print" --engine "$engine" --run-seconds 3
  [ "$status" -eq 0 ] || fail "exit status $status after print under $engine"
  expect "WebKit: the page asked to print: cancelled (printing is not offered)"
  expect "sandbox: printed"
  expect "harbor: terminating: --run-seconds 3 elapsed"
  expect "harbor: stopped"
done

# The bridge's answers and events are no person's act: the page sees no user activation in
# them (WebKit gave every script the container evaluated one). And what the Clipboard plugin
# copies pastes back whole, NUL and line ends included, while the pasteboard stands on the
# pages' clipboard.
bundle bridge '<script src="harbor.js"></script><script src="plugins/harbor-plugin-clipboard/clipboard.js"></script>
<script>
document.addEventListener("deviceready", function () {
  var seen = "deviceready " + navigator.userActivation.isActive;
  var clipboard = harbor.require("harbor-plugin-clipboard.clipboard");
  clipboard.copy("a\u0000b\r\nc", function (copied) {
    seen += ", answer " + navigator.userActivation.isActive;
    clipboard.paste(function (pasted) {
      seen += ", ever " + navigator.userActivation.hasBeenActive;
      console.log("sandbox: " + seen + "; pasted " + JSON.stringify(pasted) + " after copying " + JSON.stringify(copied));
    });
  }, function (e) { console.log("sandbox: copy failed " + e); });
});
</script>' '<feature name="Clipboard"><param name="ios-package" value="HBRClipboard" /></feature>'
mkdir -p "$work/bridge/www/plugins"
cp -R "$sample/www/plugins/harbor-plugin-clipboard" "$work/bridge/www/plugins/"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/bridge" --engine "$engine" --run-seconds 60 --until "sandbox: "
  [ "$status" -eq 0 ] || fail "exit status $status for the bridge under $engine"
  expect 'sandbox: deviceready false, answer false, ever false; pasted "a\u0000b\r\nc" after copying "a\u0000b\r\nc"'
done

nothing_in_home
echo "harbor WebKit sandbox test passed"
