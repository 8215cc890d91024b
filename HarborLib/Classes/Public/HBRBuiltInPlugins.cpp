#include "HBRBuiltInPlugins.h"

#include "HBRHandleOpenURL.h"
#include "HBRIntentAndNavigationFilter.h"
#include "HBRLocalStorage.h"

namespace harbor {

void HBRRegisterBuiltInPlugins(plat::ClassRegistry& registry) {
  registry.registerClass<HBRLocalStorage>("HBRLocalStorage");
  registry.registerClass<HBRIntentAndNavigationFilter>("HBRIntentAndNavigationFilter");
  registry.registerClass<HBRHandleOpenURL>("HBRHandleOpenURL");
}

}  // namespace harbor
