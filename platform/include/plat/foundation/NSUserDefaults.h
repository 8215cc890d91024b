#pragma once
// The application's user defaults: a persistent domain, kept in
// "<home>/Library/Preferences/<bundle identifier>.plist", over a registration domain that only
// supplies fallbacks for this process and is never written.
//
// Every change is written through to the file at once (atomically); `synchronize` writes what a
// failed write left behind, or, when nothing is pending, reads the file again so that changes
// made to it from outside are seen. Values must be property-list values: null, absent (other
// than to remove) and strings XML cannot carry are refused with the platform's log line.
//
// Any thread.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

class NSUserDefaults : public Object {
 public:
  // The shared object for the current sandbox home and main bundle, created on first use.
  static std::shared_ptr<NSUserDefaults> standardUserDefaults();
  // Tests and the runner: forgets the shared object (after changing home or bundle); the next
  // standardUserDefaults reads the file again and starts with an empty registration domain.
  static void resetStandardUserDefaults();

  // The persistent value, else the registered one, else absent.
  Value objectForKey(std::string_view key);
  // Strings as they are; numbers as their text. Nothing otherwise.
  std::optional<std::string> stringForKey(std::string_view key);
  // Numbers and booleans by value; the strings "YES", "true" and non-zero numbers are true.
  bool boolForKey(std::string_view key);
  std::int64_t integerForKey(std::string_view key);
  double doubleForKey(std::string_view key);
  // Registration values overlaid with the persistent ones.
  Dictionary dictionaryRepresentation();

  // Absent or null removes the key.
  void setObject(const Value& value, std::string_view key);
  void setBool(bool value, std::string_view key) { setObject(Value(value), key); }
  void setInteger(std::int64_t value, std::string_view key) { setObject(Value(value), key); }
  void setDouble(double value, std::string_view key) { setObject(Value(value), key); }
  void removeObjectForKey(std::string_view key);

  // Merges into the registration domain (later registrations replace earlier ones); an absent
  // or null value takes the key's registration away.
  void registerDefaults(const Dictionary& defaults);
  // True when the persistent domain is on disk as it is in memory.
  bool synchronize();

  const std::string& persistentDomainPath() const { return path_; }

  // Use standardUserDefaults; public only for make_shared.
  explicit NSUserDefaults(std::string path);

 private:
  Value lookup(std::string_view key);
  bool writeLocked();
  void readLocked();

  // Which file the persistent domain was last read from or written to, to tell whether it is
  // still the one on disk.
  struct FileStamp {
    unsigned long long device = 0, inode = 0, size = 0;
    long long modified = 0;  // nanoseconds
    bool operator==(const FileStamp&) const = default;
  };
  std::optional<FileStamp> stampOfFile() const;

  std::mutex mutex_;
  std::string path_;
  Dictionary persistent_;
  Dictionary registered_;
  bool dirty_ = false;
  std::optional<FileStamp> stamp_;
};

}  // namespace plat
