#include "SplashScreenPlugin.h"

#include "HBRSplashScreen.h"

namespace harbor {

void registerSplashScreenPlugin(plat::ClassRegistry& registry) {
  registry.registerClass<HBRSplashScreen>("HBRSplashScreen");
}

}  // namespace harbor
