#pragma once
// Gesture recognisers: attached to a view, they turn touches into states and send their action
// to their target at each step the platform reports (began, changed, ended, cancelled). No
// real touches arrive here: tests and the runner simulate them.
//
// Main thread only.
#include <functional>
#include <memory>

#include "plat/foundation/Object.h"
#include "plat/uikit/UIView.h"

namespace plat {

enum class UIGestureRecognizerState : long {
  Possible = 0,
  Began = 1,
  Changed = 2,
  Ended = 3,
  Cancelled = 4,
  Failed = 5,
};

class UIGestureRecognizer : public Object {
 public:
  // The action receives the recogniser that sends it.
  using Action = std::function<void(UIGestureRecognizer& sender)>;

  // The action runs only while the target lives (the target is held weakly, as the platform
  // does not retain targets).
  void initWithTarget(const ObjectPtr& target, Action action);

  UIGestureRecognizerState state() const { return state_; }
  UIViewPtr view() const { return view_.lock(); }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }

 protected:
  // Moves to the state; began, changed, ended and cancelled send the action.
  void setState(UIGestureRecognizerState state);

 private:
  friend class UIView;
  std::weak_ptr<Object> target_;
  bool hasTarget_ = false;
  Action action_;
  std::weak_ptr<UIView> view_;
  UIGestureRecognizerState state_ = UIGestureRecognizerState::Possible;
  bool enabled_ = true;
};

class UILongPressGestureRecognizer : public UIGestureRecognizer {
 public:
  double minimumPressDuration() const { return minimumPressDuration_; }
  void setMinimumPressDuration(double seconds) { minimumPressDuration_ = seconds; }
  double allowableMovement() const { return allowableMovement_; }
  void setAllowableMovement(double points) { allowableMovement_ = points; }

  // Test surface: a finger held on the view for `seconds`, moving at most `movement` points,
  // then lifted. Recognised (began, then ended) when it was long and still enough; otherwise
  // the recogniser fails without sending its action. Back to "possible" afterwards.
  bool simulatePress(double seconds, double movement = 0);

 private:
  double minimumPressDuration_ = 0.5;
  double allowableMovement_ = 10;
};

}  // namespace plat
