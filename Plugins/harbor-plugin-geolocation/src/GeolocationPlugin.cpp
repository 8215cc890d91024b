#include "GeolocationPlugin.h"

#include "HBRLocation.h"

namespace harbor {

void registerGeolocationPlugin(plat::ClassRegistry& registry) {
  registry.registerClass<HBRLocation>("HBRLocation");
}

}  // namespace harbor
