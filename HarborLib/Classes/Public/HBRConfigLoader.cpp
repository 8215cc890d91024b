#include "HBRConfigLoader.h"

#include <sys/stat.h>

#include <cstdint>

#include "plat/foundation/Log.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSURL.h"

namespace harbor {

std::string HBRConfigLoader::configFilePath() const {
  std::string name = configFile_.empty() ? std::string(kDefaultConfigFile) : configFile_;
  std::string path = name;
  if (name.front() != '/') {
    plat::NSBundlePtr bundle = bundle_ ? bundle_ : plat::NSBundle::mainBundle();
    auto found = bundle->pathForResource(name, "");
    if (!found) plat::NSAssertionFailuref("ERROR: %s not found in the main bundle!", name.c_str());
    path = *found;
  }
  if (!plat::NSFileManager::defaultManager().fileExistsAtPath(path)) {
    plat::NSAssertionFailuref(
        "ERROR: %s does not exist. Please run harbor-ios/bin/harbor_plist_to_config_xml path/to/project.",
        path.c_str());
  }
  return path;
}

namespace {

// What a path that is no plain file is, for the refusal.
const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a plain file";
}

// Refuses, before anything is read, a configuration that could only start an empty application
// or exhaust memory: no plain file (a folder, a pipe that never ends, a link to a device), an
// empty one, or one larger than any real configuration.
void checkConfigFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;  // the parser says why it cannot read it
  if (!S_ISREG(st.st_mode)) {
    plat::NSAssertionFailuref("ERROR: %s is %s, not a plain file; the configuration cannot be read from it.",
                              plat::logEscaped(path).c_str(), kindOf(st.st_mode));
  }
  if (st.st_size == 0) plat::NSAssertionFailuref("ERROR: %s is empty.", plat::logEscaped(path).c_str());
  if (static_cast<std::uint64_t>(st.st_size) > HBRConfigLoader::kMaxConfigFileBytes) {
    plat::NSAssertionFailuref("ERROR: %s is too large (%llu bytes); a configuration file may be at most %llu MiB.",
                              plat::logEscaped(path).c_str(), static_cast<unsigned long long>(st.st_size),
                              static_cast<unsigned long long>(HBRConfigLoader::kMaxConfigFileBytes >> 20));
  }
}

}  // namespace

void HBRConfigLoader::parseSettingsWithParser(const std::shared_ptr<plat::NSXMLParserDelegate>& delegate) {
  std::string path = configFilePath();
  checkConfigFile(path);
  auto parser = std::make_shared<plat::NSXMLParser>();
  if (!parser->initWithContentsOfURL(plat::NSURL::fileURLWithPath(path))) {
    plat::NSLog("Failed to initialize XML parser.");
    return;
  }
  configParser_ = parser;
  parser->setDelegate(delegate);
  parser->parse();
}

}  // namespace harbor
