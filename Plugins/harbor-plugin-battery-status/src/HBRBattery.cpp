#include "HBRBattery.h"

#include <charconv>
#include <cstdlib>

#include "plat/uikit/UIDevice.h"

namespace harbor {
namespace {

// A single-precision number as the page should read it: its shortest decimal form ("57", not
// the 56.99999618530273 its double widening would print).
plat::Value singlePrecision(float value) {
  char text[32];
  auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
  *end = '\0';
  return std::strtod(text, nullptr);
}

}  // namespace

HBRBattery::HBRBattery() {
  registerAction("start", &HBRBattery::start);
  registerAction("stop", &HBRBattery::stop);
}

HBRBattery::~HBRBattery() { stop(nullptr); }

void HBRBattery::pluginInitialize() {
  state_ = 0;
  level_ = -1.0f;
}

void HBRBattery::onReset() { stop(nullptr); }

void HBRBattery::start(const HBRInvokedUrlCommandPtr& command) {
  callbackId_ = command->callbackId();
  if (observing_) return;
  plat::UIDevice::currentDevice()->setBatteryMonitoringEnabled(true);
  auto& center = plat::NSNotificationCenter::defaultCenter();
  std::weak_ptr<HBRBattery> weak = weakSelf<HBRBattery>();
  auto update = [weak](const plat::NSNotification& n) {
    if (auto self = weak.lock()) self->updateBatteryStatus(n);
  };
  center.addObserver(shared_from_this(), plat::UIDeviceBatteryStateDidChangeNotification, nullptr, update);
  center.addObserver(shared_from_this(), plat::UIDeviceBatteryLevelDidChangeNotification, nullptr, update);
  observing_ = true;
}

void HBRBattery::updateBatteryStatus(const plat::NSNotification& notification) {
  plat::Dictionary status = getBatteryStatus();
  if (!callbackId_) return;
  auto delegate = commandDelegate();
  if (!delegate) return;
  auto result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(status));
  result->setKeepCallbackAsBool(true);
  delegate->sendPluginResult(result, callbackId_);
}

void HBRBattery::stop(const HBRInvokedUrlCommandPtr& command) {
  if (callbackId_) {
    if (auto delegate = commandDelegate()) {
      auto result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, getBatteryStatus());
      result->setKeepCallbackAsBool(false);
      delegate->sendPluginResult(result, callbackId_);
    }
  }
  callbackId_.reset();
  if (!observing_) return;
  plat::UIDevice::currentDevice()->setBatteryMonitoringEnabled(false);
  auto& center = plat::NSNotificationCenter::defaultCenter();
  const void* key = static_cast<const plat::Object*>(this);
  center.removeObserver(key, plat::UIDeviceBatteryStateDidChangeNotification);
  center.removeObserver(key, plat::UIDeviceBatteryLevelDidChangeNotification);
  observing_ = false;
}

plat::Dictionary HBRBattery::getBatteryStatus() {
  auto device = plat::UIDevice::currentDevice();
  auto state = static_cast<std::int64_t>(device->batteryState());
  float level = device->batteryLevel();
  isPlugged_ = state == static_cast<std::int64_t>(plat::UIDeviceBatteryState::Charging) ||
               state == static_cast<std::int64_t>(plat::UIDeviceBatteryState::Full);
  if (level != level_ || state != state_) {
    level_ = level;
    state_ = state;
  }
  plat::Dictionary status;
  status.set("isPlugged", isPlugged_);
  status.set("level", state_ == 0 || level_ == -1.0f ? plat::Value::null() : singlePrecision(level_ * 100.0f));
  return status;
}

}  // namespace harbor
