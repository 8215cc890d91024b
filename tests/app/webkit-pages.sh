#!/bin/sh
# Runs pages on WebKit as users write them, on the runner's private display: real libraries
# (jQuery and an ES module) changing the document, the whitelist refusing a navigation out of the
# application, the runner answering the page's dialogs (and leaving a page that asks to stay), a
# page that never returns stopped, an hbrfile URL of a missing file, start pages that do not come
# up, and a screenshot showing the colour the page's CSS gives an element. Then the private
# display itself: gone after every run, also after a kill, and a clear refusal when none can be
# started.
#   webkit-pages.sh <harbor executable> <sample bundle folder> <test bundles folder> <png-pixel> <scratch folder>
set -u
harbor=$1
sample=$2
bundles=$3
pngpixel=$4
work=$5
. "$(dirname "$0")/log-checks.sh"
start_without_display
newlog

# copy <name>: the test bundle of that name with the container's page script.
copy() {
  cp -R "$bundles/$1" "$work/$1"
  cp "$sample/www/harbor.js" "$work/$1/www/harbor.js"
}

# bundle <name> <display name> <page body>: a bundle whose start page is the given HTML.
bundle() {
  b="$work/$1"
  write_bundle "$b" "$1" "$2" '<allow-intent href="https://*/*" />'
  printf '%s\n' "$3" >"$b/www/index.html"
}

# run <bundle> [options]: one bounded run with a home of its own.
run() { run_webkit 90 "$@"; }

# Real libraries: jQuery builds a list, a module importing nanoid and a module of the page's own
# rewrites a paragraph, and the page's checks of what a browser offers all pass.
copy libraries
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/libraries" --engine "$engine" --run-seconds 60 --until "libraries: done"
  [ "$status" -eq 0 ] || fail "exit status $status for the libraries page under $engine"
  expect "libraries: jquery 3.8.0 built 3 items, the last \"three\""
  expect "libraries: module: the note says \"changed by a module\", its id has 12 characters"
  expect "libraries: checks: 13 of 13 pass"
  expect "libraries: the document now lists one, two, three and says \"changed by a module\""
done
# The bridge answers there too.
run "$work/libraries" --run-seconds 60 --until "libraries: bridge: "
[ "$status" -eq 0 ] || fail "exit status $status waiting for the bridge on the libraries page"
expect "libraries: bridge: device iOS"

# The whitelist: a page in the bundle may be opened, a site outside may not.
bundle whitelist Whitelist '<script>console.log("whitelist: first page"); location.href = "second.html";</script>'
printf '%s\n' '<script>
console.log("whitelist: second page");
location.href = "https://example.com/outside";
setTimeout(function () { console.log("whitelist: still on " + location.pathname.split("/").pop()); }, 500);
</script>' >"$work/whitelist/www/second.html"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/whitelist" --engine "$engine" --run-seconds 60 --until "whitelist: still on"
  [ "$status" -eq 0 ] || fail "exit status $status for the whitelist page under $engine"
  expect "whitelist: first page"
  expect "whitelist: second page"
  expect "ERROR Internal navigation rejected - <allow-navigation> not set for url='https://example.com/outside'"
  expect "whitelist: still on second.html"
done

# The page's own dialogs, answered by the runner: first the first button and the default text,
# then the second button with a text typed in.
bundle dialogs "Dialog Test" '<script>
window.onload = function () {
  alert("Hello from the page");
  var sure = confirm("Carry on?");
  var name = prompt("Your name?", "Harbor");
  console.log("dialogs: confirm " + sure + ", prompt " + JSON.stringify(name));
};
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/dialogs" --engine "$engine" --run-seconds 60 --until "dialogs: confirm"
  [ "$status" -eq 0 ] || fail "exit status $status for the dialogs under $engine"
  expect "harbor: alert 'Dialog Test' 'Hello from the page' [OK] -> OK"
  expect "harbor: alert 'Dialog Test' 'Carry on?' [OK, Cancel] -> OK"
  expect "harbor: alert 'Dialog Test' 'Your name?' [OK, Cancel] -> OK with 'Harbor'"
  expect "dialogs: confirm true, prompt \"Harbor\""
  run "$work/dialogs" --engine "$engine" --dialog-button 2 --dialog-text Ada --run-seconds 60 --until "dialogs: confirm"
  [ "$status" -eq 0 ] || fail "exit status $status for the dialogs answered with Cancel under $engine"
  expect "harbor: alert 'Dialog Test' 'Carry on?' [OK, Cancel] -> Cancel"
  expect "harbor: alert 'Dialog Test' 'Your name?' [OK, Cancel] -> Cancel with 'Ada'"
  expect "dialogs: confirm false, prompt null"
done

# A page that asks to stay before it unloads, from a call of the container's: the page is left and
# the runner lives on. WebKit shows a before-unload dialog only to a page the user has acted on,
# and the container's calls carry no user's gesture, so no dialog comes here (one would mean that
# the container had given the page a gesture), and the runner has no way to tap the page: the
# dialog itself, which once took the runner down with it, is left under the in-process test
# WebKitEngineTest.APageAskingToStayBeforeItUnloadsIsLeft, which taps.
write_bundle "$work/unload" unload Unload '<feature name="Device"><param name="ios-package" value="HBRDevice" /></feature>'
printf '%s\n' '<!doctype html><script src="harbor.js"></script><script>
document.addEventListener("deviceready", function () {
  harbor.require("harbor/exec")(function () {
    window.onbeforeunload = function () { return "stay"; };
    location.href = "next.html";
  }, function (e) { console.log("unload: no device " + e); }, "Device", "getDeviceInfo", []);
});
</script>' >"$work/unload/www/index.html"
printf '%s\n' '<!doctype html><script>console.log("unload: left for " + location.pathname.split("/").pop());</script>' \
  >"$work/unload/www/next.html"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/unload" --engine "$engine" --run-seconds 60 --until "unload: left for"
  [ "$status" -eq 0 ] || fail "exit status $status for a page asking to stay under $engine"
  expect "unload: left for next.html"
  ! grep -qF "before-unload dialog" "$log" || fail "WebKit asked before unloading a page nobody acted on, under $engine"
done

# A page that never returns is stopped by the run time and by SIGTERM; termination runs.
bundle spin Spin '<script>console.log("spin: spinning"); while (true) {}</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/spin" --engine "$engine" --run-seconds 3
  [ "$status" -eq 0 ] || fail "exit status $status for an endless page and --run-seconds under $engine"
  expect "harbor: terminating: --run-seconds 3 elapsed"
  expect "harbor: stopped"

  # SIGTERM through `timeout`, which sends it to harbor and again to its process group (WebKit's
  # processes included): one request, and termination runs.
  newlog
  timeout -s KILL 90 "$harbor" --home "$work/home.$runs" --web-backend webkit --engine "$engine" "$work/spin" 2>"$log" &
  pid=$!
  wait_for "$pid" "spin: spinning"
  kill -TERM "$pid"
  wait "$pid"
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status after SIGTERM to an endless page under $engine"
  expect "harbor: terminating: received SIGTERM"
  expect "harbor: stopped"

  # A second SIGTERM right behind the first is the same request, not a demand to end at once.
  newlog
  "$harbor" --home "$work/home.$runs" --web-backend webkit --engine "$engine" "$work/spin" 2>"$log" &
  pid=$!
  # Bounded: killed after 90 s; the watch ends with harbor.
  (n=0; while kill -0 "$pid" 2>/dev/null; do
     n=$((n + 1)); [ "$n" -le 900 ] || { kill -KILL "$pid"; break; }; sleep 0.1
   done) >/dev/null 2>&1 &
  wait_for "$pid" "spin: spinning"
  kill -TERM "$pid"
  wait_for "$pid" "harbor: terminating: received SIGTERM"
  kill -TERM "$pid" 2>/dev/null
  wait "$pid"
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status after two SIGTERMs together under $engine"
  expect "harbor: stopped"
done

# An hbrfile URL of a file that is not there answers 404, through WebKit's custom scheme under
# either engine, and through the headless engine's loading.
bundle hbrfile Hbrfile '<script>
var request = new XMLHttpRequest();
request.onloadend = function () { console.log("hbrfile: a missing file answers " + request.status); };
request.open("GET", "hbrfile://localhost/temporary/never-written.txt");
request.send();
</script>'
cat >"$work/hbrfile/config.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.harbor.test.hbrfile" version="1.0.0">
  <content src="index.html" />
  <feature name="File"><param name="ios-package" value="HBRFile" onload="true" /></feature>
</widget>
XML
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  for backend in webkit headless; do
    run "$work/hbrfile" --web-backend "$backend" --engine "$engine" --run-seconds 60 --until "hbrfile: "
    [ "$status" -eq 0 ] || fail "exit status $status for the hbrfile page under $engine on $backend"
    expect "hbrfile: a missing file answers 404"
  done
done

# A start page that does not come up is named, and a run waiting for its text ends (status 1)
# instead of waiting for ever: the page script broken, or the start page not there at all.
bundle broken Broken '<script src="harbor.js"></script><script>
document.addEventListener("deviceready", function () { console.log("broken: ready"); });
</script>'
echo 'this is not a script (' >"$work/broken/www/harbor.js"
bundle nostart Nostart ''
rm "$work/nostart/www/index.html"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/broken" --engine "$engine" --until "broken: ready"
  [ "$status" -eq 1 ] || fail "exit status $status for a broken page script under $engine, not 1"
  expect "harbor: the application did not start: its start page loaded, but the container's page script www/harbor.js did not run"
  expect "harbor: terminating: the application did not start, so \"broken: ready\" will not appear"
  expect "harbor: stopped"
  run "$work/nostart" --engine "$engine" --until "nostart: ready"
  [ "$status" -eq 1 ] || fail "exit status $status for a missing start page under $engine, not 1"
  expect "ERROR: Start Page at 'www/index.html' was not found."
  expect "harbor: the application did not start: its start page could not be shown"
done

# A display of the session's that cannot be opened: harbor says to unset it.
newlog
timeout -s KILL 60 env DISPLAY=nohost.invalid:0 "$harbor" --home "$work/home.$runs" --web-backend webkit "$work/dialogs" 2>"$log"
status=$?
[ "$status" -eq 1 ] || fail "exit status $status on a display that cannot be opened, not 1"
expect "harbor: WebKit cannot start: GTK cannot open the display (DISPLAY=nohost.invalid:0); unset DISPLAY (harbor then starts a display of its own), or run with --web-backend headless"

# A screenshot shows what the CSS paints: the swatch in the middle, white around it.
copy swatch
shot="$work/swatch.png"
run "$work/swatch" --screenshot "$shot" --run-seconds 60 --until "swatch: painted"
[ "$status" -eq 0 ] || fail "exit status $status taking a screenshot"
expect "swatch: painted rgb(230, 40, 90)"
expect "harbor: screenshot written to $shot"
pixels=$("$pngpixel" "$shot" 0.5 0.5 0.05 0.05 0.95 0.95) || fail "the screenshot is no PNG"
set -- $pixels
[ "$1" = 375x667 ] || fail "the screenshot is $1, not the screen's 375x667"
[ "$2" = 230,40,90,255 ] || fail "the swatch shows as $2, not 230,40,90,255"
[ "$3" = 255,255,255,255 ] || fail "the page around the swatch shows as $3, not white"
[ "$4" = 255,255,255,255 ] || fail "the page around the swatch shows as $4, not white"
# The headless engine draws nothing, and says so.
run "$work/swatch" --web-backend headless --screenshot "$work/headless.png" --run-seconds 60 --until "Finished load of"
[ "$status" -eq 0 ] || fail "exit status $status for a screenshot under the headless engine"
expect "harbor: no screenshot: "
[ ! -e "$work/headless.png" ] || fail "the headless engine left a screenshot file"
if grep -qF "harbor: private display" "$log"; then fail "the headless engine started a display"; fi

# The private display: gone after a run, and after the runner is killed outright.
xvfb_pid() { sed -n 's/.*Xvfb pid \([0-9]*\).*/\1/p' "$log" | head -n 1; }
# Whether process $1 is gone (a zombie waiting for its reaper counts as gone).
gone() { ! grep -q '^[^)]*) [^Z]' "/proc/$1/stat" 2>/dev/null; }
run "$work/swatch" --run-seconds 60 --until "swatch: painted"
[ "$status" -eq 0 ] || fail "exit status $status"
server=$(xvfb_pid)
[ -n "$server" ] || fail "no private display was started"
gone "$server" || fail "the private display $server outlived the runner"

newlog
"$harbor" --home "$work/home.$runs" --web-backend webkit "$work/swatch" 2>"$log" &
pid=$!
wait_for "$pid" "swatch: painted"
server=$(xvfb_pid)
kill -KILL "$pid"
wait "$pid" 2>/dev/null
tries=0
until gone "$server"; do
  tries=$((tries + 1))
  [ "$tries" -le 300 ] || fail "the private display $server outlived a killed runner"
  sleep 0.1
done

# With a display of the session's, the page shows there and no private one is started.
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x960x24 3>"$work/display-number" >"$work/xvfb.log" 2>&1 &
xvfb=$!
tries=0
until [ -s "$work/display-number" ]; do
  tries=$((tries + 1))
  [ "$tries" -le 300 ] || { kill "$xvfb"; fail "the session's display did not start"; }
  sleep 0.1
done
export DISPLAY=":$(cat "$work/display-number")"
run "$work/swatch" --screenshot "$work/session.png" --run-seconds 60 --until "swatch: painted"
unset DISPLAY
kill "$xvfb"
wait "$xvfb" 2>/dev/null
[ "$status" -eq 0 ] || fail "exit status $status on the session's display"
if grep -qF "harbor: private display" "$log"; then fail "a private display was started beside the session's"; fi
expect "harbor: screenshot written to $work/session.png"
pixels=$("$pngpixel" "$work/session.png" 0.5 0.5) || fail "the screenshot is no PNG"
set -- $pixels
[ "$2" = 230,40,90,255 ] || fail "the swatch shows as $2 on the session's display"

# No Xvfb: a refusal that says why and names the headless engine; nothing is left running.
newlog
timeout -s KILL 60 env PATH=/nonexistent "$harbor" --home "$work/home.$runs" --web-backend webkit "$work/swatch" 2>"$log"
status=$?
[ "$status" -eq 1 ] || fail "exit status $status without Xvfb, not 1"
expect "harbor: WebKit cannot start: no display is set"
expect "no Xvfb to start a virtual display with"
expect "--web-backend headless"

# Bad screenshot targets are refused before anything starts.
newlog
"$harbor" --screenshot "$work/no/such/folder/shot.png" "$work/swatch" >"$log" 2>&1
[ $? -eq 2 ] || fail "a screenshot into a missing folder is not refused with status 2"
expect "harbor: --screenshot needs a file in an existing folder"

# Every private folder went with its run (the killed runner's aside: its server was told to go,
# but nobody was left to tidy the folder).
left=$(ls -A "$work/tmp" | wc -l)
[ "$left" -le 1 ] || fail "left in TMPDIR: $(ls -A "$work/tmp")"

echo "harbor WebKit pages test passed"
