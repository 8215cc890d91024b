#pragma once
// The device's language and locale, and dates and numbers written and read the way the locale
// does. Every action answers once, on the main thread where the bridge calls it, with
// keep-callback off; nothing is kept between actions.
//
// Dates cross the bridge as milliseconds since 1970-01-01 00:00 UTC. "arg" is the dictionary in
// argument 0; an action that reads it answers Error (9) with the plain text "no options given"
// when argument 0 is missing or null. An argument 0 or an "options" value that is not a
// dictionary counts as an empty one.
//
// Options (read only when their value is a string from the list; anything else is ignored):
//   "formatLength" "short" | "medium" | "long" | "full"; "selector" "date" | "time" |
//   "date and time" (without a selector, date and time are both short whatever the length);
//   "type" "decimal" | "currency" | "percent" for numbers, "narrow" | "wide" for names;
//   "item" "months" | "days".
//
// Page actions; errors are Error (9) with {"code", "message"}:
//   getPreferredLanguage []   -> {"value": "en-US"}: the first preferred language, with the
//                                locale's region added when it is a bare language; code 0
//   getLocaleName []          -> {"value": "de-CH"}: the locale now, "_" written "-"; code 0
//   dateToString [{date, options}]       -> {"value": text}; code 1 "Formatting error"
//   stringToDate [{dateString, options}] -> {"year", "month" (0-11), "day", "hour", "minute",
//                                "second", "millisecond": 0}; code 2 "unable to parse"
//   getDatePattern [{options}]  -> {"pattern", "timezone", "utc_offset" (s), "dst_offset" (s)};
//                                  code 3 "Pattern error"
//   getDateNames [{options}]    -> {"value": [names]} (weekdays from Sunday; "narrow" gives
//                                  the abbreviated names); code 0
//   isDayLightSavingsTime [{date}] -> {"dst": bool}; code 0
//   getFirstDayOfWeek []        -> {"value": 1 (Sunday) .. 7}; code 0
//   numberToString [{number, options}]       -> {"value": text}; code 1 "Unable to format"
//   stringToNumber [{numberString, options}] -> {"value": number}; code 2 "Unable to parse"
//   getNumberPattern [{options}] -> {"pattern", "symbol", "fraction", "rounding", "positive",
//                                   "negative", "decimal", "grouping"}; code 3 "Pattern error"
//   getCurrencyPattern [{currencyCode}] -> {"pattern", "code", "fraction", "rounding",
//                                   "decimal", "grouping"}; code 3 "Unable to get pattern"
// Texts to parse must be read whole: "1,234.5xyz" is no number and "2/1/16x" no date.
#include "HBRPlugin.h"
#include "plat/foundation/NSLocale.h"

namespace harbor {

// The error codes of the answers.
enum class HBRGlobalizationError : int { Unknown = 0, Formatting = 1, Parsing = 2, Pattern = 3 };

class HBRGlobalization : public HBRPlugin {
 public:
  HBRGlobalization();

  // Keeps the locale of this moment: every formatter is built on it, so a page sees one locale
  // for the plugin's life. The locale-name, language, daylight-saving and first-weekday
  // actions ask the system each time instead.
  void pluginInitialize() override;

  void getPreferredLanguage(const HBRInvokedUrlCommandPtr& command);
  void getLocaleName(const HBRInvokedUrlCommandPtr& command);
  void dateToString(const HBRInvokedUrlCommandPtr& command);
  void stringToDate(const HBRInvokedUrlCommandPtr& command);
  void getDatePattern(const HBRInvokedUrlCommandPtr& command);
  void getDateNames(const HBRInvokedUrlCommandPtr& command);
  void isDayLightSavingsTime(const HBRInvokedUrlCommandPtr& command);
  void getFirstDayOfWeek(const HBRInvokedUrlCommandPtr& command);
  void numberToString(const HBRInvokedUrlCommandPtr& command);
  void stringToNumber(const HBRInvokedUrlCommandPtr& command);
  void getNumberPattern(const HBRInvokedUrlCommandPtr& command);
  void getCurrencyPattern(const HBRInvokedUrlCommandPtr& command);

  const plat::NSLocalePtr& currentLocale() const { return currentLocale_; }

 private:
  void sendValue(const HBRInvokedUrlCommandPtr& command, plat::Dictionary result);
  void sendError(const HBRInvokedUrlCommandPtr& command, HBRGlobalizationError code, const char* message);
  // Argument 0 as a dictionary (the command's own, or an empty one); null, after answering
  // "no options given", when it is missing or null.
  const plat::Value* argument(const HBRInvokedUrlCommandPtr& command);
  // The locale the formatters use (the one kept at start, or today's when there is none yet).
  plat::NSLocalePtr formatterLocale() const;

  plat::NSLocalePtr currentLocale_;
};

}  // namespace harbor
