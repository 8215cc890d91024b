#pragma once
// The container's extension of views: a safe scrollView accessor for any view.
#include "plat/foundation/Object.h"

namespace harbor {

// The view's scroll view when the view has one (the web views do), else null.
plat::ObjectPtr scrollView(const plat::ObjectPtr& view);

}  // namespace harbor
