// Feeds arbitrary bytes to the config.xml reader, as a damaged or hostile application bundle
// would. Whatever the input, the reader must end with settings or a parse error (an assertion
// failure, which here throws instead of stopping the process) and never crash, hang or read
// outside its input. The preference readers run over whatever was stored.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "HBRConfigParser.h"
#include "HBRPreferences.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/NSXMLParser.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  plat::setAssertionHandler(plat::throwingAssertionHandler());
  plat::setLogSink([](std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto config = std::make_shared<harbor::HBRConfigParser>();
  auto parser = std::make_shared<plat::NSXMLParser>();
  parser->initWithData(std::string(reinterpret_cast<const char*>(data), size));
  parser->setDelegate(config);
  try {
    parser->parse();
  } catch (const plat::NSException&) {
    return 0;  // a parse error: the container would stop here with its assertion
  }
  for (const auto& [name, value] : config->settings()) {
    if (name.empty()) __builtin_trap();  // nothing may be stored under no key
    harbor::harborBoolSettingForKey(config->settings(), name, false);
    harbor::harborFloatSettingForKey(config->settings(), name, 0);
  }
  for (const auto& [service, className] : config->pluginsDict())
    if (service.empty() || !className.isString() || className.asString().empty()) __builtin_trap();
  return 0;
}
