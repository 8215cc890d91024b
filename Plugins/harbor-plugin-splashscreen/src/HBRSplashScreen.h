#pragma once
// The launch image (with a spinner) over the container's view from the moment the plugin exists
// until the first page has loaded, then faded out. Meant to be a start-up plugin, so that it
// covers the start page while it loads.
//
// Page actions (main thread; neither reads arguments nor answers):
//   show [] -> shows the splash again (builds the views when there are none)
//   hide [] -> starts the hide path, also when already hidden
//
// Preferences (read at each show or hide): "AutoHideSplashScreen" (true), "SplashScreenDelay"
// (3000 ms), "FadeSplashScreen" (true), "FadeSplashScreenDuration" (3000; below 30 it is
// seconds), "ShowSplashScreenSpinner" (true), "TopActivityIndicator" ("gray").
//
// While the image is up the container does not autorotate on phones (except the 736-point one),
// and its view takes no touches.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "HBRPlugin.h"
#include "HBRScreenOrientationDelegate.h"
#include "plat/uikit/UIActivityIndicatorView.h"
#include "plat/uikit/UIImageView.h"

namespace harbor {

// What the launch image depends on: the kind of device and its screen's longer side.
struct HBRSplashDevice {
  bool phone = false;
  bool pad = false;
  bool phone480 = false;
  bool phone568 = false;
  bool phone667 = false;
  bool phone736 = false;
  bool retina = false;
};

class HBRSplashScreen : public HBRPlugin {
 public:
  HBRSplashScreen();
  ~HBRSplashScreen() override;

  // Observes page loads, then shows the splash at once.
  void pluginInitialize() override;

  void show(const HBRInvokedUrlCommandPtr& command);
  void hide(const HBRInvokedUrlCommandPtr& command);

  // A page has loaded: hides the splash unless "AutoHideSplashScreen" is false.
  void pageDidLoad();
  void setVisible(bool visible) { setVisibleAndForce(visible, false); }
  void setVisibleAndForce(bool visible, bool force);

  void createViews();
  void hideViews();
  void destroyViews();

  static HBRSplashDevice getCurrentDevice();
  static plat::UIInterfaceOrientation getCurrentOrientation();
  // The launch image's name for that orientation, the orientations the delegate supports (none
  // known: every one) and the device.
  static std::string getImageNameDelegateDevice(plat::UIInterfaceOrientation orientation,
                                                HBRScreenOrientationDelegate* delegate,
                                                const HBRSplashDevice& device);
  void updateImage();
  void updateBounds();

  std::shared_ptr<plat::UIImageView> imageView() const { return imageView_; }
  std::shared_ptr<plat::UIActivityIndicatorView> activityView() const { return activityView_; }
  const std::optional<std::string>& curImageName() const { return curImageName_; }
  bool isVisible() const { return visible_; }
  bool isDestroyed() const { return destroyed_; }

 private:
  plat::UIViewPtr parentView() const;
  void stopObservingParent();

  std::shared_ptr<plat::UIActivityIndicatorView> activityView_;
  std::shared_ptr<plat::UIImageView> imageView_;
  std::optional<std::string> curImageName_;
  bool visible_ = false;
  bool destroyed_ = true;
  // Bumped by every show: a hide scheduled before it is stale and does nothing, so a show
  // during a pending or running fade keeps the splash up.
  std::uint64_t generation_ = 0;
  // The view whose "frame" and "bounds" are observed, while they are.
  std::weak_ptr<plat::UIView> observedParent_;
};

}  // namespace harbor
