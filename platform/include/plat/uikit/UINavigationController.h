#pragma once
// A navigation controller: a stack of screens, the top one shown, with a title and bar buttons
// per screen. Nothing is drawn; the stack, the titles and the delegate's calls are what callers
// see. Pushing and popping take effect at once (animation is not drawn).
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
  void tap() const {
    if (action_) action_();
  }

 private:
  SystemItem item_;
  std::function<void()> action_;
};
using UIBarButtonItemPtr = std::shared_ptr<UIBarButtonItem>;

class UINavigationController : public UIViewController {
 public:
  void initWithRootViewController(const UIViewControllerPtr& root);

  const std::vector<UIViewControllerPtr>& viewControllers() const { return stack_; }
  UIViewControllerPtr topViewController() const { return stack_.empty() ? nullptr : stack_.back(); }
  void pushViewController(const UIViewControllerPtr& controller, bool animated);
  void popViewControllerAnimated(bool animated);
  void popToRootViewControllerAnimated(bool animated);

  std::shared_ptr<UINavigationControllerDelegate> navigationDelegate() const { return delegate_.lock(); }
  void setNavigationDelegate(const std::shared_ptr<UINavigationControllerDelegate>& d) { delegate_ = d; }

  // The top screen appears with the navigation controller.
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;

 private:
  void show(const UIViewControllerPtr& controller, bool animated);

  std::vector<UIViewControllerPtr> stack_;
  std::weak_ptr<UINavigationControllerDelegate> delegate_;
};
using UINavigationControllerPtr = std::shared_ptr<UINavigationController>;

}  // namespace plat
