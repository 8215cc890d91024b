#pragma once
// What the application asks of its delegate. Every part is optional: the defaults behave as a
// delegate that does not implement the handler (nothing happens, an open URL is refused, the
// orientations come from Info.plist). All calls come on the main thread.
#include <memory>
#include <optional>
#include <string>

#include "plat/foundation/NSURL.h"
#include "plat/foundation/Value.h"
#include "plat/uikit/UILocalNotification.h"

namespace plat {

class UIApplication;
class UIWindow;
using UIApplicationPtr = std::shared_ptr<UIApplication>;

class UIApplicationDelegate {
 public:
  virtual ~UIApplicationDelegate() = default;

  // The second creation step that UIApplicationMain runs once the class registry made the
  // object.
  virtual void init() {}

  virtual bool applicationDidFinishLaunchingWithOptions(const UIApplicationPtr& application,
                                                        const Dictionary& launchOptions) {
    return true;
  }
  virtual void applicationWillResignActive(const UIApplicationPtr& application) {}
  virtual void applicationDidEnterBackground(const UIApplicationPtr& application) {}
  virtual void applicationWillEnterForeground(const UIApplicationPtr& application) {}
  virtual void applicationDidBecomeActive(const UIApplicationPtr& application) {}
  virtual void applicationWillTerminate(const UIApplicationPtr& application) {}
  virtual void applicationDidReceiveMemoryWarning(const UIApplicationPtr& application) {}

  // Another application opened a URL of ours. True when the URL was handled.
  virtual bool applicationOpenURLSourceApplicationAnnotation(const UIApplicationPtr& application, const NSURLPtr& url,
                                                             const std::optional<std::string>& sourceApplication,
                                                             const Value& annotation) {
    return false;
  }
  // The user answered a request for notification settings: what notifications may now do.
  virtual void applicationDidRegisterUserNotificationSettings(const UIApplicationPtr& application,
                                                             const UIUserNotificationSettingsPtr& settings) {}
  // A local notification fired while the application was active, or the user opened one while
  // it ran.
  virtual void applicationDidReceiveLocalNotification(const UIApplicationPtr& application,
                                                      const UILocalNotificationPtr& notification) {}
  // A UIInterfaceOrientationMask, or nothing to use the orientations of Info.plist.
  virtual std::optional<unsigned long> applicationSupportedInterfaceOrientationsForWindow(
      const UIApplicationPtr& application, const std::shared_ptr<UIWindow>& window) {
    return std::nullopt;
  }

  // The application's main window, when the delegate keeps one.
  virtual std::shared_ptr<UIWindow> window() const { return nullptr; }
};

}  // namespace plat
