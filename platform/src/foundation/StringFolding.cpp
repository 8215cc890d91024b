#include "plat/foundation/StringFolding.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>

#include "ICUSupport.h"

namespace plat {
namespace {

bool isASCII(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

icu::UnicodeString fold(std::string_view text, FoldOptions options) {
  // Most names are plain ASCII: no marks to drop, and case folding is lower-casing.
  if (isASCII(text)) {
    icu::UnicodeString s(static_cast<int32_t>(text.size()), 0, 0);
    for (char c : text) s.append(static_cast<char16_t>(options.caseInsensitive && c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    return s;
  }
  // Invalid UTF-8 becomes U+FFFD.
  icu::UnicodeString s = icu_support::toUnicode(text);
  if (options.diacriticInsensitive) {
    // Decompose, then drop the combining marks: "é" becomes "e".
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    icu::UnicodeString decomposed = U_SUCCESS(status) ? nfd->normalize(s, status) : s;
    if (U_SUCCESS(status)) {
      icu::UnicodeString kept;
      for (int32_t i = 0; i < decomposed.length(); i = decomposed.moveIndex32(i, 1)) {
        UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK) kept.append(c);
      }
      s = kept;
    }
  }
  if (options.caseInsensitive) s.foldCase(U_FOLD_CASE_DEFAULT);
  return s;
}

}  // namespace

bool containsFolded(std::string_view haystack, std::string_view needle, FoldOptions options) {
  if (needle.empty()) return false;
  // A search tests one needle against many texts: fold it once.
  thread_local std::string lastNeedle;
  thread_local FoldOptions lastOptions;
  thread_local icu::UnicodeString lastFolded;
  if (needle != lastNeedle || options.caseInsensitive != lastOptions.caseInsensitive ||
      options.diacriticInsensitive != lastOptions.diacriticInsensitive) {
    lastFolded = fold(needle, options);
    lastNeedle = needle;
    lastOptions = options;
  }
  if (lastFolded.isEmpty()) return false;
  return fold(haystack, options).indexOf(lastFolded) >= 0;
}

}  // namespace plat
