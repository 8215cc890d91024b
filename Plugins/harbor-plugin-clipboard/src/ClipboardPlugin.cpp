#include "ClipboardPlugin.h"

#include "HBRClipboard.h"
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void registerClipboardPlugin() { plat::ClassRegistry::shared().registerClass<HBRClipboard>("HBRClipboard"); }

}  // namespace harbor
