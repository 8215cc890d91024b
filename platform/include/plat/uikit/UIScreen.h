#pragma once
// The device's screen: its bounds (points, in the portrait orientation the hardware has) and
// scale, settable by tests and the runner.
#include "plat/uikit/Geometry.h"

namespace plat {

class UIScreen {
 public:
  static UIScreen& mainScreen();
  CGRect bounds() const { return bounds_; }
  // The bounds less the status bar while it shows.
  CGRect applicationFrame() const;
  void setBounds(const CGRect& bounds) { bounds_ = bounds; }
  double scale() const { return scale_; }
  void setScale(double scale) { scale_ = scale; }
  // Tests: the starting screen (a 375 x 667 point phone screen at scale 2).
  void reset() { *this = UIScreen(); }

 private:
  CGRect bounds_ = CGRectMake(0, 0, 375, 667);
  double scale_ = 2;
};

}  // namespace plat
