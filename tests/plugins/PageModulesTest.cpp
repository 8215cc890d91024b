// The plugins' page modules, run in JavaScriptCore against a stand-in of the page side of the
// bridge that records every exec call and every event fired.
#include <JavaScriptCore/JavaScript.h>
#include <gtest/gtest.h>

#include <cstdlib>
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
#ifdef HARBOR_LSAN
    // The engine compiles hot functions on threads of its own, which the guard above does not
    // cover; compiling on the calling thread keeps those allocations inside it. Read once, when
    // the engine first starts.
    ::setenv("JSC_useConcurrentJIT", "false", 0);
#endif
    EngineAllocations engine;
    return JSContextGroupCreate();
  }();
  return group;
}

// The page side as the modules see it: define, require, exec, document events, and a cut of page
// text at 20 characters (ending in "~") that stands for the container's, so that what a module
// cuts before sending shows.
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
      if (id === 'harbor/text') return { cut: function (t) { t = String(t); return t.length > 20 ? t.slice(0, 20) + '~' : t; } };
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
    {"dialogs send their texts cut, other values as they are", "harbor-plugin-dialogs/www/notification.js",
     R"JS(
       harbor.require('harbor-plugin-dialogs.notification');
       var n = navigator.notification, long = 'm'.repeat(30);
       n.alert(long, null, long, long);
       n.confirm(long, null, 7, [long, 3, null]);
       n.confirm('sure?', null, 'T', long + ',' + long);
       n.prompt(long, null, long, [long], long);
       sent()
     )JS",
     R"([["Notification","alert",["mmmmmmmmmmmmmmmmmmmm~","mmmmmmmmmmmmmmmmmmmm~","mmmmmmmmmmmmmmmmmmmm~"]],
         ["Notification","confirm",["mmmmmmmmmmmmmmmmmmmm~",7,["mmmmmmmmmmmmmmmmmmmm~",3,null]]],
         ["Notification","confirm",["sure?","T",["mmmmmmmmmmmmmmmmmmmm~"]]],
         ["Notification","prompt",["mmmmmmmmmmmmmmmmmmmm~","mmmmmmmmmmmmmmmmmmmm~",["mmmmmmmmmmmmmmmmmmmm~"],
                                   "mmmmmmmmmmmmmmmmmmmm~"]]])"},
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
    {"a long console line goes to the log cut, and whole to the page's console", "harbor-plugin-console/www/console.js",
     R"JS(
       harbor.require('harbor-plugin-console.console');
       console.log('n'.repeat(35));
       ({ sent: sent(), logged: logged })
     )JS",
     R"({"sent":[["Console","logLevel",["LOG","nnnnnnnnnnnnnnnnnnnn~"]]],"logged":["log nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"]})"},
    {"media sends its own id with every action and hears the status calls for it",
     "harbor-plugin-media/www/Media.js",
     R"JS(
       var Media = harbor.require('harbor-plugin-media.Media');
       var heard = [];
       var m = new Media('a.wav', function () { heard.push('done'); },
                         function (e) { heard.push('error ' + e.code + ' ' + e.message); },
                         function (s) { heard.push('state ' + s); });
       m.play({ numberOfLoops: 2 });
       m.seekTo(1500);
       Media.onStatus(m.id, 2, 4.2);
       Media.onStatus(m.id, 1, 2);
       Media.onStatus(m.id, 1, 4);
       Media.onStatus(m.id, 9, { code: 1, message: 'x' });
       Media.onStatus('someone else', 1, 4);
       ({ sameId: calls.every(function (c) { return c.args[0] === m.id; }),
          sent: sent().map(function (s) { return [s[0], s[1], s[2].slice(1)]; }),
          heard: heard, duration: m.getDuration() })
     )JS",
     R"({"sameId":true,"sent":[["Media","create",["a.wav"]],["Media","startPlayingAudio",["a.wav",{"numberOfLoops":2}]],
                 ["Media","seekToAudio",[1500]]],
         "heard":["state 2","done","state 4","error 1 x"],"duration":4.2})"},
    {"capture answers media files, errors as CaptureError, and takes the supported modes",
     "harbor-plugin-media-capture/www/capture.js",
     R"JS(
       harbor.require('harbor-plugin-media-capture.capture');
       var c = navigator.device.capture, got = [];
       c.captureImage(function (files) { got.push(files[0].name); files[0].getFormatData(); },
                      function (e) { got.push('error ' + e.code); });
       calls[0].success([{ name: 'photo_001.jpg', fullPath: '/t/photo_001.jpg', type: 'image/jpeg' }]);
       c.captureAudio(null, function (e) { got.push('error ' + e.code); }, { duration: 5 });
       calls[2].fail({ code: 3 });
       c.setSupportedModes({ image: [{ type: 'image/jpeg' }], video: null, audio: null });
       ({ got: got, sent: sent(), image: c.supportedImageModes.length, video: c.supportedVideoModes.length })
     )JS",
     R"({"got":["photo_001.jpg","error 3"],
         "sent":[["Capture","captureImage",[{}]],["Capture","getFormatData",["/t/photo_001.jpg","image/jpeg"]],
                 ["Capture","captureAudio",[{"duration":5}]]],
         "image":1,"video":0})"},
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
    {"local notifications send dates as seconds, say when the page is ready and hand events on",
     "harbor-plugin-local-notification/www/local-notification.js",
     R"JS(
       var ready = null;
       document.addEventListener = function (name, f) { if (name === 'deviceready') ready = f; };
       var local = harbor.require('harbor-plugin-local-notification.local-notification');
       var heard = [];
       local.on('trigger', function (n, state) { heard.push(['trigger', n.id, state]); });
       local.on('cancelall', function (state) { heard.push(['cancelall', state]); });
       var noisy = function () { heard.push('removed'); };
       local.on('trigger', noisy);
       local.un('trigger', noisy);
       ready();
       local.schedule({ id: 1, at: new Date(1500000000000) });
       local.schedule([{ id: 2 }, { id: 3, text: 'x' }]);
       local.cancel(4);
       local.getAll(function () {});
       local.getAll([5, 6]);
       local.get(7);
       var answer = null;
       local.isPresent(1, function (present) { answer = present; });
       calls[calls.length - 1].success(true);
       harbor.plugins.notification.local.core.fireEvent('trigger', { id: 1 }, 'foreground');
       harbor.plugins.notification.local.core.fireEvent('cancelall', 'background');
       ({ sent: sent(), heard: heard, answer: answer })
     )JS",
     R"({"sent":[["LocalNotification","deviceready",[]],
                 ["LocalNotification","schedule",[{"id":1,"at":1500000000}]],
                 ["LocalNotification","schedule",[{"id":2},{"id":3,"text":"x"}]],
                 ["LocalNotification","cancel",[4]],["LocalNotification","getAll",[]],
                 ["LocalNotification","getAll",[5,6]],["LocalNotification","getSingle",[7]],
                 ["LocalNotification","isPresent",[1]]],
         "heard":[["trigger",1,"foreground"],["cancelall","background"]],"answer":true})"},
    {"local notification queries answer once also when the native side fails",
     "harbor-plugin-local-notification/www/local-notification.js",
     R"JS(
       var local = harbor.require('harbor-plugin-local-notification.local-notification');
       var heard = [];
       local.getAll(function (all) { heard.push(['getAll', all === undefined]); });
       local.getSingle(1, function (one) { heard.push(['getSingle', one === undefined]); }, null);
       local.schedule({ id: 2 });
       calls[0].fail(null);
       calls[1].fail('no answer');
       calls[2].fail(null);
       ({ heard: heard, logged: logged })
     )JS",
     R"({"heard":[["getAll",true],["getSingle",true]],
         "logged":["error LocalNotification.getAll failed: null","error LocalNotification.getSingle failed: no answer",
                   "error LocalNotification.schedule failed: null"]})"},
    {"file system, entries, URLs that keep odd names, and errors as FileError", "harbor-plugin-file/www/file.js",
     R"JS(
       var f = harbor.require('harbor-plugin-file.file');
       var fs, entry, failure, parent;
       f.requestFileSystem(f.LocalFileSystem.PERSISTENT, 0, function (s) { fs = s; });
       calls[0].success({ name: 'persistent', root: { isFile: false, isDirectory: true, name: '/', fullPath: '/',
                                                     filesystemName: 'persistent', nativeURL: 'file:///d/' } });
       fs.root.getFile('a #1?.txt', { create: true }, function (e) { entry = e; });
       calls[1].success({ isFile: true, isDirectory: false, name: 'a #1?.txt', fullPath: '/a #1?.txt',
                          filesystemName: 'persistent', nativeURL: 'file:///d/a%20%231%3F.txt' });
       entry.getParent(null, function (e) { failure = e; });
       calls[2].fail(1);
       entry.copyTo(fs.root, 'b.txt');
       window.resolveLocalFileSystemURL('assets-library://asset/asset.JPG?id=1&ext=JPG', function (e) { parent = e; });
       calls[4].success({ isFile: true, isDirectory: false, name: 'asset.JPG?id=1&ext=JPG',
                          fullPath: '/asset/asset.JPG?id=1&ext=JPG', filesystemName: 'assets-library', nativeURL: '' });
       new f.DirectoryReader(parent.toURL()).readEntries(null, function (e) { failure = [failure.code, e.code, e.message]; });
       calls[5].fail('readEntries not supported for assets-library URLs.');
       ({ sent: sent(), url: entry.toURL(), isFile: entry.isFile, root: fs.root.isDirectory, failure: failure,
          same: entry.filesystem === fs, photo: parent.toURL() })
     )JS",
     R"({"sent":[["File","requestFileSystem",[1,0]],
                 ["File","getFile",["hbrfile://localhost/persistent/","a #1?.txt",{"create":true}]],
                 ["File","getParent",["hbrfile://localhost/persistent/a%20%231%3F.txt"]],
                 ["File","copyTo",["hbrfile://localhost/persistent/a%20%231%3F.txt","hbrfile://localhost/persistent/","b.txt"]],
                 ["File","resolveLocalFileSystemURI",["assets-library://asset/asset.JPG?id=1&ext=JPG"]],
                 ["File","readEntries",["hbrfile://localhost/assets-library/asset/asset.JPG?id=1&ext=JPG"]]],
         "url":"hbrfile://localhost/persistent/a%20%231%3F.txt","isFile":true,"root":true,
         "failure":[1,5,"readEntries not supported for assets-library URLs."],"same":true,
         "photo":"hbrfile://localhost/assets-library/asset/asset.JPG?id=1&ext=JPG"})"},
    {"file readers send their slice and fire their events; writers move with what they wrote",
     "harbor-plugin-file/www/file.js",
     R"JS(
       var f = harbor.require('harbor-plugin-file.file');
       var seen = [];
       var file = new f.File('n.txt', 'hbrfile://localhost/temporary/n.txt', 'text/plain', 0, 10);
       var reader = new f.FileReader();
       ['loadstart', 'load', 'error', 'loadend'].forEach(function (name) {
         reader['on' + name] = function (e) { seen.push(name + ' ' + e.target.readyState); };
       });
       reader.readAsText(file.slice(2, -3));
       calls[0].success('23456');
       var text = reader.result;
       reader.readAsArrayBuffer(file.slice(-2));
       calls[1].fail(1);
       var code = reader.error.code;
       var writer = new f.FileWriter(file);
       writer.seek(4);
       writer.write('abc');
       calls[2].success(3);
       var afterWrite = [writer.position, writer.length];
       writer.truncate(2);
       calls[3].success(2);
       ({ sent: sent(), seen: seen, text: text, code: code, afterWrite: afterWrite,
          afterTruncate: [writer.position, writer.length] })
     )JS",
     R"({"sent":[["File","readAsText",["hbrfile://localhost/temporary/n.txt","UTF-8",2,7]],
                 ["File","readAsArrayBuffer",["hbrfile://localhost/temporary/n.txt",8,10]],
                 ["File","write",["hbrfile://localhost/temporary/n.txt","abc",4]],
                 ["File","truncate",["hbrfile://localhost/temporary/n.txt",2]]],
         "seen":["loadstart 1","load 2","loadend 2","loadstart 1","error 2","loadend 2"],
         "text":"23456","code":1,"afterWrite":[7,7],"afterTruncate":[2,2]})"},
    {"file transfer sends every argument by position and tells progress from the answer",
     "harbor-plugin-file-transfer/www/filetransfer.js",
     R"JS(
       var FT = harbor.require('harbor-plugin-file-transfer.FileTransfer');
       var t = new FT(), heard = [];
       t.onprogress = function (p) { heard.push(p.loaded + '/' + p.total); };
       t.upload('/a.txt', 'http://127.0.0.1/up', function (r) { heard.push(r.responseCode); },
                function (e) { heard.push(e.code + ' ' + e.http_status); },
                { fileKey: 'f', params: { a: 1 }, chunkedMode: false, httpMethod: 'PUT' }, true);
       calls[0].success({ lengthComputable: true, loaded: 5, total: 10 });
       calls[0].success({ responseCode: 201, bytesSent: 10 });
       calls[0].fail({ code: 3, http_status: 500 });
       t.download('http://127.0.0.1/f', '/b.txt', null, null);
       t.abort();
       ({ heard: heard, sent: sent(), abortCode: window.FileTransferError.ABORT_ERR })
     )JS",
     R"({"heard":["5/10",201,"3 500"],
         "sent":[["FileTransfer","upload",["/a.txt","http://127.0.0.1/up","f",null,null,{"a":1},true,false,null,"1","PUT"]],
                 ["FileTransfer","download",["http://127.0.0.1/f","/b.txt",false,"1",null]],
                 ["FileTransfer","abort",["1"]]],"abortCode":4})"},
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
    {"geolocation sends the page's timeout as the web reads it, and its expiry as code 3",
     "harbor-plugin-geolocation/www/geolocation.js",
     R"JS(
       var g = harbor.require('harbor-plugin-geolocation.geolocation');
       var heard = [];
       g.getCurrentPosition(null, function (e) { heard.push(e); }, { timeout: 5000 });
       calls[0].fail({ code: 3, message: 'Timeout expired' });
       g.getCurrentPosition(null, null, { timeout: -3 });
       g.getCurrentPosition(null, null, { timeout: '2.6' });
       g.getCurrentPosition(null, null, { timeout: Infinity });
       g.getCurrentPosition(null, null, { timeout: NaN });
       g.getCurrentPosition(null, null, {});
       g.watchPosition(null, function (e) { heard.push(e.code); }, { timeout: 1e20, enableHighAccuracy: true });
       calls[6].fail({ code: 3, message: 'Timeout expired' });
       ({ heard: heard, sent: sent(), code: g.TIMEOUT })
     )JS",
     R"({"heard":[{"code":3,"message":"Timeout expired"},3],
         "sent":[["Geolocation","getLocation",[false,5000]],["Geolocation","getLocation",[false,0]],
                 ["Geolocation","getLocation",[false,3]],["Geolocation","getLocation",[false,4294967295]],
                 ["Geolocation","getLocation",[false,0]],["Geolocation","getLocation",[false]],
                 ["Geolocation","addWatch",["1",true,4294967295]]],"code":3})"},
    {"contacts send plain contacts and turn both error forms into a ContactError",
     "harbor-plugin-contacts/www/contacts.js",
     R"JS(
       var c = harbor.require('harbor-plugin-contacts.contacts');
       var heard = [];
       var zoe = c.create({ nickname: 'Zo' });
       zoe.save(function (stored) { heard.push(stored.id); stored.remove(function () { heard.push('gone'); }); },
                function (e) { heard.push(e.code); });
       calls[0].fail(4);
       calls[0].success({ id: 7, nickname: 'Zo' });
       c.find(['name'], function (found) { heard.push(found.length); }, function (e) { heard.push(e.code); },
              { filter: 'Zo', multiple: true });
       calls[2].fail({ code: 20 });
       c.pickContact(function () {}, function (e) { heard.push(e.code); });
       calls[3].fail(6);
       c.displayContact(7, null, { allowsEditing: true });
       c.newContactUI(function (id) { heard.push(id); });
       ({ heard: heard, sent: sent() })
     )JS",
     R"({"heard":[4,7,20,6],
         "sent":[["Contacts","save",[{"id":null,"nickname":"Zo"}]],["Contacts","remove",[7]],
                 ["Contacts","search",[["name"],{"filter":"Zo","multiple":true}]],["Contacts","pickContact",[[]]],
                 ["Contacts","displayContact",[7,{"allowsEditing":true}]],["Contacts","newContact",[]]]})"},
    {"contacts send a Date birthday as milliseconds and refuse what is no contact",
     "harbor-plugin-contacts/www/contacts.js",
     R"JS(
       var c = harbor.require('harbor-plugin-contacts.contacts');
       var heard = [];
       function error(e) { heard.push(e.code); }
       c.save({ nickname: 'Zo', birthday: new Date(482198400000) }, null, error);
       c.create({ birthday: new Date(0) }).save(null, error);
       c.save({ birthday: 7 }, null, error);
       ['text', 42, null, undefined, [1], { birthday: NaN }, { birthday: Infinity },
        { birthday: new Date('not a date') }].forEach(function (bad) { c.save(bad, null, error); });
       c.save('text');
       ({ heard: heard, sent: sent(), logged: logged.length })
     )JS",
     R"({"heard":[4,4,4,4,4,4,4,4],
         "sent":[["Contacts","save",[{"nickname":"Zo","birthday":482198400000}]],
                 ["Contacts","save",[{"id":null,"birthday":0}]],
                 ["Contacts","save",[{"birthday":7}]]],
         "logged":9})"},
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
