#include "HBRClipboard.h"

#include "plat/uikit/UIPasteboard.h"

namespace harbor {
namespace {

// The text a page value stands for: strings as they are, numbers and booleans as the page would
// print them; anything else is no text.
std::optional<std::string> textOf(const plat::Value& value) {
  if (value.isString()) return value.asString();
  if (value.isNumber()) return value.description();
  return std::nullopt;
}

plat::Value messageOf(const std::optional<std::string>& text) {
  return text ? plat::Value(*text) : plat::Value::null();
}

}  // namespace

HBRClipboard::HBRClipboard() {
  registerAction("copy", &HBRClipboard::copy);
  registerAction("paste", &HBRClipboard::paste);
}

void HBRClipboard::copy(const HBRInvokedUrlCommandPtr& command) {
  auto delegate = commandDelegate();
  if (!delegate) return;
  std::optional<std::string> text = textOf(command->argumentAtIndex(0));
  delegate->runInBackground([delegate, command, text] {
    // Storing nothing would leave the old text behind and claim it was copied; the page asked
    // for an empty clipboard, so the text goes.
    plat::UIPasteboard::generalPasteboard()->setValueForPasteboardType(text ? plat::Value(*text) : plat::Value(),
                                                                       kHBRClipboardPasteboardType);
    delegate->sendPluginResult(std::make_shared<HBRPluginResult>(HBRCommandStatus::OK, messageOf(text)),
                               command->callbackId());
  });
}

void HBRClipboard::paste(const HBRInvokedUrlCommandPtr& command) {
  auto delegate = commandDelegate();
  if (!delegate) return;
  delegate->runInBackground([delegate, command] {
    plat::Value value = plat::UIPasteboard::generalPasteboard()->valueForPasteboardType(kHBRClipboardPasteboardType);
    std::optional<std::string> text = value.isString() ? std::optional<std::string>(value.asString()) : std::nullopt;
    delegate->sendPluginResult(std::make_shared<HBRPluginResult>(HBRCommandStatus::OK, messageOf(text)),
                               command->callbackId());
  });
}

}  // namespace harbor
