#pragma once
// Text helpers the container needs: UTF-8 checks and repair, UTF-16 length, Base64,
// printf-style formatting, case folding of ASCII names, version comparison.
#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/Value.h"

namespace plat {

// One UTF-8 sequence read from text: its code point and its length in bytes. The length is 0
// where the bytes start no well-formed sequence (a stray continuation byte, an overlong form, a
// surrogate, a code point past U+10FFFF, or a sequence cut short); callers then replace one byte.
struct UTF8Sequence {
  std::uint32_t codePoint = 0;
  std::size_t length = 0;
};
// Reads the sequence that starts at text[index] (index < text.size()).
UTF8Sequence decodeUTF8(std::string_view text, std::size_t index);
// Appends the UTF-8 encoding of a code point (at most U+10FFFF).
void appendUTF8(std::string& out, std::uint32_t codePoint);
// UTF-16 code units as UTF-8; lone surrogates (legal in script strings, not in UTF-8) become
// U+FFFD, NULs are kept.
std::string utf8FromUTF16(std::u16string_view units);
// Number of UTF-16 code units the UTF-8 text occupies (what the platform calls its length).
std::size_t utf16Length(std::string_view utf8);
bool isValidUTF8(std::string_view text);
// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string sanitizeUTF8(std::string_view text);
// Each byte as the character of the same number (U+0000-U+00FF), in UTF-8: ISO 8859-1 text, or
// bytes shown as a binary string.
std::string latin1ToUTF8(std::string_view bytes);

// Standard Base64 with padding and no line breaks.
std::string base64Encode(const Data& bytes);
std::string base64Encode(std::string_view bytes);
// Strict decoding: standard alphabet, padded to a multiple of four, no white space.
std::optional<Data> base64Decode(std::string_view text);

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list args);

std::string toLowerASCII(std::string_view text);
bool equalsIgnoringCaseASCII(std::string_view a, std::string_view b);
bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);
bool contains(std::string_view text, std::string_view needle);
// Every occurrence of target (not empty) replaced, left to right, without rescanning what was put in.
std::string stringByReplacingOccurrencesOfString(std::string text, std::string_view target,
                                                 std::string_view replacement);

// Compares dotted version texts numerically ("8.0" > "7.1.2", "10.0" > "9.3"): <0, 0, >0.
int compareVersions(std::string_view a, std::string_view b);

}  // namespace plat
