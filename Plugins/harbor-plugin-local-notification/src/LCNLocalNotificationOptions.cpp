#include "LCNLocalNotificationOptions.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "plat/foundation/Clock.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

// The text a value shows in an alert; nothing for a missing value or null.
std::optional<std::string> displayText(const plat::Value& value) {
  if (value.isNil()) return std::nullopt;
  if (value.isString()) return value.asString();
  return value.description();
}

double doubleReading(const plat::Value& value) {
  double d = 0;
  if (value.isNumber()) d = value.asDouble();
  else if (value.isString()) d = std::strtod(value.asString().c_str(), nullptr);
  // "nan" and "1e999" are texts a page can send; neither is a date.
  return std::isfinite(d) ? d : 0;
}

}  // namespace

std::int64_t LCNLocalNotificationOptions::integerReading(const plat::Value& value) {
  if (value.type() == plat::Value::Type::UInt)
    return value.asUInt() > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(value.asUInt());
  if (value.isNumber()) return value.asInt();
  if (!value.isString()) return 0;
  long long n = std::strtoll(value.asString().c_str(), nullptr, 10);  // saturates on overflow
  return static_cast<std::int64_t>(n);
}

bool LCNLocalNotificationOptions::stringIsNullOrEmpty(const plat::Value& value) {
  return value.isNil() || (value.isString() && value.asString().empty());
}

std::optional<std::string> LCNLocalNotificationOptions::idText(const plat::Value& id) {
  if (id.isString()) return id.asString();
  if (id.isBool()) return id.asBool() ? "1" : "0";
  if (id.isInteger()) return id.type() == plat::Value::Type::UInt ? std::to_string(id.asUInt()) : std::to_string(id.asInt());
  if (id.isDouble()) {
    double d = id.asDouble();
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9e15) return std::to_string(static_cast<std::int64_t>(d));
    return plat::format("%.17g", d);
  }
  return std::nullopt;
}

std::int64_t LCNLocalNotificationOptions::id() const { return integerReading(dict_.get("id")); }

std::int32_t LCNLocalNotificationOptions::badgeNumber() const {
  std::int64_t n = integerReading(dict_.get("badge"));
  if (n > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (n < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(n);
}

std::optional<std::string> LCNLocalNotificationOptions::alertBody() const {
  std::optional<std::string> first = stringIsNullOrEmpty(title()) ? std::nullopt : displayText(title());
  std::optional<std::string> body = stringIsNullOrEmpty(text()) ? std::nullopt : displayText(text());
  if (!first) return displayText(text());
  // A title without a text is the whole alert; it must not read "Title" and a placeholder.
  if (!body) return first;
  return *first + "\n" + *body;
}

std::optional<std::string> LCNLocalNotificationOptions::soundName() const {
  const plat::Value& sound = dict_.get("sound");
  if (stringIsNullOrEmpty(sound) || !sound.isString()) return std::nullopt;
  const std::string& value = sound.asString();
  if (value == kLCNDefaultSound) return std::string(plat::UILocalNotificationDefaultSoundName);
  if (plat::startsWith(value, "file:/")) return plat::stringByReplacingOccurrencesOfString(value, "file:/", "www");
  if (plat::startsWith(value, "res:")) return plat::lastPathComponent(value);
  return std::nullopt;
}

double LCNLocalNotificationOptions::fireDate() const {
  return doubleReading(dict_.get("at")) - plat::kReferenceDateOffset;
}

plat::NSCalendarUnit LCNLocalNotificationOptions::repeatInterval() const {
  const plat::Value& every = dict_.get("every");
  if (!every.isString()) return plat::NSCalendarUnitEra;
  static const std::pair<const char*, plat::NSCalendarUnit> units[] = {
      {"second", plat::NSCalendarUnitSecond}, {"minute", plat::NSCalendarUnitMinute},
      {"hour", plat::NSCalendarUnitHour},     {"day", plat::NSCalendarUnitDay},
      {"week", plat::NSCalendarUnitWeekOfYear}, {"month", plat::NSCalendarUnitMonth},
      {"quarter", plat::NSCalendarUnitQuarter}, {"year", plat::NSCalendarUnitYear}};
  for (const auto& [name, unit] : units)
    if (every.asString() == name) return unit;
  return plat::NSCalendarUnitEra;
}

std::int64_t LCNLocalNotificationOptions::repeatIntervalInSeconds() const {
  switch (repeatInterval()) {
    case plat::NSCalendarUnitMinute: return 60;
    case plat::NSCalendarUnitHour: return 3600;
    case plat::NSCalendarUnitDay:
    case plat::NSCalendarUnitWeekOfYear:
    case plat::NSCalendarUnitMonth:
    case plat::NSCalendarUnitYear: return 86400;
    default: return 1;
  }
}

bool LCNLocalNotificationOptions::isRepeating() const {
  plat::NSCalendarUnit unit = repeatInterval();
  return unit != 0 && unit != plat::NSCalendarUnitEra;
}

plat::Dictionary LCNLocalNotificationOptions::userInfo() const {
  if (!dict_.contains(kLCNUpdatedAtKey)) return dict_;
  plat::Dictionary copy = dict_;
  copy.erase(kLCNUpdatedAtKey);
  return copy;
}

}  // namespace harbor
