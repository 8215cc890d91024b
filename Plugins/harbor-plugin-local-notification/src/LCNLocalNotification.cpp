#include "LCNLocalNotification.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "UIApplication+LCNLocalNotification.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

// Spaces out the items of one schedule or update command.
constexpr auto kPauseBetweenItems = std::chrono::milliseconds(10);

// A page value as JSON would have carried it. Under WKWebView NaN and the infinities reach the
// plugin as themselves (and bytes, from a caller other than a page: both engines carry a page's
// typed arrays as objects of their elements); the store cannot hold them, and under UIWebView
// the page's JSON has already made them null. So both engines keep the same options. Nesting is
// kept whole: what the store cannot hold it refuses, and the schedule says so.
plat::Value storableValue(const plat::Value& value) {
  using Type = plat::Value::Type;
  switch (value.type()) {
    case Type::Absent:
      return plat::Value::null();
    case Type::Double:
      return std::isfinite(value.asDouble()) ? value : plat::Value::null();
    case Type::Data: {
      plat::Dictionary bytes;
      const plat::Data& data = value.asData();
      for (std::size_t i = 0; i < data.size(); ++i) bytes.set(std::to_string(i), static_cast<std::int64_t>(data[i]));
      return bytes;
    }
    case Type::Array: {
      plat::Array out;
      out.reserve(value.asArray().size());
      for (const auto& item : value.asArray()) out.push_back(storableValue(item));
      return out;
    }
    case Type::Dictionary: {
      plat::Dictionary out;
      for (const auto& [key, item] : value.asDictionary())
        if (!item.isAbsent()) out.set(key, storableValue(item));
      return out;
    }
    default:
      return value;
  }
}

// The page's options for a new or updated notification. Anything but a dictionary names no
// notification; "updatedAt" is the plugin's own mark and is never taken from the page.
std::optional<plat::Dictionary> pageOptions(const plat::Value& argument) {
  if (!argument.isDictionary()) return std::nullopt;
  plat::Dictionary options = storableValue(argument).asDictionary();
  options.erase(kLCNUpdatedAtKey);
  return options;
}

}  // namespace

LCNLocalNotification::LCNLocalNotification() {
  registerAction("deviceready", &LCNLocalNotification::deviceready);
  registerAction("schedule", &LCNLocalNotification::schedule);
  registerAction("update", &LCNLocalNotification::update);
  registerAction("cancel", &LCNLocalNotification::cancel);
  registerAction("cancelAll", &LCNLocalNotification::cancelAll);
  registerAction("clear", &LCNLocalNotification::clear);
  registerAction("clearAll", &LCNLocalNotification::clearAll);
  registerAction("isPresent", &LCNLocalNotification::isPresent);
  registerAction("isScheduled", &LCNLocalNotification::isScheduled);
  registerAction("isTriggered", &LCNLocalNotification::isTriggered);
  registerAction("getAllIds", &LCNLocalNotification::getAllIds);
  registerAction("getScheduledIds", &LCNLocalNotification::getScheduledIds);
  registerAction("getTriggeredIds", &LCNLocalNotification::getTriggeredIds);
  registerAction("getSingle", &LCNLocalNotification::getSingle);
  registerAction("getSingleScheduled", &LCNLocalNotification::getSingleScheduled);
  registerAction("getSingleTriggered", &LCNLocalNotification::getSingleTriggered);
  registerAction("getAll", &LCNLocalNotification::getAll);
  registerAction("getScheduled", &LCNLocalNotification::getScheduled);
  registerAction("getTriggered", &LCNLocalNotification::getTriggered);
  registerAction("hasPermission", &LCNLocalNotification::hasPermission);
  registerAction("registerPermission", &LCNLocalNotification::registerPermission);
}

plat::UIApplicationPtr LCNLocalNotification::app() { return plat::UIApplication::sharedApplication(); }

void LCNLocalNotification::pluginInitialize() {
  std::lock_guard<std::mutex> lock(eventMutex_);
  eventQueue_.clear();
}

void LCNLocalNotification::onAppTerminate() { cancelAllNotificationsWhichAreOlderThen(kLCNTerminationCleanUpSeconds); }

// ---- Background work, in arrival order ----

void LCNLocalNotification::runInOrder(std::function<void()> work) {
  auto delegate = commandDelegate();
  if (!delegate) return;  // disposed: the page that asked is gone
  {
    std::lock_guard<std::mutex> lock(workMutex_);
    work_.push_back(std::move(work));
    if (working_) return;
    working_ = true;
  }
  auto self = std::static_pointer_cast<LCNLocalNotification>(shared_from_this());
  delegate->runInBackground([self] { self->drainWork(); });
}

void LCNLocalNotification::drainWork() {
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(workMutex_);
      if (work_.empty()) {
        working_ = false;
        return;
      }
      work = std::move(work_.front());
      work_.pop_front();
    }
    work();
  }
}

// ---- Events ----

std::string LCNLocalNotification::applicationState() const {
  return app()->applicationState() == plat::UIApplicationStateActive ? "foreground" : "background";
}

void LCNLocalNotification::fireEvent(const std::string& event) { fireEventNotification(event, nullptr); }

void LCNLocalNotification::fireEventNotification(const std::string& event,
                                                 const plat::UILocalNotificationPtr& notification) {
  std::string state = applicationState();
  std::string arguments = notification ? encodeToJSON(*notification).value_or("{}") + ",'" + state + "'"
                                       : "\"" + state + "\"";
  std::string js = plat::format(kLCNFireEventScript, event.c_str(), arguments.c_str());
  std::weak_ptr<HBRCommandDelegate> delegate = commandDelegate();
  std::lock_guard<std::mutex> lock(eventMutex_);
  if (!deviceready_) {
    eventQueue_.push_back(std::move(js));
    return;
  }
  // Handed to the main run loop under the lock, which only queues it there: so the scripts
  // reach the page in the order of the events, and are evaluated outside the lock.
  plat::dispatch::mainAsync([delegate, js] {
    if (auto d = delegate.lock()) d->evalJs(js);
  });
}

void LCNLocalNotification::deviceready(const HBRInvokedUrlCommandPtr&) {
  std::weak_ptr<HBRCommandDelegate> delegate = commandDelegate();
  std::lock_guard<std::mutex> lock(eventMutex_);
  deviceready_ = true;
  for (auto& js : eventQueue_)
    plat::dispatch::mainAsync([delegate, js = std::move(js)] {
      if (auto d = delegate.lock()) d->evalJs(js);
    });
  eventQueue_.clear();
}

bool LCNLocalNotification::isDeviceready() {
  std::lock_guard<std::mutex> lock(eventMutex_);
  return deviceready_;
}

std::vector<std::string> LCNLocalNotification::eventQueue() {
  std::lock_guard<std::mutex> lock(eventMutex_);
  return eventQueue_;
}

void LCNLocalNotification::execCallback(const HBRInvokedUrlCommandPtr& command) {
  if (auto delegate = commandDelegate())
    delegate->sendPluginResult(HBRPluginResult::resultWithStatus(HBRCommandStatus::OK), command->callbackId());
}

void LCNLocalNotification::answerChanges(const HBRInvokedUrlCommandPtr& command, const std::vector<std::string>& refused) {
  if (refused.empty()) return execCallback(command);
  std::string message;
  for (const auto& why : refused) message += (message.empty() ? "" : "; ") + why;
  if (auto delegate = commandDelegate())
    delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::Error, message),
                               command->callbackId());
}

// ---- Changes ----
//
// Each change fires its event inside the same change of the store. Delivering what fell due is
// itself a change of the store, which waits until this one has ended: so the page hears of a
// notification's schedule (update, clear) before it hears the notification arrive.

namespace {

// "notification 5 was not scheduled: ..." (or "updated") for the page.
std::string refusal(const plat::UILocalNotification& notification, const char* change, const plat::NSError& error) {
  auto id = LCNLocalNotificationOptions::idText(notification.userInfo().get("id"));
  return "notification " + (id ? *id : std::string("without an id")) + " was not " + change + ": " +
         error.localizedDescription;
}

}  // namespace

void LCNLocalNotification::schedule(const HBRInvokedUrlCommandPtr& command) {
  runInOrder([this, command] {
    const plat::Array& items = command->arguments();
    std::vector<std::string> refused;
    for (const auto& item : items) {
      auto options = pageOptions(item);
      if (!options) continue;
      auto notification = localNotificationWithOptions(*options);
      app()->changeLocalNotificationsTogether([&] {
        plat::NSError error;
        if (scheduleLocalNotification(notification->copy(), &error))
          fireEventNotification("schedule", notification);
        else
          refused.push_back(refusal(*notification, "scheduled", error));
      });
      if (items.size() > 1) std::this_thread::sleep_for(kPauseBetweenItems);
    }
    answerChanges(command, refused);
  });
}

void LCNLocalNotification::update(const HBRInvokedUrlCommandPtr& command) {
  runInOrder([this, command] {
    const plat::Array& items = command->arguments();
    std::vector<std::string> refused;
    for (const auto& item : items) {
      auto options = pageOptions(item);
      if (!options) continue;
      auto notification = localNotificationWithId(*app(), options->get("id"));
      if (!notification) continue;
      app()->changeLocalNotificationsTogether([&] {
        plat::NSError error;
        if (updateLocalNotification(notification->copy(), *options, &error))
          fireEventNotification("update", notification);
        else
          refused.push_back(refusal(*notification, "updated", error));
      });
      if (items.size() > 1) std::this_thread::sleep_for(kPauseBetweenItems);
    }
    answerChanges(command, refused);
  });
}

void LCNLocalNotification::cancel(const HBRInvokedUrlCommandPtr& command) {
  runInOrder([this, command] {
    for (const auto& id : command->arguments()) {
      auto notification = localNotificationWithId(*app(), id);
      if (!notification) continue;
      app()->changeLocalNotificationsTogether([&] {
        app()->cancelLocalNotification(notification);
        fireEventNotification("cancel", notification);
      });
    }
    execCallback(command);
  });
}

void LCNLocalNotification::cancelAll(const HBRInvokedUrlCommandPtr& command) {
  runInOrder([this, command] {
    app()->changeLocalNotificationsTogether([&] {
      cancelAllLocalNotifications();
      fireEvent("cancelall");
    });
    execCallback(command);
  });
}

void LCNLocalNotification::clear(const HBRInvokedUrlCommandPtr& command) {
  runInOrder([this, command] {
    for (const auto& id : command->arguments()) {
      auto notification = localNotificationWithId(*app(), id);
      if (!notification) continue;
      app()->changeLocalNotificationsTogether([&] {
        clearLocalNotification(*app(), notification);
        fireEventNotification("clear", notification);
      });
    }
    execCallback(command);
  });
}

void LCNLocalNotification::clearAll(const HBRInvokedUrlCommandPtr& command) {
  runInOrder([this, command] {
    app()->changeLocalNotificationsTogether([&] {
      clearAllLocalNotifications();
      fireEvent("clearall");
    });
    execCallback(command);
  });
}

bool LCNLocalNotification::scheduleLocalNotification(const plat::UILocalNotificationPtr& notification,
                                                     plat::NSError* error) {
  bool scheduled = false;
  // One change of the store: a stop in between must not leave neither the old nor the new one.
  // The one it replaces goes only once this one is stored, so a refusal leaves it in place.
  app()->changeLocalNotificationsTogether([&] {
    auto forerunner = forerunnerLocalNotification(notification);
    scheduled = app()->scheduleLocalNotification(notification, error);
    if (scheduled && forerunner) app()->cancelLocalNotification(forerunner);
  });
  return scheduled;
}

bool LCNLocalNotification::updateLocalNotification(const plat::UILocalNotificationPtr& notification,
                                                   const plat::Dictionary& options, plat::NSError* error) {
  plat::Dictionary merged = notification->userInfo();
  for (const auto& [key, value] : options) merged.set(key, value);
  merged.set(kLCNUpdatedAtKey, plat::now());
  return scheduleLocalNotification(localNotificationWithOptions(merged), error);
}

plat::UILocalNotificationPtr LCNLocalNotification::forerunnerLocalNotification(
    const plat::UILocalNotificationPtr& notification) {
  return localNotificationWithId(*app(), plat::Value(optionsOf(*notification).id()));
}

void LCNLocalNotification::cancelAllLocalNotifications() {
  app()->changeLocalNotificationsTogether([] {
    app()->cancelAllLocalNotifications();
    app()->setApplicationIconBadgeNumber(0);
  });
}

void LCNLocalNotification::clearAllLocalNotifications() {
  app()->changeLocalNotificationsTogether([] {
    harbor::clearAllLocalNotifications(*app());
    app()->setApplicationIconBadgeNumber(0);
  });
}

void LCNLocalNotification::cancelAllNotificationsWhichAreOlderThen(float seconds) {
  for (const auto& notification : localNotifications(*app())) {
    if (isRepeating(*notification) || timeIntervalSinceFireDate(*notification) <= seconds) continue;
    app()->cancelLocalNotification(notification);
    fireEventNotification("cancel", notification);
  }
}

// ---- Queries ----

void LCNLocalNotification::isPresent(const HBRInvokedUrlCommandPtr& c) { isPresentType(c, LCNNotificationTypeAll); }
void LCNLocalNotification::isScheduled(const HBRInvokedUrlCommandPtr& c) { isPresentType(c, LCNNotificationTypeScheduled); }
void LCNLocalNotification::isTriggered(const HBRInvokedUrlCommandPtr& c) { isPresentType(c, LCNNotificationTypeTriggered); }
void LCNLocalNotification::getAllIds(const HBRInvokedUrlCommandPtr& c) { getIds(c, LCNNotificationTypeAll); }
void LCNLocalNotification::getScheduledIds(const HBRInvokedUrlCommandPtr& c) { getIds(c, LCNNotificationTypeScheduled); }
void LCNLocalNotification::getTriggeredIds(const HBRInvokedUrlCommandPtr& c) { getIds(c, LCNNotificationTypeTriggered); }
void LCNLocalNotification::getSingle(const HBRInvokedUrlCommandPtr& c) { getOption(c, LCNNotificationTypeAll); }
void LCNLocalNotification::getSingleScheduled(const HBRInvokedUrlCommandPtr& c) { getOption(c, LCNNotificationTypeScheduled); }
void LCNLocalNotification::getSingleTriggered(const HBRInvokedUrlCommandPtr& c) { getOption(c, LCNNotificationTypeTriggered); }
void LCNLocalNotification::getAll(const HBRInvokedUrlCommandPtr& c) { getOptions(c, LCNNotificationTypeAll); }
void LCNLocalNotification::getScheduled(const HBRInvokedUrlCommandPtr& c) { getOptions(c, LCNNotificationTypeScheduled); }
void LCNLocalNotification::getTriggered(const HBRInvokedUrlCommandPtr& c) { getOptions(c, LCNNotificationTypeTriggered); }

void LCNLocalNotification::isPresentType(const HBRInvokedUrlCommandPtr& command, LCNNotificationType type) {
  runInOrder([this, command, type] {
    const plat::Value& id = command->argumentAtIndex(0);
    bool exists = type == LCNNotificationTypeAll ? localNotificationExist(*app(), id)
                                                 : localNotificationExistType(*app(), id, type);
    if (auto delegate = commandDelegate())
      delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsBool(HBRCommandStatus::OK, exists),
                                 command->callbackId());
  });
}

void LCNLocalNotification::getIds(const HBRInvokedUrlCommandPtr& command, LCNNotificationType type) {
  runInOrder([this, command, type] {
    plat::Array ids = type == LCNNotificationTypeAll ? localNotificationIds(*app()) : localNotificationIdsByType(*app(), type);
    if (auto delegate = commandDelegate())
      delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsArray(HBRCommandStatus::OK, std::move(ids)),
                                 command->callbackId());
  });
}

void LCNLocalNotification::getOption(const HBRInvokedUrlCommandPtr& command, LCNNotificationType type) {
  runInOrder([this, command, type] {
    const plat::Array& ids = command->arguments();
    plat::Array options = type == LCNNotificationTypeAll ? localNotificationOptionsById(*app(), ids)
                                                         : localNotificationOptionsByTypeAndId(*app(), type, ids);
    auto delegate = commandDelegate();
    if (!delegate) return;
    auto result = options.empty() ? HBRPluginResult::resultWithStatus(HBRCommandStatus::OK)
                                  : HBRPluginResult::resultWithStatusMessageAsDictionary(
                                        HBRCommandStatus::OK, options.front().asDictionary());
    delegate->sendPluginResult(result, command->callbackId());
  });
}

void LCNLocalNotification::getOptions(const HBRInvokedUrlCommandPtr& command, LCNNotificationType type) {
  runInOrder([this, command, type] {
    const plat::Array& ids = command->arguments();
    plat::Array options;
    if (ids.empty())
      options = type == LCNNotificationTypeAll ? localNotificationOptions(*app()) : localNotificationOptionsByType(*app(), type);
    else
      options = type == LCNNotificationTypeAll ? localNotificationOptionsById(*app(), ids)
                                               : localNotificationOptionsByTypeAndId(*app(), type, ids);
    if (auto delegate = commandDelegate())
      delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsArray(HBRCommandStatus::OK, std::move(options)),
                                 command->callbackId());
  });
}

// ---- Permission ----

void LCNLocalNotification::hasPermission(const HBRInvokedUrlCommandPtr& command) {
  runInOrder([this, command] {
    bool allowed = hasPermissionToScheduleLocalNotifications(*app());
    if (auto delegate = commandDelegate())
      delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsBool(HBRCommandStatus::OK, allowed),
                                 command->callbackId());
  });
}

void LCNLocalNotification::registerPermission(const HBRInvokedUrlCommandPtr& command) {
  if (!app()->respondsToRegisterUserNotificationSettings()) {
    hasPermission(command);
    return;
  }
  {
    // Each request waits for the answer; one arriving while another waits must not take its place.
    std::lock_guard<std::mutex> lock(permissionMutex_);
    permissionCommands_.push_back(command);
  }
  runInOrder([] { registerPermissionToScheduleLocalNotifications(*app()); });
}

void LCNLocalNotification::didRegisterUserNotificationSettings(const plat::NSNotification&) {
  std::vector<HBRInvokedUrlCommandPtr> waiting;
  {
    std::lock_guard<std::mutex> lock(permissionMutex_);
    waiting.swap(permissionCommands_);
  }
  for (const auto& command : waiting) hasPermission(command);
}

// ---- Arrivals ----

void LCNLocalNotification::didReceiveLocalNotification(const plat::NSNotification& arrival) {
  auto notification = std::dynamic_pointer_cast<plat::UILocalNotification>(arrival.object);
  if (!notification || notification->userInfo().empty()) return;
  // The update's own replacement arriving at once is no news to the page.
  if (wasUpdated(*notification)) return;
  bool fresh = timeIntervalSinceLastTrigger(*notification) < 0.2 && isDeviceready();
  std::string event = fresh ? "trigger" : "click";
  fireEventNotification(event, notification);
  if (fresh) return;
  if (!isRepeating(*notification)) {
    app()->cancelLocalNotification(notification);
    fireEventNotification("cancel", notification);
  } else {
    fireEventNotification("clear", notification);
  }
}

void LCNLocalNotification::didFinishLaunchingWithOptions(const plat::NSNotification& launch) {
  const plat::Value& opened = launch.userInfo[plat::UIApplicationLaunchOptionsLocalNotificationKey];
  auto notification = plat::UILocalNotification::fromDictionaryRepresentation(opened);
  if (!notification) return;
  didReceiveLocalNotification(plat::NSNotification{kHBRLocalNotification, notification, plat::Value()});
}

}  // namespace harbor
