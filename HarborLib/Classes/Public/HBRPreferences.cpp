#include "HBRPreferences.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>
#include <string>

#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A "C" locale of our own, so that a process-wide setlocale cannot change how "1.5" reads.
locale_t cLocale() {
  static locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
  return locale;
}

}  // namespace

bool HBRBoolValueOfText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] == '0') ++i;
  if (i >= text.size()) return false;
  char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

float HBRFloatValueOfText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0f;
  // An exponent counts only when it has digits: "1e" reads as 1.
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && isDigit(text[j])) {
      while (j < text.size() && isDigit(text[j])) ++j;
      i = j;
    }
  }
  std::string number(text.substr(start, i - start));
  return strtof_l(number.c_str(), nullptr, cLocale());
}

const plat::Value& harborSettingForKey(const plat::Dictionary& settings, std::string_view name) {
  return settings.get(plat::toLowerASCII(name));
}

bool harborBoolSettingForKey(const plat::Dictionary& settings, std::string_view name, bool defaultValue) {
  const plat::Value& value = harborSettingForKey(settings, name);
  if (value.isString()) return HBRBoolValueOfText(value.asString());
  if (value.isNumber()) return value.asBool();
  return defaultValue;
}

double harborFloatSettingForKey(const plat::Dictionary& settings, std::string_view name, double defaultValue) {
  const plat::Value& value = harborSettingForKey(settings, name);
  if (value.isString()) return static_cast<double>(HBRFloatValueOfText(value.asString()));
  if (value.isNumber()) return value.asDouble();
  return defaultValue;
}

void setHarborSetting(plat::Dictionary& settings, plat::Value value, std::string_view name) {
  settings.set(plat::toLowerASCII(name), std::move(value));
}

}  // namespace harbor
