#pragma once
// The file layer's system calls, with a seam through which tests make them fail as a real
// device would: a disk that fills up after so many bytes, a volume that refuses every change,
// a file system without extended attributes. Tests need it because CI runs as root (permissions
// refuse nothing) on a disk that is never full.
//
// Every platform file call that writes, creates, renames or removes goes through these wrappers,
// and so do the plugins' own file code; they behave exactly like the system calls they wrap
// (return value and errno) while no fault plan is installed, at the cost of one atomic load.
//
// Any thread. A plan applies process-wide; tests install it with ScopedFileFaults.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace plat {

struct FileFaultPlan {
  // Writes succeed for this many bytes of new space in total (counted from the plan's
  // installation), then fail with ENOSPC; the write that crosses the line is cut short. Bytes
  // written over bytes a file already has take no new space, as on a disk.
  std::optional<std::uint64_t> diskFullAfterBytes;
  // Opening for writing, creating, renaming, removing, truncating and changing attributes fail
  // with EACCES.
  bool denyChanges = false;
  // Extended attributes fail with ENOTSUP, as on a file system without user attributes.
  bool noExtendedAttributes = false;
  // Folders keep the entries they have, as a folder without write permission does for anyone
  // but root: making a name (a file, folder, link or temporary), renaming and removing fail
  // with EACCES, while the files already there may still be opened and written.
  bool foldersReadOnly = false;
  // When set, denyChanges, noExtendedAttributes and foldersReadOnly apply only to paths inside
  // this folder (writes through an open descriptor count towards diskFullAfterBytes and
  // stopAfterBytes wherever they go).
  std::string onlyInside;
  // The process kills itself (SIGKILL) once its writes pass this many bytes, the write that
  // crosses the line cut short there: a stop at an exact moment, for a child process of a test.
  std::optional<std::uint64_t> stopAfterBytes;
  // Called before every write through a descriptor, on the writing thread and outside the
  // seam's lock: a test holds a writer there to see what others do meanwhile.
  std::function<void()> beforeWrite;
};

// Installs the plan (nothing removes it); the byte count starts again.
void setFileFaultPlan(std::optional<FileFaultPlan> plan);

// A plan for the life of the object.
class ScopedFileFaults {
 public:
  explicit ScopedFileFaults(FileFaultPlan plan) { setFileFaultPlan(std::move(plan)); }
  ~ScopedFileFaults() { setFileFaultPlan(std::nullopt); }
  ScopedFileFaults(const ScopedFileFaults&) = delete;
  ScopedFileFaults& operator=(const ScopedFileFaults&) = delete;
};

namespace fileio {

// ::open; a write, create or truncate flag counts as a change.
int open(const std::string& path, int flags, mode_t mode = 0);
// ::write and ::pwrite.
ssize_t write(int fd, const void* bytes, std::size_t size);
ssize_t pwrite(int fd, const void* bytes, std::size_t size, off_t offset);
// Writes everything (at offset, for pwriteAll), retrying short writes and EINTR; false (errno
// set) when a write fails.
bool writeAll(int fd, const void* bytes, std::size_t size);
bool pwriteAll(int fd, const void* bytes, std::size_t size, off_t offset);
// ::ftruncate.
int ftruncate(int fd, off_t length);
// ::mkstemp (the template is changed in place, as the system call does).
int mkstemp(std::string& pathTemplate);
int mkdir(const std::string& path, mode_t mode);
int rename(const std::string& from, const std::string& to);
// ::renameat2 with RENAME_NOREPLACE: fails with EEXIST, changing nothing, when to exists. Where
// the file system cannot refuse in a rename, a second name for from (which link(2) refuses in
// the same way) and then the removal of from.
int renameNoReplace(const std::string& from, const std::string& to);
int unlink(const std::string& path);
int rmdir(const std::string& path);
int symlink(const std::string& target, const std::string& path);
// ::setxattr, ::getxattr and ::removexattr (following links).
int setxattr(const std::string& path, const std::string& name, const void* value, std::size_t size);
ssize_t getxattr(const std::string& path, const std::string& name, void* value, std::size_t size);
int removexattr(const std::string& path, const std::string& name);

}  // namespace fileio
}  // namespace plat
