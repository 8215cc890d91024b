#pragma once
// Where the device's battery state and level come from: the kernel's power-supply class by
// default, or a simulated battery set by tests and the runner. One source is in force at a time.
#include <memory>
#include <mutex>
#include <string>

#include "plat/uikit/UIDevice.h"

namespace plat {

struct BatteryStatus {
  UIDeviceBatteryState state = UIDeviceBatteryState::Unknown;
  float level = -1.0f;  // 0.0 to 1.0, or -1.0 when unknown
  bool operator==(const BatteryStatus&) const = default;
};

// Monitoring devices poll the source this often; a source that knows when it changed calls
// batteryStatusDidChange() so they look at once.
inline constexpr double kBatteryPollInterval = 5.0;

class BatteryStatusSource {
 public:
  virtual ~BatteryStatusSource() = default;
  virtual BatteryStatus batteryStatus() = 0;
};

// The source in force (the kernel's unless replaced).
std::shared_ptr<BatteryStatusSource> batteryStatusSource();
// Replaces the source (null restores the kernel's) and announces a change. Returns the previous.
std::shared_ptr<BatteryStatusSource> setBatteryStatusSource(std::shared_ptr<BatteryStatusSource> source);
// Any thread. The current device re-reads its battery on the main run loop, on a later turn.
void batteryStatusDidChange();

// The first battery (by name) under <root>/sys/class/power_supply whose "type" is "Battery" and
// which is present. Its "status" gives the state: "Charging", "Full", "Discharging" (unplugged),
// "Not charging" (plugged in and held, counted as full); anything else is unknown. Its level is
// "capacity" percent, else energy_now/energy_full or charge_now/charge_full. No battery: unknown
// and -1.0, as on a simulator.
class PowerSupplyBatterySource : public BatteryStatusSource {
 public:
  explicit PowerSupplyBatterySource(std::string root = "/");
  BatteryStatus batteryStatus() override;

 private:
  std::string root_;
};

// A battery that is what it is told; it starts unknown. Every change is announced.
class SimulatedBattery : public BatteryStatusSource {
 public:
  void setStatus(UIDeviceBatteryState state, float level);
  BatteryStatus batteryStatus() override;

 private:
  std::mutex mutex_;
  BatteryStatus status_;
};

}  // namespace plat
