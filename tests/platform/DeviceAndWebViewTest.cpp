#include <gtest/gtest.h>

#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIWebView.h"

using namespace plat;

class DeviceTest : public plat::testing::SandboxTest {};

TEST_F(DeviceTest, DeviceFactsAreSettableAndReset) {
  auto device = UIDevice::currentDevice();
  EXPECT_EQ(device->model(), "iPhone");
  EXPECT_EQ(device->systemName(), "iOS");
  EXPECT_EQ(device->systemVersion(), "9.3");
  EXPECT_TRUE(device->isMultitaskingSupported());
  device->setSystemVersion("7.1");
  device->setModel("iPad");
  EXPECT_EQ(UIDevice::currentDevice()->systemVersion(), "7.1");
  UIDevice::resetCurrentDevice();
  EXPECT_EQ(UIDevice::currentDevice()->model(), "iPhone");
}

TEST_F(DeviceTest, ALocaleChangeIsAnnouncedOnce) {
  int heard = 0;
  auto observer = std::make_shared<int>(0);
  NSNotificationCenter::defaultCenter().addObserver(observer, NSCurrentLocaleDidChangeNotification, nullptr,
                                                    [&](const NSNotification&) { ++heard; });
  NSLocale::setCurrentLocaleIdentifier("zh_Hans_CN");
  NSLocale::setCurrentLocaleIdentifier("zh_Hans_CN");
  EXPECT_EQ(heard, 1);
  auto locale = NSLocale::currentLocale();
  EXPECT_EQ(locale->localeIdentifier(), "zh_Hans_CN");
  EXPECT_EQ(locale->languageCode(), "zh");
  EXPECT_EQ(locale->countryCode(), "CN");
  EXPECT_EQ(NSLocale::localeWithLocaleIdentifier("en")->countryCode(), "");
  EXPECT_EQ(NSLocale::preferredLanguages(), std::vector<std::string>{"zh"});
}

TEST_F(DeviceTest, BackgroundTasksEndOnceAndExpireOnRequest) {
  auto app = UIApplication::sharedApplication();
  int expired = 0;
  auto first = app->beginBackgroundTaskWithExpirationHandler([&] { ++expired; });
  auto second = app->beginBackgroundTaskWithExpirationHandler(nullptr);
  EXPECT_NE(first, UIBackgroundTaskInvalid);
  EXPECT_NE(first, second);
  EXPECT_EQ(app->backgroundTaskCount(), 2u);
  EXPECT_EQ(app->expireBackgroundTasks(), 2u);
  EXPECT_EQ(expired, 1);
  app->endBackgroundTask(first);
  app->endBackgroundTask(first);
  app->endBackgroundTask(UIBackgroundTaskInvalid);
  EXPECT_EQ(app->backgroundTaskCount(), 1u);
  EXPECT_EQ(app->expireBackgroundTasks(), 1u);
  EXPECT_EQ(expired, 1);
  // Ending from the handler itself, as the platform's users do.
  UIBackgroundTaskIdentifier self = UIBackgroundTaskInvalid;
  self = app->beginBackgroundTaskWithExpirationHandler([&] { app->endBackgroundTask(self); });
  app->expireBackgroundTasks();
  EXPECT_EQ(app->backgroundTaskCount(), 1u);
}

TEST_F(DeviceTest, WebViewsAnswerTheirUserAgentSynchronously) {
  auto view = std::make_shared<UIWebView>();
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("navigator.userAgent"), "") << "not initialised";
  view->init();
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("navigator.userAgent"), UIWebView::kBuiltInUserAgent);
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("1 + 2"), "3");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("throw new Error('x')"), "");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("undefined"), "");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("(((("), "");

  NSUserDefaults::standardUserDefaults()->registerDefaults(Dictionary{{"UserAgent", "Custom/1.0"}});
  EXPECT_EQ(UIWebView::defaultUserAgent(), "Custom/1.0");
  auto later = std::make_shared<UIWebView>();
  later->init();
  EXPECT_EQ(later->stringByEvaluatingJavaScriptFromString("navigator.userAgent"), "Custom/1.0");
  EXPECT_EQ(view->userAgent(), UIWebView::kBuiltInUserAgent) << "a view keeps the agent it was made with";
}
