#include "HBRWebViewEngines.h"

#include "HBRGestureHandler.h"
#include "HBRUIWebViewEngine.h"
#include "HBRWKWebViewEngine.h"

namespace harbor {

void HBRRegisterWebViewEngines(plat::ClassRegistry& registry) {
  registry.registerClass<HBRUIWebViewEngine>("HBRUIWebViewEngine");
  registry.registerClass<HBRWKWebViewEngine>("HBRWKWebViewEngine");
  registry.registerClass<HBRGestureHandler>("HBRGestureHandler");
}

}  // namespace harbor
