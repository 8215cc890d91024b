#pragma once
// A view controller: owns a lazily loaded view and presents other controllers modally. One
// controller presents another over itself, forming a chain; dismissing a controller takes it and
// everything it presents off the screen.
//
// Threads: main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "plat/foundation/Object.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIView.h"

namespace plat {

class UIViewController;
using UIViewControllerPtr = std::shared_ptr<UIViewController>;

class UIViewController : public Object {
 public:
  using Completion = std::function<void()>;

  // Loads the view on first use (loadView, then viewDidLoad).
  UIViewPtr view();
  bool isViewLoaded() const { return view_ != nullptr; }
  void setView(const UIViewPtr& view) { view_ = view; }

  // Lifecycle hooks; the base versions do nothing (loadView makes a plain full-screen view).
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool animated) {}
  virtual void viewDidAppear(bool animated) {}
  // Called when a navigation controller takes this controller off its stack.
  virtual void viewWillDisappear(bool animated) {}
  virtual void viewDidDisappear(bool animated) {}
  virtual void viewDidUnload() {}
  virtual void didReceiveMemoryWarning() {}

  // Presents `controller` over this one. It is this controller's presented controller at once;
  // it is on screen, and the completion runs, on a later turn. Returns false, logs a warning and
  // never runs the completion when this controller is already presenting (or still being
  // presented), when `controller` is already presented somewhere, or is this controller. While
  // the presented controller is being dismissed, the presentation waits for the dismissal to end.
  // (The platform's own call reports failure only in its log; callers here also get it back.)
  virtual bool presentViewController(const std::shared_ptr<UIViewController>& controller, bool animated,
                                     Completion completion);
  // Dismisses the controller this one presents, or this one when it presents none, together with
  // everything presented over it. Animated: off screen, and the completion run, on a later turn.
  // Once they are off screen this controller's status bar look is applied again
  // (setNeedsStatusBarAppearanceUpdate), before the completion runs.
  virtual void dismissViewControllerAnimated(bool animated, Completion completion);

  // The title a navigation bar shows for it, and its right bar button (UINavigationController.h).
  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  std::shared_ptr<Object> rightBarButtonItem() const { return rightBarButtonItem_; }
  void setRightBarButtonItem(std::shared_ptr<Object> item) { rightBarButtonItem_ = std::move(item); }

  std::shared_ptr<UIViewController> presentedViewController() const { return presented_; }
  std::shared_ptr<UIViewController> presentingViewController() const { return presenting_.lock(); }
  // The navigation controller whose stack holds this controller, or null.
  std::shared_ptr<UIViewController> navigationController() const { return navigationController_.lock(); }
  void setNavigationController(const std::shared_ptr<UIViewController>& nav) { navigationController_ = nav; }
  bool isBeingPresented() const { return beingPresented_; }
  bool isBeingDismissed() const { return beingDismissed_; }

  // The status bar's look this controller asks for, applied by setNeedsStatusBarAppearanceUpdate
  // when view controllers choose it (UIApplication::viewControllerBasedStatusBarAppearance).
  virtual bool prefersStatusBarHidden() const { return false; }
  virtual long preferredStatusBarStyle() const { return 0; }
  void setNeedsStatusBarAppearanceUpdate();

  // How the interface is turned. Nothing rotates a headless screen, so it stays portrait unless
  // tests or the runner turn it.
  UIInterfaceOrientation interfaceOrientation() const { return interfaceOrientation_; }
  void setInterfaceOrientation(UIInterfaceOrientation orientation) { interfaceOrientation_ = orientation; }

 private:
  void finishPresentation(const std::shared_ptr<UIViewController>& controller, bool animated, Completion completion);
  void finishDismissal(bool animated, Completion completion);

  UIViewPtr view_;
  std::optional<std::string> title_;
  std::shared_ptr<Object> rightBarButtonItem_;
  std::shared_ptr<UIViewController> presented_;
  std::weak_ptr<UIViewController> presenting_;
  std::weak_ptr<UIViewController> navigationController_;
  bool beingPresented_ = false;
  bool beingDismissed_ = false;
  UIInterfaceOrientation interfaceOrientation_ = UIInterfaceOrientationPortrait;
  // A presentation that waits for the current dismissal to end.
  std::function<void()> afterDismissal_;
};

}  // namespace plat
