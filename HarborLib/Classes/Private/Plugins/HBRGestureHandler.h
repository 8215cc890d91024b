#pragma once
// Suppresses the web view's own long-press handling (the magnifying glass) when config.xml asks
// for it ("suppresseslongpressgesture"), with a recogniser of its own on the web view's content
// that only logs; with "suppresses3dtouchgesture" too, it reacts to much shorter presses.
//
// Main thread only.
#include <memory>

#include "HBRPlugin.h"
#include "plat/uikit/UIGestureRecognizer.h"

namespace harbor {

class HBRGestureHandler : public HBRPlugin {
 public:
  // Single-precision values, as the platform's recogniser takes them.
  static constexpr float kMinimumPressDuration = 0.45f;
  static constexpr float kMinimumPressDuration3DTouch = 0.05f;
  static constexpr double kAllowableMovement = 100;

  void pluginInitialize() override;
  void applyLongPressFix();
  void handleLongPressGestures(plat::UIGestureRecognizer& sender);

  const std::shared_ptr<plat::UILongPressGestureRecognizer>& lpgr() const { return lpgr_; }

 private:
  std::shared_ptr<plat::UILongPressGestureRecognizer> lpgr_;
};

}  // namespace harbor
