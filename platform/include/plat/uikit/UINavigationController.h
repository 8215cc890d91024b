#pragma once
// A navigation controller: a stack of view controllers shown one over the other, the top one
// visible, with a back button on every one above the root, and a title and bar buttons per
// screen. Nothing is drawn; the stack, the titles and the delegate's calls are what callers see.
//
// The stack changes at once. Pushed controllers appear on a later turn (viewWillAppear, then
// viewDidAppear); a popped one hears viewWillDisappear and then leaves at once. When the
// navigation controller itself appears or leaves the screen, so do the controllers on its stack.
// The delegate hears navigationControllerWillShowViewControllerAnimated whenever a controller
// is about to become the visible top one: the top one when the navigation controller appears, a
// pushed one just before it appears, and the one a pop uncovers.
//
// Threads: main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/uikit/UIViewController.h"

namespace plat {

class UINavigationController;

class UINavigationControllerDelegate {
 public:
  virtual ~UINavigationControllerDelegate() = default;
  virtual void navigationControllerWillShowViewControllerAnimated(UINavigationController& navigationController,
                                                                  const UIViewControllerPtr& viewController,
                                                                  bool animated) {}
};

// A bar button: a system item (Done, Cancel) or a title, and what a tap does.
class UIBarButtonItem : public Object {
 public:
  enum SystemItem { Done = 0, Cancel = 1, Custom = -1 };
  UIBarButtonItem(SystemItem item, std::function<void()> action) : item_(item), action_(std::move(action)) {}
  SystemItem systemItem() const { return item_; }
  // A disabled item does nothing when tapped.
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  void tap() const {
    if (enabled_ && action_) action_();
  }

 private:
  SystemItem item_;
  bool enabled_ = true;
  std::function<void()> action_;
};
using UIBarButtonItemPtr = std::shared_ptr<UIBarButtonItem>;

class UINavigationController : public UIViewController {
 public:
  // The stack becomes [root] (a root already on it is kept).
  void initWithRootViewController(const UIViewControllerPtr& root);
  // Ignored for null or a controller already on the stack.
  void pushViewController(const UIViewControllerPtr& controller, bool animated);
  // The popped controller; null (nothing happens) when only the root is left.
  UIViewControllerPtr popViewControllerAnimated(bool animated);
  // Pops everything above the root; nothing happens when only the root is left.
  void popToRootViewControllerAnimated(bool animated);

  const std::vector<UIViewControllerPtr>& viewControllers() const { return stack_; }
  UIViewControllerPtr topViewController() const { return stack_.empty() ? nullptr : stack_.back(); }
  bool isOnScreen() const { return onScreen_; }

  std::shared_ptr<UINavigationControllerDelegate> navigationDelegate() const { return delegate_.lock(); }
  void setNavigationDelegate(const std::shared_ptr<UINavigationControllerDelegate>& d) { delegate_ = d; }

  // The controllers on the stack appear and leave with the navigation controller.
  void viewWillAppear(bool animated) override {}
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

 private:
  void showChild(const UIViewControllerPtr& child, bool animated);
  void willShow(const UIViewControllerPtr& controller, bool animated);
  // Takes the top controller off the stack: viewWillDisappear, then viewDidDisappear if it had
  // appeared. It is returned even when viewWillDisappear already took it (or the whole
  // navigation) away.
  UIViewControllerPtr removeTop(bool animated);

  std::vector<UIViewControllerPtr> stack_;
  std::vector<UIViewController*> appeared_;
  std::weak_ptr<UINavigationControllerDelegate> delegate_;
  bool onScreen_ = false;
};
using UINavigationControllerPtr = std::shared_ptr<UINavigationController>;

}  // namespace plat
