#pragma once

namespace harbor {

// Registers "HBRBattery" with the class registry. Call once before config.xml is read.
void registerBatteryStatusPlugin();

}  // namespace harbor
