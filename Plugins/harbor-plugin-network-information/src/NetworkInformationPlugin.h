#pragma once

namespace harbor {

// Registers "HBRConnection" with the class registry. Call once before config.xml is read.
void registerNetworkInformationPlugin();

}  // namespace harbor
