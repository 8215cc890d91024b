#pragma once
// The container's autorotation switch, which the splash screen turns off while the launch
// image is up so that nobody sees the image turn. The switch is the view controller's
// autorotation hook: while it is set, its answer is the controller's shouldAutorotate.
#include "HBRViewController.h"

namespace harbor {

// What shouldAutorotate answers now: the switch, or the controller's own answer (yes) when the
// switch was never set.
inline bool enabledAutorotation(HBRViewController& controller) { return controller.shouldAutorotate(); }
inline void setEnabledAutorotation(HBRViewController& controller, bool enabled) {
  controller.setShouldAutorotateHook([enabled] { return enabled; });
}

}  // namespace harbor
