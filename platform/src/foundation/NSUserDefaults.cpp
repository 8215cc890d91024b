#include "plat/foundation/NSUserDefaults.h"

#include <sys/stat.h>

#include <cmath>

#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/PropertyList.h"
#include "plat/foundation/Strings.h"

namespace plat {
namespace {

std::mutex& sharedMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<NSUserDefaults>& sharedDefaults() {
  static std::shared_ptr<NSUserDefaults>* defaults = new std::shared_ptr<NSUserDefaults>();
  return *defaults;
}

// A bundle without an identifier still gets a file of its own.
constexpr char kFallbackIdentifier[] = "harbor";

}  // namespace

std::shared_ptr<NSUserDefaults> NSUserDefaults::standardUserDefaults() {
  std::lock_guard<std::mutex> lock(sharedMutex());
  auto& defaults = sharedDefaults();
  if (!defaults) {
    std::string identifier = NSBundle::mainBundle()->bundleIdentifier().value_or(kFallbackIdentifier);
    // An identifier such as "../../x" would put the file anywhere.
    if (!isValidBundleIdentifier(identifier)) {
      NSLog("NSUserDefaults: the bundle identifier cannot name a file; using " + std::string(kFallbackIdentifier) +
            ".plist");
      identifier = kFallbackIdentifier;
    }
    std::string path = stringByAppendingPathComponent(NSHomeDirectory(), "Library/Preferences/" + identifier + ".plist");
    defaults = std::make_shared<NSUserDefaults>(path);
  }
  return defaults;
}

void NSUserDefaults::resetStandardUserDefaults() {
  std::lock_guard<std::mutex> lock(sharedMutex());
  sharedDefaults().reset();
}

NSUserDefaults::NSUserDefaults(std::string path) : path_(std::move(path)) {
  std::lock_guard<std::mutex> lock(mutex_);
  readLocked();
}

std::optional<NSUserDefaults::FileStamp> NSUserDefaults::stampOfFile() const {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
                   static_cast<unsigned long long>(st.st_size),
                   static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

void NSUserDefaults::readLocked() {
  stamp_ = stampOfFile();
  auto value = plist::readFromFile(path_);
  persistent_ = (value && value->isDictionary()) ? std::move(value->asDictionary()) : Dictionary();
}

bool NSUserDefaults::writeLocked() {
  NSFileManager::defaultManager().createDirectoryAtPath(stringByDeletingLastPathComponent(path_), true);
  NSError error;
  if (!plist::writeToFile(Value(persistent_), path_, &error)) {
    NSLog("NSUserDefaults: could not write " + path_ + ": " + error.localizedDescription);
    dirty_ = true;
    return false;
  }
  dirty_ = false;
  stamp_ = stampOfFile();
  return true;
}

Value NSUserDefaults::lookup(std::string_view key) {
  if (const Value* v = persistent_.find(key)) return *v;
  if (const Value* v = registered_.find(key)) return *v;
  return Value();
}

Value NSUserDefaults::objectForKey(std::string_view key) {
  std::lock_guard<std::mutex> lock(mutex_);
  return lookup(key);
}

std::optional<std::string> NSUserDefaults::stringForKey(std::string_view key) {
  Value v = objectForKey(key);
  if (v.isString()) return v.asString();
  if (v.isInteger()) return v.description();
  if (v.isDouble()) return format("%.17g", v.asDouble());
  return std::nullopt;
}

bool NSUserDefaults::boolForKey(std::string_view key) {
  Value v = objectForKey(key);
  if (v.isString()) {
    const std::string& s = v.asString();
    if (equalsIgnoringCaseASCII(s, "yes") || equalsIgnoringCaseASCII(s, "true")) return true;
    return std::atof(s.c_str()) != 0;
  }
  return v.asBool();
}

std::int64_t NSUserDefaults::integerForKey(std::string_view key) {
  Value v = objectForKey(key);
  if (v.isString()) return std::atoll(v.asString().c_str());
  return v.asInt();
}

double NSUserDefaults::doubleForKey(std::string_view key) {
  Value v = objectForKey(key);
  if (v.isString()) return std::atof(v.asString().c_str());
  return v.asDouble();
}

Dictionary NSUserDefaults::dictionaryRepresentation() {
  std::lock_guard<std::mutex> lock(mutex_);
  Dictionary out = registered_;
  for (const auto& [k, v] : persistent_) out.set(k, v);
  return out;
}

void NSUserDefaults::setObject(const Value& value, std::string_view key) {
  if (value.isNil()) {
    removeObjectForKey(key);
    return;
  }
  if (!plist::isPropertyList(value)) {
    NSLog("Attempt to insert non-property list object " + value.description() + " for key " + std::string(key));
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  // Storing what the file already holds would only cost a write and a sync (applications store
  // the same flags at every launch); the file is rewritten when someone else changed it since.
  const Value* stored = persistent_.find(key);
  if (stored && *stored == value && !dirty_ && stamp_ && stamp_ == stampOfFile()) return;
  persistent_.set(std::string(key), value);
  writeLocked();
}

void NSUserDefaults::removeObjectForKey(std::string_view key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (persistent_.erase(key)) writeLocked();
}

void NSUserDefaults::registerDefaults(const Dictionary& defaults) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [k, v] : defaults) {
    if (v.isNil())
      registered_.erase(k);
    else
      registered_.set(k, v);
  }
}

bool NSUserDefaults::synchronize() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (dirty_) return writeLocked();
  readLocked();
  return true;
}

}  // namespace plat
