#pragma once
// Who shows the page's alert, confirm and prompt for a WKWebView. The page waits for the
// completion handler (see plat/web/WebPage.h); each handler is to be called once.
//
// Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "plat/webkit/WKNavigationDelegate.h"

namespace plat {

class WKWebView;

// Every operation is optional on the platform; these defaults answer as an absent one does.
class WKUIDelegate {
 public:
  virtual ~WKUIDelegate() = default;
  virtual void webViewRunJavaScriptAlertPanelWithMessageInitiatedByFrameCompletionHandler(
      WKWebView& webView, const std::string& message, const std::shared_ptr<WKFrameInfo>& frame,
      std::function<void()> completionHandler) {
    completionHandler();
  }
  virtual void webViewRunJavaScriptConfirmPanelWithMessageInitiatedByFrameCompletionHandler(
      WKWebView& webView, const std::string& message, const std::shared_ptr<WKFrameInfo>& frame,
      std::function<void(bool result)> completionHandler) {
    completionHandler(false);
  }
  virtual void webViewRunJavaScriptTextInputPanelWithPromptDefaultTextInitiatedByFrameCompletionHandler(
      WKWebView& webView, const std::string& prompt, const std::string& defaultText,
      const std::shared_ptr<WKFrameInfo>& frame, std::function<void(std::optional<std::string> result)> completionHandler) {
    completionHandler(std::nullopt);
  }
};

}  // namespace plat
