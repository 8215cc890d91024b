#pragma once
// The WebKit web view over the page engine chosen for the process (plat/web/WebPage.h: WebKit,
// or the headless one): asynchronous script evaluation, navigations decided and reported
// through its navigation delegate, the page's dialogs through its UI delegate, and script
// message handlers the page posts to. Its first subview is its scroll view.
//
// The class exists from system version 8.0 on (isAvailable, against UIDevice's system
// version); loadFileURL:allowingReadAccessToURL: from 9.0 on. File URLs load only inside the
// read access they were given: the folder of loadFileURL, or the single file of a loadRequest.
//
// Main thread only. Reports, script messages and evaluation completions arrive on later turns.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/Value.h"
#include "plat/uikit/UIScrollView.h"
#include "plat/uikit/UIView.h"
#include "plat/webkit/WKNavigationDelegate.h"
#include "plat/webkit/WKUIDelegate.h"
#include "plat/webkit/WKWebViewConfiguration.h"

namespace plat {

namespace web {
class WebPage;
struct FunctionArgument;
}

inline constexpr char WKErrorDomain[] = "WKErrorDomain";
// userInfo keys of a script exception.
inline constexpr char WKJavaScriptExceptionMessageErrorKey[] = "WKJavaScriptExceptionMessage";
inline constexpr char WKJavaScriptExceptionLineNumberErrorKey[] = "WKJavaScriptExceptionLineNumber";
inline constexpr char WKJavaScriptExceptionSourceURLErrorKey[] = "WKJavaScriptExceptionSourceURL";

enum WKErrorCode : long {
  WKErrorUnknown = 1,
  WKErrorWebContentProcessTerminated = 2,
  WKErrorWebViewInvalidated = 3,
  WKErrorJavaScriptExceptionOccurred = 4,
  WKErrorJavaScriptResultTypeIsUnsupported = 5,
};

class WKWebView;
using WKWebViewPtr = std::shared_ptr<WKWebView>;

class WKWebView : public UIView, public UIScrollViewOwner {
 public:
  using EvaluationCompletion = std::function<void(const Value& result, const std::optional<NSError>& error)>;

  // Whether the class exists on this system (version 8.0 and later).
  static bool isAvailable();

  WKWebView();
  ~WKWebView() override;

  // Second step of creation. The view keeps the configuration (a fresh one when null).
  void initWithFrame(const CGRect& frame, const std::shared_ptr<WKWebViewConfiguration>& configuration);
  void initWithFrame(const CGRect& frame) override { initWithFrame(frame, nullptr); }

  const std::shared_ptr<WKWebViewConfiguration>& configuration() const { return configuration_; }
  // Both held weakly, as the platform does.
  std::shared_ptr<WKNavigationDelegate> navigationDelegate() const { return navigationDelegate_.lock(); }
  void setNavigationDelegate(const std::shared_ptr<WKNavigationDelegate>& delegate) { navigationDelegate_ = delegate; }
  std::shared_ptr<WKUIDelegate> UIDelegate() const { return uiDelegate_.lock(); }
  void setUIDelegate(const std::shared_ptr<WKUIDelegate>& delegate) { uiDelegate_ = delegate; }

  UIScrollViewPtr scrollView() const override { return scrollView_; }

  // "loadFileURL:allowingReadAccessToURL:" answers from system version 9.0 on; the other
  // selectors this class implements always.
  bool respondsToSelector(std::string_view selector) const;

  WKNavigationPtr loadRequest(const NSURLRequestPtr& request);
  WKNavigationPtr loadHTMLString(const std::string& html, const NSURLPtr& baseURL);
  // Loads the file URL with read access to readAccessURL (a folder or the file). Below system
  // version 9.0 the view does not have it: logged, nothing loads, null.
  WKNavigationPtr loadFileURL(const NSURLPtr& url, const NSURLPtr& readAccessURL);
  WKNavigationPtr reload();
  void stopLoading();

  // The URL of the page on show; null before any.
  NSURLPtr URL() const;
  std::string title();
  bool isLoading() const;

  // Runs the script on a later turn; the completion (which may be empty) gets the result as a
  // value, or an error of WKErrorDomain: a script exception (WKErrorJavaScriptExceptionOccurred)
  // or a result without a value form such as a function (WKErrorJavaScriptResultTypeIsUnsupported).
  void evaluateJavaScript(const std::string& script, EvaluationCompletion completion);
  // Calls `function (<parameters>) { <body> }` in the page with the arguments (JSON texts, read
  // as JSON.parse reads them): the same completion as evaluateJavaScript's, and the same order
  // among evaluations, without compiling a new script for every new value
  // (web::WebPage::callFunctionAsync).
  void callJavaScriptFunction(const std::string& body, const std::vector<web::FunctionArgument>& arguments,
                              EvaluationCompletion completion);

  const std::optional<std::string>& customUserAgent() const { return customUserAgent_; }
  void setCustomUserAgent(std::optional<std::string> userAgent) { customUserAgent_ = std::move(userAgent); }

  // Test surface.
  void simulateLinkClick(const NSURLPtr& url);
  void simulateFrameLoad(const NSURLPtr& url, std::optional<NSError> failure = std::nullopt);
  bool simulateFailure(const NSError& error);
  web::WebPage* page() const { return page_.get(); }

 protected:
  // The page stands where the view stands in the window.
  void frameInWindowDidChange() override;

 private:
  class PageClient;
  friend class PageClient;
  friend class WKUserContentController;
  void contentControllerDidChange();
  void applySettings();
  WKNavigationPtr navigationFor(std::uint64_t identifier);
  WKNavigationPtr endNavigation(std::uint64_t identifier);

  std::shared_ptr<WKWebViewConfiguration> configuration_;
  std::weak_ptr<WKNavigationDelegate> navigationDelegate_;
  std::weak_ptr<WKUIDelegate> uiDelegate_;
  UIScrollViewPtr scrollView_;
  std::shared_ptr<PageClient> client_;
  std::shared_ptr<web::WebPage> page_;
  std::map<std::uint64_t, WKNavigationPtr> navigations_;
  std::optional<std::string> customUserAgent_;
};

}  // namespace plat
