// The application object: lifecycle driver and delegate, the entry point, opening URLs, memory
// warnings; and the URL cache and cookie policy that an application delegate installs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/foundation/NSHTTPCookieStorage.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSURLCache.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIWindow.h"

using namespace plat;

namespace {

// Writes every call it gets, and every application notification heard, into one journal.
std::vector<std::string>* journal = nullptr;

class RecordingDelegate : public Object, public UIApplicationDelegate {
 public:
  void init() override { note("init"); }
  bool applicationDidFinishLaunchingWithOptions(const UIApplicationPtr& app, const Dictionary&) override {
    note("didFinishLaunching state=" + std::to_string(app->applicationState()));
    return true;
  }
  void applicationWillResignActive(const UIApplicationPtr&) override { note("willResignActive"); }
  void applicationDidEnterBackground(const UIApplicationPtr&) override { note("didEnterBackground"); }
  void applicationWillEnterForeground(const UIApplicationPtr&) override { note("willEnterForeground"); }
  void applicationDidBecomeActive(const UIApplicationPtr&) override { note("didBecomeActive"); }
  void applicationWillTerminate(const UIApplicationPtr&) override { note("willTerminate"); }
  void applicationDidReceiveMemoryWarning(const UIApplicationPtr&) override { note("memoryWarning"); }
  bool applicationOpenURLSourceApplicationAnnotation(const UIApplicationPtr&, const NSURLPtr& url,
                                                     const std::optional<std::string>& source,
                                                     const Value&) override {
    note("openURL " + (url ? url->absoluteString() : "-") + " from " + source.value_or("-"));
    return url != nullptr;
  }
  std::shared_ptr<UIWindow> window() const override { return window_; }
  ~RecordingDelegate() override { note("delegate destroyed"); }

  std::shared_ptr<UIWindow> window_;

 private:
  static void note(const std::string& line) {
    if (journal) journal->push_back(line);
  }
};

class RecordingController : public UIViewController {
 public:
  void didReceiveMemoryWarning() override {
    if (journal) journal->push_back("controller memoryWarning");
  }
};

class ApplicationTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    journal = &lines;
    observer = std::make_shared<int>(0);
    for (const char* name :
         {UIApplicationDidFinishLaunchingNotification, UIApplicationWillResignActiveNotification,
          UIApplicationDidEnterBackgroundNotification, UIApplicationWillEnterForegroundNotification,
          UIApplicationDidBecomeActiveNotification, UIApplicationWillTerminateNotification,
          UIApplicationDidReceiveMemoryWarningNotification}) {
      NSNotificationCenter::defaultCenter().addObserver(observer, name, nullptr, [this](const NSNotification& n) {
        lines.push_back("post " + n.name);
      });
    }
  }
  void TearDown() override {
    UIApplication::resetSharedApplication();
    ClassRegistry::shared().unregisterClass("RecordingDelegate");
    journal = nullptr;
    SandboxTest::TearDown();
  }

  std::vector<std::string> lines;
  std::shared_ptr<int> observer;
};

TEST_F(ApplicationTest, LifecycleCallsTheDelegateThenPostsInOrder) {
  auto app = UIApplication::sharedApplication();
  EXPECT_EQ(app->applicationState(), UIApplicationStateInactive);
  auto delegate = std::make_shared<RecordingDelegate>();
  EXPECT_TRUE(app->launchWithDelegate(delegate));
  EXPECT_EQ(app->applicationState(), UIApplicationStateActive);

  struct Step {
    void (UIApplication::*drive)();
    UIApplicationState after;
  };
  for (Step step : {Step{&UIApplication::resignActive, UIApplicationStateInactive},
                    Step{&UIApplication::enterBackground, UIApplicationStateBackground},
                    Step{&UIApplication::enterForeground, UIApplicationStateInactive},
                    Step{&UIApplication::becomeActive, UIApplicationStateActive}}) {
    ((*app).*step.drive)();
    EXPECT_EQ(app->applicationState(), step.after);
  }
  app->terminate();
  app->terminate();  // once only
  EXPECT_TRUE(app->isTerminated());

  std::vector<std::string> expected = {
      "didFinishLaunching state=1",
      "post UIApplicationDidFinishLaunchingNotification",
      "didBecomeActive",
      "post UIApplicationDidBecomeActiveNotification",
      "willResignActive",
      "post UIApplicationWillResignActiveNotification",
      "didEnterBackground",
      "post UIApplicationDidEnterBackgroundNotification",
      "willEnterForeground",
      "post UIApplicationWillEnterForegroundNotification",
      "didBecomeActive",
      "post UIApplicationDidBecomeActiveNotification",
      "willTerminate",
      "post UIApplicationWillTerminateNotification",
  };
  EXPECT_EQ(lines, expected);
}

TEST_F(ApplicationTest, MainCreatesTheDelegateByNameRunsUntilTerminatedAndTearsItDownFirst) {
  ClassRegistry::shared().registerClass<RecordingDelegate>("RecordingDelegate");
  RunLoop::main().post([] { UIApplication::sharedApplication()->terminate(); });
  int result = UIApplicationMain(0, nullptr, std::nullopt, std::string("RecordingDelegate"));
  EXPECT_EQ(result, 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "init");
  // The delegate is gone when the entry point returns; the application still stands.
  EXPECT_EQ(lines.back(), "delegate destroyed");
  EXPECT_EQ(lines[lines.size() - 2], "post UIApplicationWillTerminateNotification");
  EXPECT_EQ(UIApplication::sharedApplication()->delegate(), nullptr);
}

TEST_F(ApplicationTest, BackgroundWorkBegunAtTerminationFinishesBeforeMainReturns) {
  // A backup begun at termination on a worker thread, whose end comes back through the main loop.
  auto application = UIApplication::sharedApplication();
  bool finished = false, expired = false;
  NSNotificationCenter::defaultCenter().addObserver(
      application, "UIApplicationWillTerminateNotification", nullptr, [&](const NSNotification&) {
        auto task = std::make_shared<UIBackgroundTaskIdentifier>();
        *task = application->beginBackgroundTaskWithExpirationHandler([&] { expired = true; });
        dispatch::GlobalQueue::shared().async([&, task, application] {
          RunLoop::main().post([&, task, application] {
            finished = true;
            application->endBackgroundTask(*task);
          });
        });
      });
  RunLoop::main().post([application] { application->terminate(); });
  EXPECT_EQ(UIApplicationMain(0, nullptr, std::nullopt, std::nullopt), 0);
  EXPECT_TRUE(finished);
  EXPECT_FALSE(expired);
  EXPECT_EQ(application->backgroundTaskCount(), 0u);

  // A task that never ends on its own is expired once the grace is over.
  auto stuck = application->beginBackgroundTaskWithExpirationHandler([&] { expired = true; });
  EXPECT_EQ(application->finishBackgroundTasks(0), 1u);
  EXPECT_TRUE(expired);
  application->endBackgroundTask(stuck);
}

TEST_F(ApplicationTest, MainRefusesUnknownClasses) {
  EXPECT_EQ(UIApplicationMain(0, nullptr, std::nullopt, std::string("NoSuchDelegate")), 1);
  EXPECT_TRUE(log_->contains("no application delegate class named NoSuchDelegate"));
  EXPECT_EQ(UIApplicationMain(0, nullptr, std::string("NoSuchApplication"), std::nullopt), 1);
  EXPECT_TRUE(lines.empty());
}

TEST_F(ApplicationTest, OpenURLIsDeliveredToTheDelegate) {
  auto app = UIApplication::sharedApplication();
  EXPECT_FALSE(app->deliverOpenURL(NSURL::URLWithString("hello://x")));  // no delegate yet
  app->setDelegate(std::make_shared<RecordingDelegate>());
  EXPECT_TRUE(app->deliverOpenURL(NSURL::URLWithString("hello://x?y=1"), std::string("com.example.other")));
  EXPECT_FALSE(app->deliverOpenURL(nullptr));
  EXPECT_EQ(lines, (std::vector<std::string>{"openURL hello://x?y=1 from com.example.other", "openURL - from -"}));
}

TEST_F(ApplicationTest, OpeningURLsIsRecordedAndAnsweredByScheme) {
  auto app = UIApplication::sharedApplication();
  std::vector<std::string> seen;
  app->setURLRequestObserver([&](const UIApplication::URLRequestRecord& r) {
    seen.push_back(std::string(r.kind == UIApplication::URLRequestRecord::Kind::Open ? "open " : "can ") +
                   (r.url ? r.url->absoluteString() : "-") + (r.answer ? " yes" : " no"));
  });
  EXPECT_TRUE(app->openURL(NSURL::URLWithString("HTTPS://example.org/")));
  EXPECT_FALSE(app->canOpenURL(NSURL::URLWithString("parrot://login")));
  app->setOpenableSchemes({"Parrot"});
  EXPECT_TRUE(app->canOpenURL(NSURL::URLWithString("parrot://login")));
  EXPECT_FALSE(app->openURL(NSURL::URLWithString("https://example.org/")));
  EXPECT_FALSE(app->openURL(nullptr));
  EXPECT_EQ(seen, (std::vector<std::string>{"open HTTPS://example.org/ yes", "can parrot://login no",
                                            "can parrot://login yes", "open https://example.org/ no",
                                            "open - no"}));
  EXPECT_EQ(app->urlRequests().size(), 5u);
}

TEST_F(ApplicationTest, MemoryWarningReachesDelegateNotificationAndControllers) {
  auto delegate = std::make_shared<RecordingDelegate>();
  delegate->window_ = std::make_shared<UIWindow>();
  auto root = std::make_shared<RecordingController>();
  delegate->window_->setRootViewController(root);
  auto app = UIApplication::sharedApplication();
  app->setDelegate(delegate);
  app->receiveMemoryWarning();
  EXPECT_EQ(lines, (std::vector<std::string>{"memoryWarning", "post UIApplicationDidReceiveMemoryWarningNotification",
                                             "controller memoryWarning"}));
  app->setNetworkActivityIndicatorVisible(true);
  EXPECT_TRUE(app->isNetworkActivityIndicatorVisible());
}

TEST_F(ApplicationTest, URLCacheKeepsWithinItsCapacityAndEmpties) {
  auto cache = std::make_shared<NSURLCache>();
  cache->initWithMemoryCapacity(10, 100, "nsurlcache");
  auto request = [](const char* url) { return NSURLRequest::requestWithURL(NSURL::URLWithString(url)); };
  cache->storeCachedResponse(Data(4, 'a'), *request("http://a/"));
  cache->storeCachedResponse(Data(4, 'b'), *request("http://b/"));
  cache->storeCachedResponse(Data(11, 'x'), *request("http://big/"));  // larger than the cache
  EXPECT_FALSE(cache->cachedResponseForRequest(*request("http://big/")));
  cache->storeCachedResponse(Data(4, 'c'), *request("http://c/"));  // the oldest makes room
  EXPECT_FALSE(cache->cachedResponseForRequest(*request("http://a/")));
  EXPECT_EQ(cache->cachedResponseForRequest(*request("http://b/")), Data(4, 'b'));
  EXPECT_EQ(cache->currentMemoryUsage(), 8u);
  cache->removeAllCachedResponses();
  EXPECT_EQ(cache->currentMemoryUsage(), 0u);
  EXPECT_FALSE(cache->cachedResponseForRequest(*request("http://c/")));
  EXPECT_EQ(cache->resolvedDiskPath(), inHome("Library/Caches/org.harbor.tests/nsurlcache"));

  NSURLCache::setSharedURLCache(cache);
  EXPECT_EQ(NSURLCache::sharedURLCache(), cache);
  NSURLCache::setSharedURLCache(nullptr);
  EXPECT_NE(NSURLCache::sharedURLCache(), cache);
}

TEST_F(ApplicationTest, CookiePolicyIsShared) {
  auto& storage = NSHTTPCookieStorage::sharedHTTPCookieStorage();
  auto before = storage.cookieAcceptPolicy();
  storage.setCookieAcceptPolicy(NSHTTPCookieAcceptPolicy::Always);
  EXPECT_EQ(NSHTTPCookieStorage::sharedHTTPCookieStorage().cookieAcceptPolicy(), NSHTTPCookieAcceptPolicy::Always);
  storage.setCookieAcceptPolicy(before);
}

}  // namespace
