#include "HBRWebViewEngineSupport.h"

#include "HBRNavigationVoter.h"
#include "HBRPlugin.h"
#include "HBRUserAgentUtil.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSURLError.h"
#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

// The URL text up to its query and fragment: the error page is the same page whatever its
// "?error=" says.
std::string pageOf(const plat::NSURLPtr& url) {
  if (!url) return {};
  const std::string& text = url->absoluteString();
  return text.substr(0, text.find_first_of("?#"));
}

}  // namespace

std::optional<bool> HBRVoteOnNavigation(HBRViewController& viewController, const plat::NSURLRequestPtr& request,
                                        long navigationType) {
  // A copy: a voter may create plugins while it votes.
  std::map<std::string, HBRPluginPtr> plugins = viewController.pluginObjects();
  std::optional<bool> verdict;
  for (const auto& [className, plugin] : plugins) {
    auto voter = std::dynamic_pointer_cast<HBRNavigationVoter>(plugin);
    if (!voter) continue;
    if (!voter->shouldOverrideLoadWithRequest(request, navigationType)) return false;
    verdict = true;
  }
  return verdict;
}

bool HBRDefaultResourcePolicyForURL(const plat::NSURLPtr& url) { return url && url->isFileURL(); }

bool HBRDefaultNavigationPolicy(const plat::NSURLRequestPtr& request) {
  plat::NSURLPtr url = request ? request->URL() : nullptr;
  if (HBRDefaultResourcePolicyForURL(url)) return true;
  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginHandleOpenURLNotification, url);
  return false;
}

namespace {

bool decide(HBRViewController* viewController, const plat::NSURLRequestPtr& request, long navigationType) {
  plat::NSURLPtr url = request ? request->URL() : nullptr;
  if (url && url->absoluteString() == "about:blank") return true;
  if (viewController) {
    if (std::optional<bool> vote = HBRVoteOnNavigation(*viewController, request, navigationType)) return *vote;
  }
  return HBRDefaultNavigationPolicy(request);
}

}  // namespace

bool HBRDecideNavigation(HBRViewController* viewController, const plat::NSURLRequestPtr& request, long navigationType) {
  bool allowed = decide(viewController, request, navigationType);
  if (viewController) viewController->didDecideNavigation(request, allowed);
  return allowed;
}

void HBRHandleFailedLoad(HBRViewController* viewController, const plat::NSError& error,
                         const plat::NSURLPtr& failingURL, bool superseded,
                         const std::function<void(const plat::NSURLRequestPtr&)>& load) {
  bool cancelled = error.domain == plat::NSURLErrorDomain && error.code == plat::NSURLErrorCancelled;
  if (cancelled && superseded) return;
  if (viewController) HBRUserAgentUtil::releaseLock(viewController->userAgentLockToken());
  std::string message = plat::format("Failed to load webpage with error: %s", error.localizedDescription.c_str());
  plat::NSLog(message);
  if (!viewController) return;
  plat::NSNotificationCenter::defaultCenter().post(kHBRPageDidFailLoadNotification, viewController->webView(),
                                                   plat::Value(plat::Dictionary{{"error", error.localizedDescription}}));
  plat::NSURLPtr errorPage = viewController->errorURL();
  if (!errorPage) return;
  if (cancelled) return;
  const plat::Value& failing = error.userInfo[plat::NSURLErrorFailingURLStringErrorKey];
  std::string failedPage = failing.isString() ? pageOf(plat::NSURL::URLWithString(failing.asString())) : pageOf(failingURL);
  if (!failedPage.empty() && failedPage == pageOf(errorPage)) return;
  plat::NSURLPtr target = plat::NSURL::URLWithStringRelativeToURL("?error=" + plat::percentEscape(message), errorPage);
  if (!target) return;
  plat::NSLog(target->absoluteString());
  load(plat::NSURLRequest::requestWithURL(target->absoluteURL()));
}

}  // namespace harbor
