#include "HBRWKWebViewEngine.h"

#include "HBRJavaScriptPanels.h"
#include "HBRPreferences.h"
#include "HBRUIWebViewEngine.h"
#include "HBRUserAgentUtil.h"
#include "HBRViewController.h"
#include "HBRWebViewEngineSupport.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIDevice.h"
#include "plat/web/WebPage.h"

namespace harbor {
namespace {

// The content controller keeps its handlers; through this one it keeps the engine only weakly,
// so that engine, web view and controller do not keep each other alive.
class WeakScriptMessageHandler : public plat::WKScriptMessageHandler {
 public:
  explicit WeakScriptMessageHandler(std::weak_ptr<plat::WKScriptMessageHandler> target) : target_(std::move(target)) {}
  void userContentControllerDidReceiveScriptMessage(plat::WKUserContentController& controller,
                                                    const std::shared_ptr<plat::WKScriptMessage>& message) override {
    if (auto target = target_.lock()) target->userContentControllerDidReceiveScriptMessage(controller, message);
  }

 private:
  std::weak_ptr<plat::WKScriptMessageHandler> target_;
};

}  // namespace

bool HBRWKWebViewEngine::initWithFrame(const plat::CGRect& frame) {
  if (!plat::WKWebView::isAvailable()) return false;

  auto uiDelegate = std::make_shared<HBRWKWebViewUIDelegate>();
  uiDelegate->initWithTitle(HBRJavaScriptPanelTitle());
  uiDelegate_ = uiDelegate;

  auto userContentController = std::make_shared<plat::WKUserContentController>();
  userContentController->addScriptMessageHandler(
      std::make_shared<WeakScriptMessageHandler>(weakSelf<HBRWKWebViewEngine>()), kHBRScriptMessageHandlerName);

  auto configuration = std::make_shared<plat::WKWebViewConfiguration>();
  configuration->setUserContentController(userContentController);
  engineWebView_ = std::make_shared<plat::WKWebView>();
  engineWebView_->initWithFrame(frame, configuration);
  engineWebView_->setUIDelegate(uiDelegate_);
  // The plugin base finds the view through the engine; this engine is its own.
  setWebViewEngine(self<HBRWKWebViewEngine>());
  plat::NSLog("Using WKWebView");
  return true;
}

void HBRWKWebViewEngine::pluginInitialize() {
  auto vc = viewController();
  if (engineWebView_) {
    if (auto ui = std::dynamic_pointer_cast<plat::WKUIDelegate>(vc)) engineWebView_->setUIDelegate(ui);
    if (auto navigation = std::dynamic_pointer_cast<plat::WKNavigationDelegate>(vc))
      engineWebView_->setNavigationDelegate(navigation);
    else
      engineWebView_->setNavigationDelegate(self<HBRWKWebViewEngine>());
    // The name is the engine's already; the web view keeps one handler per name, so this is
    // refused (and logged) rather than replacing the engine.
    if (auto handler = std::dynamic_pointer_cast<plat::WKScriptMessageHandler>(vc))
      engineWebView_->configuration()->userContentController()->addScriptMessageHandler(handler, kHBRScriptMessageHandlerName);
  }
  if (auto delegate = commandDelegate()) updateSettings(delegate->settings());
}

plat::ObjectPtr HBRWKWebViewEngine::loadRequest(const plat::NSURLRequestPtr& request) {
  if (!engineWebView_ || !request) return nullptr;
  if (!canLoadRequest(request)) {
    std::string html = plat::format(
        "<!doctype html><title>Error</title><div style='font-size:2em'>   <p>The WebView engine '%s' is unable to load "
        "the request: %s</p>   <p>Most likely the cause of the error is that the loading of file urls is not supported "
        "in iOS %s.</p></div>",
        HBRViewController::classNameOf(*this).c_str(),
        request->URL() ? request->URL()->description().c_str() : "(null)",
        plat::UIDevice::currentDevice()->systemVersion().c_str());
    return loadHTMLString(html, nullptr);
  }
  const plat::NSURLPtr& url = request->URL();
  if (!url || !url->isFileURL()) return engineWebView_->loadRequest(request);
  plat::NSURLPtr folder = plat::NSURL::fileURLWithPath(plat::stringByDeletingLastPathComponent(url->path()), true);
  return engineWebView_->loadFileURL(url, folder);
}

plat::ObjectPtr HBRWKWebViewEngine::loadHTMLString(const std::string& html, const plat::NSURLPtr& baseURL) {
  return engineWebView_ ? engineWebView_->loadHTMLString(html, baseURL) : nullptr;
}

void HBRWKWebViewEngine::evaluateJavaScript(const std::string& script, EvaluationCompletion completion) {
  if (engineWebView_) engineWebView_->evaluateJavaScript(script, std::move(completion));
}

void HBRWKWebViewEngine::evaluateCallback(const HBRCallbackCall& call, EvaluationCompletion completion) {
  if (!engineWebView_) return;
  std::string callbackId;
  plat::json::appendQuoted(callbackId, call.callbackId);
  engineWebView_->callJavaScriptFunction(
      "return harbor.require('harbor/exec').nativeCallback(callbackId, status, message, keepCallback, 0);",
      {{"callbackId", std::move(callbackId)},
       {"status", std::to_string(call.status)},
       {"message", call.messageJSON},
       {"keepCallback", call.keepCallback ? "1" : "0"}},
      std::move(completion));
}

plat::NSURLPtr HBRWKWebViewEngine::URL() { return engineWebView_ ? engineWebView_->URL() : nullptr; }

bool HBRWKWebViewEngine::canLoadRequest(const plat::NSURLRequestPtr& request) {
  const plat::NSURLPtr& url = request ? request->URL() : nullptr;
  if (!url || !url->isFileURL()) return true;
  return engineWebView_ && engineWebView_->respondsToSelector("loadFileURL:allowingReadAccessToURL:");
}

void HBRWKWebViewEngine::updateWithInfo(const HBRWebViewEngineInfo& info) {
  if (!engineWebView_) return;
  auto controller = engineWebView_->configuration()->userContentController();
  for (const auto& [name, object] : info.scriptMessageHandlers) {
    if (auto handler = std::dynamic_pointer_cast<plat::WKScriptMessageHandler>(object)) {
      controller->addScriptMessageHandler(handler, name);
    }
  }
  if (auto navigation = std::dynamic_pointer_cast<plat::WKNavigationDelegate>(info.object(kHBRWebViewEngineWKNavigationDelegate))) {
    infoObjects_.push_back(info.object(kHBRWebViewEngineWKNavigationDelegate));
    engineWebView_->setNavigationDelegate(navigation);
  }
  if (auto ui = std::dynamic_pointer_cast<plat::WKUIDelegate>(info.object(kHBRWebViewEngineWKUIDelegate))) {
    infoObjects_.push_back(info.object(kHBRWebViewEngineWKUIDelegate));
    engineWebView_->setUIDelegate(ui);
  }
  const plat::Value& preferences = info.value(kHBRWebViewEngineWebViewPreferences);
  if (preferences.isDictionary()) updateSettings(preferences.asDictionary());
}

void HBRWKWebViewEngine::updateSettings(const plat::Dictionary& settings) {
  if (!engineWebView_) return;
  auto configuration = engineWebView_->configuration();
  configuration->preferences()->setMinimumFontSize(harborFloatSettingForKey(settings, "MinimumFontSize", 0.0));
  configuration->setAllowsInlineMediaPlayback(harborBoolSettingForKey(settings, "AllowInlineMediaPlayback", false));
  configuration->setMediaPlaybackRequiresUserAction(harborBoolSettingForKey(settings, "MediaPlaybackRequiresUserAction", true));
  configuration->setSuppressesIncrementalRendering(harborBoolSettingForKey(settings, "SuppressesIncrementalRendering", false));
  configuration->setMediaPlaybackAllowsAirPlay(harborBoolSettingForKey(settings, "MediaPlaybackAllowsAirPlay", true));
  if (harborBoolSettingForKey(settings, "DisallowOverscroll", false)) HBRDisableBouncing(engineWebView_);
}

bool HBRWKWebViewEngine::defaultResourcePolicyForURL(const plat::NSURLPtr& url) { return HBRDefaultResourcePolicyForURL(url); }

void HBRWKWebViewEngine::userContentControllerDidReceiveScriptMessage(plat::WKUserContentController&,
                                                                      const std::shared_ptr<plat::WKScriptMessage>& message) {
  if (!message || message->name() != kHBRScriptMessageHandlerName) return;
  auto vc = std::dynamic_pointer_cast<HBRViewController>(viewController());
  auto queue = vc ? vc->commandQueue() : nullptr;
  if (message->unreadable()) {
    // Its arguments nest too deeply or pass the bounds: what could be read of the entry names
    // its caller, who hears why.
    if (queue) queue->refuseUnreadableCommand(plat::Value(message->unreadableHead()), *message->unreadable());
    return;
  }
  HBRInvokedUrlCommandPtr command = HBRInvokedUrlCommand::commandFromJson(message->body());
  if (!command) {
    // Cut as the queue cuts a malformed entry: the page decides how large the body is.
    plat::NSLog("ERROR: The page sent a message that is not a command: " + plat::logExcerpt(message->body().description()));
    if (queue && message->body().isArray())
      queue->answerUnreadableCommand(message->body(), "it is not a command entry [callbackId, service, action, [arguments]]");
    return;
  }
  if (queue) queue->execute(command);
}

void HBRWKWebViewEngine::webViewDecidePolicyForNavigationActionDecisionHandler(
    plat::WKWebView&, const std::shared_ptr<plat::WKNavigationAction>& action, DecisionHandler decisionHandler) {
  auto vc = std::dynamic_pointer_cast<HBRViewController>(viewController());
  bool allow = HBRDecideNavigation(vc.get(), action->request(), action->navigationType());
  decisionHandler(allow ? plat::WKNavigationActionPolicy::Allow : plat::WKNavigationActionPolicy::Cancel);
}

void HBRWKWebViewEngine::webViewDidStartProvisionalNavigation(plat::WKWebView& webView, const plat::WKNavigationPtr&) {
  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginResetNotification, webView.self<plat::WKWebView>());
}

void HBRWKWebViewEngine::webViewDidFinishNavigation(plat::WKWebView& webView, const plat::WKNavigationPtr&) {
  auto vc = std::dynamic_pointer_cast<HBRViewController>(viewController());
  if (vc) HBRUserAgentUtil::releaseLock(vc->userAgentLockToken());
  plat::NSNotificationCenter::defaultCenter().post(kHBRPageDidLoadNotification, webView.self<plat::WKWebView>());
}

void HBRWKWebViewEngine::webViewDidFailNavigationWithError(plat::WKWebView& webView, const plat::WKNavigationPtr&,
                                                           const plat::NSError& error) {
  failedNavigation(webView, error);
}

void HBRWKWebViewEngine::webViewDidFailProvisionalNavigationWithError(plat::WKWebView& webView, const plat::WKNavigationPtr&,
                                                                      const plat::NSError& error) {
  failedNavigation(webView, error);
}

void HBRWKWebViewEngine::failedNavigation(plat::WKWebView& webView, const plat::NSError& error) {
  auto vc = std::dynamic_pointer_cast<HBRViewController>(viewController());
  auto view = webView.weakSelf<plat::WKWebView>();
  HBRHandleFailedLoad(vc.get(), error, webView.URL(), webView.isLoading(), [view](const plat::NSURLRequestPtr& request) {
    if (auto v = view.lock()) v->loadRequest(request);
  });
}

}  // namespace harbor
