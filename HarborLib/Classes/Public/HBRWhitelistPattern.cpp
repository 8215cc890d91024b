#include "HBRWhitelistPattern.h"

#include <cctype>
#include <limits>

#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

using Glob = HBRWhitelistPattern::Glob;

// What the platform's pattern escaping escapes.
constexpr std::string_view kMetacharacters = "\\*?+[](){}^$|./";

std::string escapeForExpression(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    if (kMetacharacters.find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

char foldASCII(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalAt(std::string_view text, std::size_t at, std::string_view piece, bool caseInsensitive) {
  if (at + piece.size() > text.size()) return false;
  for (std::size_t i = 0; i < piece.size(); ++i) {
    char a = text[at + i], b = piece[i];
    if (caseInsensitive ? foldASCII(a) != foldASCII(b) : a != b) return false;
  }
  return true;
}

std::size_t findFrom(std::string_view text, std::string_view piece, std::size_t from, std::size_t end,
                     bool caseInsensitive) {
  if (piece.empty()) return from;
  for (std::size_t at = from; at + piece.size() <= end; ++at)
    if (equalAt(text, at, piece, caseInsensitive)) return at;
  return std::string_view::npos;
}

// A wildcard stands for ".*", and "." does not cross a line terminator: a decoded path with a
// line break in it must not slip through a wildcard.
bool hasLineTerminator(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\r' || c == 0x0B || c == 0x0C) return true;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) return true;
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9))
      return true;
  }
  return false;
}

// Whole-text match of literal pieces joined by wildcards. The first piece is anchored at the
// start and the last at the end; the pieces between are placed leftmost, which leaves the most
// room for the rest, so one pass decides. Each piece is searched once: no backtracking.
bool matchPieces(std::string_view text, const std::vector<std::string>& pieces, bool caseInsensitive) {
  if (pieces.size() == 1)
    return text.size() == pieces[0].size() && equalAt(text, 0, pieces[0], caseInsensitive);
  const std::string& first = pieces.front();
  const std::string& last = pieces.back();
  if (text.size() < first.size() + last.size()) return false;
  if (!equalAt(text, 0, first, caseInsensitive)) return false;
  std::size_t lastAt = text.size() - last.size();
  if (!equalAt(text, lastAt, last, caseInsensitive)) return false;
  std::size_t pos = first.size();
  for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
    std::size_t at = findFrom(text, pieces[i], pos, lastAt, caseInsensitive);
    if (at == std::string_view::npos) return false;
    if (hasLineTerminator(text.substr(pos, at - pos))) return false;
    pos = at + pieces[i].size();
  }
  return !hasLineTerminator(text.substr(pos, lastAt - pos));
}

bool matchWithFolder(std::string_view text, const Glob& glob) {
  if (matchPieces(text, glob.pieces, glob.caseInsensitive)) return true;
  if (!glob.folderSuffix) return false;
  std::vector<std::string> folder = glob.pieces;
  folder.back() += '/';
  folder.emplace_back();
  return matchPieces(text, folder, glob.caseInsensitive);
}

bool isSubdomainCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
}

bool matchGlob(std::string_view text, const Glob& glob) {
  if (matchWithFolder(text, glob)) return true;
  if (!glob.subdomainPrefix) return false;
  // "([a-z0-9.-]*\.)?": any run of name characters that ends in a dot, then the domain itself.
  for (std::size_t i = 0; i < text.size() && isSubdomainCharacter(text[i]); ++i)
    if (text[i] == '.' && matchWithFolder(text.substr(i + 1), glob)) return true;
  return false;
}

std::vector<std::string> splitAtStars(std::string_view pattern) {
  std::vector<std::string> pieces(1);
  for (char c : pattern) {
    if (c == '*')
      pieces.emplace_back();
    else
      pieces.back() += c;
  }
  return pieces;
}

Glob literalGlob(std::string_view text, bool caseInsensitive) {
  Glob glob;
  glob.pieces = {std::string(text)};
  glob.caseInsensitive = caseInsensitive;
  return glob;
}

Glob wildcardGlob(std::string_view pattern, bool caseInsensitive) {
  Glob glob;
  glob.caseInsensitive = caseInsensitive;
  if (plat::endsWith(pattern, "/*")) {
    glob.folderSuffix = true;
    pattern.remove_suffix(2);
  }
  glob.pieces = splitAtStars(pattern);
  return glob;
}

// As a number text is read: leading blanks, a sign, digits; 0 when there are none. Saturates.
std::int64_t integerValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  const std::int64_t limit = std::numeric_limits<std::int64_t>::max();
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    int digit = text[i] - '0';
    value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
  }
  return negative ? -value : value;
}

// The host as the network will use it. A percent-encoded host is decoded (the platform's host
// accessor decodes too); one that decodes to something no host name can hold matches nothing.
std::optional<std::string> hostForMatching(const plat::NSURL& url) {
  auto host = url.host();
  if (!host || host->find('%') == std::string::npos) return host;
  auto decoded = plat::percentDecode(*host);
  if (!decoded || decoded->empty()) return std::nullopt;
  for (char c : *decoded) {
    auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F || std::string_view("%/\\?#@:[]<>^|\"`{}").find(c) != std::string_view::npos)
      return std::nullopt;
  }
  return decoded;
}

// The decoded path with "." and ".." segments resolved, as a server will resolve them: without
// this "/docs/../secret" (or "/docs/%2e%2e/secret") would pass a "/docs/*" entry.
std::string pathForMatching(const plat::NSURL& url) {
  std::string path = url.path();
  if (path.find('.') == std::string::npos) return path;
  bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string_view> kept;
  bool dotSegment = false;
  std::string_view rest = path;
  if (absolute) rest.remove_prefix(1);
  while (true) {
    std::size_t slash = rest.find('/');
    std::string_view segment = rest.substr(0, slash);
    if (segment == ".") {
      dotSegment = true;
    } else if (segment == "..") {
      dotSegment = true;
      if (!kept.empty()) kept.pop_back();
    } else {
      kept.push_back(segment);
    }
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  if (!dotSegment) return path;
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i) out += '/';
    out += kept[i];
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

}  // namespace

std::string HBRWhitelistPattern::regexFromPattern(std::string_view pattern, bool allowWildcards) {
  std::string regex = escapeForExpression(pattern);
  if (allowWildcards) {
    std::string replaced;
    replaced.reserve(regex.size());
    for (std::size_t i = 0; i < regex.size(); ++i) {
      if (regex[i] == '\\' && i + 1 < regex.size()) {
        if (regex[i + 1] == '*') {
          replaced += ".*";
        } else {
          replaced += regex[i];
          replaced += regex[i + 1];
        }
        ++i;
      } else {
        replaced += regex[i];
      }
    }
    regex = std::move(replaced);
    if (plat::endsWith(regex, "\\/.*")) regex = regex.substr(0, regex.size() - 4) + "(\\/.*)?";
  }
  return regex + "$";
}

void HBRWhitelistPattern::initWithScheme(const std::optional<std::string>& scheme,
                                         const std::optional<std::string>& host,
                                         const std::optional<std::string>& port,
                                         const std::optional<std::string>& path) {
  if (scheme && *scheme != "*") {
    scheme_ = literalGlob(*scheme, true);
    schemeExpression_ = regexFromPattern(*scheme, false);
  }
  if (host && *host != "*") {
    if (plat::startsWith(*host, "*.")) {
      std::string_view domain = std::string_view(*host).substr(2);
      Glob glob = literalGlob(domain, true);
      glob.subdomainPrefix = true;
      host_ = std::move(glob);
      hostExpression_ = "([a-z0-9.-]*\\.)?" + regexFromPattern(domain, false);
    } else {
      host_ = literalGlob(*host, true);
      hostExpression_ = regexFromPattern(*host, false);
    }
  }
  if (port && *port != "*") port_ = integerValue(*port);
  if (path && *path != "/*") {
    path_ = wildcardGlob(*path, false);
    pathExpression_ = regexFromPattern(*path, true);
  }
}

bool HBRWhitelistPattern::matches(const plat::NSURL& url) const {
  if (scheme_) {
    const auto& scheme = url.scheme();
    if (!scheme || !matchGlob(*scheme, *scheme_)) return false;
  }
  if (host_) {
    auto host = hostForMatching(url);
    if (!host || !matchGlob(*host, *host_)) return false;
  }
  if (port_) {
    auto port = url.port();
    if (!port || *port != *port_) return false;
  }
  if (path_ && !matchGlob(pathForMatching(url), *path_)) return false;
  return true;
}

}  // namespace harbor
