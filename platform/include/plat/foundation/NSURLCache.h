#pragma once
// The URL cache: responses kept for later loads, within a memory and a disk capacity. The
// shared cache is process-wide; an application may install its own. A relative disk path is
// taken inside the application's caches folder ("Library/Caches/<bundle identifier>/<path>").
//
// Responses are kept in memory only; the disk capacity and path are recorded for those who ask.
// Any thread.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

class NSURLCache;
using NSURLCachePtr = std::shared_ptr<NSURLCache>;

class NSURLCache : public Object {
 public:
  // A cache of 4 MiB in memory and 20 MiB on disk until an application installs another.
  static NSURLCachePtr sharedURLCache();
  static void setSharedURLCache(NSURLCachePtr cache);

  void initWithMemoryCapacity(std::uint64_t memoryCapacity, std::uint64_t diskCapacity, std::string diskPath);

  std::uint64_t memoryCapacity() const;
  std::uint64_t diskCapacity() const;
  // As given to the initialiser.
  std::string diskPath() const;
  // Where the disk part lives: a relative diskPath resolved inside the caches folder.
  std::string resolvedDiskPath() const;
  std::uint64_t currentMemoryUsage() const;

  // Keeps the body for the request's URL. A body larger than the memory capacity is not kept;
  // older entries make room for newer ones.
  void storeCachedResponse(const Data& body, const NSURLRequest& request);
  std::optional<Data> cachedResponseForRequest(const NSURLRequest& request) const;
  void removeCachedResponseForRequest(const NSURLRequest& request);
  void removeAllCachedResponses();

 private:
  mutable std::mutex mutex_;
  std::uint64_t memoryCapacity_ = 4 * 1024 * 1024;
  std::uint64_t diskCapacity_ = 20 * 1024 * 1024;
  std::string diskPath_;
  std::uint64_t usage_ = 0;
  std::uint64_t nextAge_ = 0;
  struct Entry {
    Data body;
    std::uint64_t age;
  };
  std::map<std::string, Entry> entries_;
};

}  // namespace plat
