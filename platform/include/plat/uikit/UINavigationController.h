#pragma once
// A stack of view controllers shown one over the other, the top one visible, with a back button
// on every one above the root. Pushed controllers appear on a later turn; a popped one hears
// viewWillDisappear and then leaves at once. When the navigation controller itself appears or
// leaves the screen, so do the controllers on its stack.
//
// Threads: main thread only.
#include <memory>
#include <vector>

#include "plat/uikit/UIViewController.h"

namespace plat {

class UINavigationController : public UIViewController {
 public:
  void initWithRootViewController(const UIViewControllerPtr& root);
  void pushViewController(const UIViewControllerPtr& controller, bool animated);
  // The popped controller; null (nothing happens) when only the root is left.
  UIViewControllerPtr popViewControllerAnimated(bool animated);
  const std::vector<UIViewControllerPtr>& viewControllers() const { return stack_; }
  UIViewControllerPtr topViewController() const { return stack_.empty() ? nullptr : stack_.back(); }
  bool isOnScreen() const { return onScreen_; }

  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

 private:
  void showChild(const UIViewControllerPtr& child, bool animated);

  std::vector<UIViewControllerPtr> stack_;
  std::vector<UIViewController*> appeared_;
  bool onScreen_ = false;
};

}  // namespace plat
