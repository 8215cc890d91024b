#include "plat/uikit/UINavigationController.h"

#include <algorithm>

#include "plat/dispatch/Queues.h"

namespace plat {

void UINavigationController::initWithRootViewController(const UIViewControllerPtr& root) {
  if (!root) return;
  if (stack_.size() == 1 && stack_.front() == root) return;
  // A new root replaces whatever the stack held.
  while (!stack_.empty()) {
    auto gone = stack_.back();
    stack_.pop_back();
    gone->setNavigationController(nullptr);
    auto seen = std::find(appeared_.begin(), appeared_.end(), gone.get());
    if (seen != appeared_.end()) {
      appeared_.erase(seen);
      gone->viewDidDisappear(false);
    }
  }
  pushViewController(root, false);
}

void UINavigationController::willShow(const UIViewControllerPtr& controller, bool animated) {
  if (!controller) return;
  if (auto d = delegate_.lock()) d->navigationControllerWillShowViewControllerAnimated(*this, controller, animated);
}

void UINavigationController::showChild(const UIViewControllerPtr& child, bool animated) {
  if (!onScreen_ || std::find(stack_.begin(), stack_.end(), child) == stack_.end() ||
      std::find(appeared_.begin(), appeared_.end(), child.get()) != appeared_.end())
    return;
  if (child == topViewController()) willShow(child, animated);
  // The delegate may have changed the stack or taken the navigation off the screen.
  if (!onScreen_ || std::find(stack_.begin(), stack_.end(), child) == stack_.end() ||
      std::find(appeared_.begin(), appeared_.end(), child.get()) != appeared_.end())
    return;
  appeared_.push_back(child.get());
  child->view();
  child->viewWillAppear(animated);
  child->viewDidAppear(animated);
}

void UINavigationController::pushViewController(const UIViewControllerPtr& controller, bool animated) {
  if (!controller || std::find(stack_.begin(), stack_.end(), controller) != stack_.end()) return;
  stack_.push_back(controller);
  controller->setNavigationController(self<UIViewController>());
  if (!onScreen_) return;
  std::weak_ptr<UINavigationController> weak = weakSelf<UINavigationController>();
  std::weak_ptr<UIViewController> weakChild = controller;
  dispatch::mainAsync([weak, weakChild, animated] {
    auto self = weak.lock();
    auto child = weakChild.lock();
    if (self && child) self->showChild(child, animated);
  });
}

UIViewControllerPtr UINavigationController::removeTop(bool animated) {
  auto top = stack_.back();
  top->viewWillDisappear(animated);
  // viewWillDisappear may have taken the whole navigation off the screen already.
  auto it = std::find(stack_.begin(), stack_.end(), top);
  if (it == stack_.end()) return top;
  stack_.erase(it);
  top->setNavigationController(nullptr);
  auto seen = std::find(appeared_.begin(), appeared_.end(), top.get());
  if (seen != appeared_.end()) {
    appeared_.erase(seen);
    top->viewDidDisappear(animated);
  }
  return top;
}

UIViewControllerPtr UINavigationController::popViewControllerAnimated(bool animated) {
  if (stack_.size() < 2) return nullptr;
  auto keep = self<UIViewController>();
  auto top = removeTop(animated);
  if (onScreen_ && !stack_.empty()) willShow(stack_.back(), animated);
  return top;
}

void UINavigationController::popToRootViewControllerAnimated(bool animated) {
  if (stack_.size() < 2) return;
  auto keep = self<UIViewController>();
  while (stack_.size() > 1) {
    auto before = stack_.size();
    removeTop(animated);
    if (stack_.size() >= before) break;
  }
  if (onScreen_ && !stack_.empty()) willShow(stack_.back(), animated);
}

void UINavigationController::viewDidAppear(bool animated) {
  onScreen_ = true;
  auto stack = stack_;
  for (const auto& child : stack) showChild(child, animated);
}

void UINavigationController::viewDidDisappear(bool animated) {
  onScreen_ = false;
  auto stack = stack_;
  for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
    auto seen = std::find(appeared_.begin(), appeared_.end(), it->get());
    if (seen == appeared_.end()) continue;
    appeared_.erase(seen);
    (*it)->viewDidDisappear(animated);
  }
}

}  // namespace plat
