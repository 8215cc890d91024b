#pragma once

namespace harbor {

// Registers "HBRVibration" with the class registry. Call once before config.xml is read.
void registerVibrationPlugin();

}  // namespace harbor
