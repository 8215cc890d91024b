#include "LocalNotificationPlugin.h"

#include "LCNAppEvent.h"
#include "LCNLocalNotification.h"

namespace harbor {

void registerLocalNotificationPlugin(plat::ClassRegistry& registry) {
  registry.registerClass<LCNLocalNotification>("LCNLocalNotification");
  installAppEventHooks();
}

}  // namespace harbor
