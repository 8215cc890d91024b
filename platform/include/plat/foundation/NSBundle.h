#pragma once
// Bundles: a folder of resources with an Info.plist (XML property list) at its top. The main
// bundle is the application bundle; the runner and tests choose its folder with
// setMainBundlePath, otherwise it is the folder of the running program. Plugins keep their
// own resources in "<name>.bundle" folders inside it.
//
// Resource lookups never leave the bundle: a name or folder that climbs out of it ("..")
// finds nothing. Any thread; a bundle is immutable once made.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

class NSBundle;
using NSBundlePtr = std::shared_ptr<NSBundle>;

// Whether a bundle identifier can safely become part of a file name (the user defaults file
// "<id>.plist", the cache folder "<id>"): 1 to kMaxBundleIdentifierLength letters, digits, "."
// and "-", not starting with "." and without "..". Anything else must never reach a path.
inline constexpr std::size_t kMaxBundleIdentifierLength = 200;
bool isValidBundleIdentifier(std::string_view identifier);

class NSBundle : public Object {
 public:
  static NSBundlePtr mainBundle();
  // Runner and tests. An empty path goes back to the program's folder.
  static void setMainBundlePath(std::string_view path);
  // Null when path is not a folder.
  static NSBundlePtr bundleWithPath(std::string_view path);

  const std::string& bundlePath() const { return path_; }
  // Resources sit at the top of the bundle, next to Info.plist.
  const std::string& resourcePath() const { return path_; }
  NSURLPtr bundleURL() const;

  // Info.plist as read when the bundle was made; empty when missing or unreadable.
  const Dictionary& infoDictionary() const { return info_; }
  const Value& objectForInfoDictionaryKey(std::string_view key) const { return info_.get(key); }
  // "CFBundleIdentifier" when it is a string.
  std::optional<std::string> bundleIdentifier() const;

  // The file "<name>.<type>" (just "<name>" when type is empty) in the folder `directory`
  // (relative to the resources; empty for the top), or in its "<language>.lproj" folders
  // (current language, then the development region, then Base). Nothing when it does not exist.
  std::optional<std::string> pathForResource(std::string_view name, std::string_view type,
                                             std::string_view directory = {}) const;
  NSURLPtr URLForResource(std::string_view name, std::string_view extension, std::string_view subdirectory = {}) const;

  // The translation of key from "<language>.lproj/<table>.strings" ("Localizable" when table is
  // empty), trying the same languages; else value when it is not empty; else key.
  std::string localizedStringForKey(std::string_view key, std::string_view value = {},
                                    std::string_view table = {}) const;

  // Use the factories; public only for make_shared.
  NSBundle() = default;

 private:
  std::vector<std::string> localizations() const;
  std::optional<std::string> existingInside(const std::string& candidate) const;

  std::string path_;
  Dictionary info_;
  mutable std::mutex stringsMutex_;
  mutable std::map<std::string, Dictionary> stringsCache_;
};

// Reads a ".strings" table: `"key" = "value";` entries with C-style escapes and comments, in
// UTF-8 or UTF-16 with a byte-order mark, or an XML property-list dictionary of strings.
// Nothing when the text is neither.
std::optional<Dictionary> parseStringsFile(std::string_view bytes);

}  // namespace plat
