#pragma once
// System controls by name, as far as callers here read them. Known names:
//   "hw.machine"  the hardware's machine name (text): the kernel's machine (uname), unless the
//                 runner or a test set another, such as a phone's model code.
#include <cstddef>
#include <optional>
#include <string>

namespace plat {

// The platform's calling convention: with `oldp` null, *oldlenp receives the size needed
// (terminating zero included); else up to *oldlenp bytes are copied and *oldlenp set to the size
// copied. Setting values is not supported. Returns 0, or -1 with errno set (ENOENT for unknown
// names, ENOMEM when the buffer is too small, EPERM for writes).
int sysctlbyname(const char* name, void* oldp, std::size_t* oldlenp, const void* newp, std::size_t newlen);

// Runner and tests: replaces the value of a text control (nothing restores the real one).
void setSysctlString(const std::string& name, std::optional<std::string> value);

}  // namespace plat
