#include "plat/foundation/NSBundle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/PropertyList.h"
#include "plat/foundation/Strings.h"

namespace plat {
namespace {

std::mutex& mainMutex() {
  static std::mutex m;
  return m;
}

std::string& mainPath() {
  static std::string path;
  return path;
}

NSBundlePtr& mainCache() {
  static NSBundlePtr* bundle = new NSBundlePtr();
  return *bundle;
}

std::string programFolder() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "/";
  return stringByDeletingLastPathComponent(std::string(buffer, static_cast<std::size_t>(n)));
}

std::optional<std::string> utf16ToUTF8(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2) return std::nullopt;
  std::string out;
  auto unit = [&](std::size_t i) {
    auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<std::uint32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 3 >= bytes.size()) return std::nullopt;
      std::uint32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return std::nullopt;
    }
    appendUTF8(out, u);
  }
  return out;
}

class StringsReader {
 public:
  explicit StringsReader(std::string_view text) : s_(text) {}

  std::optional<Dictionary> read() {
    Dictionary out;
    for (;;) {
      skip();
      if (i_ >= s_.size()) return out;
      auto key = token();
      if (!key) return std::nullopt;
      skip();
      std::string value = *key;
      if (peek() == '=') {
        ++i_;
        skip();
        auto v = token();
        if (!v) return std::nullopt;
        value = std::move(*v);
        skip();
      }
      if (peek() != ';') return std::nullopt;
      ++i_;
      out.set(std::move(*key), std::move(value));
    }
  }

 private:
  char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }

  void skip() {
    while (i_ < s_.size()) {
      char c = s_[i_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++i_;
      } else if (s_.substr(i_, 2) == "//") {
        while (i_ < s_.size() && s_[i_] != '\n') ++i_;
      } else if (s_.substr(i_, 2) == "/*") {
        std::size_t end = s_.find("*/", i_ + 2);
        i_ = end == std::string_view::npos ? s_.size() : end + 2;
      } else {
        return;
      }
    }
  }

  std::optional<std::string> token() {
    if (peek() != '"') {
      // An unquoted word: letters, digits and a few punctuation marks.
      std::size_t start = i_;
      while (i_ < s_.size()) {
        char c = s_[i_];
        bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '.' || c == '$' || c == ':' || c == '/' || c == '-';
        if (!word) break;
        ++i_;
      }
      if (i_ == start) return std::nullopt;
      return std::string(s_.substr(start, i_ - start));
    }
    ++i_;
    std::string out;
    while (i_ < s_.size()) {
      char c = s_[i_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return std::nullopt;
      char e = s_[i_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'U':
        case 'u': {
          std::uint32_t cp = 0;
          for (int k = 0; k < 4; ++k) {
            if (i_ >= s_.size()) return std::nullopt;
            char h = s_[i_++];
            int d = (h >= '0' && h <= '9') ? h - '0' : (h >= 'a' && h <= 'f') ? h - 'a' + 10
                                                   : (h >= 'A' && h <= 'F') ? h - 'A' + 10 : -1;
            if (d < 0) return std::nullopt;
            cp = cp * 16 + static_cast<std::uint32_t>(d);
          }
          if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
          appendUTF8(out, cp);
          break;
        }
        default: out += e; break;  // \" \\ \' and anything else stand for themselves
      }
    }
    return std::nullopt;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace

std::optional<Dictionary> parseStringsFile(std::string_view bytes) {
  std::string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    auto converted = utf16ToUTF8(bytes.substr(2), false);
    if (!converted) return std::nullopt;
    text = std::move(*converted);
  } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
             static_cast<unsigned char>(bytes[1]) == 0xFF) {
    auto converted = utf16ToUTF8(bytes.substr(2), true);
    if (!converted) return std::nullopt;
    text = std::move(*converted);
  } else {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (!isValidUTF8(bytes)) return std::nullopt;
    text = std::string(bytes);
  }
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && text[first] == '<') {
    auto value = plist::parse(text);
    if (!value || !value->isDictionary()) return std::nullopt;
    Dictionary out;
    for (const auto& [k, v] : value->asDictionary())
      if (v.isString()) out.set(k, v);
    return out;
  }
  return StringsReader(text).read();
}

NSBundlePtr NSBundle::mainBundle() {
  std::lock_guard<std::mutex> lock(mainMutex());
  NSBundlePtr& cached = mainCache();
  if (!cached) {
    std::string path = mainPath().empty() ? programFolder() : mainPath();
    cached = bundleWithPath(path);
    if (!cached) {
      // A bundle folder that is gone still answers, with nothing in it.
      cached = std::make_shared<NSBundle>();
      cached->path_ = path;
    }
  }
  return cached;
}

void NSBundle::setMainBundlePath(std::string_view path) {
  std::lock_guard<std::mutex> lock(mainMutex());
  mainPath() = path.empty() ? std::string() : stringByStandardizingPath(path);
  mainCache().reset();
}

NSBundlePtr NSBundle::bundleWithPath(std::string_view path) {
  if (path.empty()) return nullptr;
  std::string standardized = stringByStandardizingPath(path);
  if (standardized[0] != '/') {
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return nullptr;
    standardized = stringByStandardizingPath(stringByAppendingPathComponent(cwd, standardized));
  }
  bool isDirectory = false;
  if (!NSFileManager::defaultManager().fileExistsAtPath(standardized, &isDirectory) || !isDirectory) return nullptr;
  auto bundle = std::make_shared<NSBundle>();
  bundle->path_ = standardized;
  auto info = plist::readFromFile(stringByAppendingPathComponent(standardized, "Info.plist"));
  if (info && info->isDictionary()) bundle->info_ = std::move(info->asDictionary());
  return bundle;
}

NSURLPtr NSBundle::bundleURL() const { return NSURL::fileURLWithPath(path_, true); }

bool isValidBundleIdentifier(std::string_view identifier) {
  if (identifier.empty() || identifier.size() > kMaxBundleIdentifierLength) return false;
  if (identifier.front() == '.' || identifier.find("..") != std::string_view::npos) return false;
  for (char c : identifier) {
    bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

std::optional<std::string> NSBundle::bundleIdentifier() const {
  const Value& id = info_.get("CFBundleIdentifier");
  if (!id.isString() || id.asString().empty()) return std::nullopt;
  return id.asString();
}

std::vector<std::string> NSBundle::localizations() const {
  std::vector<std::string> out;
  auto add = [&](std::string language) {
    if (language.empty()) return;
    for (const auto& existing : out)
      if (existing == language) return;
    out.push_back(std::move(language));
  };
  add(NSLocale::currentLocale()->languageCode());
  add(info_.get("CFBundleDevelopmentRegion").stringOr("en"));
  add("Base");
  return out;
}

std::optional<std::string> NSBundle::existingInside(const std::string& candidate) const {
  std::string standardized = stringByStandardizingPath(candidate);
  if (!pathIsInsideFolder(standardized, path_) || standardized == path_) return std::nullopt;
  if (!NSFileManager::defaultManager().fileExistsAtPath(standardized)) return std::nullopt;
  return standardized;
}

std::optional<std::string> NSBundle::pathForResource(std::string_view name, std::string_view type,
                                                     std::string_view directory) const {
  if (name.empty()) return std::nullopt;
  std::string file(name);
  if (!type.empty()) {
    if (type.front() != '.') file += '.';
    file += type;
  }
  std::string folder = directory.empty() ? path_ : stringByAppendingPathComponent(path_, directory);
  if (auto found = existingInside(stringByAppendingPathComponent(folder, file))) return found;
  for (const std::string& language : localizations()) {
    std::string localized = stringByAppendingPathComponent(stringByAppendingPathComponent(folder, language + ".lproj"), file);
    if (auto found = existingInside(localized)) return found;
  }
  return std::nullopt;
}

NSURLPtr NSBundle::URLForResource(std::string_view name, std::string_view extension,
                                  std::string_view subdirectory) const {
  auto path = pathForResource(name, extension, subdirectory);
  return path ? NSURL::fileURLWithPath(*path) : nullptr;
}

std::string NSBundle::localizedStringForKey(std::string_view key, std::string_view value,
                                            std::string_view table) const {
  std::string tableName = table.empty() ? std::string("Localizable") : std::string(table);
  for (const std::string& language : localizations()) {
    std::string file = stringByAppendingPathComponent(path_, language + ".lproj/" + tableName + ".strings");
    std::lock_guard<std::mutex> lock(stringsMutex_);
    auto it = stringsCache_.find(file);
    if (it == stringsCache_.end()) {
      Dictionary strings;
      if (auto bytes = readFileContents(file))
        if (auto parsed = parseStringsFile(*bytes)) strings = std::move(*parsed);
      it = stringsCache_.emplace(file, std::move(strings)).first;
    }
    if (const Value* found = it->second.find(key)) return found->stringOr(std::string(key));
  }
  return std::string(value.empty() ? key : value);
}

}  // namespace plat
