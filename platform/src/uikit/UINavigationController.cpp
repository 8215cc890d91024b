#include "plat/uikit/UINavigationController.h"

namespace plat {

void UINavigationController::initWithRootViewController(const UIViewControllerPtr& root) {
  stack_.clear();
  if (!root) return;
  root->setNavigationController(self<UIViewController>());
  stack_.push_back(root);
}

void UINavigationController::show(const UIViewControllerPtr& controller, bool animated) {
  if (auto d = delegate_.lock()) d->navigationControllerWillShowViewControllerAnimated(*this, controller, animated);
  controller->view();
  controller->viewWillAppear(animated);
  controller->viewDidAppear(animated);
}

void UINavigationController::pushViewController(const UIViewControllerPtr& controller, bool animated) {
  if (!controller) return;
  controller->setNavigationController(self<UIViewController>());
  stack_.push_back(controller);
  show(controller, animated);
}

void UINavigationController::popViewControllerAnimated(bool animated) {
  if (stack_.size() < 2) return;
  auto gone = stack_.back();
  stack_.pop_back();
  gone->viewDidDisappear(animated);
  show(stack_.back(), animated);
}

void UINavigationController::popToRootViewControllerAnimated(bool animated) {
  if (stack_.size() < 2) return;
  while (stack_.size() > 1) {
    auto gone = stack_.back();
    stack_.pop_back();
    gone->viewDidDisappear(animated);
  }
  show(stack_.back(), animated);
}

void UINavigationController::viewWillAppear(bool animated) {}

void UINavigationController::viewDidAppear(bool animated) {
  if (auto top = topViewController()) show(top, animated);
}

}  // namespace plat
