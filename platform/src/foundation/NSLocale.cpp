#include "plat/foundation/NSLocale.h"

#include <unicode/ures.h>

#include <cctype>
#include <cstring>
#include <mutex>

#include "ICUSupport.h"
#include "plat/foundation/NSNotificationCenter.h"

namespace plat {
namespace {

constexpr char kDefaultIdentifier[] = "en_US";

std::mutex& localeMutex() {
  static std::mutex m;
  return m;
}

std::optional<std::vector<std::string>>& preferred() {
  static auto* languages = new std::optional<std::vector<std::string>>();
  return *languages;
}

NSLocalePtr& current() {
  static NSLocalePtr* locale = new NSLocalePtr(std::make_shared<NSLocale>(kDefaultIdentifier));
  return *locale;
}

std::vector<std::string> parts(const std::string& identifier) {
  std::vector<std::string> out;
  std::string piece;
  for (char c : identifier) {
    if (c == '_' || c == '-' || c == '@') {
      out.push_back(piece);
      piece.clear();
      if (c == '@') return out;
    } else {
      piece += c;
    }
  }
  out.push_back(piece);
  return out;
}

}  // namespace

NSLocalePtr NSLocale::currentLocale() {
  std::lock_guard<std::mutex> lock(localeMutex());
  return current();
}

NSLocalePtr NSLocale::localeWithLocaleIdentifier(std::string_view identifier) {
  return std::make_shared<NSLocale>(std::string(identifier));
}

NSLocaleData NSLocale::localeDataForIdentifier(std::string_view identifier) {
  NSLocaleData data;
  icu::Locale locale = icu_support::localeFor(identifier);
  if (locale.isBogus() || std::strlen(locale.getLanguage()) == 0) return data;
  UErrorCode status = U_ZERO_ERROR;
  UResourceBundle* bundle = ures_open(nullptr, locale.getBaseName(), &status);
  if (U_FAILURE(status) || !bundle) {
    if (bundle) ures_close(bundle);
    return data;
  }
  UErrorCode actualStatus = U_ZERO_ERROR;
  const char* actual = ures_getLocaleByType(bundle, ULOC_ACTUAL_LOCALE, &actualStatus);
  std::string used = U_SUCCESS(actualStatus) && actual ? actual : "";
  ures_close(bundle);
  // Without data of the locale or a parent, ICU answers with the default locale's or the root's.
  if (status == U_USING_DEFAULT_WARNING || used.empty() || used == "root") return data;
  data.kind = status == U_USING_FALLBACK_WARNING ? NSLocaleData::Kind::Parent : NSLocaleData::Kind::Own;
  data.identifier = used;
  return data;
}

void NSLocale::setCurrentLocaleIdentifier(std::string_view identifier) {
  {
    std::lock_guard<std::mutex> lock(localeMutex());
    if (current()->localeIdentifier() == identifier) return;
    current() = std::make_shared<NSLocale>(std::string(identifier));
  }
  NSNotificationCenter::defaultCenter().post(NSCurrentLocaleDidChangeNotification);
}

std::vector<std::string> NSLocale::preferredLanguages() {
  {
    std::lock_guard<std::mutex> lock(localeMutex());
    if (preferred()) return *preferred();
  }
  return {currentLocale()->languageCode()};
}

void NSLocale::setPreferredLanguages(std::optional<std::vector<std::string>> languages) {
  std::lock_guard<std::mutex> lock(localeMutex());
  preferred() = std::move(languages);
}

std::string NSLocale::languageCode() const { return parts(identifier_).front(); }

std::string NSLocale::countryCode() const {
  auto p = parts(identifier_);
  for (std::size_t i = 1; i < p.size(); ++i) {
    const std::string& s = p[i];
    bool region = (s.size() == 2 && std::isupper(static_cast<unsigned char>(s[0]))) ||
                  (s.size() == 3 && std::isdigit(static_cast<unsigned char>(s[0])));
    if (region) return s;
  }
  return {};
}

}  // namespace plat
