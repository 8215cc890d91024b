# What the process-level tests of the harbor executable share; sourced with $work set.
# Every run writes a log of its own (newlog before each), so no check, and no wait for a line,
# ever sees an earlier run's lines.
runs=0
newlog() {
  runs=$((runs + 1))
  log="$work/log.$runs"
  : >"$log"
}

# For the runs on WebKit: an empty $work, and no display, so that each run starts a private one of
# its own, whose folder goes under $work/tmp with every other temporary file.
start_without_display() {
  rm -rf "$work"
  mkdir -p "$work/tmp"
  unset DISPLAY WAYLAND_DISPLAY
  export TMPDIR="$work/tmp"
}

# run_webkit <seconds> <bundle> [options]: the runner on WebKit with a home of this run's own,
# killed after so many seconds; its log in $log, its exit status in $status.
run_webkit() {
  newlog
  limit=$1
  b=$2
  shift 2
  timeout -s KILL "$limit" "$harbor" --home "$work/home.$runs" --web-backend webkit "$@" "$b" 2>"$log"
  status=$?
}

fail() {
  echo "FAIL: $*"
  echo "--- log"
  head -c 20000 "$log"
  exit 1
}

expect() {
  grep -qF -- "$1" "$log" || fail "no line with: $1"
}

# The log of the last run holds fewer bytes than $1.
expect_size_below() {
  size=$(wc -c <"$log")
  [ "$size" -lt "$1" ] || fail "the log holds $size bytes, not fewer than $1"
}

# Waits (at most 30 s, or $3 tenths of a second) until the log of the running process $1 has a
# line with $2. Giving up, it stops the process with SIGTERM, which `timeout` passes on to what it
# runs (a SIGKILL would end `timeout` alone and leave the runner behind, holding the test's output
# open).
wait_for() {
  tries=0
  until grep -qF -- "$2" "$log" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le "${3:-300}" ] || { kill -TERM "$1"; fail "never saw: $2"; }
    kill -0 "$1" 2>/dev/null || fail "harbor ended before: $2"
    sleep 0.1
  done
}

# runner_peak <pid of timeout>: the high-water mark (VmHWM, kB) of the runner that `timeout`
# started as its child; empty when there is none.
runner_peak() {
  child=$(pgrep -P "$1" | head -n 1)
  [ -n "$child" ] && sed -n 's/^VmHWM:[^0-9]*\([0-9]*\) kB/\1/p' "/proc/$child/status"
}

# A clean run logs nothing that looks like an error or a warning. The pattern is wide on
# purpose. Left out: "THREAD WARNING", which a plugin call taking over 10 ms on the main thread
# logs, as the machine's load decides (the first run in a new home writes the device's
# identifier to disk there).
expect_clean_run() {
  found=$(grep -iE 'error|fail|exception|assert|warn|cannot|unknown|refus|critical|not available|disabled|gave up|missing|not found' "$log" |
    grep -v '^THREAD WARNING: ')
  [ -z "$found" ] || fail "error-looking lines in a clean run:
$found"
}

# write_bundle <folder> <name> <display name> [config.xml lines]: a test application bundle in
# folder: Info.plist (identifier org.harbor.test.<name>), a config.xml with the start page
# index.html, the navigation filter and the lines given, and the container's page script from
# $sample. The caller writes the pages.
write_bundle() {
  mkdir -p "$1/www"
  cat >"$1/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleIdentifier</key><string>org.harbor.test.$2</string>
<key>CFBundleDisplayName</key><string>$3</string>
</dict></plist>
PLIST
  cat >"$1/config.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.harbor.test.$2" version="1.0.0">
  <content src="index.html" />
  <feature name="IntentAndNavigationFilter">
    <param name="ios-package" value="HBRIntentAndNavigationFilter" onload="true" />
  </feature>
  ${4:-}
</widget>
XML
  cp "$sample/www/harbor.js" "$1/www/harbor.js"
}

# start_record_server <seconds>: the loopback server that records every request (record-server,
# in $recordserver) for so many seconds, stopped when the script ends; its origin in $origin.
start_record_server() {
  "$recordserver" "$work/port" "$work/requests" "$1" &
  server=$!
  trap 'kill "$server" 2>/dev/null' EXIT
  tries=0
  until [ -s "$work/port" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 300 ] || fail "the loopback server did not start"
    sleep 0.1
  done
  origin="http://127.0.0.1:$(cat "$work/port")"
}
