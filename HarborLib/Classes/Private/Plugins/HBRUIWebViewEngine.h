#pragma once
// The default web view engine: shows the pages in a UIWebView. Its page-load tracker
// (HBRUIWebViewDelegate) is the web view's delegate and wraps the engine's own navigation
// delegate (or the view controller, when that is a UIWebViewDelegate itself), so the container
// sees one start and one finish per page. It applies the web-view preferences of config.xml.
// The page's alert, confirm and prompt are shown as native alerts (HBRJavaScriptPanels.h).
//
// Created by the view controller with initWithFrame and registered as a plugin; it observes no
// plugin notifications itself. Main thread only.
#include <memory>

#include "HBRPlugin.h"
#include "HBRUIWebViewDelegate.h"
#include "HBRUIWebViewNavigationDelegate.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/uikit/UIWebView.h"

namespace harbor {

class HBRUIWebViewEngine : public HBRPlugin, public HBRWebViewEngineProtocol {
 public:
  // Creates the web view and routes its dialogs to native alerts; logs "Using UIWebView". Always
  // succeeds.
  bool initWithFrame(const plat::CGRect& frame) override;
  // Builds the delegate chain and applies the preferences of the command delegate's settings.
  void pluginInitialize() override;

  plat::ObjectPtr loadRequest(const plat::NSURLRequestPtr& request) override;
  plat::ObjectPtr loadHTMLString(const std::string& html, const plat::NSURLPtr& baseURL) override;
  // Synchronous: the completion runs before this returns, with the script's result as text.
  void evaluateJavaScript(const std::string& script, EvaluationCompletion completion) override;
  plat::NSURLPtr URL() override;
  // Any request that is present.
  bool canLoadRequest(const plat::NSURLRequestPtr& request) override;
  void updateWithInfo(const HBRWebViewEngineInfo& info) override;
  plat::ObjectPtr engineWebView() override { return engineWebView_; }

  // Applies the web-view preferences (names in any case).
  void updateSettings(const plat::Dictionary& settings);

  const std::shared_ptr<plat::UIWebView>& uiWebView() const { return engineWebView_; }
  const std::shared_ptr<plat::UIWebViewDelegate>& uiWebViewDelegate() const { return uiWebViewDelegate_; }
  const std::shared_ptr<HBRUIWebViewNavigationDelegate>& navWebViewDelegate() const { return navWebViewDelegate_; }

 private:
  std::shared_ptr<plat::UIWebView> engineWebView_;
  std::shared_ptr<plat::UIWebViewDelegate> uiWebViewDelegate_;
  std::shared_ptr<HBRUIWebViewNavigationDelegate> navWebViewDelegate_;
  // A delegate handed in through updateWithInfo: the tracker keeps it weakly, so the engine
  // keeps it alive.
  std::shared_ptr<plat::UIWebViewDelegate> infoDelegate_;
};

// Switches bouncing off for a web view: its scroll view when it has one, else every direct
// subview that is a scroll view.
void HBRDisableBouncing(const plat::ObjectPtr& webView);

}  // namespace harbor
