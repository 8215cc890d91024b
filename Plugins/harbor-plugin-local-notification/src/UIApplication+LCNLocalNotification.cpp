#include "UIApplication+LCNLocalNotification.h"

namespace harbor {
namespace {

constexpr unsigned long kAlertBadgeSound =
    plat::UIUserNotificationTypeAlert | plat::UIUserNotificationTypeBadge | plat::UIUserNotificationTypeSound;

bool hasId(const plat::UILocalNotification& notification, const std::optional<std::string>& id) {
  return id && LCNLocalNotificationOptions::idText(plat::Value(optionsOf(notification).id())) == *id;
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
  std::optional<std::string> text = LCNLocalNotificationOptions::idText(id);
  for (auto& n : localNotifications(app))
    if (hasId(*n, text)) return n;
  return nullptr;
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
