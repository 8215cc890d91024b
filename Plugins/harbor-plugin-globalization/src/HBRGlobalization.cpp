#include "HBRGlobalization.h"

#include <algorithm>
#include <string_view>

#include "plat/foundation/NSCalendar.h"
#include "plat/foundation/NSDateFormatter.h"
#include "plat/foundation/NSNumberFormatter.h"
#include "plat/foundation/NSTimeZone.h"

namespace harbor {
namespace {

using plat::NSDateFormatterStyle;
using plat::NSNumberFormatterStyle;
using plat::Value;

constexpr char kNoOptions[] = "no options given";
constexpr char kUnknownError[] = "Unknown error";

// A page number; booleans are not dates or amounts, whatever the platform's boxing says.
bool isNumeric(const Value& value) { return value.isInteger() || value.isDouble(); }

// The value of a string option when it is one of the names given, in the order given.
template <std::size_t N>
std::optional<std::size_t> choice(const Value& options, std::string_view key, const char* const (&names)[N]) {
  const Value& value = options[key];
  if (!value.isString()) return std::nullopt;
  for (std::size_t i = 0; i < N; ++i)
    if (value.asString() == names[i]) return i;
  return std::nullopt;
}

struct DateStyles {
  NSDateFormatterStyle date = NSDateFormatterStyle::ShortStyle;
  NSDateFormatterStyle time = NSDateFormatterStyle::ShortStyle;
};

// "formatLength" counts only together with a "selector"; without one both styles stay short.
DateStyles dateStyles(const Value& options) {
  static const char* const kLengths[] = {"short", "medium", "long", "full"};
  static const char* const kSelectors[] = {"date", "time", "date and time"};
  auto length = static_cast<NSDateFormatterStyle>(choice(options, "formatLength", kLengths).value_or(0) + 1);
  DateStyles styles;
  switch (choice(options, "selector", kSelectors).value_or(3)) {
    case 0: styles = {length, NSDateFormatterStyle::NoStyle}; break;
    case 1: styles = {NSDateFormatterStyle::NoStyle, length}; break;
    case 2: styles = {length, length}; break;
    default: break;
  }
  return styles;
}

NSNumberFormatterStyle numberStyle(const Value& options) {
  static const char* const kTypes[] = {"decimal", "currency", "percent"};
  return static_cast<NSNumberFormatterStyle>(choice(options, "type", kTypes).value_or(0) + 1);
}

// The "options" entry of arg; anything but a dictionary counts as no options.
const Value& optionsOf(const Value& arg) {
  static const Value empty{plat::Dictionary{}};
  const Value& options = arg["options"];
  return options.isDictionary() ? options : empty;
}

std::shared_ptr<plat::NSDateFormatter> dateFormatter(const plat::NSLocalePtr& locale, DateStyles styles) {
  auto formatter = std::make_shared<plat::NSDateFormatter>();
  formatter->setLocale(locale);
  formatter->setDateStyle(styles.date);
  formatter->setTimeStyle(styles.time);
  return formatter;
}

std::shared_ptr<plat::NSNumberFormatter> numberFormatter(const plat::NSLocalePtr& locale, NSNumberFormatterStyle style) {
  auto formatter = std::make_shared<plat::NSNumberFormatter>();
  formatter->setLocale(locale);
  formatter->setNumberStyle(style);
  return formatter;
}

std::string withHyphens(std::string text) {
  std::replace(text.begin(), text.end(), '_', '-');
  return text;
}

}  // namespace

HBRGlobalization::HBRGlobalization() {
  registerAction("getPreferredLanguage", &HBRGlobalization::getPreferredLanguage);
  registerAction("getLocaleName", &HBRGlobalization::getLocaleName);
  registerAction("dateToString", &HBRGlobalization::dateToString);
  registerAction("stringToDate", &HBRGlobalization::stringToDate);
  registerAction("getDatePattern", &HBRGlobalization::getDatePattern);
  registerAction("getDateNames", &HBRGlobalization::getDateNames);
  registerAction("isDayLightSavingsTime", &HBRGlobalization::isDayLightSavingsTime);
  registerAction("getFirstDayOfWeek", &HBRGlobalization::getFirstDayOfWeek);
  registerAction("numberToString", &HBRGlobalization::numberToString);
  registerAction("stringToNumber", &HBRGlobalization::stringToNumber);
  registerAction("getNumberPattern", &HBRGlobalization::getNumberPattern);
  registerAction("getCurrencyPattern", &HBRGlobalization::getCurrencyPattern);
}

void HBRGlobalization::pluginInitialize() { currentLocale_ = plat::NSLocale::currentLocale(); }

plat::NSLocalePtr HBRGlobalization::formatterLocale() const {
  return currentLocale_ ? currentLocale_ : plat::NSLocale::currentLocale();
}

void HBRGlobalization::sendValue(const HBRInvokedUrlCommandPtr& command, plat::Dictionary result) {
  if (auto delegate = commandDelegate())
    delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(result)),
                               command->callbackId());
}

void HBRGlobalization::sendError(const HBRInvokedUrlCommandPtr& command, HBRGlobalizationError code,
                                 const char* message) {
  plat::Dictionary error{{"code", static_cast<int>(code)}, {"message", message}};
  if (auto delegate = commandDelegate())
    delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::Error, std::move(error)),
                               command->callbackId());
}

const Value* HBRGlobalization::argument(const HBRInvokedUrlCommandPtr& command) {
  const Value& arg = command->argumentAtIndex(0);
  if (arg.isNil()) {
    if (auto delegate = commandDelegate())
      delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::Error, kNoOptions),
                                 command->callbackId());
    return nullptr;
  }
  // A page that sends a bare value where the dictionary belongs gets the answer for a
  // dictionary without the keys, not a crash.
  static const Value empty{plat::Dictionary{}};
  return arg.isDictionary() ? &arg : &empty;
}

void HBRGlobalization::getPreferredLanguage(const HBRInvokedUrlCommandPtr& command) {
  auto languages = plat::NSLocale::preferredLanguages();
  if (languages.empty() || languages.front().empty()) {
    sendError(command, HBRGlobalizationError::Unknown, kUnknownError);
    return;
  }
  std::string language = languages.front();
  if (language.size() < 3) {
    // A bare language ("en") takes the locale's region: "en_US@calendar=..." gives "_US". The
    // region is looked for before the "@", so that a keyword with an underscore is never taken
    // for one.
    const std::string& identifier = plat::NSLocale::currentLocale()->localeIdentifier();
    std::string_view head = std::string_view(identifier).substr(0, identifier.find('@'));
    auto underscore = head.rfind('_');
    if (underscore != std::string_view::npos) language += head.substr(underscore);
  }
  sendValue(command, {{"value", withHyphens(language)}});
}

void HBRGlobalization::getLocaleName(const HBRInvokedUrlCommandPtr& command) {
  auto locale = plat::NSLocale::currentLocale();
  if (!locale) {
    sendError(command, HBRGlobalizationError::Unknown, kUnknownError);
    return;
  }
  sendValue(command, {{"value", withHyphens(locale->localeIdentifier())}});
}

void HBRGlobalization::dateToString(const HBRInvokedUrlCommandPtr& command) {
  auto args = argument(command);
  if (!args) return;
  const Value& date = (*args)["date"];
  std::optional<std::string> text;
  if (isNumeric(date))
    text = dateFormatter(formatterLocale(), dateStyles(optionsOf(*args)))->stringFromDate(date.asDouble() / 1000.0);
  if (!text) {
    sendError(command, HBRGlobalizationError::Formatting, "Formatting error");
    return;
  }
  sendValue(command, {{"value", *text}});
}

void HBRGlobalization::stringToDate(const HBRInvokedUrlCommandPtr& command) {
  auto args = argument(command);
  if (!args) return;
  const Value& text = (*args)["dateString"];
  std::optional<plat::NSDateComponents> parts;
  if (text.isString()) {
    auto formatter = dateFormatter(formatterLocale(), dateStyles(optionsOf(*args)));
    formatter->setLenient(true);
    if (auto date = formatter->dateFromString(text.asString())) parts = plat::NSCalendar::currentCalendar()->components(*date);
  }
  if (!parts) {
    sendError(command, HBRGlobalizationError::Parsing, "unable to parse");
    return;
  }
  sendValue(command, {{"year", parts->year},
                      {"month", parts->month - 1},  // the page counts months from 0, as Date does
                      {"day", parts->day},
                      {"hour", parts->hour},
                      {"minute", parts->minute},
                      {"second", parts->second},
                      {"millisecond", 0}});
}

void HBRGlobalization::getDatePattern(const HBRInvokedUrlCommandPtr& command) {
  auto args = argument(command);
  if (!args) return;
  auto formatter = dateFormatter(formatterLocale(), dateStyles(optionsOf(*args)));
  std::string pattern = formatter->dateFormat();
  auto zone = formatter->timeZone();
  if (pattern.empty() || !zone) {
    sendError(command, HBRGlobalizationError::Pattern, "Pattern error");
    return;
  }
  sendValue(command, {{"pattern", pattern},
                      {"timezone", zone->abbreviation()},
                      {"utc_offset", zone->secondsFromGMT()},
                      {"dst_offset", zone->daylightSavingTimeOffset()}});
}

void HBRGlobalization::getDateNames(const HBRInvokedUrlCommandPtr& command) {
  static const char* const kTypes[] = {"narrow", "wide"};
  static const char* const kItems[] = {"months", "days"};
  auto args = argument(command);
  if (!args) return;
  const Value& options = optionsOf(*args);
  bool wide = choice(options, "type", kTypes).value_or(1) == 1;
  bool months = choice(options, "item", kItems).value_or(0) == 0;
  auto formatter = dateFormatter(formatterLocale(), {NSDateFormatterStyle::FullStyle, NSDateFormatterStyle::FullStyle});
  std::vector<std::string> names = months ? (wide ? formatter->monthSymbols() : formatter->shortMonthSymbols())
                                          : (wide ? formatter->weekdaySymbols() : formatter->shortWeekdaySymbols());
  if (names.empty()) {
    sendError(command, HBRGlobalizationError::Unknown, kUnknownError);
    return;
  }
  plat::Array values(names.begin(), names.end());
  sendValue(command, {{"value", std::move(values)}});
}

void HBRGlobalization::isDayLightSavingsTime(const HBRInvokedUrlCommandPtr& command) {
  auto args = argument(command);
  if (!args) return;
  const Value& date = (*args)["date"];
  if (!isNumeric(date)) {
    sendError(command, HBRGlobalizationError::Unknown, kUnknownError);
    return;
  }
  auto zone = plat::NSCalendar::currentCalendar()->timeZone();
  sendValue(command, {{"dst", zone->isDaylightSavingTimeForDate(date.asDouble() / 1000.0)}});
}

void HBRGlobalization::getFirstDayOfWeek(const HBRInvokedUrlCommandPtr& command) {
  sendValue(command, {{"value", plat::NSCalendar::autoupdatingCurrentCalendar()->firstWeekday()}});
}

void HBRGlobalization::numberToString(const HBRInvokedUrlCommandPtr& command) {
  auto args = argument(command);
  if (!args) return;
  const Value& number = (*args)["number"];
  std::optional<std::string> text;
  if (isNumeric(number)) text = numberFormatter(formatterLocale(), numberStyle(optionsOf(*args)))->stringFromNumber(number.asDouble());
  if (!text) {
    sendError(command, HBRGlobalizationError::Formatting, "Unable to format");
    return;
  }
  sendValue(command, {{"value", *text}});
}

void HBRGlobalization::stringToNumber(const HBRInvokedUrlCommandPtr& command) {
  auto args = argument(command);
  if (!args) return;
  const Value& text = (*args)["numberString"];
  std::optional<double> number;
  if (text.isString()) {
    NSNumberFormatterStyle style = numberStyle(optionsOf(*args));
    auto formatter = numberFormatter(formatterLocale(), style);
    // People write amounts with and without the currency sign.
    if (style == NSNumberFormatterStyle::CurrencyStyle) formatter->setLenient(true);
    number = formatter->numberFromString(text.asString());
  }
  if (!number) {
    sendError(command, HBRGlobalizationError::Parsing, "Unable to parse");
    return;
  }
  sendValue(command, {{"value", *number}});
}

void HBRGlobalization::getNumberPattern(const HBRInvokedUrlCommandPtr& command) {
  auto args = argument(command);
  if (!args) return;
  NSNumberFormatterStyle style = numberStyle(optionsOf(*args));
  auto formatter = numberFormatter(formatterLocale(), style);
  std::string pattern = formatter->format();
  if (pattern.empty()) {
    sendError(command, HBRGlobalizationError::Pattern, "Pattern error");
    return;
  }
  std::string symbol = style == NSNumberFormatterStyle::CurrencyStyle  ? formatter->currencySymbol()
                       : style == NSNumberFormatterStyle::PercentStyle ? formatter->percentSymbol()
                                                                       : std::string();
  sendValue(command, {{"pattern", pattern},
                      {"symbol", symbol},
                      {"fraction", formatter->minimumFractionDigits()},
                      {"rounding", formatter->roundingIncrement()},
                      {"positive", formatter->plusSign()},
                      {"negative", formatter->minusSign()},
                      {"decimal", formatter->decimalSeparator()},
                      {"grouping", formatter->groupingSeparator()}});
}

void HBRGlobalization::getCurrencyPattern(const HBRInvokedUrlCommandPtr& command) {
  auto args = argument(command);
  if (!args) return;
  const Value& code = (*args)["currencyCode"];
  std::int32_t fraction = 0;
  double rounding = 0;
  if (!code.isString() || !plat::CFNumberFormatterGetDecimalInfoForCurrencyCode(code.asString(), &fraction, &rounding)) {
    sendError(command, HBRGlobalizationError::Pattern, "Unable to get pattern");
    return;
  }
  auto formatter = numberFormatter(formatterLocale(), NSNumberFormatterStyle::CurrencyStyle);
  formatter->setCurrencyCode(code.asString());
  formatter->setInternationalCurrencySymbol(code.asString());
  sendValue(command, {{"pattern", formatter->format()},
                      {"code", code.asString()},
                      {"fraction", fraction},
                      {"rounding", rounding},
                      {"decimal", formatter->currencyDecimalSeparator()},
                      {"grouping", formatter->currencyGroupingSeparator()}});
}

}  // namespace harbor
