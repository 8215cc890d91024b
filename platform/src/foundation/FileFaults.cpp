#include "plat/foundation/FileFaults.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "plat/foundation/NSPathUtilities.h"

namespace plat {
namespace {

struct Faults {
  std::mutex mutex;
  std::optional<FileFaultPlan> plan;
  std::uint64_t written = 0;  // every byte written since the plan came
  std::uint64_t grown = 0;    // those of them that took new space
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

// Whether the folder that holds path keeps its entries as they are.
bool entriesFixed(const std::string& path) {
  if (!gActive.load(std::memory_order_acquire)) return false;
  auto& f = faults();
  std::lock_guard lock(f.mutex);
  return f.plan && f.plan->foldersReadOnly && covers(*f.plan, path);
}

// A change of a folder's entries (making, renaming or removing a name in it).
bool entryChangeDenied(const std::string& path) { return changeDenied(path) || entriesFixed(path); }

bool attributesMissing(const std::string& path) {
  if (!gActive.load(std::memory_order_acquire)) return false;
  auto& f = faults();
  std::lock_guard lock(f.mutex);
  return f.plan && f.plan->noExtendedAttributes && covers(*f.plan, path);
}

int refuse(int err) {
  errno = err;
  return -1;
}

std::size_t within(std::optional<std::uint64_t> limit, std::uint64_t used, std::size_t size) {
  if (!limit) return size;
  std::uint64_t left = used >= *limit ? 0 : *limit - used;
  return left < size ? static_cast<std::size_t>(left) : size;
}

// How many of size bytes may be written, the first existing of them over bytes the file already
// has (which take no new space); stopAfter tells whether the process stops once they are.
std::size_t roomFor(std::size_t size, std::size_t existing, bool& stopAfter) {
  stopAfter = false;
  if (!gActive.load(std::memory_order_acquire)) return size;
  auto& f = faults();
  std::lock_guard lock(f.mutex);
  if (!f.plan) return size;
  std::size_t room = existing + within(f.plan->diskFullAfterBytes, f.grown, size - existing);
  std::size_t beforeStop = within(f.plan->stopAfterBytes, f.written, room);
  stopAfter = beforeStop < room || (f.plan->stopAfterBytes && f.written >= *f.plan->stopAfterBytes);
  return beforeStop;
}

void count(ssize_t written, std::size_t existing) {
  if (written <= 0 || !gActive.load(std::memory_order_acquire)) return;
  auto& f = faults();
  std::lock_guard lock(f.mutex);
  auto n = static_cast<std::uint64_t>(written);
  f.written += n;
  f.grown += n > existing ? n - existing : 0;
}

// Of size bytes written to fd at offset (or where it stands, or at its end when it appends),
// how many land on bytes the file already has. Only asked while a plan is installed.
std::size_t existingBytes(int fd, std::optional<off_t> offset, std::size_t size) {
  if (!gActive.load(std::memory_order_acquire)) return 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  off_t at;
  if (offset) at = *offset;
  else if (::fcntl(fd, F_GETFL) & O_APPEND) at = st.st_size;
  else at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0 || at >= st.st_size) return 0;
  auto inside = static_cast<std::uint64_t>(st.st_size - at);
  return inside < size ? static_cast<std::size_t>(inside) : size;
}

// The write a plan allows, through the system call given; a stop ends the process after it.
template <class Write>
ssize_t plannedWrite(int fd, std::optional<off_t> offset, std::size_t size, Write&& write) {
  if (gActive.load(std::memory_order_acquire)) {
    std::function<void()> hook;
    {
      auto& f = faults();
      std::lock_guard lock(f.mutex);
      if (f.plan) hook = f.plan->beforeWrite;
    }
    if (hook) hook();
  }
  std::size_t existing = existingBytes(fd, offset, size);
  bool stop = false;
  std::size_t room = roomFor(size, existing, stop);
  if (room == 0 && size > 0 && !stop) return refuse(ENOSPC);
  ssize_t n = room > 0 ? write(room) : 0;
  count(n, existing);
  if (stop) ::raise(SIGKILL);
  return n;
}

}  // namespace

void setFileFaultPlan(std::optional<FileFaultPlan> plan) {
  auto& f = faults();
  std::lock_guard lock(f.mutex);
  f.plan = std::move(plan);
  f.written = 0;
  f.grown = 0;
  gActive.store(f.plan.has_value(), std::memory_order_release);
}

namespace fileio {

int open(const std::string& path, int flags, mode_t mode) {
  bool changes = (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
  if (changes && changeDenied(path)) return refuse(EACCES);
  if ((flags & O_CREAT) && entriesFixed(path)) {
    // Only a name that is not there yet needs the folder to change.
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return refuse(EACCES);
  }
  return ::open(path.c_str(), flags, mode);
}

ssize_t write(int fd, const void* bytes, std::size_t size) {
  return plannedWrite(fd, std::nullopt, size, [&](std::size_t room) { return ::write(fd, bytes, room); });
}

ssize_t pwrite(int fd, const void* bytes, std::size_t size, off_t offset) {
  return plannedWrite(fd, offset, size, [&](std::size_t room) { return ::pwrite(fd, bytes, room, offset); });
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

bool pwriteAll(int fd, const void* bytes, std::size_t size, off_t offset) {
  auto* p = static_cast<const char*>(bytes);
  while (size > 0) {
    ssize_t n = pwrite(fd, p, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    p += n;
    offset += n;
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
  if (entryChangeDenied(pathTemplate)) return refuse(EACCES);
  return ::mkstemp(pathTemplate.data());
}

int mkdir(const std::string& path, mode_t mode) {
  if (entryChangeDenied(path)) return refuse(EACCES);
  return ::mkdir(path.c_str(), mode);
}

int rename(const std::string& from, const std::string& to) {
  if (entryChangeDenied(from) || entryChangeDenied(to)) return refuse(EACCES);
  return ::rename(from.c_str(), to.c_str());
}

int renameNoReplace(const std::string& from, const std::string& to) {
  if (entryChangeDenied(from) || entryChangeDenied(to)) return refuse(EACCES);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  ::unlink(from.c_str());
  return 0;
}

int unlink(const std::string& path) {
  if (entryChangeDenied(path)) return refuse(EACCES);
  return ::unlink(path.c_str());
}

int rmdir(const std::string& path) {
  if (entryChangeDenied(path)) return refuse(EACCES);
  return ::rmdir(path.c_str());
}

int symlink(const std::string& target, const std::string& path) {
  if (entryChangeDenied(path)) return refuse(EACCES);
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
