#pragma once
// A view controller: owns a lazily loaded view and may present another controller modally.
// Presentation is immediate (no animation); the completion runs on a later run-loop turn, as
// after an animation.
#include <functional>
#include <memory>

#include "plat/foundation/Object.h"
#include "plat/uikit/UIView.h"

namespace plat {

class UIViewController;
using UIViewControllerPtr = std::shared_ptr<UIViewController>;

class UIViewController : public Object {
 public:
  UIViewController() = default;

  // Loads the view on first use (loadView, then viewDidLoad).
  UIViewPtr view();
  bool isViewLoaded() const { return view_ != nullptr; }
  void setView(const UIViewPtr& view) { view_ = view; }

  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool animated) {}
  virtual void viewDidAppear(bool animated) {}
  // The controller was dismissed and has left the screen.
  virtual void viewDidDisappear(bool animated) {}
  virtual void viewDidUnload() {}
  virtual void didReceiveMemoryWarning() {}

  // Presents modally on top of this controller. Presenting while something is already
  // presented fails (the completion is not run) and returns false, as on the platform.
  bool presentViewController(const UIViewControllerPtr& controller, bool animated, std::function<void()> completion);
  void dismissViewControllerAnimated(bool animated, std::function<void()> completion);
  UIViewControllerPtr presentedViewController() const { return presented_; }
  UIViewControllerPtr presentingViewController() const { return presenting_.lock(); }

 private:
  UIViewPtr view_;
  UIViewControllerPtr presented_;
  std::weak_ptr<UIViewController> presenting_;
};

}  // namespace plat
