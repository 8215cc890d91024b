#include "HBRSplashScreen.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "HBRPreferences.h"
#include "HBRViewController+SplashScreen.h"
#include "HBRViewController.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIScreen.h"

namespace harbor {
namespace {

const plat::Dictionary& emptySettings() {
  static const plat::Dictionary empty;
  return empty;
}

bool isLandscape(long orientation) {
  return orientation == plat::UIInterfaceOrientationLandscapeRight ||
         orientation == plat::UIInterfaceOrientationLandscapeLeft;
}
bool isPortrait(long orientation) {
  return orientation == plat::UIInterfaceOrientationPortrait ||
         orientation == plat::UIInterfaceOrientationPortraitUpsideDown;
}

}  // namespace

HBRSplashScreen::HBRSplashScreen() {
  registerAction("show", &HBRSplashScreen::show);
  registerAction("hide", &HBRSplashScreen::hide);
}

HBRSplashScreen::~HBRSplashScreen() {
  plat::NSNotificationCenter::defaultCenter().removeObserver(this);
  stopObservingParent();
}

void HBRSplashScreen::pluginInitialize() {
  std::weak_ptr<HBRSplashScreen> weak = weakSelf<HBRSplashScreen>();
  plat::NSNotificationCenter::defaultCenter().addObserver(shared_from_this(), kHBRPageDidLoadNotification, nullptr,
                                                          [weak](const plat::NSNotification&) {
                                                            if (auto self = weak.lock()) self->pageDidLoad();
                                                          });
  setVisible(true);
}

void HBRSplashScreen::show(const HBRInvokedUrlCommandPtr&) { setVisible(true); }

void HBRSplashScreen::hide(const HBRInvokedUrlCommandPtr&) { setVisibleAndForce(false, true); }

void HBRSplashScreen::pageDidLoad() {
  auto delegate = commandDelegate();
  const auto& settings = delegate ? delegate->settings() : emptySettings();
  if (!harborBoolSettingForKey(settings, "AutoHideSplashScreen", true)) return;
  setVisible(false);
}

void HBRSplashScreen::setVisibleAndForce(bool visible, bool force) {
  if (visible == visible_ && !force) return;
  visible_ = visible;

  auto delegate = commandDelegate();
  const auto& settings = delegate ? delegate->settings() : emptySettings();
  bool fadeOn = harborBoolSettingForKey(settings, "FadeSplashScreen", true);
  // Single precision throughout, so that 29.9 s comes out as 29900 ms.
  auto fade = static_cast<float>(harborFloatSettingForKey(settings, "FadeSplashScreenDuration", 3000));
  auto delay = static_cast<float>(harborFloatSettingForKey(settings, "SplashScreenDelay", 3000));
  bool autoHide = harborBoolSettingForKey(settings, "AutoHideSplashScreen", true);
  if (!autoHide) delay = 0;
  if (!fadeOn) {
    fade = 0;
  } else if (fade < 30) {
    fade *= 1000;
  }

  if (visible_) {
    ++generation_;
    if (!imageView_) {
      createViews();
    } else {
      // A fade may have begun: the splash comes back whole.
      imageView_->setAlpha(1);
      if (activityView_) activityView_->setAlpha(1);
    }
    return;
  }

  if (fade == 0 && delay == 0) {
    destroyViews();
    return;
  }

  // The wait is cut to whole seconds (2.5 s waits 2 s); a delay shorter than the fade starts the
  // fade at once.
  float waitMs = (force || !autoHide) ? fade : delay - fade;
  double waitSeconds = waitMs > 0 ? std::trunc(static_cast<double>(waitMs) / 1000.0) : 0.0;
  double fadeSeconds = static_cast<double>(fade) / 1000.0;
  std::weak_ptr<HBRSplashScreen> weak = weakSelf<HBRSplashScreen>();
  std::uint64_t generation = generation_;
  plat::RunLoop::main().scheduleTimer(waitSeconds, [weak, generation, fadeSeconds] {
    auto self = weak.lock();
    if (!self || self->destroyed_ || self->generation_ != generation) return;
    auto controller = self->viewController();
    plat::UIView::transitionWithView(
        controller ? controller->view() : nullptr, fadeSeconds, 0,
        [weak] {
          if (auto s = weak.lock()) s->hideViews();
        },
        [weak, generation](bool) {
          auto s = weak.lock();
          if (s && !s->destroyed_ && s->generation_ == generation) s->destroyViews();
        });
  });
}

plat::UIViewPtr HBRSplashScreen::parentView() const {
  auto controller = viewController();
  return controller ? controller->view() : nullptr;
}

void HBRSplashScreen::createViews() {
  auto parent = parentView();
  if (!parent) return;
  auto delegate = commandDelegate();
  const auto& settings = delegate ? delegate->settings() : emptySettings();

  HBRSplashDevice device = getCurrentDevice();
  if (auto controller = std::dynamic_pointer_cast<HBRViewController>(viewController())) {
    setEnabledAutorotation(*controller, (device.pad || device.phone736) && controller->shouldAutorotateDefaultValue());
  }

  std::string indicator = harborSettingForKey(settings, "TopActivityIndicator").stringOr("gray");
  auto style = plat::UIActivityIndicatorViewStyleGray;
  if (indicator == "whiteLarge") {
    style = plat::UIActivityIndicatorViewStyleWhiteLarge;
  } else if (indicator == "white") {
    style = plat::UIActivityIndicatorViewStyleWhite;
  }

  parent->setUserInteractionEnabled(false);

  activityView_ = std::make_shared<plat::UIActivityIndicatorView>();
  activityView_->initWithActivityIndicatorStyle(style);
  plat::CGRect bounds = parent->bounds();
  activityView_->setCenter({bounds.width() * 0.5, bounds.height() * 0.5});
  activityView_->setAutoresizingMask(plat::UIViewAutoresizingFlexibleLeftMargin |
                                     plat::UIViewAutoresizingFlexibleRightMargin |
                                     plat::UIViewAutoresizingFlexibleTopMargin |
                                     plat::UIViewAutoresizingFlexibleBottomMargin);
  activityView_->startAnimating();

  imageView_ = std::make_shared<plat::UIImageView>();
  imageView_->initWithFrame(plat::CGRectZero);
  parent->addSubview(imageView_);
  if (harborBoolSettingForKey(settings, "ShowSplashScreenSpinner", true)) parent->addSubview(activityView_);

  std::weak_ptr<HBRSplashScreen> weak = weakSelf<HBRSplashScreen>();
  auto onChange = [weak](const std::string&, const plat::Value&) {
    if (auto self = weak.lock()) self->updateImage();
  };
  stopObservingParent();
  parent->addObserverForKeyPath(this, "frame", onChange);
  parent->addObserverForKeyPath(this, "bounds", onChange);
  observedParent_ = parent;

  updateImage();
  destroyed_ = false;
}

void HBRSplashScreen::hideViews() {
  if (imageView_) imageView_->setAlpha(0);
  if (activityView_) activityView_->setAlpha(0);
}

void HBRSplashScreen::destroyViews() {
  destroyed_ = true;
  if (auto controller = std::dynamic_pointer_cast<HBRViewController>(viewController())) {
    setEnabledAutorotation(*controller, controller->shouldAutorotateDefaultValue());
  }
  if (imageView_) imageView_->removeFromSuperview();
  if (activityView_) activityView_->removeFromSuperview();
  imageView_.reset();
  activityView_.reset();
  curImageName_.reset();
  if (auto parent = parentView()) parent->setUserInteractionEnabled(true);
  stopObservingParent();
}

void HBRSplashScreen::stopObservingParent() {
  if (auto parent = observedParent_.lock()) {
    parent->removeObserverForKeyPath(this, "frame");
    parent->removeObserverForKeyPath(this, "bounds");
  }
  observedParent_.reset();
}

HBRSplashDevice HBRSplashScreen::getCurrentDevice() {
  HBRSplashDevice device;
  auto idiom = plat::UIDevice::currentDevice()->userInterfaceIdiom();
  device.phone = idiom == plat::UIUserInterfaceIdiomPhone;
  device.pad = idiom == plat::UIUserInterfaceIdiomPad;
  const auto& screen = plat::UIScreen::mainScreen();
  auto longer = static_cast<long>(std::max(screen.bounds().width(), screen.bounds().height()));
  device.phone480 = device.phone && longer == 480;
  device.phone568 = device.phone && longer == 568;
  device.phone667 = device.phone && longer == 667;
  device.phone736 = device.phone && longer == 736;
  device.retina = screen.scale() == 2.0;
  return device;
}

plat::UIInterfaceOrientation HBRSplashScreen::getCurrentOrientation() {
  auto statusBar = plat::UIApplication::sharedApplication()->statusBarOrientation();
  long device = plat::UIDevice::currentDevice()->orientation();
  if (device >= plat::UIDeviceOrientationPortrait && device <= plat::UIDeviceOrientationLandscapeRight) {
    return static_cast<plat::UIInterfaceOrientation>(device);
  }
  return statusBar;
}

std::string HBRSplashScreen::getImageNameDelegateDevice(plat::UIInterfaceOrientation orientation,
                                                        HBRScreenOrientationDelegate* delegate,
                                                        const HBRSplashDevice& device) {
  unsigned long mask = delegate ? delegate->supportedInterfaceOrientations() : plat::UIInterfaceOrientationMaskAll;
  bool portrait = (mask & (plat::UIInterfaceOrientationMaskPortrait | plat::UIInterfaceOrientationMaskPortraitUpsideDown)) != 0;
  bool landscape = (mask & plat::UIInterfaceOrientationMaskLandscape) != 0;
  bool both = portrait && landscape;

  const plat::Value& file = plat::NSBundle::mainBundle()->objectForInfoDictionaryKey("UILaunchImageFile");
  std::string name = file.isString() ? plat::stringByDeletingPathExtension(file.asString()) : "Default";

  if (name == "LaunchImage") {
    if (device.phone480 || device.phone568 || device.pad) {
      name += "-700";
    } else if (device.phone667) {
      name += "-800";
    } else if (device.phone736) {
      name += "-800";
      if (isPortrait(orientation)) name += "-Portrait";
    }
  }

  if (device.phone568) {
    name += "-568h";
  } else if (device.phone667) {
    name += "-667h";
  } else if (device.phone736) {
    if (both ? isLandscape(orientation) : landscape) name += "-Landscape";
    name += "-736h";
  } else if (device.pad) {
    name += (both ? isLandscape(orientation) : landscape) ? "-Landscape" : "-Portrait";
  }
  return name;
}

void HBRSplashScreen::updateImage() {
  if (!imageView_) return;
  auto controller = viewController();
  std::string name = getImageNameDelegateDevice(getCurrentOrientation(),
                                                dynamic_cast<HBRScreenOrientationDelegate*>(controller.get()),
                                                getCurrentDevice());
  if (name != curImageName_) {
    imageView_->setImage(plat::UIImage::imageNamed(name));
    curImageName_ = name;
  }
  if (imageView_->image()) {
    updateBounds();
  } else {
    plat::NSLog(plat::format("WARNING: The splashscreen image named %s was not found", name.c_str()));
  }
}

void HBRSplashScreen::updateBounds() {
  auto parent = parentView();
  if (!imageView_ || !parent) return;
  auto image = imageView_->image();
  plat::CGRect rect = image ? plat::CGRect{{0, 0}, image->size()} : plat::CGRectZero;
  plat::CGSize screen = parent->convertRectFromView(plat::UIScreen::mainScreen().bounds(), nullptr).size;

  auto transform = plat::CGAffineTransformIdentity;
  HBRSplashDevice device = getCurrentDevice();
  auto app = plat::UIApplication::sharedApplication();
  if (isLandscape(app->statusBarOrientation()) && !device.pad && !device.phone736) {
    transform = plat::CGAffineTransformMakeRotation(std::numbers::pi / 2);
    std::swap(rect.size.width, rect.size.height);
  }

  if (screen == rect.size) {
    plat::CGRect statusBar = parent->convertRectFromView(app->statusBarFrame(), nullptr);
    if (plat::compareVersions(plat::UIDevice::currentDevice()->systemVersion(), "7.0") < 0) {
      rect.origin.y -= statusBar.height();
    }
  } else if (rect.width() > 0 && rect.height() > 0) {
    plat::CGRect view = parent->bounds();
    // An empty view has no aspect to fill: the image keeps its size.
    if (view.height() > 0) {
      double viewAspect = view.width() / view.height();
      double ratio = viewAspect > rect.width() / rect.height() ? view.width() / rect.width()
                                                                : view.height() / rect.height();
      rect.size.width *= ratio;
      rect.size.height *= ratio;
    }
  }
  imageView_->setTransform(transform);
  imageView_->setFrame(rect);
}

}  // namespace harbor
