#include "FilePlugin.h"

#include "HBRFile.h"

namespace harbor {

void registerFilePlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRFile>("HBRFile"); }

}  // namespace harbor
