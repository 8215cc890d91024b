#include "VibrationPlugin.h"

#include "HBRVibration.h"
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void registerVibrationPlugin() { plat::ClassRegistry::shared().registerClass<HBRVibration>("HBRVibration"); }

}  // namespace harbor
