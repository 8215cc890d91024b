// The plugins' page modules, run in JavaScriptCore against a stand-in of the page side of the
// bridge that records every exec call and every event fired.
#include <JavaScriptCore/JavaScript.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "plat/foundation/JSON.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define HARBOR_LSAN 1
#endif

#ifdef HARBOR_LSAN
// The engine also allocates on threads of its own (its compiler and collector helpers), where
// __lsan_disable below does not reach, and may leave such work unfinished at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libjavascriptcoregtk\n"; }
#endif

namespace {

// The script engine keeps its objects in a heap of its own that the leak checker cannot see
// into; its allocations are its business.
struct EngineAllocations {
#ifdef HARBOR_LSAN
  EngineAllocations() { __lsan_disable(); }
  ~EngineAllocations() { __lsan_enable(); }
#else
  EngineAllocations() {}
  ~EngineAllocations() {}
#endif
  EngineAllocations(const EngineAllocations&) = delete;
  EngineAllocations& operator=(const EngineAllocations&) = delete;
};

// One script machine for the whole run: tearing one down calls code of ours that the library was
// not built to call (false reports under the undefined-behaviour sanitizer).
JSContextGroupRef sharedGroup() {
  static JSContextGroupRef group = [] {
    EngineAllocations engine;
    return JSContextGroupCreate();
  }();
  return group;
}

// The page side as the modules see it: define, require, exec and document events.
const char* kPrelude = R"JS(
var window = this;
var navigator = {};
var calls = [];
var events = [];
var logged = [];
var console = { log: function (m) { logged.push('log ' + m); }, error: function (m) { logged.push('error ' + m); } };
var document = { createEvent: function () { return { initEvent: function (name) { this.type = name; } }; } };
window.dispatchEvent = function (e) { events.push(e.type); };
var harbor = (function () {
  var factories = {}, modules = {};
  var exec = function (success, fail, service, action, args) {
    calls.push({ success: success, fail: fail, service: service, action: action, args: args });
  };
  var h = {
    define: function (id, factory) { factories[id] = factory; },
    require: function (id) {
      if (id === 'harbor/exec') return exec;
      if (!modules[id]) {
        if (!factories[id]) throw new Error('no module ' + id);
        var module = { exports: {} };
        modules[id] = module;
        factories[id](h.require, module.exports, module);
      }
      return modules[id].exports;
    },
    fireDocumentEvent: function (name) { events.push(name); }
  };
  return h;
})();
// What the page sent, without the callbacks.
function sent() { return calls.map(function (c) { return [c.service, c.action, c.args]; }); }
)JS";

class JSContext {
 public:
  JSContext() {
    EngineAllocations engine;
    ctx_ = JSGlobalContextCreateInGroup(sharedGroup(), nullptr);
  }
  ~JSContext() {
    EngineAllocations engine;
    JSGlobalContextRelease(ctx_);
  }
  JSContext(const JSContext&) = delete;
  JSContext& operator=(const JSContext&) = delete;

  // The script's value as JSON text, or "exception: ..." when it threw.
  std::string eval(const std::string& script) {
    EngineAllocations engine;
    JSStringRef source = JSStringCreateWithUTF8CString(script.c_str());
    JSValueRef exception = nullptr;
    JSValueRef value = JSEvaluateScript(ctx_, source, nullptr, nullptr, 1, &exception);
    JSStringRelease(source);
    if (exception) return "exception: " + text(exception, false);
    return text(value, true);
  }

 private:
  std::string text(JSValueRef value, bool json) {
    JSStringRef s = json ? JSValueCreateJSONString(ctx_, value, 0, nullptr) : JSValueToStringCopy(ctx_, value, nullptr);
    if (!s) return "undefined";
    std::string out(JSStringGetMaximumUTF8CStringSize(s), '\0');
    out.resize(JSStringGetUTF8CString(s, out.data(), out.size()) - 1);
    JSStringRelease(s);
    return out;
  }
  JSGlobalContextRef ctx_;
};

std::string readModule(const std::string& relative) {
  std::ifstream in(std::string(HARBOR_SOURCE_DIR "/Plugins/") + relative);
  EXPECT_TRUE(in) << relative;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Case {
  const char* name;
  const char* file;
  const char* script;    // runs after the module is loaded; its value is compared
  const char* expected;  // JSON
};

const Case kCases[] = {
    {"network asks at once and tracks the type with online and offline",
     "harbor-plugin-network-information/www/network.js",
     R"JS(
       var c = harbor.require('harbor-plugin-network-information.network');
       var first = sent();
       calls[0].success('wifi'); calls[0].success('4g'); calls[0].success('none'); calls[0].success('none');
       var offline = navigator.connection.type;
       calls[0].success('wifi');
       ({ first: first, type: navigator.connection.type, offline: offline, events: events,
          same: c === navigator.connection, cell: Connection.CELL_4G })
     )JS",
     R"({"first":[["NetworkStatus","getConnectionInfo",[]]],"type":"wifi","offline":"none",
         "events":["online","offline","online"],"same":true,"cell":"4g"})"},
    {"network starting offline fires offline", "harbor-plugin-network-information/www/network.js",
     R"JS(harbor.require('harbor-plugin-network-information.network'); calls[0].success('none'); events)JS",
     R"(["offline"])"},
    {"device fills window.device from the answer", "harbor-plugin-device/www/device.js",
     R"JS(
       harbor.require('harbor-plugin-device.device');
       var before = device.available;
       calls[0].success({ manufacturer: 'Apple', model: 'iPhone8,1', platform: 'iOS', version: '9.3', uuid: 'U',
                          harbor: '4.2.0', isVirtual: false });
       ({ sent: sent(), before: before, available: device.available, uuid: device.uuid, model: device.model,
          harbor: device.harbor })
     )JS",
     R"({"sent":[["Device","getDeviceInfo",[]]],"before":false,"available":true,"uuid":"U","model":"iPhone8,1",
         "harbor":"4.2.0"})"},
    {"camera sends its options by position, with null for what is left out",
     "harbor-plugin-camera/www/camera.js",
     R"JS(
       harbor.require('harbor-plugin-camera.camera');
       var c = navigator.camera;
       var handle = c.getPicture(null, null);
       c.getPicture(null, null, {quality: 80, destinationType: c.DestinationType.DATA_URL,
                                 sourceType: c.PictureSourceType.PHOTOLIBRARY, targetWidth: 320,
                                 targetHeight: 240, allowEdit: true, popoverOptions: {x: 5}});
       handle.setPosition({arrowDir: 4});
       c.cleanup(null, null);
       sent()
     )JS",
     R"([["Camera","takePicture",[null,null,null,null,null,null,null,false,false,false,null,null]],
         ["Camera","takePicture",[80,0,0,320,240,null,null,true,false,false,{"x":5},null]],
         ["Camera","repositionPopover",[{"arrowDir":4}]],
         ["Camera","cleanup",[]]])"},
    {"the image picker sends one options object with its defaults",
     "harbor-plugin-image-picker/www/imagepicker.js",
     R"JS(
       harbor.require('harbor-plugin-image-picker.imagepicker');
       window.imagePicker.getPictures(null, null);
       window.imagePicker.getPictures(null, null, {maximumImagesCount: 1, width: 800, quality: 0});
       sent()
     )JS",
     R"([["ImagePicker","getPictures",[{"maximumImagesCount":15,"width":0,"height":0,"quality":100}]],
         ["ImagePicker","getPictures",[{"maximumImagesCount":1,"width":800,"height":0,"quality":0}]]])"},
    {"dialogs pass their arguments in the native order with defaults", "harbor-plugin-dialogs/www/notification.js",
     R"JS(
       harbor.require('harbor-plugin-dialogs.notification');
       var n = navigator.notification;
       n.alert('hello', null);
       n.alert(42, null, 'Title', 'Fine');
       n.confirm('sure?', null);
       n.confirm('sure?', null, 'T', 'Yes,No');
       n.confirm('sure?', null, 'T', ['A', 'B', 'C']);
       n.prompt('name?', null);
       n.prompt('name?', null, 'T', ['Go'], 'me');
       n.beep();
       n.beep(3);
       sent()
     )JS",
     R"([["Notification","alert",["hello","Alert","OK"]],
         ["Notification","alert",["42","Title","Fine"]],
         ["Notification","confirm",["sure?","Confirm",["OK","Cancel"]]],
         ["Notification","confirm",["sure?","T",["Yes","No"]]],
         ["Notification","confirm",["sure?","T",["A","B","C"]]],
         ["Notification","prompt",["name?","Prompt",["OK","Cancel"],""]],
         ["Notification","prompt",["name?","T",["Go"],"me"]],
         ["Notification","beep",[1]],["Notification","beep",[3]]])"},
    {"clipboard", "harbor-plugin-clipboard/www/clipboard.js",
     R"JS(
       var cb = harbor.require('harbor-plugin-clipboard.clipboard');
       var got;
       cb.copy('text', function (t) { got = t; });
       cb.paste();
       calls[0].success('text');
       ({ sent: sent(), got: got })
     )JS",
     R"({"sent":[["Clipboard","copy",["text"]],["Clipboard","paste",[]]],"got":"text"})"},
    {"console lines go to the log with their level and still to the page's console",
     "harbor-plugin-console/www/console.js",
     R"JS(
       harbor.require('harbor-plugin-console.console');
       console.log('a', { b: 1 }, 2);
       console.error('bad');
       var cyclic = {}; cyclic.self = cyclic;
       console.warn(cyclic);
       ({ sent: sent(), logged: logged })
     )JS",
     R"({"sent":[["Console","logLevel",["LOG","a {\"b\":1} 2"]],["Console","logLevel",["ERROR","bad"]],
                 ["Console","logLevel",["WARN","[object Object]"]]],
         "logged":["log a","error bad"]})"},
    {"vibrate ignores its pattern", "harbor-plugin-vibration/www/vibration.js",
     R"JS(harbor.require('harbor-plugin-vibration.vibration'); ({ r: navigator.vibrate([100, 50]), sent: sent() }))JS",
     R"({"r":true,"sent":[["Vibration","vibrate",[]]]})"},
    {"battery watches while someone listens and fires low and critical once",
     "harbor-plugin-battery-status/www/battery.js",
     R"JS(
       var b = harbor.require('harbor-plugin-battery-status.battery');
       var heard = [];
       var listener = function (s) { heard.push(s.level); };
       b.watch(listener);
       b.watch(function () {});
       var s = calls[0].success;
       s({ level: 50, isPlugged: false });
       s({ level: 20, isPlugged: false });
       s({ level: 19, isPlugged: false });
       s({ level: 5, isPlugged: false });
       s({ level: 4, isPlugged: true });
       s({ level: null, isPlugged: false });
       b.clearWatch(listener);
       var afterOne = sent().length;
       b.clearWatch(b);
       ({ events: events, heard: heard, afterOne: afterOne, sent: sent() })
     )JS",
     R"({"events":["batterystatus","batterystatus","batterylow","batterystatus","batterystatus","batterycritical",
                   "batterystatus","batterystatus"],
         "heard":[50,20,19,5,4,null],"afterOne":1,"sent":[["Battery","start",[]]]})"},
    {"accelerometer runs one native stream while any watch lives",
     "harbor-plugin-device-motion/www/accelerometer.js",
     R"JS(
       var a = harbor.require('harbor-plugin-device-motion.accelerometer');
       var heard = [];
       var w1 = a.watchAcceleration(function (r) { heard.push('w1 ' + r.z); });
       var once = null;
       a.getCurrentAcceleration(function (r) { once = r.z; });
       calls[0].success({ x: 0, y: 0, z: 9.81, timestamp: 1 });
       calls[0].success({ x: 0, y: 0, z: 9.8, timestamp: 2 });
       a.clearWatch(w1);
       ({ heard: heard, once: once, sent: sent() })
     )JS",
     R"({"heard":["w1 9.81","w1 9.8"],"once":9.81,
         "sent":[["Accelerometer","start",[]],["Accelerometer","stop",[]]]})"},
    {"compass keeps one native watch at the finest filter and passes codes on",
     "harbor-plugin-device-orientation/www/compass.js",
     R"JS(
       var c = harbor.require('harbor-plugin-device-orientation.compass');
       var failed = null;
       c.getCurrentHeading(function () {}, function (e) { failed = e.code; });
       calls[0].fail(20);
       var w1 = c.watchHeading(function () {}, null, { filter: 10 });
       var w2 = c.watchHeading(function () {}, null, { filter: 2 });
       var w3 = c.watchHeading(function () {}, null, { filter: 5 });
       c.clearWatch(w3);
       c.clearWatch(w2);
       c.clearWatch(w1);
       ({ failed: failed, sent: sent() })
     )JS",
     R"({"failed":20,"sent":[["Compass","getHeading",[]],["Compass","watchHeadingFilter",[{"filter":10}]],
                             ["Compass","watchHeadingFilter",[{"filter":2}]],
                             ["Compass","watchHeadingFilter",[{"filter":10}]],["Compass","stopHeading",[]]]})"},
    {"geolocation gives positions in the web's shape and forgets cleared watches",
     "harbor-plugin-geolocation/www/geolocation.js",
     R"JS(
       var g = harbor.require('harbor-plugin-geolocation.geolocation');
       var heard = [];
       g.getCurrentPosition(function (p) { heard.push(p); }, null, { enableHighAccuracy: 1 });
       calls[0].success({ latitude: 1, longitude: 2, altitude: 0, accuracy: 5, altitudeAccuracy: -1,
                          heading: -1, velocity: -1, timestamp: 7 });
       var w = g.watchPosition(function (p) { heard.push(p.coords.speed); },
                               function (e) { heard.push(e); });
       calls[1].success({ latitude: 1, longitude: 2, altitude: 30, accuracy: 5, altitudeAccuracy: 10,
                          heading: 90, velocity: 1.5, timestamp: 8 });
       calls[1].fail({ code: 2 });
       g.clearWatch(w);
       calls[1].success({ latitude: 1, longitude: 2, altitude: 0, accuracy: 5, altitudeAccuracy: 10,
                          heading: 0, velocity: 9, timestamp: 9 });
       g.clearWatch(w);
       ({ heard: heard, sent: sent() })
     )JS",
     R"({"heard":[{"coords":{"latitude":1,"longitude":2,"altitude":null,"accuracy":5,"altitudeAccuracy":null,
                             "heading":null,"speed":null},"timestamp":7},
                  1.5,{"code":2,"message":""}],
         "sent":[["Geolocation","getLocation",[true]],["Geolocation","addWatch",["1",false]],
                 ["Geolocation","clearWatch",["1"]]]})"},
    {"globalization sends dates as milliseconds and one dictionary per call",
     "harbor-plugin-globalization/www/globalization.js",
     R"JS(
       var g = harbor.require('harbor-plugin-globalization.globalization');
       var got = null;
       g.dateToString(new Date(1454360400000), function (r) { got = r.value; }, null, { selector: 'date' });
       calls[0].success({ value: '2/1/16' });
       g.stringToDate('2/1/16', null, null);
       g.isDayLightSavingsTime(0, null, null);
       g.getCurrencyPattern('CHF', null, null);
       g.getPreferredLanguage(null, null);
       ({ got: got, same: navigator.globalization === g, code: g.PARSING_ERROR, sent: sent() })
     )JS",
     R"({"got":"2/1/16","same":true,"code":2,
         "sent":[["Globalization","dateToString",[{"date":1454360400000,"options":{"selector":"date"}}]],
                 ["Globalization","stringToDate",[{"dateString":"2/1/16"}]],
                 ["Globalization","isDayLightSavingsTime",[{"date":0}]],
                 ["Globalization","getCurrencyPattern",[{"currencyCode":"CHF"}]],
                 ["Globalization","getPreferredLanguage",[]]]})"},
};

}  // namespace

TEST(PageModules, EachModuleTalksToItsServiceAsExpected) {
  for (const auto& c : kCases) {
    JSContext js;
    ASSERT_EQ(js.eval(kPrelude), "undefined") << c.name;
    ASSERT_EQ(js.eval(readModule(c.file)), "undefined") << c.name;
    std::string result = js.eval(c.script);
    auto got = plat::json::parse(result);
    auto want = plat::json::parse(c.expected);
    ASSERT_TRUE(want.ok()) << c.name << ": bad expectation";
    ASSERT_TRUE(got.ok()) << c.name << ": " << result;
    EXPECT_EQ(*got, *want) << c.name << "\n got: " << result;
  }
}
