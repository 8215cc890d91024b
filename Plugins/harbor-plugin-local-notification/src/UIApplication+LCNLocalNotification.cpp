#include "UIApplication+LCNLocalNotification.h"

#include <charconv>

namespace harbor {
namespace {

constexpr unsigned long kAlertBadgeSound =
    plat::UIUserNotificationTypeAlert | plat::UIUserNotificationTypeBadge | plat::UIUserNotificationTypeSound;

// A notification's id is the integer reading of its "id", so the only texts that can name one
// are integers written plainly: the number such a text names, or nothing.
std::optional<std::int64_t> idNamed(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  std::int64_t n = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), n);
  if (error != std::errc() || end != text->data() + text->size() || std::to_string(n) != *text) return std::nullopt;
  return n;
}

plat::Array optionsOfAll(const std::vector<plat::UILocalNotificationPtr>& notifications) {
  plat::Array out;
  for (const auto& n : notifications) out.emplace_back(optionsOf(*n).userInfo());
  return out;
}

}  // namespace

bool hasPermissionToScheduleLocalNotifications(plat::UIApplication& app) {
  if (!app.respondsToRegisterUserNotificationSettings()) return true;
  return (app.currentUserNotificationSettings()->types() & kAlertBadgeSound) != 0;
}

void registerPermissionToScheduleLocalNotifications(plat::UIApplication& app) {
  if (!app.respondsToRegisterUserNotificationSettings()) return;
  unsigned long types = app.currentUserNotificationSettings()->types() | kAlertBadgeSound;
  app.registerUserNotificationSettings(plat::UIUserNotificationSettings::settingsForTypes(types));
}

std::vector<plat::UILocalNotificationPtr> localNotifications(plat::UIApplication& app) {
  return app.scheduledLocalNotifications();
}

std::vector<plat::UILocalNotificationPtr> triggeredLocalNotifications(plat::UIApplication& app) {
  std::vector<plat::UILocalNotificationPtr> out;
  for (auto& n : localNotifications(app))
    if (isTriggered(*n)) out.push_back(n);
  return out;
}

plat::Array localNotificationIds(plat::UIApplication& app) {
  plat::Array ids;
  for (const auto& n : localNotifications(app)) ids.emplace_back(optionsOf(*n).id());
  return ids;
}

plat::Array localNotificationIdsByType(plat::UIApplication& app, LCNNotificationType type) {
  plat::Array ids;
  for (const auto& n : localNotifications(app))
    if (typeOf(*n) == type) ids.emplace_back(optionsOf(*n).id());
  return ids;
}

plat::UILocalNotificationPtr localNotificationWithId(plat::UIApplication& app, const plat::Value& id) {
  // Read straight from each user info: this runs over every notification on every schedule,
  // and copying each one (or its options) would make a schedule cost grow with their number.
  std::optional<std::int64_t> wanted = idNamed(LCNLocalNotificationOptions::idText(id));
  if (!wanted) return nullptr;
  return app.firstScheduledLocalNotification([&](const plat::UILocalNotification& n) {
    return LCNLocalNotificationOptions::integerReading(n.userInfo().get("id")) == *wanted;
  });
}

plat::UILocalNotificationPtr localNotificationWithIdAndType(plat::UIApplication& app, const plat::Value& id,
                                                            LCNNotificationType type) {
  auto n = localNotificationWithId(app, id);
  return n && typeOf(*n) == type ? n : nullptr;
}

bool localNotificationExist(plat::UIApplication& app, const plat::Value& id) {
  return localNotificationWithId(app, id) != nullptr;
}

bool localNotificationExistType(plat::UIApplication& app, const plat::Value& id, LCNNotificationType type) {
  return localNotificationWithIdAndType(app, id, type) != nullptr;
}

plat::Array localNotificationOptions(plat::UIApplication& app) { return optionsOfAll(localNotifications(app)); }

plat::Array localNotificationOptionsByType(plat::UIApplication& app, LCNNotificationType type) {
  std::vector<plat::UILocalNotificationPtr> kept;
  for (auto& n : localNotifications(app))
    if (typeOf(*n) == type) kept.push_back(n);
  return optionsOfAll(kept);
}

plat::Array localNotificationOptionsById(plat::UIApplication& app, const plat::Array& ids) {
  plat::Array out;
  for (const auto& id : ids)
    if (auto n = localNotificationWithId(app, id)) out.emplace_back(optionsOf(*n).userInfo());
  return out;
}

plat::Array localNotificationOptionsByTypeAndId(plat::UIApplication& app, LCNNotificationType type,
                                                const plat::Array& ids) {
  plat::Array out;
  for (const auto& id : ids)
    if (auto n = localNotificationWithIdAndType(app, id, type)) out.emplace_back(optionsOf(*n).userInfo());
  return out;
}

void clearLocalNotification(plat::UIApplication& app, const plat::UILocalNotificationPtr& notification) {
  if (!notification) return;
  app.cancelLocalNotification(notification);
  if (!isRepeating(*notification)) return;
  notification->setFireDate(optionsOf(*notification).fireDate());
  app.scheduleLocalNotification(notification);
}

void clearAllLocalNotifications(plat::UIApplication& app) {
  for (const auto& n : triggeredLocalNotifications(app)) clearLocalNotification(app, n);
}

}  // namespace harbor
