#pragma once

namespace harbor {

// Registers "HBRLogger" with the class registry. Call once before config.xml is read.
void registerConsolePlugin();

}  // namespace harbor
