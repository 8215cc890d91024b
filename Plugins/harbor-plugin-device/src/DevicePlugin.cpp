#include "DevicePlugin.h"

#include "HBRDevice.h"

namespace harbor {

void registerDevicePlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRDevice>("HBRDevice"); }

}  // namespace harbor
