#include "plat/foundation/NSCalendar.h"

#include <unicode/calendar.h>

#include <cmath>

#include "ICUSupport.h"

namespace plat {
namespace {

std::unique_ptr<icu::Calendar> makeCalendar(const NSLocale& locale, const NSTimeZone& zone) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(
      icu_support::timeZoneFor(zone.name()).release(), icu_support::localeFor(locale.localeIdentifier()), status));
  if (U_FAILURE(status)) return nullptr;
  return calendar;
}

}  // namespace

NSCalendarPtr NSCalendar::currentCalendar() {
  return calendarWithLocale(NSLocale::currentLocale(), NSTimeZone::defaultTimeZone());
}

NSCalendarPtr NSCalendar::autoupdatingCurrentCalendar() { return std::make_shared<NSCalendar>(nullptr, nullptr); }

NSCalendarPtr NSCalendar::calendarWithLocale(NSLocalePtr locale, NSTimeZonePtr timeZone) {
  if (!locale) locale = NSLocale::currentLocale();
  if (!timeZone) timeZone = NSTimeZone::defaultTimeZone();
  return std::make_shared<NSCalendar>(std::move(locale), std::move(timeZone));
}

NSLocalePtr NSCalendar::locale() const { return locale_ ? locale_ : NSLocale::currentLocale(); }

NSTimeZonePtr NSCalendar::timeZone() const { return timeZone_ ? timeZone_ : NSTimeZone::defaultTimeZone(); }

std::string NSCalendar::calendarIdentifier() const {
  auto calendar = makeCalendar(*locale(), *timeZone());
  return calendar ? calendar->getType() : "gregorian";
}

int NSCalendar::firstWeekday() const {
  auto calendar = makeCalendar(*locale(), *timeZone());
  UErrorCode status = U_ZERO_ERROR;
  // ICU numbers the days as the platform does: UCAL_SUNDAY is 1.
  int day = calendar ? calendar->getFirstDayOfWeek(status) : UCAL_SUNDAY;
  return U_SUCCESS(status) ? day : UCAL_SUNDAY;
}

std::optional<NSDateComponents> NSCalendar::components(double secondsSince1970) const {
  if (!std::isfinite(secondsSince1970)) return std::nullopt;
  auto calendar = makeCalendar(*locale(), *timeZone());
  if (!calendar) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  calendar->setTime(secondsSince1970 * 1000.0, status);
  NSDateComponents c;
  c.era = calendar->get(UCAL_ERA, status);
  c.year = calendar->get(UCAL_YEAR, status);
  c.month = calendar->get(UCAL_MONTH, status) + 1;  // ICU counts months from 0
  c.day = calendar->get(UCAL_DATE, status);
  c.hour = calendar->get(UCAL_HOUR_OF_DAY, status);
  c.minute = calendar->get(UCAL_MINUTE, status);
  c.second = calendar->get(UCAL_SECOND, status);
  if (U_FAILURE(status)) return std::nullopt;
  return c;
}

}  // namespace plat
