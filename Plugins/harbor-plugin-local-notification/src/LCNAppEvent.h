#pragma once
// Application events a plugin must hear that the container turns into no notification of its
// own: the user's answer to a settings request and the arrival of a local notification.
//
// installAppEventHooks fills the container's hook slots once at start-up:
//   - the application delegate posts, before its own handling of the callback,
//       "UIApplicationRegisterUserNotificationSettings" (object: the settings) and
//       "HBRLocalNotification" (object: the notification), synchronously on the main thread;
//   - every plugin object marked with LCNAppEventDelegate, after its own pluginInitialize,
//     observes those two notifications and the application's did-finish-launching, each only
//     when it implements the matching handler interface below. Every such object runs its own
//     start work and then observes, however many containers the process has.
#include "HBRPlugin.h"
#include "plat/foundation/NSNotificationCenter.h"

namespace harbor {

inline constexpr char kUIApplicationRegisterUserNotificationSettings[] = "UIApplicationRegisterUserNotificationSettings";

// Marks a plugin class that hears the events above.
class LCNAppEventDelegate {
 public:
  virtual ~LCNAppEventDelegate() = default;
};

// The handlers a marked plugin may implement; each is called on the posting (main) thread.
class LCNLocalNotificationHandler {
 public:
  virtual ~LCNLocalNotificationHandler() = default;
  virtual void didReceiveLocalNotification(const plat::NSNotification& notification) = 0;
};
class LCNLaunchHandler {
 public:
  virtual ~LCNLaunchHandler() = default;
  virtual void didFinishLaunchingWithOptions(const plat::NSNotification& notification) = 0;
};
class LCNUserNotificationSettingsHandler {
 public:
  virtual ~LCNUserNotificationSettingsHandler() = default;
  virtual void didRegisterUserNotificationSettings(const plat::NSNotification& notification) = 0;
};

// Idempotent.
void installAppEventHooks();

// The start work the hook adds to a marked plugin: the observations above. Public for tests.
void observeAppEvents(HBRPlugin& plugin);

}  // namespace harbor
