// The container view controller and the application's life: page events, the pasteboard on
// return, termination, memory warnings, orientation, teardown; and the application delegate base.
#include <gtest/gtest.h>
#include <unistd.h>

#include "HBRAppDelegate.h"
#include "ViewControllerFixture.h"
#include "plat/foundation/NSHTTPCookieStorage.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURLCache.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIPasteboard.h"
#include "plat/uikit/UIScreen.h"

namespace harbor::testing {
namespace {

std::string eventScript(const std::string& call) {
  return "try{harbor.require('harbor/exec').nativeEvalAndFetch(function(){" + call +
         "})}catch(e){console.log('exeption nativeEvalAndFetch : '+e);};";
}

const std::string kResign = eventScript("harbor.fireDocumentEvent('resign');");
const std::string kPause = eventScript("harbor.fireDocumentEvent('pause', null, true);");
const std::string kResume = eventScript("harbor.fireDocumentEvent('resume');");
const std::string kActive = eventScript("harbor.fireDocumentEvent('active');");

class LifecycleTest : public ViewControllerTest {
 protected:
  void SetUp() override {
    ViewControllerTest::SetUp();
    plat::UIPasteboard::resetGeneralPasteboard();
  }
  void TearDown() override {
    plat::UIPasteboard::resetGeneralPasteboard();
    plat::NSURLCache::setSharedURLCache(nullptr);
    ViewControllerTest::TearDown();
  }
};

// The scripts the engine evaluated, without the questions whether the page has the bridge.
std::vector<std::string> eventScripts(const RecordingWebViewEngine& engine) {
  std::vector<std::string> out;
  for (const std::string& script : engine.scripts)
    if (script != kHBRPageHasBridgeScript) out.push_back(script);
  return out;
}

TEST_F(LifecycleTest, ResignAndPauseFireAtOnceResumeAndActiveOnTheNextTurn) {
  auto controller = start("");
  auto engine = engineOf(controller);
  engine->answers[kHBRPageHasBridgeScript] = "true";
  engine->scripts.clear();
  auto app = plat::UIApplication::sharedApplication();

  app->resignActive();
  EXPECT_EQ(eventScripts(*engine), std::vector<std::string>{kResign});
  app->enterBackground();
  EXPECT_EQ(eventScripts(*engine), (std::vector<std::string>{kResign, kPause}));
  app->enterForeground();
  app->becomeActive();
  EXPECT_EQ(eventScripts(*engine).size(), 2u) << "resume and active wait for the run loop";
  runUntilIdle();
  EXPECT_EQ(eventScripts(*engine), (std::vector<std::string>{kResign, kPause, kResume, kActive}));
}

TEST_F(LifecycleTest, APageWithoutTheBridgeHearsNoEvents) {
  auto controller = start("");
  auto engine = engineOf(controller);
  engine->scripts.clear();
  auto app = plat::UIApplication::sharedApplication();
  for (auto answer : {plat::Value(), plat::Value("false"), plat::Value(true)}) {
    engine->answers[kHBRPageHasBridgeScript] = answer;
    app->resignActive();
    app->enterBackground();
    app->enterForeground();
    app->becomeActive();
    runUntilIdle();
    EXPECT_EQ(eventScripts(*engine), std::vector<std::string>{}) << answer.description();
    EXPECT_EQ(engine->scripts.size() % 4, 0u) << "each event asks first";
  }
}

TEST_F(LifecycleTest, ComingBackRestoresAPasteboardStringAsPlainText) {
  auto controller = start("");
  auto pasteboard = plat::UIPasteboard::generalPasteboard();
  auto app = plat::UIApplication::sharedApplication();

  auto before = pasteboard->changeCount();
  app->enterForeground();
  EXPECT_EQ(pasteboard->changeCount(), before) << "an empty pasteboard is left alone";
  EXPECT_EQ(pasteboard->numberOfItems(), 0u);

  pasteboard->setItems({plat::Dictionary{{"public.png", plat::Data{1, 2}}}});
  before = pasteboard->changeCount();
  app->enterForeground();
  EXPECT_EQ(pasteboard->changeCount(), before) << "no string, nothing stored";

  pasteboard->setString("copied text");
  app->enterForeground();
  ASSERT_EQ(pasteboard->numberOfItems(), 1u);
  EXPECT_EQ(pasteboard->items()[0], (plat::Dictionary{{"public.text", "copied text"}}));
}

TEST_F(LifecycleTest, TerminationEmptiesTheTemporaryFolder) {
  auto controller = start("");
  std::string tmp = plat::NSTemporaryDirectory();
  writeFile(tmp + "a.txt", "a");
  writeFile(tmp + ".hidden", "h");
  writeFile(tmp + "deep/er/still/file.bin", "x");
  writeFile(tmp + "deep/er/other.txt", "y");
  writeFile(tmp + "empty/.keep", "");
  ASSERT_EQ(::symlink("/nonexistent/target", (tmp + "dangling").c_str()), 0);
  plat::UIApplication::sharedApplication()->terminate();

  auto left = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(tmp);
  ASSERT_TRUE(left) << "the folder itself stays";
  EXPECT_TRUE(left->empty());
  EXPECT_FALSE(log_->contains("Failed to delete"));
}

// Refuses to remove one chosen path.
class StubbornFileManager : public plat::NSFileManager {
 public:
  std::string refused;
  std::vector<std::string> removed;
  bool removeItemAtPath(const std::string& path, plat::NSError* error) override {
    if (path == refused) {
      if (error) *error = plat::NSError{plat::NSCocoaErrorDomain, plat::NSFileWriteNoPermissionError, "busy", {}};
      return false;
    }
    removed.push_back(path);
    return plat::NSFileManager::removeItemAtPath(path, error);
  }
};

TEST_F(LifecycleTest, AFailedRemovalIsLoggedAndTheWalkGoesOn) {
  std::string folder = inHome("tmp/walk");
  writeFile(folder + "/a.txt", "a");
  writeFile(folder + "/b/c.txt", "c");
  writeFile(folder + "/d.txt", "d");
  StubbornFileManager files;
  files.refused = folder + "/b";
  HBRViewController::removeContentsOfDirectory(files, folder);
  EXPECT_EQ(files.removed, (std::vector<std::string>{folder + "/a.txt", folder + "/b/c.txt", folder + "/d.txt"}))
      << "the contents of a folder that would not go are still removed";
  EXPECT_EQ(log_->lines(), std::vector<std::string>{"Failed to delete: " + folder +
                                                    "/b (error: Error Domain=NSCocoaErrorDomain Code=513 \"busy\")"});
  EXPECT_FALSE(exists(folder + "/a.txt"));
  EXPECT_TRUE(exists(folder + "/b"));
  // A folder that is not there is nothing to do.
  log_->clear();
  HBRViewController::removeContentsOfDirectory(files, folder + "/nope");
  EXPECT_TRUE(log_->lines().empty());
}

TEST_F(LifecycleTest, AMemoryWarningWithAPendingOperationSkipsThePurge) {
  auto delegate = std::make_shared<HBRAppDelegate>();
  delegate->init();
  writeConfig("<feature name=\"Camera\"><param name=\"ios-package\" value=\"CountingPlugin\" onload=\"true\"/></feature>");
  auto app = plat::UIApplication::sharedApplication();
  app->launchWithDelegate(delegate);
  auto controller = delegate->viewController();
  auto camera = std::dynamic_pointer_cast<HBRPlugin>(controller->getCommandInstance("Camera"));
  ASSERT_TRUE(camera);

  auto cache = plat::NSURLCache::sharedURLCache();
  auto request = plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString("https://example.org/"));
  cache->storeCachedResponse(plat::Data{1, 2, 3}, *request);

  camera->setHasPendingOperation(true);
  log_->clear();
  app->receiveMemoryWarning();
  EXPECT_EQ(log_->lines(), std::vector<std::string>{"Plugin 'CountingPlugin' has a pending operation, memory purge "
                                                    "is delayed for didReceiveMemoryWarning."});
  EXPECT_FALSE(cache->cachedResponseForRequest(*request)) << "the application delegate empties the URL cache";

  camera->setHasPendingOperation(false);
  log_->clear();
  app->receiveMemoryWarning();
  EXPECT_TRUE(log_->lines().empty());
  plat::UIApplication::resetSharedApplication();
}

TEST_F(LifecycleTest, OrientationTables) {
  using plat::Array;
  using plat::Value;
  struct Case {
    const char* name;
    Value names;
    std::vector<long> values;
    unsigned long mask;
  };
  std::vector<Case> cases = {
      {"absent", Value(), {1}, 2},
      {"empty", Value(Array{}), {1}, 2},
      {"landscape left only", Value(Array{"UIInterfaceOrientationLandscapeLeft"}), {4}, 16},
      {"landscape right only", Value(Array{"UIInterfaceOrientationLandscapeRight"}), {3}, 8},
      {"all, in the order given",
       Value(Array{"UIInterfaceOrientationLandscapeRight", "UIInterfaceOrientationPortraitUpsideDown",
                   "UIInterfaceOrientationPortrait", "UIInterfaceOrientationLandscapeLeft"}),
       {3, 2, 1, 4},
       30},
      {"unknown names skipped", Value(Array{"UIInterfaceOrientationSideways", 3, "UIInterfaceOrientationPortraitUpsideDown"}),
       {2},
       4},
      {"nothing known", Value(Array{"portrait"}), {1}, 2},
      {"not an array", Value("UIInterfaceOrientationLandscapeLeft"), {1}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HBRViewController::parseInterfaceOrientations(c.names), c.values);
    plat::Dictionary info{{"CFBundleIdentifier", kBundleIdentifier}};
    if (!c.names.isAbsent()) info.set("UISupportedInterfaceOrientations", c.names);
    writeInfoPlist(info);
    auto controller = makeController();
    EXPECT_EQ(controller->supportedOrientations(), c.values);
    EXPECT_EQ(controller->supportedInterfaceOrientations(), c.mask);
    for (long o = 1; o <= 4; ++o) {
      auto orientation = static_cast<plat::UIInterfaceOrientation>(o);
      EXPECT_EQ(controller->shouldAutorotateToInterfaceOrientation(orientation), (c.mask >> o) & 1u) << o;
    }
  }
}

TEST_F(LifecycleTest, AutorotationIsOnUnlessAHookTakesOver) {
  auto controller = makeController();
  EXPECT_TRUE(controller->shouldAutorotate());
  controller->setShouldAutorotateHook([] { return false; });
  EXPECT_FALSE(controller->shouldAutorotate());
  EXPECT_TRUE(controller->shouldAutorotateDefaultValue());
  controller->setShouldAutorotateHook(nullptr);
  EXPECT_TRUE(controller->shouldAutorotate());
}

TEST_F(LifecycleTest, AppURLSchemeIsTheFirstSchemeOfTheFirstType) {
  using plat::Array;
  using plat::Dictionary;
  using plat::Value;
  struct Case {
    Value types;
    std::optional<std::string> scheme;
  };
  std::vector<Case> cases = {
      {Value(), std::nullopt},
      {Value(Array{Dictionary{{"CFBundleURLSchemes", Array{"hello", "other"}}},
                   Dictionary{{"CFBundleURLSchemes", Array{"third"}}}}),
       "hello"},
      {Value(Array{Dictionary{{"CFBundleURLName", "x"}}, Dictionary{{"CFBundleURLSchemes", Array{"second"}}}}),
       std::nullopt},
      {Value("hello"), std::nullopt},
      {Value(Array{Dictionary{{"CFBundleURLSchemes", Array{7}}}}), std::nullopt},
  };
  for (const Case& c : cases) {
    Dictionary info{{"CFBundleIdentifier", kBundleIdentifier}};
    if (!c.types.isAbsent()) info.set("CFBundleURLTypes", c.types);
    writeInfoPlist(info);
    EXPECT_EQ(HBRViewController::appURLScheme(), c.scheme) << c.types.description();
  }
}

TEST_F(LifecycleTest, TeardownStopsObservingGivesBackTheLockAndDisposesPlugins) {
  std::vector<std::string> journal;
  CountingPlugin::journal = &journal;
  auto controller = start("<feature name=\"Counter\"><param name=\"ios-package\" value=\"CountingPlugin\"/></feature>");
  auto plugin = std::dynamic_pointer_cast<HBRPlugin>(controller->getCommandInstance("Counter"));
  ASSERT_TRUE(plugin);
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 1) << "the page is still loading";
  auto observers = plat::NSNotificationCenter::defaultCenter().observerCount();
  std::weak_ptr<HBRViewController> weak = controller;
  auto queue = controller->commandQueue();

  controller.reset();
  controllers.clear();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(journal, (std::vector<std::string>{"pluginInitialize", "dispose"}));
  EXPECT_EQ(plugin->commandDelegate(), nullptr);
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0) << "a load in flight does not keep the lock";
  EXPECT_LT(plat::NSNotificationCenter::defaultCenter().observerCount(), observers);
  // Nothing hears the application any more; nothing breaks either.
  auto app = plat::UIApplication::sharedApplication();
  app->resignActive();
  app->enterForeground();
  runUntilIdle();
}

TEST_F(LifecycleTest, UnloadingTheViewGivesBackTheLock) {
  auto controller = start("");
  EXPECT_EQ(*controller->userAgentLockToken(), 1);
  controller->viewDidUnload();
  EXPECT_EQ(*controller->userAgentLockToken(), 0);
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
}

// ---- The application delegate base ----

TEST_F(LifecycleTest, TheAppDelegateAcceptsCookiesAndInstallsTheURLCache) {
  auto& cookies = plat::NSHTTPCookieStorage::sharedHTTPCookieStorage();
  cookies.setCookieAcceptPolicy(plat::NSHTTPCookieAcceptPolicy::Never);
  auto delegate = std::make_shared<HBRAppDelegate>();
  delegate->init();
  EXPECT_EQ(cookies.cookieAcceptPolicy(), plat::NSHTTPCookieAcceptPolicy::Always);
  auto cache = plat::NSURLCache::sharedURLCache();
  EXPECT_EQ(cache->memoryCapacity(), 8388608u);
  EXPECT_EQ(cache->diskCapacity(), 33554432u);
  EXPECT_EQ(cache->diskPath(), "nsurlcache");
  cookies.setCookieAcceptPolicy(plat::NSHTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain);
}

TEST_F(LifecycleTest, LaunchingShowsTheContainerInAWindowOverTheScreen) {
  writeConfig("");
  auto delegate = std::make_shared<HBRAppDelegate>();
  delegate->init();
  auto app = plat::UIApplication::sharedApplication();
  EXPECT_TRUE(app->launchWithDelegate(delegate));
  auto window = delegate->window();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->frame(), plat::UIScreen::mainScreen().bounds());
  EXPECT_TRUE(window->isKeyWindow());
  auto controller = delegate->viewController();
  ASSERT_TRUE(controller) << "a plain container when none was set";
  EXPECT_EQ(window->rootViewController(), controller);
  EXPECT_TRUE(controller->isViewLoaded());
  EXPECT_EQ(loadedURL(controller), bundleFileURL("www/index.html"));
  EXPECT_EQ(delegate->applicationSupportedInterfaceOrientationsForWindow(app, window), 30u);
  plat::UIApplication::resetSharedApplication();
}

// Notes the URLs it is handed.
class URLPlugin : public HBRPlugin {
 public:
  std::vector<std::string> urls;
  void handleOpenURL(const plat::NSNotification& n) override {
    auto url = std::dynamic_pointer_cast<plat::NSURL>(n.object);
    urls.push_back(url ? url->absoluteString() : "<not a URL>");
  }
};

TEST_F(LifecycleTest, OpenedURLsReachEveryPluginBeforeTheDelegateAnswers) {
  auto controller = start("");
  auto plugin = std::make_shared<URLPlugin>();
  plugin->initWithWebViewEngine(controller->webViewEngine());
  controller->registerPluginWithPluginName(plugin, "Urls");
  auto delegate = std::make_shared<HBRAppDelegate>();
  auto app = plat::UIApplication::sharedApplication();
  app->setDelegate(delegate);

  EXPECT_FALSE(app->deliverOpenURL(nullptr));
  EXPECT_TRUE(plugin->urls.empty()) << "no URL, no notification";
  EXPECT_TRUE(app->deliverOpenURL(plat::NSURL::URLWithString("hello://login?code=1"), std::string("org.other")));
  EXPECT_EQ(plugin->urls, std::vector<std::string>{"hello://login?code=1"});
  plat::UIApplication::resetSharedApplication();
}

}  // namespace
}  // namespace harbor::testing
