#include "MainCommandDelegate.h"

namespace harbor {

plat::ObjectPtr MainCommandDelegate::getCommandInstance(const std::string& pluginName) {
  return HBRCommandDelegateImpl::getCommandInstance(pluginName);
}

std::optional<std::string> MainCommandDelegate::pathForResource(const std::string& resourcePath) {
  return HBRCommandDelegateImpl::pathForResource(resourcePath);
}

}  // namespace harbor
