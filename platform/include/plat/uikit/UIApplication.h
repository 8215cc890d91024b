#pragma once
// The application object. For now: background tasks, the promise an application makes to the
// system that it is finishing work after it left the foreground. Lifecycle and URL opening
// will join this class.
//
// Background tasks may be begun and ended from any thread. When the system runs out of
// patience it calls the task's expiration handler on the main thread; tests stand in for the
// system with expireBackgroundTasks.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "plat/foundation/Object.h"

namespace plat {

using UIBackgroundTaskIdentifier = std::uint64_t;
inline constexpr UIBackgroundTaskIdentifier UIBackgroundTaskInvalid = 0;

class UIApplication;
using UIApplicationPtr = std::shared_ptr<UIApplication>;

class UIApplication : public Object {
 public:
  static UIApplicationPtr sharedApplication();
  // Tests: a fresh application object (running tasks are forgotten).
  static void resetSharedApplication();

  // A new identifier, never UIBackgroundTaskInvalid.
  UIBackgroundTaskIdentifier beginBackgroundTaskWithExpirationHandler(std::function<void()> handler);
  // Ends the task; ending an unknown, ended or invalid identifier does nothing.
  void endBackgroundTask(UIBackgroundTaskIdentifier identifier);

  // Test surface.
  std::size_t backgroundTaskCount();
  // Calls the expiration handler of every task running now, oldest first, on the calling
  // thread. Tasks stay running until ended. Returns how many handlers ran.
  std::size_t expireBackgroundTasks();

 private:
  std::mutex mutex_;
  UIBackgroundTaskIdentifier nextIdentifier_ = 1;
  std::map<UIBackgroundTaskIdentifier, std::function<void()>> tasks_;
};

}  // namespace plat
