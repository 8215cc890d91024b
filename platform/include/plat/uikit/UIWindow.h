#pragma once
// The application's window: a view whose root view controller's view fills it.
#include "plat/uikit/UIView.h"
#include "plat/uikit/UIViewController.h"

namespace plat {

class UIWindow : public UIView {
 public:
  UIViewControllerPtr rootViewController() const { return root_; }
  // Loads the controller's view and puts it in the window.
  void setRootViewController(const UIViewControllerPtr& controller);
  // Shows the window: the root view controller's view appears.
  void makeKeyAndVisible();
  bool isKeyWindow() const { return key_; }

 private:
  UIViewControllerPtr root_;
  bool key_ = false;
};

}  // namespace plat
