#pragma once
// What a person would see change on the headless screen, logged as it happens: the status bar
// shown, hidden, restyled or recoloured, and a splash (an image covering the screen) shown,
// fading and gone.
#include <optional>
#include <string>

#include "plat/uikit/Geometry.h"

namespace harbor::runner {

// Looks at the screen after every turn of the main run loop from now on.
void watchTheScreen();

// "#RRGGBB" of a colour, for the log.
std::string hexColor(const plat::UIColor& color);

// Reads "WxH" or "WxH@SCALE" (points, scale 1 to 4).
std::optional<std::pair<plat::CGSize, double>> parseScreen(const std::string& text);

}  // namespace harbor::runner
