#pragma once

#include "plat/foundation/ClassRegistry.h"

namespace harbor {

// Registers "LCNLocalNotification" under the class name config.xml uses and fills the
// container's hook slots for the application events it hears (LCNAppEvent.h). Call once at
// start-up, before config.xml is read and before the application launches; calling it again
// does no harm.
void registerLocalNotificationPlugin(plat::ClassRegistry& registry = plat::ClassRegistry::shared());

}  // namespace harbor
