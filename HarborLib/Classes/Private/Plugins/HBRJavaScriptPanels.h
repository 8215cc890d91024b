#pragma once
// The page's own alert, confirm and prompt, shown as native alerts by both web view engines, so
// that whoever answers native alerts (the user, or the UI driver of tests and the runner) answers
// the page's dialogs too.
//
// Each panel is an alert controller titled with the given title and showing the page's text as
// its message. It is presented on the root view controller of the application window, or over
// whatever that one already presents, so a panel opened while another alert is on screen stands
// on top of it instead of being refused. Every button answers the page once, then dismisses the
// alert. When there is nowhere to show it the page gets the cancel answer at once (logged).
//
// Main thread only. The texts come from the page and are only shown.
#include <functional>
#include <optional>
#include <string>

namespace harbor {

// The application's display name ("CFBundleDisplayName"), the title the engines give panels.
std::optional<std::string> HBRJavaScriptPanelTitle();

// "OK"; done() once the alert is answered.
void HBRRunJavaScriptAlertPanel(const std::optional<std::string>& title, const std::string& message,
                                std::function<void()> done);
// "OK" (true) and "Cancel" (false).
void HBRRunJavaScriptConfirmPanel(const std::optional<std::string>& title, const std::string& message,
                                  std::function<void(bool)> done);
// A text field holding the default text; "OK" gives its text (empty, never nothing), "Cancel"
// gives nothing.
void HBRRunJavaScriptTextInputPanel(const std::optional<std::string>& title, const std::string& prompt,
                                    const std::string& defaultText,
                                    std::function<void(std::optional<std::string>)> done);

}  // namespace harbor
