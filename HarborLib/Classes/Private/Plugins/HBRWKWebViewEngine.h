#pragma once
// The WebKit engine: shows the pages in a WKWebView. The page's commands arrive one at a time
// as messages to the script message handler "harbor" and run at once; script evaluation is the
// web view's own, asynchronous one; the page's dialogs are native alerts (HBRWKWebViewUIDelegate).
// On a system without WKWebView (below 8.0) it cannot be created, and on one whose web view
// cannot load file URLs (below 9.0) it cannot load a file start page: the container then uses
// the UIWebView engine.
//
// Created by the view controller with initWithFrame and registered as a plugin. Main thread only.
#include <memory>
#include <string>

#include "HBRPlugin.h"
#include "HBRWKWebViewUIDelegate.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/webkit/WKWebView.h"

namespace harbor {

inline constexpr char kHBRScriptMessageHandlerName[] = "harbor";

class HBRWKWebViewEngine : public HBRPlugin,
                           public HBRWebViewEngineProtocol,
                           public plat::WKScriptMessageHandler,
                           public plat::WKNavigationDelegate {
 public:
  // False when the system has no WKWebView. Logs "Using WKWebView".
  bool initWithFrame(const plat::CGRect& frame) override;
  // Lets the view controller take the UI and navigation delegates when it is one, then applies
  // the preferences.
  void pluginInitialize() override;

  // Non-file URLs load as they are; a file URL with read access to its folder; a file URL this
  // system's web view cannot load shows an explanation instead.
  plat::ObjectPtr loadRequest(const plat::NSURLRequestPtr& request) override;
  plat::ObjectPtr loadHTMLString(const std::string& html, const plat::NSURLPtr& baseURL) override;
  // The web view's own: the completion runs on a later turn.
  void evaluateJavaScript(const std::string& script, EvaluationCompletion completion) override;
  // A call of one function, made once per document, with the result's values: every result would
  // otherwise be a script of its own text, compiled anew.
  void evaluateCallback(const HBRCallbackCall& call, EvaluationCompletion completion) override;
  plat::NSURLPtr URL() override;
  // Every non-file URL; file URLs only where the web view can load them.
  bool canLoadRequest(const plat::NSURLRequestPtr& request) override;
  void updateWithInfo(const HBRWebViewEngineInfo& info) override;
  plat::ObjectPtr engineWebView() override { return engineWebView_; }

  void updateSettings(const plat::Dictionary& settings);
  static bool defaultResourcePolicyForURL(const plat::NSURLPtr& url);

  // The "harbor" handler: one command per message, executed at once. A body that is not a
  // command entry is logged and dropped.
  void userContentControllerDidReceiveScriptMessage(plat::WKUserContentController& userContentController,
                                                    const std::shared_ptr<plat::WKScriptMessage>& message) override;

  void webViewDecidePolicyForNavigationActionDecisionHandler(plat::WKWebView& webView,
                                                             const std::shared_ptr<plat::WKNavigationAction>& action,
                                                             DecisionHandler decisionHandler) override;
  void webViewDidStartProvisionalNavigation(plat::WKWebView& webView, const plat::WKNavigationPtr& navigation) override;
  void webViewDidFinishNavigation(plat::WKWebView& webView, const plat::WKNavigationPtr& navigation) override;
  void webViewDidFailNavigationWithError(plat::WKWebView& webView, const plat::WKNavigationPtr& navigation,
                                         const plat::NSError& error) override;
  // Handled as the failure after the commit: otherwise a start page that cannot be reached
  // would keep the user-agent lock for ever.
  void webViewDidFailProvisionalNavigationWithError(plat::WKWebView& webView, const plat::WKNavigationPtr& navigation,
                                                    const plat::NSError& error) override;

  const std::shared_ptr<plat::WKWebView>& wkWebView() const { return engineWebView_; }
  const std::shared_ptr<plat::WKUIDelegate>& uiDelegate() const { return uiDelegate_; }

 private:
  void failedNavigation(plat::WKWebView& webView, const plat::NSError& error);

  std::shared_ptr<plat::WKWebView> engineWebView_;
  std::shared_ptr<plat::WKUIDelegate> uiDelegate_;
  // Delegates and handlers handed in through updateWithInfo, which the web view keeps weakly.
  std::vector<plat::ObjectPtr> infoObjects_;
};

}  // namespace harbor
