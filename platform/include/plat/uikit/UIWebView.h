#pragma once
// The web view with synchronous script evaluation, over the page engine chosen for the process
// (plat/web/WebPage.h: WebKit, or the headless one): loads requests and HTML, offers every
// navigation (its own, the page's, its frames') to its delegate, and reports loads to it; the
// delegate's reports arrive on later turns of the main run loop, once per load of the page (and,
// under the headless engine, of each of its frames). Its first
// subview is its scroll view. The display settings are kept and readable. Under WebKit the
// synchronous evaluation waits for WebKit's answer within a bound (see WebPage::evaluate).
//
// The user agent of a load is read when the load starts, process-wide: the "UserAgent" user
// default when one is registered or stored as a string, else the built-in default.
//
// Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/uikit/UIScrollView.h"
#include "plat/uikit/UIView.h"

namespace plat {

namespace web {
class WebPage;
}

class UIWebView;
using UIWebViewPtr = std::shared_ptr<UIWebView>;

enum UIWebViewNavigationType : long {
  UIWebViewNavigationTypeLinkClicked = 0,
  UIWebViewNavigationTypeFormSubmitted = 1,
  UIWebViewNavigationTypeBackForward = 2,
  UIWebViewNavigationTypeReload = 3,
  UIWebViewNavigationTypeFormResubmitted = 4,
  UIWebViewNavigationTypeOther = 5,
};

enum UIWebPaginationMode : long {
  UIWebPaginationModeUnpaginated = 0,
  UIWebPaginationModeLeftToRight = 1,
  UIWebPaginationModeTopToBottom = 2,
  UIWebPaginationModeBottomToTop = 3,
  UIWebPaginationModeRightToLeft = 4,
};

enum UIWebPaginationBreakingMode : long {
  UIWebPaginationBreakingModePage = 0,
  UIWebPaginationBreakingModeColumn = 1,
};

// Every operation is optional on the platform; these defaults behave as an absent one.
class UIWebViewDelegate {
 public:
  virtual ~UIWebViewDelegate() = default;
  virtual bool webViewShouldStartLoadWithRequestNavigationType(UIWebView& webView, const NSURLRequestPtr& request,
                                                               UIWebViewNavigationType navigationType) {
    return true;
  }
  virtual void webViewDidStartLoad(UIWebView& webView) {}
  virtual void webViewDidFinishLoad(UIWebView& webView) {}
  virtual void webViewDidFailLoadWithError(UIWebView& webView, const NSError& error) {}
};

class UIWebView : public UIView, public UIScrollViewOwner {
 public:
  static constexpr char kBuiltInUserAgent[] =
      "Mozilla/5.0 (Linux; x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko) Mobile/15E148";
  // The user default key that sets the user agent of new loads.
  static constexpr char kUserAgentDefaultsKey[] = "UserAgent";

  // What navigator.userAgent of a load starting now says.
  static std::string defaultUserAgent();

  // A dialog the page opens (alert, confirm, prompt) and how the view answers it.
  struct JavaScriptPanel {
    enum class Kind { Alert, Confirm, Prompt };
    Kind kind = Kind::Alert;
    std::string message;
    std::string defaultText;  // prompts
  };
  // ok: the confirm's or prompt's OK; text: the prompt's answer.
  using JavaScriptPanelAnswer = std::function<void(bool ok, std::optional<std::string> text)>;
  using JavaScriptPanelHandler = std::function<void(const JavaScriptPanel& panel, JavaScriptPanelAnswer answer)>;

  UIWebView();
  ~UIWebView() override;

  // Second step of creation: the view, its scroll view and an empty page.
  void initWithFrame(const CGRect& frame) override;
  // initWithFrame with an empty rectangle.
  void init();

  std::shared_ptr<UIWebViewDelegate> delegate() const { return delegate_.lock(); }
  // Held weakly, as the platform does.
  void setDelegate(const std::shared_ptr<UIWebViewDelegate>& delegate) { delegate_ = delegate; }

  UIScrollViewPtr scrollView() const override { return scrollView_; }

  void loadRequest(const NSURLRequestPtr& request);
  // "about:blank" when there is no base URL.
  void loadHTMLString(const std::string& html, const NSURLPtr& baseURL);
  void reload();
  void stopLoading();
  // The request of the last load the delegate allowed; null before any.
  NSURLRequestPtr request() const;
  bool isLoading() const;

  // Runs script in the page and gives its result as text: "" when the script throws, gives
  // undefined or null, or the view is not initialised.
  std::string stringByEvaluatingJavaScriptFromString(const std::string& script);
  // The same, with the result handed to completion, once: before this returns, unless the page
  // did not answer within the engine's bound (WebKit's content process runs the script on); then
  // with the page's answer when it comes, so that what the page handed over is not lost.
  void evaluateJavaScriptFromString(const std::string& script, std::function<void(const std::string&)> completion);

  // The user agent of the page on show.
  const std::string& userAgent() const { return userAgent_; }

  bool scalesPageToFit() const { return scalesPageToFit_; }
  void setScalesPageToFit(bool v) { scalesPageToFit_ = v; }
  bool allowsInlineMediaPlayback() const { return allowsInlineMediaPlayback_; }
  void setAllowsInlineMediaPlayback(bool v) { allowsInlineMediaPlayback_ = v; }
  bool mediaPlaybackRequiresUserAction() const { return mediaPlaybackRequiresUserAction_; }
  void setMediaPlaybackRequiresUserAction(bool v) { mediaPlaybackRequiresUserAction_ = v; }
  bool mediaPlaybackAllowsAirPlay() const { return mediaPlaybackAllowsAirPlay_; }
  void setMediaPlaybackAllowsAirPlay(bool v) { mediaPlaybackAllowsAirPlay_ = v; }
  bool keyboardDisplayRequiresUserAction() const { return keyboardDisplayRequiresUserAction_; }
  void setKeyboardDisplayRequiresUserAction(bool v) { keyboardDisplayRequiresUserAction_ = v; }
  bool suppressesIncrementalRendering() const { return suppressesIncrementalRendering_; }
  void setSuppressesIncrementalRendering(bool v) { suppressesIncrementalRendering_ = v; }
  double gapBetweenPages() const { return gapBetweenPages_; }
  void setGapBetweenPages(double v) { gapBetweenPages_ = v; }
  double pageLength() const { return pageLength_; }
  void setPageLength(double v) { pageLength_ = v; }
  UIWebPaginationMode paginationMode() const { return paginationMode_; }
  void setPaginationMode(UIWebPaginationMode v) { paginationMode_ = v; }
  UIWebPaginationBreakingMode paginationBreakingMode() const { return paginationBreakingMode_; }
  void setPaginationBreakingMode(UIWebPaginationBreakingMode v) { paginationBreakingMode_ = v; }

  // Test surface and runner: who answers the page's dialogs. Without a handler, each dialog is
  // logged and gets the cancel answer.
  void setJavaScriptPanelHandler(JavaScriptPanelHandler handler) { panelHandler_ = std::move(handler); }
  // Test surface.
  void simulateLinkClick(const NSURLPtr& url);
  void simulateFrameLoad(const NSURLPtr& url, std::optional<NSError> failure = std::nullopt);
  bool simulateFailure(const NSError& error);
  // The page engine behind the view (to run page script in tests, and for screenshots).
  web::WebPage* page() const { return page_.get(); }

 protected:
  // The page stands where the view stands in the window.
  void frameInWindowDidChange() override;

 private:
  class PageClient;
  friend class PageClient;
  void applySettings();

  std::weak_ptr<UIWebViewDelegate> delegate_;
  UIScrollViewPtr scrollView_;
  std::shared_ptr<PageClient> client_;
  std::shared_ptr<web::WebPage> page_;
  std::string userAgent_;
  JavaScriptPanelHandler panelHandler_;

  bool scalesPageToFit_ = false;
  bool allowsInlineMediaPlayback_ = false;
  bool mediaPlaybackRequiresUserAction_ = true;
  bool mediaPlaybackAllowsAirPlay_ = true;
  bool keyboardDisplayRequiresUserAction_ = true;
  bool suppressesIncrementalRendering_ = false;
  double gapBetweenPages_ = 0;
  double pageLength_ = 0;
  UIWebPaginationMode paginationMode_ = UIWebPaginationModeUnpaginated;
  UIWebPaginationBreakingMode paginationBreakingMode_ = UIWebPaginationBreakingModePage;
};

}  // namespace plat
