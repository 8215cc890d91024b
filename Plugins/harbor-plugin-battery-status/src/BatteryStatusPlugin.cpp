#include "BatteryStatusPlugin.h"

#include "HBRBattery.h"
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void registerBatteryStatusPlugin() { plat::ClassRegistry::shared().registerClass<HBRBattery>("HBRBattery"); }

}  // namespace harbor
