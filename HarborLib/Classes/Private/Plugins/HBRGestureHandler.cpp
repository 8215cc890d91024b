#include "HBRGestureHandler.h"

#include "HBRPreferences.h"
#include "plat/foundation/Log.h"
#include "plat/uikit/UIScrollView.h"

namespace harbor {

void HBRGestureHandler::pluginInitialize() { applyLongPressFix(); }

void HBRGestureHandler::applyLongPressFix() {
  auto delegate = commandDelegate();
  if (!delegate) return;
  const plat::Dictionary& settings = delegate->settings();
  if (!harborBoolSettingForKey(settings, "suppresseslongpressgesture", false)) return;

  lpgr_ = std::make_shared<plat::UILongPressGestureRecognizer>();
  std::weak_ptr<HBRGestureHandler> weak = weakSelf<HBRGestureHandler>();
  lpgr_->initWithTarget(shared_from_this(), [weak](plat::UIGestureRecognizer& sender) {
    if (auto self = weak.lock()) self->handleLongPressGestures(sender);
  });
  lpgr_->setMinimumPressDuration(kMinimumPressDuration);
  lpgr_->setAllowableMovement(kAllowableMovement);
  if (harborBoolSettingForKey(settings, "suppresses3dtouchgesture", false))
    lpgr_->setMinimumPressDuration(kMinimumPressDuration3DTouch);

  auto view = std::dynamic_pointer_cast<plat::UIView>(webView());
  if (!view || view->subviews().empty()) {
    plat::NSLog("No webview subviews found, not applying the longpress fix.");
    return;
  }
  for (const auto& subview : view->subviews()) {
    auto scroll = std::dynamic_pointer_cast<plat::UIScrollView>(subview);
    if (!scroll) continue;
    if (!scroll->subviews().empty()) scroll->subviews().front()->addGestureRecognizer(lpgr_);
    return;
  }
}

void HBRGestureHandler::handleLongPressGestures(plat::UIGestureRecognizer& sender) {
  if (&sender == lpgr_.get() && sender.state() == plat::UIGestureRecognizerState::Began)
    plat::NSLog("Ignoring a longpress in order to suppress the magnifying glass.");
}

}  // namespace harbor
