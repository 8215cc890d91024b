#pragma once
// Local notifications for the page: schedule, update, cancel and clear them, ask which exist,
// and ask for the user's permission to show them. Each notification carries the page's options
// as its user info (LCNLocalNotificationOptions.h).
//
// Every change and every arrival reaches the page as an event script,
//   harbor.plugins.notification.local.core.fireEvent('<event>', <arguments>)
// with the arguments `<notification JSON>,'<state>'` (an empty notification as {}) or, for
// events without a notification, `"<state>"`; the state is "foreground" while the application
// is active and "background" otherwise. Events: schedule, update, cancel, cancelall, clear,
// clearall, trigger (arrived within a second of its time, the page ready), click (opened or
// late; a notification that does not repeat is then cancelled, a repeating one reported as
// cleared). Until the page calls deviceready, events wait in a queue, and are then sent oldest
// first; after it, at once. The flag and the queue share one lock, so no event is left behind
// in the queue; scripts go to the main run loop in the order the events happened. A change's
// event is sent inside the change of the store, before an arrival it causes can be delivered:
// the page hears "schedule" before the "trigger" of a notification due at once.
//
// Page actions. Every answer is OK (without a message unless given below), keep-callback off;
// ids that name no notification are skipped, and arguments of the wrong kind too. Only schedule
// and update answer with an error (status 9, the text below), once the other items are done.
// Except deviceready (main thread), the work runs in the background in the order the commands
// came (one chain of this plugin's own over the global queue), so a schedule and a cancel of one
// id always apply in that order.
//
// Options are kept as JSON would carry them (NaN and the infinities become null, bytes an
// object of numbered bytes, as a Uint8Array), so a WKWebView page's values store like a
// UIWebView page's, and nested as deep as the store holds (508 levels, the options counting as
// one). Options the store refuses (deeper ones) replace nothing and fire no event; the answer
// is an error naming each ("notification 5 was not scheduled: its user info is nested deeper
// than 508 levels", "... was not updated: ..." for an update; several joined by "; "). Each item's change (a replacement by id, an
// update, a clear, cancelAll or clearAll with the badge) is one change of the store: a stop
// keeps the state before or after.
//   deviceready []                      no answer at all; sends the queued events
//   schedule [options...]               each in order: replaces a notification of the same id,
//                                       event "schedule"; with two or more, a 10 ms pause
//                                       after each; an error when the store refused any
//   update [options with "id"...]       each found by id: its options take the new values,
//                                       event "update" with the options as they were; the same
//                                       pause rule and errors
//   cancel [id...], clear [id...]       each found: cancelled (event "cancel") or cleared (a
//                                       repeating one goes on from its first date; event
//                                       "clear")
//   cancelAll [], clearAll []           all cancelled / the triggered ones cleared; the badge
//                                       goes to 0; event "cancelall" / "clearall"
//   isPresent [id], isScheduled [id], isTriggered [id]         -> boolean
//   getAllIds [], getScheduledIds [], getTriggeredIds []       -> [id...]
//   getSingle [id], getSingleScheduled [id], getSingleTriggered [id]
//                                       -> the options of the first match, or no message
//   getAll [id...], getScheduled [id...], getTriggered [id...] -> [options...] (no ids: all)
//   hasPermission []                    -> boolean
//   registerPermission []               from system 8.0, asks the user and answers with
//                                       hasPermission once the user has answered (every request
//                                       waiting then gets the answer); before 8.0 at once
//
// At termination, notifications that do not repeat and fired more than five days ago are
// cancelled (event "cancel").
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "HBRPlugin.h"
#include "LCNAppEvent.h"
#include "UILocalNotification+LCNLocalNotification.h"
#include "plat/uikit/UIApplication.h"

namespace harbor {

// The page function that receives the events.
inline constexpr char kLCNFireEventScript[] = "harbor.plugins.notification.local.core.fireEvent('%s', %s)";
// How old a fired notification that does not repeat may grow before termination cancels it.
inline constexpr float kLCNTerminationCleanUpSeconds = 432000;

class LCNLocalNotification : public HBRPlugin,
                             public LCNAppEventDelegate,
                             public LCNLocalNotificationHandler,
                             public LCNLaunchHandler,
                             public LCNUserNotificationSettingsHandler {
 public:
  LCNLocalNotification();

  void pluginInitialize() override;
  void onAppTerminate() override;

  void deviceready(const HBRInvokedUrlCommandPtr& command);
  void schedule(const HBRInvokedUrlCommandPtr& command);
  void update(const HBRInvokedUrlCommandPtr& command);
  void cancel(const HBRInvokedUrlCommandPtr& command);
  void cancelAll(const HBRInvokedUrlCommandPtr& command);
  void clear(const HBRInvokedUrlCommandPtr& command);
  void clearAll(const HBRInvokedUrlCommandPtr& command);
  void isPresent(const HBRInvokedUrlCommandPtr& command);
  void isScheduled(const HBRInvokedUrlCommandPtr& command);
  void isTriggered(const HBRInvokedUrlCommandPtr& command);
  void getAllIds(const HBRInvokedUrlCommandPtr& command);
  void getScheduledIds(const HBRInvokedUrlCommandPtr& command);
  void getTriggeredIds(const HBRInvokedUrlCommandPtr& command);
  void getSingle(const HBRInvokedUrlCommandPtr& command);
  void getSingleScheduled(const HBRInvokedUrlCommandPtr& command);
  void getSingleTriggered(const HBRInvokedUrlCommandPtr& command);
  void getAll(const HBRInvokedUrlCommandPtr& command);
  void getScheduled(const HBRInvokedUrlCommandPtr& command);
  void getTriggered(const HBRInvokedUrlCommandPtr& command);
  void hasPermission(const HBRInvokedUrlCommandPtr& command);
  void registerPermission(const HBRInvokedUrlCommandPtr& command);

  // The operations behind the actions (background queue, or the main thread for the observers).
  void isPresentType(const HBRInvokedUrlCommandPtr& command, LCNNotificationType type);
  void getIds(const HBRInvokedUrlCommandPtr& command, LCNNotificationType type);
  void getOption(const HBRInvokedUrlCommandPtr& command, LCNNotificationType type);
  void getOptions(const HBRInvokedUrlCommandPtr& command, LCNNotificationType type);
  // Schedules this one in place of the notification of the same id, if any, as one change of
  // the store. False (the reason in `error`, the one of the same id kept) when the store
  // refuses it.
  bool scheduleLocalNotification(const plat::UILocalNotificationPtr& notification, plat::NSError* error = nullptr);
  // The notification's options with the new ones on top and "updatedAt" set to now, scheduled
  // in its place; false as above.
  bool updateLocalNotification(const plat::UILocalNotificationPtr& notification, const plat::Dictionary& options,
                               plat::NSError* error = nullptr);
  // The scheduled notification with the same id, which a schedule replaces; null when none.
  plat::UILocalNotificationPtr forerunnerLocalNotification(const plat::UILocalNotificationPtr& notification);
  void cancelAllLocalNotifications();
  void clearAllLocalNotifications();
  void cancelAllNotificationsWhichAreOlderThen(float seconds);
  void execCallback(const HBRInvokedUrlCommandPtr& command);
  // OK when nothing was refused; else an error with the reasons, one for each refused item.
  void answerChanges(const HBRInvokedUrlCommandPtr& command, const std::vector<std::string>& refused);
  void fireEvent(const std::string& event);
  void fireEventNotification(const std::string& event, const plat::UILocalNotificationPtr& notification);

  // Main thread, from the application events.
  void didReceiveLocalNotification(const plat::NSNotification& notification) override;
  void didFinishLaunchingWithOptions(const plat::NSNotification& notification) override;
  void didRegisterUserNotificationSettings(const plat::NSNotification& notification) override;

  bool isDeviceready();
  std::vector<std::string> eventQueue();
  // "foreground" or "background".
  std::string applicationState() const;

 private:
  // Runs the work after every piece handed in before it, on the global queue.
  void runInOrder(std::function<void()> work);
  void drainWork();
  static plat::UIApplicationPtr app();

  std::mutex eventMutex_;  // the flag and the queue
  bool deviceready_ = false;
  std::vector<std::string> eventQueue_;

  std::mutex permissionMutex_;
  std::vector<HBRInvokedUrlCommandPtr> permissionCommands_;

  std::mutex workMutex_;
  std::deque<std::function<void()>> work_;
  bool working_ = false;
};

}  // namespace harbor
