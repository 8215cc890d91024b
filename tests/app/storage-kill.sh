#!/bin/sh
# A page keeps rewriting a large localStorage value while harbor is killed (SIGKILL) at a
# random moment; at the next start the page must read a whole value, written by some earlier
# step, from a database that opens. Three rounds.
#   storage-kill.sh <harbor executable> <scratch folder>
set -u
harbor=$1
work=$2
rm -rf "$work"
mkdir -p "$work/app/www"
. "$(dirname "$0")/log-checks.sh"

cat >"$work/app/Info.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>org.harbor.storagekill</string></dict></plist>
PLIST
cat >"$work/app/config.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.harbor.storagekill" version="1.0.0"><content src="index.html" /></widget>
XML
# Each value is its step number and "|" repeated 20000 times: whole or not is plain to see.
cat >"$work/app/www/index.html" <<'HTML'
<script>
  function valueFor(step) { return new Array(20001).join(step + '|'); }
  var v = localStorage.getItem('v');
  var step = v === null ? 0 : Number(v.slice(0, v.indexOf('|')));
  console.log('kill-test: read ' + (v === null ? 'nothing' : step) + ' ' + (v === null || v === valueFor(step) ? 'whole' : 'BROKEN'));
  setInterval(function () {
    step++;
    localStorage.setItem('v', valueFor(step));
    console.log('kill-test: wrote ' + step);
  }, 0);
</script>
HTML

previous=0
for round in 1 2 3; do
  newlog
  "$harbor" --web-backend headless --home "$work/home" "$work/app" 2>"$log" &
  pid=$!
  wait_for "$pid" "kill-test: wrote $((previous + 3))"
  # A random moment within the next tenth of a second.
  sleep "0.0$(awk 'BEGIN { srand(); printf "%d", rand() * 10 }')"
  kill -KILL "$pid"
  wait "$pid" 2>/dev/null
  grep -qF "kill-test: read " "$log" || fail "round $round: the page read nothing"
  if [ "$round" -gt 1 ]; then
    grep -qE "kill-test: read [0-9]+ whole" "$log" || fail "round $round: the value read is not whole"
  fi
  if grep -qF "Web storage:" "$log"; then fail "round $round: the database did not open cleanly"; fi
  previous=$(grep -oE "kill-test: wrote [0-9]+" "$log" | tail -n 1 | grep -oE "[0-9]+$")
done

# The last round's value: at least the step the log last showed as written, and whole. This
# page only reads, so that the run ends by itself.
sed -i 's/setInterval/void/' "$work/app/www/index.html"
newlog
"$harbor" --web-backend headless --home "$work/home" --run-seconds 20 --until "kill-test: read" "$work/app" 2>"$log"
read=$(grep -oE "kill-test: read [0-9]+ whole" "$log" | grep -oE "[0-9]+")
[ -n "$read" ] || fail "the last value is not whole"
[ "$read" -ge "$previous" ] || fail "the page read step $read, but step $previous was written"
if grep -qF "Web storage:" "$log"; then fail "the database did not open cleanly"; fi
echo "storage kill test passed"
