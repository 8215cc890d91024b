#include "UILocalNotification+LCNLocalNotification.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "plat/foundation/Clock.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

// Truncated toward zero, saturating: a date a page sets centuries away must not overflow.
std::int64_t wholeSeconds(double seconds) {
  if (!(seconds == seconds)) return 0;
  if (seconds >= 9.2e18) return INT64_MAX;
  if (seconds <= -9.2e18) return INT64_MIN;
  return static_cast<std::int64_t>(seconds);
}

double fireDateOf(const plat::UILocalNotification& notification) {
  return notification.fireDate().value_or(plat::now());
}

// The zone the process's calendar uses.
std::string defaultTimeZoneName() {
  const char* zone = std::getenv("TZ");
  return zone && *zone ? zone : "localtime";
}

}  // namespace

plat::UILocalNotificationPtr localNotificationWithOptions(const plat::Dictionary& dict) {
  LCNLocalNotificationOptions options(dict);
  auto notification = std::make_shared<plat::UILocalNotification>();
  notification->setUserInfo(dict);
  notification->setFireDate(options.fireDate());
  notification->setTimeZone(defaultTimeZoneName());
  notification->setApplicationIconBadgeNumber(options.badgeNumber());
  notification->setRepeatInterval(options.repeatInterval());
  notification->setAlertBody(options.alertBody());
  notification->setSoundName(options.soundName());
  if (wasInThePast(*notification)) notification->setFireDate(plat::now());
  return notification;
}

LCNLocalNotificationOptions optionsOf(const plat::UILocalNotification& notification) {
  return LCNLocalNotificationOptions(notification.userInfo());
}

std::int64_t timeIntervalSinceFireDate(const plat::UILocalNotification& notification) {
  return wholeSeconds(plat::now() - fireDateOf(notification));
}

std::int64_t timeIntervalSinceLastTrigger(const plat::UILocalNotification& notification) {
  std::int64_t since = timeIntervalSinceFireDate(notification);
  LCNLocalNotificationOptions options = optionsOf(notification);
  if (!options.isRepeating()) return since;
  return since % options.repeatIntervalInSeconds();
}

bool wasInThePast(const plat::UILocalNotification& notification) { return timeIntervalSinceLastTrigger(notification) > 0; }

bool isScheduled(const plat::UILocalNotification& notification) {
  return isRepeating(notification) || !wasInThePast(notification);
}

bool isTriggered(const plat::UILocalNotification& notification) { return plat::now() >= fireDateOf(notification); }

bool wasUpdated(const plat::UILocalNotification& notification) {
  // Only the plugin writes the key (as a date on the platform clock); the page's own is
  // dropped before it can reach a notification.
  const plat::Value& updatedAt = notification.userInfo().get(kLCNUpdatedAtKey);
  if (!updatedAt.isNumber()) return false;
  return wholeSeconds(plat::now() - updatedAt.asDouble()) < 1;
}

bool isRepeating(const plat::UILocalNotification& notification) { return optionsOf(notification).isRepeating(); }

LCNNotificationType typeOf(const plat::UILocalNotification& notification) {
  return isTriggered(notification) ? LCNNotificationTypeTriggered : LCNNotificationTypeScheduled;
}

std::optional<std::string> encodeToJSON(const plat::UILocalNotification& notification) {
  plat::Dictionary info = optionsOf(notification).userInfo();
  if (info.empty()) return std::nullopt;
  auto text = plat::json::write(plat::Value(std::move(info)), {.pretty = true});
  if (!text) return std::nullopt;
  std::string json = std::move(*text);
  std::erase(json, '\n');
  json = plat::stringByReplacingOccurrencesOfString(std::move(json), "\xE2\x80\xA8", "\\u2028");
  return plat::stringByReplacingOccurrencesOfString(std::move(json), "\xE2\x80\xA9", "\\u2029");
}

}  // namespace harbor
