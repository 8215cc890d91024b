#pragma once
// A view that shows a line of text. Nothing is drawn; the text and its look are kept.
#include <memory>
#include <optional>
#include <string>

#include "plat/uikit/UIView.h"

namespace plat {

enum NSTextAlignment : long { NSTextAlignmentLeft = 0, NSTextAlignmentCenter = 1, NSTextAlignmentRight = 2 };

class UILabel : public UIView {
 public:
  const std::optional<std::string>& text() const { return text_; }
  void setText(std::optional<std::string> text) { text_ = std::move(text); }
  UIColor textColor() const { return textColor_; }
  void setTextColor(UIColor color) { textColor_ = color; }
  long textAlignment() const { return textAlignment_; }
  void setTextAlignment(long alignment) { textAlignment_ = alignment; }
  // Static text unless told otherwise.
  UIAccessibilityTraits accessibilityTraits() const override {
    return accessibilityTraits_.value_or(UIAccessibilityTraitStaticText);
  }

 private:
  std::optional<std::string> text_;
  UIColor textColor_ = UIColor::blackColor();
  long textAlignment_ = NSTextAlignmentLeft;
};
using UILabelPtr = std::shared_ptr<UILabel>;

}  // namespace plat
