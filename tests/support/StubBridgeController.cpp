#include "support/StubBridgeController.h"

namespace harbor::testing {

void StubBridgeController::initWithWebViewEngine(const std::shared_ptr<HBRWebViewEngineProtocol>& engine) {
  engine_ = engine;
  auto self = this->self<StubBridgeController>();
  queue_ = std::make_shared<HBRCommandQueue>();
  queue_->initWithViewController(self);
  delegate_ = std::make_shared<HBRCommandDelegateImpl>();
  delegate_->initWithViewController(self);
}

plat::ObjectPtr StubBridgeController::getCommandInstance(const std::string& pluginName) {
  auto it = plugins_.find(pluginName);
  return it == plugins_.end() ? nullptr : it->second;
}

}  // namespace harbor::testing
