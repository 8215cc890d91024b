#pragma once
// Alerts and action sheets: a title, a message, buttons (actions with a style and a handler) and,
// for alerts, text fields. An alert controller is a view controller: it is shown by presenting it
// over another one, and the user's tap (through the UI driver) dismisses it and then runs the
// action's handler.
//
// Threads: main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UITextField.h"
#include "plat/uikit/UIViewController.h"

namespace plat {

enum class UIAlertControllerStyle { ActionSheet = 0, Alert = 1 };
enum class UIAlertActionStyle { Default = 0, Cancel = 1, Destructive = 2 };

class UIAlertAction : public Object {
 public:
  using Handler = std::function<void(UIAlertAction& action)>;

  static std::shared_ptr<UIAlertAction> actionWithTitle(std::optional<std::string> title, UIAlertActionStyle style,
                                                        Handler handler);

  const std::optional<std::string>& title() const { return title_; }
  UIAlertActionStyle style() const { return style_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  const Handler& handler() const { return handler_; }

 private:
  std::optional<std::string> title_;
  UIAlertActionStyle style_ = UIAlertActionStyle::Default;
  Handler handler_;
  bool enabled_ = true;
};

class UIAlertController : public UIViewController, public UIDrivenAlert {
 public:
  using TextFieldConfiguration = std::function<void(UITextField& textField)>;

  // Whether the system has alert controllers: always, here. Tests switch them off to stand in for
  // the older systems on which callers fall back to alert views.
  static bool isAvailable();
  static void setAvailable(bool available);

  static std::shared_ptr<UIAlertController> alertControllerWithTitle(std::optional<std::string> title,
                                                                     std::optional<std::string> message,
                                                                     UIAlertControllerStyle preferredStyle);

  // At most one action of the cancel style; a second one is refused with a log line.
  void addAction(const std::shared_ptr<UIAlertAction>& action);
  const std::vector<std::shared_ptr<UIAlertAction>>& actions() const { return actions_; }
  // Alerts only; refused with a log line for action sheets.
  void addTextFieldWithConfigurationHandler(const TextFieldConfiguration& configuration);
  const std::vector<std::shared_ptr<UITextField>>& textFields() const { return textFields_; }

  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> message) { message_ = std::move(message); }
  UIAlertControllerStyle preferredStyle() const { return preferredStyle_; }

  // UIDrivenAlert
  std::optional<std::string> alertTitle() const override { return title_; }
  std::optional<std::string> alertMessage() const override { return message_; }
  std::vector<std::string> buttonTitles() const override;
  std::size_t textFieldCount() const override { return textFields_.size(); }
  std::optional<std::string> textFieldText(std::size_t index) const override;
  bool setTextFieldText(std::size_t index, std::optional<std::string> text) override;
  // Refused for a disabled action, while something is presented over it, and once the alert has
  // been answered.
  bool tapButton(std::size_t index) override;
  bool isCovered() const override { return presentedViewController() != nullptr; }

 protected:
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

 private:
  std::optional<std::string> title_;
  std::optional<std::string> message_;
  UIAlertControllerStyle preferredStyle_ = UIAlertControllerStyle::Alert;
  std::vector<std::shared_ptr<UIAlertAction>> actions_;
  std::vector<std::shared_ptr<UITextField>> textFields_;
  bool answered_ = false;
};

}  // namespace plat
