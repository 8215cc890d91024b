#pragma once
// Facts about the device the application runs on. On this platform they are simulated: the
// runner and tests set them, and they start as an "iPhone" running "iOS" "9.3" with
// multitasking. Any thread.
//
// The battery is real where the machine has one: while battery monitoring is on, state and level
// come from the battery status source (BatteryStatusSource.h), and their changes are posted as
// UIDeviceBatteryStateDidChangeNotification and UIDeviceBatteryLevelDidChangeNotification (object:
// the device) on the main thread. While monitoring is off they read unknown and -1.0.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Object.h"

namespace plat {

enum class UIDeviceBatteryState : std::int64_t { Unknown = 0, Unplugged = 1, Charging = 2, Full = 3 };

inline constexpr char UIDeviceBatteryStateDidChangeNotification[] = "UIDeviceBatteryStateDidChangeNotification";
inline constexpr char UIDeviceBatteryLevelDidChangeNotification[] = "UIDeviceBatteryLevelDidChangeNotification";

enum UIUserInterfaceIdiom : long { UIUserInterfaceIdiomPhone = 0, UIUserInterfaceIdiomPad = 1 };

enum UIDeviceOrientation : long {
  UIDeviceOrientationUnknown = 0,
  UIDeviceOrientationPortrait = 1,
  UIDeviceOrientationPortraitUpsideDown = 2,
  UIDeviceOrientationLandscapeLeft = 3,
  UIDeviceOrientationLandscapeRight = 4,
  UIDeviceOrientationFaceUp = 5,
  UIDeviceOrientationFaceDown = 6,
};

class UIDevice;
using UIDevicePtr = std::shared_ptr<UIDevice>;

class UIDevice : public Object {
 public:
  static UIDevicePtr currentDevice();
  // Tests: a fresh device with the starting facts.
  static void resetCurrentDevice();

  std::string model() const;
  std::string systemName() const;
  std::string systemVersion() const;
  bool isMultitaskingSupported() const;
  // Phone unless the runner or a test says pad.
  UIUserInterfaceIdiom userInterfaceIdiom() const;
  // How the device is held; portrait until turned.
  UIDeviceOrientation orientation() const;

  // Runner and tests.
  void setModel(std::string model);
  void setSystemName(std::string name);
  void setSystemVersion(std::string version);
  void setMultitaskingSupported(bool supported);
  void setUserInterfaceIdiom(UIUserInterfaceIdiom idiom);
  void setOrientation(UIDeviceOrientation orientation);

  // Battery. Switching monitoring on and off is a main-thread matter; the readers answer anywhere.
  bool isBatteryMonitoringEnabled() const;
  void setBatteryMonitoringEnabled(bool enabled);
  UIDeviceBatteryState batteryState() const;
  // 0.0 to 1.0, or -1.0 when unknown.
  float batteryLevel() const;
  // Main thread: reads the source now and posts what changed (monitoring only).
  void updateBatteryStatus();

  // The identifier shared by the applications of one vendor on this device, as UUID text: made
  // from the machine's /etc/machine-id, nothing when there is none (as on a device not yet
  // unlocked). The runner and tests may set it, or take it away.
  std::optional<std::string> identifierForVendor() const;
  void setIdentifierForVendor(std::optional<std::string> identifier);

  UIDevice();
  ~UIDevice() override;

 private:
  mutable std::mutex mutex_;
  std::string model_ = "iPhone";
  std::string systemName_ = "iOS";
  std::string systemVersion_ = "9.3";
  bool multitasking_ = true;
  UIUserInterfaceIdiom idiom_ = UIUserInterfaceIdiomPhone;
  UIDeviceOrientation orientation_ = UIDeviceOrientationPortrait;

  bool batteryMonitoring_ = false;
  UIDeviceBatteryState batteryState_ = UIDeviceBatteryState::Unknown;
  float batteryLevel_ = -1.0f;
  RunLoop::TimerId batteryTimer_ = 0;
  std::optional<std::string> identifierForVendor_;
};

}  // namespace plat
