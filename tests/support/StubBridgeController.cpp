#include "support/StubBridgeController.h"

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Strings.h"

namespace harbor::testing {

void StubBridgeController::initWithWebViewEngine(const std::shared_ptr<HBRWebViewEngineProtocol>& engine) {
  engine_ = engine;
  auto self = this->self<StubBridgeController>();
  queue_ = std::make_shared<HBRCommandQueue>();
  queue_->initWithViewController(self);
  delegate_ = std::make_shared<HBRCommandDelegateImpl>();
  delegate_->initWithViewController(self);
}

void StubBridgeController::registerObject(const std::string& service, const plat::ObjectPtr& object) {
  plugins_[plat::toLowerASCII(service)] = object;
}

void StubBridgeController::removeObject(const std::string& service) { plugins_.erase(plat::toLowerASCII(service)); }

plat::ObjectPtr StubBridgeController::getCommandInstance(const std::string& pluginName) {
  if (!plat::isMainThread()) ++lookupsOffTheMainThread;
  auto it = plugins_.find(plat::toLowerASCII(pluginName));
  return it == plugins_.end() ? nullptr : it->second;
}

}  // namespace harbor::testing
