#include "plat/uikit/UIPasteboard.h"

#include <algorithm>

#include "plat/dispatch/Queues.h"

namespace plat {
namespace {

std::mutex& clipboardMutex() {
  static std::mutex mutex;
  return mutex;
}
std::optional<UIPasteboard::SystemClipboard>& systemClipboard() {
  static std::optional<UIPasteboard::SystemClipboard> clipboard;
  return clipboard;
}
// The text the general pasteboard last saw on the system clipboard (its own, or one taken).
std::optional<std::string>& lastSystemText() {
  static std::optional<std::string> text;
  return text;
}

std::optional<std::string> textOf(const std::vector<Dictionary>& items) {
  for (const auto& item : items)
    for (const char* type : {kUTTypeUTF8PlainText, kUTTypeText, kUTTypePlainText})
      if (const Value* v = item.find(type); v && v->isString()) return v->asString();
  return std::nullopt;
}

}  // namespace

void UIPasteboard::setSystemClipboard(std::optional<SystemClipboard> clipboard) {
  std::lock_guard<std::mutex> lock(clipboardMutex());
  systemClipboard() = std::move(clipboard);
  lastSystemText().reset();
}

void UIPasteboard::takeSystemText() const {
  std::optional<SystemClipboard> clipboard;
  {
    std::lock_guard<std::mutex> lock(clipboardMutex());
    clipboard = systemClipboard();
  }
  if (!clipboard || this != generalPasteboard().get()) return;
  std::optional<std::string> text;
  dispatch::mainSync([&] { text = clipboard->readText(); });
  std::lock_guard<std::mutex> lock(clipboardMutex());
  if (text.value_or("") == lastSystemText().value_or("")) return;
  lastSystemText() = text;
  std::lock_guard<std::mutex> items(mutex_);
  items_.clear();
  if (text) items_.push_back(Dictionary{{kUTTypeUTF8PlainText, *text}});
  changed();
}

void UIPasteboard::giveSystemText() {
  std::optional<SystemClipboard> clipboard;
  {
    std::lock_guard<std::mutex> lock(clipboardMutex());
    clipboard = systemClipboard();
  }
  if (!clipboard || this != generalPasteboard().get()) return;
  std::optional<std::string> text;
  {
    std::lock_guard<std::mutex> items(mutex_);
    text = textOf(items_);
  }
  // Nothing to hold is an empty text there: a clipboard may be taken but not emptied.
  {
    std::lock_guard<std::mutex> lock(clipboardMutex());
    lastSystemText() = text.value_or("");
  }
  dispatch::mainSync([&] { clipboard->writeText(text.value_or("")); });
}

std::shared_ptr<UIPasteboard> UIPasteboard::generalPasteboard() {
  static auto* general = new std::shared_ptr<UIPasteboard>(std::make_shared<UIPasteboard>());
  return *general;
}

void UIPasteboard::resetGeneralPasteboard() { generalPasteboard()->setItems({}); }

std::vector<Dictionary> UIPasteboard::items() const {
  takeSystemText();
  std::lock_guard<std::mutex> lock(mutex_);
  return items_;
}

void UIPasteboard::setItems(std::vector<Dictionary> items) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    items_ = std::move(items);
    changed();
  }
  giveSystemText();
}

std::size_t UIPasteboard::numberOfItems() const {
  takeSystemText();
  std::lock_guard<std::mutex> lock(mutex_);
  return items_.size();
}

std::int64_t UIPasteboard::changeCount() const {
  takeSystemText();
  std::lock_guard<std::mutex> lock(mutex_);
  return changeCount_;
}

Value UIPasteboard::valueForPasteboardType(std::string_view type) const {
  takeSystemText();
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& item : items_)
    if (const Value* v = item.find(type)) return *v;
  return Value();
}

void UIPasteboard::setValueForPasteboardType(const Value& value, const std::string& type) {
  takeSystemText();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (value.isNil()) {
      std::erase_if(items_, [&](const Dictionary& item) { return item.contains(type); });
    } else {
      items_.clear();
      items_.push_back(Dictionary{{type, value}});
    }
    changed();
  }
  giveSystemText();
}

std::optional<std::string> UIPasteboard::string() const {
  takeSystemText();
  std::lock_guard<std::mutex> lock(mutex_);
  return textOf(items_);
}

void UIPasteboard::setString(const std::optional<std::string>& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.clear();
    if (text) items_.push_back(Dictionary{{kUTTypeUTF8PlainText, *text}});
    changed();
  }
  giveSystemText();
}

}  // namespace plat
