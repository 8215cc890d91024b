#pragma once
// The application delegate of a Harbor application: it accepts all cookies, installs the URL
// cache, creates the window with the container view controller as its root, and hands URLs
// that other applications open to every plugin.
//
// Applications subclass it (AppDelegate) to create their own view controller before the base
// launches. Main thread.
#include <functional>
#include <memory>

#include "HBRViewController.h"
#include "plat/foundation/Object.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIWindow.h"

namespace harbor {

inline constexpr std::uint64_t kHBRURLCacheMemoryCapacity = 8 * 1024 * 1024;
inline constexpr std::uint64_t kHBRURLCacheDiskCapacity = 32 * 1024 * 1024;
inline constexpr char kHBRURLCacheDiskPath[] = "nsurlcache";

class HBRAppDelegate : public plat::Object, public plat::UIApplicationDelegate {
 public:
  // Accepts all cookies and installs the shared URL cache (8 MiB in memory, 32 MiB on disk).
  void init() override;

  // Creates the window over the screen, a plain container view controller when none was set,
  // and shows it: the container starts here, as its view loads.
  bool applicationDidFinishLaunchingWithOptions(const plat::UIApplicationPtr& application,
                                                const plat::Dictionary& launchOptions) override;
  // Posts "HBRPluginHandleOpenURLNotification" with the URL, synchronously, so every existing
  // plugin has seen it when this returns. No URL: nothing is posted, and the answer is false.
  bool applicationOpenURLSourceApplicationAnnotation(const plat::UIApplicationPtr& application, const plat::NSURLPtr& url,
                                                     const std::optional<std::string>& sourceApplication,
                                                     const plat::Value& annotation) override;
  // All four orientations.
  std::optional<unsigned long> applicationSupportedInterfaceOrientationsForWindow(
      const plat::UIApplicationPtr& application, const std::shared_ptr<plat::UIWindow>& window) override;
  // Empties the shared URL cache.
  void applicationDidReceiveMemoryWarning(const plat::UIApplicationPtr& application) override;

  // The two notification callbacks run their hook slot first, then the delegate's own handling
  // (didRegisterUserNotificationSettings, didReceiveLocalNotification below), once each. They
  // are final so that no subclass can run its handling ahead of the hook.
  void applicationDidRegisterUserNotificationSettings(const plat::UIApplicationPtr& application,
                                                     const plat::UIUserNotificationSettingsPtr& settings) final;
  void applicationDidReceiveLocalNotification(const plat::UIApplicationPtr& application,
                                              const plat::UILocalNotificationPtr& notification) final;

  // Hook slots, for a plugin library that must hear these callbacks, which the application
  // posts as no notification of its own (the local notification plugin posts them). Set at
  // start-up; an empty hook clears the slot. Main thread.
  using UserNotificationSettingsHook =
      std::function<void(const plat::UIApplicationPtr&, const plat::UIUserNotificationSettingsPtr&)>;
  using LocalNotificationHook = std::function<void(const plat::UIApplicationPtr&, const plat::UILocalNotificationPtr&)>;
  static void setDidRegisterUserNotificationSettingsHook(UserNotificationSettingsHook hook);
  static void setDidReceiveLocalNotificationHook(LocalNotificationHook hook);

  std::shared_ptr<plat::UIWindow> window() const override { return window_; }
  void setWindow(std::shared_ptr<plat::UIWindow> window) { window_ = std::move(window); }
  HBRViewControllerPtr viewController() const { return viewController_; }
  void setViewController(HBRViewControllerPtr controller) { viewController_ = std::move(controller); }

 protected:
  // The application's own handling of the two callbacks, after the hooks. Nothing by default.
  virtual void didRegisterUserNotificationSettings(const plat::UIApplicationPtr& application,
                                                   const plat::UIUserNotificationSettingsPtr& settings) {}
  virtual void didReceiveLocalNotification(const plat::UIApplicationPtr& application,
                                           const plat::UILocalNotificationPtr& notification) {}

 private:
  std::shared_ptr<plat::UIWindow> window_;
  HBRViewControllerPtr viewController_;
};

}  // namespace harbor
