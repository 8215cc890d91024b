#pragma once
// The legacy alert: shown on its own (no view controller), answered through its delegate with the
// index of the tapped button. Kept for callers that must also run where alert controllers do not
// exist. While on screen the UI driver holds it; afterwards it lives as long as its owners.
//
// Threads: main thread only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/Object.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UITextField.h"

namespace plat {

enum class UIAlertViewStyle { Default = 0, SecureTextInput = 1, PlainTextInput = 2, LoginAndPasswordInput = 3 };

class UIAlertView;

class UIAlertViewDelegate {
 public:
  virtual ~UIAlertViewDelegate() = default;
  virtual void alertViewClickedButtonAtIndex(UIAlertView& alertView, std::int64_t buttonIndex) {}
  virtual void alertViewDidDismissWithButtonIndex(UIAlertView& alertView, std::int64_t buttonIndex) {}
};

class UIAlertView : public Object, public UIDrivenAlert {
 public:
  // The cancel button, when given, is button 0 and the other buttons follow it.
  void initWithTitle(std::optional<std::string> title, std::optional<std::string> message,
                     std::weak_ptr<UIAlertViewDelegate> delegate, std::optional<std::string> cancelButtonTitle,
                     const std::vector<std::string>& otherButtonTitles);

  // The index of the new button.
  std::int64_t addButtonWithTitle(std::string title);
  std::int64_t numberOfButtons() const { return static_cast<std::int64_t>(buttons_.size()); }
  std::optional<std::string> buttonTitleAtIndex(std::int64_t index) const;
  std::int64_t cancelButtonIndex() const { return cancelButtonIndex_; }

  const std::optional<std::string>& title() const { return title_; }
  const std::optional<std::string>& message() const { return message_; }
  std::shared_ptr<UIAlertViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<UIAlertViewDelegate> delegate) { delegate_ = std::move(delegate); }

  // Setting a style makes its text fields (none, one, or login and password).
  UIAlertViewStyle alertViewStyle() const { return style_; }
  void setAlertViewStyle(UIAlertViewStyle style);
  // Null past the fields of the style (the platform's own call raises there).
  std::shared_ptr<UITextField> textFieldAtIndex(std::size_t index) const;

  // Puts the alert on screen; it stays there until a button is tapped or it is dismissed.
  void show();
  bool isVisible() const { return visible_; }
  // Takes it off screen as if the button had been tapped, without telling the delegate of a click.
  void dismissWithClickedButtonIndex(std::int64_t buttonIndex, bool animated);

  // UIDrivenAlert
  std::optional<std::string> alertTitle() const override { return title_; }
  std::optional<std::string> alertMessage() const override { return message_; }
  std::vector<std::string> buttonTitles() const override { return buttons_; }
  std::size_t textFieldCount() const override { return textFields_.size(); }
  std::optional<std::string> textFieldText(std::size_t index) const override;
  bool setTextFieldText(std::size_t index, std::optional<std::string> text) override;
  bool tapButton(std::size_t index) override;

 private:
  std::optional<std::string> title_;
  std::optional<std::string> message_;
  std::weak_ptr<UIAlertViewDelegate> delegate_;
  std::vector<std::string> buttons_;
  std::int64_t cancelButtonIndex_ = -1;
  UIAlertViewStyle style_ = UIAlertViewStyle::Default;
  std::vector<std::shared_ptr<UITextField>> textFields_;
  bool visible_ = false;
};

}  // namespace plat
