#include "support/EchoPlugin.h"

#include <algorithm>

namespace harbor::testing {
namespace {

HBRPluginResultPtr echoResult(const plat::Value& value) {
  if (value.isData()) return HBRPluginResult::resultWithStatusMessageAsArrayBuffer(HBRCommandStatus::OK, value.asData());
  return std::make_shared<HBRPluginResult>(HBRCommandStatus::OK, value);
}

}  // namespace

void EchoPlugin::pluginInitialize() {
  registerAction("echo", [this](const HBRInvokedUrlCommandPtr& command) {
    remember(command);
    send(echoResult(command->argumentAtIndex(0)), command);
  });
  registerAction("echoMultiPart", [this](const HBRInvokedUrlCommandPtr& command) {
    remember(command);
    send(HBRPluginResult::resultWithStatusMessageAsMultipart(HBRCommandStatus::OK, command->arguments()), command);
  });
  registerAction("respond", [this](const HBRInvokedUrlCommandPtr& command) {
    remember(command);
    auto status = static_cast<HBRCommandStatus>(command->argumentAtIndex(0, plat::Value(1)).asInt());
    auto result = std::make_shared<HBRPluginResult>(status, command->argumentAtIndex(1));
    result->setKeepCallbackAsBool(command->argumentAtIndex(2, plat::Value(false)).asBool());
    send(result, command);
  });
  registerAction("stream", [this](const HBRInvokedUrlCommandPtr& command) {
    remember(command);
    // Bounded: fuzzed input may ask for any count.
    std::int64_t count = std::min<std::int64_t>(command->argumentAtIndex(0, plat::Value(0)).asInt(), kMaxStream);
    for (std::int64_t i = 0; i < count; ++i) {
      auto part = HBRPluginResult::resultWithStatusMessageAsNSInteger(HBRCommandStatus::OK, i);
      part->setKeepCallbackAsBool(true);
      send(part, command);
    }
    send(HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::OK, "done"), command);
  });
  registerAction("echoInBackground", [this](const HBRInvokedUrlCommandPtr& command) {
    remember(command);
    auto delegate = commandDelegate();
    if (!delegate) return;
    std::weak_ptr<EchoPlugin> weak = weakSelf<EchoPlugin>();
    delegate->runInBackground([weak, command] {
      if (auto self = weak.lock()) self->send(echoResult(command->argumentAtIndex(0)), command);
    });
  });
  registerAction("evalJs", [this](const HBRInvokedUrlCommandPtr& command) {
    remember(command);
    if (auto delegate = commandDelegate()) delegate->evalJs(command->argumentAtIndex(0, plat::Value("")).stringOr());
  });
  registerAction("record", [this](const HBRInvokedUrlCommandPtr& command) { remember(command); });
}

void EchoPlugin::remember(const HBRInvokedUrlCommandPtr& command) {
  if (!recording_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  commands_.push_back(command);
}

void EchoPlugin::send(const HBRPluginResultPtr& result, const HBRInvokedUrlCommandPtr& command) {
  if (recording_) {
    std::lock_guard<std::mutex> lock(mutex_);
    sendThreads_.push_back(std::this_thread::get_id());
  }
  if (auto delegate = commandDelegate()) delegate->sendPluginResult(result, command->callbackId());
}

std::vector<HBRInvokedUrlCommandPtr> EchoPlugin::commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

std::vector<std::thread::id> EchoPlugin::sendThreads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sendThreads_;
}

void EchoPlugin::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  commands_.clear();
  sendThreads_.clear();
}

}  // namespace harbor::testing
