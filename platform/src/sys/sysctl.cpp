#include "plat/sys/sysctl.h"

#include <sys/utsname.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace plat {
namespace {

std::mutex& overridesMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::string>& overrides() {
  static auto* values = new std::map<std::string, std::string>();
  return *values;
}

std::optional<std::string> textControl(const std::string& name) {
  {
    std::lock_guard<std::mutex> lock(overridesMutex());
    auto it = overrides().find(name);
    if (it != overrides().end()) return it->second;
  }
  if (name == "hw.machine") {
    utsname u{};
    if (::uname(&u) == 0) return std::string(u.machine);
  }
  return std::nullopt;
}

}  // namespace

int sysctlbyname(const char* name, void* oldp, std::size_t* oldlenp, const void* newp, std::size_t newlen) {
  if (!name || !oldlenp) {
    errno = EINVAL;
    return -1;
  }
  if (newp || newlen) {
    errno = EPERM;
    return -1;
  }
  auto value = textControl(name);
  if (!value) {
    errno = ENOENT;
    return -1;
  }
  std::size_t needed = value->size() + 1;
  if (!oldp) {
    *oldlenp = needed;
    return 0;
  }
  if (*oldlenp < needed) {
    errno = ENOMEM;
    return -1;
  }
  std::memcpy(oldp, value->c_str(), needed);
  *oldlenp = needed;
  return 0;
}

void setSysctlString(const std::string& name, std::optional<std::string> value) {
  std::lock_guard<std::mutex> lock(overridesMutex());
  if (value)
    overrides()[name] = std::move(*value);
  else
    overrides().erase(name);
}

}  // namespace plat
