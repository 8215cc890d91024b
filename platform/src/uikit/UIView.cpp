#include "plat/uikit/UIView.h"

#include <algorithm>
#include <cmath>

#include "plat/dispatch/RunLoop.h"

namespace plat {

void UIView::initWithFrame(const CGRect& frame) { frame_ = frame; }

std::optional<UIColor> UIColor::namedColor(std::string_view name) {
  struct Named {
    std::string_view name;
    UIColor color;
  };
  static constexpr Named kColors[] = {
      {"black", {0, 0, 0, 1}},       {"darkGray", {1.0 / 3, 1.0 / 3, 1.0 / 3, 1}},
      {"lightGray", {2.0 / 3, 2.0 / 3, 2.0 / 3, 1}}, {"white", {1, 1, 1, 1}},
      {"gray", {0.5, 0.5, 0.5, 1}},  {"red", {1, 0, 0, 1}},
      {"green", {0, 1, 0, 1}},       {"blue", {0, 0, 1, 1}},
      {"cyan", {0, 1, 1, 1}},        {"yellow", {1, 1, 0, 1}},
      {"magenta", {1, 0, 1, 1}},     {"orange", {1, 0.5, 0, 1}},
      {"purple", {0.5, 0, 0.5, 1}},  {"brown", {0.6, 0.4, 0.2, 1}},
      {"clear", {0, 0, 0, 0}},       {"lightText", {1, 1, 1, 0.6}},
      {"darkText", {0, 0, 0, 1}},    {"groupTableViewBackground", {239.0 / 255, 239.0 / 255, 244.0 / 255, 1}},
  };
  for (const auto& c : kColors)
    if (c.name == name) return c.color;
  return std::nullopt;
}

CGAffineTransform CGAffineTransformMakeRotation(double angle) {
  double c = std::cos(angle), s = std::sin(angle);
  return CGAffineTransform{c, s, -s, c, 0, 0};
}

namespace {

Value rectValue(const CGRect& r) {
  return Value(Array{Value(r.origin.x), Value(r.origin.y), Value(r.size.width), Value(r.size.height)});
}

}  // namespace

void UIView::setFrame(const CGRect& frame) {
  if (frame == frame_) return;
  double dw = frame.size.width - frame_.size.width;
  double dh = frame.size.height - frame_.size.height;
  bool resized = dw != 0 || dh != 0;
  frame_ = frame;
  if (autoresizesSubviews_ && resized) {
    for (const auto& child : subviews_) {
      CGRect f = child->frame();
      unsigned m = child->autoresizingMask();
      if (m & UIViewAutoresizingFlexibleWidth) f.size.width += dw;
      if (m & UIViewAutoresizingFlexibleHeight) f.size.height += dh;
      child->setFrame(f);
    }
  }
  placeInWindowChanged();
  didChangeValueForKey("frame", rectValue(frame_));
  if (resized) didChangeValueForKey("bounds", rectValue(bounds()));
}

CGPoint UIView::center() const {
  return CGPoint{frame_.origin.x + frame_.size.width / 2, frame_.origin.y + frame_.size.height / 2};
}

void UIView::setCenter(const CGPoint& center) {
  setFrame(CGRectMake(center.x - frame_.size.width / 2, center.y - frame_.size.height / 2, frame_.size.width,
                      frame_.size.height));
}

CGPoint UIView::originInWindow() const {
  CGPoint p;
  for (const UIView* v = this; v; v = v->superview_.lock().get()) {
    // The window (a view without a superview) is the coordinate space itself.
    if (!v->superview_.lock()) break;
    p.x += v->frame_.origin.x;
    p.y += v->frame_.origin.y;
  }
  return p;
}

CGRect UIView::convertRectFromView(const CGRect& rect, const UIView* view) const {
  CGPoint from = view ? view->originInWindow() : CGPoint{};
  CGPoint to = originInWindow();
  return CGRectMake(rect.origin.x + from.x - to.x, rect.origin.y + from.y - to.y, rect.size.width, rect.size.height);
}

void UIView::transitionWithView(const std::shared_ptr<UIView>& view, double duration, unsigned long options,
                                const std::function<void()>& animations, std::function<void(bool)> completion) {
  (void)view;
  (void)options;
  if (animations) animations();
  if (!completion) return;
  RunLoop::main().scheduleTimer(std::max(duration, 0.0), [completion = std::move(completion)] { completion(true); });
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
  view->placeInWindowChanged();
}

void UIView::placeInWindowChanged() {
  frameInWindowDidChange();
  // A copy: a view told may change the list.
  auto children = subviews_;
  for (const auto& child : children) child->placeInWindowChanged();
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
  if (parent) {
    parent->detachChild(this);
    placeInWindowChanged();
  }
}

}  // namespace plat
