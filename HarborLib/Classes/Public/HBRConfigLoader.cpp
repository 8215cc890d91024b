#include "HBRConfigLoader.h"

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

void HBRConfigLoader::parseSettingsWithParser(const std::shared_ptr<plat::NSXMLParserDelegate>& delegate) {
  auto parser = std::make_shared<plat::NSXMLParser>();
  if (!parser->initWithContentsOfURL(plat::NSURL::fileURLWithPath(configFilePath()))) {
    plat::NSLog("Failed to initialize XML parser.");
    return;
  }
  configParser_ = parser;
  parser->setDelegate(delegate);
  parser->parse();
}

}  // namespace harbor
