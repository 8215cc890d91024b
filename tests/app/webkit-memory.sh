#!/bin/sh
# The runner on WebKit with pages that cannot live in --web-memory-limit, on its private display:
# a limit no page can show in is refused, naming the smallest that works; and a page whose
# content process keeps ending past the limit is reloaded three times, then its error page shows
# once (when it has one), then nothing loads again by itself, and a run waiting for an --until
# text that can no longer come ends with status 1, saying why. Both engines each time.
#   webkit-memory.sh <harbor executable> <sample bundle folder> <scratch folder>
set -u
harbor=$1
sample=$2
work=$3
. "$(dirname "$0")/log-checks.sh"
start_without_display
newlog

# A limit below what an empty page takes: refused before anything starts (status 2).
for limit in 64 128; do
  newlog
  timeout -s KILL 30 "$harbor" --home "$work/home.$runs" --web-memory-limit "$limit" "$sample" 2>"$log"
  status=$?
  [ "$status" -eq 2 ] || fail "exit status $status for --web-memory-limit $limit"
  expect "harbor: --web-memory-limit $limit is too small for a WebKit page to show at all; the smallest limit that works is 320"
  [ ! -e "$work/home.$runs" ] || fail "a home was made for a refused limit"
done

# Script that fills the page's memory without end, in one loop that never gives the page back.
bomb='var keep = []; for (;;) keep.push(new Array(1e6).fill(Math.random()));'
# memory_bundle <name> <start page script> [error page script]: a bundle whose pages log that they
# came up and then run their script; with an error page when one is given.
memory_bundle() {
  b="$work/$1"
  if [ $# -ge 3 ]; then
    write_bundle "$b" "$1" "$1" '<preference name="ErrorUrl" value="error.html" />'
    printf '<!doctype html><script>console.log("memory: error page shown"); %s</script>\n' "$3" >"$b/www/error.html"
  else
    write_bundle "$b" "$1" "$1"
  fi
  printf '<!doctype html><script>console.log("memory: start page shown"); %s</script>\n' "$2" >"$b/www/index.html"
}
# The start page fills its memory once it has loaded. Without an error page; with one that
# fills its memory as it loads; with one that does so once it has loaded.
later="setTimeout(function () { $bomb }, 100);"
memory_bundle nothing "$later"
memory_bundle failing "$later" "$bomb"
memory_bundle growing "$later" "$later"

for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  for case in nothing:0 failing:1 growing:1; do
    name=${case%%:*}
    shown=${case#*:}
    run_webkit 120 "$work/$name" --engine "$engine" --web-memory-limit 320 --run-seconds 100 --until "memory: never said"
    [ "$status" -eq 1 ] || fail "exit status $status for $name under $engine, not 1"
    expect "WebKit: the page's content process exceeded its memory limit again (3 reloads within a minute already); the page is not reloaded, its load fails"
    expect "WebKit: the page stays empty: its content process exceeded its memory limit"
    expect "harbor: terminating: the page stays empty, so \"memory: never said\" will not appear"
    starts=$(grep -c "memory: start page shown" "$log")
    [ "$starts" -eq 4 ] || fail "the start page showed $starts times for $name under $engine, not 4"
    errors=$(grep -c "memory: error page shown" "$log")
    [ "$errors" -eq "$shown" ] || fail "the error page showed $errors times for $name under $engine, not $shown"
    # Nothing loads after the page is left empty.
    after=$(sed -n '/WebKit: the page stays empty/,$p' "$log" | grep -c "console.log: memory: \|reloading the page\|Failed to load webpage")
    [ "$after" -eq 0 ] || fail "something loaded after the page was left empty for $name under $engine"
  done
done
echo "harbor WebKit memory test passed"
