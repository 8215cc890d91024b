#include "AppClasses.h"

#include "AppDelegate.h"
#include "MainCommandDelegate.h"
#include "MainCommandQueue.h"
#include "MainViewController.h"
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void registerAppClasses() {
  auto& registry = plat::ClassRegistry::shared();
  registry.registerClass<AppDelegate>("AppDelegate");
  registry.registerClass<MainViewController>("MainViewController");
  registry.registerClass<MainCommandDelegate>("MainCommandDelegate");
  registry.registerClass<MainCommandQueue>("MainCommandQueue");
}

void registerPluginClasses() {
  // One call per plugin library linked into the application (Plugins/*/), for instance
  // registerClipboardPlugin(); config.xml can only name classes registered here.
}

}  // namespace harbor
