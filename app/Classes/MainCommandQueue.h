#pragma once
// Where an application would intercept page commands before they reach plugins. This
// application keeps the container's behaviour and does not install it.
#include "HBRCommandQueue.h"

namespace harbor {

class MainCommandQueue : public HBRCommandQueue {
 public:
  bool execute(const HBRInvokedUrlCommandPtr& command) override;
};

}  // namespace harbor
