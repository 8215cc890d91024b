#pragma once

namespace harbor {

// Registers "HBRNotification" with the class registry. Call once before config.xml is read.
void registerDialogsPlugin();

}  // namespace harbor
