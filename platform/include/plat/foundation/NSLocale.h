#pragma once
// Locales by identifier ("en_US", "zh_Hans_CN"). The current locale is process-wide; the
// runner and tests set it, and a change posts NSCurrentLocaleDidChangeNotification (no object)
// on the thread that made it. It starts as "en_US".
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/Object.h"

namespace plat {

inline constexpr char NSCurrentLocaleDidChangeNotification[] = "NSCurrentLocaleDidChangeNotification";

// What ICU's locale data offers an identifier: data of its own (also through an alias, as for
// zh_CN, whose data is zh_Hans_CN's), only a parent's (fr for fr_US), or none but the root's
// ("xx_YY", "not a locale", "root"), whatever the process's default locale is.
struct NSLocaleData {
  enum class Kind { Own, Parent, Unknown };
  Kind kind = Kind::Unknown;
  std::string identifier;  // the locale whose data is used ("fr" for fr_US); empty when Unknown
};

class NSLocale;
using NSLocalePtr = std::shared_ptr<NSLocale>;

class NSLocale : public Object {
 public:
  static NSLocalePtr currentLocale();
  static NSLocalePtr localeWithLocaleIdentifier(std::string_view identifier);
  // Whether ICU knows the identifier (see NSLocaleData). The current locale takes any
  // identifier; the runner checks with this first.
  static NSLocaleData localeDataForIdentifier(std::string_view identifier);
  // Runner and tests. Posts the change notification only when the identifier changes.
  static void setCurrentLocaleIdentifier(std::string_view identifier);
  // The user's languages, most preferred first, as language tags ("en", "zh-Hans"). Unless set,
  // the current locale's language alone.
  static std::vector<std::string> preferredLanguages();
  // Runner and tests: the user's own list (it may be empty); nullopt follows the locale again.
  static void setPreferredLanguages(std::optional<std::vector<std::string>> languages);

  const std::string& localeIdentifier() const { return identifier_; }
  // "zh" of "zh_Hans_CN".
  std::string languageCode() const;
  // "CN" of "zh_Hans_CN"; empty when the identifier names no region.
  std::string countryCode() const;

  // Use the factories; public only for make_shared.
  explicit NSLocale(std::string identifier) : identifier_(std::move(identifier)) {}

 private:
  std::string identifier_;
};

}  // namespace plat
