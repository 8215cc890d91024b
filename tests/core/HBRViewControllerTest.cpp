// The container view controller's start-up: settings, start and error pages, the engine choice,
// the user agent, the start-up plugins and the plugin registry.
#include <gtest/gtest.h>

#include "HBRLocalStorage.h"
#include "HBRPreferences.h"
#include "ViewControllerFixture.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIWebView.h"

namespace harbor::testing {
namespace {

TEST_F(ViewControllerTest, StartPageResolution) {
  writeFile(inBundle("www/app/main.html"), "<html></html>");
  writeFile(inBundle("www/error.html"), "<html></html>");
  writeFile(inBundle("site.bundle/home.html"), "<html></html>");
  struct Case {
    const char* name;
    std::string config;
    std::function<void(HBRViewController&)> host;
    std::string url;  // expected request, or empty when HTML is shown
    std::string html;
  };
  const std::string notFound = "ERROR: Start Page at 'www/missing.html' was not found.";
  std::vector<Case> cases = {
      {"default", "", nullptr, bundleFileURL("www/index.html"), ""},
      {"content src", "<content src=\"app/main.html\"/>", nullptr, bundleFileURL("www/app/main.html"), ""},
      {"query and fragment kept", "<content src=\"index.html?a=1&amp;b=x%20y#top\"/>", nullptr,
       bundleFileURL("www/index.html") + "?a=1&b=x%20y#top", ""},
      {"fragment only", "<content src=\"index.html#top\"/>", nullptr, bundleFileURL("www/index.html") + "#top", ""},
      {"absolute URL unchanged", "<content src=\"https://example.org/app/?x=1\"/>", nullptr,
       "https://example.org/app/?x=1", ""},
      {"host wins over config", "<content src=\"missing.html\"/>",
       [](HBRViewController& c) { c.setStartPage("app/main.html"); }, bundleFileURL("www/app/main.html"), ""},
      {"remote www folder", "", [](HBRViewController& c) { c.setWwwFolderName("https://cdn.example.org/www"); },
       "https://cdn.example.org/www/index.html", ""},
      {"relative bundle folder", "<content src=\"home.html\"/>",
       [](HBRViewController& c) { c.setWwwFolderName("site.bundle"); }, bundleFileURL("site.bundle/home.html"), ""},
      {"missing without ErrorUrl", "<content src=\"missing.html\"/>", nullptr, "",
       "<html><body> " + notFound + " </body></html>"},
      {"missing with ErrorUrl",
       "<content src=\"missing.html\"/><preference name=\"ErrorUrl\" value=\"error.html\"/>", nullptr,
       bundleFileURL("www/error.html") + "?error=" + plat::percentEscape(notFound), ""},
      {"ErrorUrl that is missing too",
       "<content src=\"missing.html\"/><preference name=\"ErrorUrl\" value=\"nope.html\"/>", nullptr, "",
       "<html><body> " + notFound + " </body></html>"},
      {"not a URL", "<content src=\"my page.html\"/>", nullptr, "",
       "<html><body> ERROR: Start Page at 'www/my page.html' was not found. </body></html>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HBRUserAgentUtil::resetForTesting();
    auto controller = start(c.config, c.host);
    auto engine = engineOf(controller);
    ASSERT_TRUE(engine);
    if (!c.url.empty()) {
      EXPECT_EQ(loadedURL(controller), c.url);
      EXPECT_TRUE(engine->html.empty());
    } else {
      EXPECT_TRUE(engine->requests.empty());
      EXPECT_EQ(engine->html, std::vector<std::string>{c.html});
    }
    controllers.clear();
  }
}

TEST_F(ViewControllerTest, TheStartPageIsRequestedWithTwentySecondsAndTheProtocolsCachePolicy) {
  auto controller = start("");
  auto engine = engineOf(controller);
  ASSERT_EQ(engine->requests.size(), 1u);
  EXPECT_EQ(engine->requests[0]->timeoutInterval(), 20.0);
  EXPECT_EQ(engine->requests[0]->cachePolicy(), plat::NSURLRequestCachePolicy::UseProtocolCachePolicy);
  EXPECT_EQ(controller->startPage(), "index.html");
  EXPECT_EQ(controller->wwwFolderName(), "www");
}

TEST_F(ViewControllerTest, TheErrorPageQueryEscapesEverythingButUnreservedCharacters) {
  writeFile(inBundle("www/error.html"), "<html></html>");
  auto controller =
      start("<content src=\"a&amp;b=c?d#e\"/><preference name=\"ErrorUrl\" value=\"error.html\"/>");
  std::string url = loadedURL(controller);
  EXPECT_TRUE(log_->contains("ERROR: Start Page at 'www/a&b=c?d#e' was not found."));
  std::string query = url.substr(url.find('?') + 1);
  EXPECT_EQ(query.find_first_of("&#?"), std::string::npos) << url;
  auto parsed = plat::NSURL::URLWithString(url);
  ASSERT_TRUE(parsed && parsed->query());
  EXPECT_EQ(plat::percentDecode(parsed->query()->substr(6)), "ERROR: Start Page at 'www/a&b=c?d#e' was not found.");
  EXPECT_FALSE(parsed->fragment());
  EXPECT_TRUE(log_->contains(url)) << "the error page URL is logged";
}

TEST_F(ViewControllerTest, EngineChoiceAndFallback) {
  struct Case {
    const char* name;
    std::string preference;  // HarborWebViewEngine, empty for none
    bool registerWK;         // a second engine class exists under "HBRWKWebViewEngine"
    bool initSucceeds;
    bool canLoad;
    std::size_t enginesMade;  // including the fallback
    std::string registeredAs;
    std::size_t askedCanLoad;  // questions the engine in use was asked
    std::string why;           // the reason logged for a stand-in
    std::string features = "";          // more of config.xml
    std::string service = "";           // a service that must still reach its own plugin class
    std::string serviceClass = "";
  };
  const std::string counting =
      "<feature name=\"Counting\"><param name=\"ios-package\" value=\"CountingPlugin\"/></feature>";
  const std::string storage =
      "<feature name=\"LocalStorage\"><param name=\"ios-package\" value=\"HBRLocalStorage\"/></feature>";
  const std::string unbuilt = "<feature name=\"Later\"><param name=\"ios-package\" value=\"NotBuiltYet\"/></feature>";
  std::vector<Case> cases = {
      {"default", "", false, true, true, 1, "HBRUIWebViewEngine", 1, ""},
      {"preferred engine", "HBRWKWebViewEngine", true, true, true, 1, "HBRWKWebViewEngine", 1, ""},
      {"missing class", "HBRWKWebViewEngine", false, true, true, 1, "HBRWKWebViewEngine", 0,
       "there is no class of that name"},
      {"cannot load the start page", "HBRWKWebViewEngine", true, true, false, 2, "HBRWKWebViewEngine", 0,
       "it cannot load the start page on system version 9.3"},
      {"cannot run here", "HBRWKWebViewEngine", true, false, true, 2, "HBRWKWebViewEngine", 0,
       "it cannot start on system version 9.3"},
      // A name that a plugin holds stays with that plugin: the stand-in goes under its own name.
      {"not an engine", "CountingPlugin", false, true, true, 1, "HBRUIWebViewEngine", 0, "it is not a web view engine",
       counting, "Counting", "CountingPlugin"},
      {"a container plugin", "HBRLocalStorage", false, true, true, 1, "HBRUIWebViewEngine", 0,
       "it is not a web view engine", storage, "LocalStorage", "HBRLocalStorage"},
      {"a missing class that config.xml maps a service to", "NotBuiltYet", false, true, true, 1, "HBRUIWebViewEngine", 0,
       "there is no class of that name", unbuilt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_->clear();
    HBRUserAgentUtil::resetForTesting();
    RecordingWebViewEngine::resetClass();
    RecordingWebViewEngine::initSucceeds = c.initSucceeds;
    RecordingWebViewEngine::canLoad = c.canLoad;
    plat::ClassRegistry::shared().unregisterClass("HBRWKWebViewEngine");
    if (c.registerWK) RecordingWebViewEngine::registerAs("HBRWKWebViewEngine");
    std::string config =
        c.preference.empty() ? "" : "<preference name=\"HarborWebViewEngine\" value=\"" + c.preference + "\"/>";
    auto controller = start(config + c.features);
    ASSERT_EQ(RecordingWebViewEngine::made().size(), c.enginesMade);
    auto engine = engineOf(controller);
    ASSERT_TRUE(engine);
    EXPECT_EQ(engine, RecordingWebViewEngine::made().back().lock()) << "the last engine made is used";
    ASSERT_EQ(controller->pluginObjects().count(c.registeredAs), 1u);
    EXPECT_EQ(controller->pluginObjects().at(c.registeredAs), engine);
    EXPECT_EQ(engine->pluginInitializeCount, 1);
    EXPECT_EQ(engine->viewController(), controller);
    EXPECT_EQ(engine->commandDelegate(), controller->commandDelegate());
    // The fallback is taken without questions.
    EXPECT_EQ(engine->canLoadQuestions.size(), c.askedCanLoad);
    EXPECT_EQ(loadedURL(controller), bundleFileURL("www/index.html"));
    if (c.why.empty())
      EXPECT_FALSE(log_->contains("cannot be used"));
    else
      EXPECT_TRUE(log_->contains("The web view engine " + c.preference + " cannot be used (" + c.why +
                                 "); HBRUIWebViewEngine stands in."));
    bool renamed = !c.preference.empty() && c.registeredAs != c.preference;
    EXPECT_EQ(log_->contains("The stand-in web view engine is registered as HBRUIWebViewEngine, not as " + c.preference +
                             ", which names a plugin."),
              renamed);
    if (renamed) {
      EXPECT_EQ(controller->pluginObjects().count(c.preference), 0u);
    }
    if (!c.service.empty()) {
      auto plugin = controller->getCommandInstance(c.service);
      ASSERT_TRUE(plugin);
      EXPECT_NE(plugin, engine);
      EXPECT_EQ(HBRViewController::classNameOf(*plugin), c.serviceClass);
    }
    controllers.clear();
  }
}

TEST_F(ViewControllerTest, TheEngineViewFillsTheViewBehindEverythingElse) {
  writeConfig("");
  auto controller = makeController();
  auto view = controller->view();
  auto engine = engineOf(controller);
  ASSERT_TRUE(engine);
  EXPECT_EQ(engine->frame, view->bounds());
  EXPECT_EQ(controller->webView(), engine->view());
  ASSERT_FALSE(view->subviews().empty());
  EXPECT_EQ(view->subviews().front(), engine->view());
  EXPECT_EQ(engine->view()->autoresizingMask(),
            unsigned(plat::UIViewAutoresizingFlexibleWidth | plat::UIViewAutoresizingFlexibleHeight));
  // The canLoadRequest question carried the start page.
  ASSERT_EQ(engine->canLoadQuestions.size(), 1u);
  EXPECT_EQ(engine->canLoadQuestions[0]->URL()->absoluteString(), bundleFileURL("www/index.html"));
}

TEST_F(ViewControllerTest, WithoutAnyEngineNothingLoadsAndTheLockIsGivenBack) {
  plat::ClassRegistry::shared().unregisterClass(kHBRDefaultWebViewEngine);
  auto controller = start("");
  EXPECT_FALSE(controller->webViewEngine());
  EXPECT_FALSE(controller->webView());
  EXPECT_TRUE(log_->contains("ERROR: No web view engine could be created"));
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
  EXPECT_EQ(*controller->userAgentLockToken(), 0);
}

TEST_F(ViewControllerTest, UserAgent) {
  const std::string original = plat::UIWebView::kBuiltInUserAgent;
  struct Case {
    const char* name;
    std::string config;
    std::optional<std::string> base;
    std::string prefix;    // what the user agent starts with
    bool numbered;         // ends with " (<address>)"
  };
  std::vector<Case> cases = {
      {"default", "", std::nullopt, original, true},
      {"append", "<preference name=\"AppendUserAgent\" value=\"Hello/1.0\"/>", std::nullopt, original + " Hello/1.0",
       false},
      {"override", "<preference name=\"OverrideUserAgent\" value=\"Custom/2\"/>", std::nullopt, "Custom/2", true},
      {"override and append",
       "<preference name=\"OverrideUserAgent\" value=\"Custom/2\"/><preference name=\"AppendUserAgent\" value=\"X\"/>",
       std::nullopt, "Custom/2 X", false},
      {"host base wins", "<preference name=\"OverrideUserAgent\" value=\"Custom/2\"/>", std::string("Host/3"),
       "Host/3", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HBRUserAgentUtil::resetForTesting();
    plat::NSUserDefaults::resetStandardUserDefaults();
    auto controller = start(c.config, [&](HBRViewController& vc) {
      if (c.base) vc.setBaseUserAgent(*c.base);
    });
    std::string ua = controller->userAgent();
    std::string expected = c.prefix;
    if (c.numbered)
      expected += plat::format(" (%lld)", static_cast<long long>(reinterpret_cast<std::intptr_t>(controller.get())));
    EXPECT_EQ(ua, expected);
    EXPECT_EQ(controller->userAgent(), ua) << "kept once formed";
    // Set for web views when the lock was granted.
    EXPECT_EQ(plat::NSUserDefaults::standardUserDefaults()->stringForKey("UserAgent"), ua);
    controllers.clear();
  }
}

TEST_F(ViewControllerTest, TwoControllersSendDifferentUserAgentsAndLoadOneAfterTheOther) {
  auto first = start("");
  auto second = makeController();
  second->view();
  EXPECT_NE(first->userAgent(), second->userAgent());
  // The second load waits for the first to finish.
  EXPECT_EQ(engineOf(first)->requests.size(), 1u);
  EXPECT_TRUE(engineOf(second)->requests.empty());
  EXPECT_EQ(*first->userAgentLockToken(), 1);
  HBRUserAgentUtil::releaseLock(first->userAgentLockToken());  // what the engine does once loaded
  EXPECT_EQ(engineOf(second)->requests.size(), 1u);
  EXPECT_EQ(*second->userAgentLockToken(), 2);
  EXPECT_EQ(plat::NSUserDefaults::standardUserDefaults()->stringForKey("UserAgent"), second->userAgent());
}

TEST_F(ViewControllerTest, AGrantThatFindsItsControllerGoneReleasesAtOnce) {
  std::int64_t held = 0;
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) { held = token; });
  writeConfig("");
  {
    auto controller = std::make_shared<HBRViewController>();
    controller->init();
    controller->view();  // asks for the lock and waits
    EXPECT_EQ(HBRUserAgentUtil::waitingRequestCount(), 1u);
  }
  bool thirdGranted = false;
  HBRUserAgentUtil::acquireLock([&](std::int64_t) { thirdGranted = true; });
  HBRUserAgentUtil::releaseLock(&held);
  EXPECT_TRUE(thirdGranted) << "the lock went past the vanished controller";
}

TEST_F(ViewControllerTest, StartupPluginsAreTimedCreatedOnceAndMissingOnesSkipped) {
  auto controller = start(R"(
    <feature name="Counter"><param name="ios-package" value="CountingPlugin" onload="true"/></feature>
    <feature name="Ghost"><param name="ios-package" value="GhostPlugin"/><param name="onload" value="true"/></feature>
    <feature name="Again"><param name="ios-package" value="CountingPlugin"/><param name="onload" value="true"/></feature>
    <feature name="Counter"><param name="onload" value="true"/></feature>
    <feature name="Lazy"><param name="ios-package" value="NotAPlugin"/></feature>)");
  EXPECT_EQ(controller->startupPluginNames(), (std::vector<std::string>{"counter", "ghost", "again", "counter"}));
  EXPECT_EQ(CountingPlugin::created, 1);
  auto counter = std::dynamic_pointer_cast<CountingPlugin>(controller->getCommandInstance("COUNTER"));
  ASSERT_TRUE(counter);
  EXPECT_EQ(counter->initialized, 1);
  EXPECT_EQ(controller->getCommandInstance("again"), counter) << "two services share one class's object";
  EXPECT_EQ(counter->webViewEngine(), controller->webViewEngine());
  EXPECT_EQ(counter->viewController(), controller);

  EXPECT_TRUE(log_->contains("HBRPlugin class GhostPlugin (pluginName: ghost) does not exist."));
  EXPECT_EQ(log_->count("[HBRTimer][counter] "), 2u) << "a name listed twice is timed twice";
  EXPECT_EQ(log_->count("[HBRTimer][ghost] "), 1u);
  EXPECT_EQ(log_->count("[HBRTimer][TotalPluginStartup] "), 1u);
  EXPECT_FALSE(log_->contains("already exists"));

  // Plugins other than the start-up ones come on first use; a class that is not a plugin is
  // refused like a missing one, and an unmapped service gives nothing without a log line.
  log_->clear();
  EXPECT_FALSE(controller->getCommandInstance("Lazy"));
  EXPECT_TRUE(log_->contains("HBRPlugin class NotAPlugin (pluginName: Lazy) does not exist."));
  log_->clear();
  EXPECT_FALSE(controller->getCommandInstance("Unmapped"));
  EXPECT_TRUE(log_->lines().empty());
  EXPECT_EQ(CountingPlugin::created, 1);
}

TEST_F(ViewControllerTest, RegisteringAPluginByServiceNameMapsItUnderItsOwnClass) {
  auto controller = start("");
  std::vector<std::string> journal;
  CountingPlugin::journal = &journal;
  auto plugin = std::make_shared<CountingPlugin>();
  plugin->initWithWebViewEngine(controller->webViewEngine());
  controller->registerPluginWithPluginName(plugin, "MyService");
  EXPECT_EQ(controller->pluginsMap().get("myservice"), plat::Value("CountingPlugin"));
  EXPECT_EQ(controller->pluginObjects().at("CountingPlugin"), plugin);
  EXPECT_EQ(controller->getCommandInstance("MYSERVICE"), plugin);
  EXPECT_EQ(plugin->commandDelegate(), controller->commandDelegate());
  EXPECT_EQ(journal, std::vector<std::string>{"pluginInitialize"});
  EXPECT_EQ(HBRViewController::classNameOf(*plugin), "CountingPlugin");
  EXPECT_EQ(HBRViewController::classNameOf(*controller), "HBRViewController");
}

TEST_F(ViewControllerTest, BackupWebStorageIsWrittenBackAndLocalStartsTheStoragePlugin) {
  struct Case {
    std::string config;
    std::string stored;
    bool storagePlugin;
  };
  const std::string feature = "<feature name=\"LocalStorage\"><param name=\"ios-package\" value=\"HBRLocalStorage\"/></feature>";
  std::vector<Case> cases = {
      {"", "cloud", false},
      {feature + "<preference name=\"BackupWebStorage\" value=\"local\"/>", "local", true},
      {"<preference name=\"BackupWebStorage\" value=\"local\"/>", "local", false},
      {feature + "<preference name=\"backupwebstorage\" value=\"none\"/>", "none", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    HBRUserAgentUtil::resetForTesting();
    auto controller = start(c.config);
    EXPECT_EQ(controller->settings().get("backupwebstorage"), plat::Value(c.stored));
    EXPECT_EQ(controller->pluginObjects().count("HBRLocalStorage"), c.storagePlugin ? 1u : 0u);
    EXPECT_EQ(plat::NSUserDefaults::standardUserDefaults()->boolForKey(kHBRStoreWebDataForBackupKey),
              c.stored == "cloud");
    controllers.clear();
  }
}

TEST_F(ViewControllerTest, StartupLogLines) {
  struct Case {
    std::string systemVersion;
    bool deviceMultitasking;
    plat::Value exitsOnSuspend;
    std::string multitasking;
    bool critical;
  };
  std::vector<Case> cases = {
      {"9.3", true, plat::Value(), "Multi-tasking -> Device: YES, App: YES", false},
      {"8.0", false, plat::Value(false), "Multi-tasking -> Device: NO, App: YES", false},
      {"7.1.2", true, plat::Value(true), "Multi-tasking -> Device: YES, App: NO", true},
      {"10.0", true, plat::Value(0), "Multi-tasking -> Device: YES, App: YES", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.systemVersion);
    plat::UIDevice::currentDevice()->setSystemVersion(c.systemVersion);
    plat::UIDevice::currentDevice()->setMultitaskingSupported(c.deviceMultitasking);
    plat::Dictionary info{{"CFBundleIdentifier", kBundleIdentifier}};
    if (!c.exitsOnSuspend.isAbsent()) info.set("UIApplicationExitsOnSuspend", c.exitsOnSuspend);
    writeInfoPlist(info);
    log_->clear();
    makeController();
    std::vector<std::string> expected = {"Harbor native platform version 4.2.0 is starting.", c.multitasking};
    if (c.critical)
      expected.push_back("CRITICAL: For Harbor 4.0.0 and above, you will need to upgrade to at least iOS 8.0 or "
                         "greater. Your current version of iOS is " +
                         c.systemVersion + ".");
    EXPECT_EQ(log_->lines(), expected);
  }
}

TEST_F(ViewControllerTest, ConstructionRunsOnce) {
  auto controller = makeController();
  controller->init();
  controller->initWithNibNameBundle(std::nullopt, nullptr);
  EXPECT_EQ(log_->count("is starting."), 1u);
}

TEST_F(ViewControllerTest, AMissingConfigurationStopsStartUp) {
  auto controller = makeController();
  try {
    controller->view();
    FAIL() << "no assertion failure";
  } catch (const plat::NSException& e) {
    EXPECT_EQ(e.reason(), "ERROR: config.xml not found in the main bundle!");
  }
}

}  // namespace
}  // namespace harbor::testing
