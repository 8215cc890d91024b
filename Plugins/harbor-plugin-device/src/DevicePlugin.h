#pragma once

namespace harbor {

// Registers "HBRDevice" with the class registry. Call once before config.xml is read.
void registerDevicePlugin();

}  // namespace harbor
