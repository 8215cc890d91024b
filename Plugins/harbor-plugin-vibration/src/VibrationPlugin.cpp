#include "VibrationPlugin.h"

#include "HBRVibration.h"

namespace harbor {

void registerVibrationPlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRVibration>("HBRVibration"); }

}  // namespace harbor
