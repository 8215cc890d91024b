#include "HBRUIWebViewDelegate.h"

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSURLConnection.h"
#include "plat/foundation/NSURLError.h"
#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

std::string beforeFragment(const std::string& text) { return text.substr(0, text.find('#')); }

}  // namespace

void HBRUIWebViewDelegate::initWithDelegate(const std::shared_ptr<plat::UIWebViewDelegate>& delegate) {
  delegate_ = delegate;
  loadCount_ = -1;
  state_ = Idle;
}

bool HBRUIWebViewDelegate::requestIsEqualToRequestAfterStrippingFragments(const plat::NSURLRequestPtr& a,
                                                                          const plat::NSURLRequestPtr& b) {
  if (!a || !b || !a->URL() || !b->URL()) return false;
  return beforeFragment(a->URL()->absoluteString()) == beforeFragment(b->URL()->absoluteString());
}

bool HBRUIWebViewDelegate::isPageLoaded(plat::UIWebView& webView) {
  std::string readyState = webView.stringByEvaluatingJavaScriptFromString("document.readyState");
  return readyState == "loaded" || readyState == "complete";
}

bool HBRUIWebViewDelegate::isJsLoadTokenSet(plat::UIWebView& webView) {
  std::string loadToken = webView.stringByEvaluatingJavaScriptFromString("window.__harborLoadToken");
  return loadToken == plat::format("%ld", static_cast<long>(curLoadToken_));
}

void HBRUIWebViewDelegate::setLoadToken(plat::UIWebView& webView) {
  curLoadToken_ += 1;
  webView.stringByEvaluatingJavaScriptFromString(plat::format("window.__harborLoadToken=%ld", static_cast<long>(curLoadToken_)));
}

std::string HBRUIWebViewDelegate::evalForCurrentURL(plat::UIWebView& webView) {
  return webView.stringByEvaluatingJavaScriptFromString("location.href");
}

bool HBRUIWebViewDelegate::shouldLoadRequest(const plat::NSURLRequestPtr& request) {
  const auto& scheme = request && request->URL() ? request->URL()->scheme() : std::nullopt;
  if (scheme) {
    for (const char* allowed : {"mailto", "tel", "blob", "sms", "data"})
      if (*scheme == allowed) return true;
  }
  return plat::NSURLConnection::canHandleRequest(request);
}

void HBRUIWebViewDelegate::schedule(plat::UIWebView& webView, void (HBRUIWebViewDelegate::*step)(plat::UIWebView&)) {
  auto weakSelf = this->weakSelf<HBRUIWebViewDelegate>();
  auto weakView = webView.weakSelf<plat::UIWebView>();
  plat::RunLoop::main().scheduleTimer(kPollInterval, [weakSelf, weakView, step] {
    auto self = weakSelf.lock();
    auto view = weakView.lock();
    if (self && view) (self.get()->*step)(*view);
  });
}

void HBRUIWebViewDelegate::pollForPageLoadStart(plat::UIWebView& webView) {
  if (state_ != PollingForLoadStart) return;
  if (isJsLoadTokenSet(webView)) {
    // The old page is still there.
    loadStartPollCount_ += 1;
    if (loadStartPollCount_ < kMaxLoadStartPolls) schedule(webView, &HBRUIWebViewDelegate::pollForPageLoadStart);
    return;
  }
  state_ = PollingForLoadFinish;
  setLoadToken(webView);
  if (auto d = delegate()) d->webViewDidStartLoad(webView);
  pollForPageLoadFinish(webView);
}

void HBRUIWebViewDelegate::pollForPageLoadFinish(plat::UIWebView& webView) {
  if (state_ != PollingForLoadFinish) return;
  if (isPageLoaded(webView)) {
    state_ = Idle;
    if (auto d = delegate()) d->webViewDidFinishLoad(webView);
  } else {
    schedule(webView, &HBRUIWebViewDelegate::pollForPageLoadFinish);
  }
}

bool HBRUIWebViewDelegate::webViewShouldStartLoadWithRequestNavigationType(plat::UIWebView& webView,
                                                                          const plat::NSURLRequestPtr& request,
                                                                          plat::UIWebViewNavigationType navigationType) {
  auto keep = shared_from_this();
  if (auto d = delegate()) {
    if (!d->webViewShouldStartLoadWithRequestNavigationType(webView, request, navigationType)) return false;
  }

  const plat::NSURLPtr& url = request ? request->URL() : nullptr;
  bool topLevel = request && (request == webView.request() ||
                              (url && request->mainDocumentURL() && url->isEqual(*request->mainDocumentURL())));
  if (!topLevel) return shouldLoadRequest(request);

  if (requestIsEqualToRequestAfterStrippingFragments(request, webView.request())) {
    std::string currentURL = evalForCurrentURL(webView);
    // Only the fragment changes: the page stays.
    if (currentURL != url->absoluteString()) return true;
  }

  switch (state_) {
    case Idle:
    case PollingForLoadStart:
    case Cancelled:
      loadCount_ = 0;
      state_ = WaitingForLoadStart;
      break;
    case WaitingForLoadFinish:
      if (loadCount_ != 1)
        plat::NSLogf("HBRWebViewDelegate: Detected redirect when loadCount=%ld", static_cast<long>(loadCount_));
      break;
    case WaitingForLoadStart:
    case PollingForLoadFinish: {
      std::string description =
          plat::format("HBRWebViewDelegate: Navigation started when state=%ld", static_cast<long>(state_));
      plat::NSLog(description);
      loadCount_ = 0;
      state_ = WaitingForLoadStart;
      if (auto d = delegate()) {
        plat::NSError error{kHBRUIWebViewDelegateErrorDomain, 1, description,
                            plat::Dictionary{{"NSLocalizedDescription", description}}};
        d->webViewDidFailLoadWithError(webView, error);
      }
      break;
    }
    default:
      break;
  }
  return true;
}

bool HBRUIWebViewDelegate::pollIfPolling(plat::UIWebView& webView) {
  // In the polling states every load event only runs the poll of that state.
  if (state_ == PollingForLoadStart) {
    pollForPageLoadStart(webView);
    return true;
  }
  if (state_ == PollingForLoadFinish) {
    pollForPageLoadFinish(webView);
    return true;
  }
  return false;
}

void HBRUIWebViewDelegate::webViewDidStartLoad(plat::UIWebView& webView) {
  auto keep = shared_from_this();
  if (pollIfPolling(webView)) return;
  switch (state_) {
    case Idle:
      break;
    case WaitingForLoadStart:
      if (loadCount_ != 0)
        plat::NSLogf("HBRWebViewDelegate: Unexpected loadCount in didStart. count=%ld", static_cast<long>(loadCount_));
      state_ = WaitingForLoadFinish;
      loadCount_ = 1;
      if (auto d = delegate()) d->webViewDidStartLoad(webView);
      break;
    case WaitingForLoadFinish:
      loadCount_ += 1;
      break;
    case Cancelled:
      state_ = WaitingForLoadFinish;
      loadCount_ += 1;
      if (auto d = delegate()) d->webViewDidStartLoad(webView);
      break;
    default:
      plat::NSLogf("HBRWebViewDelegate: Unexpected didStart with state=%ld loadCount=%ld", static_cast<long>(state_),
                   static_cast<long>(loadCount_));
      break;
  }
}

void HBRUIWebViewDelegate::webViewDidFinishLoad(plat::UIWebView& webView) {
  auto keep = shared_from_this();
  if (pollIfPolling(webView)) return;
  switch (state_) {
    case Idle:
    case Cancelled:
      break;
    case WaitingForLoadStart:
      plat::NSLog("HBRWebViewDelegate: Unexpected didFinish while waiting for load start.");
      break;
    case WaitingForLoadFinish:
      if (loadCount_ == 1) {
        state_ = Idle;
        loadCount_ = 0;
        if (auto d = delegate()) d->webViewDidFinishLoad(webView);
      } else {
        loadCount_ -= 1;
      }
      break;
    default:
      break;
  }
}

void HBRUIWebViewDelegate::webViewDidFailLoadWithError(plat::UIWebView& webView, const plat::NSError& error) {
  auto keep = shared_from_this();
  if (pollIfPolling(webView)) return;
  bool cancelled = error.code == plat::NSURLErrorCancelled;
  switch (state_) {
    case Idle:
    case Cancelled:
      break;
    case WaitingForLoadStart:
      state_ = cancelled ? Cancelled : Idle;
      if (auto d = delegate()) d->webViewDidFailLoadWithError(webView, error);
      break;
    case WaitingForLoadFinish:
      if (cancelled) {
        state_ = Cancelled;
        loadCount_ -= 1;
        if (auto d = delegate()) d->webViewDidFailLoadWithError(webView, error);
      } else if (loadCount_ == 1) {
        state_ = Idle;
        loadCount_ = -1;
        if (auto d = delegate()) d->webViewDidFailLoadWithError(webView, error);
      } else {
        // One of several loads (a frame) failed: it is done, like a finished one. The page's
        // own finish still closes the load.
        loadCount_ -= 1;
      }
      break;
    default:
      break;
  }
}

}  // namespace harbor
