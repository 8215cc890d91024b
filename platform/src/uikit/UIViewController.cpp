#include "plat/uikit/UIViewController.h"

#include "plat/dispatch/RunLoop.h"
#include "plat/uikit/UIScreen.h"

namespace plat {

UIScreen& UIScreen::mainScreen() {
  static UIScreen screen;
  return screen;
}

UIViewPtr UIViewController::view() {
  if (!view_) {
    loadView();
    if (!view_) {
      view_ = std::make_shared<UIView>();
      view_->initWithFrame(UIScreen::mainScreen().bounds());
    }
    viewDidLoad();
  }
  return view_;
}

void UIViewController::loadView() {
  view_ = std::make_shared<UIView>();
  view_->initWithFrame(UIScreen::mainScreen().bounds());
}

bool UIViewController::presentViewController(const UIViewControllerPtr& controller, bool animated,
                                             std::function<void()> completion) {
  if (!controller || presented_) return false;
  presented_ = controller;
  controller->presenting_ = std::static_pointer_cast<UIViewController>(shared_from_this());
  controller->view();
  controller->viewWillAppear(animated);
  RunLoop::main().post([controller, animated, completion = std::move(completion)] {
    controller->viewDidAppear(animated);
    if (completion) completion();
  });
  return true;
}

void UIViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
  // Dismissing from the presented controller dismisses it from its presenter.
  if (!presented_) {
    if (auto presenter = presenting_.lock()) {
      presenter->dismissViewControllerAnimated(animated, std::move(completion));
      return;
    }
  }
  if (presented_) {
    auto dismissed = std::move(presented_);
    presented_.reset();
    dismissed->presenting_.reset();
    dismissed->viewDidDisappear(animated);
  }
  if (completion) RunLoop::main().post(std::move(completion));
}

}  // namespace plat
