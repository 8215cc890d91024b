#include "plat/foundation/NSURLCache.h"

#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSPathUtilities.h"

namespace plat {
namespace {
std::mutex& sharedMutex() {
  static std::mutex m;
  return m;
}
NSURLCachePtr& sharedCache() {
  static NSURLCachePtr* cache = new NSURLCachePtr();
  return *cache;
}
std::string keyOf(const NSURLRequest& request) { return request.URL() ? request.URL()->absoluteString() : std::string(); }
}  // namespace

NSURLCachePtr NSURLCache::sharedURLCache() {
  std::lock_guard<std::mutex> lock(sharedMutex());
  if (!sharedCache()) sharedCache() = std::make_shared<NSURLCache>();
  return sharedCache();
}

void NSURLCache::setSharedURLCache(NSURLCachePtr cache) {
  std::lock_guard<std::mutex> lock(sharedMutex());
  sharedCache() = std::move(cache);  // null: a default cache on next use
}

void NSURLCache::initWithMemoryCapacity(std::uint64_t memoryCapacity, std::uint64_t diskCapacity, std::string diskPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  memoryCapacity_ = memoryCapacity;
  diskCapacity_ = diskCapacity;
  diskPath_ = std::move(diskPath);
}

std::uint64_t NSURLCache::memoryCapacity() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return memoryCapacity_;
}

std::uint64_t NSURLCache::diskCapacity() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return diskCapacity_;
}

std::string NSURLCache::diskPath() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return diskPath_;
}

std::string NSURLCache::resolvedDiskPath() const {
  std::string path = diskPath();
  if (isAbsolutePath(path)) return stringByStandardizingPath(path);
  auto caches = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true);
  std::string folder = caches.empty() ? NSHomeDirectory() : caches.front();
  // Only an identifier that is one plain name may become a folder of Caches.
  if (auto identifier = NSBundle::mainBundle()->bundleIdentifier(); identifier && isValidBundleIdentifier(*identifier))
    folder = stringByAppendingPathComponent(folder, *identifier);
  return stringByAppendingPathComponent(folder, path);
}

std::uint64_t NSURLCache::currentMemoryUsage() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return usage_;
}

void NSURLCache::storeCachedResponse(const Data& body, const NSURLRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string key = keyOf(request);
  if (auto it = entries_.find(key); it != entries_.end()) {
    usage_ -= it->second.body.size();
    entries_.erase(it);
  }
  if (body.size() > memoryCapacity_) return;
  while (usage_ + body.size() > memoryCapacity_ && !entries_.empty()) {
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (it->second.age < oldest->second.age) oldest = it;
    usage_ -= oldest->second.body.size();
    entries_.erase(oldest);
  }
  usage_ += body.size();
  entries_[key] = Entry{body, nextAge_++};
}

std::optional<Data> NSURLCache::cachedResponseForRequest(const NSURLRequest& request) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(keyOf(request));
  if (it == entries_.end()) return std::nullopt;
  return it->second.body;
}

void NSURLCache::removeCachedResponseForRequest(const NSURLRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(keyOf(request));
  if (it == entries_.end()) return;
  usage_ -= it->second.body.size();
  entries_.erase(it);
}

void NSURLCache::removeAllCachedResponses() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  usage_ = 0;
}

}  // namespace plat
