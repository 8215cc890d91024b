#pragma once
// The device's screen: its bounds and scale, settable by tests and the runner.
#include "plat/uikit/Geometry.h"

namespace plat {

class UIScreen {
 public:
  static UIScreen& mainScreen();
  CGRect bounds() const { return bounds_; }
  void setBounds(const CGRect& bounds) { bounds_ = bounds; }
  double scale() const { return scale_; }
  void setScale(double scale) { scale_ = scale; }

 private:
  CGRect bounds_ = CGRectMake(0, 0, 375, 667);
  double scale_ = 2;
};

}  // namespace plat
