#include "plat/foundation/FileFaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "plat/foundation/NSPathUtilities.h"

namespace plat {
namespace {

struct Faults {
  std::mutex mutex;
  std::optional<FileFaultPlan> plan;
  std::uint64_t written = 0;
};

std::atomic<bool> gActive{false};

Faults& faults() {
  static Faults* f = new Faults;
  return *f;
}

// Whether the plan covers this path; the path is taken as written (callers give absolute ones).
bool covers(const FileFaultPlan& plan, const std::string& path) {
  return plan.onlyInside.empty() || pathIsInsideFolder(path, plan.onlyInside);
}

bool changeDenied(const std::string& path) {
  if (!gActive.load(std::memory_order_acquire)) return false;
  auto& f = faults();
  std::lock_guard lock(f.mutex);
  return f.plan && f.plan->denyChanges && covers(*f.plan, path);
}

bool attributesMissing(const std::string& path) {
  if (!gActive.load(std::memory_order_acquire)) return false;
  auto& f = faults();
  std::lock_guard lock(f.mutex);
  return f.plan && f.plan->noExtendedAttributes && covers(*f.plan, path);
}

// How many of size bytes the disk still takes; size when no limit is set.
std::size_t roomFor(std::size_t size) {
  if (!gActive.load(std::memory_order_acquire)) return size;
  auto& f = faults();
  std::lock_guard lock(f.mutex);
  if (!f.plan || !f.plan->diskFullAfterBytes) return size;
  std::uint64_t limit = *f.plan->diskFullAfterBytes;
  std::uint64_t left = f.written >= limit ? 0 : limit - f.written;
  return left < size ? static_cast<std::size_t>(left) : size;
}

void count(ssize_t written) {
  if (written <= 0 || !gActive.load(std::memory_order_acquire)) return;
  auto& f = faults();
  std::lock_guard lock(f.mutex);
  f.written += static_cast<std::uint64_t>(written);
}

int refuse(int err) {
  errno = err;
  return -1;
}

}  // namespace

void setFileFaultPlan(std::optional<FileFaultPlan> plan) {
  auto& f = faults();
  std::lock_guard lock(f.mutex);
  f.plan = std::move(plan);
  f.written = 0;
  gActive.store(f.plan.has_value(), std::memory_order_release);
}

namespace fileio {

int open(const std::string& path, int flags, mode_t mode) {
  bool changes = (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
  if (changes && changeDenied(path)) return refuse(EACCES);
  return ::open(path.c_str(), flags, mode);
}

ssize_t write(int fd, const void* bytes, std::size_t size) {
  if (gActive.load(std::memory_order_acquire)) {
    std::function<void()> hook;
    {
      auto& f = faults();
      std::lock_guard lock(f.mutex);
      if (f.plan) hook = f.plan->beforeWrite;
    }
    if (hook) hook();
  }
  std::size_t room = roomFor(size);
  if (room == 0 && size > 0) return refuse(ENOSPC);
  ssize_t n = ::write(fd, bytes, room);
  count(n);
  return n;
}

bool writeAll(int fd, const void* bytes, std::size_t size) {
  auto* p = static_cast<const char*>(bytes);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int ftruncate(int fd, off_t length) {
  // A descriptor has no path to test against onlyInside; a plan that denies changes everywhere
  // refuses it, one limited to a folder lets it through.
  if (gActive.load(std::memory_order_acquire)) {
    auto& f = faults();
    std::lock_guard lock(f.mutex);
    if (f.plan && f.plan->denyChanges && f.plan->onlyInside.empty()) return refuse(EACCES);
  }
  return ::ftruncate(fd, length);
}

int mkstemp(std::string& pathTemplate) {
  if (changeDenied(pathTemplate)) return refuse(EACCES);
  return ::mkstemp(pathTemplate.data());
}

int mkdir(const std::string& path, mode_t mode) {
  if (changeDenied(path)) return refuse(EACCES);
  return ::mkdir(path.c_str(), mode);
}

int rename(const std::string& from, const std::string& to) {
  if (changeDenied(from) || changeDenied(to)) return refuse(EACCES);
  return ::rename(from.c_str(), to.c_str());
}

int unlink(const std::string& path) {
  if (changeDenied(path)) return refuse(EACCES);
  return ::unlink(path.c_str());
}

int rmdir(const std::string& path) {
  if (changeDenied(path)) return refuse(EACCES);
  return ::rmdir(path.c_str());
}

int symlink(const std::string& target, const std::string& path) {
  if (changeDenied(path)) return refuse(EACCES);
  return ::symlink(target.c_str(), path.c_str());
}

int setxattr(const std::string& path, const std::string& name, const void* value, std::size_t size) {
  if (attributesMissing(path)) return refuse(ENOTSUP);
  if (changeDenied(path)) return refuse(EACCES);
  return ::setxattr(path.c_str(), name.c_str(), value, size, 0);
}

ssize_t getxattr(const std::string& path, const std::string& name, void* value, std::size_t size) {
  if (attributesMissing(path)) return refuse(ENOTSUP);
  return ::getxattr(path.c_str(), name.c_str(), value, size);
}

int removexattr(const std::string& path, const std::string& name) {
  if (attributesMissing(path)) return refuse(ENOTSUP);
  if (changeDenied(path)) return refuse(EACCES);
  return ::removexattr(path.c_str(), name.c_str());
}

}  // namespace fileio
}  // namespace plat
