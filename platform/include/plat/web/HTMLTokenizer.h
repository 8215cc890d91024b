#pragma once
// A small, tolerant HTML tokenizer for the headless page engine: start and end tags with their
// attributes, and text. It never fails: markup it cannot read becomes text or is skipped, as a
// browser would. The content of raw-text elements (script, style, title, textarea, iframe,
// noscript, ...) is one text token up to the element's own end tag, so a "<script>" inside a
// comment, a string or a style sheet starts nothing.
#include <string>
#include <string_view>
#include <vector>

namespace plat::web {

struct HTMLAttribute {
  std::string name;   // lower case
  std::string value;  // character references decoded
};

struct HTMLToken {
  enum class Kind { StartTag, EndTag, Text };
  Kind kind = Kind::Text;
  std::string name;  // tags: lower case
  std::vector<HTMLAttribute> attributes;  // start tags; the first of a repeated name wins
  bool selfClosing = false;
  std::string text;  // text tokens
  int line = 1;      // where the token (for text: its first character) begins, 1-based

  // The attribute's value, or null when the tag does not have it.
  const std::string* attribute(std::string_view name) const;
};

std::vector<HTMLToken> tokenizeHTML(std::string_view html);

// Decodes character references (&amp;, &#38;, &#x26; and the common named ones); unknown ones
// stay as written.
std::string decodeHTMLEntities(std::string_view text);

}  // namespace plat::web
