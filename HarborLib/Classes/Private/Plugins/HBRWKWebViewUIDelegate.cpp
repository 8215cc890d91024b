#include "HBRWKWebViewUIDelegate.h"

#include "HBRJavaScriptPanels.h"

namespace harbor {

void HBRWKWebViewUIDelegate::webViewRunJavaScriptAlertPanelWithMessageInitiatedByFrameCompletionHandler(
    plat::WKWebView&, const std::string& message, const std::shared_ptr<plat::WKFrameInfo>&,
    std::function<void()> completionHandler) {
  HBRRunJavaScriptAlertPanel(title_, message, std::move(completionHandler));
}

void HBRWKWebViewUIDelegate::webViewRunJavaScriptConfirmPanelWithMessageInitiatedByFrameCompletionHandler(
    plat::WKWebView&, const std::string& message, const std::shared_ptr<plat::WKFrameInfo>&,
    std::function<void(bool)> completionHandler) {
  HBRRunJavaScriptConfirmPanel(title_, message, std::move(completionHandler));
}

void HBRWKWebViewUIDelegate::webViewRunJavaScriptTextInputPanelWithPromptDefaultTextInitiatedByFrameCompletionHandler(
    plat::WKWebView&, const std::string& prompt, const std::string& defaultText, const std::shared_ptr<plat::WKFrameInfo>&,
    std::function<void(std::optional<std::string>)> completionHandler) {
  HBRRunJavaScriptTextInputPanel(title_, prompt, defaultText, std::move(completionHandler));
}

}  // namespace harbor
