#pragma once
// The battery's level and whether it is plugged in, pushed to the page on every change while the
// page watches.
//
// Page actions (main thread):
//   start [] -> nothing at once; each later battery change sends OK with
//               {"isPlugged": bool, "level": 0-100 or null} and keep-callback on
//   stop  [] -> one last status, keep-callback off, to the start callback (none to stop's own);
//               then watching ends
// A new page (reset) and the plugin's end stop the watch the same way.
#include <cstdint>
#include <optional>
#include <string>

#include "HBRPlugin.h"

namespace harbor {

class HBRBattery : public HBRPlugin {
 public:
  HBRBattery();
  ~HBRBattery() override;

  void pluginInitialize() override;
  void onReset() override;

  void start(const HBRInvokedUrlCommandPtr& command);
  // With or without a command (reset and teardown have none).
  void stop(const HBRInvokedUrlCommandPtr& command);
  void updateBatteryStatus(const plat::NSNotification& notification);
  plat::Dictionary getBatteryStatus();

  const std::optional<std::string>& callbackId() const { return callbackId_; }

 private:
  std::int64_t state_ = 0;
  float level_ = -1.0f;
  bool isPlugged_ = false;
  std::optional<std::string> callbackId_;
  // Whether this plugin observes the battery notifications. Its own: the device-wide monitoring
  // switch may have been turned on by someone else.
  bool observing_ = false;
};

}  // namespace harbor
