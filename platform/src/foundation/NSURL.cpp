#include "plat/foundation/NSURL.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <vector>

#include "plat/foundation/FileFaults.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"

namespace plat {

struct NSURL::Parts {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::optional<std::string> userinfo;
  std::string host;
  std::optional<int> port;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

namespace {

constexpr char kPathAllowed[] = "!$&'()*+,;=:@/";
constexpr char kExcludedFromBackupAttribute[] = "user.harbor.excluded-from-backup";

bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return c - 'a' + 10;
}
bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isURLCharacter(char c) {
  return isUnreserved(c) || std::strchr(":/?#[]@!$&'()*+,;=%", c) != nullptr;
}

bool validScheme(std::string_view s) {
  if (s.empty() || !isAlpha(s[0])) return false;
  for (char c : s)
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

bool hasBracket(std::string_view s) { return s.find_first_of("[]") != std::string_view::npos; }

// Records why a text is no URL (when the caller asks) and answers false.
bool refuse(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return false;
}

// A character of a refused text as a reason names it.
std::string describeCharacter(unsigned char c) {
  if (c == ' ') return "a space";
  if (c < 0x20 || c == 0x7F) return format("a control character (0x%02X)", c);
  if (c >= 0x80) return format("a byte outside ASCII (0x%02X)", c);
  return format("'%c'", c);
}

bool parseAuthority(std::string_view authority, NSURL::Parts& parts, std::string* why);

}  // namespace

// Kept out of the anonymous namespace because it fills NSURL's private Parts.
static std::optional<NSURL::Parts> parseReference(std::string_view text, std::string* why = nullptr);

namespace {

bool parseAuthority(std::string_view authority, NSURL::Parts& parts, std::string* why) {
  std::string_view hostport = authority;
  std::size_t at = authority.find('@');
  if (at != std::string_view::npos) {
    std::string_view userinfo = authority.substr(0, at);
    if (hasBracket(userinfo)) return refuse(why, "a bracket in its user name");
    parts.userinfo = std::string(userinfo);
    hostport = authority.substr(at + 1);
    if (hostport.find('@') != std::string_view::npos) return refuse(why, "a second '@' in its authority");
  }
  std::string_view portText;
  if (!hostport.empty() && hostport[0] == '[') {
    std::size_t close = hostport.find(']');
    if (close == std::string_view::npos) return refuse(why, "an IP-literal host without its ']'");
    std::string_view literal = hostport.substr(1, close - 1);
    if (literal.empty()) return refuse(why, "an empty IP-literal host");
    for (char c : literal)
      if (!isHex(c) && c != ':' && c != '.' && !(literal[0] == 'v' || literal[0] == 'V'))
        return refuse(why, "an IP-literal host with " + describeCharacter(static_cast<unsigned char>(c)));
    parts.host = std::string(literal);
    std::string_view rest = hostport.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return refuse(why, "text after its IP-literal host");
      portText = rest.substr(1);
    }
  } else {
    std::size_t colon = hostport.find(':');
    std::string_view host = hostport.substr(0, colon);
    if (hasBracket(host)) return refuse(why, "a bracket in its host name");
    parts.host = std::string(host);
    if (colon != std::string_view::npos) portText = hostport.substr(colon + 1);
  }
  if (!portText.empty()) {
    bool digits = portText.size() <= 5;
    int port = 0;
    for (char c : portText) {
      if (!isDigit(c)) digits = false;
      if (digits) port = port * 10 + (c - '0');
    }
    if (!digits || port > 65535) return refuse(why, "a port that is no number up to 65535");
    parts.port = port;
  }
  return true;
}

// RFC 3986, 5.2.4.
std::string removeDotSegments(std::string_view input) {
  std::string output;
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.remove_prefix(3);
    } else if (input.starts_with("./")) {
      input.remove_prefix(2);
    } else if (input.starts_with("/./")) {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../") || input == "/..") {
      input = input.size() == 3 ? std::string_view("/") : input.substr(3);
      std::size_t slash = output.rfind('/');
      output.erase(slash == std::string::npos ? 0 : slash);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      std::size_t start = input[0] == '/' ? 1 : 0;
      std::size_t next = input.find('/', start);
      std::string_view segment = input.substr(0, next);
      output.append(segment);
      input.remove_prefix(segment.size());
    }
  }
  return output;
}

std::string compose(const NSURL::Parts& p) {
  std::string out;
  if (p.scheme) {
    out += *p.scheme;
    out += ':';
  }
  if (p.authority) {
    out += "//";
    out += *p.authority;
  }
  out += p.path;
  if (p.query) {
    out += '?';
    out += *p.query;
  }
  if (p.fragment) {
    out += '#';
    out += *p.fragment;
  }
  return out;
}

NSURL::Parts resolve(const NSURL::Parts& ref, const NSURL::Parts& base) {
  NSURL::Parts t;
  if (ref.scheme) {
    t = ref;
    t.path = removeDotSegments(ref.path);
    return t;
  }
  if (ref.authority) {
    t = ref;
    t.path = removeDotSegments(ref.path);
  } else {
    if (ref.path.empty()) {
      t.path = base.path;
      t.query = ref.query ? ref.query : base.query;
    } else {
      if (ref.path[0] == '/') {
        t.path = removeDotSegments(ref.path);
      } else {
        std::string merged;
        if (base.authority && base.path.empty()) {
          merged = "/" + ref.path;
        } else {
          std::size_t slash = base.path.rfind('/');
          merged = (slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1)) + ref.path;
        }
        t.path = removeDotSegments(merged);
      }
      t.query = ref.query;
    }
    t.authority = base.authority;
    t.userinfo = base.userinfo;
    t.host = base.host;
    t.port = base.port;
  }
  t.scheme = base.scheme;
  t.fragment = ref.fragment;
  return t;
}

NSError fileError(const std::string& path, int err) {
  NSError error;
  error.domain = NSCocoaErrorDomain;
  error.code = err == ENOENT ? NSFileNoSuchFileError : NSFileWriteUnknownError;
  error.localizedDescription =
      "The file \xE2\x80\x9C" + lastPathComponent(path) + "\xE2\x80\x9D couldn\xE2\x80\x99t be changed: " +
      std::strerror(err) + ".";
  error.userInfo = Dictionary{{NSFilePathErrorKey, path}, {NSPOSIXErrorCodeKey, err}};
  return error;
}

// Items marked on a file system without user attributes: their real paths, one a line, in a
// record of the sandbox home. Read-modify-write under one lock; the record is replaced whole.
std::mutex& exclusionRecordMutex() {
  static std::mutex m;
  return m;
}

std::vector<std::string> readExclusionRecord() {
  std::vector<std::string> paths;
  auto text = readFileContents(NSURLBackupExclusionRecordPath());
  if (!text) return paths;
  std::size_t start = 0;
  while (start < text->size()) {
    auto end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    if (end > start) paths.push_back(text->substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

// The item's real path; empty with err set when it does not exist.
std::string realItemPath(const std::string& file, int& err) {
  char buffer[PATH_MAX];
  if (!::realpath(file.c_str(), buffer)) {
    err = errno;
    return {};
  }
  return buffer;
}

// 0, or the errno of the failure.
int markInExclusionRecord(const std::string& file, bool excluded) {
  int err = 0;
  std::string item = realItemPath(file, err);
  // A line per path: a path with a line break in it cannot be recorded.
  if (item.empty()) return err;
  if (item.find('\n') != std::string::npos) return EINVAL;
  std::lock_guard lock(exclusionRecordMutex());
  auto paths = readExclusionRecord();
  auto found = std::find(paths.begin(), paths.end(), item);
  if ((found != paths.end()) == excluded) return 0;
  if (excluded) {
    paths.push_back(item);
  } else {
    paths.erase(found);
  }
  std::string text;
  for (const auto& p : paths) text += p + "\n";
  NSError failure;
  if (!writeFileContentsAtomically(NSURLBackupExclusionRecordPath(), text, &failure)) {
    const Value& code = failure.userInfo[NSPOSIXErrorCodeKey];
    return code.isInteger() ? static_cast<int>(code.asInt()) : EIO;
  }
  return 0;
}

std::optional<bool> isInExclusionRecord(const std::string& file, int& err) {
  std::string item = realItemPath(file, err);
  if (item.empty()) return std::nullopt;
  std::lock_guard lock(exclusionRecordMutex());
  auto paths = readExclusionRecord();
  return std::find(paths.begin(), paths.end(), item) != paths.end();
}

}  // namespace

std::string NSURLBackupExclusionRecordPath() {
  return stringByAppendingPathComponent(NSHomeDirectory(), "Library/.excluded-from-backup");
}

static std::optional<NSURL::Parts> parseReference(std::string_view text, std::string* why) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (!isURLCharacter(c)) {
      refuse(why, describeCharacter(static_cast<unsigned char>(c)) + format(" at character %zu, which a URL must escape", i + 1));
      return std::nullopt;
    }
    if (c == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) {
      refuse(why, format("a '%%' not followed by two hex digits at character %zu", i + 1));
      return std::nullopt;
    }
  }
  NSURL::Parts parts;
  std::string_view rest = text;
  if (std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
    std::string_view fragment = rest.substr(hash + 1);
    if (fragment.find('#') != std::string_view::npos) {
      refuse(why, "a second '#'");
      return std::nullopt;
    }
    parts.fragment = std::string(fragment);
    rest = rest.substr(0, hash);
  }
  if (std::size_t question = rest.find('?'); question != std::string_view::npos) {
    parts.query = std::string(rest.substr(question + 1));
    rest = rest.substr(0, question);
  }
  if (std::size_t colon = rest.find_first_of(":/"); colon != std::string_view::npos && rest[colon] == ':') {
    // A colon before any "/" ends a scheme; in a relative path's first segment it is not allowed.
    std::string_view scheme = rest.substr(0, colon);
    if (!validScheme(scheme)) {
      refuse(why, "a ':' after a first segment that is no scheme");
      return std::nullopt;
    }
    parts.scheme = std::string(scheme);
    rest = rest.substr(colon + 1);
  }
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    parts.authority = std::string(authority);
    if (!parseAuthority(authority, parts, why)) return std::nullopt;
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  if (hasBracket(rest)) {
    refuse(why, "a bracket in its path");
    return std::nullopt;
  }
  parts.path = std::string(rest);
  return parts;
}

std::string percentEscape(std::string_view text, std::string_view alsoAllowed) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (isUnreserved(c) || (c != '\0' && alsoAllowed.find(c) != std::string_view::npos)) {
      out += c;
    } else {
      auto b = static_cast<unsigned char>(c);
      out += '%';
      out += hex[b >> 4];
      out += hex[b & 0x0F];
    }
  }
  return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
    out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
    i += 2;
  }
  return out;
}

NSURLPtr NSURL::make(std::string relative, NSURLPtr base, const Parts& parts) {
  auto url = std::make_shared<NSURL>();
  url->relative_ = std::move(relative);
  url->absolute_ = base ? compose(parts) : url->relative_;
  url->base_ = std::move(base);
  url->scheme_ = parts.scheme;
  url->authority_ = parts.authority;
  url->userinfo_ = parts.userinfo;
  url->host_ = parts.host;
  url->port_ = parts.port;
  url->path_ = parts.path;
  url->query_ = parts.query;
  url->fragment_ = parts.fragment;
  return url;
}

NSURLPtr NSURL::URLWithString(std::string_view text) {
  auto parts = parseReference(text);
  if (!parts) return nullptr;
  return make(std::string(text), nullptr, *parts);
}

std::string NSURL::refusalReason(std::string_view text) {
  std::string why;
  if (parseReference(text, &why)) return "";
  return why.empty() ? "it is no URL" : why;
}

NSURLPtr NSURL::URLWithStringRelativeToURL(std::string_view text, const NSURLPtr& base) {
  if (!base) return URLWithString(text);
  auto ref = parseReference(text);
  if (!ref) return nullptr;
  // An absolute text stands on its own.
  if (ref->scheme) return make(std::string(text), nullptr, *ref);
  auto baseParts = parseReference(base->absoluteString());
  if (!baseParts) return nullptr;
  return make(std::string(text), base, resolve(*ref, *baseParts));
}

NSURLPtr NSURL::fileURLWithPath(std::string_view path) {
  if (path.empty()) return nullptr;
  struct stat st;
  std::string absolute(path);
  if (absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return nullptr;
    absolute = stringByAppendingPathComponent(cwd, path);
  }
  bool isDirectory = ::stat(absolute.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return fileURLWithPath(absolute, isDirectory);
}

NSURLPtr NSURL::fileURLWithPath(std::string_view path, bool isDirectory) {
  if (path.empty()) return nullptr;
  std::string absolute(path);
  if (absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return nullptr;
    absolute = stringByAppendingPathComponent(cwd, path);
  }
  std::string text = "file://" + percentEscape(absolute, kPathAllowed);
  if (isDirectory && text.back() != '/') text += '/';
  return URLWithString(text);
}

NSURLPtr NSURL::absoluteURL() const {
  if (!base_) return std::const_pointer_cast<NSURL>(std::static_pointer_cast<const NSURL>(shared_from_this()));
  return URLWithString(absolute_);
}

std::optional<std::string> NSURL::host() const {
  if (!authority_ || host_.empty()) return std::nullopt;
  return host_;
}

std::optional<std::string> NSURL::user() const {
  if (!userinfo_) return std::nullopt;
  return userinfo_->substr(0, userinfo_->find(':'));
}

std::string NSURL::path() const {
  std::string decoded = percentDecode(path_).value_or(path_);
  while (decoded.size() > 1 && decoded.back() == '/') decoded.pop_back();
  return decoded;
}

std::string NSURL::resourceSpecifier() const {
  if (!scheme_) return absolute_;
  return absolute_.substr(scheme_->size() + 1);
}

bool NSURL::isFileURL() const { return scheme_ && equalsIgnoringCaseASCII(*scheme_, "file"); }

std::string NSURL::lastPathComponent() const { return plat::lastPathComponent(path()); }

std::string NSURL::pathExtension() const { return plat::pathExtension(path()); }

NSURLPtr NSURL::URLByAppendingPathComponent(std::string_view component) const {
  bool isDirectory = false;
  if (isFileURL()) {
    struct stat st;
    std::string target = stringByAppendingPathComponent(path(), component);
    isDirectory = ::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return URLByAppendingPathComponent(component, isDirectory);
}

NSURLPtr NSURL::URLByAppendingPathComponent(std::string_view component, bool isDirectory) const {
  Parts parts;
  parts.scheme = scheme_;
  parts.authority = authority_;
  parts.query = query_;
  parts.fragment = fragment_;
  std::string newPath = path_;
  if (newPath.empty() || newPath.back() != '/') newPath += '/';
  while (!component.empty() && component.front() == '/') component.remove_prefix(1);
  newPath += percentEscape(component, kPathAllowed);
  if (isDirectory && newPath.back() != '/') newPath += '/';
  parts.path = newPath;
  return URLWithString(compose(parts));
}

bool NSURL::isEqual(const NSURL& other) const {
  return relative_ == other.relative_ && isEqualURL(base_, other.base_);
}

bool isEqualURL(const NSURLPtr& a, const NSURLPtr& b) {
  if (!a || !b) return !a && !b;
  return a->isEqual(*b);
}

bool NSURL::setResourceValue(const Value& value, std::string_view key, NSError* error) const {
  std::string file = path();
  if (!isFileURL() || key != NSURLIsExcludedFromBackupKey || !value.isNumber()) {
    if (error) {
      *error = NSError{NSCocoaErrorDomain, NSFileWriteUnknownError,
                       "The resource value " + std::string(key) + " cannot be set on " + absolute_ + ".", Value()};
    }
    return false;
  }
  bool excluded = value.asBool();
  int rc = excluded ? fileio::setxattr(file, kExcludedFromBackupAttribute, "1", 1)
                    : fileio::removexattr(file, kExcludedFromBackupAttribute);
  if (rc == 0 || (errno == ENODATA && !excluded)) return true;
  if (errno == ENOTSUP || errno == EOPNOTSUPP) {
    int err = markInExclusionRecord(file, excluded);
    if (err == 0) return true;
    if (error) *error = fileError(file, err);
    return false;
  }
  if (error) *error = fileError(file, errno);
  return false;
}

std::optional<Value> NSURL::resourceValue(std::string_view key, NSError* error) const {
  std::string file = path();
  if (isFileURL() && key == NSURLIsDirectoryKey) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) {
      if (error) *error = fileError(file, errno);
      return std::nullopt;
    }
    return Value(S_ISDIR(st.st_mode));
  }
  if (isFileURL() && key == NSURLIsExcludedFromBackupKey) {
    char flag;
    if (fileio::getxattr(file, kExcludedFromBackupAttribute, &flag, 1) >= 0) return Value(true);
    int err = errno;
    if (err == ENODATA) return Value(false);
    if (err == ENOTSUP || err == EOPNOTSUPP) {
      auto marked = isInExclusionRecord(file, err);
      if (marked) return Value(*marked);
    }
    if (error) *error = fileError(file, err);
    return std::nullopt;
  }
  if (error) {
    *error = NSError{NSCocoaErrorDomain, NSFileReadUnknownError,
                     "The resource value " + std::string(key) + " is not available for " + absolute_ + ".", Value()};
  }
  return std::nullopt;
}

}  // namespace plat
