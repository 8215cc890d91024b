#pragma once
// An application delegate whose window shows a plain view controller, so that alerts and panels
// have something to appear on. Main thread.
#include <memory>

#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIWindow.h"

namespace harbor::testing {

class WindowDelegate : public plat::Object, public plat::UIApplicationDelegate {
 public:
  WindowDelegate() {
    window_ = std::make_shared<plat::UIWindow>();
    window_->initWithFrame(plat::CGRectMake(0, 0, 320, 480));
    window_->setRootViewController(std::make_shared<plat::UIViewController>());
    window_->makeKeyAndVisible();
  }
  std::shared_ptr<plat::UIWindow> window() const override { return window_; }

 private:
  std::shared_ptr<plat::UIWindow> window_;
};

}  // namespace harbor::testing
