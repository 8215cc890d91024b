#pragma once
// A platform local notification made from the page's options, and the time questions the
// plugin asks of it. Times are counted in whole seconds (the difference truncated toward zero),
// so "in the past" means at least one whole second back.
#include <cstdint>
#include <optional>
#include <string>

#include "LCNLocalNotificationOptions.h"
#include "plat/uikit/UILocalNotification.h"

namespace harbor {

// The kinds of notification the lookups tell apart.
enum LCNNotificationType : int {
  LCNNotificationTypeAll = 0,
  LCNNotificationTypeScheduled = 1,  // not yet fired
  LCNNotificationTypeTriggered = 2,  // fired
};

// A new notification whose user info is the options: fire date, the default time zone, badge,
// repeat interval, alert body and sound from them; a fire date in the past becomes now.
plat::UILocalNotificationPtr localNotificationWithOptions(const plat::Dictionary& options);

LCNLocalNotificationOptions optionsOf(const plat::UILocalNotification& notification);

// Whole seconds from the fire date to now; negative while it lies ahead.
std::int64_t timeIntervalSinceFireDate(const plat::UILocalNotification& notification);
// For a repeating notification, the seconds since its latest repetition (the remainder by the
// repetition's seconds, with the sign of the time since the fire date); else as above.
std::int64_t timeIntervalSinceLastTrigger(const plat::UILocalNotification& notification);
bool wasInThePast(const plat::UILocalNotification& notification);
// It repeats, or its fire date has not passed by a whole second.
bool isScheduled(const plat::UILocalNotification& notification);
// Now is not earlier than the fire date.
bool isTriggered(const plat::UILocalNotification& notification);
// The plugin's update made it less than one whole second ago.
bool wasUpdated(const plat::UILocalNotification& notification);
bool isRepeating(const plat::UILocalNotification& notification);
LCNNotificationType typeOf(const plat::UILocalNotification& notification);

// The user info without "updatedAt" as pretty-printed JSON with the line feeds taken out, for
// the page's event script; nothing when there is nothing to say. U+2028 and U+2029 are escaped
// too: they end a line in older script engines, which would break the script around them.
std::optional<std::string> encodeToJSON(const plat::UILocalNotification& notification);

}  // namespace harbor
