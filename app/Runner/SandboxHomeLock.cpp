#include "SandboxHomeLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/Strings.h"

namespace harbor::runner {
namespace {

// The holder of an exclusive flock on the file that fd has open: the line of /proc/locks
//   "<n>: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF"
// (hexadecimal device numbers) for its inode. Lines of waiting locks ("<n>: -> FLOCK ...") are
// not holders. Btrfs lists other device numbers than stat gives for a subvolume, so the inode
// decides and the device only picks among several.
std::optional<pid_t> holderOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  std::ifstream locks("/proc/locks");
  std::optional<pid_t> sameInode;
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, type, mode, access, device;
    long pid = 0;
    if (!(fields >> number >> type) || type == "->" || type != "FLOCK") continue;
    if (!(fields >> mode >> access >> pid >> device) || access != "WRITE" || pid <= 0) continue;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(device.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3 || inode != st.st_ino) continue;
    if (major == ::major(st.st_dev) && minor == ::minor(st.st_dev)) return static_cast<pid_t>(pid);
    if (!sameInode) sameInode = static_cast<pid_t>(pid);
  }
  return sameInode;
}

}  // namespace

SandboxHomeLock::SandboxHomeLock(SandboxHomeLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

SandboxHomeLock& SandboxHomeLock::operator=(SandboxHomeLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

SandboxHomeLock::~SandboxHomeLock() {
  if (fd_ >= 0) ::close(fd_);
}

plat::Result<SandboxHomeLock> holdSandboxHome(const std::string& home) {
  // Close-on-exec: a process the runner starts must not keep the home held after the runner.
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  int fd = ::open(home.c_str(), kFlags);
  struct stat existing {};
  // Missing (or under something that is not a folder): made, or refused with the maker's reason.
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR) && ::lstat(home.c_str(), &existing) != 0) {
    plat::NSError error;
    if (!plat::NSFileManager::defaultManager().createDirectoryAtPath(home, true, &error))
      return plat::Failure{"cannot make the sandbox home " + home + ": " + error.localizedDescription};
    fd = ::open(home.c_str(), kFlags);
  }
  if (fd < 0) {
    int why = errno;
    struct stat st {};
    if (why == ENOTDIR && ::stat(home.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
      return plat::Failure{home + " is not a folder, so it cannot be a sandbox home"};
    return plat::Failure{"cannot open the sandbox home " + home + ": " + std::strerror(why)};
  }
  SandboxHomeLock lock(fd);

  // A holder that ends between the refusal and the look at the list leaves no line there: then
  // the home is free, and taken on the next try.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return lock;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      // A file system without locks: the runner still runs, unguarded, and says so.
      std::fprintf(stderr, "harbor: the sandbox home %s cannot be locked (%s): another harbor on it would not be stopped\n",
                   home.c_str(), std::strerror(errno));
      return SandboxHomeLock();
    }
    if (auto holder = holderOf(fd))
      return plat::Failure{plat::format("the sandbox home %s is in use: process %d holds it (another harbor running on "
                                        "it); only one harbor may run on a home at a time: stop that one first or give "
                                        "--home another folder",
                                        home.c_str(), static_cast<int>(*holder))};
  }
  return plat::Failure{"the sandbox home " + home +
                       " is in use: another process holds it (another harbor running on it); only one harbor may run "
                       "on a home at a time: stop that one first or give --home another folder"};
}

}  // namespace harbor::runner
