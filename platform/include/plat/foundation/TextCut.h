#pragma once
// Text from a page cut to the size the container shows and logs, at a character boundary
// (UTF-8), followed by how much was cut. Header-only, so that the WebKit extension (inside
// WebKit's processes) cuts as the rest of the platform does.
#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// The one cut of a page's text wherever the container shows or logs it: console lines, the
// page's dialogs, the logger and dialogs plugins, addresses of refused navigations. Past
// kPageTextUnits UTF-16 units (the page's own measure of a text) the start is kept, never
// splitting a character, followed by " ... (N more characters cut)". The WebKit engine's page
// script cuts the same way inside the page, so that a long text never reaches the container
// whole; the container cuts again wherever a text may come another way. A text is cut only when
// it is longer than the limit by more than the note takes (kPageTextNoteRoom), so a text cut once
// passes every later cut unchanged.
inline constexpr std::size_t kPageTextUnits = 16384;
inline constexpr std::size_t kPageTextNoteRoom = 64;

inline std::string cutPageText(std::string_view text) {
  // UTF-16 units never outnumber UTF-8 bytes.
  if (text.size() <= kPageTextUnits + kPageTextNoteRoom) return std::string(text);
  auto lead = [](unsigned char c) { return (c & 0xC0) != 0x80; };
  std::size_t units = 0, end = 0, characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (!lead(c)) continue;
    // Four-byte sequences are a surrogate pair in UTF-16; a stray byte counts as one unit, as
    // its replacement character would.
    units += c >= 0xF0 ? 2 : 1;
    if (units <= kPageTextUnits) {
      end = i + 1;
      while (end < text.size() && !lead(static_cast<unsigned char>(text[end]))) ++end;
    } else {
      ++characters;
    }
  }
  if (units <= kPageTextUnits + kPageTextNoteRoom) return std::string(text);
  return std::string(text.substr(0, end)) + " ... (" + std::to_string(characters) + " more characters cut)";
}

}  // namespace plat
