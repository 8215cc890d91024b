#include "ScriptLanguages.h"

#include <map>

// WebKit tells JavaScriptCore the user's languages through WTF's override, which Intl's default
// locale follows (setting it also drops the default locale JavaScriptCore keeps); the library
// exports it, though WTF's headers are not installed. Its types, as WTF lays them out: a String
// is one pointer to its shared text; a Vector<String> is its buffer, capacity and size.
struct HarborWTFString {
  void* impl;
};
struct HarborWTFStringVector {
  const HarborWTFString* buffer;
  unsigned capacity;
  unsigned size;
};

extern void harborWTFStringFromCString(HarborWTFString* self, const char* text) __asm__("_ZN3WTF6StringC1EPKc");
extern void harborWTFOverrideUserPreferredLanguages(const HarborWTFStringVector& languages) __asm__(
    "_ZN3WTF30overrideUserPreferredLanguagesERKNS_6VectorINS_6StringELm0ENS_15CrashOnOverflowELm16ENS_10FastMallocEEE");

namespace plat::web {

void setScriptLanguages(const std::vector<std::string>& tags) {
  static auto* applied = new std::vector<std::string>();
  // WTF's strings for the tags used so far, made once each and held for the process's life (never
  // destroyed, so still held when the leak checker looks at the end): the override takes
  // references of its own, and only WTF's inline code could give ours back. A process meets a
  // handful of locales.
  static auto* made = new std::map<std::string, HarborWTFString>();
  if (tags.empty() || tags == *applied) return;
  std::vector<HarborWTFString> languages;
  for (const std::string& tag : tags) {
    auto it = made->find(tag);
    if (it == made->end()) {
      HarborWTFString text{};
      harborWTFStringFromCString(&text, tag.c_str());
      it = made->emplace(tag, text).first;
    }
    languages.push_back(it->second);
  }
  const auto count = static_cast<unsigned>(languages.size());
  harborWTFOverrideUserPreferredLanguages(HarborWTFStringVector{languages.data(), count, count});
  *applied = tags;
}

}  // namespace plat::web
