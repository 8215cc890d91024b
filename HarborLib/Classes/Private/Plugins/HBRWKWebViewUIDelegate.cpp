#include "HBRWKWebViewUIDelegate.h"

#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/uikit/UIAlertController.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIWindow.h"

namespace harbor {
namespace {

std::string buttonTitle(const char* key) { return plat::NSBundle::mainBundle()->localizedStringForKey(key, "", ""); }

// A button that answers the page, then dismisses the alert. The alert is held weakly (it holds
// its buttons); by the time a tapped button runs, the alert may already be gone from the screen.
std::shared_ptr<plat::UIAlertAction> button(const char* key, const std::shared_ptr<plat::UIAlertController>& alert,
                                            std::function<void()> answer) {
  std::weak_ptr<plat::UIAlertController> weak = alert;
  return plat::UIAlertAction::actionWithTitle(buttonTitle(key), plat::UIAlertActionStyle::Default,
                                              [weak, answer](plat::UIAlertAction&) {
                                                answer();
                                                if (auto shown = weak.lock()) shown->dismissViewControllerAnimated(true, nullptr);
                                              });
}

// Presents the alert on the root view controller of the application's window. False (logged)
// when there is nowhere to show it; the caller then answers the page as cancelled.
bool present(const std::shared_ptr<plat::UIAlertController>& alert) {
  auto delegate = plat::UIApplication::sharedApplication()->delegate();
  auto window = delegate ? delegate->window() : nullptr;
  auto root = window ? window->rootViewController() : nullptr;
  if (root && root->presentViewController(alert, true, nullptr)) return true;
  plat::NSLog("The page's dialog cannot be shown: no view controller can present it.");
  return false;
}

}  // namespace

void HBRWKWebViewUIDelegate::webViewRunJavaScriptAlertPanelWithMessageInitiatedByFrameCompletionHandler(
    plat::WKWebView&, const std::string& message, const std::shared_ptr<plat::WKFrameInfo>&,
    std::function<void()> completionHandler) {
  auto alert = plat::UIAlertController::alertControllerWithTitle(title_, message, plat::UIAlertControllerStyle::Alert);
  alert->addAction(button("OK", alert, [completionHandler] { completionHandler(); }));
  if (!present(alert)) completionHandler();
}

void HBRWKWebViewUIDelegate::webViewRunJavaScriptConfirmPanelWithMessageInitiatedByFrameCompletionHandler(
    plat::WKWebView&, const std::string& message, const std::shared_ptr<plat::WKFrameInfo>&,
    std::function<void(bool)> completionHandler) {
  auto alert = plat::UIAlertController::alertControllerWithTitle(title_, message, plat::UIAlertControllerStyle::Alert);
  alert->addAction(button("OK", alert, [completionHandler] { completionHandler(true); }));
  alert->addAction(button("Cancel", alert, [completionHandler] { completionHandler(false); }));
  if (!present(alert)) completionHandler(false);
}

void HBRWKWebViewUIDelegate::webViewRunJavaScriptTextInputPanelWithPromptDefaultTextInitiatedByFrameCompletionHandler(
    plat::WKWebView&, const std::string& prompt, const std::string& defaultText, const std::shared_ptr<plat::WKFrameInfo>&,
    std::function<void(std::optional<std::string>)> completionHandler) {
  auto alert = plat::UIAlertController::alertControllerWithTitle(title_, prompt, plat::UIAlertControllerStyle::Alert);
  alert->addTextFieldWithConfigurationHandler([defaultText](plat::UITextField& field) { field.setText(defaultText); });
  std::shared_ptr<plat::UITextField> field = alert->textFields().front();
  alert->addAction(button("OK", alert, [completionHandler, field] {
    // A text field's text is empty, never nothing.
    completionHandler(field->text().value_or(""));
  }));
  alert->addAction(button("Cancel", alert, [completionHandler] { completionHandler(std::nullopt); }));
  if (!present(alert)) completionHandler(std::nullopt);
}

}  // namespace harbor
