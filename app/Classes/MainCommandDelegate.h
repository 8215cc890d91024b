#pragma once
// Where an application would change how plugins are found or resources looked up. This
// application keeps the container's behaviour and does not install it.
#include "HBRCommandDelegateImpl.h"

namespace harbor {

class MainCommandDelegate : public HBRCommandDelegateImpl {
 public:
  plat::ObjectPtr getCommandInstance(const std::string& pluginName) override;
  std::optional<std::string> pathForResource(const std::string& resourcePath) override;
};

}  // namespace harbor
