#pragma once
// Navigations of a WKWebView and the delegate that decides and hears them. Only the main frame's
// loads are reported; every navigation, frames' too, is offered to the policy decision.
//
// Main thread only; the reports arrive on later turns of the main run loop.
#include <functional>
#include <memory>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/Object.h"

namespace plat {

class WKWebView;

enum WKNavigationType : long {
  WKNavigationTypeLinkActivated = 0,
  WKNavigationTypeFormSubmitted = 1,
  WKNavigationTypeBackForward = 2,
  WKNavigationTypeReload = 3,
  WKNavigationTypeFormResubmitted = 4,
  WKNavigationTypeOther = -1,
};

enum class WKNavigationActionPolicy : long { Cancel = 0, Allow = 1 };

class WKFrameInfo : public Object {
 public:
  WKFrameInfo(bool mainFrame, NSURLRequestPtr request) : mainFrame_(mainFrame), request_(std::move(request)) {}
  bool isMainFrame() const { return mainFrame_; }
  const NSURLRequestPtr& request() const { return request_; }

 private:
  bool mainFrame_;
  NSURLRequestPtr request_;
};

// One top-level load, as the view reports it; compared by identity.
class WKNavigation : public Object {};
using WKNavigationPtr = std::shared_ptr<WKNavigation>;

class WKNavigationAction : public Object {
 public:
  WKNavigationAction(NSURLRequestPtr request, WKNavigationType type, std::shared_ptr<WKFrameInfo> targetFrame)
      : request_(std::move(request)), type_(type), targetFrame_(std::move(targetFrame)) {}
  const NSURLRequestPtr& request() const { return request_; }
  WKNavigationType navigationType() const { return type_; }
  const std::shared_ptr<WKFrameInfo>& targetFrame() const { return targetFrame_; }

 private:
  NSURLRequestPtr request_;
  WKNavigationType type_;
  std::shared_ptr<WKFrameInfo> targetFrame_;
};

// Every operation is optional on the platform; these defaults behave as an absent one.
class WKNavigationDelegate {
 public:
  // Must be called exactly once, now or later. A second call is logged and ignored; a handler
  // dropped without being called is logged and cancels the navigation.
  using DecisionHandler = std::function<void(WKNavigationActionPolicy policy)>;

  virtual ~WKNavigationDelegate() = default;
  virtual void webViewDecidePolicyForNavigationActionDecisionHandler(WKWebView& webView,
                                                                     const std::shared_ptr<WKNavigationAction>& action,
                                                                     DecisionHandler decisionHandler) {
    decisionHandler(WKNavigationActionPolicy::Allow);
  }
  virtual void webViewDidStartProvisionalNavigation(WKWebView& webView, const WKNavigationPtr& navigation) {}
  virtual void webViewDidCommitNavigation(WKWebView& webView, const WKNavigationPtr& navigation) {}
  virtual void webViewDidFinishNavigation(WKWebView& webView, const WKNavigationPtr& navigation) {}
  virtual void webViewDidFailProvisionalNavigationWithError(WKWebView& webView, const WKNavigationPtr& navigation,
                                                            const NSError& error) {}
  virtual void webViewDidFailNavigationWithError(WKWebView& webView, const WKNavigationPtr& navigation,
                                                 const NSError& error) {}
};

}  // namespace plat
