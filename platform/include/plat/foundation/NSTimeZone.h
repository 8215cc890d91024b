#pragma once
// Time zones by their database names ("Europe/Zurich"), over ICU's zone data. The default time
// zone is process-wide: the host's zone (TZ or /etc/localtime) until the runner or a test sets
// another. Dates here are seconds since 1970-01-01 00:00 UTC.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "plat/foundation/Object.h"

namespace plat {

class NSTimeZone;
using NSTimeZonePtr = std::shared_ptr<NSTimeZone>;

class NSTimeZone : public Object {
 public:
  // Null when the database has no zone of that name.
  static NSTimeZonePtr timeZoneWithName(std::string_view name);
  static NSTimeZonePtr defaultTimeZone();
  static NSTimeZonePtr systemTimeZone();
  // Null goes back to the system's zone.
  static void setDefaultTimeZone(NSTimeZonePtr zone);

  const std::string& name() const { return name_; }
  // "EST", "GMT+1": the short English name where one is in common use, else the offset.
  std::string abbreviationForDate(double secondsSince1970) const;
  std::int64_t secondsFromGMTForDate(double secondsSince1970) const;
  double daylightSavingTimeOffsetForDate(double secondsSince1970) const;
  bool isDaylightSavingTimeForDate(double secondsSince1970) const;
  // The same, now (by the platform clock).
  std::string abbreviation() const;
  std::int64_t secondsFromGMT() const;
  double daylightSavingTimeOffset() const;

  // Use the factories; public only for make_shared.
  explicit NSTimeZone(std::string name) : name_(std::move(name)) {}

 private:
  // Raw and daylight-saving offsets in milliseconds; both 0 for a date ICU cannot place.
  void offsets(double secondsSince1970, std::int32_t& raw, std::int32_t& dst) const;

  std::string name_;
};

// Now by the platform clock, in seconds since 1970.
double secondsSince1970Now();

}  // namespace plat
