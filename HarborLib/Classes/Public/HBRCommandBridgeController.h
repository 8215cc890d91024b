#pragma once
// The part of the container view controller that the command bridge uses. Keeping it this small
// lets the bridge be tested against a stub controller.
#include <memory>
#include <string>

#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace harbor {

class HBRCommandQueue;
class HBRCommandDelegate;
class HBRWebViewEngineProtocol;

class HBRCommandBridgeController {
 public:
  virtual ~HBRCommandBridgeController() = default;

  virtual plat::ObjectPtr getCommandInstance(const std::string& pluginName) = 0;
  virtual std::shared_ptr<HBRCommandQueue> commandQueue() = 0;
  virtual std::shared_ptr<HBRCommandDelegate> commandDelegate() = 0;
  virtual std::shared_ptr<HBRWebViewEngineProtocol> webViewEngine() = 0;
  virtual std::string wwwFolderName() = 0;
  virtual std::string userAgent() = 0;
  virtual const plat::Dictionary& settings() = 0;
};

}  // namespace harbor
