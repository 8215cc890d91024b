#include "plat/uikit/UIPasteboard.h"

#include <algorithm>

namespace plat {

std::shared_ptr<UIPasteboard> UIPasteboard::generalPasteboard() {
  static auto* general = new std::shared_ptr<UIPasteboard>(std::make_shared<UIPasteboard>());
  return *general;
}

void UIPasteboard::resetGeneralPasteboard() { generalPasteboard()->setItems({}); }

std::vector<Dictionary> UIPasteboard::items() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_;
}

void UIPasteboard::setItems(std::vector<Dictionary> items) {
  std::lock_guard<std::mutex> lock(mutex_);
  items_ = std::move(items);
  changed();
}

std::size_t UIPasteboard::numberOfItems() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_.size();
}

std::int64_t UIPasteboard::changeCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return changeCount_;
}

Value UIPasteboard::valueForPasteboardType(std::string_view type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& item : items_)
    if (const Value* v = item.find(type)) return *v;
  return Value();
}

void UIPasteboard::setValueForPasteboardType(const Value& value, const std::string& type) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (value.isNil()) {
    std::erase_if(items_, [&](const Dictionary& item) { return item.contains(type); });
  } else {
    items_.clear();
    items_.push_back(Dictionary{{type, value}});
  }
  changed();
}

std::optional<std::string> UIPasteboard::string() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& item : items_)
    for (const char* type : {kUTTypeUTF8PlainText, kUTTypeText, kUTTypePlainText})
      if (const Value* v = item.find(type); v && v->isString()) return v->asString();
  return std::nullopt;
}

void UIPasteboard::setString(const std::optional<std::string>& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  items_.clear();
  if (text) items_.push_back(Dictionary{{kUTTypeUTF8PlainText, *text}});
  changed();
}

}  // namespace plat
