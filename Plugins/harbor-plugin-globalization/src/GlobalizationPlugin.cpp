#include "GlobalizationPlugin.h"

#include "HBRGlobalization.h"

namespace harbor {

void registerGlobalizationPlugin(plat::ClassRegistry& registry) {
  registry.registerClass<HBRGlobalization>("HBRGlobalization");
}

}  // namespace harbor
