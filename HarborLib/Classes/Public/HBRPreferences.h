#pragma once
// Preference access. The container keeps preferences under lower-cased names, so config.xml may
// spell a name in any case; every lookup lower-cases the name it is given.
//
// Texts are read by fixed rules that do not depend on the C library's locale:
// - boolean: skip leading white space, one optional sign and leading zeros; true when the next
//   character is Y, y, T, t or a digit 1-9 ("true", "YES", "1", "t" are true; "false", "no",
//   "0", "off" and "" are false);
// - number: skip leading white space, take the longest prefix that forms a decimal number
//   (sign, digits, point, exponent) in single precision; 0 when there is none; trailing text is
//   ignored ("3000ms" is 3000, "abc" is 0).
// Stored numbers and booleans are read by value. Other kinds (arrays, dictionaries, null) have
// no reading and give the default.
#include <string_view>

#include "plat/foundation/Value.h"

namespace harbor {

// The stored value under the lower-cased name, or an absent value.
const plat::Value& harborSettingForKey(const plat::Dictionary& settings, std::string_view name);
// The boolean reading of the stored value; the default when nothing is stored.
bool harborBoolSettingForKey(const plat::Dictionary& settings, std::string_view name, bool defaultValue);
// The number reading of the stored value (single precision, widened); the default when nothing
// is stored.
double harborFloatSettingForKey(const plat::Dictionary& settings, std::string_view name, double defaultValue);
// Stores the value under the lower-cased name.
void setHarborSetting(plat::Dictionary& settings, plat::Value value, std::string_view name);

// The reading rules themselves.
bool HBRBoolValueOfText(std::string_view text);
float HBRFloatValueOfText(std::string_view text);

}  // namespace harbor
