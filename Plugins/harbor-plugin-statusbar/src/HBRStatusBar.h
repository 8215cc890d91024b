#pragma once
// The status bar as the page sees it: over the web view or above it, its text style, the colour
// behind it, hidden or shown, and events for its visibility and for taps on it.
//
// Page actions (main thread). Only _ready answers; the others send nothing.
//   _ready []                 -> OK bool (the bar is visible), keep-callback on; later visibility
//                                changes (bool) and taps ({"type": "tap"}) go to the same
//                                callback until the next page load. Applies
//                                "StatusBarOverlaysWebView".
//   overlaysWebView [bool]    the web view under the bar (true; anything not a number is true)
//                             or below it
//   styleDefault []           dark text
//   styleLightContent [], styleBlackTranslucent [], styleBlackOpaque []   light text
//   backgroundColorByName [name]          "red", "white", ...: a colour of the fixed table;
//                                          other names do nothing (not a string: "black")
//   backgroundColorByHexString ["#RRGGBB"]  shorter than 7 or without "#": nothing
//   hide [], show []
//
// Preferences: "StatusBarOverlaysWebView" (at _ready), "StatusBarBackgroundColor" and
// "StatusBarStyle" (at start).
//
// With Info.plist's "UIViewControllerBasedStatusBarAppearance" (true when absent, from 7.0) the
// hidden flag and style go through the container's view controller, else through the
// application.
#include <memory>
#include <optional>
#include <string>

#include "HBRPlugin.h"
#include "plat/uikit/Geometry.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIScrollView.h"
#include "plat/uikit/UIView.h"

namespace harbor {

class HBRStatusBar : public HBRPlugin, public plat::UIScrollViewDelegate {
 public:
  HBRStatusBar();
  ~HBRStatusBar() override;

  void pluginInitialize() override;
  // A new page must call _ready again to hear events.
  void onReset() override;

  void ready(const HBRInvokedUrlCommandPtr& command);
  void overlaysWebView(const HBRInvokedUrlCommandPtr& command);
  void styleDefault(const HBRInvokedUrlCommandPtr& command);
  void styleLightContent(const HBRInvokedUrlCommandPtr& command);
  void styleBlackTranslucent(const HBRInvokedUrlCommandPtr& command);
  void styleBlackOpaque(const HBRInvokedUrlCommandPtr& command);
  void backgroundColorByName(const HBRInvokedUrlCommandPtr& command);
  void backgroundColorByHexString(const HBRInvokedUrlCommandPtr& command);
  void hide(const HBRInvokedUrlCommandPtr& command);
  void show(const HBRInvokedUrlCommandPtr& command);

  // The preference under the lower-cased name; absent when not set.
  const plat::Value& settingForKey(const std::string& key) const;
  bool statusBarOverlaysWebView() const { return statusBarOverlaysWebView_; }
  void setStatusBarOverlaysWebView(bool overlays);
  // "default", "lightcontent", "blacktranslucent", "blackopaque" in any case; others do nothing.
  void setStatusBarStyle(const std::string& name);
  void setStyleForStatusBar(long style);
  void hideStatusBar();
  void showStatusBar();
  void refreshStatusBarAppearance();
  void updateIsVisible(bool visible);
  void fireTappedEvent();
  // In landscape, a portrait-shaped rectangle turned to the interface, at the origin.
  static plat::CGRect invertFrameIfNeeded(const plat::CGRect& rect);
  void initializeStatusBarBackgroundView();
  void resizeWebView();
  void statusBarDidChangeFrame(const plat::NSNotification& notification);
  // A tap on the status bar: the tap event, and no scrolling.
  bool scrollViewShouldScrollToTop(plat::UIScrollView& scrollView) override;

  plat::UIViewPtr statusBarBackgroundView() const { return statusBarBackgroundView_; }
  std::optional<plat::UIColor> statusBarBackgroundColor() const { return statusBarBackgroundColor_; }
  bool viewControllerBasedStatusBarAppearance() const { return uiviewControllerBasedStatusBarAppearance_; }
  const std::optional<std::string>& eventsCallbackId() const { return eventsCallbackId_; }

 private:
  // Through the controller or the application, as Info.plist chooses.
  void setStatusBarHidden(bool hidden);
  // The colour of "#RRGGBB": hexadecimal digits read from the second character on.
  void setBackgroundColorFromHexString(const std::string& hex);
  void sendEvent(const HBRPluginResultPtr& result);
  plat::UIViewPtr webUIView() const;
  bool systemBelow(const char* version) const;

  bool statusBarOverlaysWebView_ = true;
  plat::UIViewPtr statusBarBackgroundView_;
  bool uiviewControllerBasedStatusBarAppearance_ = false;
  std::optional<plat::UIColor> statusBarBackgroundColor_;
  std::optional<std::string> eventsCallbackId_;
  // The application whose "statusBarHidden" is observed.
  std::weak_ptr<plat::UIApplication> observedApplication_;
};

}  // namespace harbor
