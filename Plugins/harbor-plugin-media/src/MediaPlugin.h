#pragma once

#include "plat/foundation/ClassRegistry.h"

namespace harbor {

// Registers "HBRSound" under the class name config.xml uses. Call once at start-up, before
// config.xml is read; calling it again does no harm.
void registerMediaPlugin(plat::ClassRegistry& registry = plat::ClassRegistry::shared());

}  // namespace harbor
