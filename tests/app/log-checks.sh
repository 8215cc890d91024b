# What the process-level tests of the harbor executable share; sourced with $work set.
# Every run writes a log of its own (newlog before each), so no check, and no wait for a line,
# ever sees an earlier run's lines.
runs=0
newlog() {
  runs=$((runs + 1))
  log="$work/log.$runs"
  : >"$log"
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

# Waits (at most 30 s) until the log of the running process $1 has a line with $2.
wait_for() {
  tries=0
  until grep -qF -- "$2" "$log" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 300 ] || { kill -KILL "$1"; fail "never saw: $2"; }
    kill -0 "$1" 2>/dev/null || fail "harbor ended before: $2"
    sleep 0.1
  done
}
