#include "PageLanguages.h"

#include <algorithm>

#include "../foundation/ICUSupport.h"
#include "plat/foundation/NSLocale.h"

namespace plat::web {
namespace {

// A platform locale identifier as a language tag. An identifier ICU cannot write as one keeps
// its own text, with hyphens for underscores.
std::string languageTag(const std::string& identifier) {
  UErrorCode status = U_ZERO_ERROR;
  std::string tag = icu_support::localeFor(identifier).toLanguageTag<std::string>(status);
  if (U_FAILURE(status) || tag.empty() || tag == "und") {
    tag = identifier;
    std::replace(tag.begin(), tag.end(), '_', '-');
  }
  return tag;
}

}  // namespace

std::vector<std::string> pageLanguages() {
  std::vector<std::string> tags;
  auto add = [&tags](const std::string& identifier) {
    if (identifier.empty()) return;
    std::string tag = languageTag(identifier);
    if (std::find(tags.begin(), tags.end(), tag) == tags.end()) tags.push_back(tag);
  };
  add(NSLocale::currentLocale()->localeIdentifier());
  for (const std::string& language : NSLocale::preferredLanguages()) add(language);
  return tags;
}

}  // namespace plat::web
