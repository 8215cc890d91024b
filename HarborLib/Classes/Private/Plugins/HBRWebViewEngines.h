#pragma once
// Makes the two web view engines and the gesture handler known by name to the class registry.
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void HBRRegisterWebViewEngines(plat::ClassRegistry& registry = plat::ClassRegistry::shared());

}  // namespace harbor
