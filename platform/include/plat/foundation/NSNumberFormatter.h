#pragma once
// Numbers as a locale writes them (decimal, currency, percent), and back, over ICU, with the
// locale's symbols and the currency data. Like the date formatter, a formatter is a description
// whose ICU formatter is built once per description and shared. Any thread; one formatter object
// is not to be changed while another thread uses it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/NSLocale.h"
#include "plat/foundation/Object.h"

namespace plat {

enum class NSNumberFormatterStyle : int { NoStyle = 0, DecimalStyle = 1, CurrencyStyle = 2, PercentStyle = 3 };

class NSNumberFormatter : public Object {
 public:
  // The current locale as it is now; no style (whole numbers without grouping); not lenient.
  NSNumberFormatter();
  ~NSNumberFormatter() override;

  NSLocalePtr locale() const { return locale_; }
  void setLocale(NSLocalePtr locale);
  NSNumberFormatterStyle numberStyle() const { return style_; }
  void setNumberStyle(NSNumberFormatterStyle style);
  // Lenient reading also takes a currency amount written without its symbol, or with the
  // symbol spaced differently.
  bool isLenient() const { return lenient_; }
  void setLenient(bool lenient);
  // The ISO 4217 code of the currency style; the locale's own currency until set. A code that is
  // not three ASCII letters is ignored.
  std::string currencyCode() const;
  void setCurrencyCode(std::string code);
  // What the pattern's "¤¤" writes; the currency code until set.
  std::string internationalCurrencySymbol() const;
  void setInternationalCurrencySymbol(std::string symbol);

  // The pattern in force ("#,##0.###", "¤#,##0.00").
  std::string format() const;
  std::string currencySymbol() const;
  std::string percentSymbol() const;
  std::string plusSign() const;
  std::string minusSign() const;
  std::string decimalSeparator() const;
  std::string groupingSeparator() const;
  std::string currencyDecimalSeparator() const;
  std::string currencyGroupingSeparator() const;
  int minimumFractionDigits() const;
  double roundingIncrement() const;

  // Nothing for a number that is not finite or a formatter ICU could not build.
  std::optional<std::string> stringFromNumber(double number) const;
  // The whole text must be a finite number in this style: "1,234.5xyz" and "NaN" are none.
  std::optional<double> numberFromString(std::string_view text) const;

  // The shared ICU formatter and its lock (defined with the implementation).
  struct Shared;

 private:
  std::shared_ptr<Shared> shared() const;
  std::string symbol(int which) const;
  void changed() { shared_.reset(); }

  NSLocalePtr locale_;
  NSNumberFormatterStyle style_ = NSNumberFormatterStyle::NoStyle;
  bool lenient_ = false;
  std::optional<std::string> currencyCode_;
  std::optional<std::string> internationalCurrencySymbol_;
  mutable std::shared_ptr<Shared> shared_;
};

// The currency's usual number of fraction digits and rounding increment (0 when amounts are not
// rounded to a step), by ISO 4217 code in either letter case. False for anything that is not a
// currency the data knows (ICU would answer 2 digits for any text at all).
bool CFNumberFormatterGetDecimalInfoForCurrencyCode(std::string_view currencyCode, std::int32_t* defaultFractionDigits,
                                                    double* roundingIncrement);

}  // namespace plat
