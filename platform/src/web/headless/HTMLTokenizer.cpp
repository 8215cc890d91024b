#include "plat/web/HTMLTokenizer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <unordered_set>

#include "plat/foundation/Strings.h"

namespace plat::web {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A character reference may name any number; those that are no character (NUL, surrogates,
// past U+10FFFF) read as U+FFFD.
void appendReferencedCharacter(std::string& out, std::uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  plat::appendUTF8(out, cp);
}

// Elements whose content is text up to their own end tag.
bool isRawText(std::string_view name) {
  static constexpr std::array<std::string_view, 10> names = {"script",  "style",   "title",    "textarea", "xmp",
                                                             "iframe",  "noembed", "noframes", "noscript", "plaintext"};
  return std::find(names.begin(), names.end(), name) != names.end();
}
// Raw text in which character references still count.
bool decodesReferences(std::string_view name) { return name == "title" || name == "textarea"; }

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view html) : s_(html) {}

  std::vector<HTMLToken> run() {
    std::size_t textStart = 0;
    int textLine = 1;
    while (pos_ < s_.size()) {
      std::size_t lt = s_.find('<', pos_);
      if (lt == std::string_view::npos) break;
      pos_ = lt;
      if (!markup()) {
        pos_ = lt + 1;  // a "<" that starts nothing is text
        continue;
      }
      // markup() consumed [lt, pos_); what came before it is text.
      flushText(textStart, lt, textLine);
      emitPending();
      if (!rawTextFor_.empty()) rawText();
      textStart = pos_;
      textLine = lineAt(textStart);
    }
    flushText(textStart, s_.size(), textLine);
    return std::move(tokens_);
  }

 private:
  // Lines are counted forward only: callers ask for offsets in increasing order.
  int lineAt(std::size_t offset) {
    for (; lineOffset_ < offset && lineOffset_ < s_.size(); ++lineOffset_)
      if (s_[lineOffset_] == '\n') ++line_;
    return line_;
  }

  void flushText(std::size_t begin, std::size_t end, int line) {
    if (end <= begin) return;
    HTMLToken token;
    token.kind = HTMLToken::Kind::Text;
    token.line = line;
    token.text = decodeHTMLEntities(s_.substr(begin, end - begin));
    tokens_.push_back(std::move(token));
  }

  void emitPending() {
    if (pending_) {
      tokens_.push_back(std::move(*pending_));
      pending_.reset();
    }
  }

  // Reads the markup at pos_ ('<'). False when it is not markup (the '<' is text).
  bool markup() {
    std::size_t p = pos_ + 1;
    if (p >= s_.size()) return false;
    char c = s_[p];
    if (c == '!') {
      if (s_.substr(p, 3) == "!--") {
        std::size_t q = p + 3;
        // "<!-->" and "<!--->" close at once.
        if (s_.substr(q, 1) == ">") {
          pos_ = q + 1;
        } else if (s_.substr(q, 2) == "->") {
          pos_ = q + 2;
        } else {
          std::size_t end = s_.find("-->", q);
          pos_ = end == std::string_view::npos ? s_.size() : end + 3;
        }
      } else {
        skipToGreaterThan(p);
      }
      return true;
    }
    if (c == '?') {
      skipToGreaterThan(p);
      return true;
    }
    if (c == '/') {
      if (p + 1 < s_.size() && isAlpha(s_[p + 1])) return endTag(p + 1);
      if (p + 1 < s_.size() && s_[p + 1] == '>') {
        pos_ = p + 2;
        return true;
      }
      if (p + 1 >= s_.size()) return false;
      skipToGreaterThan(p);
      return true;
    }
    if (isAlpha(c)) return startTag(p);
    return false;
  }

  void skipToGreaterThan(std::size_t from) {
    std::size_t end = s_.find('>', from);
    pos_ = end == std::string_view::npos ? s_.size() : end + 1;
  }

  std::size_t readName(std::size_t p, std::string& name) {
    std::size_t start = p;
    while (p < s_.size() && !isSpace(s_[p]) && s_[p] != '/' && s_[p] != '>') ++p;
    name = toLowerASCII(s_.substr(start, p - start));
    return p;
  }

  bool endTag(std::size_t p) {
    HTMLToken token;
    token.kind = HTMLToken::Kind::EndTag;
    token.line = lineAt(pos_);
    p = readName(p, token.name);
    std::size_t end = s_.find('>', p);
    if (end == std::string_view::npos) {
      pos_ = s_.size();  // an unfinished tag at the end is dropped
      return true;
    }
    pos_ = end + 1;
    pending_ = std::move(token);
    return true;
  }

  bool startTag(std::size_t p) {
    HTMLToken token;
    token.kind = HTMLToken::Kind::StartTag;
    token.line = lineAt(pos_);
    p = readName(p, token.name);
    std::unordered_set<std::string> seen;
    for (;;) {
      while (p < s_.size() && (isSpace(s_[p]) || s_[p] == '/')) {
        if (s_[p] == '/' && p + 1 < s_.size() && s_[p + 1] == '>') token.selfClosing = true;
        ++p;
      }
      if (p >= s_.size()) {
        pos_ = s_.size();  // end of input inside a tag: the tag is dropped
        return true;
      }
      if (s_[p] == '>') {
        pos_ = p + 1;
        break;
      }
      token.selfClosing = false;
      std::size_t nameStart = p++;
      while (p < s_.size() && !isSpace(s_[p]) && s_[p] != '/' && s_[p] != '>' && s_[p] != '=') ++p;
      std::string name = toLowerASCII(s_.substr(nameStart, p - nameStart));
      std::size_t q = p;
      while (q < s_.size() && isSpace(s_[q])) ++q;
      std::string value;
      if (q < s_.size() && s_[q] == '=') {
        ++q;
        while (q < s_.size() && isSpace(s_[q])) ++q;
        if (q < s_.size() && (s_[q] == '"' || s_[q] == '\'')) {
          char quote = s_[q++];
          std::size_t close = s_.find(quote, q);
          if (close == std::string_view::npos) {
            pos_ = s_.size();
            return true;
          }
          value = decodeHTMLEntities(s_.substr(q, close - q));
          q = close + 1;
        } else {
          std::size_t start = q;
          while (q < s_.size() && !isSpace(s_[q]) && s_[q] != '>') ++q;
          value = decodeHTMLEntities(s_.substr(start, q - start));
        }
        p = q;
      }
      // A set, not a search of the list: a tag of many attributes would cost the square.
      if (seen.insert(name).second) token.attributes.push_back({std::move(name), std::move(value)});
    }
    if (isRawText(token.name)) rawTextFor_ = token.name;
    pending_ = std::move(token);
    return true;
  }

  // The content of a raw-text element, up to "</name" followed by a space, "/" or ">".
  void rawText() {
    std::string name = std::move(rawTextFor_);
    rawTextFor_.clear();
    std::size_t start = pos_;
    std::size_t end = s_.size();
    if (name != "plaintext") {
      for (std::size_t p = s_.find("</", start); p != std::string_view::npos; p = s_.find("</", p + 2)) {
        std::size_t after = p + 2 + name.size();
        if (after > s_.size() || !equalsIgnoringCaseASCII(s_.substr(p + 2, name.size()), name)) continue;
        if (after == s_.size() || isSpace(s_[after]) || s_[after] == '/' || s_[after] == '>') {
          end = p;
          break;
        }
      }
    }
    HTMLToken text;
    text.kind = HTMLToken::Kind::Text;
    text.line = lineAt(start);
    std::string_view raw = s_.substr(start, end - start);
    text.text = decodesReferences(name) ? decodeHTMLEntities(raw) : std::string(raw);
    tokens_.push_back(std::move(text));
    pos_ = end;
    if (end < s_.size()) {
      // The end tag itself.
      std::size_t close = s_.find('>', end);
      HTMLToken token;
      token.kind = HTMLToken::Kind::EndTag;
      token.line = lineAt(end);
      token.name = name;
      tokens_.push_back(std::move(token));
      pos_ = close == std::string_view::npos ? s_.size() : close + 1;
    }
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  std::size_t lineOffset_ = 0;
  int line_ = 1;
  std::vector<HTMLToken> tokens_;
  std::optional<HTMLToken> pending_;
  std::string rawTextFor_;
};

}  // namespace

const std::string* HTMLToken::attribute(std::string_view name) const {
  for (const HTMLAttribute& a : attributes)
    if (a.name == name) return &a.value;
  return nullptr;
}

std::vector<HTMLToken> tokenizeHTML(std::string_view html) { return Tokenizer(html).run(); }

std::string decodeHTMLEntities(std::string_view text) {
  static constexpr std::pair<std::string_view, std::uint32_t> named[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0},
      {"copy", 0xA9}, {"reg", 0xAE}, {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013}};
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&') {
      out += text[i++];
      continue;
    }
    // A reference is at most ten characters long: looking further for its ";" would make a
    // text of many "&" cost the square of its length.
    std::size_t semicolon = text.substr(i + 1, 10).find(';');
    if (semicolon != std::string_view::npos) {
      semicolon += i + 1;
      std::string_view ref = text.substr(i + 1, semicolon - i - 1);
      if (ref.size() >= 2 && ref[0] == '#') {
        bool hex = ref[1] == 'x' || ref[1] == 'X';
        std::string_view digits = ref.substr(hex ? 2 : 1);
        std::uint32_t cp = 0;
        bool ok = !digits.empty();
        for (char c : digits) {
          int d = (c >= '0' && c <= '9') ? c - '0'
                  : hex && (c >= 'a' && c <= 'f') ? c - 'a' + 10
                  : hex && (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
          if (d < 0) {
            ok = false;
            break;
          }
          cp = std::min<std::uint32_t>(cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d), 0x110000);
        }
        if (ok) {
          appendReferencedCharacter(out, cp);
          i = semicolon + 1;
          continue;
        }
      } else {
        auto it = std::find_if(std::begin(named), std::end(named), [&](const auto& n) { return n.first == ref; });
        if (it != std::end(named)) {
          appendReferencedCharacter(out, it->second);
          i = semicolon + 1;
          continue;
        }
      }
    }
    out += text[i++];
  }
  return out;
}

}  // namespace plat::web
