#pragma once
// One runner at a time on a sandbox home. Two runners on one home would write the same files,
// and the second one's start-up sweep would remove temporaries the first is still writing, so the
// runner holds its home for as long as it runs: an exclusive flock on the home folder itself,
// taken before anything in the home is written or swept. The system releases it when the process
// ends, however it ends (a SIGKILL included), so a runner that died never keeps a home from the
// next one. Nothing is written for it: the folder is locked, not a file in it.
//
// A runner that finds its home held does not wait: it stops at once and names the process that
// holds it, as the system lists it (/proc/locks).
#include <string>

#include "plat/foundation/Result.h"

namespace harbor::runner {

class SandboxHomeLock {
 public:
  SandboxHomeLock() = default;  // holds nothing
  SandboxHomeLock(const SandboxHomeLock&) = delete;
  SandboxHomeLock& operator=(const SandboxHomeLock&) = delete;
  SandboxHomeLock(SandboxHomeLock&& other) noexcept;
  SandboxHomeLock& operator=(SandboxHomeLock&& other) noexcept;
  // Gives the home back.
  ~SandboxHomeLock();

  bool held() const { return fd_ >= 0; }

 private:
  friend plat::Result<SandboxHomeLock> holdSandboxHome(const std::string& home);
  explicit SandboxHomeLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Holds home (an absolute path) for this process, making the folder (with its parents) when it
// is missing; an empty folder made here is what prepareSandboxHome accepts as a new home. Fails
// at once, holding nothing, when another process (or another lock of this one) holds it:
//   "the sandbox home <home> is in use: process <pid> holds it (another harbor running on it);
//    only one harbor may run on a home at a time: stop that one first or give --home another
//    folder"
// ("another process holds it" when the system does not say which), or when it cannot be made or
// opened (a file, say: then the refusal says so). On a file system without locks it says so on
// standard error and holds nothing.
plat::Result<SandboxHomeLock> holdSandboxHome(const std::string& home);

}  // namespace harbor::runner
