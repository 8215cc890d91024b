#include "plat/foundation/NSDateFormatter.h"

#include <unicode/datefmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/smpdtfmt.h>

#include <cmath>

#include "ICUSupport.h"

namespace plat {

// A page's Date holds ±8.64e15 ms; anything beyond is no date a person means, and ICU would
// quietly pin it to the calendar's limits.
constexpr double kLargestDate = 8.64e12;

struct NSDateFormatter::Shared {
  std::mutex lock;
  std::unique_ptr<icu::SimpleDateFormat> formatter;
};

namespace {

icu::DateFormat::EStyle icuStyle(NSDateFormatterStyle style) {
  switch (style) {
    case NSDateFormatterStyle::ShortStyle: return icu::DateFormat::kShort;
    case NSDateFormatterStyle::MediumStyle: return icu::DateFormat::kMedium;
    case NSDateFormatterStyle::LongStyle: return icu::DateFormat::kLong;
    case NSDateFormatterStyle::FullStyle: return icu::DateFormat::kFull;
    case NSDateFormatterStyle::NoStyle: break;
  }
  return icu::DateFormat::kNone;
}

}  // namespace

NSDateFormatter::NSDateFormatter()
    : locale_(NSLocale::currentLocale()), timeZone_(NSTimeZone::defaultTimeZone()) {}

NSDateFormatter::~NSDateFormatter() = default;

void NSDateFormatter::setLocale(NSLocalePtr locale) {
  locale_ = locale ? std::move(locale) : NSLocale::currentLocale();
  changed();
}

void NSDateFormatter::setTimeZone(NSTimeZonePtr zone) {
  timeZone_ = zone ? std::move(zone) : NSTimeZone::defaultTimeZone();
  changed();
}

void NSDateFormatter::setDateStyle(NSDateFormatterStyle style) {
  dateStyle_ = style;
  pattern_.reset();
  changed();
}

void NSDateFormatter::setTimeStyle(NSDateFormatterStyle style) {
  timeStyle_ = style;
  pattern_.reset();
  changed();
}

void NSDateFormatter::setLenient(bool lenient) {
  lenient_ = lenient;
  changed();
}

void NSDateFormatter::setDateFormat(std::string pattern) {
  pattern_ = std::move(pattern);
  changed();
}

std::shared_ptr<NSDateFormatter::Shared> NSDateFormatter::shared() const {
  if (shared_) return shared_;
  std::string how = pattern_ ? "pattern " + *pattern_
                             : "styles " + std::to_string(static_cast<int>(dateStyle_)) + "," +
                                   std::to_string(static_cast<int>(timeStyle_));
  std::string key = locale_->localeIdentifier() + "|" + timeZone_->name() + "|" + (lenient_ ? "lenient|" : "strict|") + how;
  shared_ = icu_support::sharedCache<Shared>().get(key, [this]() -> std::unique_ptr<icu::SimpleDateFormat> {
    icu::Locale locale = icu_support::localeFor(locale_->localeIdentifier());
    std::unique_ptr<icu::SimpleDateFormat> made;
    UErrorCode status = U_ZERO_ERROR;
    bool noStyles = dateStyle_ == NSDateFormatterStyle::NoStyle && timeStyle_ == NSDateFormatterStyle::NoStyle;
    if (pattern_ || noStyles) {
      // Without styles the platform formats every date as the empty text.
      made = std::make_unique<icu::SimpleDateFormat>(icu_support::toUnicode(pattern_.value_or("")), locale, status);
      if (U_FAILURE(status)) return nullptr;
    } else {
      std::unique_ptr<icu::DateFormat> styled(
          icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle_), icuStyle(timeStyle_), locale));
      auto* simple = dynamic_cast<icu::SimpleDateFormat*>(styled.get());
      if (!simple) return nullptr;
      styled.release();
      made.reset(simple);
    }
    made->adoptTimeZone(icu_support::timeZoneFor(timeZone_->name()).release());
    // ICU's formatters start lenient; the platform's do not.
    made->setLenient(lenient_);
    return made;
  });
  return shared_;
}

std::string NSDateFormatter::dateFormat() const {
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  if (!entry->formatter) return pattern_.value_or("");
  icu::UnicodeString pattern;
  entry->formatter->toPattern(pattern);
  return icu_support::toUTF8(pattern);
}

std::optional<std::string> NSDateFormatter::stringFromDate(double secondsSince1970) const {
  if (!std::isfinite(secondsSince1970) || std::fabs(secondsSince1970) > kLargestDate) return std::nullopt;
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  if (!entry->formatter) return std::nullopt;
  icu::UnicodeString text;
  entry->formatter->format(secondsSince1970 * 1000.0, text);
  return icu_support::toUTF8(text);
}

std::optional<double> NSDateFormatter::dateFromString(std::string_view text) const {
  if (text.empty()) return std::nullopt;
  icu::UnicodeString input = icu_support::toUnicode(text);
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  if (!entry->formatter) return std::nullopt;
  icu::ParsePosition position(0);
  UDate date = entry->formatter->parse(input, position);
  // ICU stops at the first character it cannot use and calls the rest a success; a date read
  // from the start of "2/1/16x" is not the date the page wrote.
  if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
  return date / 1000.0;
}

std::vector<std::string> NSDateFormatter::monthSymbols() const { return symbols(Names::Months); }
std::vector<std::string> NSDateFormatter::shortMonthSymbols() const { return symbols(Names::ShortMonths); }
std::vector<std::string> NSDateFormatter::weekdaySymbols() const { return symbols(Names::Weekdays); }
std::vector<std::string> NSDateFormatter::shortWeekdaySymbols() const { return symbols(Names::ShortWeekdays); }

std::vector<std::string> NSDateFormatter::symbols(Names which) const {
  using List = const icu::UnicodeString* (icu::DateFormatSymbols::*)(int32_t&) const;
  List list = &icu::DateFormatSymbols::getShortWeekdays;
  switch (which) {
    case Names::Months: list = &icu::DateFormatSymbols::getMonths; break;
    case Names::ShortMonths: list = &icu::DateFormatSymbols::getShortMonths; break;
    case Names::Weekdays: list = &icu::DateFormatSymbols::getWeekdays; break;
    case Names::ShortWeekdays: break;
  }
  // ICU's weekday lists are indexed by its day numbers (Sunday is 1) and keep an empty entry 0.
  int32_t first = which == Names::Weekdays || which == Names::ShortWeekdays ? UCAL_SUNDAY : 0;
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  if (!entry->formatter) return {};
  int32_t count = 0;
  const icu::UnicodeString* names = (entry->formatter->getDateFormatSymbols()->*list)(count);
  std::vector<std::string> out;
  for (int32_t i = first; i < count; ++i) out.push_back(icu_support::toUTF8(names[i]));
  return out;
}

}  // namespace plat
