#include "HBRStatusBar.h"

#include <cctype>
#include <cstdint>

#include "HBRPluginResult.h"
#include "HBRPreferences.h"
#include "HBRViewController.h"
#include "UIView+HBRExtension.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIScreen.h"

namespace harbor {
namespace {

// How long the bar's frame change settles before the web view follows it.
constexpr double kResizeDelaySeconds = 0.1;

bool isLandscape(long orientation) {
  return orientation == plat::UIInterfaceOrientationLandscapeRight ||
         orientation == plat::UIInterfaceOrientationLandscapeLeft;
}

plat::UIViewPtr asView(const plat::ObjectPtr& object) { return std::dynamic_pointer_cast<plat::UIView>(object); }

}  // namespace

HBRStatusBar::HBRStatusBar() {
  registerAction("_ready", &HBRStatusBar::ready);
  registerAction("overlaysWebView", &HBRStatusBar::overlaysWebView);
  registerAction("styleDefault", &HBRStatusBar::styleDefault);
  registerAction("styleLightContent", &HBRStatusBar::styleLightContent);
  registerAction("styleBlackTranslucent", &HBRStatusBar::styleBlackTranslucent);
  registerAction("styleBlackOpaque", &HBRStatusBar::styleBlackOpaque);
  registerAction("backgroundColorByName", &HBRStatusBar::backgroundColorByName);
  registerAction("backgroundColorByHexString", &HBRStatusBar::backgroundColorByHexString);
  registerAction("hide", &HBRStatusBar::hide);
  registerAction("show", &HBRStatusBar::show);
}

HBRStatusBar::~HBRStatusBar() {
  if (auto app = observedApplication_.lock()) app->removeObserverForKeyPath(this, "statusBarHidden");
  plat::NSNotificationCenter::defaultCenter().removeObserver(this);
}

bool HBRStatusBar::systemBelow(const char* version) const {
  return plat::compareVersions(plat::UIDevice::currentDevice()->systemVersion(), version) < 0;
}

plat::UIViewPtr HBRStatusBar::webUIView() const { return asView(webView()); }

const plat::Value& HBRStatusBar::settingForKey(const std::string& key) const {
  static const plat::Value absent;
  auto delegate = commandDelegate();
  return delegate ? harborSettingForKey(delegate->settings(), key) : absent;
}

void HBRStatusBar::pluginInitialize() {
  const plat::Value& basedOnController =
      plat::NSBundle::mainBundle()->objectForInfoDictionaryKey("UIViewControllerBasedStatusBarAppearance");
  uiviewControllerBasedStatusBarAppearance_ = (basedOnController.isAbsent() || basedOnController.asBool()) &&
                                              !systemBelow("7.0");

  auto app = plat::UIApplication::sharedApplication();
  std::weak_ptr<HBRStatusBar> weak = weakSelf<HBRStatusBar>();
  app->addObserverForKeyPath(this, "statusBarHidden", [weak](const std::string&, const plat::Value& hidden) {
    if (auto self = weak.lock()) self->updateIsVisible(!hidden.asBool());
  });
  observedApplication_ = app;
  plat::NSNotificationCenter::defaultCenter().addObserver(
      shared_from_this(), plat::UIApplicationDidChangeStatusBarFrameNotification, nullptr,
      [weak](const plat::NSNotification& n) {
        if (auto self = weak.lock()) self->statusBarDidChangeFrame(n);
      });

  statusBarOverlaysWebView_ = true;
  initializeStatusBarBackgroundView();

  auto controller = viewController();
  if (controller) controller->view()->setAutoresizesSubviews(true);

  if (const auto& color = settingForKey("StatusBarBackgroundColor"); color.isString()) {
    setBackgroundColorFromHexString(color.asString());
  }
  if (const auto& style = settingForKey("StatusBarStyle"); style.isString()) setStatusBarStyle(style.asString());

  // The web view must not take the bar's taps: the catcher below hears them.
  if (auto scroll = std::dynamic_pointer_cast<plat::UIScrollView>(scrollView(webView()))) scroll->setScrollsToTop(false);

  if (controller) {
    plat::CGRect screen = plat::UIScreen::mainScreen().bounds();
    auto catcher = std::make_shared<plat::UIScrollView>();
    catcher->initWithFrame(screen);
    catcher->setDelegate(std::static_pointer_cast<plat::UIScrollViewDelegate>(self<HBRStatusBar>()));
    catcher->setScrollsToTop(true);
    auto parent = controller->view();
    parent->addSubview(catcher);
    parent->sendSubviewToBack(catcher);
    catcher->setContentSize({screen.width(), screen.height() * 2});
    catcher->setContentOffset({0, screen.height()});
  }
}

void HBRStatusBar::onReset() { eventsCallbackId_.reset(); }

void HBRStatusBar::sendEvent(const HBRPluginResultPtr& result) {
  auto delegate = commandDelegate();
  if (!eventsCallbackId_ || !delegate) return;
  result->setKeepCallbackAsBool(true);
  delegate->sendPluginResult(result, *eventsCallbackId_);
}

void HBRStatusBar::ready(const HBRInvokedUrlCommandPtr& command) {
  eventsCallbackId_ = command->callbackId();
  updateIsVisible(!plat::UIApplication::sharedApplication()->isStatusBarHidden());
  if (const auto& overlays = settingForKey("StatusBarOverlaysWebView"); !overlays.isNil()) {
    bool value = overlays.isString() ? HBRBoolValueOfText(overlays.asString()) : overlays.asBool();
    setStatusBarOverlaysWebView(value);
  }
  if (statusBarOverlaysWebView_) resizeWebView();
}

void HBRStatusBar::overlaysWebView(const HBRInvokedUrlCommandPtr& command) {
  const plat::Value& value = command->argumentAtIndex(0);
  setStatusBarOverlaysWebView(value.isNumber() ? value.asBool() : true);
}

void HBRStatusBar::styleDefault(const HBRInvokedUrlCommandPtr&) { setStyleForStatusBar(plat::UIStatusBarStyleDefault); }
void HBRStatusBar::styleLightContent(const HBRInvokedUrlCommandPtr&) {
  setStyleForStatusBar(plat::UIStatusBarStyleLightContent);
}
void HBRStatusBar::styleBlackTranslucent(const HBRInvokedUrlCommandPtr&) {
  setStyleForStatusBar(plat::UIStatusBarStyleLightContent);
}
void HBRStatusBar::styleBlackOpaque(const HBRInvokedUrlCommandPtr&) {
  setStyleForStatusBar(plat::UIStatusBarStyleLightContent);
}

void HBRStatusBar::backgroundColorByName(const HBRInvokedUrlCommandPtr& command) {
  std::string name = command->argumentAtIndex(0).stringOr("black");
  // Only the platform's own named colours: a page's text never becomes a call.
  if (auto color = plat::UIColor::namedColor(name)) statusBarBackgroundView_->setBackgroundColor(*color);
}

void HBRStatusBar::backgroundColorByHexString(const HBRInvokedUrlCommandPtr& command) {
  std::string hex = command->argumentAtIndex(0).stringOr("#000000");
  // Seven characters as the page counts them, not bytes: "#ééé" is four, and too short.
  if (!hex.empty() && hex.front() == '#' && plat::utf16Length(hex) >= 7) setBackgroundColorFromHexString(hex);
}

void HBRStatusBar::setBackgroundColorFromHexString(const std::string& hex) {
  // An empty text has no first character to skip: nothing to read.
  if (hex.empty()) return;
  std::uint32_t rgb = 0;
  for (std::size_t i = 1; i < hex.size() && std::isxdigit(static_cast<unsigned char>(hex[i])); ++i) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(hex[i])));
    rgb = (rgb << 4) | static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  plat::UIColor color{((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, 1.0};
  statusBarBackgroundColor_ = color;
  statusBarBackgroundView_->setBackgroundColor(color);
}

void HBRStatusBar::setStatusBarStyle(const std::string& name) {
  std::string lowered = plat::toLowerASCII(name);
  if (lowered == "default") {
    setStyleForStatusBar(plat::UIStatusBarStyleDefault);
  } else if (lowered == "lightcontent" || lowered == "blacktranslucent" || lowered == "blackopaque") {
    setStyleForStatusBar(plat::UIStatusBarStyleLightContent);
  }
}

void HBRStatusBar::setStyleForStatusBar(long style) {
  if (uiviewControllerBasedStatusBarAppearance_) {
    if (auto controller = std::dynamic_pointer_cast<HBRViewController>(viewController())) {
      controller->setSbStatusBarStyle(style);
    }
    refreshStatusBarAppearance();
  } else {
    plat::UIApplication::sharedApplication()->setStatusBarStyle(style);
  }
}

void HBRStatusBar::hideStatusBar() { setStatusBarHidden(true); }

void HBRStatusBar::showStatusBar() { setStatusBarHidden(false); }

void HBRStatusBar::setStatusBarHidden(bool hidden) {
  if (uiviewControllerBasedStatusBarAppearance_) {
    if (auto controller = std::dynamic_pointer_cast<HBRViewController>(viewController())) {
      controller->setSbHideStatusBar(hidden);
    }
    refreshStatusBarAppearance();
  } else {
    plat::UIApplication::sharedApplication()->setStatusBarHidden(hidden);
  }
}

void HBRStatusBar::refreshStatusBarAppearance() {
  if (auto controller = viewController()) controller->setNeedsStatusBarAppearanceUpdate();
}

void HBRStatusBar::updateIsVisible(bool visible) {
  sendEvent(HBRPluginResult::resultWithStatusMessageAsBool(HBRCommandStatus::OK, visible));
}

void HBRStatusBar::fireTappedEvent() {
  plat::Dictionary tap;
  tap.set("type", "tap");
  sendEvent(HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(tap)));
}

plat::CGRect HBRStatusBar::invertFrameIfNeeded(const plat::CGRect& rect) {
  if (isLandscape(plat::UIApplication::sharedApplication()->statusBarOrientation()) && rect.width() < rect.height()) {
    return plat::CGRectMake(0, 0, rect.height(), rect.width());
  }
  return rect;
}

void HBRStatusBar::initializeStatusBarBackgroundView() {
  auto app = plat::UIApplication::sharedApplication();
  plat::CGRect frame = app->statusBarFrame();
  if (app->statusBarOrientation() == plat::UIInterfaceOrientationPortraitUpsideDown &&
      frame.origin.y + frame.height() == plat::UIScreen::mainScreen().bounds().height()) {
    frame.origin.y = 0;
  }
  frame = invertFrameIfNeeded(frame);
  statusBarBackgroundView_ = std::make_shared<plat::UIView>();
  statusBarBackgroundView_->initWithFrame(frame);
  statusBarBackgroundView_->setBackgroundColor(statusBarBackgroundColor_);
  statusBarBackgroundView_->setAutoresizingMask(plat::UIViewAutoresizingFlexibleWidth |
                                                plat::UIViewAutoresizingFlexibleBottomMargin);
  statusBarBackgroundView_->setAutoresizesSubviews(true);
}

void HBRStatusBar::setStatusBarOverlaysWebView(bool overlays) {
  if (systemBelow("7.0") || overlays == statusBarOverlaysWebView_) return;
  statusBarOverlaysWebView_ = overlays;
  resizeWebView();
  if (overlays) {
    statusBarBackgroundView_->removeFromSuperview();
  } else {
    initializeStatusBarBackgroundView();
    auto web = webUIView();
    if (auto parent = web ? web->superview() : nullptr) parent->addSubview(statusBarBackgroundView_);
  }
}

void HBRStatusBar::resizeWebView() {
  auto controller = viewController();
  if (!controller) return;
  auto& screen = plat::UIScreen::mainScreen();
  if (systemBelow("7.0")) {
    controller->view()->setFrame(screen.applicationFrame());
    return;
  }
  auto app = plat::UIApplication::sharedApplication();
  plat::CGRect bounds = invertFrameIfNeeded(screen.bounds());
  if (!isLandscape(app->statusBarOrientation())) {
    controller->view()->setFrame(bounds);
  } else if (controller->presentedViewController()) {
    bool eightPointX = !systemBelow("8.0") && systemBelow("9.0");
    bounds = eightPointX ? plat::CGRectMake(0, 0, bounds.width(), bounds.height())
                         : plat::CGRectMake(0, 0, bounds.height(), bounds.width());
  }
  auto web = webUIView();
  if (!web) return;
  web->setFrame(bounds);
  if (!statusBarOverlaysWebView_) {
    double height = invertFrameIfNeeded(app->statusBarFrame()).height();
    plat::CGRect frame = web->frame();
    web->setFrame(plat::CGRectMake(frame.origin.x, height, frame.width(), frame.height() - height));
  }
}

void HBRStatusBar::statusBarDidChangeFrame(const plat::NSNotification&) {
  std::weak_ptr<HBRStatusBar> weak = weakSelf<HBRStatusBar>();
  plat::RunLoop::main().scheduleTimer(kResizeDelaySeconds, [weak] {
    if (auto self = weak.lock()) self->resizeWebView();
  });
}

bool HBRStatusBar::scrollViewShouldScrollToTop(plat::UIScrollView&) {
  fireTappedEvent();
  return false;
}

void HBRStatusBar::hide(const HBRInvokedUrlCommandPtr&) {
  auto app = plat::UIApplication::sharedApplication();
  if (app->isStatusBarHidden()) return;
  hideStatusBar();
  if (!systemBelow("7.0")) statusBarBackgroundView_->removeFromSuperview();
  resizeWebView();
  statusBarBackgroundView_->setHidden(true);
}

void HBRStatusBar::show(const HBRInvokedUrlCommandPtr&) {
  auto app = plat::UIApplication::sharedApplication();
  if (!app->isStatusBarHidden()) return;
  showStatusBar();
  resizeWebView();
  if (!systemBelow("7.0") && !statusBarOverlaysWebView_) {
    plat::CGRect frame = statusBarBackgroundView_->frame();
    frame.size = invertFrameIfNeeded(app->statusBarFrame()).size;
    statusBarBackgroundView_->setFrame(frame);
    auto web = webUIView();
    if (auto parent = web ? web->superview() : nullptr) parent->addSubview(statusBarBackgroundView_);
  }
  statusBarBackgroundView_->setHidden(false);
}

}  // namespace harbor
