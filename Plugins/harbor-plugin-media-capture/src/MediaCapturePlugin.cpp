#include "MediaCapturePlugin.h"

#include "HBRCapture.h"

namespace harbor {

void registerMediaCapturePlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRCapture>("HBRCapture"); }

}  // namespace harbor
