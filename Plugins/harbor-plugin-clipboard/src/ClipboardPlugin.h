#pragma once

namespace harbor {

// Registers "HBRClipboard" with the class registry. Call once before config.xml is read.
void registerClipboardPlugin();

}  // namespace harbor
