#include "plat/foundation/NSTimeZone.h"

#include <unicode/timezone.h>

#include <mutex>

#include "ICUSupport.h"
#include "plat/foundation/Clock.h"

namespace plat {
namespace {

std::mutex& zoneMutex() {
  static std::mutex m;
  return m;
}

NSTimeZonePtr& defaultZone() {
  static auto* zone = new NSTimeZonePtr();
  return *zone;
}

}  // namespace

double secondsSince1970Now() { return now() + kReferenceDateOffset; }

NSTimeZonePtr NSTimeZone::timeZoneWithName(std::string_view name) {
  auto zone = icu_support::timeZoneFor(name);
  if (!zone || *zone == icu::TimeZone::getUnknown()) return nullptr;
  // The canonical spelling, as the database names it.
  icu::UnicodeString id;
  zone->getID(id);
  return std::make_shared<NSTimeZone>(icu_support::toUTF8(id));
}

NSTimeZonePtr NSTimeZone::systemTimeZone() {
  std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
  icu::UnicodeString id;
  if (host) host->getID(id);
  auto zone = timeZoneWithName(icu_support::toUTF8(id));
  // A host whose zone ICU does not know is treated as UTC rather than left without a zone.
  return zone ? zone : std::make_shared<NSTimeZone>("UTC");
}

NSTimeZonePtr NSTimeZone::defaultTimeZone() {
  std::lock_guard<std::mutex> lock(zoneMutex());
  if (!defaultZone()) defaultZone() = systemTimeZone();
  return defaultZone();
}

void NSTimeZone::setDefaultTimeZone(NSTimeZonePtr zone) {
  std::lock_guard<std::mutex> lock(zoneMutex());
  defaultZone() = std::move(zone);
}

void NSTimeZone::offsets(double secondsSince1970, std::int32_t& raw, std::int32_t& dst) const {
  raw = dst = 0;
  auto zone = icu_support::timeZoneFor(name_);
  UErrorCode status = U_ZERO_ERROR;
  zone->getOffset(secondsSince1970 * 1000.0, false, raw, dst, status);
  if (U_FAILURE(status)) raw = dst = 0;
}

std::string NSTimeZone::abbreviationForDate(double secondsSince1970) const {
  std::int32_t raw = 0, dst = 0;
  offsets(secondsSince1970, raw, dst);
  auto zone = icu_support::timeZoneFor(name_);
  icu::UnicodeString text;
  zone->getDisplayName(dst != 0, icu::TimeZone::SHORT, icu::Locale::getUS(), text);
  return icu_support::toUTF8(text);
}

std::int64_t NSTimeZone::secondsFromGMTForDate(double secondsSince1970) const {
  std::int32_t raw = 0, dst = 0;
  offsets(secondsSince1970, raw, dst);
  return (static_cast<std::int64_t>(raw) + dst) / 1000;
}

double NSTimeZone::daylightSavingTimeOffsetForDate(double secondsSince1970) const {
  std::int32_t raw = 0, dst = 0;
  offsets(secondsSince1970, raw, dst);
  return dst / 1000.0;
}

bool NSTimeZone::isDaylightSavingTimeForDate(double secondsSince1970) const {
  return daylightSavingTimeOffsetForDate(secondsSince1970) != 0;
}

std::string NSTimeZone::abbreviation() const { return abbreviationForDate(secondsSince1970Now()); }
std::int64_t NSTimeZone::secondsFromGMT() const { return secondsFromGMTForDate(secondsSince1970Now()); }
double NSTimeZone::daylightSavingTimeOffset() const { return daylightSavingTimeOffsetForDate(secondsSince1970Now()); }

}  // namespace plat
