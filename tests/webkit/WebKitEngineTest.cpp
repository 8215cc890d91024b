// The WebKit page engine in process, on a virtual display of the test's own (Xvfb): what the
// runner's process tests cannot see. The synchronous evaluation a UIWebView makes must answer,
// also across a page dialog answered on a later turn, and give up on a page that runs away;
// WebKit's web storage for file pages must land where the storage backup copies it; and pages
// read no file outside the sandbox home, the bundle and a WKWebView's read-access folder.
//
// WebKit is started once per process (a test program run whole shares one virtual display).
// Skipped, with the reason, where Xvfb is not installed. Under the sanitizers this program runs
// with tests/lsan-webkit.supp (the toolkit's own memory).
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "HTTPTestServer.h"
#include "WebKitFixture.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSURLError.h"
#include "plat/webkit/WKNavigationDelegate.h"

namespace {

using harbor::testing::kPatience;
using harbor::testing::RecordedWKWebView;
using harbor::testing::WebKitEngineTest;

TEST_F(WebKitEngineTest, SynchronousEvaluationAnswersAndGivesUpOnARunawayPage) {
  loadPage("index.html", "<!doctype html><title>ready</title><body><script>var n = 41;</script></body>");
  // Page dialogs are answered on a later turn, as the runner's stand-in for the user does.
  view_->setJavaScriptPanelHandler([](const plat::UIWebView::JavaScriptPanel& panel,
                                      plat::UIWebView::JavaScriptPanelAnswer answer) {
    plat::RunLoop::main().post([answer, panel] { answer(true, panel.kind == panel.Kind::Prompt ? "Ada" : ""); });
  });
  struct Case {
    const char* script;
    const char* expected;
  };
  const Case cases[] = {
      {"n + 1", "42"},
      {"'text ' + 'joined'", "text joined"},
      {"({a: 1})", "[object Object]"},
      {"[1, 2]", "1,2"},
      {"null", ""},
      {"undefined", ""},
      {"throw new Error('no')", ""},
      // The page waits for the dialog inside the evaluation; its answer comes from the main loop.
      {"alert('hello'); 'after the alert'", "after the alert"},
      {"confirm('sure?') ? 'yes' : 'no'", "yes"},
      {"prompt('name?', '')", "Ada"},
  };
  for (const Case& c : cases) EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString(c.script), c.expected) << c.script;

  // A page that runs away: the evaluation gives up within its bound, says so, and the container
  // goes on.
  plat::web::setSyncEvaluationSecondsForTesting(1);
  log_->clear();
  EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("for (;;) {}"), "");
  EXPECT_TRUE(log_->contains("WebKit: gave up waiting for the page's script after 1 s")) << "no log line";
  log_->clear();
  EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("n"), "") << "the page still runs away";
  EXPECT_TRUE(log_->contains("WebKit: gave up waiting"));

  // Once the process is stopping, nothing waits on the page any more.
  plat::JSContext::stopAllScripts();
  log_->clear();
  EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("n"), "");
  EXPECT_FALSE(log_->contains("gave up")) << "a stopped page is not waited for";
  view_.reset();  // ends the runaway page's process
}

// A script that keeps the page busy past the bound: the caller that asked for the page's answer
// gets it once it comes, on a later turn (the page may have handed over commands it no longer
// holds); a quick one is answered before the call returns, as always (with a bound no loaded
// machine reaches: only the given-up cases need a short one).
TEST_F(WebKitEngineTest, AnEvaluationGivenUpOnStillHandsOverThePagesAnswer) {
  loadPage("index.html",
           "<!doctype html><title>ready</title><body><script>"
           "function busy(ms, v) { var end = Date.now() + ms; while (Date.now() < end) {} return v; }</script></body>");
  struct Case {
    const char* script;
    bool atOnce;
    const char* answer;
  };
  const Case cases[] = {
      {"busy(0, 'quick')", true, "quick"},
      {"busy(1500, 'the commands queued meanwhile')", false, "the commands queued meanwhile"},
      {"busy(1500, null)", false, ""},
      {"busy(1500, 42)", false, "42"},
  };
  for (const Case& c : cases) {
    plat::web::setSyncEvaluationSecondsForTesting(c.atOnce ? kPatience : 0.5);
    log_->clear();
    std::vector<std::string> answers;
    view_->evaluateJavaScriptFromString(c.script, [&](const std::string& answer) { answers.push_back(answer); });
    EXPECT_EQ(answers.size(), c.atOnce ? 1u : 0u) << c.script;
    EXPECT_EQ(log_->contains("WebKit: gave up waiting for the page's script"), !c.atOnce) << c.script;
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !answers.empty(); }, kPatience)) << c.script;
    plat::web::turnMainLoopUntil([] { return false; }, 0.2);
    EXPECT_EQ(answers, std::vector<std::string>{c.answer}) << c.script << ": answered once";
  }
}

// The bridge's answers reach it in the order the page gave them, also when the first was given up
// on: the commands a long callback made run before those the page made after it, and so do
// those of an answer made while the late one is taken (a plugin answering at once).
TEST_F(WebKitEngineTest, TheBridgesAnswersKeepTheOrderThePageGaveThem) {
  loadPage("index.html",
           "<!doctype html><title>ready</title><body><script>"
           "function busy(ms, v) { var end = Date.now() + ms; while (Date.now() < end) {} return v; }</script></body>");
  struct Case {
    const char* what;
    bool answerWhileTaken;
    std::vector<std::string> order;
  };
  const Case cases[] = {
      {"a quick answer right behind a late one", false, {"late", "quick"}},
      {"and one asked for as the late one is taken", true, {"late", "quick", "made while taken"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> answers;
    auto record = [&answers](const std::string& answer) { answers.push_back(answer); };
    plat::web::setSyncEvaluationSecondsForTesting(0.5);
    view_->evaluateJavaScriptFromString("busy(1500, 'late')", [&](const std::string& answer) {
      record(answer);
      if (c.answerWhileTaken) view_->evaluateJavaScriptFromString("'made while taken'", record);
    });
    EXPECT_TRUE(answers.empty()) << "the late one was not given up on";
    // The next one waits for the page as long as it takes: its answer comes right behind.
    plat::web::setSyncEvaluationSecondsForTesting(kPatience);
    view_->evaluateJavaScriptFromString("'quick'", record);
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return answers.size() >= c.order.size(); }, kPatience));
    plat::web::turnMainLoopUntil([] { return false; }, 0.2);
    EXPECT_EQ(answers, c.order);
  }
}

// A stop request while the bridge's evaluation waits for the page: its caller is answered (with
// nothing) before the call returns, not left waiting for an answer nobody will take.
TEST_F(WebKitEngineTest, AStopRequestAnswersTheBridgesWaitingEvaluation) {
  loadPage("index.html",
           "<!doctype html><title>ready</title><body><script>"
           "function busy(ms, v) { var end = Date.now() + ms; while (Date.now() < end) {} return v; }</script></body>");
  plat::web::setSyncEvaluationSecondsForTesting(kPatience);
  std::thread stop([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    plat::JSContext::stopAllScripts();
  });
  std::vector<std::string> answers;
  view_->evaluateJavaScriptFromString("busy(5000, 'late')", [&](const std::string& answer) { answers.push_back(answer); });
  stop.join();
  EXPECT_EQ(answers, std::vector<std::string>{""});
  plat::web::turnMainLoopUntil([] { return false; }, 0.2);
  EXPECT_EQ(answers.size(), 1u) << "answered more than once";
}

// A page's texts reach the container cut, under both engines: its dialogs' messages and default
// texts (from the page and, on WebKit, from a frame of it) and its console lines.
TEST_F(WebKitEngineTest, ThePagesTextsReachTheContainerCut) {
  writeFile(inBundle("index.html"), "<!doctype html><title>ready</title><body><iframe></iframe></body>");
  const std::string cut = " ... (3616 more characters cut)";
  struct Case {
    const char* script;
    std::string shown;   // the dialog's message and default text, or the log line
    bool webKitOnly = false;
  };
  const Case cases[] = {
      {"alert('a'.repeat(20000))", std::string(16384, 'a') + cut + "|"},
      {"confirm('c'.repeat(20000))", std::string(16384, 'c') + cut + "|"},
      {"prompt('name?', 'd'.repeat(20000))", "name?|" + std::string(16384, 'd') + cut},
      {"frames[0].alert('f'.repeat(20000))", std::string(16384, 'f') + cut + "|", true},
      {"console.log('l'.repeat(20000))", "console.log: " + std::string(16384, 'l') + cut},
  };
  for (auto backend : {plat::web::Backend::WebKit, plat::web::Backend::Headless}) {
    SCOPED_TRACE(harbor::testing::backendName(backend));
    plat::web::setBackend(backend);
    auto view = std::make_shared<plat::UIWebView>();
    view->init();
    std::vector<std::string> shown;
    view->setJavaScriptPanelHandler([&shown](const plat::UIWebView::JavaScriptPanel& panel,
                                             plat::UIWebView::JavaScriptPanelAnswer answer) {
      shown.push_back(panel.message + "|" + panel.defaultText);
      answer(true, std::nullopt);
    });
    view->loadRequest(plat::NSURLRequest::requestWithURL(plat::NSURL::fileURLWithPath(inBundle("index.html"))));
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return view->page()->title() == "ready"; }, kPatience));
    for (const Case& c : cases) {
      if (c.webKitOnly && backend != plat::web::Backend::WebKit) continue;
      SCOPED_TRACE(c.script);
      shown.clear();
      log_->clear();
      view->stringByEvaluatingJavaScriptFromString(c.script);
      bool dialog = std::string(c.script).rfind("console", 0) != 0;
      ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return dialog ? !shown.empty() : log_->contains("console.log: "); },
                                               kPatience));
      std::string got = dialog ? shown.front() : log_->lines().back();
      EXPECT_TRUE(got == c.shown) << got.size() << " bytes, wanted " << c.shown.size();
    }
    view.reset();
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// What a page's script throws reaches the container cut as its other texts are, from a script and
// from a call (the bridge's answers): a page throwing a 200 MB message put it whole in the runner.
TEST_F(WebKitEngineTest, AnExceptionsTextReachesTheContainerCut) {
  loadPage("index.html", "<!doctype html><title>ready</title><body></body>");
  const std::string cut = " ... (3623 more characters cut)";  // of 7 + 20000 characters, 16384 kept
  struct Case {
    bool call;
    const char* body;
    std::string message;
  };
  const Case cases[] = {
      {false, "throw new Error('e'.repeat(20000))", "Error: " + std::string(16377, 'e') + cut},
      {true, "throw new Error('c'.repeat(20000));", "Error: " + std::string(16377, 'c') + cut},
      {true, "throw new TypeError('short');", "TypeError: short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    std::optional<plat::web::WebPage::Evaluation> done;
    auto record = [&done](const plat::web::WebPage::Evaluation& e) { done = e; };
    if (c.call)
      view_->page()->callFunctionAsync(c.body, {}, record);
    else
      view_->page()->evaluateAsync(c.body, record);
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return done.has_value(); }, kPatience));
    ASSERT_TRUE(done->exception);
    EXPECT_TRUE(done->exception->message == c.message) << done->exception->message.size() << " bytes";
  }
}

TEST_F(WebKitEngineTest, WebStorageOfFilePagesLandsWhereTheBackupCopiesIt) {
  loadPage("store.html", R"(<!doctype html><title>loading</title><body><script>
    localStorage.setItem('launches', String(Number(localStorage.getItem('launches') || 0) + 1));
    var open = indexedDB.open('notes', 1);
    open.onupgradeneeded = function () { open.result.createObjectStore('notes'); };
    open.onsuccess = function () {
      var tx = open.result.transaction('notes', 'readwrite');
      tx.objectStore('notes').put('kept', 'first');
      tx.oncomplete = function () { document.title = 'ready'; };
    };
  </script></body>)");
  namespace fs = std::filesystem;
  // The storage backup's WebKit items: "localstorage" and "databases" in Library/Caches.
  std::string localStorage = inHome("Library/Caches/localstorage/file__0.localstorage");
  std::string databases = inHome("Library/Caches/databases/indexeddb/v1/file__0");
  auto hasDatabase = [&] {
    std::error_code ec;
    if (!fs::is_directory(databases, ec)) return false;
    for (const auto& entry : fs::directory_iterator(databases, ec))
      if (fs::exists(entry.path() / "IndexedDB.sqlite3", ec)) return true;
    return false;
  };
  EXPECT_TRUE(plat::web::turnMainLoopUntil([&] { return fs::exists(localStorage) && hasDatabase(); }, kPatience))
      << "WebKit wrote no " << localStorage << " or no IndexedDB.sqlite3 under " << databases;
  EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("localStorage.getItem('launches')"), "1");
}

// Pages read files with script (modules, fetch) inside the sandbox home and the bundle, and a
// WKWebView's read-access folder narrows that; nothing outside is read, by a link or by "..".
TEST_F(WebKitEngineTest, PagesReadFilesOnlyInsideTheSandboxAndTheReadAccessFolder) {
  namespace fs = std::filesystem;
  std::string outside = fs::path(home()).parent_path() / "outside.txt";
  writeFile(outside, "secret");
  writeFile(inBundle("www/data.txt"), "bundle data");
  writeFile(inBundle("beside.txt"), "beside www");
  writeFile(inHome("Documents/note.txt"), "note");
  fs::create_symlink(outside, inHome("Documents/link.txt"));
  auto url = [&](const std::string& path) { return plat::NSURL::fileURLWithPath(path)->absoluteString(); };
  std::string list = "'" + url(inBundle("www/data.txt")) + "', '" + url(inHome("Documents/note.txt")) + "', '" +
                     url(outside) + "', '" + url(inHome("Documents/link.txt")) + "', '" + url(inBundle("beside.txt")) + "'";
  std::string page = "<!doctype html><title>loading</title><body><script>var urls = [" + list + "];" + R"(
    Promise.all(urls.map(function (url) {
      return fetch(url).then(function (r) { return r.text(); }).then(function (t) { return t; }, function () { return 'refused'; });
    })).then(function (texts) { window.results = texts.join('|'); document.title = 'ready'; });
  </script></body>)";
  writeFile(inBundle("www/index.html"), page);

  // A UIWebView: the sandbox home and the bundle.
  view_ = std::make_shared<plat::UIWebView>();
  view_->init();
  view_->loadRequest(plat::NSURLRequest::requestWithURL(plat::NSURL::fileURLWithPath(inBundle("www/index.html"))));
  ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return title() == "ready"; }, kPatience));
  EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("results"), "bundle data|note|refused|refused|beside www");
  EXPECT_TRUE(log_->contains("WebKit: a page may not read " + url(outside))) << "the refusal says why";

  // A WKWebView given the www folder reads nothing beside it.
  auto wk = std::make_shared<plat::WKWebView>();
  wk->initWithFrame(plat::CGRectZero);
  wk->loadFileURL(plat::NSURL::fileURLWithPath(inBundle("www/index.html")),
                  plat::NSURL::fileURLWithPath(inBundle("www"), true));
  ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return wk->page()->title() == "ready"; }, kPatience));
  auto results = wk->page()->evaluate("results");
  ASSERT_TRUE(results);
  EXPECT_EQ(results->toString(), "bundle data|refused|refused|refused|refused");
}

// The view's first load is reported whole (start, then finish) however soon after the view's
// creation it comes (rounds of growing delay): the view's empty first document is still loading then, and must not take
// the load's reports.
TEST_F(WebKitEngineTest, TheFirstLoadOfANewViewIsReportedWhole) {
  struct Recorder : plat::UIWebViewDelegate {
    int started = 0, finished = 0, failed = 0;
    void webViewDidStartLoad(plat::UIWebView&) override { ++started; }
    void webViewDidFinishLoad(plat::UIWebView&) override { ++finished; }
    void webViewDidFailLoadWithError(plat::UIWebView&, const plat::NSError&) override { ++failed; }
  };
  writeFile(inBundle("page.html"), "<!doctype html><title>ready</title><body>page</body>");
  for (int round = 0; round < 10; ++round) {
    auto recorder = std::make_shared<Recorder>();
    auto view = std::make_shared<plat::UIWebView>();
    view->init();
    view->setDelegate(recorder);
    // The empty first document has got further each round when the load comes.
    plat::web::turnMainLoopUntil([] { return false; }, round * 0.01);
    view->loadRequest(plat::NSURLRequest::requestWithURL(plat::NSURL::fileURLWithPath(inBundle("page.html"))));
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return recorder->finished + recorder->failed > 0; }, kPatience))
        << "round " << round << ": no finish reported (" << recorder->started << " starts)";
    EXPECT_EQ(recorder->started, 1) << "round " << round;
    EXPECT_EQ(recorder->finished, 1) << "round " << round;
    EXPECT_EQ(recorder->failed, 0) << "round " << round;
  }
}

namespace {

// The value with every dictionary's keys in sorted order: WebKit hands a message's objects to
// the host without their key order.
plat::Value keysSorted(const plat::Value& value) {
  if (value.isArray()) {
    plat::Array out;
    for (const auto& item : value.asArray()) out.push_back(keysSorted(item));
    return out;
  }
  if (!value.isDictionary()) return value;
  std::vector<std::pair<std::string, plat::Value>> entries;
  for (const auto& [key, item] : value.asDictionary()) entries.emplace_back(key, keysSorted(item));
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  plat::Dictionary out;
  for (auto& [key, item] : entries) out.set(key, std::move(item));
  return out;
}

}  // namespace

// A WKWebView page's message reaches the host the same under both engines, binary data nested
// in it included: what a plugin stores from it must not depend on the engine.
TEST_F(WebKitEngineTest, AScriptMessageCarriesBinaryDataAlikeUnderBothEngines) {
  const std::string page =
      "<!doctype html><title>ready</title><script>window.webkit.messageHandlers.harbor.postMessage({"
      "u8: new Uint8Array([1, 255]), i8: new Int8Array([-1]), u16: new Uint16Array([300]),"
      "f64: new Float64Array([1.5, -2]), buffer: new Uint8Array([7, 8]).buffer, view: new DataView(new ArrayBuffer(2)),"
      "list: [new Uint8Array([9])], inner: {u32: new Uint32Array([4294967295])}, n: 5, s: 'text'});</script>";
  using plat::Array;
  using plat::Dictionary;
  const plat::Value expected = keysSorted(Dictionary{
      {"u8", Dictionary{{"0", 1}, {"1", 255}}},
      {"i8", Dictionary{{"0", -1}}},
      {"u16", Dictionary{{"0", 300}}},
      {"f64", Dictionary{{"0", 1.5}, {"1", -2}}},
      {"buffer", Dictionary{}},
      {"view", Dictionary{}},
      {"list", Array{Dictionary{{"0", 9}}}},
      {"inner", Dictionary{{"u32", Dictionary{{"0", 4294967295LL}}}}},
      {"n", 5},
      {"s", "text"},
  });
  for (auto backend : {plat::web::Backend::Headless, plat::web::Backend::WebKit}) {
    SCOPED_TRACE(backend == plat::web::Backend::WebKit ? "WebKit" : "headless");
    plat::web::setBackend(backend);
    RecordedWKWebView loaded(page);
    auto& recorder = loaded.recorder;
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !recorder->bodies.empty(); }, kPatience)) << "no message";
    EXPECT_EQ(keysSorted(recorder->bodies[0]).description(), expected.description());
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// When the page's content process dies, the engine says so and the page comes back (reloaded,
// its script state fresh); nothing waits on the dead process.
TEST_F(WebKitEngineTest, APageWhoseProcessDiesIsReloaded) {
  loadPage("index.html", "<!doctype html><title>ready</title><body><script>var n = 1;</script></body>");
  EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("window.marker = 'before'; n"), "1");
  // Our process's web content processes (this test has one page).
  std::vector<pid_t> children = harbor::testing::contentProcessesOfOurs();
  ASSERT_FALSE(children.empty()) << "no web content process of ours";
  log_->clear();
  for (pid_t child : children) ::kill(child, SIGKILL);
  ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return log_->contains("WebKit: the page's content process crashed; reloading the page"); }, kPatience))
      << "the engine did not notice";
  EXPECT_TRUE(plat::web::turnMainLoopUntil(
      [&] { return view_->stringByEvaluatingJavaScriptFromString("typeof window.marker + ' ' + n") == "undefined 1"; },
      kPatience))
      << "the page was not reloaded";
}

// A page that asks to stay before it unloads is left, as on the phone, and the process lives:
// WebKit lets go of the dialog itself as its handler returns, so one answered inside the handler
// crashed the process. WebKit asks only after a user's gesture: here a tap.
TEST_F(WebKitEngineTest, APageAskingToStayBeforeItUnloadsIsLeft) {
  writeFile(inBundle("next.html"), "<!doctype html><title>next</title><body>next</body>");
  loadPage("index.html", "<!doctype html><title>ready</title><body style=\"margin:0;height:500px\">first<script>"
                         "document.body.addEventListener('click', function () {"
                         "  window.onbeforeunload = function () { return 'stay'; };"
                         "  setTimeout(function () { location.href = 'next.html'; }, 0);"
                         "});</script></body>");
  log_->clear();
  ASSERT_TRUE(view_->page()->simulateTap(50, 50));
  EXPECT_TRUE(plat::web::turnMainLoopUntil([&] { return title() == "next"; }, kPatience)) << "the page stayed";
  EXPECT_TRUE(log_->contains("WebKit: the page's before-unload dialog 'stay' -> leave"));
}

// A host load WebKit would wait on for ever (a server that takes the connection and never
// answers) fails as timed out once its request's timeout has passed on the platform's clock, and
// not before; an address WebKit refuses (a restricted port), which it shows as an empty document,
// fails as a load instead of finishing. Under both views: both engines show their error page
// for the start page so.
TEST_F(WebKitEngineTest, AHostLoadWithoutAnAnswerTimesOutAndARefusedAddressFails) {
  using harbor::testing::HTTPTestServer;
  auto release = std::make_shared<std::atomic<bool>>(false);
  HTTPTestServer server(HTTPTestServer::Scheme::HTTP, 2 * kPatience);
  // Let go before the server waits for its connections to end.
  struct Release {
    std::shared_ptr<std::atomic<bool>> flag;
    ~Release() { *flag = true; }
  } releaseAtEnd{release};
  server.route("/silent", [release](const HTTPTestServer::Request&) {
    for (int i = 0; i < 6000 && !*release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return HTTPTestServer::reply(204, "");
  });
  ASSERT_TRUE(server.ok());

  struct Events : plat::UIWebViewDelegate, plat::WKNavigationDelegate {
    std::vector<std::string> seen;
    void webViewDidStartLoad(plat::UIWebView&) override { seen.push_back("start"); }
    void webViewDidFinishLoad(plat::UIWebView&) override { seen.push_back("finish"); }
    void webViewDidFailLoadWithError(plat::UIWebView&, const plat::NSError& e) override { failed(e); }
    void webViewDidStartProvisionalNavigation(plat::WKWebView&, const plat::WKNavigationPtr&) override {
      seen.push_back("start");
    }
    void webViewDidFinishNavigation(plat::WKWebView&, const plat::WKNavigationPtr&) override { seen.push_back("finish"); }
    void webViewDidFailProvisionalNavigationWithError(plat::WKWebView&, const plat::WKNavigationPtr&,
                                                      const plat::NSError& e) override {
      failed(e);
    }
    void webViewDidFailNavigationWithError(plat::WKWebView&, const plat::WKNavigationPtr&, const plat::NSError& e) override {
      failed(e);
    }
    void failed(const plat::NSError& e) { seen.push_back("fail " + std::to_string(e.code)); }
    bool ended() const { return !seen.empty() && seen.back() != "start"; }
  };
  struct Case {
    std::string url;
    bool silent;  // the answer never comes: the clock decides
    long code;
  };
  const Case cases[] = {
      {server.url("/silent"), true, plat::NSURLErrorTimedOut},
      {"http://127.0.0.1:1/", false, plat::NSURLErrorUnsupportedURL},
  };
  const double timeout = 20;
  for (const Case& c : cases) {
    for (bool wk : {false, true}) {
      SCOPED_TRACE(c.url + (wk ? " in a WKWebView" : " in a UIWebView"));
      auto events = std::make_shared<Events>();
      auto request = plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString(c.url),
                                                        plat::NSURLRequestCachePolicy::UseProtocolCachePolicy, timeout);
      std::shared_ptr<plat::UIWebView> ui;
      std::shared_ptr<plat::WKWebView> kit;
      if (wk) {
        kit = std::make_shared<plat::WKWebView>();
        kit->initWithFrame(plat::CGRectMake(0, 0, 320, 480), std::make_shared<plat::WKWebViewConfiguration>());
        kit->setNavigationDelegate(events);
        kit->loadRequest(request);
      } else {
        ui = std::make_shared<plat::UIWebView>();
        ui->init();
        ui->setDelegate(events);
        ui->loadRequest(request);
      }
      ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !events->seen.empty(); }, kPatience));
      if (c.silent) {
        // Just short of the timeout, the load goes on.
        auto* page = wk ? kit->page() : ui->page();
        advance(timeout - 0.5);
        page->evaluate("1");
        EXPECT_EQ(events->seen, std::vector<std::string>{"start"});
        advance(1);
      }
      ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return events->ended(); }, kPatience));
      EXPECT_EQ(events->seen, (std::vector<std::string>{"start", "fail " + std::to_string(c.code)}));
    }
  }
}

}  // namespace
