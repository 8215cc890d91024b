// The globalization plugin in several locales (en_US, zh_CN, de_CH): every action, round trips
// of dates and numbers through text, patterns, names, and the errors a page can provoke. The
// fixture's time zone is America/New_York. ICU writes a narrow no-break space (U+202F) before
// AM and PM; the expectations below spell it out. Answers are read back from JSON, where a
// whole double such as 0.0 arrives as the integer 0.
#include <gtest/gtest.h>

#include "GlobalizationPlugin.h"
#include "HBRGlobalization.h"
#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSTimeZone.h"
#include "support/PluginTest.h"

using namespace harbor;
using harbor::testing::PageCallback;
using plat::Array;
using plat::Dictionary;
using plat::Value;

namespace {

// 2016-02-01 16:00:00 in New York (21:00 UTC), a Monday; and a summer day.
constexpr double kWinterDate = 1454360400000.0;
constexpr double kSummerDate = 1467374400000.0;

class Globalization : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerGlobalizationPlugin();
  }

  // A new plugin under the locale, so that it keeps that locale.
  void useLocale(const std::string& identifier) {
    plat::NSLocale::setCurrentLocaleIdentifier(identifier);
    controller->removeAllObjects();
    ASSERT_TRUE(createPlugin("HBRGlobalization", "Globalization"));
  }

  PageCallback call(const std::string& action, const Array& arguments = {}) {
    exec("Globalization", action, arguments);
    auto callbacks = takeCallbacks();
    EXPECT_EQ(callbacks.size(), 1u) << action;
    if (callbacks.empty()) return {};
    EXPECT_FALSE(callbacks[0].keepCallback);
    return callbacks[0];
  }
  // The answer of an action that must succeed.
  Value ok(const std::string& action, const Value& arg) {
    PageCallback answer = call(action, Array{arg});
    EXPECT_EQ(answer.status, 1) << action << " " << answer.message.description();
    return answer.message;
  }
  Value okWithoutArgument(const std::string& action) {
    PageCallback answer = call(action);
    EXPECT_EQ(answer.status, 1) << action << " " << answer.message.description();
    return answer.message;
  }
  // The error dictionary of an action that must fail.
  Value error(const std::string& action, const Array& arguments) {
    PageCallback answer = call(action, arguments);
    EXPECT_EQ(answer.status, 9) << action << " " << answer.message.description();
    return answer.message;
  }
  static Value errorOf(int code, const char* message) { return Value(Dictionary{{"code", code}, {"message", message}}); }
};

Dictionary options(std::initializer_list<std::pair<const char*, const char*>> entries) {
  Dictionary out;
  for (const auto& [key, value] : entries) out[key] = Value(value);
  return out;
}

}  // namespace

TEST_F(Globalization, DateToStringByLocaleAndOptions) {
  struct Case {
    const char* locale;
    double date;
    Value options;
    const char* expected;
  };
  const Case cases[] = {
      {"en_US", kWinterDate, Value(), "2/1/16, 4:00\u202FPM"},
      // A length without a selector changes nothing.
      {"en_US", kWinterDate, options({{"formatLength", "long"}}), "2/1/16, 4:00\u202FPM"},
      {"en_US", kWinterDate, options({{"selector", "date"}, {"formatLength", "long"}}), "February 1, 2016"},
      {"en_US", kWinterDate, options({{"formatLength", "full"}, {"selector", "date"}}), "Monday, February 1, 2016"},
      {"en_US", kWinterDate, options({{"selector", "date"}, {"formatLength", "full"}}), "Monday, February 1, 2016"},
      // Date 0 is the evening before in New York; with "time" only the time of day is written.
      {"en_US", 0, options({{"selector", "time"}}), "7:00\u202FPM"},
      {"en_US", kWinterDate, options({{"selector", "date and time"}, {"formatLength", "medium"}}),
       "Feb 1, 2016, 4:00:00\u202FPM"},
      // Unknown values and values that are not strings leave the defaults.
      {"en_US", kWinterDate, Value(Dictionary{{"selector", 1}, {"formatLength", "huge"}}), "2/1/16, 4:00\u202FPM"},
      {"en_US", kWinterDate, Value("date"), "2/1/16, 4:00\u202FPM"},
      {"zh_CN", kWinterDate, Value(), "2016/2/1 16:00"},
      {"zh_CN", kWinterDate, options({{"selector", "date"}, {"formatLength", "full"}}), "2016年2月1日星期一"},
      {"de_CH", kWinterDate, Value(), "01.02.16, 16:00"},
      {"de_CH", kWinterDate, options({{"selector", "date"}, {"formatLength", "long"}}), "1. Februar 2016"},
      {"de_CH", kWinterDate, options({{"selector", "time"}, {"formatLength", "medium"}}), "16:00:00"},
  };
  for (const auto& c : cases) {
    useLocale(c.locale);
    Dictionary arg{{"date", c.date}};
    if (!c.options.isAbsent()) arg["options"] = c.options;
    EXPECT_EQ(ok("dateToString", Value(arg)), Value(Dictionary{{"value", c.expected}}))
        << c.locale << " " << c.options.description();
  }
}

// Every length and selector, in each locale: the text a date is written as reads back as that
// date (to the minute for short times; time-only texts fall on 1970-01-01).
TEST_F(Globalization, DatesRoundTripThroughText) {
  const char* lengths[] = {"short", "medium", "long", "full"};
  for (const char* locale : {"en_US", "zh_CN", "de_CH"}) {
    useLocale(locale);
    for (const char* length : lengths) {
      for (const char* selector : {"date", "time", "date and time"}) {
        Dictionary opts = options({{"formatLength", length}, {"selector", selector}});
        std::string text = ok("dateToString", Value(Dictionary{{"date", kWinterDate}, {"options", opts}}))["value"].stringOr();
        Value parts = ok("stringToDate", Value(Dictionary{{"dateString", text}, {"options", opts}}));
        bool hasDate = std::string(selector) != "time";
        bool hasTime = std::string(selector) != "date";
        Value expected(Dictionary{{"year", hasDate ? 2016 : 1970}, {"month", hasDate ? 1 : 0}, {"day", 1},
                                  {"hour", hasTime ? 16 : 0}, {"minute", 0}, {"second", 0}, {"millisecond", 0}});
        EXPECT_EQ(parts, expected) << locale << " " << length << " " << selector << ": " << text;
      }
    }
  }
}

TEST_F(Globalization, StringToDateReadsWholeTextsOnly) {
  useLocale("en_US");
  Dictionary date = options({{"selector", "date"}});
  EXPECT_EQ(ok("stringToDate", Value(Dictionary{{"dateString", "2/1/2016"}, {"options", date}})),
            Value(Dictionary{{"year", 2016}, {"month", 1}, {"day", 1}, {"hour", 0}, {"minute", 0}, {"second", 0},
                             {"millisecond", 0}}));
  // The parser is lenient about the space a person types before PM.
  EXPECT_EQ(ok("stringToDate", Value(Dictionary{{"dateString", "2/1/16, 3:04 PM"}}))["hour"], Value(15));

  const Value unable = errorOf(2, "unable to parse");
  const Array refused[] = {
      {Value(Dictionary{{"dateString", "2/1/16x"}, {"options", date}})},
      {Value(Dictionary{{"dateString", "2/1/16, 3:04 PM and more"}})},
      {Value(Dictionary{{"dateString", "2/1/2016"}})},  // the default wants a time as well
      {Value(Dictionary{{"dateString", ""}, {"options", date}})},
      {Value(Dictionary{{"dateString", "yesterday"}, {"options", date}})},
      {Value(Dictionary{{"dateString", 42}, {"options", date}})},
      {Value(Dictionary{{"options", date}})},
      {Value("2/1/2016")},
  };
  for (const auto& arguments : refused) EXPECT_EQ(error("stringToDate", arguments), unable) << Value(arguments).description();
}

TEST_F(Globalization, DatePatternsWithTheTimeZoneOfNow) {
  struct Case {
    const char* locale;
    Value options;
    const char* pattern;
  };
  const Case cases[] = {
      {"en_US", Value(), "M/d/yy, h:mm\u202Fa"},
      {"en_US", options({{"selector", "date"}, {"formatLength", "full"}}), "EEEE, MMMM d, y"},
      {"zh_CN", Value(), "y/M/d HH:mm"},
      {"de_CH", options({{"selector", "date and time"}, {"formatLength", "medium"}}), "dd.MM.y, HH:mm:ss"},
  };
  for (const auto& c : cases) {
    useLocale(c.locale);
    Dictionary arg;
    if (!c.options.isAbsent()) arg["options"] = c.options;
    Value answer = ok("getDatePattern", Value(arg));
    EXPECT_EQ(answer["pattern"], Value(c.pattern)) << c.locale;
    EXPECT_EQ(answer.asDictionary().size(), 4u);
  }
  // The fixture's clock stands in March 2023, before the change to summer time.
  EXPECT_EQ(ok("getDatePattern", Value(Dictionary{}))["timezone"], Value("EST"));
  EXPECT_EQ(ok("getDatePattern", Value(Dictionary{}))["utc_offset"], Value(-18000));
  EXPECT_EQ(ok("getDatePattern", Value(Dictionary{}))["dst_offset"], Value(0));
  clock_->set(kSummerDate / 1000.0 - plat::kReferenceDateOffset);
  Value summer = ok("getDatePattern", Value(Dictionary{}));
  EXPECT_EQ(summer["timezone"], Value("EDT"));
  EXPECT_EQ(summer["utc_offset"], Value(-14400));
  EXPECT_EQ(summer["dst_offset"], Value(3600));
}

TEST_F(Globalization, DateNames) {
  struct Case {
    const char* locale;
    Value options;
    std::size_t count;
    const char* first;
    const char* second;
  };
  const Case cases[] = {
      {"en_US", Value(), 12, "January", "February"},
      {"en_US", options({{"type", "narrow"}}), 12, "Jan", "Feb"},
      {"en_US", options({{"item", "days"}}), 7, "Sunday", "Monday"},
      // "narrow" gives the abbreviated names.
      {"en_US", options({{"item", "days"}, {"type", "narrow"}}), 7, "Sun", "Mon"},
      {"en_US", options({{"item", "years"}, {"type", "tiny"}}), 12, "January", "February"},
      {"de_CH", options({{"item", "days"}}), 7, "Sonntag", "Montag"},
      {"de_CH", Value(), 12, "Januar", "Februar"},
      {"zh_CN", Value(), 12, "一月", "二月"},
      {"zh_CN", options({{"item", "days"}}), 7, "星期日", "星期一"},
  };
  for (const auto& c : cases) {
    useLocale(c.locale);
    Dictionary arg;
    if (!c.options.isAbsent()) arg["options"] = c.options;
    Value names = ok("getDateNames", Value(arg))["value"];
    ASSERT_TRUE(names.isArray()) << c.locale;
    ASSERT_EQ(names.asArray().size(), c.count) << c.locale << " " << c.options.description();
    EXPECT_EQ(names.at(0), Value(c.first)) << c.locale;
    EXPECT_EQ(names.at(1), Value(c.second)) << c.locale;
  }
}

TEST_F(Globalization, DaylightSavingTimeAndFirstDayOfWeek) {
  useLocale("en_US");
  EXPECT_EQ(ok("isDayLightSavingsTime", Value(Dictionary{{"date", kSummerDate}})), Value(Dictionary{{"dst", true}}));
  EXPECT_EQ(ok("isDayLightSavingsTime", Value(Dictionary{{"date", kWinterDate}})), Value(Dictionary{{"dst", false}}));
  for (const Value& date : {Value("today"), Value(true), Value()})
    EXPECT_EQ(error("isDayLightSavingsTime", {Value(Dictionary{{"date", date}})}), errorOf(0, "Unknown error"));

  // Asked of the locale at the time of the call, not the one the plugin kept.
  const std::pair<const char*, int> firstDays[] = {{"en_US", 1}, {"de_CH", 2}, {"zh_CN", 2}, {"ar_EG", 7}};
  for (const auto& [locale, day] : firstDays) {
    plat::NSLocale::setCurrentLocaleIdentifier(locale);
    EXPECT_EQ(okWithoutArgument("getFirstDayOfWeek"), Value(Dictionary{{"value", day}})) << locale;
  }
}

TEST_F(Globalization, NumbersRoundTripThroughTextInEachStyle) {
  struct Case {
    const char* locale;
    const char* type;
    double number;
    const char* text;
  };
  const Case cases[] = {
      {"en_US", "decimal", 1234.5, "1,234.5"},
      {"en_US", "decimal", -0.125, "-0.125"},
      {"en_US", "currency", 1234.5, "$1,234.50"},
      {"en_US", "percent", 0.5, "50%"},
      {"de_CH", "decimal", 1234.5, "1’234.5"},
      {"de_CH", "currency", 1234.5, "CHF\u00A01’234.50"},
      {"de_CH", "percent", 0.25, "25%"},
      {"zh_CN", "decimal", 1234567.25, "1,234,567.25"},
      {"zh_CN", "currency", 1234.5, "¥1,234.50"},
      {"zh_CN", "percent", 0.75, "75%"},
  };
  for (const auto& c : cases) {
    useLocale(c.locale);
    Dictionary opts = options({{"type", c.type}});
    EXPECT_EQ(ok("numberToString", Value(Dictionary{{"number", c.number}, {"options", opts}})),
              Value(Dictionary{{"value", c.text}}))
        << c.locale << " " << c.type;
    EXPECT_EQ(ok("stringToNumber", Value(Dictionary{{"numberString", c.text}, {"options", opts}})),
              Value(Dictionary{{"value", c.number}}))
        << c.locale << " " << c.type;
  }
  // Integers from the page are numbers too; without options the style is decimal.
  useLocale("en_US");
  EXPECT_EQ(ok("numberToString", Value(Dictionary{{"number", 1000}})), Value(Dictionary{{"value", "1,000"}}));
  // Currency amounts are read leniently: without the sign as well.
  EXPECT_EQ(ok("stringToNumber", Value(Dictionary{{"numberString", "1234.50"}, {"options", options({{"type", "currency"}})}})),
            Value(Dictionary{{"value", 1234.5}}));
}

TEST_F(Globalization, NumbersThatCannotBeWrittenOrRead) {
  useLocale("en_US");
  const Value unableToFormat = errorOf(1, "Unable to format");
  for (const Value& number : {Value("12"), Value(true), Value(), Value(Array{1})})
    EXPECT_EQ(error("numberToString", {Value(Dictionary{{"number", number}})}), unableToFormat) << number.description();
  EXPECT_EQ(error("numberToString", {Value(12)}), unableToFormat);

  const Value unableToParse = errorOf(2, "Unable to parse");
  const std::pair<Value, const char*> texts[] = {
      {Value("1,234.5xyz"), "decimal"}, {Value("12 34"), "decimal"}, {Value(""), "decimal"},
      {Value("50%"), "decimal"},        {Value("abc"), "percent"},    {Value("$1,234.50 USD"), "currency"},
      {Value(1234), "decimal"},
      // Numbers that JSON cannot carry back to the page.
      {Value("NaN"), "decimal"},        {Value("∞"), "decimal"},      {Value("1E400"), "decimal"},
  };
  for (const auto& [text, type] : texts)
    EXPECT_EQ(error("stringToNumber", {Value(Dictionary{{"numberString", text}, {"options", options({{"type", type}})}})}),
              unableToParse)
        << text.description() << " " << type;
}

TEST_F(Globalization, NumberPatterns) {
  struct Case {
    const char* locale;
    const char* type;
    Value expected;
  };
  auto pattern = [](const char* p, const char* symbol, int fraction, const char* decimal, const char* grouping) {
    return Value(Dictionary{{"pattern", p},   {"symbol", symbol},   {"fraction", fraction}, {"rounding", 0},
                            {"positive", "+"}, {"negative", "-"}, {"decimal", decimal},   {"grouping", grouping}});
  };
  const Case cases[] = {
      {"en_US", "decimal", pattern("#,##0.###", "", 0, ".", ",")},
      {"en_US", "currency", pattern("¤#,##0.00", "$", 2, ".", ",")},
      {"en_US", "percent", pattern("#,##0%", "%", 0, ".", ",")},
      {"de_CH", "decimal", pattern("#,##0.###", "", 0, ".", "’")},
      {"de_CH", "currency", pattern("¤\u00A0#,##0.00;¤-#,##0.00", "CHF", 2, ".", "’")},
      {"zh_CN", "currency", pattern("¤#,##0.00", "¥", 2, ".", ",")},
  };
  for (const auto& c : cases) {
    useLocale(c.locale);
    Value answer = ok("getNumberPattern", Value(Dictionary{{"options", options({{"type", c.type}})}}));
    EXPECT_EQ(answer, c.expected) << c.locale << " " << c.type << ": " << answer.description();
  }
}

TEST_F(Globalization, CurrencyPatterns) {
  struct Case {
    const char* locale;
    const char* code;
    const char* pattern;
    int fraction;
    const char* decimal;
    const char* grouping;
  };
  const Case cases[] = {
      {"en_US", "USD", "¤#,##0.00", 2, ".", ","},
      {"en_US", "JPY", "¤#,##0", 0, ".", ","},
      {"en_US", "BHD", "¤#,##0.000", 3, ".", ","},
      // The code goes back as the page wrote it.
      {"en_US", "eur", "¤#,##0.00", 2, ".", ","},
      {"de_CH", "CHF", "¤\u00A0#,##0.00;¤-#,##0.00", 2, ".", "’"},
      {"zh_CN", "CNY", "¤#,##0.00", 2, ".", ","},
  };
  for (const auto& c : cases) {
    useLocale(c.locale);
    Value answer = ok("getCurrencyPattern", Value(Dictionary{{"currencyCode", c.code}}));
    EXPECT_EQ(answer, Value(Dictionary{{"pattern", c.pattern},
                               {"code", c.code},
                               {"fraction", c.fraction},
                               {"rounding", 0},
                               {"decimal", c.decimal},
                               {"grouping", c.grouping}}))
        << c.locale << " " << c.code << ": " << answer.description();
  }
  const Value unable = errorOf(3, "Unable to get pattern");
  for (const Value& code : {Value("XYZ"), Value("US"), Value("USDX"), Value(""), Value("dollars"), Value(840), Value()})
    EXPECT_EQ(error("getCurrencyPattern", {Value(Dictionary{{"currencyCode", code}})}), unable) << code.description();
}

TEST_F(Globalization, PreferredLanguageAndLocaleName) {
  struct Case {
    std::optional<std::vector<std::string>> languages;
    const char* locale;
    const char* language;
    const char* localeName;
  };
  const Case cases[] = {
      {std::nullopt, "en_US", "en-US", "en-US"},
      {std::vector<std::string>{"de", "en"}, "de_CH@currency=EUR", "de-CH", "de-CH@currency=EUR"},
      {std::vector<std::string>{"zh-Hans"}, "zh_Hans_CN", "zh-Hans", "zh-Hans-CN"},
      {std::vector<std::string>{"fr"}, "fr", "fr", "fr"},
      // A keyword with an underscore is no region.
      {std::vector<std::string>{"de"}, "de@collation=phone_book", "de", "de@collation=phone-book"},
  };
  useLocale("en_US");
  for (const auto& c : cases) {
    plat::NSLocale::setPreferredLanguages(c.languages);
    plat::NSLocale::setCurrentLocaleIdentifier(c.locale);
    EXPECT_EQ(okWithoutArgument("getPreferredLanguage"), Value(Dictionary{{"value", c.language}})) << c.locale;
    EXPECT_EQ(okWithoutArgument("getLocaleName"), Value(Dictionary{{"value", c.localeName}})) << c.locale;
  }
  plat::NSLocale::setPreferredLanguages(std::vector<std::string>{});
  EXPECT_EQ(error("getPreferredLanguage", {}), errorOf(0, "Unknown error"));
}

TEST_F(Globalization, FormattersKeepTheLocaleOfTheirStart) {
  useLocale("en_US");
  plat::NSLocale::setCurrentLocaleIdentifier("de_CH");
  EXPECT_EQ(ok("numberToString", Value(Dictionary{{"number", 1234.5}})), Value(Dictionary{{"value", "1,234.5"}}));
  EXPECT_EQ(okWithoutArgument("getLocaleName"), Value(Dictionary{{"value", "de-CH"}}));
}

TEST_F(Globalization, EachActionThatReadsAnArgumentRefusesToGoWithoutOne) {
  useLocale("en_US");
  const char* actions[] = {"dateToString",     "stringToDate",   "getDatePattern",   "getDateNames",
                           "isDayLightSavingsTime", "numberToString", "stringToNumber", "getNumberPattern",
                           "getCurrencyPattern"};
  for (const char* action : actions) {
    for (const Array& arguments : {Array{}, Array{Value::null()}}) {
      PageCallback answer = call(action, arguments);
      EXPECT_EQ(answer.status, 9) << action;
      EXPECT_EQ(answer.message, Value("no options given")) << action;
    }
  }
  // A bare value where the dictionary belongs is a dictionary without keys.
  EXPECT_EQ(ok("getDateNames", Value(7))["value"].asArray().size(), 12u);
  EXPECT_EQ(ok("getNumberPattern", Value(Array{}))["pattern"], Value("#,##0.###"));
  EXPECT_EQ(error("dateToString", {Value("now")}), errorOf(1, "Formatting error"));
  // Dates beyond what a page's Date can hold are not formatted.
  EXPECT_EQ(error("dateToString", {Value(Dictionary{{"date", 1e300}})}), errorOf(1, "Formatting error"));
}
