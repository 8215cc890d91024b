#include "plat/foundation/NSNumberFormatter.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/numfmt.h>
#include <unicode/ucurr.h>

#include <cctype>
#include <cmath>

#include "ICUSupport.h"

namespace plat {

struct NSNumberFormatter::Shared {
  std::mutex lock;
  std::unique_ptr<icu::DecimalFormat> formatter;
};

namespace {

// "usd" -> "USD"; nothing unless the text is three ASCII letters.
std::optional<std::string> isoCode(std::string_view code) {
  if (code.size() != 3) return std::nullopt;
  std::string upper;
  for (char c : code) {
    if (!std::isalpha(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) > 127) return std::nullopt;
    upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return upper;
}

UNumberFormatStyle icuStyle(NSNumberFormatterStyle style) {
  switch (style) {
    case NSNumberFormatterStyle::CurrencyStyle: return UNUM_CURRENCY;
    case NSNumberFormatterStyle::PercentStyle: return UNUM_PERCENT;
    case NSNumberFormatterStyle::DecimalStyle:
    case NSNumberFormatterStyle::NoStyle: break;
  }
  return UNUM_DECIMAL;
}

}  // namespace

bool CFNumberFormatterGetDecimalInfoForCurrencyCode(std::string_view currencyCode, std::int32_t* defaultFractionDigits,
                                                    double* roundingIncrement) {
  auto code = isoCode(currencyCode);
  if (!code) return false;
  icu::UnicodeString text = icu_support::toUnicode(*code);
  UErrorCode status = U_ZERO_ERROR;
  // Any currency the data has ever known, withdrawn ones included (the platform knows them too).
  if (!ucurr_isAvailable(text.getTerminatedBuffer(), U_DATE_MIN, U_DATE_MAX, &status) || U_FAILURE(status))
    return false;
  std::int32_t digits = ucurr_getDefaultFractionDigits(text.getTerminatedBuffer(), &status);
  double increment = ucurr_getRoundingIncrement(text.getTerminatedBuffer(), &status);
  if (U_FAILURE(status)) return false;
  if (defaultFractionDigits) *defaultFractionDigits = digits;
  if (roundingIncrement) *roundingIncrement = increment;
  return true;
}

NSNumberFormatter::NSNumberFormatter() : locale_(NSLocale::currentLocale()) {}

NSNumberFormatter::~NSNumberFormatter() = default;

void NSNumberFormatter::setLocale(NSLocalePtr locale) {
  locale_ = locale ? std::move(locale) : NSLocale::currentLocale();
  changed();
}

void NSNumberFormatter::setNumberStyle(NSNumberFormatterStyle style) {
  style_ = style;
  changed();
}

void NSNumberFormatter::setLenient(bool lenient) {
  lenient_ = lenient;
  changed();
}

void NSNumberFormatter::setCurrencyCode(std::string code) {
  auto iso = isoCode(code);
  if (!iso) return;
  currencyCode_ = *iso;
  changed();
}

void NSNumberFormatter::setInternationalCurrencySymbol(std::string symbol) {
  internationalCurrencySymbol_ = std::move(symbol);
  changed();
}

std::shared_ptr<NSNumberFormatter::Shared> NSNumberFormatter::shared() const {
  if (shared_) return shared_;
  std::string key = locale_->localeIdentifier() + "|" + std::to_string(static_cast<int>(style_)) +
                    (lenient_ ? "|lenient|" : "|strict|") + currencyCode_.value_or("") + "|" +
                    (internationalCurrencySymbol_ ? "=" + *internationalCurrencySymbol_ : "");
  shared_ = icu_support::sharedCache<Shared>().get(key, [this]() -> std::unique_ptr<icu::DecimalFormat> {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> made(
        icu::NumberFormat::createInstance(icu_support::localeFor(locale_->localeIdentifier()), icuStyle(style_), status));
    auto* decimal = dynamic_cast<icu::DecimalFormat*>(made.get());
    if (U_FAILURE(status) || !decimal) return nullptr;
    made.release();
    std::unique_ptr<icu::DecimalFormat> formatter(decimal);
    if (style_ == NSNumberFormatterStyle::NoStyle) {
      formatter->setMaximumFractionDigits(0);
      formatter->setGroupingUsed(false);
    }
    if (currencyCode_) {
      icu::UnicodeString code = icu_support::toUnicode(*currencyCode_);
      formatter->setCurrency(code.getTerminatedBuffer(), status);
      if (U_FAILURE(status)) return nullptr;
    }
    if (internationalCurrencySymbol_) {
      icu::DecimalFormatSymbols symbols(*formatter->getDecimalFormatSymbols());
      symbols.setSymbol(icu::DecimalFormatSymbols::kIntlCurrencySymbol,
                        icu_support::toUnicode(*internationalCurrencySymbol_));
      formatter->setDecimalFormatSymbols(symbols);
    }
    formatter->setLenient(lenient_);
    return formatter;
  });
  return shared_;
}

std::string NSNumberFormatter::currencyCode() const {
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  if (!entry->formatter) return currencyCode_.value_or("");
  return icu_support::toUTF8(icu::UnicodeString(entry->formatter->getCurrency()));
}

std::string NSNumberFormatter::internationalCurrencySymbol() const {
  return symbol(icu::DecimalFormatSymbols::kIntlCurrencySymbol);
}

std::string NSNumberFormatter::format() const {
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  if (!entry->formatter) return {};
  icu::UnicodeString pattern;
  entry->formatter->toPattern(pattern);
  return icu_support::toUTF8(pattern);
}

std::string NSNumberFormatter::symbol(int which) const {
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  if (!entry->formatter) return {};
  return icu_support::toUTF8(entry->formatter->getDecimalFormatSymbols()->getSymbol(
      static_cast<icu::DecimalFormatSymbols::ENumberFormatSymbol>(which)));
}

std::string NSNumberFormatter::currencySymbol() const { return symbol(icu::DecimalFormatSymbols::kCurrencySymbol); }
std::string NSNumberFormatter::percentSymbol() const { return symbol(icu::DecimalFormatSymbols::kPercentSymbol); }
std::string NSNumberFormatter::plusSign() const { return symbol(icu::DecimalFormatSymbols::kPlusSignSymbol); }
std::string NSNumberFormatter::minusSign() const { return symbol(icu::DecimalFormatSymbols::kMinusSignSymbol); }
std::string NSNumberFormatter::decimalSeparator() const {
  return symbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol);
}
std::string NSNumberFormatter::groupingSeparator() const {
  return symbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol);
}
std::string NSNumberFormatter::currencyDecimalSeparator() const {
  return symbol(icu::DecimalFormatSymbols::kMonetarySeparatorSymbol);
}
std::string NSNumberFormatter::currencyGroupingSeparator() const {
  return symbol(icu::DecimalFormatSymbols::kMonetaryGroupingSeparatorSymbol);
}

int NSNumberFormatter::minimumFractionDigits() const {
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  return entry->formatter ? entry->formatter->getMinimumFractionDigits() : 0;
}

double NSNumberFormatter::roundingIncrement() const {
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  return entry->formatter ? entry->formatter->getRoundingIncrement() : 0.0;
}

std::optional<std::string> NSNumberFormatter::stringFromNumber(double number) const {
  if (!std::isfinite(number)) return std::nullopt;
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  if (!entry->formatter) return std::nullopt;
  icu::UnicodeString text;
  entry->formatter->format(number, text);
  return icu_support::toUTF8(text);
}

std::optional<double> NSNumberFormatter::numberFromString(std::string_view text) const {
  if (text.empty()) return std::nullopt;
  icu::UnicodeString input = icu_support::toUnicode(text);
  auto entry = shared();
  std::lock_guard<std::mutex> lock(entry->lock);
  if (!entry->formatter) return std::nullopt;
  icu::Formattable result;
  icu::ParsePosition position(0);
  entry->formatter->parse(input, result, position);
  // ICU reads as far as it can and calls that a success: "1,234.5xyz" would be 1234.5.
  if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  double value = result.getDouble(status);
  // ICU reads "NaN", "∞" and "1E400" as numbers no page value can carry.
  if (U_FAILURE(status) || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace plat
