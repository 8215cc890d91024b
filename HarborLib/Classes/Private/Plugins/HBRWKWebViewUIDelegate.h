#pragma once
// Shows the page's alert, confirm and prompt of the WKWebView engine as native alerts, titled
// with the application's display name, on the application window's root view controller (or
// over what it presents; see HBRJavaScriptPanels.h); the user's answer goes back to the page.
//
// Main thread only. The texts come from the page and are only shown.
#include <optional>
#include <string>

#include "plat/foundation/Object.h"
#include "plat/webkit/WKUIDelegate.h"

namespace harbor {

class HBRWKWebViewUIDelegate : public plat::Object, public plat::WKUIDelegate {
 public:
  void initWithTitle(std::optional<std::string> title) { title_ = std::move(title); }
  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }

  // One "OK" button; the page gets nothing back.
  void webViewRunJavaScriptAlertPanelWithMessageInitiatedByFrameCompletionHandler(
      plat::WKWebView& webView, const std::string& message, const std::shared_ptr<plat::WKFrameInfo>& frame,
      std::function<void()> completionHandler) override;
  // "OK" (yes) and "Cancel" (no).
  void webViewRunJavaScriptConfirmPanelWithMessageInitiatedByFrameCompletionHandler(
      plat::WKWebView& webView, const std::string& message, const std::shared_ptr<plat::WKFrameInfo>& frame,
      std::function<void(bool result)> completionHandler) override;
  // A text field holding the default text; "OK" gives its text (empty, never nothing), "Cancel"
  // gives nothing.
  void webViewRunJavaScriptTextInputPanelWithPromptDefaultTextInitiatedByFrameCompletionHandler(
      plat::WKWebView& webView, const std::string& prompt, const std::string& defaultText,
      const std::shared_ptr<plat::WKFrameInfo>& frame,
      std::function<void(std::optional<std::string> result)> completionHandler) override;

 private:
  std::optional<std::string> title_;
};

}  // namespace harbor
