#include "CameraPlugin.h"

#include "HBRCamera.h"

namespace harbor {

void registerCameraPlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRCamera>("HBRCamera"); }

}  // namespace harbor
