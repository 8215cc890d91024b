#pragma once
// Registers the container's own plugin classes by the names config.xml uses for them, so that
// the plugin registry can create them. Called once at start-up, before the first view
// controller loads; calling it again does no harm.
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void HBRRegisterBuiltInPlugins(plat::ClassRegistry& registry = plat::ClassRegistry::shared());

}  // namespace harbor
