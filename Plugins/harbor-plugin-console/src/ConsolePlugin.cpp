#include "ConsolePlugin.h"

#include "HBRLogger.h"
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void registerConsolePlugin() { plat::ClassRegistry::shared().registerClass<HBRLogger>("HBRLogger"); }

}  // namespace harbor
