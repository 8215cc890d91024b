#include "HBRBuiltInPlugins.h"

#include "HBRLocalStorage.h"

namespace harbor {

void HBRRegisterBuiltInPlugins(plat::ClassRegistry& registry) {
  registry.registerClass<HBRLocalStorage>("HBRLocalStorage");
}

}  // namespace harbor
