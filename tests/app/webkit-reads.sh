#!/bin/sh
# The runner on WebKit reading files as large as a page cares to make: the page's truncate makes
# a terabyte that holds nothing, at no cost. Its hbrfile URL streams to the page with its length
# (the page reads 512 MiB of it and stops), and a range of its last bytes as a media element asks
# for one; reads whose answers could not cross the bridge are refused with NOT_READABLE_ERR and
# say why, and a small range of the same file reads as ever.
# The runner stays small all the while (its own high-water mark, read before it stops). Both
# engines.
#   webkit-reads.sh <harbor executable> <sample bundle folder> <scratch folder>
set -u
harbor=$1
sample=$2
work=$3
. "$(dirname "$0")/log-checks.sh"
start_without_display
newlog

b="$work/reads"
write_bundle "$b" reads Reads '<feature name="File"><param name="ios-package" value="HBRFile" /></feature>'
cat >"$b/www/index.html" <<'HTML'
<!doctype html><meta charset="utf-8"><body><script src="harbor.js"></script><script>
var exec = harbor.require('harbor/exec');
var big = 'hbrfile://localhost/temporary/big.bin';
var zeros = 'hbrfile://localhost/temporary/zeros.bin';
function say(text) { console.log('reads: ' + text); }
// A file of that length, made as a page makes one: created, then stretched by truncate.
function made(url, length, then) {
  exec(function () {
    exec(function (n) { say('made ' + url + ' of ' + n + ' bytes'); then(); },
         function (e) { say('truncate failed with ' + e); }, 'File', 'truncate', [url, length]);
  }, function (e) { say('getFile failed with ' + e); }, 'File', 'getFile',
     ['hbrfile://localhost/temporary/', url.split('/').pop(), { create: true }]);
}
function read(action, args, then) {
  exec(function (r) { say(action + ' answered ' + (typeof r === 'string' ? r.length : r.byteLength)); then(); },
       function (code) { say(action + ' refused with ' + code); then(); }, 'File', action, args);
}
// The page takes 512 MiB of the terabyte as it comes, then lets the rest go.
function stream(then) {
  fetch(big).then(function (response) {
    say('fetch ' + response.status + ' of ' + response.headers.get('Content-Length') + ' bytes');
    var reader = response.body.getReader(), got = 0;
    function pump() {
      return reader.read().then(function (chunk) {
        if (chunk.done) { say('fetch ended after ' + got + ' bytes'); return then(); }
        got += chunk.value.length;
        if (got < 512 * 1024 * 1024) return pump();
        reader.cancel();
        say('streamed 512 MiB of it');
        then();
      });
    }
    return pump();
  }).catch(function (e) { say('fetch failed: ' + e); then(); });
}
document.addEventListener('deviceready', function () {
  var steps = [
    function (next) { made(big, 1099511627776, next); },
    function (next) { made(zeros, 128 * 1024 * 1024, next); },
    stream,
    function (next) { read('readAsText', [big, 'UTF-8', 0, -1], next); },
    function (next) { read('readAsArrayBuffer', [big, 0, -1], next); },
    function (next) { read('readAsDataURL', [big, 0, 1024 * 1024 * 1024], next); },
    // Six characters of JSON for every zero byte: refused once the bytes read tell.
    function (next) { read('readAsText', [zeros, 'UTF-8', 0, -1], next); },
    function (next) { read('readAsBinaryString', [zeros, 0, -1], next); },
    function (next) { read('readAsArrayBuffer', [big, 1024, 1024 + 16 * 1024 * 1024], next); },
    function (next) { read('readAsText', [big, 'UTF-8', 549755813888, 549755813888 + 1048576], next); },
    // The last bytes of the terabyte, as a media element asks for a range.
    function (next) {
      fetch(big, { headers: { Range: 'bytes=-6' } }).then(function (r) {
        return r.arrayBuffer().then(function (b) {
          say('range ' + r.status + ' ' + r.headers.get('Content-Range') + ', ' + b.byteLength + ' bytes');
          next();
        });
      }).catch(function (e) { say('range failed: ' + e); next(); });
    },
  ];
  (function run() {
    var step = steps.shift();
    if (step) step(run); else say('done');
  })();
});
</script></body>
HTML

for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  newlog
  timeout -s KILL 300 "$harbor" --home "$work/home.$runs" --web-backend webkit --engine "$engine" --run-seconds 280 \
    "$b" 2>"$log" &
  pid=$!
  tries=0
  until grep -qF "reads: done" "$log" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 2400 ] || { kill -TERM "$pid"; fail "never saw the page finish under $engine"; }
    kill -0 "$pid" 2>/dev/null || fail "harbor ended before the page finished under $engine"
    sleep 0.1
  done
  peak=$(runner_peak "$pid")
  kill -TERM "$pid"
  wait "$pid"
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status under $engine"
  expect "reads: made hbrfile://localhost/temporary/big.bin of 1099511627776 bytes"
  expect "reads: fetch 200 of 1099511627776 bytes"
  expect "reads: streamed 512 MiB of it"
  for action in readAsText readAsArrayBuffer readAsDataURL; do
    expect "reads: $action refused with 4"
    expect "File: $action of hbrfile://localhost/temporary/big.bin refused: its answer would pass the bridge's bound of 268435456 bytes"
  done
  expect "File: readAsText of hbrfile://localhost/temporary/zeros.bin refused: its answer would pass the bridge's bound"
  expect "File: readAsBinaryString of hbrfile://localhost/temporary/zeros.bin refused: its answer would pass the bridge's bound"
  expect "reads: readAsArrayBuffer answered 16777216"
  expect "reads: readAsText answered 1048576"
  expect "reads: range 206 bytes 1099511627770-1099511627775/1099511627776, 6 bytes"
  [ -n "$peak" ] || fail "no peak read for the runner under $engine"
  echo "the runner's peak under $engine: $peak kB"
  [ "$peak" -lt 409600 ] || fail "the runner's memory peaked at $peak kB under $engine, over 400 MiB"
done
echo "harbor WebKit reads test passed"
