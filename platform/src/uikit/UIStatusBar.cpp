// The application's status bar: its flag, style, orientation and frame.
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIScreen.h"

namespace plat {

CGRect UIApplication::statusBarFrame() const {
  if (statusBarHidden_) return CGRectZero;
  CGRect screen = UIScreen::mainScreen().bounds();
  double w = screen.width(), h = screen.height();
  bool landscape = statusBarOrientation_ == UIInterfaceOrientationLandscapeLeft ||
                   statusBarOrientation_ == UIInterfaceOrientationLandscapeRight;
  if (landscape && w < h) return CGRectMake(0, 0, kUIStatusBarHeight, h);
  if (statusBarOrientation_ == UIInterfaceOrientationPortraitUpsideDown) {
    return CGRectMake(0, h - kUIStatusBarHeight, w, kUIStatusBarHeight);
  }
  return CGRectMake(0, 0, w, kUIStatusBarHeight);
}

void UIApplication::setStatusBarHidden(bool hidden) {
  if (hidden == statusBarHidden_) return;
  statusBarHidden_ = hidden;
  didChangeValueForKey("statusBarHidden", Value(hidden));
  NSNotificationCenter::defaultCenter().post(UIApplicationDidChangeStatusBarFrameNotification,
                                              shared_from_this());
}

void UIApplication::setStatusBarOrientation(UIInterfaceOrientation orientation) {
  if (orientation == statusBarOrientation_) return;
  statusBarOrientation_ = orientation;
  NSNotificationCenter::defaultCenter().post(UIApplicationDidChangeStatusBarFrameNotification,
                                              shared_from_this());
}

bool UIApplication::viewControllerBasedStatusBarAppearance() const {
  const Value& v = NSBundle::mainBundle()->objectForInfoDictionaryKey("UIViewControllerBasedStatusBarAppearance");
  return v.isAbsent() || v.asBool();
}

CGRect UIScreen::applicationFrame() const {
  CGRect frame = bounds_;
  auto app = UIApplication::sharedApplication();
  if (app->isStatusBarHidden()) return frame;
  CGRect bar = app->statusBarFrame();
  if (bar.height() < bar.width()) {
    if (bar.origin.y == 0) frame.origin.y += bar.height();
    frame.size.height -= bar.height();
  } else {
    frame.origin.x += bar.width();
    frame.size.width -= bar.width();
  }
  return frame;
}

}  // namespace plat
