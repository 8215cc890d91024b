#pragma once
// A button: an image per control state and one action for a touch that ends inside it. Nothing
// is drawn; a tap (sendActionsForControlEvents, as the UI driver or a test presses it) runs the
// action while the button is enabled.
#include <functional>
#include <map>
#include <memory>

#include "plat/uikit/UIImage.h"
#include "plat/uikit/UIView.h"

namespace plat {

enum UIControlState : unsigned long { UIControlStateNormal = 0, UIControlStateHighlighted = 1, UIControlStateDisabled = 2 };
enum UIControlEvents : unsigned long { UIControlEventTouchUpInside = 1 << 6 };

class UIButton : public UIView {
 public:
  std::shared_ptr<UIImage> imageForState(unsigned long state) const {
    auto found = images_.find(state);
    if (found != images_.end()) return found->second;
    found = images_.find(UIControlStateNormal);
    return found == images_.end() ? nullptr : found->second;
  }
  void setImageForState(std::shared_ptr<UIImage> image, unsigned long state) { images_[state] = std::move(image); }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  // One action per event; a later one replaces it.
  void addTargetActionForControlEvents(std::function<void()> action, unsigned long events) {
    if (events & UIControlEventTouchUpInside) touchUpInside_ = std::move(action);
  }
  // False when the button is disabled or has no action for the events.
  bool sendActionsForControlEvents(unsigned long events) {
    if (!enabled_ || !(events & UIControlEventTouchUpInside) || !touchUpInside_) return false;
    auto action = touchUpInside_;
    action();
    return true;
  }
  UIAccessibilityTraits accessibilityTraits() const override {
    return accessibilityTraits_.value_or(UIAccessibilityTraitButton | (enabled_ ? 0 : UIAccessibilityTraitNotEnabled));
  }

 private:
  std::map<unsigned long, std::shared_ptr<UIImage>> images_;
  bool enabled_ = true;
  std::function<void()> touchUpInside_;
};
using UIButtonPtr = std::shared_ptr<UIButton>;

}  // namespace plat
