#include "FileTransferPlugin.h"

#include "HBRFileTransfer.h"

namespace harbor {

void registerFileTransferPlugin(plat::ClassRegistry& registry) {
  registry.registerClass<HBRFileTransfer>("HBRFileTransfer");
}

}  // namespace harbor
