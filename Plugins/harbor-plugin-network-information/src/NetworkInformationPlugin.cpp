#include "NetworkInformationPlugin.h"

#include "HBRConnection.h"

namespace harbor {

void registerNetworkInformationPlugin(plat::ClassRegistry& registry) {
  registry.registerClass<HBRConnection>("HBRConnection");
}

}  // namespace harbor
