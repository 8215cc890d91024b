#include "ClipboardPlugin.h"

#include "HBRClipboard.h"

namespace harbor {

void registerClipboardPlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRClipboard>("HBRClipboard"); }

}  // namespace harbor
