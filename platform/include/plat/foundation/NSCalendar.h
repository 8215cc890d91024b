#pragma once
// The locale's calendar (Gregorian for most, Buddhist for th_TH, ...) in a time zone, over ICU.
// The current calendar is made from the current locale and the default time zone when asked for;
// the auto-updating one asks them again at every call. Dates are seconds since 1970.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSTimeZone.h"
#include "plat/foundation/Object.h"

namespace plat {

// A date split into the calendar's fields; the month counts from 1 (January), as the platform's
// date components do.
struct NSDateComponents {
  std::int32_t era = 0;
  std::int32_t year = 0;
  std::int32_t month = 0;
  std::int32_t day = 0;
  std::int32_t hour = 0;
  std::int32_t minute = 0;
  std::int32_t second = 0;
};

class NSCalendar;
using NSCalendarPtr = std::shared_ptr<NSCalendar>;

class NSCalendar : public Object {
 public:
  static NSCalendarPtr currentCalendar();
  static NSCalendarPtr autoupdatingCurrentCalendar();
  static NSCalendarPtr calendarWithLocale(NSLocalePtr locale, NSTimeZonePtr timeZone);

  NSLocalePtr locale() const;
  NSTimeZonePtr timeZone() const;
  // "gregorian", "buddhist", ...
  std::string calendarIdentifier() const;
  // 1 = Sunday ... 7 = Saturday, by the locale's region.
  int firstWeekday() const;
  // Nothing for a date the calendar cannot place (far outside its range).
  std::optional<NSDateComponents> components(double secondsSince1970) const;

  // Use the factories; public only for make_shared.
  NSCalendar(NSLocalePtr locale, NSTimeZonePtr timeZone) : locale_(std::move(locale)), timeZone_(std::move(timeZone)) {}

 private:
  // Both null for the auto-updating calendar.
  NSLocalePtr locale_;
  NSTimeZonePtr timeZone_;
};

}  // namespace plat
