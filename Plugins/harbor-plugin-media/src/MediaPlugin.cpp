#include "MediaPlugin.h"

#include "HBRSound.h"

namespace harbor {

void registerMediaPlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRSound>("HBRSound"); }

}  // namespace harbor
