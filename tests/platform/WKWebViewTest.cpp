#include <gtest/gtest.h>

#include <unistd.h>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSURLError.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIDevice.h"
#include "plat/webkit/WKWebView.h"

using namespace plat;

namespace {

class RecordingNavigationDelegate : public WKNavigationDelegate {
 public:
  void webViewDecidePolicyForNavigationActionDecisionHandler(WKWebView&, const std::shared_ptr<WKNavigationAction>& action,
                                                             DecisionHandler handler) override {
    events.push_back(std::string(action->targetFrame()->isMainFrame() ? "decide " : "decide frame ") +
                     std::to_string(action->navigationType()) + " " + action->request()->URL()->absoluteString());
    if (hold) {
      held.push_back(handler);
      return;
    }
    bool refuse = false;
    for (const auto& prefix : refused)
      if (action->request()->URL()->absoluteString().rfind(prefix, 0) == 0) refuse = true;
    handler(refuse ? WKNavigationActionPolicy::Cancel : WKNavigationActionPolicy::Allow);
  }
  void webViewDidStartProvisionalNavigation(WKWebView&, const WKNavigationPtr& n) override { record("provisional", n); }
  void webViewDidCommitNavigation(WKWebView&, const WKNavigationPtr& n) override { record("commit", n); }
  void webViewDidFinishNavigation(WKWebView&, const WKNavigationPtr& n) override { record("finish", n); }
  void webViewDidFailProvisionalNavigationWithError(WKWebView&, const WKNavigationPtr& n, const NSError& e) override {
    record("fail provisional " + std::to_string(e.code), n);
  }
  void webViewDidFailNavigationWithError(WKWebView&, const WKNavigationPtr& n, const NSError& e) override {
    record("fail " + std::to_string(e.code), n);
  }
  void record(const std::string& what, const WKNavigationPtr& navigation) {
    events.push_back(what);
    navigations.push_back(navigation);
  }
  std::vector<std::string> events;
  std::vector<WKNavigationPtr> navigations;
  std::vector<std::string> refused;
  bool hold = false;
  std::vector<DecisionHandler> held;
};

class RecordingHandler : public WKScriptMessageHandler {
 public:
  void userContentControllerDidReceiveScriptMessage(WKUserContentController&,
                                                    const std::shared_ptr<WKScriptMessage>& message) override {
    messages.push_back(message);
  }
  std::vector<std::shared_ptr<WKScriptMessage>> messages;
};

class AnsweringUIDelegate : public WKUIDelegate {
 public:
  void webViewRunJavaScriptAlertPanelWithMessageInitiatedByFrameCompletionHandler(
      WKWebView&, const std::string& message, const std::shared_ptr<WKFrameInfo>& frame, std::function<void()> done) override {
    seen.push_back("alert " + message + (frame->isMainFrame() ? "" : " (frame)"));
    done();
  }
  void webViewRunJavaScriptConfirmPanelWithMessageInitiatedByFrameCompletionHandler(
      WKWebView&, const std::string& message, const std::shared_ptr<WKFrameInfo>&, std::function<void(bool)> done) override {
    seen.push_back("confirm " + message);
    RunLoop::main().post([done] { done(true); });
  }
  void webViewRunJavaScriptTextInputPanelWithPromptDefaultTextInitiatedByFrameCompletionHandler(
      WKWebView&, const std::string& prompt, const std::string& defaultText, const std::shared_ptr<WKFrameInfo>&,
      std::function<void(std::optional<std::string>)> done) override {
    seen.push_back("prompt " + prompt + " [" + defaultText + "]");
    done(std::string(""));
    done(std::string("again"));
  }
  std::vector<std::string> seen;
};

}  // namespace

class WKWebViewTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    UIDevice::currentDevice()->setSystemVersion("9.3");
    view_ = std::make_shared<WKWebView>();
    view_->initWithFrame(CGRectMake(0, 0, 320, 480), nullptr);
    delegate_ = std::make_shared<RecordingNavigationDelegate>();
    view_->setNavigationDelegate(delegate_);
  }
  void TearDown() override {
    view_.reset();
    SandboxTest::TearDown();
  }
  NSURLPtr file(const std::string& relative) { return NSURL::fileURLWithPath(inHome(relative)); }
  // The completion of an evaluation, after the turns it takes.
  std::pair<Value, std::optional<NSError>> evaluate(const std::string& script) {
    std::pair<Value, std::optional<NSError>> out;
    bool done = false;
    view_->evaluateJavaScript(script, [&](const Value& v, const std::optional<NSError>& e) {
      out = {v, e};
      done = true;
    });
    EXPECT_FALSE(done) << "evaluation completes on a later turn";
    runUntilIdle();
    EXPECT_TRUE(done);
    return out;
  }
  Value value(const std::string& script) { return evaluate(script).first; }
  std::vector<std::string>& events() { return delegate_->events; }

  WKWebViewPtr view_;
  std::shared_ptr<RecordingNavigationDelegate> delegate_;
};

TEST_F(WKWebViewTest, TheClassAndFileLoadingDependOnTheSystemVersion) {
  struct Case {
    const char* version;
    bool available;
    bool loadsFiles;
  } cases[] = {{"7.1.2", false, false}, {"8.0", true, false}, {"8.4", true, false}, {"9.0", true, true}, {"10.3", true, true}};
  for (const Case& c : cases) {
    UIDevice::currentDevice()->setSystemVersion(c.version);
    EXPECT_EQ(WKWebView::isAvailable(), c.available) << c.version;
    EXPECT_EQ(view_->respondsToSelector("loadFileURL:allowingReadAccessToURL:"), c.loadsFiles) << c.version;
  }
  EXPECT_TRUE(view_->respondsToSelector("scrollView"));
  EXPECT_FALSE(view_->respondsToSelector("goFishing:"));
  UIDevice::currentDevice()->setSystemVersion("8.4");
  writeFile(inHome("www/index.html"), "<p>");
  EXPECT_EQ(view_->loadFileURL(file("www/index.html"), file("www")), nullptr);
  runUntilIdle();
  EXPECT_TRUE(events().empty());
  EXPECT_TRUE(log_->contains("unrecognized selector"));
}

TEST_F(WKWebViewTest, AFileLoadIsDecidedStartedCommittedAndFinished) {
  writeFile(inHome("www/index.html"), "<script src='js/app.js'></script><script>var later = typeof app;</script>");
  writeFile(inHome("www/js/app.js"), "var app = 'here';");
  WKNavigationPtr navigation = view_->loadFileURL(file("www/index.html"), file("www"));
  ASSERT_TRUE(navigation);
  runUntilIdle();
  EXPECT_EQ(events(), (std::vector<std::string>{"decide -1 " + file("www/index.html")->absoluteString(), "provisional",
                                                "commit", "finish"}));
  for (const auto& n : delegate_->navigations) EXPECT_EQ(n, navigation) << "one navigation object throughout";
  EXPECT_EQ(value("later"), Value("string"));
  EXPECT_EQ(view_->URL()->absoluteString(), file("www/index.html")->absoluteString());
  EXPECT_FALSE(view_->isLoading());

  events().clear();
  WKNavigationPtr reload = view_->reload();
  ASSERT_TRUE(reload);
  runUntilIdle();
  EXPECT_EQ(events(), (std::vector<std::string>{"decide 3 " + file("www/index.html")->absoluteString(), "provisional",
                                                "commit", "finish"}));
  EXPECT_EQ(delegate_->navigations.back(), reload);
}

TEST_F(WKWebViewTest, FilesLoadOnlyInsideTheirReadAccess) {
  writeFile(inHome("secret.js"), "var leaked = true;");
  writeFile(inHome("www/index.html"),
            "<script src='../secret.js'></script><script src='link.js'></script><script src='%2e%2e/secret.js'></script>"
            "<script src='own.js'></script><script>var done = typeof leaked + ' ' + typeof own;</script>");
  writeFile(inHome("www/own.js"), "var own = 1;");
  ASSERT_EQ(::symlink(inHome("secret.js").c_str(), inHome("www/link.js").c_str()), 0);
  view_->loadFileURL(file("www/index.html"), file("www"));
  runUntilIdle();
  EXPECT_EQ(value("done"), Value("undefined number"));
  EXPECT_EQ(log_->count("Failed to load script"), 3u);

  // loadRequest of a file URL reads that one file only.
  view_->loadRequest(NSURLRequest::requestWithURL(file("www/index.html")));
  runUntilIdle();
  EXPECT_EQ(value("done"), Value("undefined undefined"));

  // A page outside the folder it was allowed fails to load.
  events().clear();
  view_->loadFileURL(file("secret.js"), file("www"));
  runUntilIdle();
  EXPECT_EQ(events().back(), "fail provisional " + std::to_string(NSURLErrorNoPermissionsToReadFile));
}

TEST_F(WKWebViewTest, TheDecisionHandlerDecidesOnceAndMayAnswerLater) {
  writeFile(inHome("www/index.html"), "<p>");
  delegate_->hold = true;
  view_->loadFileURL(file("www/index.html"), file("www"));
  runUntilIdle();
  ASSERT_EQ(delegate_->held.size(), 1u);
  EXPECT_EQ(events().size(), 1u) << "nothing happens before the decision";
  delegate_->held[0](WKNavigationActionPolicy::Allow);
  delegate_->held[0](WKNavigationActionPolicy::Cancel);
  EXPECT_TRUE(log_->contains("called more than once"));
  runUntilIdle();
  EXPECT_EQ(events().back(), "finish");

  // A handler dropped unanswered cancels, with a log line.
  events().clear();
  delegate_->held.clear();
  view_->loadFileURL(file("www/index.html"), file("www"));
  runUntilIdle();
  delegate_->held.clear();
  runUntilIdle();
  EXPECT_EQ(events().size(), 1u);
  EXPECT_TRUE(log_->contains("was never called"));

  // Cancelled: nothing loads.
  delegate_->hold = false;
  delegate_->refused = {"https:"};
  events().clear();
  view_->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString("https://example.com/")));
  runUntilIdle();
  EXPECT_EQ(events(), (std::vector<std::string>{"decide -1 https://example.com/"}));
}

TEST_F(WKWebViewTest, FailuresBeforeAndAfterTheCommitAreTold) {
  writeFile(inHome("www/index.html"), "<p>");
  view_->loadFileURL(file("www/missing.html"), file("www"));
  runUntilIdle();
  EXPECT_EQ(events().back(), "fail provisional -1100");

  events().clear();
  view_->loadFileURL(file("www/index.html"), file("www"));
  for (int i = 0; i < 100 && (events().empty() || events().back() != "commit"); ++i) RunLoop::main().runOneTurn();
  ASSERT_EQ(events().back(), "commit");
  EXPECT_TRUE(view_->simulateFailure(NSURLErrorWithCode(NSURLErrorNetworkConnectionLost)));
  runUntilIdle();
  EXPECT_EQ(events().back(), "fail -1005");

  // A link the user follows, and frames, which are decided but not reported.
  events().clear();
  view_->simulateLinkClick(file("www/index.html"));
  view_->simulateFrameLoad(NSURL::URLWithString("https://example.com/frame"));
  runUntilIdle();
  EXPECT_EQ(events(), (std::vector<std::string>{"decide 0 " + file("www/index.html")->absoluteString(),
                                                "decide frame -1 https://example.com/frame", "provisional", "commit",
                                                "finish"}));
}

TEST_F(WKWebViewTest, EvaluationCompletesLaterWithValuesOrWebKitErrors) {
  view_->loadHTMLString("<p>", nullptr);
  runUntilIdle();
  EXPECT_EQ(value("1 + 2"), Value(3));
  EXPECT_EQ(value("'a' + 'b'"), Value("ab"));
  EXPECT_EQ(value("({a: [1, null], b: true})"), (Value(Dictionary{{"a", Array{1, Value::null()}}, {"b", true}})));
  auto undefinedResult = evaluate("undefined");
  EXPECT_TRUE(undefinedResult.first.isAbsent());
  EXPECT_FALSE(undefinedResult.second);

  auto thrown = evaluate("\n throw new TypeError('nope')");
  ASSERT_TRUE(thrown.second);
  EXPECT_EQ(thrown.second->domain, WKErrorDomain);
  EXPECT_EQ(thrown.second->code, WKErrorJavaScriptExceptionOccurred);
  EXPECT_EQ(thrown.second->userInfo[WKJavaScriptExceptionMessageErrorKey].stringOr(), "TypeError: nope");
  EXPECT_EQ(thrown.second->userInfo[WKJavaScriptExceptionLineNumberErrorKey].asInt(), 2);

  auto function = evaluate("(function () {})");
  ASSERT_TRUE(function.second);
  EXPECT_EQ(function.second->code, WKErrorJavaScriptResultTypeIsUnsupported);
  auto cycle = evaluate("var o = {}; o.o = o; o");
  ASSERT_TRUE(cycle.second);
  EXPECT_EQ(cycle.second->code, WKErrorJavaScriptResultTypeIsUnsupported);

  // A completion for a view that went away.
  bool called = false;
  view_->evaluateJavaScript("1", [&](const Value&, const std::optional<NSError>& e) { called = e.has_value(); });
  view_.reset();
  runUntilIdle();
  EXPECT_TRUE(called);
}

TEST_F(WKWebViewTest, ScriptMessagesReachTheirHandlerOnALaterTurn) {
  auto controller = view_->configuration()->userContentController();
  auto harbor = std::make_shared<RecordingHandler>();
  EXPECT_TRUE(controller->addScriptMessageHandler(harbor, "harbor"));
  EXPECT_FALSE(controller->addScriptMessageHandler(std::make_shared<RecordingHandler>(), "harbor"));
  EXPECT_TRUE(log_->contains("when one already exists"));
  view_->loadHTMLString("<script>window.webkit.messageHandlers.harbor.postMessage(['cb1', 'Echo', 'echo', [1, 'x']]);"
                        "var names = Object.keys(window.webkit.messageHandlers).join();</script>",
                        nullptr);
  runUntilIdle();
  ASSERT_EQ(harbor->messages.size(), 1u);
  EXPECT_EQ(harbor->messages[0]->name(), "harbor");
  EXPECT_EQ(harbor->messages[0]->body(), (Value(Array{"cb1", "Echo", "echo", Array{1, "x"}})));
  EXPECT_EQ(harbor->messages[0]->webView(), view_);
  EXPECT_EQ(value("names"), Value("harbor"));

  value("window.webkit.messageHandlers.harbor.postMessage('one'); window.webkit.messageHandlers.harbor.postMessage({two: 2}); 0");
  EXPECT_EQ(harbor->messages.size(), 3u);
  EXPECT_EQ(harbor->messages[2]->body(), (Value(Dictionary{{"two", 2}})));

  // Binary data arrives as WebKit carries it: typed arrays as objects of their elements.
  value("window.webkit.messageHandlers.harbor.postMessage({u16: new Uint16Array([300]), b: new ArrayBuffer(4)}); 0");
  ASSERT_EQ(harbor->messages.size(), 4u);
  EXPECT_EQ(harbor->messages[3]->body(), (Value(Dictionary{{"u16", Dictionary{{"0", 300}}}, {"b", Dictionary{}}})));

  // As under WebKit: a body the host cannot read (a cycle) arrives absent, one WebKit cannot copy
  // (a function) is not sent at all, and the page hears of neither.
  auto cyclic = evaluate("var c = {}; c.c = c; window.webkit.messageHandlers.harbor.postMessage(c); 0");
  EXPECT_FALSE(cyclic.second);
  auto withFunction = evaluate("window.webkit.messageHandlers.harbor.postMessage({f: function () {}}); 0");
  EXPECT_FALSE(withFunction.second);
  runUntilIdle();
  ASSERT_EQ(harbor->messages.size(), 5u);
  EXPECT_TRUE(harbor->messages[4]->body().isAbsent());
  // A handler removed stops hearing.
  controller->removeScriptMessageHandlerForName("harbor");
  EXPECT_EQ(value("typeof window.webkit.messageHandlers.harbor"), Value("undefined"));
  EXPECT_EQ(harbor->messages.size(), 5u);
}

TEST_F(WKWebViewTest, PanelsGoToTheUIDelegate) {
  view_->loadHTMLString("<p>", nullptr);
  runUntilIdle();
  EXPECT_EQ(value("alert('a'); String(confirm('c')) + ' ' + String(prompt('p'))"), Value("false null"))
      << "without a UI delegate: the cancel answers";
  auto ui = std::make_shared<AnsweringUIDelegate>();
  view_->setUIDelegate(ui);
  EXPECT_EQ(value("alert('hello'); String(confirm('sure?')) + ' [' + prompt('name?', 'def') + ']'"), Value("true []"));
  EXPECT_EQ(ui->seen, (std::vector<std::string>{"alert hello", "confirm sure?", "prompt name? [def]"}));
  EXPECT_TRUE(log_->contains("answered more than once"));
}

TEST_F(WKWebViewTest, TheViewKeepsItsConfiguration) {
  auto configuration = std::make_shared<WKWebViewConfiguration>();
  EXPECT_EQ(configuration->preferences()->minimumFontSize(), 0);
  EXPECT_FALSE(configuration->allowsInlineMediaPlayback());
  EXPECT_TRUE(configuration->mediaPlaybackRequiresUserAction());
  EXPECT_TRUE(configuration->mediaPlaybackAllowsAirPlay());
  EXPECT_FALSE(configuration->suppressesIncrementalRendering());
  auto view = std::make_shared<WKWebView>();
  view->initWithFrame(CGRectZero, configuration);
  EXPECT_EQ(view->configuration(), configuration);
  view->configuration()->preferences()->setMinimumFontSize(9);
  EXPECT_EQ(configuration->preferences()->minimumFontSize(), 9);
  auto scroll = std::dynamic_pointer_cast<UIScrollView>(view->subviews().front());
  ASSERT_TRUE(scroll);
  EXPECT_EQ(scroll, view->scrollView());
  EXPECT_EQ(view->URL(), nullptr);
}
