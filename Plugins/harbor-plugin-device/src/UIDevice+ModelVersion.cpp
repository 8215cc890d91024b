#include "UIDevice+ModelVersion.h"

#include <vector>

#include "plat/sys/sysctl.h"

namespace harbor {

std::string modelVersion(const plat::UIDevice& device) {
  std::size_t size = 0;
  if (plat::sysctlbyname("hw.machine", nullptr, &size, nullptr, 0) != 0 || size == 0) return {};
  std::vector<char> machine(size);
  if (plat::sysctlbyname("hw.machine", machine.data(), &size, nullptr, 0) != 0) return {};
  return std::string(machine.data());
}

}  // namespace harbor
