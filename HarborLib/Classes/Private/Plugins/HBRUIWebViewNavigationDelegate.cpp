#include "HBRUIWebViewNavigationDelegate.h"

#include "HBRUIWebViewDelegate.h"
#include "HBRUserAgentUtil.h"
#include "HBRViewController.h"
#include "HBRWebViewEngineSupport.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/uikit/UIApplication.h"

namespace harbor {

void HBRUIWebViewNavigationDelegate::initWithEnginePlugin(const std::shared_ptr<HBRPlugin>& enginePlugin) {
  enginePlugin_ = enginePlugin;
}

std::shared_ptr<HBRViewController> HBRUIWebViewNavigationDelegate::viewController() const {
  auto engine = enginePlugin();
  return engine ? std::dynamic_pointer_cast<HBRViewController>(engine->viewController()) : nullptr;
}

bool HBRUIWebViewNavigationDelegate::defaultResourcePolicyForURL(const plat::NSURLPtr& url) {
  return HBRDefaultResourcePolicyForURL(url);
}

bool HBRUIWebViewNavigationDelegate::webViewShouldStartLoadWithRequestNavigationType(
    plat::UIWebView& webView, const plat::NSURLRequestPtr& request, plat::UIWebViewNavigationType navigationType) {
  const plat::NSURLPtr& url = request ? request->URL() : nullptr;
  auto vc = viewController();
  // The page's signal that commands are queued; only the exact lower-case scheme counts.
  if (url && url->scheme() && *url->scheme() == "hbr") {
    if (auto queue = vc ? vc->commandQueue() : nullptr) {
      queue->fetchCommandsFromJs();
      queue->executePending();
    }
    return false;
  }
  return HBRDecideNavigation(vc.get(), request, navigationType);
}

void HBRUIWebViewNavigationDelegate::webViewDidStartLoad(plat::UIWebView& webView) {
  plat::NSLog("Resetting plugins due to page load.");
  auto vc = viewController();
  if (auto queue = vc ? vc->commandQueue() : nullptr) queue->resetRequestId();
  auto engine = enginePlugin();
  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginResetNotification, engine ? engine->webView() : nullptr);
}

void HBRUIWebViewNavigationDelegate::webViewDidFinishLoad(plat::UIWebView& webView) {
  plat::NSURLRequestPtr request = webView.request();
  plat::NSLog("Finished load of: " +
              (request && request->URL() ? plat::logPageText(request->URL()->absoluteString()) : std::string("(null)")));
  auto vc = viewController();
  if (vc) HBRUserAgentUtil::releaseLock(vc->userAgentLockToken());
  plat::UIApplication::sharedApplication()->setNetworkActivityIndicatorVisible(false);
  auto engine = enginePlugin();
  plat::NSNotificationCenter::defaultCenter().post(kHBRPageDidLoadNotification, engine ? engine->webView() : nullptr);
}

void HBRUIWebViewNavigationDelegate::webViewDidFailLoadWithError(plat::UIWebView& webView, const plat::NSError& error) {
  // The tracker's own report of a navigation that began before the previous one started (a
  // page setting location twice in a row). Nothing failed: the later navigation goes on, and
  // its end releases the lock; an error page here would cancel it.
  if (error.domain == kHBRUIWebViewDelegateErrorDomain) return;
  auto vc = viewController();
  plat::NSURLRequestPtr current = webView.request();
  auto view = webView.weakSelf<plat::UIWebView>();
  HBRHandleFailedLoad(vc.get(), error, current ? current->URL() : nullptr, webView.isLoading(),
                      [view](const plat::NSURLRequestPtr& request) {
                        if (auto v = view.lock()) v->loadRequest(request);
                      });
}

}  // namespace harbor
