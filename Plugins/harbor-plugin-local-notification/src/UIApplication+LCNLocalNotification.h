#pragma once
// What the plugin asks of the application: permission, and its local notifications looked up by
// id and type. Ids are compared as text (LCNLocalNotificationOptions::idText), so the number 5
// and the text "5" name the same notification. Any thread.
#include <vector>

#include "UILocalNotification+LCNLocalNotification.h"
#include "plat/foundation/Value.h"
#include "plat/uikit/UIApplication.h"

namespace harbor {

// From system version 8.0: whether the user lets notifications alert, badge or sound. Before
// that: always.
bool hasPermissionToScheduleLocalNotifications(plat::UIApplication& app);
// From system version 8.0: asks the user for alert, badge and sound on top of what is allowed.
void registerPermissionToScheduleLocalNotifications(plat::UIApplication& app);

std::vector<plat::UILocalNotificationPtr> localNotifications(plat::UIApplication& app);
std::vector<plat::UILocalNotificationPtr> triggeredLocalNotifications(plat::UIApplication& app);
// The ids (numbers) of all notifications, or of those of one type.
plat::Array localNotificationIds(plat::UIApplication& app);
plat::Array localNotificationIdsByType(plat::UIApplication& app, LCNNotificationType type);
// The first notification with the id (of the type); null when there is none.
plat::UILocalNotificationPtr localNotificationWithId(plat::UIApplication& app, const plat::Value& id);
plat::UILocalNotificationPtr localNotificationWithIdAndType(plat::UIApplication& app, const plat::Value& id,
                                                            LCNNotificationType type);
bool localNotificationExist(plat::UIApplication& app, const plat::Value& id);
bool localNotificationExistType(plat::UIApplication& app, const plat::Value& id, LCNNotificationType type);
// The options (without "updatedAt") of all notifications, of one type, of the listed ids in
// their order (ids without a notification skipped), or of the listed ids of one type.
plat::Array localNotificationOptions(plat::UIApplication& app);
plat::Array localNotificationOptionsByType(plat::UIApplication& app, LCNNotificationType type);
plat::Array localNotificationOptionsById(plat::UIApplication& app, const plat::Array& ids);
plat::Array localNotificationOptionsByTypeAndId(plat::UIApplication& app, LCNNotificationType type,
                                                const plat::Array& ids);
// Cancels it; a repeating one is scheduled again from its first fire date ("at"), so it goes
// on at its next repetition.
void clearLocalNotification(plat::UIApplication& app, const plat::UILocalNotificationPtr& notification);
void clearAllLocalNotifications(plat::UIApplication& app);

}  // namespace harbor
