#include "ConsolePlugin.h"

#include "HBRLogger.h"

namespace harbor {

void registerConsolePlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRLogger>("HBRLogger"); }

}  // namespace harbor
