#pragma once
// Dates as a locale writes them, and back, over ICU. A formatter is a small description (locale,
// styles or pattern, time zone, leniency); the ICU formatter it stands for is built on first use
// and shared process-wide with every other formatter of the same description, because building
// one is far dearer than using it. Any thread; one formatter object is not to be changed while
// another thread uses it. Dates are seconds since 1970-01-01 00:00 UTC.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSTimeZone.h"
#include "plat/foundation/Object.h"

namespace plat {

enum class NSDateFormatterStyle : int { NoStyle = 0, ShortStyle = 1, MediumStyle = 2, LongStyle = 3, FullStyle = 4 };

class NSDateFormatter : public Object {
 public:
  // The current locale and the default time zone as they are now; no styles; not lenient.
  NSDateFormatter();
  ~NSDateFormatter() override;

  NSLocalePtr locale() const { return locale_; }
  void setLocale(NSLocalePtr locale);
  NSTimeZonePtr timeZone() const { return timeZone_; }
  void setTimeZone(NSTimeZonePtr zone);
  NSDateFormatterStyle dateStyle() const { return dateStyle_; }
  void setDateStyle(NSDateFormatterStyle style);
  NSDateFormatterStyle timeStyle() const { return timeStyle_; }
  void setTimeStyle(NSDateFormatterStyle style);
  // A lenient formatter reads what a person might type: other spaces, four-digit years for
  // two-digit fields, overflowing fields rolled over (February 30 is March 1 or 2).
  bool isLenient() const { return lenient_; }
  void setLenient(bool lenient);

  // The pattern in force ("M/d/yy, h:mm a"): the one set, or the one the styles give.
  std::string dateFormat() const;
  // A pattern of one's own; the styles no longer count.
  void setDateFormat(std::string pattern);

  // Nothing for a date outside what a page's Date can hold (±8.64e12 seconds) or a formatter
  // ICU could not build.
  std::optional<std::string> stringFromDate(double secondsSince1970) const;
  // The whole text must be a date in this format: "2/1/16x" is no date.
  std::optional<double> dateFromString(std::string_view text) const;

  // January first; weekdays from Sunday. "Short" are the abbreviated names.
  std::vector<std::string> monthSymbols() const;
  std::vector<std::string> shortMonthSymbols() const;
  std::vector<std::string> weekdaySymbols() const;
  std::vector<std::string> shortWeekdaySymbols() const;

  // The shared ICU formatter and its lock (defined with the implementation).
  struct Shared;

 private:
  // The shared ICU formatter for the current description (built when first needed).
  std::shared_ptr<Shared> shared() const;
  void changed() { shared_.reset(); }
  enum class Names { Months, ShortMonths, Weekdays, ShortWeekdays };
  std::vector<std::string> symbols(Names names) const;

  NSLocalePtr locale_;
  NSTimeZonePtr timeZone_;
  NSDateFormatterStyle dateStyle_ = NSDateFormatterStyle::NoStyle;
  NSDateFormatterStyle timeStyle_ = NSDateFormatterStyle::NoStyle;
  bool lenient_ = false;
  std::optional<std::string> pattern_;
  mutable std::shared_ptr<Shared> shared_;
};

}  // namespace plat
