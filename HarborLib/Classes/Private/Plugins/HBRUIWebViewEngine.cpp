#include "HBRUIWebViewEngine.h"

#include <array>

#include "HBRJavaScriptPanels.h"
#include "HBRPreferences.h"
#include "UIView+HBRExtension.h"
#include "plat/uikit/UIViewController.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIScrollView.h"

namespace harbor {
namespace {

// The position of the lower-cased text in the list: 0 for a value outside it, an absent value,
// or one that is not text.
template <std::size_t N>
long positionIn(const plat::Value& value, const std::array<const char*, N>& list) {
  if (!value.isString()) return 0;
  std::string word = plat::toLowerASCII(value.asString());
  for (std::size_t i = 0; i < N; ++i)
    if (word == list[i]) return static_cast<long>(i);
  return 0;
}

constexpr std::array<const char*, 2> kBreakingModes = {"page", "column"};
constexpr std::array<const char*, 5> kPaginationModes = {"unpaginated", "lefttoright", "toptobottom", "bottomtotop",
                                                        "righttoleft"};

}  // namespace

void HBRDisableBouncing(const plat::ObjectPtr& webView) {
  if (auto scroll = std::dynamic_pointer_cast<plat::UIScrollView>(scrollView(webView))) {
    scroll->setBounces(false);
    return;
  }
  auto view = std::dynamic_pointer_cast<plat::UIView>(webView);
  if (!view) return;
  for (const auto& subview : view->subviews())
    if (auto scroll = std::dynamic_pointer_cast<plat::UIScrollView>(subview)) scroll->setBounces(false);
}

bool HBRUIWebViewEngine::initWithFrame(const plat::CGRect& frame) {
  engineWebView_ = std::make_shared<plat::UIWebView>();
  engineWebView_->initWithFrame(frame);
  // The page's own dialogs become native alerts, as under the WKWebView engine, so one answer
  // (the user's, or the UI driver's) reaches the page whichever engine shows it.
  std::optional<std::string> title = HBRJavaScriptPanelTitle();
  engineWebView_->setJavaScriptPanelHandler(
      [title](const plat::UIWebView::JavaScriptPanel& panel, plat::UIWebView::JavaScriptPanelAnswer answer) {
        using Kind = plat::UIWebView::JavaScriptPanel::Kind;
        switch (panel.kind) {
          case Kind::Alert:
            HBRRunJavaScriptAlertPanel(title, panel.message, [answer] { answer(true, std::nullopt); });
            return;
          case Kind::Confirm:
            HBRRunJavaScriptConfirmPanel(title, panel.message, [answer](bool ok) { answer(ok, std::nullopt); });
            return;
          case Kind::Prompt:
            HBRRunJavaScriptTextInputPanel(title, panel.message, panel.defaultText,
                                           [answer](std::optional<std::string> text) {
                                             bool ok = text.has_value();
                                             answer(ok, std::move(text));
                                           });
            return;
        }
        answer(false, std::nullopt);
      });
  // The plugin base finds the view through the engine; this engine is its own.
  setWebViewEngine(self<HBRUIWebViewEngine>());
  plat::NSLog("Using UIWebView");
  return true;
}

void HBRUIWebViewEngine::pluginInitialize() {
  auto tracker = std::make_shared<HBRUIWebViewDelegate>();
  if (auto vcDelegate = std::dynamic_pointer_cast<plat::UIWebViewDelegate>(viewController())) {
    tracker->initWithDelegate(vcDelegate);
  } else {
    navWebViewDelegate_ = std::make_shared<HBRUIWebViewNavigationDelegate>();
    navWebViewDelegate_->initWithEnginePlugin(self<HBRPlugin>());
    tracker->initWithDelegate(navWebViewDelegate_);
  }
  uiWebViewDelegate_ = tracker;
  if (engineWebView_) engineWebView_->setDelegate(tracker);
  if (auto delegate = commandDelegate()) updateSettings(delegate->settings());
}

plat::ObjectPtr HBRUIWebViewEngine::loadRequest(const plat::NSURLRequestPtr& request) {
  if (engineWebView_) engineWebView_->loadRequest(request);
  return nullptr;
}

plat::ObjectPtr HBRUIWebViewEngine::loadHTMLString(const std::string& html, const plat::NSURLPtr& baseURL) {
  if (engineWebView_) engineWebView_->loadHTMLString(html, baseURL);
  return nullptr;
}

void HBRUIWebViewEngine::evaluateJavaScript(const std::string& script, EvaluationCompletion completion) {
  if (!engineWebView_) {
    if (completion) completion(plat::Value(std::string()), std::nullopt);
    return;
  }
  // At once, or, when the page keeps WebKit waiting past its bound, once the page answers: the
  // commands a long callback queued come back in that answer and must still run.
  engineWebView_->evaluateJavaScriptFromString(script, [completion](const std::string& result) {
    if (completion) completion(plat::Value(result), std::nullopt);
  });
}

plat::NSURLPtr HBRUIWebViewEngine::URL() {
  plat::NSURLRequestPtr request = engineWebView_ ? engineWebView_->request() : nullptr;
  return request ? request->URL() : nullptr;
}

bool HBRUIWebViewEngine::canLoadRequest(const plat::NSURLRequestPtr& request) { return request != nullptr; }

void HBRUIWebViewEngine::updateWithInfo(const HBRWebViewEngineInfo& info) {
  if (auto delegate = std::dynamic_pointer_cast<plat::UIWebViewDelegate>(info.object(kHBRWebViewEngineUIWebViewDelegate))) {
    infoDelegate_ = delegate;
    auto tracker = std::make_shared<HBRUIWebViewDelegate>();
    tracker->initWithDelegate(delegate);
    uiWebViewDelegate_ = tracker;
    if (engineWebView_) engineWebView_->setDelegate(tracker);
  }
  const plat::Value& preferences = info.value(kHBRWebViewEngineWebViewPreferences);
  if (preferences.isDictionary()) updateSettings(preferences.asDictionary());
}

void HBRUIWebViewEngine::updateSettings(const plat::Dictionary& settings) {
  plat::UIWebView* view = engineWebView_.get();
  if (!view) return;
  view->setScalesPageToFit(harborBoolSettingForKey(settings, "EnableViewportScale", false));
  view->setAllowsInlineMediaPlayback(harborBoolSettingForKey(settings, "AllowInlineMediaPlayback", false));
  view->setMediaPlaybackRequiresUserAction(harborBoolSettingForKey(settings, "MediaPlaybackRequiresUserAction", true));
  view->setMediaPlaybackAllowsAirPlay(harborBoolSettingForKey(settings, "MediaPlaybackAllowsAirPlay", true));
  view->setKeyboardDisplayRequiresUserAction(harborBoolSettingForKey(settings, "KeyboardDisplayRequiresUserAction", true));
  view->setSuppressesIncrementalRendering(harborBoolSettingForKey(settings, "SuppressesIncrementalRendering", false));
  view->setGapBetweenPages(harborFloatSettingForKey(settings, "GapBetweenPages", 0.0));
  view->setPageLength(harborFloatSettingForKey(settings, "PageLength", 0.0));

  if (harborBoolSettingForKey(settings, "DisallowOverscroll", false)) HBRDisableBouncing(webView());

  // Only the exact word "fast" keeps the web view's own, quicker deceleration.
  const plat::Value& deceleration = harborSettingForKey(settings, "UIWebViewDecelerationSpeed");
  if (!(deceleration.isString() && deceleration.asString() == "fast"))
    view->scrollView()->setDecelerationRate(plat::UIScrollViewDecelerationRateNormal);

  view->setPaginationBreakingMode(static_cast<plat::UIWebPaginationBreakingMode>(
      positionIn(harborSettingForKey(settings, "PaginationBreakingMode"), kBreakingModes)));
  view->setPaginationMode(
      static_cast<plat::UIWebPaginationMode>(positionIn(harborSettingForKey(settings, "PaginationMode"), kPaginationModes)));
}

}  // namespace harbor
