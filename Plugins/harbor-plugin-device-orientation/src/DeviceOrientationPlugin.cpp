#include "DeviceOrientationPlugin.h"

#include "HBRCompass.h"

namespace harbor {

void registerDeviceOrientationPlugin(plat::ClassRegistry& registry) {
  registry.registerClass<HBRCompass>("HBRCompass");
}

}  // namespace harbor
