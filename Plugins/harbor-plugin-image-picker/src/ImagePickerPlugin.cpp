#include "ImagePickerPlugin.h"

#include "MIPPicker.h"

namespace harbor {

void registerImagePickerPlugin(plat::ClassRegistry& registry) { registry.registerClass<MIPPicker>("MIPPicker"); }

}  // namespace harbor
