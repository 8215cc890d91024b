#include "plat/uikit/UIPopoverController.h"

#include "plat/dispatch/Queues.h"
#include "plat/uikit/UIDriver.h"

namespace plat {

void UIPopoverController::presentPopoverFromRect(CGRect rect, const UIViewPtr& view, unsigned long arrowDirections,
                                                 bool animated) {
  rect_ = rect;
  view_ = view;
  arrows_ = arrowDirections;
  if (visible_) return;
  visible_ = true;
  UIDriver::shared().popoverDidAppear(self<UIPopoverController>());
  std::weak_ptr<UIPopoverController> weak = self<UIPopoverController>();
  dispatch::mainAsync([weak, animated] {
    auto self = weak.lock();
    if (!self || !self->visible_ || self->contentShown_ || !self->content_) return;
    self->contentShown_ = true;
    self->content_->viewWillAppear(animated);
    self->content_->viewDidAppear(animated);
  });
}

void UIPopoverController::dismissPopoverAnimated(bool animated) {
  if (!visible_) return;
  visible_ = false;
  auto keep = self<UIPopoverController>();
  UIDriver::shared().popoverDidDisappear(this);
  if (contentShown_ && content_) {
    contentShown_ = false;
    content_->viewDidDisappear(animated);
  }
}

void UIPopoverController::dismissByTapOutside() {
  if (!visible_) return;
  auto keep = self<UIPopoverController>();
  dismissPopoverAnimated(true);
  if (auto d = delegate()) d->popoverControllerDidDismissPopover(*this);
}

}  // namespace plat
