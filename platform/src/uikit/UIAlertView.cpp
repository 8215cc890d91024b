#include "plat/uikit/UIAlertView.h"

namespace plat {

void UIAlertView::initWithTitle(std::optional<std::string> title, std::optional<std::string> message,
                                std::weak_ptr<UIAlertViewDelegate> delegate,
                                std::optional<std::string> cancelButtonTitle,
                                const std::vector<std::string>& otherButtonTitles) {
  title_ = std::move(title);
  message_ = std::move(message);
  delegate_ = std::move(delegate);
  if (cancelButtonTitle) cancelButtonIndex_ = addButtonWithTitle(*cancelButtonTitle);
  for (const auto& t : otherButtonTitles) addButtonWithTitle(t);
}

std::int64_t UIAlertView::addButtonWithTitle(std::string title) {
  buttons_.push_back(std::move(title));
  return numberOfButtons() - 1;
}

std::optional<std::string> UIAlertView::buttonTitleAtIndex(std::int64_t index) const {
  if (index < 0 || index >= numberOfButtons()) return std::nullopt;
  return buttons_[static_cast<std::size_t>(index)];
}

void UIAlertView::setAlertViewStyle(UIAlertViewStyle style) {
  style_ = style;
  std::size_t fields = 0;
  switch (style) {
    case UIAlertViewStyle::Default:
      fields = 0;
      break;
    case UIAlertViewStyle::SecureTextInput:
    case UIAlertViewStyle::PlainTextInput:
      fields = 1;
      break;
    case UIAlertViewStyle::LoginAndPasswordInput:
      fields = 2;
      break;
  }
  textFields_.clear();
  for (std::size_t i = 0; i < fields; ++i) {
    auto field = std::make_shared<UITextField>();
    bool secret =
        style == UIAlertViewStyle::SecureTextInput || (style == UIAlertViewStyle::LoginAndPasswordInput && i == 1);
    field->setSecureTextEntry(secret);
    textFields_.push_back(std::move(field));
  }
}

std::shared_ptr<UITextField> UIAlertView::textFieldAtIndex(std::size_t index) const {
  return index < textFields_.size() ? textFields_[index] : nullptr;
}

void UIAlertView::show() {
  if (visible_) return;
  visible_ = true;
  UIDriver::shared().alertDidAppear(std::static_pointer_cast<UIDrivenAlert>(self<UIAlertView>()));
}

void UIAlertView::dismissWithClickedButtonIndex(std::int64_t buttonIndex, bool animated) {
  if (!visible_) return;
  auto keep = self<UIAlertView>();  // the driver may hold the last reference
  visible_ = false;
  UIDriver::shared().alertDidDisappear(this);
  if (auto d = delegate()) d->alertViewDidDismissWithButtonIndex(*this, buttonIndex);
}

std::optional<std::string> UIAlertView::textFieldText(std::size_t index) const {
  return index < textFields_.size() ? textFields_[index]->text() : std::nullopt;
}

bool UIAlertView::setTextFieldText(std::size_t index, std::optional<std::string> text) {
  if (index >= textFields_.size()) return false;
  textFields_[index]->setText(std::move(text));
  return true;
}

bool UIAlertView::tapButton(std::size_t index) {
  if (!visible_ || index >= buttons_.size()) return false;
  auto keep = self<UIAlertView>();
  auto i = static_cast<std::int64_t>(index);
  if (auto d = delegate()) d->alertViewClickedButtonAtIndex(*this, i);
  dismissWithClickedButtonIndex(i, true);
  return true;
}

}  // namespace plat
