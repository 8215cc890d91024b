// The WKWebView engine in a container view controller, and its UI delegate's panels.
#include <gtest/gtest.h>

#include "support/WindowDelegate.h"
#include "EngineFixture.h"
#include "HBRWKWebViewEngine.h"
#include "HBRWKWebViewUIDelegate.h"
#include "plat/foundation/NSURLError.h"
#include "plat/uikit/UIAlertController.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIWindow.h"

using namespace harbor;
using namespace harbor::testing;
using plat::NSURL;
using plat::NSURLRequest;

namespace {

std::shared_ptr<HBRWKWebViewEngine> wkEngineOf(const HBRViewControllerPtr& controller) {
  return std::dynamic_pointer_cast<HBRWKWebViewEngine>(controller->webViewEngine());
}

const char kWK[] = "<preference name=\"HarborWebViewEngine\" value=\"HBRWKWebViewEngine\"/>";

// Records the HTML the engine shows instead of a page.
class HTMLRecordingWKEngine : public HBRWKWebViewEngine {
 public:
  plat::ObjectPtr loadHTMLString(const std::string& html, const plat::NSURLPtr& baseURL) override {
    shown.push_back(html);
    return HBRWKWebViewEngine::loadHTMLString(html, baseURL);
  }
  std::vector<std::string> shown;
};

using harbor::testing::WindowDelegate;

}  // namespace

class WKWebViewEngineTest : public EngineTest {
 protected:
  plat::WKWebView& viewOf(const HBRViewControllerPtr& controller) { return *wkEngineOf(controller)->wkWebView(); }
  std::shared_ptr<plat::WKScriptMessage> message(const HBRViewControllerPtr& controller, const std::string& name,
                                                 plat::Value body) {
    return std::make_shared<plat::WKScriptMessage>(name, std::move(body), wkEngineOf(controller)->wkWebView(), nullptr);
  }
  bool decide(const HBRViewControllerPtr& controller, const std::string& url, plat::WKNavigationType type) {
    int calls = 0;
    bool allowed = false;
    auto action = std::make_shared<plat::WKNavigationAction>(NSURLRequest::requestWithURL(NSURL::URLWithString(url)), type,
                                                             std::make_shared<plat::WKFrameInfo>(true, nullptr));
    wkEngineOf(controller)->webViewDecidePolicyForNavigationActionDecisionHandler(
        viewOf(controller), action, [&](plat::WKNavigationActionPolicy policy) {
          ++calls;
          allowed = policy == plat::WKNavigationActionPolicy::Allow;
        });
    EXPECT_EQ(calls, 1) << "the handler is called exactly once";
    return allowed;
  }
};

TEST_F(WKWebViewEngineTest, TheEngineTakesTheHarborHandlerAndItsDelegates) {
  writeInfoPlist(plat::Dictionary{{"CFBundleIdentifier", kBundleIdentifier}, {"CFBundleDisplayName", "Harbor Test"}});
  auto controller = start(kWK);
  auto engine = wkEngineOf(controller);
  ASSERT_TRUE(engine);
  EXPECT_TRUE(log_->contains("Using WKWebView"));
  plat::WKWebView& view = *engine->wkWebView();
  EXPECT_EQ(view.navigationDelegate(), engine);
  EXPECT_EQ(view.UIDelegate(), engine->uiDelegate());
  EXPECT_EQ(std::dynamic_pointer_cast<HBRWKWebViewUIDelegate>(engine->uiDelegate())->title(), "Harbor Test");
  EXPECT_EQ(view.configuration()->userContentController()->scriptMessageHandlerNames(),
            std::vector<std::string>{"harbor"});
  EXPECT_EQ(engine->webView(), engine->engineWebView());
  EXPECT_EQ(engine->URL()->absoluteString(), "file://" + inBundle("www/index.html"));
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0) << "the page loaded and released the lock";

  // Evaluation is the web view's own: a later turn.
  bool called = false;
  engine->evaluateJavaScript("6 * 7", [&](const plat::Value& result, const std::optional<plat::NSError>&) {
    called = true;
    EXPECT_EQ(result, plat::Value(42));
  });
  EXPECT_FALSE(called);
  runUntilIdle();
  EXPECT_TRUE(called);
}

// The engine delivers a result by calling exec.nativeCallback itself: the page sees the call the
// result's script makes, argument for argument, and its answer comes back; only a "__proto__"
// key of the message stays a key instead of becoming the message's prototype.
TEST_F(WKWebViewEngineTest, AResultReachesThePageAsItsScriptCallsIt) {
  auto engine = wkEngineOf(start(kWK));
  ASSERT_TRUE(engine);
  engine->evaluateJavaScript(
      "var calls = 0; harbor.require('harbor/exec').nativeCallback = function () {"
      "  return ++calls + ' ' + JSON.stringify(Array.prototype.map.call(arguments, function (a) {"
      "    return [typeof a, a, a && typeof a === 'object' ? Object.keys(a).join() : ''];"
      "  }));"
      "};",
      nullptr);
  runUntilIdle();
  const HBRCallbackCall calls[] = {
      {"Echo1", 1, "\"payload\"", false},
      {"Camera.x-9", 9, "{\"b\":[1,2.5,null,-0],\"a\":\"line\u2028\u00e9\"}", true},
      {"Id", 0, "null", false},
      {"Big", 1, "[" + std::string(100000, '7') + "]", false},
  };
  for (const HBRCallbackCall& call : calls) {
    std::vector<std::string> answers;
    auto record = [&](const plat::Value& result, const std::optional<plat::NSError>& error) {
      EXPECT_FALSE(error) << call.callbackId;
      std::string text = result.stringOr();
      answers.push_back(text.substr(text.find(' ') + 1));  // without the count
    };
    engine->evaluateJavaScript(call.script(), record);
    engine->evaluateCallback(call, record);
    runUntilIdle();
    ASSERT_EQ(answers.size(), 2u) << call.callbackId;
    EXPECT_EQ(answers[1], answers[0]) << call.callbackId;
  }

  std::optional<plat::Value> keys;
  engine->evaluateCallback({"P1", 1, "{\"__proto__\":{\"polluted\":1},\"k\":2}", false},
                           [&](const plat::Value& result, const std::optional<plat::NSError>&) { keys = result; });
  runUntilIdle();
  ASSERT_TRUE(keys);
  EXPECT_EQ(keys->stringOr().substr(keys->stringOr().find(' ') + 1),
            "[[\"string\",\"P1\",\"\"],[\"number\",1,\"\"],[\"object\",{\"__proto__\":{\"polluted\":1},\"k\":2},\"__proto__,k\"],[\"number\",0,\"\"],"
            "[\"number\",0,\"\"]]");
}

TEST_F(WKWebViewEngineTest, PreferencesReachTheConfiguration) {
  auto controller = start(kWK);
  auto engine = wkEngineOf(controller);
  auto configuration = engine->wkWebView()->configuration();
  EXPECT_EQ(configuration->preferences()->minimumFontSize(), 0) << "MinimumFontSize absent";
  EXPECT_FALSE(configuration->allowsInlineMediaPlayback());
  EXPECT_TRUE(configuration->mediaPlaybackRequiresUserAction());
  EXPECT_TRUE(configuration->mediaPlaybackAllowsAirPlay());
  EXPECT_FALSE(configuration->suppressesIncrementalRendering());
  EXPECT_TRUE(engine->wkWebView()->scrollView()->bounces());

  engine->updateSettings(plat::Dictionary{{"minimumfontsize", "12.5"},
                                          {"allowinlinemediaplayback", "true"},
                                          {"mediaplaybackrequiresuseraction", "false"},
                                          {"suppressesincrementalrendering", "yes"},
                                          {"mediaplaybackallowsairplay", "0"},
                                          {"disallowoverscroll", "1"},
                                          {"paginationmode", "toptobottom"}});
  EXPECT_EQ(configuration->preferences()->minimumFontSize(), 12.5);
  EXPECT_TRUE(configuration->allowsInlineMediaPlayback());
  EXPECT_FALSE(configuration->mediaPlaybackRequiresUserAction());
  EXPECT_TRUE(configuration->suppressesIncrementalRendering());
  EXPECT_FALSE(configuration->mediaPlaybackAllowsAirPlay());
  EXPECT_FALSE(engine->wkWebView()->scrollView()->bounces());

  auto configured = start(std::string(kWK) + "<preference name=\"MinimumFontSize\" value=\"9\"/>");
  EXPECT_EQ(wkEngineOf(configured)->wkWebView()->configuration()->preferences()->minimumFontSize(), 9);
}

TEST_F(WKWebViewEngineTest, ScriptMessagesRunOneCommandEachAndBadOnesAreDropped) {
  auto controller = start(kWK);
  auto engine = wkEngineOf(controller);
  auto echo = std::dynamic_pointer_cast<EchoPlugin>(controller->getCommandInstance("Echo"));
  ASSERT_TRUE(echo);
  auto& controllerOfView = *engine->wkWebView()->configuration()->userContentController();

  engine->userContentControllerDidReceiveScriptMessage(controllerOfView,
                                                       message(controller, "harbor", plat::Array{"Echo1", "Echo", "record", plat::Array{1}}));
  ASSERT_EQ(echo->commands().size(), 1u) << "executed at once";
  EXPECT_EQ(echo->commands()[0]->callbackId(), "Echo1");

  engine->userContentControllerDidReceiveScriptMessage(
      controllerOfView, message(controller, "harbor", plat::Array{plat::Value::null(), "Echo", "record", plat::Array{}}));
  ASSERT_EQ(echo->commands().size(), 2u);
  EXPECT_FALSE(echo->commands()[1]->callbackId()) << "no callback id";

  engine->userContentControllerDidReceiveScriptMessage(controllerOfView,
                                                       message(controller, "other", plat::Array{"x", "Echo", "record", plat::Array{}}));
  EXPECT_EQ(echo->commands().size(), 2u) << "another handler's name";

  const plat::Value bad[] = {plat::Value("Echo.record"), plat::Value(), plat::Value(plat::Array{"cb", "Echo"}),
                             plat::Value(plat::Dictionary{{"service", "Echo"}}), plat::Value(plat::Array{})};
  for (const plat::Value& body : bad) {
    log_->clear();
    engine->userContentControllerDidReceiveScriptMessage(controllerOfView, message(controller, "harbor", body));
    EXPECT_TRUE(log_->contains("is not a command")) << body.description();
  }
  EXPECT_EQ(echo->commands().size(), 2u);

  // A huge body is logged cut short, and its line breaks cannot start lines of their own.
  log_->clear();
  std::string huge = "line\nharbor: forged\n" + std::string(1 << 20, 'x');
  engine->userContentControllerDidReceiveScriptMessage(controllerOfView, message(controller, "harbor", plat::Value(huge)));
  ASSERT_EQ(log_->lines().size(), 1u);
  EXPECT_LT(log_->lines()[0].size(), 400u);
  EXPECT_TRUE(log_->contains("is not a command: line\\nharbor: forged\\nxxx"));
}

TEST_F(WKWebViewEngineTest, NavigationsAreVotedOnWithWebKitsNumbers) {
  auto controller = start(kWK);
  {
    NotificationRecorder opened(kHBRPluginHandleOpenURLNotification);
    EXPECT_FALSE(decide(controller, "https://example.com/", plat::WKNavigationTypeLinkActivated));
    EXPECT_TRUE(decide(controller, "file:///tmp/page.html", plat::WKNavigationTypeOther));
    ASSERT_EQ(opened.objects.size(), 1u);
    EXPECT_EQ(std::dynamic_pointer_cast<plat::NSURL>(opened.objects[0])->absoluteString(), "https://example.com/");
  }
  EXPECT_TRUE(HBRWKWebViewEngine::defaultResourcePolicyForURL(NSURL::URLWithString("file:///x")));
  EXPECT_FALSE(HBRWKWebViewEngine::defaultResourcePolicyForURL(NSURL::URLWithString("hbr://ready")));

  std::vector<std::string> journal;
  auto a = addVoter(controller, "VoterA", false, &journal);
  auto b = addVoter(controller, "VoterB", true, &journal);
  NotificationRecorder opened(kHBRPluginHandleOpenURLNotification);
  EXPECT_FALSE(decide(controller, "https://example.com/", plat::WKNavigationTypeOther));
  EXPECT_EQ(journal, std::vector<std::string>{"VoterA -1 https://example.com/"});
  journal.clear();
  a->answer = true;
  EXPECT_TRUE(decide(controller, "hbr://ready", plat::WKNavigationTypeReload));
  EXPECT_EQ(journal, (std::vector<std::string>{"VoterA 3 hbr://ready", "VoterB 3 hbr://ready"}))
      << "no hbr signal in this engine";
  EXPECT_TRUE(opened.objects.empty());
}

TEST_F(WKWebViewEngineTest, FailuresBeforeTheCommitReleaseTheLockToo) {
  writeFile(inBundle("www/error.html"), "<p>error</p>");
  auto controller = start(std::string(kWK) + "<preference name=\"ErrorUrl\" value=\"error.html\"/>");
  auto engine = wkEngineOf(controller);
  NotificationRecorder loads(kHBRPageDidLoadNotification);

  // A start page that cannot be loaded fails before its commit.
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) { *controller->userAgentLockToken() = token; });
  engine->loadRequest(NSURLRequest::requestWithURL(NSURL::fileURLWithPath(inBundle("www/missing.html"))));
  runUntilIdle();
  EXPECT_EQ(*controller->userAgentLockToken(), 0);
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
  EXPECT_TRUE(log_->contains("Failed to load webpage with error: The requested URL was not found on this server."));
  std::string errorPage = "file://" + inBundle("www/error.html");
  ASSERT_TRUE(engine->URL());
  EXPECT_EQ(engine->URL()->absoluteString().rfind(errorPage + "?error=Failed%20to%20load", 0), 0u) << engine->URL()->absoluteString();
  EXPECT_EQ(loads.objects.size(), 1u) << "the error page loaded";

  // After the commit, and cancelled: the lock again, no error page.
  log_->clear();
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) { *controller->userAgentLockToken() = token; });
  engine->webViewDidFailNavigationWithError(*engine->wkWebView(), nullptr,
                                            plat::NSURLErrorWithCode(plat::NSURLErrorCancelled));
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
  EXPECT_TRUE(log_->contains("Failed to load webpage with error: cancelled"));
  EXPECT_FALSE(log_->contains("?error="));
}

TEST_F(WKWebViewEngineTest, FileURLsTheWebViewCannotLoadShowAnExplanation) {
  plat::ClassRegistry::shared().registerClass<HTMLRecordingWKEngine>("HTMLRecordingWKEngine");
  auto controller = start("<preference name=\"HarborWebViewEngine\" value=\"HTMLRecordingWKEngine\"/>");
  auto engine = std::dynamic_pointer_cast<HTMLRecordingWKEngine>(controller->webViewEngine());
  ASSERT_TRUE(engine);
  auto file = NSURLRequest::requestWithURL(NSURL::fileURLWithPath(inBundle("www/index.html")));
  auto web = NSURLRequest::requestWithURL(NSURL::URLWithString("https://example.com/"));
  EXPECT_TRUE(engine->canLoadRequest(file));
  EXPECT_TRUE(engine->canLoadRequest(web));

  plat::UIDevice::currentDevice()->setSystemVersion("8.4");
  EXPECT_FALSE(engine->canLoadRequest(file));
  EXPECT_TRUE(engine->canLoadRequest(web));
  engine->loadRequest(file);
  ASSERT_EQ(engine->shown.size(), 1u);
  EXPECT_EQ(engine->shown[0],
            "<!doctype html><title>Error</title><div style='font-size:2em'>   <p>The WebView engine "
            "'HTMLRecordingWKEngine' is unable to load the request: file://" +
                inBundle("www/index.html") +
                "</p>   <p>Most likely the cause of the error is that the loading of file urls is not supported in iOS "
                "8.4.</p></div>");
  plat::ClassRegistry::shared().unregisterClass("HTMLRecordingWKEngine");
}

TEST_F(WKWebViewEngineTest, UpdateWithInfoTakesHandlersDelegatesAndPreferences) {
  class Handler : public plat::Object, public plat::WKScriptMessageHandler, public plat::WKUIDelegate {
   public:
    void userContentControllerDidReceiveScriptMessage(plat::WKUserContentController&,
                                                      const std::shared_ptr<plat::WKScriptMessage>& m) override {
      bodies.push_back(m->body());
    }
    std::vector<plat::Value> bodies;
  };
  auto controller = start(kWK);
  auto engine = wkEngineOf(controller);
  auto handler = std::make_shared<Handler>();
  HBRWebViewEngineInfo info;
  info.scriptMessageHandlers["extra"] = handler;
  info.scriptMessageHandlers["ignored"] = std::make_shared<plat::Object>();
  info.objects[kHBRWebViewEngineWKUIDelegate] = handler;
  info.values.set(kHBRWebViewEngineWebViewPreferences, plat::Dictionary{{"minimumfontsize", "7"}});
  engine->updateWithInfo(info);
  EXPECT_EQ(engine->wkWebView()->UIDelegate(), handler);
  EXPECT_EQ(engine->wkWebView()->configuration()->preferences()->minimumFontSize(), 7);
  engine->evaluateJavaScript("window.webkit.messageHandlers.extra.postMessage({n: 1}); typeof window.webkit.messageHandlers.ignored",
                             [](const plat::Value& result, const std::optional<plat::NSError>&) {
                               EXPECT_EQ(result, plat::Value("undefined"));
                             });
  runUntilIdle();
  ASSERT_EQ(handler->bodies.size(), 1u);
  EXPECT_EQ(handler->bodies[0], (plat::Value(plat::Dictionary{{"n", 1}})));
}

class WKPanelsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    appDelegate_ = std::make_shared<WindowDelegate>();
    plat::UIApplication::sharedApplication()->setDelegate(appDelegate_);
    panels_ = std::make_shared<HBRWKWebViewUIDelegate>();
    panels_->initWithTitle(std::string("My App"));
    view_ = std::make_shared<plat::WKWebView>();
    view_->initWithFrame(plat::CGRectZero, nullptr);
  }
  std::shared_ptr<plat::UIDrivenAlert> shownAlert() {
    runUntilIdle();
    return plat::UIDriver::shared().topAlert();
  }
  std::shared_ptr<WindowDelegate> appDelegate_;
  std::shared_ptr<HBRWKWebViewUIDelegate> panels_;
  std::shared_ptr<plat::WKWebView> view_;
};

TEST_F(WKPanelsTest, AlertsConfirmsAndPromptsAnswerThePageOnce) {
  auto frame = std::make_shared<plat::WKFrameInfo>(true, nullptr);

  int alerts = 0;
  panels_->webViewRunJavaScriptAlertPanelWithMessageInitiatedByFrameCompletionHandler(*view_, "Hello", frame,
                                                                                      [&] { ++alerts; });
  auto alert = shownAlert();
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->alertTitle(), "My App");
  EXPECT_EQ(alert->alertMessage(), "Hello");
  EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"OK"});
  EXPECT_TRUE(alert->tapButton(0));
  EXPECT_FALSE(alert->tapButton(0)) << "answered once";
  runUntilIdle();
  EXPECT_EQ(alerts, 1);
  EXPECT_EQ(plat::UIDriver::shared().alertCount(), 0u) << "dismissed";

  struct Confirm {
    std::size_t button;
    bool answer;
  } confirms[] = {{0, true}, {1, false}};
  for (const Confirm& c : confirms) {
    std::vector<bool> answers;
    panels_->webViewRunJavaScriptConfirmPanelWithMessageInitiatedByFrameCompletionHandler(
        *view_, "Sure?", frame, [&](bool yes) { answers.push_back(yes); });
    auto shown = shownAlert();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->buttonTitles(), (std::vector<std::string>{"OK", "Cancel"}));
    shown->tapButton(c.button);
    runUntilIdle();
    EXPECT_EQ(answers, std::vector<bool>{c.answer});
  }

  struct Prompt {
    std::optional<std::string> typed;
    std::size_t button;
    std::optional<std::string> answer;
  } prompts[] = {
      {std::nullopt, 0, "default"}, {"", 0, ""}, {"Ada", 0, "Ada"}, {"Ada", 1, std::nullopt}};
  for (const Prompt& p : prompts) {
    std::vector<std::optional<std::string>> answers;
    panels_->webViewRunJavaScriptTextInputPanelWithPromptDefaultTextInitiatedByFrameCompletionHandler(
        *view_, "Name?", "default", frame, [&](std::optional<std::string> text) { answers.push_back(text); });
    auto shown = shownAlert();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->alertMessage(), "Name?");
    EXPECT_EQ(shown->textFieldText(0), "default");
    if (p.typed) shown->setTextFieldText(0, *p.typed);
    shown->tapButton(p.button);
    runUntilIdle();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], p.answer);
  }
}

TEST_F(WKPanelsTest, WithNowhereToShowThePanelThePageGetsTheCancelAnswer) {
  plat::UIApplication::sharedApplication()->setDelegate(nullptr);
  auto frame = std::make_shared<plat::WKFrameInfo>(true, nullptr);
  std::optional<bool> confirmed;
  panels_->webViewRunJavaScriptConfirmPanelWithMessageInitiatedByFrameCompletionHandler(
      *view_, "Sure?", frame, [&](bool yes) { confirmed = yes; });
  EXPECT_EQ(confirmed, false);
  EXPECT_TRUE(log_->contains("cannot be shown"));
}

TEST_F(WKPanelsTest, ThePagesDialogsGoThroughThePanels) {
  view_->setUIDelegate(panels_);
  view_->loadHTMLString("<p>", nullptr);
  runUntilIdle();
  plat::UIDriver::shared().setAutoAnswer(plat::UIDriver::AutoAnswer{0, std::string("typed")});
  bool done = false;
  view_->evaluateJavaScript("String(confirm('go?')) + ' ' + prompt('name?', 'x')",
                            [&](const plat::Value& result, const std::optional<plat::NSError>&) {
                              done = true;
                              EXPECT_EQ(result, plat::Value("true typed"));
                            });
  runUntilIdle();
  EXPECT_TRUE(done);
}
