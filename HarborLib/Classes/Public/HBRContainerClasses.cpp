#include "HBRContainerClasses.h"

#include "HBRAppDelegate.h"
#include "HBRBuiltInPlugins.h"
#include "HBRViewController.h"
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void registerContainerClasses() {
  auto& registry = plat::ClassRegistry::shared();
  registry.registerClass<HBRViewController>("HBRViewController");
  registry.registerClass<HBRAppDelegate>("HBRAppDelegate");
  // The built-in plugins, the web view engines among them.
  HBRRegisterBuiltInPlugins(registry);
}

}  // namespace harbor
