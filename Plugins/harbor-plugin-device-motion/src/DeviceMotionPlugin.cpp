#include "DeviceMotionPlugin.h"

#include "HBRAccelerometer.h"

namespace harbor {

void registerDeviceMotionPlugin(plat::ClassRegistry& registry) {
  registry.registerClass<HBRAccelerometer>("HBRAccelerometer");
}

}  // namespace harbor
