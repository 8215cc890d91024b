#include "BatteryStatusPlugin.h"

#include "HBRBattery.h"

namespace harbor {

void registerBatteryStatusPlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRBattery>("HBRBattery"); }

}  // namespace harbor
