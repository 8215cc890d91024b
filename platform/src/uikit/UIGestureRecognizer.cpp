#include "plat/uikit/UIGestureRecognizer.h"

#include <algorithm>

namespace plat {

void UIGestureRecognizer::initWithTarget(const ObjectPtr& target, Action action) {
  target_ = target;
  hasTarget_ = target != nullptr;
  action_ = std::move(action);
}

void UIGestureRecognizer::setState(UIGestureRecognizerState state) {
  state_ = state;
  bool sends = state == UIGestureRecognizerState::Began || state == UIGestureRecognizerState::Changed ||
               state == UIGestureRecognizerState::Ended || state == UIGestureRecognizerState::Cancelled;
  if (!sends || !action_) return;
  ObjectPtr target = target_.lock();
  if (hasTarget_ && !target) return;
  auto keep = shared_from_this();
  action_(*this);
}

bool UILongPressGestureRecognizer::simulatePress(double seconds, double movement) {
  if (!isEnabled() || !view()) return false;
  bool recognised = seconds >= minimumPressDuration_ && movement <= allowableMovement_;
  if (recognised) {
    setState(UIGestureRecognizerState::Began);
    setState(UIGestureRecognizerState::Ended);
  } else {
    setState(UIGestureRecognizerState::Failed);
  }
  setState(UIGestureRecognizerState::Possible);
  return recognised;
}

void UIView::addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
  if (!recognizer) return;
  if (auto previous = recognizer->view(); previous && previous.get() != this) previous->removeGestureRecognizer(recognizer);
  if (std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer) == gestureRecognizers_.end())
    gestureRecognizers_.push_back(recognizer);
  recognizer->view_ = std::static_pointer_cast<UIView>(shared_from_this());
}

void UIView::removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
  auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
  if (it == gestureRecognizers_.end()) return;
  (*it)->view_.reset();
  gestureRecognizers_.erase(it);
}

}  // namespace plat
