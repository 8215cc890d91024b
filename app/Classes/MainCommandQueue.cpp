#include "MainCommandQueue.h"

namespace harbor {

bool MainCommandQueue::execute(const HBRInvokedUrlCommandPtr& command) { return HBRCommandQueue::execute(command); }

}  // namespace harbor
