// The locale services over ICU below the plugin: time zones by name, calendars, and formatters
// whose shared ICU formatter must follow every change of their description.
#include <gtest/gtest.h>

#include "plat/foundation/NSCalendar.h"
#include "plat/foundation/NSDateFormatter.h"
#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSNumberFormatter.h"
#include "plat/foundation/NSTimeZone.h"
#include "plat/testing/SandboxTest.h"

using namespace plat;

namespace {

// 2016-02-01 21:00:00 UTC.
constexpr double kDate = 1454360400.0;

class LocaleFormatters : public plat::testing::SandboxTest {};

}  // namespace

TEST_F(LocaleFormatters, TimeZonesByName) {
  EXPECT_EQ(NSTimeZone::timeZoneWithName("Nowhere/Else"), nullptr);
  EXPECT_EQ(NSTimeZone::timeZoneWithName(""), nullptr);
  auto zurich = NSTimeZone::timeZoneWithName("Europe/Zurich");
  ASSERT_TRUE(zurich);
  EXPECT_EQ(zurich->secondsFromGMTForDate(kDate), 3600);
  EXPECT_EQ(zurich->abbreviationForDate(kDate), "GMT+1");
  EXPECT_FALSE(zurich->isDaylightSavingTimeForDate(kDate));
  EXPECT_TRUE(zurich->isDaylightSavingTimeForDate(kDate + 180 * 86400.0));
  EXPECT_EQ(NSTimeZone::defaultTimeZone()->name(), "America/New_York");
  NSTimeZone::setDefaultTimeZone(zurich);
  EXPECT_EQ(NSCalendar::currentCalendar()->components(kDate)->hour, 22);
}

TEST_F(LocaleFormatters, CalendarsFollowTheLocale) {
  auto thai = NSCalendar::calendarWithLocale(NSLocale::localeWithLocaleIdentifier("th_TH"), nullptr);
  EXPECT_EQ(thai->calendarIdentifier(), "buddhist");
  EXPECT_EQ(thai->components(kDate)->year, 2559);
  auto parts = NSCalendar::currentCalendar()->components(kDate);
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->year, 2016);
  EXPECT_EQ(parts->month, 2);
  EXPECT_EQ(parts->day, 1);
  EXPECT_EQ(parts->hour, 16);
  // The auto-updating calendar answers for the locale of the moment.
  auto calendar = NSCalendar::autoupdatingCurrentCalendar();
  EXPECT_EQ(calendar->firstWeekday(), 1);
  NSLocale::setCurrentLocaleIdentifier("de_DE");
  EXPECT_EQ(calendar->firstWeekday(), 2);
}

// The same formatter object is used, changed and used again: each change must reach the ICU
// formatter it shares with others, and other formatters must not see it.
TEST_F(LocaleFormatters, ChangesAfterUseTakeEffect) {
  NSDateFormatter dates;
  EXPECT_EQ(dates.stringFromDate(kDate), "") << "no styles: the empty text";
  dates.setDateStyle(NSDateFormatterStyle::ShortStyle);
  EXPECT_EQ(dates.stringFromDate(kDate), "2/1/16");
  dates.setLocale(NSLocale::localeWithLocaleIdentifier("de_CH"));
  EXPECT_EQ(dates.stringFromDate(kDate), "01.02.16");
  dates.setTimeZone(NSTimeZone::timeZoneWithName("Asia/Tokyo"));
  EXPECT_EQ(dates.stringFromDate(kDate), "02.02.16");
  dates.setDateFormat("yyyy-MM-dd HH:mm");
  EXPECT_EQ(dates.stringFromDate(kDate), "2016-02-02 06:00");
  EXPECT_EQ(dates.dateFromString("2016-02-02 06:00"), kDate);
  NSDateFormatter other;
  other.setDateStyle(NSDateFormatterStyle::ShortStyle);
  EXPECT_EQ(other.stringFromDate(kDate), "2/1/16");

  NSNumberFormatter numbers;
  EXPECT_EQ(numbers.stringFromNumber(1234.56), "1235");
  numbers.setNumberStyle(NSNumberFormatterStyle::CurrencyStyle);
  EXPECT_EQ(numbers.stringFromNumber(1234.56), "$1,234.56");
  numbers.setCurrencyCode("EUR");
  EXPECT_EQ(numbers.stringFromNumber(1234.56), "€1,234.56");
  numbers.setCurrencyCode("not a code");
  EXPECT_EQ(numbers.currencyCode(), "EUR");
  numbers.setInternationalCurrencySymbol("XEU");
  numbers.setNumberStyle(NSNumberFormatterStyle::PercentStyle);
  EXPECT_EQ(numbers.stringFromNumber(0.5), "50%");
}

TEST_F(LocaleFormatters, StrictAndLenientReading) {
  NSDateFormatter dates;
  dates.setDateStyle(NSDateFormatterStyle::ShortStyle);
  dates.setTimeStyle(NSDateFormatterStyle::ShortStyle);
  // The text as the formatter writes it always reads back; a typed plain space only leniently.
  std::string written = dates.stringFromDate(kDate).value_or("");
  EXPECT_EQ(dates.dateFromString(written), kDate);
  EXPECT_EQ(dates.dateFromString("2/1/16, 4:00 PM"), std::nullopt);
  dates.setLenient(true);
  EXPECT_EQ(dates.dateFromString("2/1/16, 4:00 PM"), kDate);
  EXPECT_EQ(dates.dateFromString(written + " "), std::nullopt);

  EXPECT_EQ(NSDateFormatter().dateFromString("anything"), std::nullopt) << "no styles read nothing";

  NSNumberFormatter numbers;
  numbers.setNumberStyle(NSNumberFormatterStyle::CurrencyStyle);
  EXPECT_EQ(numbers.numberFromString("$12.50"), 12.5);
  EXPECT_EQ(numbers.numberFromString("12.50"), std::nullopt);
  numbers.setLenient(true);
  EXPECT_EQ(numbers.numberFromString("12.50"), 12.5);
  EXPECT_EQ(numbers.numberFromString("$12.50 "), std::nullopt);
}

TEST_F(LocaleFormatters, CurrencyData) {
  struct Case {
    const char* code;
    bool known;
    std::int32_t digits;
  };
  const Case cases[] = {{"USD", true, 2}, {"jpy", true, 0}, {"BHD", true, 3}, {"DEM", true, 2},
                        {"XYZ", false, 0}, {"US", false, 0}, {"", false, 0}, {"ÜSD", false, 0}};
  for (const auto& c : cases) {
    std::int32_t digits = -1;
    double rounding = -1;
    EXPECT_EQ(CFNumberFormatterGetDecimalInfoForCurrencyCode(c.code, &digits, &rounding), c.known) << c.code;
    if (c.known) {
      EXPECT_EQ(digits, c.digits) << c.code;
      EXPECT_EQ(rounding, 0.0) << c.code;
    }
  }
}

TEST_F(LocaleFormatters, WhatICUKnowsOfALocale) {
  using Kind = NSLocaleData::Kind;
  struct Case {
    const char* identifier;
    Kind kind;
    const char* used;
  };
  const Case cases[] = {
      {"en_US", Kind::Own, "en_US"},
      {"de_CH", Kind::Own, "de_CH"},
      {"zh_Hans_CN", Kind::Own, "zh_Hans_CN"},
      {"de", Kind::Own, "de"},
      {"de-CH", Kind::Own, "de_CH"},                 // a language tag reads as the identifier
      {"de_CH@currency=EUR", Kind::Own, "de_CH"},    // keywords do not change the data
      {"zh_CN", Kind::Own, "zh_Hans_CN"},            // an alias: the data it stands for
      {"fr_US", Kind::Parent, "fr"},                 // no data of its own: the language's
      {"xx_YY", Kind::Unknown, ""},                  // not even the language: only the root's
      {"not a locale", Kind::Unknown, ""},
      {"root", Kind::Unknown, ""},
      {"", Kind::Unknown, ""},
      {"_US", Kind::Unknown, ""},
  };
  for (const Case& c : cases) {
    NSLocaleData data = NSLocale::localeDataForIdentifier(c.identifier);
    EXPECT_EQ(data.kind, c.kind) << c.identifier;
    EXPECT_EQ(data.identifier, c.used) << c.identifier;
  }
}
