#include "HBRTemporaryFiles.h"

#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"

namespace harbor {

std::string HBRNumberedTemporaryFilePath(std::string_view prefix, std::string_view extension) {
  std::string folder = plat::stringByStandardizingPath(plat::NSTemporaryDirectory());
  auto& files = plat::NSFileManager::defaultManager();
  for (long number = 1;; ++number) {
    std::string path = plat::format("%s/%.*s%03ld.%.*s", folder.c_str(), static_cast<int>(prefix.size()),
                                    prefix.data(), number, static_cast<int>(extension.size()), extension.data());
    if (!files.fileExistsAtPath(path)) return path;
  }
}

}  // namespace harbor
