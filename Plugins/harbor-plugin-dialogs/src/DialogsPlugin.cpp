#include "DialogsPlugin.h"

#include "HBRNotification.h"
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void registerDialogsPlugin() { plat::ClassRegistry::shared().registerClass<HBRNotification>("HBRNotification"); }

}  // namespace harbor
