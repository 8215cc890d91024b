#include "plat/foundation/Strings.h"

#include <array>
#include <cstring>

#include <cstdio>
#include <vector>

namespace plat {

UTF8Sequence decodeUTF8(std::string_view s, std::size_t i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) return {c, 1};
  std::size_t n;
  std::uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return {};
  }
  if (i + n > s.size()) return {};
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return {};
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
    return {};
  return {cp, n};
}

void appendUTF8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::size_t utf16Length(std::string_view s) {
  std::size_t units = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    units += (c >= 0xF0) ? 2 : 1;
  }
  return units;
}

bool isValidUTF8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    // Plain ASCII eight bytes at a time: long texts (Base64 payloads) are mostly that.
    if (i + 8 <= s.size()) {
      std::uint64_t word;
      std::memcpy(&word, s.data() + i, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = decodeUTF8(s, i).length;
    if (!n) return false;
    i += n;
  }
  return true;
}

std::string latin1ToUTF8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string utf8FromUTF16(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  const std::size_t n = units.size();
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t u = units[i];
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      appendUTF8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      appendUTF8(out, 0xFFFD);
    } else {
      appendUTF8(out, u);
    }
  }
  return out;
}

std::string sanitizeUTF8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = decodeUTF8(s, i).length;
    if (n) {
      out.append(s.substr(i, n));
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

static const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(std::string_view bytes) {
  // Sized once and filled through a pointer: payloads of many megabytes go through here.
  // Two output characters per lookup: each 12 bits of input name a pair of characters.
  static const auto pairs = [] {
    std::array<char, 4096 * 2> table{};
    for (int k = 0; k < 4096; ++k) {
      table[static_cast<std::size_t>(k) * 2] = kBase64Alphabet[k >> 6];
      table[static_cast<std::size_t>(k) * 2 + 1] = kBase64Alphabet[k & 63];
    }
    return table;
  }();
  std::string out((bytes.size() + 2) / 3 * 4, '=');
  char* o = out.data();
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t v = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
    std::memcpy(o, &pairs[(v >> 12) * 2], 2);
    std::memcpy(o + 2, &pairs[(v & 0xFFF) * 2], 2);
    o += 4;
  }
  std::size_t rest = bytes.size() - i;
  if (rest) {
    std::uint32_t v = std::uint32_t{in[i]} << 16;
    if (rest == 2) v |= std::uint32_t{in[i + 1]} << 8;
    *o++ = kBase64Alphabet[(v >> 18) & 63];
    *o++ = kBase64Alphabet[(v >> 12) & 63];
    if (rest == 2) *o++ = kBase64Alphabet[(v >> 6) & 63];
    // The rest of the output is the padding it was made with.
  }
  return out;
}

std::string base64Encode(const Data& bytes) {
  return base64Encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::optional<Data> base64Decode(std::string_view text) {
  static const auto table = [] {
    std::vector<int> t(256, -1);
    for (int k = 0; k < 64; ++k) t[static_cast<unsigned char>(kBase64Alphabet[k])] = k;
    return t;
  }();
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = (text.size() >= 2 && text[text.size() - 2] == '=') ? 2 : 1;
  Data out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      char ch = text[i + k];
      int d;
      if (ch == '=') {
        if (!last || k < 4 - padding) return std::nullopt;
        d = 0;
      } else {
        d = table[static_cast<unsigned char>(ch)];
        if (d < 0) return std::nullopt;
      }
      v = (v << 6) | static_cast<std::uint32_t>(d);
    }
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    if (!last || padding < 2) out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    if (!last || padding < 1) out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  }
  return out;
}

std::string vformat(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), fmt, args);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = vformat(fmt, args);
  va_end(args);
  return out;
}

std::string toLowerASCII(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool equalsIgnoringCaseASCII(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }
bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}
bool contains(std::string_view text, std::string_view needle) { return text.find(needle) != std::string_view::npos; }

std::string stringByReplacingOccurrencesOfString(std::string text, std::string_view target,
                                                 std::string_view replacement) {
  if (target.empty()) return text;
  for (std::size_t at = text.find(target); at != std::string::npos; at = text.find(target, at + replacement.size()))
    text.replace(at, target.size(), replacement);
  return text;
}

int compareVersions(std::string_view a, std::string_view b) {
  auto next = [](std::string_view& s) -> long long {
    long long v = 0;
    std::size_t i = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      if (v < 1000000000000LL) v = v * 10 + (s[i] - '0');
      ++i;
    }
    while (i < s.size() && s[i] != '.') ++i;  // ignore anything else in the component
    s.remove_prefix(i < s.size() ? i + 1 : i);
    return v;
  };
  while (!a.empty() || !b.empty()) {
    long long x = next(a), y = next(b);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace plat
