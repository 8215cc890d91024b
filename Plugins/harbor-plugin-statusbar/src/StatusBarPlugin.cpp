#include "StatusBarPlugin.h"

#include "HBRStatusBar.h"

namespace harbor {

void registerStatusBarPlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRStatusBar>("HBRStatusBar"); }

}  // namespace harbor
