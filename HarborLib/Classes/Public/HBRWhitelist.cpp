#include "HBRWhitelist.h"

#include <algorithm>
#include <cctype>

#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

constexpr char kDefaultSchemeForHostTest[] = "hbr-default-scheme";

struct EntryParts {
  std::optional<std::string> scheme;
  std::optional<std::string> host;
  std::optional<std::string> port;
  std::optional<std::string> path;
};

bool isSchemeCharacter(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '-'; }
bool isHostCharacter(char c) { return c != '*' && c != '/' && c != ':'; }

// Where "." of a regular expression stops: the line terminators.
std::size_t lineTerminatorAt(std::string_view text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\r' || c == 0x0B || c == 0x0C) return i;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) return i;
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9))
      return i;
  }
  return text.size();
}

// The entry read by the expression
//   ^((\*|[A-Za-z-]+):/?/?)?(((\*\.)?[^*/:]+)|\*)?(:(\d+))?(/.*)?
// (scheme, host, port, path; every group optional, anchored at the start only, whatever follows
// the match ignored). Written out by hand so that each group is taken exactly as the expression
// would take it, backtracking included.
EntryParts parseEntry(std::string_view entry) {
  EntryParts parts;
  std::size_t pos = 0;

  // ((\*|[A-Za-z-]+):/?/?)?
  std::size_t end = pos;
  if (end < entry.size() && entry[end] == '*') {
    ++end;
  } else {
    while (end < entry.size() && isSchemeCharacter(entry[end])) ++end;
  }
  if (end > pos && end < entry.size() && entry[end] == ':') {
    parts.scheme = std::string(entry.substr(pos, end - pos));
    pos = end + 1;
    for (int slash = 0; slash < 2 && pos < entry.size() && entry[pos] == '/'; ++slash) ++pos;
  }

  // (((\*\.)?[^*/:]+)|\*)?
  auto hostRun = [&](std::size_t from) {
    std::size_t to = from;
    while (to < entry.size() && isHostCharacter(entry[to])) ++to;
    return to;
  };
  if (entry.substr(pos).starts_with("*.") && hostRun(pos + 2) > pos + 2) {
    end = hostRun(pos + 2);
    parts.host = std::string(entry.substr(pos, end - pos));
    pos = end;
  } else if (hostRun(pos) > pos) {
    end = hostRun(pos);
    parts.host = std::string(entry.substr(pos, end - pos));
    pos = end;
  } else if (pos < entry.size() && entry[pos] == '*') {
    parts.host = "*";
    ++pos;
  }

  // (:(\d+))?
  if (pos < entry.size() && entry[pos] == ':') {
    end = pos + 1;
    while (end < entry.size() && std::isdigit(static_cast<unsigned char>(entry[end]))) ++end;
    if (end > pos + 1) {
      parts.port = std::string(entry.substr(pos + 1, end - pos - 1));
      pos = end;
    }
  }

  // (/.*)?
  if (pos < entry.size() && entry[pos] == '/')
    parts.path = std::string(entry.substr(pos, lineTerminatorAt(entry, pos) - pos));
  return parts;
}

bool isAlwaysAllowedScheme(std::string_view scheme) {
  return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "ftps";
}

}  // namespace

void HBRWhitelist::initWithArray(const std::vector<std::string>& entries) {
  whitelist_ = std::vector<HBRWhitelistPatternPtr>{};
  permittedSchemes_ = std::set<std::string>{};
  rejectionFormat_ = kDefaultRejectionFormat;
  for (const auto& entry : entries) addWhiteListEntry(entry);
}

void HBRWhitelist::addPattern(const std::optional<std::string>& scheme, const std::optional<std::string>& host,
                              const std::optional<std::string>& port, const std::optional<std::string>& path) {
  auto pattern = std::make_shared<HBRWhitelistPattern>();
  pattern->initWithScheme(scheme, host, port, path);
  whitelist_->push_back(std::move(pattern));
}

void HBRWhitelist::addWhiteListEntry(std::string_view entry) {
  if (!whitelist_) return;
  if (entry == "*") {
    plat::NSLog("Unlimited access to network resources");
    whitelist_.reset();
    permittedSchemes_.reset();
    return;
  }
  EntryParts parts = parseEntry(entry);
  if ((parts.scheme == "file" || parts.scheme == "content") && !parts.host) parts.host = "*";
  if (parts.scheme) {
    addPattern(parts.scheme, parts.host, parts.port, parts.path);
  } else {
    addPattern("http", parts.host, parts.port, parts.path);
    addPattern("https", parts.host, parts.port, parts.path);
  }
  if (permittedSchemes_ && parts.scheme) {
    if (*parts.scheme == "*")
      permittedSchemes_.reset();
    else
      permittedSchemes_->insert(*parts.scheme);
  }
}

bool HBRWhitelist::schemeIsAllowed(const std::optional<std::string>& scheme) const {
  if (scheme && isAlwaysAllowedScheme(*scheme)) return true;
  if (!permittedSchemes_) return true;
  return scheme && permittedSchemes_->count(*scheme) != 0;
}

bool HBRWhitelist::URLIsAllowedLogFailure(const plat::NSURLPtr& url, bool logFailure) const {
  if (!whitelist_) return true;
  if (!url) {
    if (logFailure) plat::NSLog(errorStringForURL(url));
    return false;
  }
  std::optional<std::string> scheme;
  if (url->scheme()) scheme = plat::toLowerASCII(*url->scheme());
  if (!schemeIsAllowed(scheme)) {
    if (logFailure) plat::NSLog(errorStringForURL(url));
    return false;
  }
  if (scheme && isAlwaysAllowedScheme(*scheme)) {
    // The host and path alone, for entries that do not care about the scheme.
    if (auto host = url->host()) {
      std::string text = std::string(kDefaultSchemeForHostTest) + "://" + *host +
                         plat::percentEscape(url->path(), "/!$&'()*+,;=:@");
      if (auto schemeless = plat::NSURL::URLWithString(text); schemeless && URLIsAllowedLogFailure(schemeless, false))
        return true;
    }
  }
  for (const auto& pattern : *whitelist_)
    if (pattern->matches(*url)) return true;
  if (logFailure) plat::NSLog(errorStringForURL(url));
  return false;
}

std::string HBRWhitelist::errorStringForURL(const plat::NSURLPtr& url) const {
  std::string urlText = url ? plat::logPageText(url->absoluteString()) : "(null)";
  std::string out;
  bool filled = false;
  for (std::size_t i = 0; i < rejectionFormat_.size(); ++i) {
    char c = rejectionFormat_[i];
    if (c == '%' && i + 1 < rejectionFormat_.size()) {
      char next = rejectionFormat_[i + 1];
      if (next == '@' && !filled) {
        out += urlText;
        filled = true;
        ++i;
        continue;
      }
      if (next == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

bool HBRWhitelist::isIPv4Address(std::string_view text) {
  int parts = 0;
  while (true) {
    std::size_t dot = text.find('.');
    std::string_view part = text.substr(0, dot);
    ++parts;
    if (part != "*") {
      if (part.empty()) return false;
      int value = 0;
      for (char c : part) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = std::min(value * 10 + (c - '0'), 256);
      }
      if (value > 255) return false;
    }
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts == 4;
}

}  // namespace harbor
