#!/bin/sh
# The container as a page on WebKit sees it, under both engines, each thing measured in the page:
# the error page (with its query) for a start page that is missing; config.xml's preferences
# from the first load (a minimum font size, media that plays without a gesture only when the
# preference says so); the device's locale in navigator.language and Intl; the status bar's
# band taking the top of the screen (the page's height, and a screenshot's pixels); cookies kept
# from one launch to the next; answers whose callbacks open the page's own alerts, delivered
# all and in order; commands answered on a page full of frames, also when the frames came before
# the first command; history moves each reported as a load of its own that resets the plugins;
# and a start page that never answers, or that WebKit refuses, failing into the error page.
#   webkit-parts.sh <harbor executable> <sample bundle folder> <png-pixel> <record-server> <scratch folder>
set -u
harbor=$1
sample=$2
pngpixel=$3
recordserver=$4
work=$5
. "$(dirname "$0")/log-checks.sh"
start_without_display
newlog

# bundle <name> <page body> [config.xml lines]: a bundle with the container's page script and
# the device and status bar modules, whose start page is the HTML.
bundle() {
  b="$work/$1"
  write_bundle "$b" "$1" "$1" '<feature name="Device"><param name="ios-package" value="HBRDevice" /></feature>
  <feature name="StatusBar"><param name="ios-package" value="HBRStatusBar" onload="true" /></feature>'" ${3:-}"
  mkdir -p "$b/www/plugins"
  cp -R "$sample/www/plugins/harbor-plugin-device" "$sample/www/plugins/harbor-plugin-statusbar" "$b/www/plugins/"
  printf '<!doctype html><meta charset="utf-8"><body style="margin:0">%s</body>\n' "$2" >"$b/www/index.html"
}
modules='<script src="harbor.js"></script><script src="plugins/harbor-plugin-device/device.js"></script><script src="plugins/harbor-plugin-statusbar/statusbar.js"></script>'

run() { run_webkit 120 "$@"; }

# A missing start page with an error page: the error page shows, with its query.
bundle errorpage '' '<preference name="ErrorUrl" value="error.html" />'
sed -i 's#<content src="index.html" />#<content src="missing.html" />#' "$work/errorpage/config.xml"
printf '%s\n' '<script>console.log("parts: error page " + decodeURIComponent(location.search));</script>' \
  >"$work/errorpage/www/error.html"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/errorpage" --engine "$engine" --run-seconds 60 --until "parts: error page"
  [ "$status" -eq 0 ] || fail "exit status $status for the error page under $engine"
  expect "parts: error page ?error=ERROR: Start Page at 'www/missing.html' was not found."
done

# Preferences: a 6px span under a minimum font size of 30 (the WKWebView engine's preference),
# and a sound that plays at once only when media needs no gesture.
tone() {
  # A second (or $2 seconds) of a 400 Hz square wave, 8 kHz, 16-bit mono.
  LC_ALL=C awk -v seconds="${2:-1}" 'BEGIN {
    n = 8000 * seconds; printf "RIFF"; le32(36 + 2 * n); printf "WAVEfmt "; le32(16); le16(1); le16(1); le32(8000); le32(16000);
    le16(2); le16(16); printf "data"; le32(2 * n);
    for (i = 0; i < n; i++) { v = (int(i / 10) % 2) ? 3000 : 62536; le16(v) }
  }
  function le16(v) { printf "%c%c", v % 256, int(v / 256) % 256 }
  function le32(v) { le16(v % 65536); le16(int(v / 65536)) }' >"$1"
}
page='<span id="s" style="font-size:6px">tiny</span><script>
var log = function (m) { console.log("parts: " + m); };
log("span " + (document.getElementById("s").getBoundingClientRect().height >= 30 ? "at least 30px" : "small"));
new Audio("tone.wav").play().then(function () { log("play resolved"); }, function (e) { log("play " + e.name); });
</script>'
bundle prefs "$page" '<preference name="MinimumFontSize" value="30" /><preference name="MediaPlaybackRequiresUserAction" value="false" />'
tone "$work/prefs/www/tone.wav"
bundle gesture "$page" '<preference name="MinimumFontSize" value="30" />'
cp "$work/prefs/www/tone.wav" "$work/gesture/www/tone.wav"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/prefs" --engine "$engine" --run-seconds 60 --until "parts: play"
  [ "$status" -eq 0 ] || fail "exit status $status for the preferences under $engine"
  expect "parts: play resolved"
  if [ "$engine" = HBRWKWebViewEngine ]; then expect "parts: span at least 30px"; else expect "parts: span small"; fi
  run "$work/gesture" --engine "$engine" --run-seconds 60 --until "parts: play"
  expect "parts: play NotAllowedError"
done

# The device's locale is the page's: --locale, and the environment's without it. The headless
# engine gives the page the same as WebKit; a locale named as the environment names it drops its
# encoding and modifier; ICU's keywords make a language tag's extension.
bundle locale '<script>console.log("parts: locale " + navigator.language + " " + new Intl.NumberFormat().format(1234.5) +
  " " + new Intl.DateTimeFormat().resolvedOptions().locale);</script>'
for backend in webkit headless; do
  for locale in "fr_FR.UTF-8|fr-FR 1" "de_AT@euro|de-AT 1" "de_CH@currency=EUR|de-CH-u-cu-eur 1’234.5 de-CH-u-cu-eur" \
    "zh_Hans_CN|zh-Hans-CN 1,234.5 zh-Hans-CN"; do
    run "$work/locale" --web-backend "$backend" --locale "${locale%%|*}" --run-seconds 60 --until "parts: locale"
    [ "$status" -eq 0 ] || fail "exit status $status for --locale ${locale%%|*} on $backend"
    expect "parts: locale ${locale#*|}"
  done
done
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/locale" --engine "$engine" --locale de_DE --run-seconds 60 --until "parts: locale"
  expect "parts: locale de-DE 1.234,5"
  newlog
  LANG=fr_FR.UTF-8 LC_ALL= timeout -s KILL 120 "$harbor" --home "$work/home.$runs" --web-backend webkit --engine "$engine" \
    --run-seconds 60 --until "parts: locale" "$work/locale" 2>"$log"
  expect "parts: locale fr-FR 1"
done

# The status bar above the page: the page is as tall as the screen less the bar, and the bar's
# band (its colour) is at the top of a screenshot.
bundle bar "$modules"'<script>
var log = function (m) { console.log("parts: " + m); };
document.addEventListener("deviceready", function () {
  var bar = harbor.require("harbor-plugin-statusbar.statusbar");
  bar.backgroundColorByHexString("#3060F0");
  bar.overlaysWebView(false);
  setTimeout(function () {
    log("beside the bar " + innerHeight);
    bar.overlaysWebView(true);
    setTimeout(function () {
      log("under the bar " + innerHeight);
      bar.overlaysWebView(false);
      setTimeout(function () { log("beside the bar again " + innerHeight); }, 300);
    }, 300);
  }, 300);
});
</script>'
sed -i 's#<body style="margin:0">#<body style="margin:0;background:rgb(230,40,90)">#' "$work/bar/www/index.html"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  shot="$work/bar-$engine.png"
  run "$work/bar" --engine "$engine" --screenshot "$shot" --run-seconds 60 --until "parts: beside the bar again"
  [ "$status" -eq 0 ] || fail "exit status $status for the status bar under $engine"
  expect "parts: beside the bar 647"
  expect "parts: under the bar 667"
  expect "parts: beside the bar again 647"
  pixels=$("$pngpixel" "$shot" 0.5 0.01 0.5 0.5) || fail "the screenshot is no PNG"
  set -- $pixels
  [ "$1" = 375x667 ] || fail "the screenshot is $1, not the screen's 375x667"
  [ "$2" = 48,96,240,255 ] || fail "the bar's band shows as $2 under $engine, not the bar's colour"
  [ "$3" = 230,40,90,255 ] || fail "the page shows as $3 under $engine"
done

# Cookies: set in one launch, still there in the next.
bundle cookies '<script>
console.log("parts: cookies [" + document.cookie + "]");
document.cookie = "session=signed-in; max-age=86400; path=/";
setTimeout(function () { console.log("parts: cookie set"); }, 200);
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  home="$work/cookies-home-$engine"
  newlog
  timeout -s KILL 120 "$harbor" --home "$home" --web-backend webkit --engine "$engine" --run-seconds 60 \
    --until "parts: cookie set" "$work/cookies" 2>"$log"
  expect "parts: cookies []"
  newlog
  timeout -s KILL 120 "$harbor" --home "$home" --web-backend webkit --engine "$engine" --run-seconds 60 \
    --until "parts: cookie set" "$work/cookies" 2>"$log"
  expect "parts: cookies [session=signed-in]"
done

# Answers whose callbacks open the page's own alert, sent while earlier ones still wait: all
# delivered, in order, none given up on.
bundle alerts "$modules"'<script>
document.addEventListener("deviceready", function () {
  var n = 0, N = 300, order = [];
  function next() {
    harbor.exec(function () { order.push(n); alert("answer " + n); if (++n === N) done(); else next(); }, null, "Device", "getDeviceInfo", []);
  }
  var burst = 0;
  function done() {
    var inOrder = order.every(function (v, i) { return v === i; });
    console.log("parts: " + N + " answers " + (inOrder ? "in order" : "out of order") + ", burst " + burst);
  }
  next();
  setTimeout(function () {
    for (var k = 0; k < 50; ++k) harbor.exec(function () { burst++; alert("burst"); }, null, "Device", "getDeviceInfo", []);
  }, 10);
});
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/alerts" --engine "$engine" --run-seconds 90 --until "parts: 300 answers"
  [ "$status" -eq 0 ] || fail "exit status $status for the alerts under $engine"
  expect "parts: 300 answers in order"
  if grep -qF "gave up waiting" "$log"; then fail "an answer was given up on under $engine"; fi
done

# A page with 2,000 frames whose sources are the bridge's own signal: commands are still answered,
# a lone one and a burst of 500.
bundle frames "$modules"'<script>
document.addEventListener("deviceready", function () {
  for (var i = 0; i < 2000; i++) {
    var frame = document.createElement("iframe");
    frame.src = "hbr://ready/" + i;
    document.body.appendChild(frame);
  }
  harbor.exec(function () {
    var n = 0;
    for (var k = 0; k < 500; k++) {
      harbor.exec(function () { if (++n === 500) console.log("parts: a lone command and 500 answered"); }, null, "Device", "getDeviceInfo", []);
    }
  }, null, "Device", "getDeviceInfo", []);
});
</script>'
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/frames" --engine "$engine" --run-seconds 60 --until "parts: a lone command and 500 answered"
  [ "$status" -eq 0 ] || fail "exit status $status for the frames under $engine"
done


# 1,000 and 2,000 frames whose sources are the bridge's signal, made before the page's first
# command (WebKit makes at most 1000 frames for a page): the command is still answered. Under the
# UIWebView engine each frame WebKit made is a fetch of the page's (empty) queue; the command is
# sent once all of them came, so that none of them fetches it.
bundle early "$modules"'<script>
var frames = Number(location.search.slice(1));
var made = 0, fetched = 0;
for (var i = 0; i < frames; i++) {
  var frame = document.createElement("iframe");
  frame.src = "hbr://ready/" + i;
  document.body.appendChild(frame);
  if (frame.contentWindow) made++;
}
var exec = harbor.require("harbor/exec"), fetch = exec.nativeFetchMessages;
exec.nativeFetchMessages = function () { fetched++; return fetch.apply(this, arguments); };
var wanted = exec.bridgeMode() === "iframe" ? made : 0;
var wait = setInterval(function () {
  if (fetched < wanted) return;
  clearInterval(wait);
  harbor.exec(function () { console.log("parts: answered after " + frames + " frames"); }, null, "Device", "getDeviceInfo", []);
}, 50);
</script>'
for frames in 1000 2000; do
  sed -i "s#<content src=\"[^\"]*\" />#<content src=\"index.html?$frames\" />#" "$work/early/config.xml"
  for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
    run "$work/early" --engine "$engine" --run-seconds 60 --until "parts: answered after"
    expect "parts: answered after $frames frames"
  done
done

# History moves: index -> b -> history.back() -> location.reload() -> b?again while the pages
# watch the accelerometer; a sound the page that came back started is stopped by the reload's
# reset of the plugins, before the reloaded page runs. Under the UIWebView engine every load is
# reported started and finished once, with its own address.
bundle history "$modules"'<script src="plugins/harbor-plugin-device-motion/accelerometer.js"></script>
<script src="plugins/harbor-plugin-media/Media.js"></script><script src="plugins/harbor-plugin-file/file.js"></script>
<script src="moves.js"></script>' '<feature name="Accelerometer"><param name="ios-package" value="HBRAccelerometer" /></feature>
  <feature name="Media"><param name="ios-package" value="HBRSound" /></feature>
  <feature name="File"><param name="ios-package" value="HBRFile" /></feature>'
cp -R "$sample/www/plugins/harbor-plugin-device-motion" "$sample/www/plugins/harbor-plugin-media" \
  "$sample/www/plugins/harbor-plugin-file" "$work/history/www/plugins/"
cp "$work/history/www/index.html" "$work/history/www/b.html"
tone "$work/history/www/tone.wav" 30
printf '%s\n' 'var step = Number(sessionStorage.getItem("step") || 0);
var page = location.pathname.replace(/.*\//, "") + location.search;
console.log("parts: history at " + page + " step " + step);
document.addEventListener("deviceready", function () {
  harbor.require("harbor-plugin-device-motion.accelerometer").watchAcceleration(function () {});
  if (step === 2) new (harbor.require("harbor-plugin-media.Media"))("tone.wav").play();
  var next = {"index.html": {0: "b.html", 2: "reload", 3: "b.html?again"}, "b.html": {1: "back"}}[page];
  var move = next && next[step];
  setTimeout(function () {
    if (!move) { console.log("parts: history done at " + page); return; }
    sessionStorage.setItem("step", step + 1);
    if (move === "back") history.back();
    else if (move === "reload") location.reload();
    else location.href = move;
  }, 300);
});' >"$work/history/www/moves.js"
base="file://$work/history/www"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/history" --engine "$engine" --acceleration 0,0,-1 --run-seconds 60 --until "parts: history done"
  expect "parts: history done at b.html?again"
  awk '/harbor: media stop tone.wav/ { stop = NR } /parts: history at index.html step 3/ { at = NR }
       END { exit !(stop && at && stop < at) }' "$log" || fail "the sound played on into the reloaded page under $engine"
  if [ "$engine" = HBRUIWebViewEngine ]; then
    finished=$(grep -o 'Finished load of: .*' "$log" | tr '\n' ' ')
    want="Finished load of: $base/index.html Finished load of: $base/b.html Finished load of: $base/index.html "
    want="${want}Finished load of: $base/index.html Finished load of: $base/b.html?again "
    [ "$finished" = "$want" ] || fail "the loads were reported as: $finished"
    [ "$(grep -c 'Resetting plugins due to page load.' "$log")" -eq 5 ] || fail "the plugins were not reset once per load"
    if grep -qF "HBRWebViewDelegate:" "$log"; then fail "the page-load tracker met a load it did not expect"; fi
  fi
done

# A start page on a server that takes the connection and never answers fails after the start
# page's 20 seconds, and one on a port WebKit refuses fails at once: the error page shows.
start_record_server 300
for start in "$origin/silent" "http://127.0.0.1:1/"; do
  bundle unanswered '' '<preference name="ErrorUrl" value="error.html" />
  <allow-navigation href="http://127.0.0.1/*" /><allow-navigation href="http://127.0.0.1:*/*" />'
  sed -i "s#<content src=\"index.html\" />#<content src=\"$start\" />#" "$work/unanswered/config.xml"
  printf '%s\n' '<script>console.log("parts: error page " + decodeURIComponent(location.search));</script>' \
    >"$work/unanswered/www/error.html"
  case $start in
    */silent) why="The request timed out." ;;
    *) why="unsupported URL" ;;
  esac
  for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
    run "$work/unanswered" --engine "$engine" --run-seconds 90 --until "parts: error page"
    [ "$status" -eq 0 ] || fail "exit status $status for the start page $start under $engine"
    expect "parts: error page ?error=Failed to load webpage with error: $why"
  done
done
# Without an error page, the runner says why the refused start page did not start.
sed -i '/ErrorUrl/d' "$work/unanswered/config.xml"
for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  run "$work/unanswered" --engine "$engine" --run-seconds 60 --until "parts: never"
  [ "$status" -eq 1 ] || fail "exit status $status for a refused start page without an error page under $engine"
  expect "harbor: the application did not start: its start page did not load (unsupported URL)"
done

echo "harbor WebKit parts test passed"
