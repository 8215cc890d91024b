#pragma once
// The spinning wheel that says "wait". Its size follows its style, as on the device.
#include "plat/uikit/UIView.h"

namespace plat {

enum UIActivityIndicatorViewStyle : long {
  UIActivityIndicatorViewStyleWhiteLarge = 0,
  UIActivityIndicatorViewStyleWhite = 1,
  UIActivityIndicatorViewStyleGray = 2,
};

class UIActivityIndicatorView : public UIView {
 public:
  // Second creation step: a wheel of the style's size (37 points large, 20 otherwise) at the origin.
  void initWithActivityIndicatorStyle(UIActivityIndicatorViewStyle style) {
    style_ = style;
    double side = style == UIActivityIndicatorViewStyleWhiteLarge ? 37 : 20;
    initWithFrame(CGRectMake(0, 0, side, side));
  }
  UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return style_; }
  void startAnimating() { animating_ = true; }
  void stopAnimating() { animating_ = false; }
  bool isAnimating() const { return animating_; }

 private:
  UIActivityIndicatorViewStyle style_ = UIActivityIndicatorViewStyleWhite;
  bool animating_ = false;
};

}  // namespace plat
