#include "DevicePlugin.h"

#include "HBRDevice.h"
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void registerDevicePlugin() { plat::ClassRegistry::shared().registerClass<HBRDevice>("HBRDevice"); }

}  // namespace harbor
