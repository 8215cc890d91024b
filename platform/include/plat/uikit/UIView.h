#pragma once
// A view: a rectangle in its superview with ordered subviews. No drawing; geometry, hierarchy
// and the few appearance properties the container sets. Changes of the frame are announced to
// key-value observers of "frame" and "bounds". Animations are not drawn: their changes apply at
// once and their completion runs when the clock has passed their duration.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/KeyValueObserving.h"
#include "plat/foundation/Object.h"
#include "plat/uikit/Geometry.h"
#include "plat/uikit/UIAccessibility.h"

namespace plat {

enum UIViewAutoresizing : unsigned {
  UIViewAutoresizingNone = 0,
  UIViewAutoresizingFlexibleLeftMargin = 1 << 0,
  UIViewAutoresizingFlexibleWidth = 1 << 1,
  UIViewAutoresizingFlexibleRightMargin = 1 << 2,
  UIViewAutoresizingFlexibleTopMargin = 1 << 3,
  UIViewAutoresizingFlexibleHeight = 1 << 4,
  UIViewAutoresizingFlexibleBottomMargin = 1 << 5,
};

class UIView;
class UIGestureRecognizer;
using UIViewPtr = std::shared_ptr<UIView>;

class UIView : public Object, public KeyValueObservable {
 public:
  UIView() = default;
  // Second creation step.
  virtual void initWithFrame(const CGRect& frame);

  CGRect frame() const { return frame_; }
  // Resizes flexible subviews by the change, as autoresizing does.
  void setFrame(const CGRect& frame);
  CGRect bounds() const { return CGRect{{0, 0}, frame_.size}; }
  CGPoint center() const;
  // Moves the frame so that its middle is at `center`.
  void setCenter(const CGPoint& center);
  CGAffineTransform transform() const { return transform_; }
  void setTransform(const CGAffineTransform& transform) { transform_ = transform; }
  // A rectangle of `view`'s coordinates (of the window's, that is the screen's, when null) in
  // this view's. Only offsets are applied: transforms of the views in between are not.
  CGRect convertRectFromView(const CGRect& rect, const UIView* view) const;
  // The frame in the window's coordinates (offsets only, as above).
  CGRect frameInWindow() const { return CGRect{originInWindow(), frame_.size}; }

  // Runs `animations` now and `completion` (with true) on a later turn, once the clock has passed
  // `duration` seconds. The options choose the transition effect, which is not drawn here.
  static void transitionWithView(const std::shared_ptr<UIView>& view, double duration, unsigned long options,
                                 const std::function<void()>& animations, std::function<void(bool)> completion);

  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
  bool autoresizesSubviews() const { return autoresizesSubviews_; }
  void setAutoresizesSubviews(bool v) { autoresizesSubviews_ = v; }

  std::optional<UIColor> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<UIColor> color) { backgroundColor_ = color; }
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden; }
  double alpha() const { return alpha_; }
  void setAlpha(double alpha) { alpha_ = alpha; }
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool v) { userInteractionEnabled_ = v; }
  long tag() const { return tag_; }
  void setTag(long tag) { tag_ = tag; }

  // What the screen reader says of the view and whether it skips the view and its subviews.
  const std::optional<std::string>& accessibilityLabel() const { return accessibilityLabel_; }
  void setAccessibilityLabel(std::optional<std::string> label) { accessibilityLabel_ = std::move(label); }
  const std::optional<std::string>& accessibilityHint() const { return accessibilityHint_; }
  void setAccessibilityHint(std::optional<std::string> hint) { accessibilityHint_ = std::move(hint); }
  // A plain view has none; labels are static text and buttons buttons.
  virtual UIAccessibilityTraits accessibilityTraits() const { return accessibilityTraits_.value_or(UIAccessibilityTraitNone); }
  void setAccessibilityTraits(UIAccessibilityTraits traits) { accessibilityTraits_ = traits; }
  bool accessibilityElementsHidden() const { return accessibilityElementsHidden_; }
  void setAccessibilityElementsHidden(bool hidden) { accessibilityElementsHidden_ = hidden; }

  // Front-most last.
  const std::vector<UIViewPtr>& subviews() const { return subviews_; }
  UIViewPtr superview() const { return superview_.lock(); }
  void addSubview(const UIViewPtr& view);
  void insertSubviewAtIndex(const UIViewPtr& view, std::size_t index);
  void sendSubviewToBack(const UIViewPtr& view);
  void bringSubviewToFront(const UIViewPtr& view);
  void removeFromSuperview();

  // A view keeps its recognisers; each knows its view weakly.
  const std::vector<std::shared_ptr<UIGestureRecognizer>>& gestureRecognizers() const { return gestureRecognizers_; }
  void addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
  void removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);

 protected:
  std::optional<UIAccessibilityTraits> accessibilityTraits_;
  // The view's place in the window changed: its frame, an ancestor's frame, or its superview.
  virtual void frameInWindowDidChange() {}

 private:
  void detachChild(const UIView* child);
  // Tells the view and every view inside it.
  void placeInWindowChanged();

  CGPoint originInWindow() const;

  CGRect frame_;
  CGAffineTransform transform_;
  unsigned autoresizingMask_ = UIViewAutoresizingNone;
  bool autoresizesSubviews_ = true;
  std::optional<UIColor> backgroundColor_;
  bool hidden_ = false;
  double alpha_ = 1;
  bool opaque_ = true;
  bool userInteractionEnabled_ = true;
  long tag_ = 0;
  std::optional<std::string> accessibilityLabel_;
  std::optional<std::string> accessibilityHint_;
  bool accessibilityElementsHidden_ = false;
  std::vector<UIViewPtr> subviews_;
  std::weak_ptr<UIView> superview_;
  std::vector<std::shared_ptr<UIGestureRecognizer>> gestureRecognizers_;
};

}  // namespace plat
