#pragma once
// A one-line text field, as far as alerts use one: its text (which may be nothing at all, as
// opposed to empty), placeholder and whether it hides what is typed.
#include <optional>
#include <string>

#include "plat/foundation/Object.h"

namespace plat {

class UITextField : public Object {
 public:
  const std::optional<std::string>& text() const { return text_; }
  void setText(std::optional<std::string> text) { text_ = std::move(text); }
  const std::optional<std::string>& placeholder() const { return placeholder_; }
  void setPlaceholder(std::optional<std::string> placeholder) { placeholder_ = std::move(placeholder); }
  bool isSecureTextEntry() const { return secureTextEntry_; }
  void setSecureTextEntry(bool secure) { secureTextEntry_ = secure; }

 private:
  std::optional<std::string> text_;
  std::optional<std::string> placeholder_;
  bool secureTextEntry_ = false;
};

}  // namespace plat
