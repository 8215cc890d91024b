#include "plat/foundation/StringFolding.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <vector>

namespace plat {
namespace {

std::u16string toUTF16(std::string_view text) {
  std::u16string out(text.size() + 1, u'\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length, text.data(),
                       static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
  return out;
}

std::string toUTF8(const std::u16string& text) {
  std::string out(text.size() * 3 + 1, '\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
                     reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()), 0xFFFD, nullptr,
                     &status);
  out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
  return out;
}

bool isASCII(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

std::u16string fold16(std::string_view text, FoldOptions options) {
  // Most names are plain ASCII: no marks to drop, and case folding is lower-casing.
  if (isASCII(text)) {
    std::u16string s(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      s[i] = static_cast<char16_t>(options.caseInsensitive && c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return s;
  }
  std::u16string s = toUTF16(text);
  if (options.diacriticInsensitive) {
    // Decompose, then drop the combining marks: "é" becomes "e".
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
    if (U_SUCCESS(status)) {
      std::u16string decomposed(s.size() * 4 + 4, u'\0');
      int32_t n = unorm2_normalize(nfd, reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()),
                                   reinterpret_cast<UChar*>(decomposed.data()),
                                   static_cast<int32_t>(decomposed.size()), &status);
      if (U_SUCCESS(status)) {
        std::u16string kept;
        kept.reserve(static_cast<std::size_t>(n));
        for (int32_t i = 0; i < n;) {
          UChar32 c;
          int32_t start = i;
          U16_NEXT(decomposed.data(), i, n, c);
          if (u_charType(c) == U_NON_SPACING_MARK) continue;
          kept.append(decomposed, static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
        }
        s = std::move(kept);
      }
    }
  }
  if (options.caseInsensitive) {
    std::u16string folded(s.size() * 3 + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = u_strFoldCase(reinterpret_cast<UChar*>(folded.data()), static_cast<int32_t>(folded.size()),
                              reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()),
                              U_FOLD_CASE_DEFAULT, &status);
    if (U_SUCCESS(status)) {
      folded.resize(static_cast<std::size_t>(n));
      s = std::move(folded);
    }
  }
  return s;
}

}  // namespace

std::string foldString(std::string_view text, FoldOptions options) { return toUTF8(fold16(text, options)); }

bool containsFolded(std::string_view haystack, std::string_view needle, FoldOptions options) {
  if (needle.empty()) return false;
  // A search tests one needle against many texts: fold it once.
  thread_local std::string lastNeedle;
  thread_local FoldOptions lastOptions;
  thread_local std::u16string lastFolded;
  if (needle != lastNeedle || options.caseInsensitive != lastOptions.caseInsensitive ||
      options.diacriticInsensitive != lastOptions.diacriticInsensitive) {
    lastFolded = fold16(needle, options);
    lastNeedle = needle;
    lastOptions = options;
  }
  if (lastFolded.empty()) return false;
  return fold16(haystack, options).find(lastFolded) != std::u16string::npos;
}

}  // namespace plat
