// A real page in each engine: the application delegate launches the container on a fixture
// bundle, the page loads harbor.js, calls plugins and hears their answers, and receives the
// application's lifecycle as document events.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "EngineFixture.h"
#include "HBRAppDelegate.h"
#include "HBRUIWebViewEngine.h"
#include "HBRWKWebViewEngine.h"
#include "plat/dispatch/Queues.h"

using namespace harbor;
using namespace harbor::testing;

namespace {

// Answers on a later turn of the main run loop, as a plugin that waits for something would.
class LaterPlugin : public HBRPlugin {
 public:
  void pluginInitialize() override {
    registerAction("later", [this](const HBRInvokedUrlCommandPtr& command) {
      std::weak_ptr<LaterPlugin> weak = weakSelf<LaterPlugin>();
      plat::RunLoop::main().post([weak, command] {
        auto self = weak.lock();
        auto delegate = self ? self->commandDelegate() : nullptr;
        if (delegate)
          delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::OK, "later"),
                                     command->callbackId());
      });
    });
  }
};

const char kPageScript[] = R"JS(
  window.results = [];
  window.events = [];
  ['resign', 'pause', 'resume', 'active'].forEach(function (name) {
    document.addEventListener(name, function () { events.push(name); });
  });
  document.addEventListener('deviceready', function () {
    results.push('ready:' + harbor.exec.bridgeMode());
    var inside = null;
    harbor.exec(function (m) { inside = m; results.push('echo:' + m); }, null, 'Echo', 'echo', ['now']);
    results.push('after-exec:' + inside);
    harbor.exec(function (m) { results.push('later:' + m); }, null, 'Later', 'later', []);
    harbor.exec(function (m) { results.push('background:' + m); }, null, 'Echo', 'echoInBackground', ['bg']);
    harbor.exec(null, function (e) { results.push('failed:' + e); }, 'Echo', 'respond', [9, 'nope']);
  });
)JS";

}  // namespace

class EngineEndToEndTest : public EngineTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    plat::ClassRegistry::shared().registerClass<LaterPlugin>("LaterPlugin");
    writeFile(inBundle("www/index.html"), page(kPageScript));
    writeConfig(std::string("<feature name=\"Later\"><param name=\"ios-package\" value=\"LaterPlugin\"/></feature>") +
                "<preference name=\"HarborWebViewEngine\" value=\"" + GetParam() + "\"/>");
  }
  void TearDown() override {
    plat::ClassRegistry::shared().unregisterClass("LaterPlugin");
    EngineTest::TearDown();
  }
  std::string pageValue(const HBRViewControllerPtr& controller, const std::string& script) {
    std::string out = "<no answer>";
    controller->webViewEngine()->evaluateJavaScript(script, [&](const plat::Value& v, const std::optional<plat::NSError>& e) {
      out = e ? "error: " + e->localizedDescription : v.stringOr(v.description());
    });
    runUntilIdle();
    return out;
  }
  // Runs the loop, waiting in real time for work from other threads, until the page holds n
  // results (or a few seconds pass).
  void waitForResults(const HBRViewControllerPtr& controller, std::size_t n) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
      runUntilIdle();
      if (std::stoul(pageValue(controller, "String(results.length)")) >= n) return;
      waitForMain(0.05);
    }
  }
};

TEST_P(EngineEndToEndTest, APageLoadsAndTalksToPluginsThroughTheBridge) {
  NotificationRecorder loads(kHBRPageDidLoadNotification);
  auto appDelegate = std::make_shared<HBRAppDelegate>();
  appDelegate->init();
  auto app = plat::UIApplication::sharedApplication();
  ASSERT_TRUE(app->launchWithDelegate(appDelegate));
  runUntilIdle();
  auto controller = appDelegate->viewController();
  ASSERT_TRUE(controller);
  std::string engineName = GetParam();
  if (engineName == "HBRWKWebViewEngine")
    ASSERT_TRUE(std::dynamic_pointer_cast<HBRWKWebViewEngine>(controller->webViewEngine()));
  else
    ASSERT_TRUE(std::dynamic_pointer_cast<HBRUIWebViewEngine>(controller->webViewEngine()));

  ASSERT_EQ(loads.objects.size(), 1u) << "page-did-load";
  EXPECT_EQ(loads.objects[0], controller->webView());
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0) << "the lock is released";

  waitForResults(controller, 6);
  std::string bridge = engineName == "HBRWKWebViewEngine" ? "messageHandler" : "iframe";
  // Under the UIWebView engine the queued commands run when the page's signal is fetched, so an
  // answer given inside the action reaches the page after exec returned; under the WKWebView
  // engine the message, and the evaluation of the answer, come on later turns anyway.
  EXPECT_EQ(pageValue(controller, "results.slice(0, 3).join()"),
            "ready:" + bridge + ",after-exec:null,echo:now");
  EXPECT_EQ(pageValue(controller, "results.slice(3).sort().join()"), "background:bg,failed:nope,later:later");
  auto echo = std::dynamic_pointer_cast<EchoPlugin>(controller->getCommandInstance("Echo"));
  ASSERT_TRUE(echo);
  std::vector<std::thread::id> threads = echo->sendThreads();
  ASSERT_EQ(threads.size(), 3u);
  EXPECT_EQ(std::count(threads.begin(), threads.end(), std::this_thread::get_id()), 2)
      << "one answer came from a background thread";

  // The application's lifecycle reaches the page as document events, in order.
  app->resignActive();
  app->enterBackground();
  app->enterForeground();
  app->becomeActive();
  runUntilIdle();
  EXPECT_EQ(pageValue(controller, "events.join()"), "resign,pause,resume,active");

  // A navigation to another page resets the plugins and announces the new page.
  writeFile(inBundle("www/second.html"), page("window.second = true;"));
  pageValue(controller, "location.href = 'second.html'; 0");
  runUntilIdle();
  EXPECT_EQ(loads.objects.size(), 2u);
  EXPECT_EQ(pageValue(controller, "String(window.second)"), "true");
}

TEST_P(EngineEndToEndTest, AStartPageThatCannotBeFoundStillReleasesTheLock) {
  writeConfig(std::string("<content src=\"nothere.html\"/>") + "<preference name=\"HarborWebViewEngine\" value=\"" +
              GetParam() + "\"/>");
  auto controller = std::make_shared<HBRViewController>();
  controller->init();
  controllers.push_back(controller);
  controller->view();
  runUntilIdle();
  EXPECT_TRUE(log_->contains("ERROR: Start Page at 'www/nothere.html' was not found."));
  // The inline error page is offered to the vote like any page; with no voter it is refused as
  // "about:blank", and the lock is then handed on only by the controller's teardown.
  EXPECT_NE(HBRUserAgentUtil::currentLockToken(), 0);
  controller.reset();
  controllers.clear();
  runUntilIdle();
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothEngines, EngineEndToEndTest, ::testing::Values("HBRUIWebViewEngine", "HBRWKWebViewEngine"));
