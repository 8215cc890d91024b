#include "HBRAppDelegate.h"

#include "HBRPlugin.h"
#include "plat/foundation/NSHTTPCookieStorage.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSURLCache.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIScreen.h"

namespace harbor {

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
