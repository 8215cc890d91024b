#pragma once
// The page's console: each line becomes one line of the system log.
//
// Page action (main thread, no answer):
//   logLevel [level, message] -> "message" for the level "LOG", else "level: message"
#include "HBRPlugin.h"

namespace harbor {

class HBRLogger : public HBRPlugin {
 public:
  HBRLogger();

  void logLevel(const HBRInvokedUrlCommandPtr& command);
};

}  // namespace harbor
