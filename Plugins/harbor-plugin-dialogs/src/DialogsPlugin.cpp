#include "DialogsPlugin.h"

#include "HBRNotification.h"

namespace harbor {

void registerDialogsPlugin(plat::ClassRegistry& registry) {
  registry.registerClass<HBRNotification>("HBRNotification");
}

}  // namespace harbor
