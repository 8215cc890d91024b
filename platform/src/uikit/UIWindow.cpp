#include "plat/uikit/UIWindow.h"

namespace plat {

void UIWindow::setRootViewController(const UIViewControllerPtr& controller) {
  if (root_ && root_->isViewLoaded()) root_->view()->removeFromSuperview();
  root_ = controller;
  if (!root_) return;
  UIViewPtr view = root_->view();
  view->setFrame(bounds());
  addSubview(view);
}

void UIWindow::makeKeyAndVisible() {
  key_ = true;
  setHidden(false);
  if (root_) {
    root_->viewWillAppear(false);
    root_->viewDidAppear(false);
  }
}

}  // namespace plat
