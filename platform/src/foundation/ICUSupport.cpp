#include "ICUSupport.h"

namespace plat::icu_support {

icu::Locale localeFor(std::string_view identifier) {
  std::string id(identifier);
  auto at = id.find('@');
  for (std::size_t i = 0; i < std::min(at, id.size()); ++i)
    if (id[i] == '-') id[i] = '_';
  return icu::Locale(id.c_str());
}

std::unique_ptr<icu::TimeZone> timeZoneFor(std::string_view name) {
  return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(toUnicode(name)));
}

}  // namespace plat::icu_support
