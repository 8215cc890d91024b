#include "plat/uikit/UILocalNotification.h"

#include <cmath>
#include <ctime>
#include <limits>

#include "plat/foundation/Clock.h"

namespace plat {

UIUserNotificationSettingsPtr UIUserNotificationSettings::settingsForTypes(unsigned long types) {
  auto settings = std::make_shared<UIUserNotificationSettings>();
  settings->types_ = types;
  return settings;
}

UILocalNotificationPtr UILocalNotification::copy() const {
  auto other = std::make_shared<UILocalNotification>();
  other->fireDate_ = fireDate_;
  other->timeZone_ = timeZone_;
  other->repeatInterval_ = repeatInterval_;
  other->alertBody_ = alertBody_;
  other->soundName_ = soundName_;
  other->badge_ = badge_;
  other->userInfo_ = userInfo_;
  other->scheduleSerial_ = scheduleSerial_;
  return other;
}

Value UILocalNotification::dictionaryRepresentation() const {
  Dictionary d;
  if (fireDate_) d.set("fireDate", *fireDate_);
  if (timeZone_) d.set("timeZone", *timeZone_);
  d.set("repeatInterval", static_cast<std::uint64_t>(repeatInterval_));
  if (alertBody_) d.set("alertBody", *alertBody_);
  if (soundName_) d.set("soundName", *soundName_);
  d.set("applicationIconBadgeNumber", badge_);
  d.set("userInfo", userInfo_);
  if (scheduleSerial_) d.set("serial", scheduleSerial_);
  return d;
}

UILocalNotificationPtr UILocalNotification::fromDictionaryRepresentation(const Value& value) {
  if (!value.isDictionary() || !value["userInfo"].isDictionary()) return nullptr;
  auto text = [&](std::string_view key) -> std::optional<std::string> {
    const Value& v = value[key];
    return v.isString() ? std::optional<std::string>(v.asString()) : std::nullopt;
  };
  auto n = std::make_shared<UILocalNotification>();
  const Value& fire = value["fireDate"];
  if (fire.isNumber() && std::isfinite(fire.asDouble())) n->fireDate_ = fire.asDouble();
  n->timeZone_ = text("timeZone");
  n->repeatInterval_ = value["repeatInterval"].isInteger() ? value["repeatInterval"].asUInt() : 0;
  n->alertBody_ = text("alertBody");
  n->soundName_ = text("soundName");
  n->badge_ = value["applicationIconBadgeNumber"].asInt();
  n->userInfo_ = value["userInfo"].asDictionary();
  n->scheduleSerial_ = value["serial"].isInteger() ? value["serial"].asUInt() : 0;
  return n;
}

double dateByAddingUnits(double date, NSCalendarUnit unit, std::int64_t count) {
  double fixed = 0;
  switch (unit) {
    case NSCalendarUnitSecond: fixed = 1; break;
    case NSCalendarUnitMinute: fixed = 60; break;
    case NSCalendarUnitHour: fixed = 3600; break;
    default: break;
  }
  if (fixed > 0) return date + fixed * static_cast<double>(count);

  // Days and longer follow the local calendar. Dates the C library cannot break down (far
  // outside any calendar a user would set) fall back to average lengths.
  double approximate = unit == NSCalendarUnitDay        ? 86400.0
                       : unit == NSCalendarUnitWeekOfYear ? 7 * 86400.0
                       : unit == NSCalendarUnitMonth      ? 30.436875 * 86400.0
                       : unit == NSCalendarUnitQuarter    ? 3 * 30.436875 * 86400.0
                       : unit == NSCalendarUnitYear       ? 365.2425 * 86400.0
                                                          : 0.0;
  if (approximate == 0) return date;
  double unix = date + kReferenceDateOffset;
  double whole = std::floor(unix);
  constexpr double kLimit = 1e15;  // far beyond any calendar, well inside time_t
  if (std::fabs(whole) > kLimit || std::llabs(count) > 1000000)
    return date + approximate * static_cast<double>(count);
  std::time_t t = static_cast<std::time_t>(whole);
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return date + approximate * static_cast<double>(count);
  int n = static_cast<int>(count);
  switch (unit) {
    case NSCalendarUnitDay: tm.tm_mday += n; break;
    case NSCalendarUnitWeekOfYear: tm.tm_mday += 7 * n; break;
    case NSCalendarUnitMonth: tm.tm_mon += n; break;
    case NSCalendarUnitQuarter: tm.tm_mon += 3 * n; break;
    case NSCalendarUnitYear: tm.tm_year += n; break;
    default: break;
  }
  tm.tm_isdst = -1;
  std::time_t moved = std::mktime(&tm);
  if (moved == static_cast<std::time_t>(-1)) return date + approximate * static_cast<double>(count);
  return static_cast<double>(moved) + (unix - whole) - kReferenceDateOffset;
}

}  // namespace plat
