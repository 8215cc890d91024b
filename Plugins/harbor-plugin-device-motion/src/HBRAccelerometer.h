#pragma once
// The device's acceleration, streamed to one page callback while the page watches.
//
// Page actions (main thread):
//   start [] -> OK {"x", "y", "z": m/s² (g × -9.81), "timestamp": ms since 1970}, keep-callback
//               on, one per sample; a later start takes the stream over. Without an
//               accelerometer: InvalidAction (7) "Error. Accelerometer Not Available."
//   stop  [] -> nothing of its own; when no reading went out since the last start, the start
//               callback gets the current one (zeros before any sample), keep-callback still on
// A new page (reset) and the plugin's end stop the stream the same way.
#include <memory>
#include <optional>
#include <string>

#include "HBRPlugin.h"
#include "plat/coremotion/CMMotionManager.h"

namespace harbor {

class HBRAccelerometer : public HBRPlugin {
 public:
  // Standard gravity: the page reads m/s², pointing the way the web's device-motion events do.
  static constexpr double kGravity = 9.81;

  HBRAccelerometer();
  ~HBRAccelerometer() override;

  void onReset() override;

  void start(const HBRInvokedUrlCommandPtr& command);
  // With or without a command (reset and teardown have none).
  void stop(const HBRInvokedUrlCommandPtr& command);
  // Sends the stored reading to the start callback and notes that one went out.
  void returnAccelInfo();

  double x() const { return x_; }
  double y() const { return y_; }
  double z() const { return z_; }
  double timestamp() const { return timestamp_; }
  bool isRunning() const { return isRunning_; }
  bool haveReturnedResult() const { return haveReturnedResult_; }
  const std::optional<std::string>& callbackId() const { return callbackId_; }
  const std::shared_ptr<plat::CMMotionManager>& motionManager() const { return motionManager_; }

 private:
  double x_ = 0;
  double y_ = 0;
  double z_ = 0;
  double timestamp_ = 0;
  bool isRunning_ = false;
  bool haveReturnedResult_ = true;
  std::optional<std::string> callbackId_;
  std::shared_ptr<plat::CMMotionManager> motionManager_;
};

}  // namespace harbor
