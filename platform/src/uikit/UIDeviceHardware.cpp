// The device's real hardware facts: its battery and its identifier for the vendor.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/uikit/BatteryStatusSource.h"
#include "plat/uikit/UIDevice.h"

namespace plat {
namespace {

std::optional<std::string> readFirstLine(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

std::optional<double> readNumber(const std::string& path) {
  auto text = readFirstLine(path);
  if (!text || text->empty()) return std::nullopt;
  char* end = nullptr;
  double v = std::strtod(text->c_str(), &end);
  if (end == text->c_str() || *end != '\0') return std::nullopt;
  return v;
}

// The machine's identity as UUID text, upper-case like the platform's.
std::optional<std::string> machineIdentifier() {
  auto id = readFirstLine("/etc/machine-id");
  if (!id || id->size() != 32 ||
      !std::all_of(id->begin(), id->end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
    return std::nullopt;
  std::string hex;
  for (char c : *id) hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20);
}

std::shared_ptr<BatteryStatusSource> batterySourceSlot(std::shared_ptr<BatteryStatusSource>* replacement) {
  static std::mutex m;
  static auto* current = new std::shared_ptr<BatteryStatusSource>();
  std::lock_guard<std::mutex> lock(m);
  std::shared_ptr<BatteryStatusSource> previous = *current;
  if (replacement) *current = std::move(*replacement);
  if (!*current) *current = std::make_shared<PowerSupplyBatterySource>();
  return replacement ? previous : *current;
}

}  // namespace

UIDevice::UIDevice() : identifierForVendor_(machineIdentifier()) {}

UIDevice::~UIDevice() {
  if (batteryTimer_) RunLoop::main().cancelTimer(batteryTimer_);
}

std::optional<std::string> UIDevice::identifierForVendor() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return identifierForVendor_;
}

void UIDevice::setIdentifierForVendor(std::optional<std::string> identifier) {
  std::lock_guard<std::mutex> lock(mutex_);
  identifierForVendor_ = std::move(identifier);
}

bool UIDevice::isBatteryMonitoringEnabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return batteryMonitoring_;
}

void UIDevice::setBatteryMonitoringEnabled(bool enabled) {
  BatteryStatus status;
  if (enabled) status = batteryStatusSource()->batteryStatus();
  std::lock_guard<std::mutex> lock(mutex_);
  if (enabled == batteryMonitoring_) return;
  batteryMonitoring_ = enabled;
  batteryState_ = status.state;
  batteryLevel_ = status.level;
  if (enabled) {
    std::weak_ptr<UIDevice> weak = weakSelf<UIDevice>();
    batteryTimer_ = RunLoop::main().scheduleTimer(
        kBatteryPollInterval,
        [weak] {
          if (auto self = weak.lock()) self->updateBatteryStatus();
        },
        kBatteryPollInterval);
  } else {
    RunLoop::main().cancelTimer(batteryTimer_);
    batteryTimer_ = 0;
  }
}

UIDeviceBatteryState UIDevice::batteryState() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return batteryState_;
}

float UIDevice::batteryLevel() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return batteryLevel_;
}

void UIDevice::updateBatteryStatus() {
  if (!isBatteryMonitoringEnabled()) return;
  BatteryStatus status = batteryStatusSource()->batteryStatus();
  bool stateChanged, levelChanged;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!batteryMonitoring_) return;
    stateChanged = status.state != batteryState_;
    levelChanged = status.level != batteryLevel_;
    batteryState_ = status.state;
    batteryLevel_ = status.level;
  }
  auto& center = NSNotificationCenter::defaultCenter();
  if (stateChanged) center.post(UIDeviceBatteryStateDidChangeNotification, shared_from_this());
  if (levelChanged) center.post(UIDeviceBatteryLevelDidChangeNotification, shared_from_this());
}

std::shared_ptr<BatteryStatusSource> batteryStatusSource() { return batterySourceSlot(nullptr); }

std::shared_ptr<BatteryStatusSource> setBatteryStatusSource(std::shared_ptr<BatteryStatusSource> source) {
  auto previous = batterySourceSlot(&source);
  batteryStatusDidChange();
  return previous;
}

void batteryStatusDidChange() {
  dispatch::mainAsync([] { UIDevice::currentDevice()->updateBatteryStatus(); });
}

PowerSupplyBatterySource::PowerSupplyBatterySource(std::string root) : root_(std::move(root)) {
  if (root_.empty() || root_.back() != '/') root_ += '/';
}

BatteryStatus PowerSupplyBatterySource::batteryStatus() {
  namespace fs = std::filesystem;
  std::vector<std::string> supplies;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root_ + "sys/class/power_supply", ec))
    supplies.push_back(entry.path().string());
  std::sort(supplies.begin(), supplies.end());

  for (const auto& dir : supplies) {
    if (readFirstLine(dir + "/type") != "Battery") continue;
    if (auto present = readNumber(dir + "/present"); present && *present == 0) continue;

    BatteryStatus status;
    auto text = readFirstLine(dir + "/status").value_or("");
    if (text == "Charging")
      status.state = UIDeviceBatteryState::Charging;
    else if (text == "Full" || text == "Not charging")
      status.state = UIDeviceBatteryState::Full;
    else if (text == "Discharging")
      status.state = UIDeviceBatteryState::Unplugged;

    std::optional<double> fraction;
    if (auto capacity = readNumber(dir + "/capacity")) {
      fraction = *capacity / 100.0;
    } else {
      for (const char* kind : {"energy", "charge"}) {
        auto now = readNumber(dir + "/" + kind + "_now");
        auto full = readNumber(dir + "/" + kind + "_full");
        if (now && full && *full > 0) {
          fraction = *now / *full;
          break;
        }
      }
    }
    if (fraction && std::isfinite(*fraction)) status.level = static_cast<float>(std::clamp(*fraction, 0.0, 1.0));
    return status;
  }
  return BatteryStatus{};
}

void SimulatedBattery::setStatus(UIDeviceBatteryState state, float level) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = BatteryStatus{state, level};
  }
  batteryStatusDidChange();
}

BatteryStatus SimulatedBattery::batteryStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

}  // namespace plat
