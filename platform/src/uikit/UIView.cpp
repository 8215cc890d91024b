#include "plat/uikit/UIView.h"

#include <algorithm>

namespace plat {

void UIView::initWithFrame(const CGRect& frame) { frame_ = frame; }

void UIView::setFrame(const CGRect& frame) {
  double dw = frame.size.width - frame_.size.width;
  double dh = frame.size.height - frame_.size.height;
  frame_ = frame;
  if (!autoresizesSubviews_ || (dw == 0 && dh == 0)) return;
  for (const auto& child : subviews_) {
    CGRect f = child->frame();
    unsigned m = child->autoresizingMask();
    if (m & UIViewAutoresizingFlexibleWidth) f.size.width += dw;
    if (m & UIViewAutoresizingFlexibleHeight) f.size.height += dh;
    child->setFrame(f);
  }
}

void UIView::detachChild(const UIView* child) {
  std::erase_if(subviews_, [&](const UIViewPtr& v) { return v.get() == child; });
}

void UIView::addSubview(const UIViewPtr& view) { insertSubviewAtIndex(view, subviews_.size()); }

void UIView::insertSubviewAtIndex(const UIViewPtr& view, std::size_t index) {
  if (!view || view.get() == this) return;
  view->removeFromSuperview();
  index = std::min(index, subviews_.size());
  subviews_.insert(subviews_.begin() + static_cast<long>(index), view);
  view->superview_ = std::static_pointer_cast<UIView>(shared_from_this());
}

void UIView::sendSubviewToBack(const UIViewPtr& view) {
  auto it = std::find(subviews_.begin(), subviews_.end(), view);
  if (it == subviews_.end()) return;
  std::rotate(subviews_.begin(), it, it + 1);
}

void UIView::bringSubviewToFront(const UIViewPtr& view) {
  auto it = std::find(subviews_.begin(), subviews_.end(), view);
  if (it == subviews_.end()) return;
  std::rotate(it, it + 1, subviews_.end());
}

void UIView::removeFromSuperview() {
  auto parent = superview_.lock();
  superview_.reset();
  if (parent) parent->detachChild(this);
}

}  // namespace plat
