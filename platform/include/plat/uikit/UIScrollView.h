#pragma once
// A scrolling view. Nothing scrolls here; the settings a web view's owner changes are kept and
// readable: bouncing and the deceleration rate.
#include <memory>

#include "plat/uikit/UIView.h"

namespace plat {

inline constexpr double UIScrollViewDecelerationRateNormal = 0.998;
inline constexpr double UIScrollViewDecelerationRateFast = 0.99;

class UIScrollView;
using UIScrollViewPtr = std::shared_ptr<UIScrollView>;

class UIScrollView : public UIView {
 public:
  bool bounces() const { return bounces_; }
  void setBounces(bool bounces) { bounces_ = bounces; }
  double decelerationRate() const { return decelerationRate_; }
  void setDecelerationRate(double rate) { decelerationRate_ = rate; }
  bool isScrollEnabled() const { return scrollEnabled_; }
  void setScrollEnabled(bool enabled) { scrollEnabled_ = enabled; }

 private:
  bool bounces_ = true;
  double decelerationRate_ = UIScrollViewDecelerationRateNormal;
  bool scrollEnabled_ = true;
};

// Views that show their content through a scroll view of their own (the web views) answer it
// here; the platform's "responds to scrollView".
class UIScrollViewOwner {
 public:
  virtual ~UIScrollViewOwner() = default;
  virtual UIScrollViewPtr scrollView() const = 0;
};

}  // namespace plat
