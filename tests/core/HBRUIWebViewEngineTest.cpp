// The UIWebView engine in a container view controller: its delegate chain, the navigation
// decision, page notifications and the user-agent lock, the error page, its preferences, the
// gesture handler and the scroll-view extension.
#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "HBRGestureHandler.h"
#include "HBRUIWebViewEngine.h"
#include "HBRWKWebViewEngine.h"
#include "UIView+HBRExtension.h"
#include "plat/foundation/NSURLError.h"
#include "plat/uikit/UIScrollView.h"
#include "plat/webkit/WKWebView.h"
#include "support/ScriptRecordingEngine.h"
#include "support/StubBridgeController.h"

using namespace harbor;
using namespace harbor::testing;
using plat::NSURL;
using plat::NSURLRequest;

namespace {

std::shared_ptr<HBRUIWebViewEngine> uiEngineOf(const HBRViewControllerPtr& controller) {
  return std::dynamic_pointer_cast<HBRUIWebViewEngine>(controller->webViewEngine());
}

plat::NSURLRequestPtr requestFor(const std::string& url) { return NSURLRequest::requestWithURL(NSURL::URLWithString(url)); }

}  // namespace

class UIWebViewEngineTest : public EngineTest {};

TEST_F(UIWebViewEngineTest, TheTrackerStandsInFrontOfTheNavigationDelegate) {
  auto controller = start("");
  auto engine = uiEngineOf(controller);
  ASSERT_TRUE(engine);
  EXPECT_TRUE(log_->contains("Using UIWebView"));
  auto tracker = std::dynamic_pointer_cast<HBRUIWebViewDelegate>(engine->uiWebViewDelegate());
  ASSERT_TRUE(tracker);
  ASSERT_TRUE(engine->navWebViewDelegate());
  EXPECT_EQ(tracker->delegate(), engine->navWebViewDelegate());
  EXPECT_EQ(engine->uiWebView()->delegate(), tracker);
  EXPECT_EQ(engine->navWebViewDelegate()->enginePlugin(), engine);
  EXPECT_EQ(engine->webView(), engine->engineWebView()) << "the engine's own view for the plugin base";
  EXPECT_EQ(controller->pluginObjects().at("HBRUIWebViewEngine"), engine);
  EXPECT_FALSE(engine->canLoadRequest(nullptr));
  EXPECT_TRUE(engine->canLoadRequest(NSURLRequest::requestWithURL(nullptr)));
  EXPECT_EQ(engine->URL()->absoluteString(), "file://" + inBundle("www/index.html"));

  bool called = false;
  engine->evaluateJavaScript("'x' + 1", [&](const plat::Value& result, const std::optional<plat::NSError>& error) {
    called = true;
    EXPECT_EQ(result, plat::Value("x1"));
    EXPECT_FALSE(error);
  });
  EXPECT_TRUE(called) << "synchronous";
}

TEST_F(UIWebViewEngineTest, APageLoadResetsPluginsThenReleasesTheLockAndAnnouncesItself) {
  NotificationRecorder resets(kHBRPluginResetNotification);
  NotificationRecorder loads(kHBRPageDidLoadNotification);
  std::int64_t tokenAtLoad = -1;
  auto observer = std::make_shared<int>(0);
  plat::NSNotificationCenter::defaultCenter().addObserver(observer, kHBRPageDidLoadNotification, nullptr,
                                                          [&](const plat::NSNotification&) {
                                                            tokenAtLoad = HBRUserAgentUtil::currentLockToken();
                                                          });
  plat::UIApplication::sharedApplication()->setNetworkActivityIndicatorVisible(true);
  auto controller = start("");
  auto engine = uiEngineOf(controller);
  ASSERT_EQ(resets.objects.size(), 1u);
  EXPECT_EQ(resets.objects[0], engine->engineWebView());
  ASSERT_EQ(loads.objects.size(), 1u);
  EXPECT_EQ(loads.objects[0], engine->engineWebView());
  EXPECT_EQ(tokenAtLoad, 0) << "the lock is released before the page is announced";
  EXPECT_EQ(*controller->userAgentLockToken(), 0);
  EXPECT_FALSE(plat::UIApplication::sharedApplication()->isNetworkActivityIndicatorVisible());
  EXPECT_TRUE(log_->contains("Resetting plugins due to page load."));
  EXPECT_TRUE(log_->contains("Finished load of: file://" + inBundle("www/index.html")));
  plat::NSNotificationCenter::defaultCenter().removeObserver(observer.get());
}

TEST_F(UIWebViewEngineTest, HbrNavigationsFetchTheQueuedCommandsOnce) {
  // The page queues a command but its signal is held back, so only our navigation fetches it.
  writeFile(inBundle("www/index.html"),
            page("harbor.exec.signal = function () { window.signals = (window.signals || 0) + 1; };"
                 "document.addEventListener('deviceready', function () {"
                 "  harbor.exec(null, null, 'Echo', 'record', ['queued']); });"));
  auto controller = start("");
  auto engine = uiEngineOf(controller);
  auto echo = std::dynamic_pointer_cast<EchoPlugin>(controller->getCommandInstance("Echo"));
  ASSERT_TRUE(echo);
  ASSERT_EQ(engine->uiWebView()->stringByEvaluatingJavaScriptFromString("signals"), "1");
  EXPECT_TRUE(echo->commands().empty());

  auto tracker = std::dynamic_pointer_cast<HBRUIWebViewDelegate>(engine->uiWebViewDelegate());
  std::int64_t state = tracker->state();
  NotificationRecorder resets(kHBRPluginResetNotification);
  NotificationRecorder opened(kHBRPluginHandleOpenURLNotification);
  plat::UIWebView& view = *engine->uiWebView();
  EXPECT_FALSE(tracker->webViewShouldStartLoadWithRequestNavigationType(view, requestFor("hbr://anything/at/all?x"),
                                                                        plat::UIWebViewNavigationTypeOther));
  ASSERT_EQ(echo->commands().size(), 1u);
  EXPECT_EQ(echo->commands()[0]->arguments(), plat::Array{"queued"});
  EXPECT_EQ(tracker->state(), state);
  EXPECT_TRUE(resets.objects.empty());
  EXPECT_TRUE(opened.objects.empty());

  // Nothing more to fetch: a second signal runs nothing.
  EXPECT_FALSE(tracker->webViewShouldStartLoadWithRequestNavigationType(view, requestFor("hbr://ready"),
                                                                        plat::UIWebViewNavigationTypeOther));
  EXPECT_EQ(echo->commands().size(), 1u);

  // Capitals are no signal: the navigation goes to the vote (nobody) and the default policy.
  EXPECT_FALSE(engine->navWebViewDelegate()->webViewShouldStartLoadWithRequestNavigationType(
      view, requestFor("HBR://ready"), plat::UIWebViewNavigationTypeOther));
  ASSERT_EQ(opened.objects.size(), 1u);
  EXPECT_EQ(std::dynamic_pointer_cast<plat::NSURL>(opened.objects[0])->absoluteString(), "HBR://ready");
}

TEST_F(UIWebViewEngineTest, PluginsVoteAndTheFirstNoWins) {
  auto controller = start("");
  auto engine = uiEngineOf(controller);
  auto nav = engine->navWebViewDelegate();
  plat::UIWebView& view = *engine->uiWebView();
  auto decide = [&](const std::string& url, long type) {
    return nav->webViewShouldStartLoadWithRequestNavigationType(view, requestFor(url),
                                                                static_cast<plat::UIWebViewNavigationType>(type));
  };

  // No voter: file URLs load, anything else is handed on as an opened URL and refused.
  {
    NotificationRecorder opened(kHBRPluginHandleOpenURLNotification);
    EXPECT_FALSE(decide("https://example.com/", 0));
    EXPECT_TRUE(decide("file:///tmp/x.html", 5));
    ASSERT_EQ(opened.objects.size(), 1u);
    EXPECT_EQ(std::dynamic_pointer_cast<plat::NSURL>(opened.objects[0])->absoluteString(), "https://example.com/");
  }
  EXPECT_TRUE(HBRUIWebViewNavigationDelegate::defaultResourcePolicyForURL(NSURL::URLWithString("file:///a")));
  EXPECT_FALSE(HBRUIWebViewNavigationDelegate::defaultResourcePolicyForURL(NSURL::URLWithString("data:,a")));
  EXPECT_FALSE(HBRUIWebViewNavigationDelegate::defaultResourcePolicyForURL(nullptr));

  std::vector<std::string> journal;
  auto first = addVoter(controller, "VoterA", true, &journal);
  auto second = addVoter(controller, "VoterB", true, &journal);
  NotificationRecorder opened(kHBRPluginHandleOpenURLNotification);
  struct Case {
    bool a, b;
    bool allowed;
    std::vector<std::string> asked;
  } cases[] = {
      {true, true, true, {"VoterA 0 https://example.com/", "VoterB 0 https://example.com/"}},
      {false, true, false, {"VoterA 0 https://example.com/"}},
      {true, false, false, {"VoterA 0 https://example.com/", "VoterB 0 https://example.com/"}},
  };
  for (const Case& c : cases) {
    journal.clear();
    first->answer = c.a;
    second->answer = c.b;
    EXPECT_EQ(decide("https://example.com/", 0), c.allowed);
    EXPECT_EQ(journal, c.asked);
  }
  // A voter decides file URLs too, and the navigation type reaches it unchanged.
  journal.clear();
  first->answer = false;
  EXPECT_FALSE(decide("file:///tmp/x.html", 3));
  EXPECT_EQ(journal, std::vector<std::string>{"VoterA 3 file:///tmp/x.html"});
  EXPECT_TRUE(opened.objects.empty()) << "a refusal by a voter is not an opened URL";
}

TEST_F(UIWebViewEngineTest, FailedLoadsReleaseTheLockAndShowTheErrorPage) {
  writeFile(inBundle("www/error.html"), "<p>error</p>");
  auto controller = start("<preference name=\"ErrorUrl\" value=\"error.html\"/>");
  auto engine = uiEngineOf(controller);
  auto nav = engine->navWebViewDelegate();
  plat::UIWebView& view = *engine->uiWebView();
  auto holdLock = [&] {
    HBRUserAgentUtil::acquireLock([&](std::int64_t token) { *controller->userAgentLockToken() = token; });
    ASSERT_NE(*controller->userAgentLockToken(), 0);
  };
  std::string errorPage = "file://" + inBundle("www/error.html");

  holdLock();
  nav->webViewDidFailLoadWithError(view, plat::NSURLErrorWithCode(plat::NSURLErrorTimedOut, NSURL::URLWithString("https://x/")));
  EXPECT_EQ(*controller->userAgentLockToken(), 0);
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
  EXPECT_TRUE(log_->contains("Failed to load webpage with error: The request timed out."));
  std::string expected = errorPage + "?error=Failed%20to%20load%20webpage%20with%20error%3A%20The%20request%20timed%20out.";
  EXPECT_TRUE(log_->contains(expected));
  runUntilIdle();
  EXPECT_EQ(view.request()->URL()->absoluteString(), expected);

  // A cancelled load is no failure to show; the lock is still released.
  log_->clear();
  holdLock();
  nav->webViewDidFailLoadWithError(view, plat::NSURLErrorWithCode(plat::NSURLErrorCancelled, NSURL::URLWithString("https://y/")));
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
  EXPECT_TRUE(log_->contains("Failed to load webpage with error: cancelled"));
  EXPECT_FALSE(log_->contains("?error="));

  // The error page failing is not answered with the error page again.
  log_->clear();
  holdLock();
  nav->webViewDidFailLoadWithError(
      view, plat::NSURLErrorWithCode(plat::NSURLErrorFileDoesNotExist, NSURL::URLWithString(errorPage + "?error=x")));
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
  EXPECT_TRUE(log_->contains("Failed to load webpage with error: "));
  EXPECT_FALSE(log_->contains("?error="));
}

TEST_F(UIWebViewEngineTest, AMissingErrorPageThatFailsDoesNotLoopAndWithoutErrorUrlNothingLoads) {
  // The error page itself is missing: one failure of the page, one of the error page, then quiet.
  auto controller = start("<preference name=\"ErrorUrl\" value=\"file:///nonexistent/error.html\"/>");
  auto engine = uiEngineOf(controller);
  engine->loadRequest(requestFor("file://" + inBundle("www/missing.html")));
  runUntilIdle();
  EXPECT_EQ(log_->count("Failed to load webpage with error: "), 2u);
  EXPECT_EQ(log_->count("file:///nonexistent/error.html?error="), 1u) << "the error page is tried once";
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);

  // Without an error page, a failure is logged and nothing is loaded.
  auto plain = start("");
  auto plainEngine = uiEngineOf(plain);
  plat::NSURLRequestPtr before = plainEngine->uiWebView()->request();
  plainEngine->navWebViewDelegate()->webViewDidFailLoadWithError(*plainEngine->uiWebView(),
                                                                 plat::NSURLErrorWithCode(plat::NSURLErrorTimedOut));
  runUntilIdle();
  EXPECT_EQ(plainEngine->uiWebView()->request(), before);
}

TEST_F(UIWebViewEngineTest, PreferencesReachTheWebView) {
  auto controller = start("");
  auto engine = uiEngineOf(controller);
  const plat::UIWebView& view = *engine->uiWebView();

  // Defaults.
  engine->updateSettings(plat::Dictionary{});
  EXPECT_FALSE(view.scalesPageToFit());
  EXPECT_FALSE(view.allowsInlineMediaPlayback());
  EXPECT_TRUE(view.mediaPlaybackRequiresUserAction());
  EXPECT_TRUE(view.mediaPlaybackAllowsAirPlay());
  EXPECT_TRUE(view.keyboardDisplayRequiresUserAction());
  EXPECT_FALSE(view.suppressesIncrementalRendering());
  EXPECT_EQ(view.gapBetweenPages(), 0);
  EXPECT_EQ(view.pageLength(), 0);
  EXPECT_TRUE(view.scrollView()->bounces());
  EXPECT_EQ(view.scrollView()->decelerationRate(), plat::UIScrollViewDecelerationRateNormal);

  engine->updateSettings(plat::Dictionary{{"enableviewportscale", "true"},
                                          {"allowinlinemediaplayback", "YES"},
                                          {"mediaplaybackrequiresuseraction", "false"},
                                          {"mediaplaybackallowsairplay", "no"},
                                          {"keyboarddisplayrequiresuseraction", "0"},
                                          {"suppressesincrementalrendering", "1"},
                                          {"gapbetweenpages", "12.5"},
                                          {"pagelength", "300px"},
                                          {"disallowoverscroll", "true"}});
  EXPECT_TRUE(view.scalesPageToFit());
  EXPECT_TRUE(view.allowsInlineMediaPlayback());
  EXPECT_FALSE(view.mediaPlaybackRequiresUserAction());
  EXPECT_FALSE(view.mediaPlaybackAllowsAirPlay());
  EXPECT_FALSE(view.keyboardDisplayRequiresUserAction());
  EXPECT_TRUE(view.suppressesIncrementalRendering());
  EXPECT_EQ(view.gapBetweenPages(), 12.5);
  EXPECT_EQ(view.pageLength(), 300);
  EXPECT_FALSE(view.scrollView()->bounces());

  struct Pagination {
    plat::Value mode, breaking;
    long expectedMode, expectedBreaking;
  } pagination[] = {
      {"toptobottom", "column", 2, 1},         {"TopToBottom", "COLUMN", 2, 1}, {"RIGHTTOLEFT", "page", 4, 0},
      {"sideways", "row", 0, 0},               {plat::Value(), plat::Value(), 0, 0},
      {plat::Value(3), plat::Value(true), 0, 0}, {"LeftToRight", "Column", 1, 1}, {"bottomtotop", "", 3, 0},
  };
  for (const Pagination& p : pagination) {
    plat::Dictionary settings;
    if (!p.mode.isAbsent()) settings.set("paginationmode", p.mode);
    if (!p.breaking.isAbsent()) settings.set("paginationbreakingmode", p.breaking);
    engine->updateSettings(settings);
    EXPECT_EQ(view.paginationMode(), p.expectedMode) << p.mode.description();
    EXPECT_EQ(view.paginationBreakingMode(), p.expectedBreaking) << p.breaking.description();
  }

  // Only the exact word "fast" keeps the web view's own deceleration.
  struct Deceleration {
    plat::Value value;
    double rate;
  } decelerations[] = {{"fast", plat::UIScrollViewDecelerationRateFast},
                       {"Fast", plat::UIScrollViewDecelerationRateNormal},
                       {"normal", plat::UIScrollViewDecelerationRateNormal},
                       {plat::Value(), plat::UIScrollViewDecelerationRateNormal}};
  for (const Deceleration& d : decelerations) {
    view.scrollView()->setDecelerationRate(plat::UIScrollViewDecelerationRateFast);
    plat::Dictionary settings;
    if (!d.value.isAbsent()) settings.set("uiwebviewdecelerationspeed", d.value);
    engine->updateSettings(settings);
    EXPECT_EQ(view.scrollView()->decelerationRate(), d.rate) << d.value.description();
  }

  // From config.xml, at start-up.
  auto configured = start("<preference name=\"DisallowOverscroll\" value=\"true\"/><preference name=\"PaginationMode\" value=\"BottomToTop\"/>");
  EXPECT_FALSE(uiEngineOf(configured)->uiWebView()->scrollView()->bounces());
  EXPECT_EQ(uiEngineOf(configured)->uiWebView()->paginationMode(), plat::UIWebPaginationModeBottomToTop);
}

TEST_F(UIWebViewEngineTest, UpdateWithInfoTakesADelegateAndPreferences) {
  class Counting : public plat::Object, public plat::UIWebViewDelegate {
   public:
    void webViewDidFinishLoad(plat::UIWebView&) override { ++finished; }
    int finished = 0;
  };
  auto controller = start("");
  auto engine = uiEngineOf(controller);
  auto delegate = std::make_shared<Counting>();
  HBRWebViewEngineInfo info;
  info.objects[kHBRWebViewEngineUIWebViewDelegate] = delegate;
  info.values.set(kHBRWebViewEngineWebViewPreferences, plat::Dictionary{{"pagelength", "42"}});
  engine->updateWithInfo(info);
  auto tracker = std::dynamic_pointer_cast<HBRUIWebViewDelegate>(engine->uiWebViewDelegate());
  ASSERT_TRUE(tracker);
  EXPECT_EQ(tracker->delegate(), delegate);
  EXPECT_EQ(engine->uiWebView()->delegate(), tracker);
  EXPECT_EQ(engine->uiWebView()->pageLength(), 42);
  engine->loadRequest(requestFor("file://" + inBundle("www/index.html")));
  runUntilIdle();
  EXPECT_EQ(delegate->finished, 1);

  // Something that is no web view delegate changes nothing.
  HBRWebViewEngineInfo other;
  other.objects[kHBRWebViewEngineUIWebViewDelegate] = std::make_shared<plat::Object>();
  engine->updateWithInfo(other);
  EXPECT_EQ(engine->uiWebViewDelegate(), tracker);
}

TEST_F(UIWebViewEngineTest, TheGestureHandlerInstallsItsRecogniserWhenAsked) {
  writeFile(inBundle("config.xml"), "<widget/>");
  struct Case {
    std::string config;
    bool installed;
    double duration;
  } cases[] = {
      {"", false, 0},
      {"<preference name=\"SuppressesLongPressGesture\" value=\"false\"/>", false, 0},
      {"<preference name=\"Suppresses3DTouchGesture\" value=\"true\"/>", false, 0},
      {"<preference name=\"SuppressesLongPressGesture\" value=\"true\"/>", true, static_cast<double>(0.45f)},
      {"<preference name=\"SuppressesLongPressGesture\" value=\"true\"/><preference name=\"Suppresses3DTouchGesture\" "
       "value=\"true\"/>",
       true, static_cast<double>(0.05f)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    auto controller = start("<feature name=\"Gestures\"><param name=\"ios-package\" value=\"HBRGestureHandler\"/>"
                            "<param name=\"onload\" value=\"true\"/></feature>" + c.config);
    auto handler = std::dynamic_pointer_cast<HBRGestureHandler>(controller->getCommandInstance("Gestures"));
    ASSERT_TRUE(handler);
    auto content = uiEngineOf(controller)->uiWebView()->scrollView()->subviews().front();
    if (!c.installed) {
      EXPECT_FALSE(handler->lpgr());
      EXPECT_TRUE(content->gestureRecognizers().empty());
      continue;
    }
    ASSERT_TRUE(handler->lpgr());
    EXPECT_EQ(handler->lpgr()->minimumPressDuration(), c.duration);
    EXPECT_EQ(handler->lpgr()->allowableMovement(), 100);
    ASSERT_EQ(content->gestureRecognizers().size(), 1u);
    EXPECT_EQ(content->gestureRecognizers()[0], handler->lpgr());
    log_->clear();
    EXPECT_TRUE(handler->lpgr()->simulatePress(1));
    EXPECT_EQ(log_->count("Ignoring a longpress in order to suppress the magnifying glass."), 1u) << "on began only";
    // Another recogniser's report is not the handler's business.
    auto other = std::make_shared<plat::UILongPressGestureRecognizer>();
    handler->handleLongPressGestures(*other);
    EXPECT_EQ(log_->count("Ignoring a longpress"), 1u);
  }
}

TEST_F(UIWebViewEngineTest, TheGestureHandlerNeedsAWebViewWithSubviews) {
  auto engine = std::make_shared<ScriptRecordingEngine>();
  auto controller = std::make_shared<StubBridgeController>();
  controller->initWithWebViewEngine(engine);
  controller->mutableSettings().set("suppresseslongpressgesture", "true");
  auto handler = controller->addPlugin<HBRGestureHandler>("Gestures");
  EXPECT_TRUE(handler->lpgr()) << "made before the web view is looked at";
  EXPECT_TRUE(log_->contains("No webview subviews found, not applying the longpress fix."));
}

TEST_F(UIWebViewEngineTest, AnyViewAnswersScrollViewSafely) {
  auto plain = std::make_shared<plat::UIView>();
  EXPECT_EQ(scrollView(plain), nullptr);
  EXPECT_EQ(scrollView(nullptr), nullptr);
  EXPECT_EQ(scrollView(std::make_shared<plat::Object>()), nullptr);
  auto web = std::make_shared<plat::UIWebView>();
  web->init();
  EXPECT_EQ(scrollView(web), web->scrollView());
  auto wk = std::make_shared<plat::WKWebView>();
  wk->initWithFrame(plat::CGRectZero, nullptr);
  EXPECT_EQ(scrollView(wk), wk->scrollView());
}

TEST_F(UIWebViewEngineTest, OlderSystemsFallBackToTheUIWebViewEngine) {
  struct Case {
    const char* version;
    bool wk;
  } cases[] = {{"7.1", false}, {"8.0", false}, {"8.4", false}, {"9.0", true}, {"9.3", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    plat::UIDevice::currentDevice()->setSystemVersion(c.version);
    auto controller = start("<preference name=\"HarborWebViewEngine\" value=\"HBRWKWebViewEngine\"/>");
    auto engine = controller->webViewEngine();
    EXPECT_EQ(std::dynamic_pointer_cast<HBRWKWebViewEngine>(engine) != nullptr, c.wk);
    EXPECT_EQ(std::dynamic_pointer_cast<HBRUIWebViewEngine>(engine) != nullptr, !c.wk);
    EXPECT_EQ(controller->pluginObjects().at("HBRWKWebViewEngine"), std::dynamic_pointer_cast<HBRPlugin>(engine))
        << "registered under the name asked for";
    EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0) << "the start page loaded";
  }
}
