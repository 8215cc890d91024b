#include "UIView+HBRExtension.h"

#include "plat/uikit/UIScrollView.h"

namespace harbor {

plat::ObjectPtr scrollView(const plat::ObjectPtr& view) {
  auto owner = std::dynamic_pointer_cast<plat::UIScrollViewOwner>(view);
  return owner ? owner->scrollView() : nullptr;
}

}  // namespace harbor
