#include "HBRAppDelegate.h"

#include "HBRPlugin.h"
#include "plat/foundation/NSHTTPCookieStorage.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSURLCache.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIScreen.h"

namespace harbor {
namespace {
HBRAppDelegate::UserNotificationSettingsHook& settingsHook() {
  static auto* slot = new HBRAppDelegate::UserNotificationSettingsHook();
  return *slot;
}
HBRAppDelegate::LocalNotificationHook& localNotificationHook() {
  static auto* slot = new HBRAppDelegate::LocalNotificationHook();
  return *slot;
}
}  // namespace

void HBRAppDelegate::setDidRegisterUserNotificationSettingsHook(UserNotificationSettingsHook hook) {
  settingsHook() = std::move(hook);
}

void HBRAppDelegate::setDidReceiveLocalNotificationHook(LocalNotificationHook hook) {
  localNotificationHook() = std::move(hook);
}

void HBRAppDelegate::applicationDidRegisterUserNotificationSettings(const plat::UIApplicationPtr& application,
                                                                    const plat::UIUserNotificationSettingsPtr& settings) {
  if (auto hook = settingsHook()) hook(application, settings);
  didRegisterUserNotificationSettings(application, settings);
}

void HBRAppDelegate::applicationDidReceiveLocalNotification(const plat::UIApplicationPtr& application,
                                                            const plat::UILocalNotificationPtr& notification) {
  if (auto hook = localNotificationHook()) hook(application, notification);
  didReceiveLocalNotification(application, notification);
}

void HBRAppDelegate::init() {
  plat::NSHTTPCookieStorage::sharedHTTPCookieStorage().setCookieAcceptPolicy(plat::NSHTTPCookieAcceptPolicy::Always);
  auto cache = std::make_shared<plat::NSURLCache>();
  cache->initWithMemoryCapacity(kHBRURLCacheMemoryCapacity, kHBRURLCacheDiskCapacity, kHBRURLCacheDiskPath);
  plat::NSURLCache::setSharedURLCache(cache);
}

bool HBRAppDelegate::applicationDidFinishLaunchingWithOptions(const plat::UIApplicationPtr&, const plat::Dictionary&) {
  window_ = std::make_shared<plat::UIWindow>();
  window_->initWithFrame(plat::UIScreen::mainScreen().bounds());
  window_->setAutoresizesSubviews(true);
  if (!viewController_) {
    viewController_ = std::make_shared<HBRViewController>();
    viewController_->init();
  }
  window_->setRootViewController(viewController_);
  window_->makeKeyAndVisible();
  return true;
}

bool HBRAppDelegate::applicationOpenURLSourceApplicationAnnotation(const plat::UIApplicationPtr&,
                                                                   const plat::NSURLPtr& url,
                                                                   const std::optional<std::string>&,
                                                                   const plat::Value&) {
  if (!url) return false;
  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginHandleOpenURLNotification, url);
  return true;
}

std::optional<unsigned long> HBRAppDelegate::applicationSupportedInterfaceOrientationsForWindow(
    const plat::UIApplicationPtr&, const std::shared_ptr<plat::UIWindow>&) {
  return plat::UIInterfaceOrientationMaskAll;
}

void HBRAppDelegate::applicationDidReceiveMemoryWarning(const plat::UIApplicationPtr&) {
  plat::NSURLCache::sharedURLCache()->removeAllCachedResponses();
}

}  // namespace harbor
