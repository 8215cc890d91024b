#pragma once
// One short vibration, the platform's vibrate system sound.
//
// Page action (main thread, no answer):
//   vibrate [] -> vibrates; any arguments (a duration, a pattern) are ignored
#include "HBRPlugin.h"

namespace harbor {

class HBRVibration : public HBRPlugin {
 public:
  HBRVibration();

  void vibrate(const HBRInvokedUrlCommandPtr& command);
};

}  // namespace harbor
