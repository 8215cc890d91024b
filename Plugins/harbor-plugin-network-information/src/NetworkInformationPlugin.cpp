#include "NetworkInformationPlugin.h"

#include "HBRConnection.h"
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void registerNetworkInformationPlugin() {
  plat::ClassRegistry::shared().registerClass<HBRConnection>("HBRConnection");
}

}  // namespace harbor
