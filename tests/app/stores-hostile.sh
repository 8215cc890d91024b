#!/bin/sh
# A page hands the contacts and local-notification stores values JSON cannot hold (NaN, typed
# arrays, a Date birthday, a text for a contact) under both engines: the WKWebView engine carries
# them to native code as WebKit's script message does (NaN as null, a typed array by element), the
# UIWebView engine through JSON. Both must store, answer and read back the same, and no bad
# value may stop a later save.
#   stores-hostile.sh <harbor executable> <sample bundle folder> <scratch folder>
set -u
harbor=$1
sample=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
. "$(dirname "$0")/log-checks.sh"

# The sample bundle (its configuration maps every plugin) with a page of our own.
cp -R "$sample" "$work/app"
cat >"$work/app/www/index.html" <<'HTML'
<!DOCTYPE html>
<html><head>
  <script src="harbor.js"></script>
  <script src="plugins/harbor-plugin-contacts/contacts.js"></script>
  <script src="plugins/harbor-plugin-local-notification/local-notification.js"></script>
  <script>
    var reread = false;  // the second run reads back what the first stored
    function say(text) { console.log('stores: ' + text); }
    document.addEventListener('deviceready', function () {
      var local = harbor.require('harbor-plugin-local-notification.local-notification');
      var contacts = harbor.require('harbor-plugin-contacts.contacts');
      var later = Math.round(Date.now() / 1000) + 86400;
      if (!reread) {
        local.schedule({ id: 1, data: new Uint8Array([1, 2, 3]), at: NaN,
                         bin: { u16: new Uint16Array([300]), buffer: new ArrayBuffer(2), view: new DataView(new ArrayBuffer(1)) } });
        local.schedule({ id: 2, text: 'later', at: later, far: Infinity });
        local.update({ id: 2, text: 'updated' });
      }
      local.getAll(function (all) {
        say('notifications ' + JSON.stringify(all.map(function (n) { return [n.id, n.data, n.at, n.text, n.far]; })));
        say('nested binary ' + JSON.stringify(all[0].bin));
        if (reread) {
          contacts.find(['nickname'], function (found) {
            say('contacts ' + JSON.stringify(found.map(function (c) { return [c.nickname, c.birthday]; })));
            say('done');
          }, function (e) { say('find failed ' + e.code); }, { filter: '', multiple: true, desiredFields: ['nickname', 'birthday'] });
          return;
        }
        contacts.save('text', null, function (e) {
          say('text refused ' + e.code);
          contacts.save({ nickname: 'Zo', birthday: new Date(482198400000) }, function (zoe) {
            say('saved birthday ' + zoe.birthday);
            contacts.save({ id: zoe.id, nickname: 'emptied?', birthday: NaN }, null, function (e) {
              say('NaN birthday refused ' + e.code);
              say('done');
            });
          }, function (e) { say('save failed ' + e.code); });
        });
      });
    }, false);
  </script>
</head><body></body></html>
HTML

for engine in HBRUIWebViewEngine HBRWKWebViewEngine; do
  home="$work/home-$engine"
  newlog
  timeout -s KILL 60 "$harbor" --web-backend headless --home "$home" --engine "$engine" --contacts-access granted \
    --run-seconds 30 --until "stores: done" "$work/app" 2>"$log"
  expect 'stores: notifications [[1,{"0":1,"1":2,"2":3},null,null,null],[2,null,'
  expect ',"updated",null]]'
  # Typed arrays nested in the options as JSON (and WebKit's messages) carry them: by element.
  expect 'stores: nested binary {"u16":{"0":300},"buffer":{},"view":{}}'
  expect "stores: text refused 4"
  expect "stores: saved birthday 482198400000"
  expect "stores: NaN birthday refused 4"
  if grep -qF "cannot store" "$log"; then fail "$engine: a store could not be saved"; fi

  # A new process reads back what was answered: both notifications and the whole contact.
  sed -i 's|var reread = false;|var reread = true;|' "$work/app/www/index.html"
  newlog
  timeout -s KILL 60 "$harbor" --web-backend headless --home "$home" --engine "$engine" --contacts-access granted \
    --run-seconds 30 --until "stores: done" "$work/app" 2>"$log"
  expect 'stores: notifications [[1,{"0":1,"1":2,"2":3},null,null,null],[2,null,'
  expect 'stores: nested binary {"u16":{"0":300},"buffer":{},"view":{}}'
  expect 'stores: contacts [["Zo",482198400000]]'
  sed -i 's|var reread = true;|var reread = false;|' "$work/app/www/index.html"
done
echo "stores hostile test passed"
