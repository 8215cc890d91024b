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
  // The launch's "active" came before the start page had the bridge to hear it: dropped, and
  // nothing error-looking logged for it.
  EXPECT_FALSE(log_->contains("exeption")) << "a clean start-up logs no script error";
  EXPECT_EQ(pageValue(controller, "events.join()"), "");

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

TEST_P(EngineEndToEndTest, AStartPageThatCannotBeFoundShowsTheErrorInlineAndReleasesTheLock) {
  // With the navigation filter (which allows nothing here) and without it (the default policy
  // refuses what is not a file).
  for (bool filter : {false, true}) {
    SCOPED_TRACE(filter ? "with the navigation filter" : "with the default policy");
    NotificationRecorder opened(kHBRPluginHandleOpenURLNotification);
    NotificationRecorder loads(kHBRPageDidLoadNotification);
    auto controller = start(
        std::string("<content src=\"x&lt;script&gt;window.injected=1&lt;/script&gt;.html\"/>") +
        "<preference name=\"HarborWebViewEngine\" value=\"" + GetParam() + "\"/>" +
        (filter ? "<feature name=\"IntentAndNavigationFilter\"><param name=\"ios-package\" "
                  "value=\"HBRIntentAndNavigationFilter\" onload=\"true\"/></feature>"
                : ""));
    EXPECT_TRUE(log_->contains("ERROR: Start Page at 'www/x<script>window.injected=1</script>.html' was not found."));
    EXPECT_EQ(pageValue(controller, "String(window.injected)"), "undefined") << "the name is shown as text, not run";
    EXPECT_EQ(loads.objects.size(), 1u);
    EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0) << "released by the page's load, not by teardown";
    EXPECT_TRUE(opened.objects.empty()) << "about:blank is no URL opened from outside";
    controllers.clear();
    runUntilIdle();
  }
}

TEST_P(EngineEndToEndTest, AStartPageTheNavigationPolicyRefusesShowsTheErrorAndReleasesTheLock) {
  writeFile(inBundle("www/error.html"), page("window.page = 'error';"));
  const std::string filter =
      "<feature name=\"IntentAndNavigationFilter\"><param name=\"ios-package\" "
      "value=\"HBRIntentAndNavigationFilter\" onload=\"true\"/></feature>";
  const std::string refused =
      "ERROR: Start Page at 'https://example.com/start.html' was refused by the navigation policy (see "
      "allow-navigation in config.xml).";
  struct Case {
    const char* name;
    std::string config;
    bool errorPage;  // the error page shows the message, else the inline page
  } cases[] = {
      {"navigation filter", filter, false},
      {"default policy", "", false},
      {"navigation filter, error page", filter + "<preference name=\"ErrorUrl\" value=\"error.html\"/>", true},
      // The error page is refused as well: the inline page shows the message.
      {"navigation filter, remote error page",
       filter + "<preference name=\"ErrorUrl\" value=\"https://example.com/error.html\"/>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_->clear();
    NotificationRecorder loads(kHBRPageDidLoadNotification);
    auto refusedController = start("<content src=\"https://example.com/start.html\"/>" + c.config +
                                   "<preference name=\"HarborWebViewEngine\" value=\"" + GetParam() + "\"/>");
    EXPECT_TRUE(log_->contains(refused));
    EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0) << "no load is left to release it";
    ASSERT_EQ(loads.objects.size(), 1u) << "the error is shown";
    if (c.errorPage) {
      EXPECT_EQ(pageValue(refusedController, "window.page"), "error");
      EXPECT_EQ(pageValue(refusedController, "decodeURIComponent(location.search.slice(7))"), refused);
    } else {
      // The page engine keeps no text nodes to read back: the built-in page is the one on show.
      EXPECT_EQ(pageValue(refusedController, "location.href"), "about:blank");
    }

    // The next container is not held up behind it.
    auto next = start("<preference name=\"HarborWebViewEngine\" value=\"" + std::string(GetParam()) + "\"/>");
    EXPECT_EQ(loads.objects.size(), 2u);
    EXPECT_EQ(pageValue(next, "location.pathname.split('/').pop()"), "index.html");
    EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
    controllers.clear();
    runUntilIdle();
  }
}

TEST_P(EngineEndToEndTest, TwoNavigationsInARowLandOnTheSecondPage) {
  writeFile(inBundle("www/a.html"), page("window.page = 'a';"));
  writeFile(inBundle("www/b.html"), page("window.page = 'b';"));
  writeFile(inBundle("www/error.html"), page("window.page = 'error';"));
  const char* twice = "location.href = 'a.html'; location.href = 'b.html';";
  struct Case {
    const char* name;
    bool errorPage;
    bool duringStartPage;  // the start page navigates while it loads, with the lock held
  } cases[] = {
      {"loaded page, error page set", true, false},
      {"loaded page, no error page", false, false},
      {"start page, error page set", true, true},
      {"start page, no error page", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(inBundle("www/index.html"), page(c.duringStartPage ? twice : ""));
    // The lock must stay with the start page's load until the page it ends on has loaded.
    std::vector<std::int64_t> locksAtLoadStarts;
    auto token = std::make_shared<int>(0);
    plat::NSNotificationCenter::defaultCenter().addObserver(
        token, kHBRPluginResetNotification, nullptr,
        [&](const plat::NSNotification&) { locksAtLoadStarts.push_back(HBRUserAgentUtil::currentLockToken()); });
    std::size_t logged = log_->lines().size();

    auto controller = start(std::string(c.errorPage ? "<preference name=\"ErrorUrl\" value=\"error.html\"/>" : "") +
                            "<preference name=\"HarborWebViewEngine\" value=\"" + GetParam() + "\"/>");
    if (!c.duringStartPage) pageValue(controller, std::string(twice) + " 0");
    runUntilIdle();

    EXPECT_EQ(pageValue(controller, "window.page"), "b");
    EXPECT_EQ(pageValue(controller, "location.pathname.split('/').pop()"), "b.html");
    std::vector<std::string> lines = log_->lines();
    for (std::size_t i = logged; i < lines.size(); ++i)
      EXPECT_EQ(lines[i].find("Failed to load webpage"), std::string::npos) << lines[i];
    EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
    if (c.duringStartPage) {
      ASSERT_FALSE(locksAtLoadStarts.empty());
      for (std::int64_t lock : locksAtLoadStarts) EXPECT_NE(lock, 0) << "released before the last page loaded";
    }
    plat::NSNotificationCenter::defaultCenter().removeObserver(token.get());
    controllers.clear();
    runUntilIdle();
  }
}

// Every history move to another page is a page load for the container: the plugins are reset
// once and the new page announced once, and the UIWebView engine reports the page it came to.
TEST_P(EngineEndToEndTest, HistoryMovesResetThePluginsAndAnnounceEachPage) {
  for (const char* name : {"index", "b"})
    writeFile(inBundle(std::string("www/") + name + ".html"), page(std::string("window.page = '") + name + "';"));
  auto controller = start("<preference name=\"HarborWebViewEngine\" value=\"" + std::string(GetParam()) + "\"/>");
  NotificationRecorder resets(kHBRPluginResetNotification);
  NotificationRecorder loads(kHBRPageDidLoadNotification);
  struct Step {
    const char* script;
    const char* page;  // the file the container shows afterwards
    const char* query;
  };
  const Step steps[] = {
      {"location.href = 'b.html'", "b", ""},     {"history.back()", "index", ""},
      {"location.reload()", "index", ""},        {"location.href = 'b.html?again'", "b", "?again"},
      {"history.go(-1)", "index", ""},           {"history.forward()", "b", "?again"},
  };
  bool uiWebView = std::string(GetParam()) == "HBRUIWebViewEngine";
  for (const Step& step : steps) {
    SCOPED_TRACE(step.script);
    std::size_t resetsBefore = resets.objects.size(), loadsBefore = loads.objects.size();
    std::size_t logged = log_->lines().size();
    pageValue(controller, std::string(step.script) + "; 0");
    runUntilIdle();
    EXPECT_EQ(pageValue(controller, "window.page + location.search"), std::string(step.page) + step.query);
    EXPECT_EQ(resets.objects.size(), resetsBefore + 1);
    EXPECT_EQ(loads.objects.size(), loadsBefore + 1);
    if (!uiWebView) continue;
    std::vector<std::string> finished;
    std::vector<std::string> lines = log_->lines();
    for (std::size_t i = logged; i < lines.size(); ++i)
      if (lines[i].rfind("Finished load of: ", 0) == 0) finished.push_back(lines[i]);
    std::string url = plat::NSURL::fileURLWithPath(inBundle(std::string("www/") + step.page + ".html"))->absoluteString();
    EXPECT_EQ(finished, std::vector<std::string>{"Finished load of: " + url + step.query});
  }
}

// Three calls in one turn, the middle one with an argument nested deeper than the container
// reads: the other two are answered as usual, and the deep one's caller hears why, once.
TEST_P(EngineEndToEndTest, ACommandThatCannotBeReadIsAnsweredAndTakesNoOtherWithIt) {
  writeFile(inBundle("www/index.html"), page(R"JS(
    window.results = [];
    document.addEventListener('deviceready', function () {
      var deep = 1;
      for (var i = 0; i < 600; i++) deep = [deep];
      function record(name) {
        return function (m) { results.push(name + ':' + m); };
      }
      harbor.exec(record('first'), record('first failed'), 'Echo', 'echo', ['a']);
      harbor.exec(record('deep'), record('deep failed'), 'Echo', 'echo', [deep]);
      harbor.exec(record('last'), record('last failed'), 'Echo', 'echo', ['b']);
    });
  )JS"));
  auto controller = start(std::string("<preference name=\"HarborWebViewEngine\" value=\"") + GetParam() + "\"/>");
  waitForResults(controller, 3);
  runUntilIdle();
  EXPECT_EQ(pageValue(controller, "String(results.length)"), "3");
  EXPECT_EQ(pageValue(controller, "results.filter(function (r) { return !/^deep/.test(r); }).join()"), "first:a,last:b");
  std::string deep = pageValue(controller, "results.filter(function (r) { return /^deep/.test(r); }).join()");
  EXPECT_EQ(deep.rfind("deep failed:The command cannot be read: ", 0), 0u) << deep;
  EXPECT_NE(deep.find("deeper than 512 levels"), std::string::npos) << deep;
  EXPECT_TRUE(log_->contains("ERROR: Cannot read the command Echo.echo (")) << "logged with why";
}

// A page calling in one loop more often than the container takes before it runs them: under the
// WKWebView engine the calls past the messages a page may have waiting are dropped in the page
// (logged), and harbor.js fails them; under the UIWebView engine they wait in the page's own queue.
// Either way every call is answered once.
TEST_P(EngineEndToEndTest, CallsMadeFasterThanTheContainerRunsThemAreAnsweredOnce) {
  writeFile(inBundle("www/index.html"), page(R"JS(
    window.results = [];
    window.counts = { answered: 0, dropped: 0, other: 0 };
    document.addEventListener('deviceready', function () {
      for (var i = 0; i < 12000; i++) {
        harbor.exec(function () { counts.answered++; results.push(1); }, function (e) {
          if (/^The command was dropped: /.test(e)) counts.dropped++; else counts.other++;
          results.push(1);
        }, 'Echo', 'echo', [i]);
      }
    });
  )JS"));
  auto controller = start(std::string("<preference name=\"HarborWebViewEngine\" value=\"") + GetParam() + "\"/>");
  waitForResults(controller, 12000);
  runUntilIdle();
  EXPECT_EQ(pageValue(controller, "String(results.length)"), "12000") << "each call answered once";
  EXPECT_EQ(pageValue(controller, "String(counts.other)"), "0");
  bool wk = std::string(GetParam()) == "HBRWKWebViewEngine";
  EXPECT_EQ(pageValue(controller, "String(counts.dropped)"), wk ? "2000" : "0");
  EXPECT_EQ(log_->contains("The page posts script messages faster than the container runs them; 10000 wait"), wk);
  EXPECT_EQ(log_->contains("2000 script messages of the page were dropped while the container caught up"), wk);
}

INSTANTIATE_TEST_SUITE_P(BothEngines, EngineEndToEndTest, ::testing::Values("HBRUIWebViewEngine", "HBRWKWebViewEngine"));
