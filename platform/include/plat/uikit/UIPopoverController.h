#pragma once
// A popover (tablets): shows a content controller in a floating panel pointing at a rectangle of
// a view. It closes when its owner dismisses it, or when the user taps outside it (the driver's
// tapOutsidePopover), and only then is its delegate told.
//
// Threads: main thread only.
#include <memory>

#include "plat/uikit/Geometry.h"
#include "plat/uikit/UIView.h"
#include "plat/uikit/UIViewController.h"

namespace plat {

enum UIPopoverArrowDirection : unsigned long {
  UIPopoverArrowDirectionUp = 1,
  UIPopoverArrowDirectionDown = 2,
  UIPopoverArrowDirectionLeft = 4,
  UIPopoverArrowDirectionRight = 8,
  UIPopoverArrowDirectionAny = 15,
};

class UIPopoverController;

class UIPopoverControllerDelegate {
 public:
  virtual ~UIPopoverControllerDelegate() = default;
  virtual void popoverControllerDidDismissPopover(UIPopoverController& popoverController) {}
};

class UIPopoverController : public Object {
 public:
  void initWithContentViewController(const UIViewControllerPtr& content) { content_ = content; }
  UIViewControllerPtr contentViewController() const { return content_; }

  std::shared_ptr<UIPopoverControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<UIPopoverControllerDelegate>& d) { delegate_ = d; }

  // Shows the content pointing at rect of view (moves it when already shown); the content
  // appears on a later turn.
  void presentPopoverFromRect(CGRect rect, const UIViewPtr& view, unsigned long arrowDirections, bool animated);
  // Hides it; the delegate is not told.
  void dismissPopoverAnimated(bool animated);
  bool isPopoverVisible() const { return visible_; }

  CGRect presentedRect() const { return rect_; }
  UIViewPtr presentedInView() const { return view_.lock(); }
  unsigned long arrowDirections() const { return arrows_; }

  // The user's tap outside: hides it and tells the delegate.
  void dismissByTapOutside();

 private:
  UIViewControllerPtr content_;
  std::weak_ptr<UIPopoverControllerDelegate> delegate_;
  bool visible_ = false;
  bool contentShown_ = false;
  CGRect rect_;
  std::weak_ptr<UIView> view_;
  unsigned long arrows_ = UIPopoverArrowDirectionAny;
};
using UIPopoverControllerPtr = std::shared_ptr<UIPopoverController>;

}  // namespace plat
