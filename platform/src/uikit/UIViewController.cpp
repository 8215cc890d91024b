#include "plat/uikit/UIViewController.h"

#include <vector>

#include "plat/dispatch/Queues.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIScreen.h"

namespace plat {
namespace {

std::string describe(const void* p) { return format("<UIViewController: %p>", p); }

}  // namespace

UIScreen& UIScreen::mainScreen() {
  static UIScreen screen;
  return screen;
}

void UIViewController::setNeedsStatusBarAppearanceUpdate() {
  auto app = UIApplication::sharedApplication();
  if (!app->viewControllerBasedStatusBarAppearance()) return;
  app->setStatusBarStyle(preferredStatusBarStyle());
  app->setStatusBarHidden(prefersStatusBarHidden());
}

UIViewPtr UIViewController::view() {
  if (!view_) {
    loadView();
    if (!view_) UIViewController::loadView();
    viewDidLoad();
  }
  return view_;
}

void UIViewController::loadView() {
  view_ = std::make_shared<UIView>();
  view_->initWithFrame(UIScreen::mainScreen().bounds());
}

bool UIViewController::presentViewController(const std::shared_ptr<UIViewController>& controller, bool animated,
                                             Completion completion) {
  if (!controller || controller.get() == this) {
    NSLog("Warning: Attempt to present a view controller on itself or nothing");
    return false;
  }
  if (presented_ && presented_->beingDismissed_ && !afterDismissal_) {
    std::weak_ptr<UIViewController> weak = weakSelf<UIViewController>();
    afterDismissal_ = [weak, controller, animated, completion = std::move(completion)]() mutable {
      if (auto self = weak.lock()) self->presentViewController(controller, animated, std::move(completion));
    };
    return true;
  }
  if (presented_ || beingPresented_ || controller->presenting_.lock() || controller->presented_) {
    NSLog("Warning: Attempt to present " + describe(controller.get()) + " on " + describe(this) +
          " which is already presenting or is being presented");
    return false;
  }
  presented_ = controller;
  controller->presenting_ = weakSelf<UIViewController>();
  controller->beingPresented_ = true;
  std::weak_ptr<UIViewController> weak = weakSelf<UIViewController>();
  dispatch::mainAsync([weak, controller, animated, completion = std::move(completion)]() mutable {
    if (auto self = weak.lock()) self->finishPresentation(controller, animated, std::move(completion));
  });
  return true;
}

void UIViewController::finishPresentation(const std::shared_ptr<UIViewController>& controller, bool animated,
                                          Completion completion) {
  // Dismissed before it ever appeared: nothing to finish.
  if (presented_ != controller || !controller->beingPresented_) return;
  controller->beingPresented_ = false;
  controller->viewWillAppear(animated);
  controller->viewDidAppear(animated);
  if (completion) completion();
}

void UIViewController::dismissViewControllerAnimated(bool animated, Completion completion) {
  if (!presented_) {
    // Asked of the presented controller itself: its presenter does the work.
    if (auto presenter = presenting_.lock()) presenter->dismissViewControllerAnimated(animated, std::move(completion));
    return;
  }
  if (presented_->beingDismissed_) return;
  presented_->beingDismissed_ = true;
  if (!animated) {
    finishDismissal(false, std::move(completion));
    return;
  }
  auto self = this->self<UIViewController>();
  dispatch::mainAsync(
      [self, completion = std::move(completion)]() mutable { self->finishDismissal(true, std::move(completion)); });
}

void UIViewController::finishDismissal(bool animated, Completion completion) {
  if (!presented_) return;
  // The dismissed controller and everything above it leave the screen, topmost first.
  std::vector<std::shared_ptr<UIViewController>> chain;
  for (auto c = presented_; c; c = c->presented_) chain.push_back(c);
  presented_.reset();
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    auto& c = *it;
    bool wasOnScreen = !c->beingPresented_;
    c->presented_.reset();
    c->presenting_.reset();
    c->beingPresented_ = false;
    c->beingDismissed_ = false;
    c->afterDismissal_ = nullptr;
    if (wasOnScreen) c->viewDidDisappear(animated);
  }
  // This controller is on top again, and its look of the status bar with it: a picker that hid
  // the bar must not leave it hidden (or restyled) behind it.
  setNeedsStatusBarAppearanceUpdate();
  if (completion) completion();
  if (auto waiting = std::move(afterDismissal_)) {
    afterDismissal_ = nullptr;
    waiting();
  }
}

}  // namespace plat
