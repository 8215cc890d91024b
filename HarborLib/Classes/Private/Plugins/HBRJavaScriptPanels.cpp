#include "HBRJavaScriptPanels.h"

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

// Presents the alert over the application window's root view controller, or over the top of
// what it presents: a controller that already presents another refuses a second one, and the
// page's dialog would then be lost behind, say, a plugin's alert. False (logged) when there is
// nowhere to show it; the caller then answers the page as cancelled.
bool present(const std::shared_ptr<plat::UIAlertController>& alert) {
  auto top = plat::UIApplication::sharedApplication()->topViewController();
  if (top && top->presentViewController(alert, true, nullptr)) return true;
  plat::NSLog("The page's dialog cannot be shown: no view controller can present it.");
  return false;
}

}  // namespace

std::optional<std::string> HBRJavaScriptPanelTitle() {
  const plat::Value& name = plat::NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleDisplayName");
  return name.isString() ? std::optional<std::string>(name.asString()) : std::nullopt;
}

void HBRRunJavaScriptAlertPanel(const std::optional<std::string>& title, const std::string& message,
                                std::function<void()> done) {
  auto alert = plat::UIAlertController::alertControllerWithTitle(title, message, plat::UIAlertControllerStyle::Alert);
  alert->addAction(button("OK", alert, [done] { done(); }));
  if (!present(alert)) done();
}

void HBRRunJavaScriptConfirmPanel(const std::optional<std::string>& title, const std::string& message,
                                  std::function<void(bool)> done) {
  auto alert = plat::UIAlertController::alertControllerWithTitle(title, message, plat::UIAlertControllerStyle::Alert);
  alert->addAction(button("OK", alert, [done] { done(true); }));
  alert->addAction(button("Cancel", alert, [done] { done(false); }));
  if (!present(alert)) done(false);
}

void HBRRunJavaScriptTextInputPanel(const std::optional<std::string>& title, const std::string& prompt,
                                    const std::string& defaultText,
                                    std::function<void(std::optional<std::string>)> done) {
  auto alert = plat::UIAlertController::alertControllerWithTitle(title, prompt, plat::UIAlertControllerStyle::Alert);
  alert->addTextFieldWithConfigurationHandler([defaultText](plat::UITextField& field) { field.setText(defaultText); });
  std::shared_ptr<plat::UITextField> field = alert->textFields().front();
  alert->addAction(button("OK", alert, [done, field] {
    // A text field's text is empty, never nothing.
    done(field->text().value_or(""));
  }));
  alert->addAction(button("Cancel", alert, [done] { done(std::nullopt); }));
  if (!present(alert)) done(std::nullopt);
}

}  // namespace harbor
