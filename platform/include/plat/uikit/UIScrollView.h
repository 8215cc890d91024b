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

// What a scroll view asks of its delegate.
class UIScrollViewDelegate {
 public:
  virtual ~UIScrollViewDelegate() = default;
  // A tap on the status bar would scroll this view to its top: yes lets it.
  virtual bool scrollViewShouldScrollToTop(UIScrollView& scrollView) { return true; }
};

class UIScrollView : public UIView {
 public:
  // Held weakly, as the platform does.
  std::shared_ptr<UIScrollViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<UIScrollViewDelegate>& delegate) { delegate_ = delegate; }
  // A status-bar tap scrolls the one scroll view of the window that has this on (the default).
  bool scrollsToTop() const { return scrollsToTop_; }
  void setScrollsToTop(bool v) { scrollsToTop_ = v; }
  CGSize contentSize() const { return contentSize_; }
  void setContentSize(const CGSize& size) { contentSize_ = size; }
  CGPoint contentOffset() const { return contentOffset_; }
  void setContentOffset(const CGPoint& offset) { contentOffset_ = offset; }

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
  bool scrollsToTop_ = true;
  CGSize contentSize_;
  CGPoint contentOffset_;
  std::weak_ptr<UIScrollViewDelegate> delegate_;
};

// Views that show their content through a scroll view of their own (the web views) answer it
// here; the platform's "responds to scrollView".
class UIScrollViewOwner {
 public:
  virtual ~UIScrollViewOwner() = default;
  virtual UIScrollViewPtr scrollView() const = 0;
};

}  // namespace plat
