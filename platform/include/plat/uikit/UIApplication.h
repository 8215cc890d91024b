#pragma once
// The application object: its delegate and state, the lifecycle notifications, opening URLs in
// other applications, the network activity indicator, and background tasks (the promise an
// application makes to the system that it is finishing work after it left the foreground).
//
// On a device the system drives the lifecycle; here the runner and tests do, through the
// driver operations below (launch, resign, background, foreground, active, terminate, memory
// warning, an opened URL). Each one calls the delegate's optional handler and then posts the
// matching notification, synchronously, on the calling thread, which must be the main one.
//
// Background tasks may be begun and ended from any thread. When the system runs out of
// patience it calls the task's expiration handler on the main thread; tests stand in for the
// system with expireBackgroundTasks.
//
// Local notifications may be scheduled, listed and cancelled from any thread. They are kept in
// the sandbox home (Library/LocalNotifications.json and the journal of changes beside it,
// Library/LocalNotifications.journal; each change whole or not at all) so that they outlive
// the process, and delivered on the main run loop when the platform clock passes their
// date: to the delegate at once while the application is active; otherwise they wait for the
// user to open them (openLocalNotification, or a launch with the notification as launch option).
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/KeyValueObserving.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"
#include "plat/uikit/UILocalNotification.h"
#include "plat/uikit/Geometry.h"

namespace plat {

// The URL that opens the application's page in the Settings app.
inline constexpr char UIApplicationOpenSettingsURLString[] = "app-settings:";

class LocalNotificationStore;

using UIBackgroundTaskIdentifier = std::uint64_t;
inline constexpr UIBackgroundTaskIdentifier UIBackgroundTaskInvalid = 0;

inline constexpr char UIApplicationDidFinishLaunchingNotification[] = "UIApplicationDidFinishLaunchingNotification";
inline constexpr char UIApplicationWillResignActiveNotification[] = "UIApplicationWillResignActiveNotification";
inline constexpr char UIApplicationDidEnterBackgroundNotification[] = "UIApplicationDidEnterBackgroundNotification";
inline constexpr char UIApplicationWillEnterForegroundNotification[] = "UIApplicationWillEnterForegroundNotification";
inline constexpr char UIApplicationDidBecomeActiveNotification[] = "UIApplicationDidBecomeActiveNotification";
inline constexpr char UIApplicationWillTerminateNotification[] = "UIApplicationWillTerminateNotification";
inline constexpr char UIApplicationDidReceiveMemoryWarningNotification[] =
    "UIApplicationDidReceiveMemoryWarningNotification";
inline constexpr char UIApplicationDidChangeStatusBarFrameNotification[] =
    "UIApplicationDidChangeStatusBarFrameNotification";

enum UIStatusBarStyle : long {
  UIStatusBarStyleDefault = 0,       // dark text
  UIStatusBarStyleLightContent = 1,  // light text
};
// The status bar's thickness in points.
inline constexpr double kUIStatusBarHeight = 20;

enum UIApplicationState : long {
  UIApplicationStateActive = 0,
  UIApplicationStateInactive = 1,
  UIApplicationStateBackground = 2,
};

enum UIInterfaceOrientation : long {
  UIInterfaceOrientationUnknown = 0,
  UIInterfaceOrientationPortrait = 1,
  UIInterfaceOrientationPortraitUpsideDown = 2,
  UIInterfaceOrientationLandscapeRight = 3,
  UIInterfaceOrientationLandscapeLeft = 4,
};

// One bit per orientation: 1 shifted by the orientation's value.
enum UIInterfaceOrientationMask : unsigned long {
  UIInterfaceOrientationMaskPortrait = 1UL << UIInterfaceOrientationPortrait,
  UIInterfaceOrientationMaskLandscapeLeft = 1UL << UIInterfaceOrientationLandscapeLeft,
  UIInterfaceOrientationMaskLandscapeRight = 1UL << UIInterfaceOrientationLandscapeRight,
  UIInterfaceOrientationMaskPortraitUpsideDown = 1UL << UIInterfaceOrientationPortraitUpsideDown,
  UIInterfaceOrientationMaskLandscape = UIInterfaceOrientationMaskLandscapeLeft | UIInterfaceOrientationMaskLandscapeRight,
  UIInterfaceOrientationMaskAll = UIInterfaceOrientationMaskPortrait | UIInterfaceOrientationMaskLandscape |
                                  UIInterfaceOrientationMaskPortraitUpsideDown,
  UIInterfaceOrientationMaskAllButUpsideDown = UIInterfaceOrientationMaskPortrait | UIInterfaceOrientationMaskLandscape,
};

class UIApplication;
class UIApplicationDelegate;
class UIViewController;
using UIApplicationPtr = std::shared_ptr<UIApplication>;

class UIApplication : public Object, public KeyValueObservable {
 public:
  static UIApplicationPtr sharedApplication();
  // Tests: a fresh application object (delegate, state, recordings and running tasks are
  // forgotten).
  static void resetSharedApplication();

  // The application holds its delegate strongly: UIApplicationMain creates it and nothing else
  // owns it.
  std::shared_ptr<UIApplicationDelegate> delegate() const { return delegate_; }
  // What the delegate's window shows on top: its root view controller, or the last controller
  // presented over it that is not being dismissed; null without a window or root. Where a new
  // screen (an alert, a picker) is presented from.
  std::shared_ptr<UIViewController> topViewController() const;
  void setDelegate(std::shared_ptr<UIApplicationDelegate> delegate) { delegate_ = std::move(delegate); }
  // Inactive until launched. Any thread.
  UIApplicationState applicationState() const { return state_.load(); }

  // Asks the system to open the URL in another application: true when one takes it (see
  // canOpenURL). Nothing leaves this process; the call is recorded and reported to the URL
  // observer.
  bool openURL(const NSURLPtr& url);
  // Whether an application of the simulated device handles the URL's scheme (compared without
  // regard to case). Recorded and reported like openURL.
  bool canOpenURL(const NSURLPtr& url);

  // ---- The status bar (main thread) ----
  // Hiding or showing it announces "statusBarHidden" to key-value observers (new value: the
  // flag) and posts UIApplicationDidChangeStatusBarFrameNotification, as turning it does.
  bool isStatusBarHidden() const { return statusBarHidden_; }
  void setStatusBarHidden(bool hidden);
  long statusBarStyle() const { return statusBarStyle_; }
  void setStatusBarStyle(long style) { statusBarStyle_ = style; }
  UIInterfaceOrientation statusBarOrientation() const { return statusBarOrientation_; }
  // The bar along the top edge of the interface, in the screen's coordinates, which do not turn
  // with the interface: on a portrait-shaped screen the landscape bar is a strip down its left
  // side, the upside-down one lies at its bottom. Zero while hidden.
  CGRect statusBarFrame() const;
  // Whether view controllers choose the bar's look: Info.plist's
  // "UIViewControllerBasedStatusBarAppearance", true when absent.
  bool viewControllerBasedStatusBarAppearance() const;

  bool isNetworkActivityIndicatorVisible() const { return networkActivityIndicatorVisible_; }
  void setNetworkActivityIndicatorVisible(bool visible) { networkActivityIndicatorVisible_ = visible; }

  // A new identifier, never UIBackgroundTaskInvalid.
  UIBackgroundTaskIdentifier beginBackgroundTaskWithExpirationHandler(std::function<void()> handler);
  // Ends the task; ending an unknown, ended or invalid identifier does nothing.
  void endBackgroundTask(UIBackgroundTaskIdentifier identifier);

  // ---- Local notifications (any thread) ----

  // Keeps a copy, which fires when the clock passes its fire date (at once when it has none or
  // it has passed) and, when it repeats, again at every repetition after that. A repeating one
  // whose fire date lies a second or more back starts at its next repetition. One that could
  // not be stored (a fire date that is not finite, user info nested deeper than 508 levels or
  // holding what JSON cannot) is refused and logged: false, with why in `error`'s description
  // ("its user info is nested deeper than 508 levels").
  bool scheduleLocalNotification(const UILocalNotificationPtr& notification, NSError* error = nullptr);
  // Cancels the scheduled notification that the copy was made from; for a notification the
  // caller made itself, every scheduled one equal to it.
  void cancelLocalNotification(const UILocalNotificationPtr& notification);
  void cancelAllLocalNotifications();
  // Copies, in the order they were scheduled. A notification that has fired stays listed (as
  // one left in the notification centre) until it is cancelled.
  std::vector<UILocalNotificationPtr> scheduledLocalNotifications();
  // A copy of the first of them (in the same order) that `matches`, or null; only that one is
  // copied. `matches` runs under the store's lock and must not call back into the application.
  UILocalNotificationPtr firstScheduledLocalNotification(
      const std::function<bool(const UILocalNotification&)>& matches);
  std::int64_t applicationIconBadgeNumber();
  void setApplicationIconBadgeNumber(std::int64_t number);
  // The changes `changes` makes to the local notifications and the badge are stored as one:
  // after a stop at any moment the store holds all of them or none of them. Changes from
  // other threads wait until it returns; reads do not.
  void changeLocalNotificationsTogether(const std::function<void()>& changes);
  // From system version 8.0 the user decides what notifications may do.
  bool respondsToRegisterUserNotificationSettings() const;
  // Asks the user, the first time only (later requests get the first answer again), and hands
  // the settings the user allowed to the delegate on a later turn of the main run loop.
  void registerUserNotificationSettings(const UIUserNotificationSettingsPtr& settings);
  // Nothing allowed until the user has answered.
  UIUserNotificationSettingsPtr currentUserNotificationSettings();

  // ---- Driver: the system's side, for the runner and tests (main thread) ----

  // Sets the delegate, asks it to finish launching, posts the launch notification and becomes
  // active. Returns the delegate's answer.
  bool launchWithDelegate(std::shared_ptr<UIApplicationDelegate> delegate, const Dictionary& launchOptions = {});
  void resignActive();
  void enterBackground();
  void enterForeground();
  void becomeActive();
  // The last notification an application gets. Once only; stops the main run loop when
  // UIApplicationMain runs it.
  void terminate();
  bool isTerminated() const { return terminated_; }
  // The delegate's handler, the notification, then every view controller of the delegate's
  // window (the root and what it presents).
  void receiveMemoryWarning();
  // Another application opens a URL of ours: the delegate's open-URL handler and its answer
  // (false when the delegate has none).
  bool deliverOpenURL(const NSURLPtr& url, const std::optional<std::string>& sourceApplication = std::nullopt,
                      const Value& annotation = Value());

  // The options the next launch gets (UIApplicationMain launches with them).
  void setLaunchOptions(Dictionary options) { launchOptions_ = std::move(options); }
  // The user opens a notification that fired: a background application comes to the
  // foreground, the delegate gets the notification, and the application becomes active.
  void openLocalNotification(const UILocalNotificationPtr& notification);
  // Any thread. The notification that fired last (also while no process ran the application),
  // or nothing.
  UILocalNotificationPtr lastDeliveredLocalNotification();
  // Any thread. What the simulated user allows when asked: by default everything asked for.
  void setUserNotificationAnswer(unsigned long allowedTypes);

  struct LocalNotificationEvent {
    enum class Kind {
      Fired,              // the clock passed its date
      FiredWhileStopped,  // found due when the application's store was read at start
      Opened,             // the user opened it
      PermissionAnswered  // the user answered a settings request
    } kind;
    UILocalNotificationPtr notification;  // null for PermissionAnswered
    unsigned long requestedTypes = 0;
    unsigned long allowedTypes = 0;
  };
  // Called for every event above (the runner prints them), on the main thread; those fired
  // while stopped come once, from this call or from whichever call first reads the store.
  void setLocalNotificationObserver(std::function<void(const LocalNotificationEvent&)> observer);
  // Main thread. Delivers what is due now; the application's own timer calls it.
  void deliverDueLocalNotifications();
  // The user turns the device: the interface (and with it the status bar) follows.
  void setStatusBarOrientation(UIInterfaceOrientation orientation);

  // ---- Simulated device and recordings ----

  // The schemes the simulated device's applications handle. Starts as http, https, mailto,
  // tel and sms.
  void setOpenableSchemes(std::set<std::string> schemes);
  struct URLRequestRecord {
    enum class Kind { Open, CanOpen } kind;
    NSURLPtr url;
    bool answer;
  };
  std::vector<URLRequestRecord> urlRequests() const;
  // Called for every openURL and canOpenURL (the runner prints them).
  void setURLRequestObserver(std::function<void(const URLRequestRecord&)> observer);

  std::size_t backgroundTaskCount();
  // Main thread, after termination: keeps turning the main run loop until every background task
  // has ended or graceSeconds of real time have passed, then expires what is still running.
  // Returns how many tasks had to be expired.
  std::size_t finishBackgroundTasks(double graceSeconds);
  // Calls the expiration handler of every task running now, oldest first, on the calling
  // thread. Tasks stay running until ended. Returns how many handlers ran.
  std::size_t expireBackgroundTasks();

 private:
  friend int UIApplicationMain(int, char**, const std::optional<std::string>&, const std::optional<std::string>&);
  static void setSharedApplication(UIApplicationPtr application);
  URLRequestRecord record(URLRequestRecord::Kind kind, const NSURLPtr& url, bool answer);
  // The store, read from the sandbox home on first use.
  LocalNotificationStore& localNotificationStore();
  void armLocalNotificationTimer();
  void reportLocalNotificationEvent(const LocalNotificationEvent& event);

  std::shared_ptr<UIApplicationDelegate> delegate_;
  std::atomic<UIApplicationState> state_{UIApplicationStateInactive};
  Dictionary launchOptions_;
  bool terminated_ = false;
  bool runningMain_ = false;
  bool networkActivityIndicatorVisible_ = false;
  bool statusBarHidden_ = false;
  long statusBarStyle_ = UIStatusBarStyleDefault;
  UIInterfaceOrientation statusBarOrientation_ = UIInterfaceOrientationPortrait;

  mutable std::mutex mutex_;  // guards what follows: background tasks and recordings
  UIBackgroundTaskIdentifier nextIdentifier_ = 1;
  std::map<UIBackgroundTaskIdentifier, std::function<void()>> tasks_;
  std::set<std::string> openableSchemes_{"http", "https", "mailto", "tel", "sms"};
  std::vector<URLRequestRecord> urlRequests_;
  std::function<void(const URLRequestRecord&)> urlObserver_;

  std::mutex notificationsMutex_;  // guards what follows: the store, its timer and the observer
  std::shared_ptr<LocalNotificationStore> notifications_;
  std::vector<UILocalNotificationPtr> firedWhileStopped_;  // reported once an observer is there
  std::uint64_t notificationTimer_ = 0;
  unsigned long userNotificationAnswer_ = UIUserNotificationTypeBadge | UIUserNotificationTypeSound | UIUserNotificationTypeAlert;
  std::function<void(const LocalNotificationEvent&)> notificationObserver_;
};

// The application's main entry: makes the shared application (of the principal class when one
// is named; it must be a registered UIApplication subclass), creates the delegate of the named
// class through the class registry and runs its second creation step, launches, and runs the
// main run loop on the calling thread until the application terminates. Then it gives running
// background tasks (a backup started at termination, say) and the work already on the global
// queue a few seconds to end, lets go of
// the delegate, so that the application's objects are torn down in order while the platform is
// still whole. Returns 0, or 1 when a named class cannot be created (logged).
int UIApplicationMain(int argc, char** argv, const std::optional<std::string>& principalClassName,
                      const std::optional<std::string>& delegateClassName);

}  // namespace plat
