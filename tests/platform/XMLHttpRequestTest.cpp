// XMLHttpRequest and fetch() in the headless page engine: what a page reads from file:, data:,
// a URL protocol the application registered, and http.
#include <gtest/gtest.h>

#include <chrono>

#include "LoopbackServer.h"
#include "plat/foundation/NSURLProtocol.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIWebView.h"

using namespace plat;

namespace {

// "harbortest://host/<text>" answers the text as an HTTP response of status 200, or 404 for
// "/missing"; "harbortest://host/huge" sends 1 MiB pieces past the page engine's limit.
class TestProtocol : public NSURLProtocol {
 public:
  static bool canInitWithRequest(const NSURLRequestPtr& r) { return r->URL()->scheme() == std::optional<std::string>("harbortest"); }
  void startLoading() override {
    std::string path = request()->URL()->path();
    if (path == "/huge") {
      client()->URLProtocolDidReceiveResponseCacheStoragePolicy(
          *this, NSURLResponse::responseWithURL(request()->URL(), "application/octet-stream", -1, std::nullopt),
          NSURLCacheStoragePolicy::NotAllowed);
      Data piece(1024 * 1024, 0x41);
      for (int i = 0; i < 65 && !stopped_; ++i) client()->URLProtocolDidLoadData(*this, piece);
      client()->URLProtocolDidFinishLoading(*this);
      return;
    }
    long status = path == "/missing" ? 404 : 200;
    std::string body = path.substr(1);
    client()->URLProtocolDidReceiveResponseCacheStoragePolicy(
        *this,
        NSHTTPURLResponse::responseWithURL(request()->URL(), status,
                                           {{"Content-Type", "text/plain; charset=utf-8"}, {"X-Served-By", "test"}}),
        NSURLCacheStoragePolicy::NotAllowed);
    client()->URLProtocolDidLoadData(*this, Data(body.begin(), body.end()));
    client()->URLProtocolDidFinishLoading(*this);
  }
  void stopLoading() override { stopped_ = true; }

 private:
  bool stopped_ = false;
};

// The page's helpers: get(url, type) records what an XMLHttpRequest saw in `seen`; take(url)
// records a fetch's outcome in `fetched`.
constexpr char kHelpers[] = R"JS(
var seen = null, fetched = null;
function get(url, type) {
  seen = null;
  var xhr = new XMLHttpRequest();
  var log = { states: [], events: [] };
  xhr.onreadystatechange = function () { log.states.push(xhr.readyState); };
  ['loadstart', 'progress', 'load', 'error', 'abort', 'loadend'].forEach(function (name) {
    xhr.addEventListener(name, function (e) {
      if (log.events[log.events.length - 1] !== name) log.events.push(name);
      if (name === 'loadend') {
        log.status = xhr.status; log.statusText = xhr.statusText;
        log.type = xhr.getResponseHeader('content-type'); log.url = xhr.responseURL;
        log.body = type === 'arraybuffer' ? Array.prototype.slice.call(new Uint8Array(xhr.response)).join(' ') :
                   type === 'json' ? JSON.stringify(xhr.response) : xhr.responseText;
        log.loaded = e.loaded;
        log.headers = xhr.getAllResponseHeaders();
        seen = log;
      }
    });
  });
  xhr.open('GET', url);
  if (type) xhr.responseType = type;
  xhr.send();
  return xhr;
}
function take(url) {
  fetched = null;
  fetch(url).then(function (r) {
    return r.text().then(function (text) {
      fetched = [r.status, r.ok, r.statusText, r.headers.get('Content-Type'), text].join('|');
    });
  }, function (e) { fetched = e.name + ': ' + e.message; });
}
)JS";

}  // namespace

class XMLHttpRequestTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    NSURLProtocol::registerClass<TestProtocol>("harbortest");
    writeFile(inHome("www/index.html"), std::string("<script>") + kHelpers + "</script>");
    writeFile(inHome("www/data/note.txt"), "caf\xC3\xA9 \xE2\x9C\x93");
    writeFile(inHome("www/data/bytes.bin"), std::string("\x00\x01\xFF", 3));
    writeFile(inHome("www/data/list.json"), "{\"items\": [1, 2]}");
    view_ = std::make_shared<UIWebView>();
    view_->initWithFrame(CGRectMake(0, 0, 320, 480));
  }
  void TearDown() override {
    view_.reset();
    NSURLProtocol::unregisterClass("harbortest");
    runUntilIdle();
    SandboxTest::TearDown();
  }
  void open(const std::string& url) {
    view_->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(url)));
    runUntilIdle();
  }
  std::string eval(const std::string& script) { return view_->stringByEvaluatingJavaScriptFromString(script); }
  // Runs the script, then the loop (waiting for other threads) until `until` is no longer null.
  std::string await(const std::string& script, const std::string& until) {
    eval(script);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (eval(until + " === null") == "true" && std::chrono::steady_clock::now() < deadline) {
      runUntilIdle();
      if (eval(until + " === null") == "true") waitForMain(0.05);
    }
    return eval("JSON.stringify(" + until + ")");
  }
  std::string field(const std::string& name) { return eval("String(seen." + name + ")"); }

  UIWebViewPtr view_;
};

TEST_F(XMLHttpRequestTest, AFilePageReadsItsFilesAsTextBytesAndJSON) {
  open("file://" + inHome("www/index.html"));
  await("get('data/note.txt')", "seen");
  EXPECT_EQ(field("states"), "1,2,3,4");
  EXPECT_EQ(field("events"), "loadstart,progress,load,loadend");
  EXPECT_EQ(field("status") + " " + field("statusText"), "200 OK");
  EXPECT_EQ(field("body"), "caf\xC3\xA9 \xE2\x9C\x93");
  EXPECT_EQ(field("type"), "text/plain");
  EXPECT_EQ(field("url"), "file://" + inHome("www/data/note.txt"));
  EXPECT_EQ(field("loaded"), "9") << "bytes, not characters";

  EXPECT_EQ(await("seen = null; var l = new XMLHttpRequest(); l.open('GET', 'data/note.txt');"
                  "l.overrideMimeType('text/plain; charset=iso-8859-1'); l.onload = function () { seen = l.responseText.length; };"
                  "l.send()",
                  "seen"),
            "9")
      << "each byte one character";
  await("get('data/bytes.bin', 'arraybuffer')", "seen");
  EXPECT_EQ(field("body"), "0 1 255");
  await("get('data/list.json', 'json')", "seen");
  EXPECT_EQ(field("body"), "{\"items\":[1,2]}");

  EXPECT_EQ(await("take('data/note.txt')", "fetched"), "\"200|true|OK|text/plain|caf\xC3\xA9 \xE2\x9C\x93\"");
  EXPECT_EQ(await("fetched = null; fetch('data/bytes.bin').then(function (r) { return r.arrayBuffer(); })"
                  ".then(function (b) { fetched = new Uint8Array(b)[2]; })",
                  "fetched"),
            "255");
  EXPECT_EQ(await("fetched = null; fetch('data/list.json').then(function (r) { return r.json(); })"
                  ".then(function (j) { fetched = j.items.length; })",
                  "fetched"),
            "2");
}

TEST_F(XMLHttpRequestTest, DataURLsAndRegisteredProtocolsAnswerWithTheirStatus) {
  open("file://" + inHome("www/index.html"));
  await("get('data:text/plain;charset=utf-8,hello%20there')", "seen");
  EXPECT_EQ(field("status") + "|" + field("body") + "|" + field("type"), "200|hello there|text/plain; charset=utf-8");

  await("get('harbortest://host/served')", "seen");
  EXPECT_EQ(field("status") + "|" + field("body") + "|" + field("headers"),
            "200|served|content-type: text/plain; charset=utf-8\r\nx-served-by: test\r\n");
  await("get('harbortest://host/missing')", "seen");
  EXPECT_EQ(field("status") + "|" + field("statusText") + "|" + field("events"), "404|Not Found|loadstart,progress,load,loadend")
      << "an HTTP error status is a response, not a failure";
  EXPECT_EQ(await("take('harbortest://host/missing')", "fetched"), "\"404|false|Not Found|text/plain; charset=utf-8|missing\"");
  EXPECT_EQ(await("take('data:,plain')", "fetched"), "\"200|true|OK|text/plain; charset=US-ASCII|plain\"");
}

TEST_F(XMLHttpRequestTest, FailuresAndRefusalsAreErrorsThePageCanSee) {
  open("file://" + inHome("www/index.html"));
  struct Case {
    std::string url;
    std::string log;
    std::string events = "loadstart,error,loadend";
    std::string states = "1,4";
  } failures[] = {
      {"data/none.txt", ""},
      {"file:///etc/passwd", "Not allowed to load local resource: file:///etc/passwd"},
      {"unknown-scheme:x", ""},
      // Past the size limit of page resources, after the response and some of the body.
      {"harbortest://host/huge", "", "loadstart,progress,error,loadend", "1,2,3,4"},
  };
  for (const Case& c : failures) {
    SCOPED_TRACE(c.url);
    await("get('" + c.url + "')", "seen");
    EXPECT_EQ(field("events"), c.events);
    EXPECT_EQ(field("status") + "|" + field("body") + "|" + field("states"), "0||" + c.states);
    EXPECT_EQ(await("take('" + c.url + "')", "fetched").substr(0, 28), "\"TypeError: Failed to fetch:");
    if (!c.log.empty()) {
      EXPECT_TRUE(log_->contains(c.log));
    }
  }
  EXPECT_TRUE(log_->contains("failed: ")) << "every failure is logged with its reason";

  struct Refusal {
    std::string script;
    std::string expected;
  } refusals[] = {
      {"var x = new XMLHttpRequest(); try { x.open('POST', 'data/note.txt'); 'no' } catch (e) { e.name }", "NotSupportedError"},
      {"var x = new XMLHttpRequest(); try { x.open('GET', 'data/note.txt', false); 'no' } catch (e) { e.name }", "InvalidAccessError"},
      {"var x = new XMLHttpRequest(); try { x.send(); 'no' } catch (e) { e.name }", "InvalidStateError"},
      {"var x = new XMLHttpRequest(); x.open('GET', 'data/note.txt');"
       "try { x.setRequestHeader('X-A', 'a\\r\\nb: c'); 'no' } catch (e) { e.name }",
       "SyntaxError"},
      {"var x = new XMLHttpRequest(); x.responseType = 'arraybuffer'; try { x.responseText; 'no' } catch (e) { e.name }",
       "InvalidStateError"},
  };
  for (const Refusal& r : refusals) EXPECT_EQ(eval(r.script), r.expected) << r.script;
  EXPECT_EQ(await("fetched = null; fetch('data/note.txt', { method: 'PUT' }).catch(function (e) { fetched = e.name; })",
                  "fetched"),
            "\"TypeError\"");
}

TEST_F(XMLHttpRequestTest, AnAbortedOrAbandonedLoadReportsNothingMore) {
  open("file://" + inHome("www/index.html"));
  EXPECT_EQ(eval("var events = []; var x = get('data/note.txt'); x.onabort = function () { events.push('abort:' + x.readyState); };"
                 "x.abort(); events.push('after:' + x.readyState); events.join()"),
            "abort:4,after:0");
  runUntilIdle();
  EXPECT_EQ(eval("String(seen && seen.events)"), "loadstart,abort,loadend");

  // The page goes elsewhere while loads are in flight: nothing reaches the old document.
  eval("get('data/note.txt'); take('data/note.txt'); window.lateLoad = true;");
  writeFile(inHome("www/next.html"), "<p>next</p>");
  open("file://" + inHome("www/next.html"));
  EXPECT_EQ(eval("typeof lateLoad"), "undefined");
  EXPECT_FALSE(log_->contains("JavaScript error"));
}

TEST_F(XMLHttpRequestTest, HttpResourcesAnswerWithTheirStatusAndHeaders) {
  harbor::testing::LoopbackServer server;
  if (!server.ok()) GTEST_SKIP() << "no loopback socket";
  server.route("/index.html", {200, "text/html", std::string("<script>") + kHelpers + "</script>", {}, false});
  server.route("/api", {200, "application/json", "{\"ok\":true}", {{"X-Version", "7"}}, false});
  server.route("/gone", {404, "text/plain", "no such thing", {}, false});
  view_->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/index.html"))));
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (eval("typeof get") != "function" && std::chrono::steady_clock::now() < until) waitForMain(0.1);

  await("var x = get('/api', 'json'); x", "seen");
  EXPECT_EQ(field("status") + "|" + field("body") + "|" + field("url"), "200|{\"ok\":true}|" + server.url("/api"));
  EXPECT_NE(field("headers").find("x-version: 7\r\n"), std::string::npos);
  EXPECT_EQ(await("seen = null; var y = new XMLHttpRequest(); y.open('GET', '/gone'); y.setRequestHeader('X-Token', 'abc');"
                  "y.setRequestHeader('Host', 'elsewhere.example');"
                  "y.onloadend = function () { seen = y.status + ' ' + y.statusText + ' ' + y.responseText; }; y.send()",
                  "seen"),
            "\"404 Not Found no such thing\"");
  bool sentHeader = false;
  for (const std::string& request : server.requests()) sentHeader |= request.find("X-Token: abc") != std::string::npos;
  EXPECT_TRUE(sentHeader);
  for (const std::string& request : server.requests())
    EXPECT_EQ(request.find("elsewhere.example"), std::string::npos) << "the loading system keeps the Host field";
  EXPECT_EQ(await("take('/api')", "fetched"), "\"200|true|OK|application/json|{\\\"ok\\\":true}\"");
  await("get('file://" + inHome("www/data/note.txt") + "')", "seen");
  EXPECT_EQ(field("events"), "loadstart,error,loadend") << "an http page reads no local files";
}
