#pragma once
// The device's hardware model code (the system control "hw.machine"), such as "iPhone8,1";
// on a desktop machine its architecture, such as "x86_64". Empty when it cannot be read.
#include <string>

#include "plat/uikit/UIDevice.h"

namespace harbor {

std::string modelVersion(const plat::UIDevice& device);

}  // namespace harbor
