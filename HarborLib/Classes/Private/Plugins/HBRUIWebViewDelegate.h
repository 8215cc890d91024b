#pragma once
// The page-load tracker: stands between a UIWebView and a wrapped delegate, counts the start
// and finish events of a load (the page's and its frames'), recognises fragment changes,
// reloads, redirects and cancels, and passes on one start and one finish (or one failure) per
// top-level page load.
//
// States (stored as numbers): 0 idle, 1 waiting for the load's first start, 2 waiting for its
// loads to finish, 3 and 4 polling the page for a new document and for its ready state (entered
// by no event), 5 cancelled.
//
// A frame that fails while other loads are outstanding counts as one finished load, so the
// page's own finish still comes through.
//
// Main thread only; the polls run on the main run loop.
#include <cstdint>
#include <memory>
#include <string>

#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/Object.h"
#include "plat/uikit/UIWebView.h"

namespace harbor {

inline constexpr char kHBRUIWebViewDelegateErrorDomain[] = "HBRUIWebViewDelegate";

class HBRUIWebViewDelegate : public plat::Object, public plat::UIWebViewDelegate {
 public:
  enum State : std::int64_t {
    Idle = 0,
    WaitingForLoadStart = 1,
    WaitingForLoadFinish = 2,
    PollingForLoadStart = 3,
    PollingForLoadFinish = 4,
    Cancelled = 5,
  };
  static constexpr std::int64_t kMaxLoadStartPolls = 50;
  static constexpr double kPollInterval = 0.05;

  // Keeps the delegate weakly.
  void initWithDelegate(const std::shared_ptr<plat::UIWebViewDelegate>& delegate);

  bool webViewShouldStartLoadWithRequestNavigationType(plat::UIWebView& webView, const plat::NSURLRequestPtr& request,
                                                       plat::UIWebViewNavigationType navigationType) override;
  void webViewDidStartLoad(plat::UIWebView& webView) override;
  void webViewDidFinishLoad(plat::UIWebView& webView) override;
  void webViewDidFailLoadWithError(plat::UIWebView& webView, const plat::NSError& error) override;

  // False when either request has no URL; otherwise whether the absolute URLs agree up to their
  // first "#".
  static bool requestIsEqualToRequestAfterStrippingFragments(const plat::NSURLRequestPtr& a,
                                                             const plat::NSURLRequestPtr& b);
  // document.readyState is "loaded" or "complete".
  bool isPageLoaded(plat::UIWebView& webView);
  bool isJsLoadTokenSet(plat::UIWebView& webView);
  void setLoadToken(plat::UIWebView& webView);
  std::string evalForCurrentURL(plat::UIWebView& webView);
  // The five schemes the tracker lets sub-resources load whatever the URL loading system says.
  static bool shouldLoadRequest(const plat::NSURLRequestPtr& request);
  void pollForPageLoadStart(plat::UIWebView& webView);
  void pollForPageLoadFinish(plat::UIWebView& webView);
  // Runs the poll of the current state and answers true when the tracker is polling.
  bool pollIfPolling(plat::UIWebView& webView);

  std::int64_t state() const { return state_; }
  std::int64_t loadCount() const { return loadCount_; }
  std::int64_t curLoadToken() const { return curLoadToken_; }
  std::int64_t loadStartPollCount() const { return loadStartPollCount_; }
  std::shared_ptr<plat::UIWebViewDelegate> delegate() const { return delegate_.lock(); }
  // Test surface: the polling states are entered by no event.
  void setStateForTesting(std::int64_t state, std::int64_t loadCount) {
    state_ = state;
    loadCount_ = loadCount;
  }

 private:
  void schedule(plat::UIWebView& webView, void (HBRUIWebViewDelegate::*step)(plat::UIWebView&));

  std::weak_ptr<plat::UIWebViewDelegate> delegate_;
  std::int64_t loadCount_ = -1;
  std::int64_t state_ = Idle;
  std::int64_t curLoadToken_ = 0;
  std::int64_t loadStartPollCount_ = 0;
};

}  // namespace harbor
