// Page values on their way to native code, under both page engines, so that a test on the
// headless engine predicts WebKit: a WKWebView page's script message (the table of
// plat/testing/ScriptMessageCases.h, measured here on WebKit) and a UIWebView page's JSON batch,
// which the bridge fetches by evaluating script.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "WebKitFixture.h"
#include "plat/foundation/JSON.h"
#include "plat/testing/ScriptMessageCases.h"

namespace {

using harbor::testing::backendName;
using harbor::testing::kPatience;
using harbor::testing::RecordedWKWebView;
using harbor::testing::WebKitEngineTest;
using plat::testing::describeTyped;
using plat::testing::hugeScriptMessageBodies;
using plat::testing::kNotSent;
using plat::testing::scriptMessageCases;

// Between two cases the page posts this, numbered.
const std::string kCaseEnd = "\x01 end of case ";

// A page that posts each body in turn, then 'after'.
std::string postingPage(const std::vector<std::string>& bodies) {
  std::string page = "<!doctype html><title>ready</title><script>var h = window.webkit.messageHandlers.harbor;\n";
  for (const std::string& body : bodies) page += "h.postMessage(" + body + ");\n";
  return page + "h.postMessage('after');</script>";
}

// Whether the page's 'after' arrived in time.
::testing::AssertionResult receivedAfter(const harbor::testing::MessageRecorder& recorder) {
  const plat::Value last("after");
  if (plat::web::turnMainLoopUntil([&] { return !recorder.bodies.empty() && recorder.bodies.back() == last; }, kPatience))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << recorder.bodies.size() << " messages";
}

TEST_F(WebKitEngineTest, APageValueReachesTheHostAsWebKitCarriesItUnderBothEngines) {
  const auto& cases = scriptMessageCases();
  std::string page = "<!doctype html><title>ready</title><script>var h = window.webkit.messageHandlers.harbor;\n";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    // A message WebKit does not send still returns as usual: the page hears of nothing.
    page += "try { h.postMessage(" + cases[i].script + "); } catch (e) { h.postMessage('thrown: ' + e); }\n";
    page += "h.postMessage('" + std::string("\\x01 end of case ") + std::to_string(i) + "');\n";
  }
  page += "</script>";
  for (auto backend : {plat::web::Backend::WebKit, plat::web::Backend::Headless}) {
    SCOPED_TRACE(backendName(backend));
    plat::web::setBackend(backend);
    RecordedWKWebView loaded(page);
    auto& recorder = loaded.recorder;
    const plat::Value last(kCaseEnd + std::to_string(cases.size() - 1));
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !recorder->bodies.empty() && recorder->bodies.back() == last; },
                                             kPatience))
        << recorder->bodies.size() << " messages";

    std::size_t next = 0;
    std::vector<plat::Value> received;
    for (const plat::Value& body : recorder->bodies) {
      if (body.isString() && body.asString().rfind(kCaseEnd, 0) == 0) {
        ASSERT_LT(next, cases.size());
        std::string arrived = received.empty()       ? std::string(kNotSent)
                              : received.size() == 1 ? describeTyped(received[0])
                                                     : "several messages";
        EXPECT_EQ(arrived, cases[next].arrives) << cases[next].script;
        received.clear();
        ++next;
        continue;
      }
      received.push_back(body);
    }
    EXPECT_EQ(next, cases.size());
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// postMessage gives the page a promise, resolved with nothing once the message is sent; a call
// without a body sends nothing and throws nothing.
TEST_F(WebKitEngineTest, PostingGivesAPromiseUnderBothEngines) {
  const std::string page =
      "<!doctype html><script>var h = window.webkit.messageHandlers.harbor, sent = h.postMessage('first');"
      "h.postMessage(Object.prototype.toString.call(sent));"
      "try { h.postMessage(); } catch (e) { h.postMessage('thrown: ' + e); }"
      "sent.then(function (value) { h.postMessage('resolved with ' + value); });</script>";
  for (auto backend : {plat::web::Backend::WebKit, plat::web::Backend::Headless}) {
    SCOPED_TRACE(backendName(backend));
    plat::web::setBackend(backend);
    RecordedWKWebView loaded(page);
    auto& bodies = loaded.recorder->bodies;
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return bodies.size() >= 3; }, kPatience)) << bodies.size() << " messages";
    std::vector<std::string> arrived;
    for (const plat::Value& body : bodies) arrived.push_back(describeTyped(body));
    EXPECT_EQ(arrived, (std::vector<std::string>{"'first'", "'[object Promise]'", "'resolved with undefined'"}));
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// What a page makes at little cost but would cost the host without bound (seconds and gigabytes
// of JSON from a body of two shared arrays) arrives absent under both engines, and the messages
// after it arrive as usual.
TEST_F(WebKitEngineTest, AHugeBodyArrivesAbsentUnderBothEngines) {
  std::vector<std::string> bodies;
  for (const auto& body : hugeScriptMessageBodies())
    if (body.reachesWebKitsHost) bodies.push_back(body.script);
  const std::string page = postingPage(bodies);
  for (auto backend : {plat::web::Backend::WebKit, plat::web::Backend::Headless}) {
    SCOPED_TRACE(backendName(backend));
    plat::web::setBackend(backend);
    RecordedWKWebView loaded(page);
    auto& recorder = loaded.recorder;
    ASSERT_TRUE(receivedAfter(*recorder));
    recorder->bodies.pop_back();
    ASSERT_EQ(recorder->bodies.size(), bodies.size());
    // A body that arrived is shown by its start: the whole would be hundreds of MiB of text.
    for (std::size_t i = 0; i < bodies.size(); ++i)
      EXPECT_TRUE(recorder->bodies[i].isAbsent()) << bodies[i] << " arrived: " << describeTyped(recorder->bodies[i]).substr(0, 200);
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// A body the host cannot read arrives absent with why, and with its head: the first scalar
// elements of an array, so that the bridge can answer a command whose arguments it cannot read.
// Text counts as the host holds it: inside a container as JSON writes it, a control character or a
// lone surrogate six bytes. The same under both engines.
TEST_F(WebKitEngineTest, AnUnreadableBodyArrivesWithWhyAndItsHeadUnderBothEngines) {
  using plat::web::UnreadableBody;
  const std::string command = "['Cb1', 'LocalNotification', 'schedule', [";
  struct Case {
    std::string script;
    std::string unreadable;
  };
  const Case cases[] = {
      {"(function () { var v = 1; for (var i = 0; i < 600; i++) v = [v]; return " + command + "v]]; })()",
       std::string(UnreadableBody::kTooDeep) + " [\"Cb1\",\"LocalNotification\",\"schedule\"]"},
      {"(function () { var a = ['Cb2', null, 2.5]; a.push(a); return a; })()",
       std::string(UnreadableBody::kTooDeep) + " [\"Cb2\",null,2.5]"},
      {"(function () { var a = []; a.length = 4194304; return [undefined, true, a]; })()",
       std::string(UnreadableBody::kTooManyValues) + " [null,true]"},
      // 48 MiB of U+0001: 288 MiB once escaped.
      {command + "'\\u0001'.repeat(48 * 1024 * 1024)]]", std::string(UnreadableBody::kTooMuchText) +
                                                               " [\"Cb1\",\"LocalNotification\",\"schedule\"]"},
      // 48 Mi lone surrogates: 144 MiB as UTF-8, 288 MiB as JSON writes them ("\ud800").
      {command + "'\\ud800'.repeat(48 * 1024 * 1024)]]", std::string(UnreadableBody::kTooMuchText) +
                                                               " [\"Cb1\",\"LocalNotification\",\"schedule\"]"},
      {"[{deep: (function () { var v = 1; for (var i = 0; i < 600; i++) v = [v]; return v; })()}, 'x']",
       std::string(UnreadableBody::kTooDeep) + " []"},
      // Within the bounds: read whole, nothing unreadable.
      {command + "'\\u0001'.repeat(1024)]]", ""},
  };
  std::vector<std::string> bodies;
  for (const Case& c : cases) bodies.push_back(c.script);
  const std::string page = postingPage(bodies);
  for (auto backend : {plat::web::Backend::WebKit, plat::web::Backend::Headless}) {
    SCOPED_TRACE(backendName(backend));
    plat::web::setBackend(backend);
    RecordedWKWebView loaded(page);
    auto& recorder = loaded.recorder;
    ASSERT_TRUE(receivedAfter(*recorder));
    ASSERT_EQ(recorder->bodies.size(), std::size(cases) + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      EXPECT_EQ(recorder->unreadable[i], cases[i].unreadable) << cases[i].script.substr(0, 120);
      EXPECT_EQ(recorder->bodies[i].isAbsent(), !cases[i].unreadable.empty()) << cases[i].script.substr(0, 120);
    }
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// A message WebKit cannot copy (here a function) is never sent, so it waits nowhere: a page that
// posted more such messages than a page may have waiting still gets its later messages through,
// and so does the next document, under both engines. (Counted as waiting, they held the page's
// bridge shut for good, in every later document too.) Each later message is posted until it is
// not dropped: the page cannot know when the container has counted.
TEST_F(WebKitEngineTest, MessagesThatWereNeverSentDoNotHoldThePagesBridgeShut) {
  const std::string flood =
      "var h = window.webkit.messageHandlers.harbor;"
      "for (var i = 0; i < 10001; i++) h.postMessage(function () {});"
      "function post(text, then) {"
      "  h.postMessage(text).then(function (v) { v === 'dropped' ? setTimeout(function () { post(text, then); }, 50) : then(); });"
      "}";
  writeFile(inBundle("www/first.html"), "<!doctype html><script>" + flood +
                                            "post('first', function () {"
                                            "  for (var i = 0; i < 10001; i++) h.postMessage(function () {});"
                                            "  location.href = 'second.html';"
                                            "});</script>");
  writeFile(inBundle("www/second.html"), "<!doctype html><script>" + flood + "post('second', function () {});</script>");
  for (auto backend : {plat::web::Backend::WebKit, plat::web::Backend::Headless}) {
    SCOPED_TRACE(backendName(backend));
    plat::web::setBackend(backend);
    RecordedWKWebView loaded("<!doctype html>");
    loaded.view->loadFileURL(plat::NSURL::fileURLWithPath(inBundle("www/first.html")),
                             plat::NSURL::fileURLWithPath(inBundle("www"), true));
    auto& bodies = loaded.recorder->bodies;
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return bodies.size() >= 2; }, kPatience)) << bodies.size() << " messages";
    plat::web::turnMainLoopUntil([] { return false; }, 0.2);
    EXPECT_EQ(bodies, (std::vector<plat::Value>{plat::Value("first"), plat::Value("second")}));
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// The same bounds hold for what a page's script gives back to an evaluation (a page may replace
// the functions the bridge calls): the result has no value form, as on the headless engine
// (JSContextTest), and the next evaluation is answered as usual.
TEST_F(WebKitEngineTest, AHugeEvaluationResultHasNoValueForm) {
  RecordedWKWebView loaded("<!doctype html><script>window.webkit.messageHandlers.harbor.postMessage('loaded');</script>");
  ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !loaded.recorder->bodies.empty(); }, kPatience));
  for (const auto& body : hugeScriptMessageBodies()) {
    if (!body.reachesWebKitsHost) continue;
    std::optional<std::optional<plat::NSError>> answer;
    loaded.view->evaluateJavaScript(body.script, [&](const plat::Value&, const std::optional<plat::NSError>& error) {
      answer = error;
    });
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return answer.has_value(); }, kPatience)) << body.script;
    ASSERT_TRUE(*answer) << body.script;
    EXPECT_EQ((*answer)->code, plat::WKErrorJavaScriptResultTypeIsUnsupported) << body.script;
  }
  std::optional<plat::Value> after;
  loaded.view->evaluateJavaScript("[1, 'two']", [&](const plat::Value& value, const std::optional<plat::NSError>&) {
    after = value;
  });
  ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return after.has_value(); }, kPatience));
  EXPECT_EQ(describeTyped(*after), "[i1,'two']");
}

// A UIWebView page queues its commands as JSON and the bridge fetches them by evaluating
// nativeFetchMessages(): the same text under both engines, whatever the page put in them.
TEST_F(WebKitEngineTest, AUIWebViewPagesBatchIsTheSameTextUnderBothEngines) {
  std::ifstream file(std::string(HARBOR_SOURCE_DIR) + "/www/harbor.js");
  std::stringstream pageScript;
  pageScript << file.rdbuf();
  ASSERT_FALSE(pageScript.str().empty());
  writeFile(inBundle("harbor.js"), pageScript.str());
  std::string page =
      "<!doctype html><script src=\"harbor.js\"></script><script>"
      "var exec = harbor.require('harbor/exec'); exec.signal = function () {};"
      "var refused = 0;"
      "function send(args) { try { exec(null, null, 'Echo', 'echo', args); } catch (e) { refused++; } }\n"
      "send([NaN, new Date(0), {f: function () {}, u: undefined}, [function () {}], {toJSON: function () { return 1; }},"
      " new Uint8Array([1, 2]), {nested: new Float64Array([-0, Infinity])}, '\\ud800']);\n";
  // The table's cases but those that change the page's built-ins, and those nested near the
  // reader's limit (inside a batch, one too deep leaves the whole batch unreadable).
  const auto& cases = scriptMessageCases();
  std::size_t sent = 0;
  for (std::size_t i = 0; i + 2 < cases.size(); ++i) {
    if (cases[i].script.find("; i < 51") != std::string::npos) continue;
    page += "send([" + cases[i].script + "]);\n";
    ++sent;
  }
  page += "document.title = 'ready';</script>";
  std::string texts[2];
  std::string refused[2];
  for (int round = 0; round < 2; ++round) {
    auto backend = round == 0 ? plat::web::Backend::WebKit : plat::web::Backend::Headless;
    SCOPED_TRACE(backendName(backend));
    plat::web::setBackend(backend);
    loadPage("batch.html", page);
    EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("exec.bridgeMode()"), "iframe");
    texts[round] = view_->stringByEvaluatingJavaScriptFromString("exec.nativeFetchMessages()");
    refused[round] = view_->stringByEvaluatingJavaScriptFromString("refused");
    view_.reset();
  }
  // Cycles, BigInts and a throwing getter fail at their caller, under both engines alike.
  EXPECT_EQ(refused[0], "10");
  EXPECT_EQ(refused[1], refused[0]);
  std::size_t differs = std::mismatch(texts[0].begin(), texts[0].end(), texts[1].begin(), texts[1].end()).first -
                        texts[0].begin();
  EXPECT_TRUE(texts[0] == texts[1]) << "the batches differ from character " << differs << ": "
                                    << texts[0].substr(differs, 80) << " | " << texts[1].substr(differs, 80);
  auto batch = plat::json::parse(texts[0]);
  ASSERT_TRUE(batch) << batch.error();
  ASSERT_TRUE(batch->isArray());
  EXPECT_EQ(batch->asArray().size(), 1 + sent - 10);
  // JSON's rules, applied in the page: the page's toJSON counts, binary arguments travel as
  // Base64 (the queue turns them back into bytes), nested ones by element.
  EXPECT_EQ(describeTyped(batch->at(0)),
            "['INVALID','Echo','echo',[null,'1970-01-01T00:00:00.000Z',{},[null],i1,"
            "{HBRType:'ArrayBuffer',data:'AQI='},{nested:{0:i0,1:null}},'\\xef\\xbf\\xbd']]");
  plat::web::setBackend(plat::web::Backend::WebKit);
}

}  // namespace
