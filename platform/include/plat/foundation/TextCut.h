#pragma once
// Text from a page cut to a size the log keeps: at most `limit` bytes, at a character boundary
// (UTF-8), followed by how much was cut. Header-only, so that the WebKit extension (inside
// WebKit's processes) cuts as the rest of the platform does.
#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// The text as it is when it fits; otherwise "<start> ... (N more characters cut)", where N counts
// the characters (not bytes) of what was cut.
inline std::string cutText(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  auto continuation = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
  std::size_t end = limit;
  while (end > 0 && continuation(text[end])) --end;
  std::size_t characters = 0;
  for (std::size_t i = end; i < text.size(); ++i)
    if (!continuation(text[i])) ++characters;
  return std::string(text.substr(0, end)) + " ... (" + std::to_string(characters) + " more characters cut)";
}

}  // namespace plat
