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

// Appends the UTF-8 encoding of a code point (at most U+10FFFF).
void appendUTF8(std::string& out, std::uint32_t codePoint);
// Number of UTF-16 code units the UTF-8 text occupies (what the platform calls its length).
std::size_t utf16Length(std::string_view utf8);
bool isValidUTF8(std::string_view text);
// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string sanitizeUTF8(std::string_view text);

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

// Compares dotted version texts numerically ("8.0" > "7.1.2", "10.0" > "9.3"): <0, 0, >0.
int compareVersions(std::string_view a, std::string_view b);

}  // namespace plat
