#!/bin/sh
# The same page on WebKit and on the headless engine, under both web view engines, must see the
# same: new fragments (set by script, a followed link, the same one again) are in-page navigations
# that the UIWebView engine's page-load tracker lets through without a word, and values JSON
# cannot hold (NaN, -0, dates, typed arrays, holes, a lone surrogate) reach the plugins, and come
# back, alike: a contact saved with a birthday of NaN has none, under all four.
#   webkit-values.sh <harbor executable> <sample bundle folder> <scratch folder>
set -u
harbor=$1
sample=$2
work=$3
. "$(dirname "$0")/log-checks.sh"
start_without_display

# The sample bundle (its configuration maps every plugin) with a page of our own.
cp -R "$sample" "$work/app"
cat >"$work/app/www/index.html" <<'HTML'
<!DOCTYPE html>
<html><head>
  <script src="harbor.js"></script>
  <script src="plugins/harbor-plugin-local-notification/local-notification.js"></script>
  <script>
    function say(text) { console.log('values: ' + text); }
    // Keys in order, so that the lines compare whatever order an engine hands keys over in.
    function sorted(v) {
      if (Array.isArray(v)) return v.map(sorted);
      if (!v || typeof v !== 'object') return v;
      var out = {};
      Object.keys(v).sort().forEach(function (k) { out[k] = sorted(v[k]); });
      return out;
    }
    var hashes = [];
    window.addEventListener('hashchange', function (e) { hashes.push(e.newURL.slice(e.newURL.indexOf('#'))); });
    function fragments(then) {
      location.hash = 'a';
      var link = document.getElementById('x');
      if (typeof link.click === 'function') link.click(); else location.href = '#x';
      setTimeout(function () {
        location.href = location.href;  // the same fragment again: no load
        location.hash = '#x';           // the fragment the page has: no navigation
        setTimeout(function () {
          say('fragments ' + hashes.join(' ') + ', now ' + location.hash);
          then();
        }, 300);
      }, 300);
    }
    function values() {
      var exec = harbor.require('harbor/exec');
      var local = harbor.require('harbor-plugin-local-notification.local-notification');
      // Straight to the bridge: the contacts page module would refuse the birthday itself.
      exec(function (contact) {
        say('contact saved, birthday ' + (contact.birthday === undefined ? 'none' : contact.birthday));
        var data = { nan: NaN, inf: -Infinity, zero: -0, date: new Date(0), big: Math.pow(2, 63), gone: undefined,
                     bytes: new Uint8Array([1, 2]), buffer: new ArrayBuffer(1), holes: [1, , 3],
                     nested: { f64: new Float64Array([NaN, 1.5]) }, text: 'a\ud800b' };
        local.schedule({ id: 1, at: Math.round(Date.now() / 1000) + 86400, data: data });
        local.getAll(function (all) {
          say('data ' + JSON.stringify(sorted(all[0].data)));
          say('done');
        });
      }, function (e) { say('contact refused ' + JSON.stringify(e)); say('done'); },
      'Contacts', 'save', [{ nickname: 'Nan', birthday: NaN }]);
    }
    document.addEventListener('deviceready', function () { fragments(values); }, false);
  </script>
</head><body><a id="x" href="#x">x</a></body></html>
HTML

expected_fragments='values: fragments #a #x, now #x'
expected_contact='values: contact saved, birthday none'
# The lone surrogate is U+FFFD by then.
expected_data=$(printf '%s' 'values: data {"big":9223372036854776000,"buffer":{},"bytes":{"0":1,"1":2},"date":"1970-01-01T00:00:00.000Z","holes":[1,null,3],"inf":null,"nan":null,"nested":{"f64":{"0":null,"1":1.5}},"text":"a'; printf '\357\277\275'; printf '%s' 'b","zero":0}')
for backend in webkit headless; do
  for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
    newlog
    timeout -s KILL 90 "$harbor" --home "$work/home.$runs" --web-backend "$backend" --engine "$engine" \
      --contacts-access granted --run-seconds 60 --until "values: done" "$work/app" 2>"$log"
    status=$?
    [ "$status" -eq 0 ] || fail "exit status $status on $backend under $engine"
    expect "$expected_fragments"
    expect "$expected_contact"
    expect "$expected_data"
    if grep -qF "HBRWebViewDelegate:" "$log"; then fail "$backend, $engine: the page-load tracker met a navigation it did not expect"; fi
    if grep -qF "not a command" "$log"; then fail "$backend, $engine: a command was lost"; fi
    if [ "$engine" = HBRUIWebViewEngine ] && [ "$(grep -c "Finished load of" "$log")" -ne 1 ]; then
      fail "$backend: the page was reported loaded other than once"
    fi
  done
done
echo "webkit values test passed"
