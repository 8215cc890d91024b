#pragma once
// The UIWebView engine's own handling of its web view's events, behind the page-load tracker:
// "hbr" navigations fetch the page's queued commands, other navigations go to the plugin vote,
// a page load's start resets the plugins, its finish releases the user-agent lock and posts
// "HBRPageDidLoadNotification", and its failure shows the error page.
//
// Main thread only. The requests come from the page and are trusted for nothing.
#include <memory>

#include "HBRPlugin.h"
#include "plat/foundation/Object.h"
#include "plat/uikit/UIWebView.h"

namespace harbor {

class HBRViewController;

class HBRUIWebViewNavigationDelegate : public plat::Object, public plat::UIWebViewDelegate {
 public:
  // Keeps the engine weakly.
  void initWithEnginePlugin(const std::shared_ptr<HBRPlugin>& enginePlugin);

  bool webViewShouldStartLoadWithRequestNavigationType(plat::UIWebView& webView, const plat::NSURLRequestPtr& request,
                                                       plat::UIWebViewNavigationType navigationType) override;
  void webViewDidStartLoad(plat::UIWebView& webView) override;
  void webViewDidFinishLoad(plat::UIWebView& webView) override;
  void webViewDidFailLoadWithError(plat::UIWebView& webView, const plat::NSError& error) override;

  // File URLs load in the web view when no plugin votes.
  static bool defaultResourcePolicyForURL(const plat::NSURLPtr& url);

  std::shared_ptr<HBRPlugin> enginePlugin() const { return enginePlugin_.lock(); }

 private:
  std::shared_ptr<HBRViewController> viewController() const;

  std::weak_ptr<HBRPlugin> enginePlugin_;
};

}  // namespace harbor
