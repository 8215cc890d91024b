#pragma once
// What the platform asks a view controller about rotating the interface.
#include "plat/uikit/UIApplication.h"

namespace harbor {

class HBRScreenOrientationDelegate {
 public:
  virtual ~HBRScreenOrientationDelegate() = default;

  // A UIInterfaceOrientationMask.
  virtual unsigned long supportedInterfaceOrientations() = 0;
  virtual bool shouldAutorotateToInterfaceOrientation(plat::UIInterfaceOrientation orientation) = 0;
  virtual bool shouldAutorotate() = 0;
};

}  // namespace harbor
