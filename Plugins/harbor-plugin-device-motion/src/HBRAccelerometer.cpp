#include "HBRAccelerometer.h"

#include "plat/foundation/Clock.h"
#include "plat/foundation/Log.h"

namespace harbor {

HBRAccelerometer::HBRAccelerometer() {
  registerAction("start", &HBRAccelerometer::start);
  registerAction("stop", &HBRAccelerometer::stop);
}

HBRAccelerometer::~HBRAccelerometer() { stop(nullptr); }

void HBRAccelerometer::onReset() { stop(nullptr); }

void HBRAccelerometer::start(const HBRInvokedUrlCommandPtr& command) {
  haveReturnedResult_ = false;
  callbackId_ = command->callbackId();
  if (!motionManager_) motionManager_ = std::make_shared<plat::CMMotionManager>();

  if (!motionManager_->isAccelerometerAvailable()) {
    plat::NSLog("Running in Simulator? All gyro tests will fail.");
    if (auto delegate = commandDelegate()) {
      delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsString(
                                     HBRCommandStatus::InvalidAction, "Error. Accelerometer Not Available."),
                                 callbackId_);
    }
    return;
  }

  motionManager_->setAccelerometerUpdateInterval(0);
  std::weak_ptr<HBRAccelerometer> weak = weakSelf<HBRAccelerometer>();
  motionManager_->startAccelerometerUpdatesToMainQueue(
      [weak](const std::optional<plat::CMAccelerometerData>& data, const std::optional<plat::NSError>&) {
        auto self = weak.lock();
        if (!self || !data) return;
        self->x_ = data->acceleration.x;
        self->y_ = data->acceleration.y;
        self->z_ = data->acceleration.z;
        // Wall-clock time at arrival, as the page's own Date would give it.
        self->timestamp_ = (plat::now() + plat::kReferenceDateOffset) * 1000.0;
        self->returnAccelInfo();
      });
  isRunning_ = true;
}

void HBRAccelerometer::stop(const HBRInvokedUrlCommandPtr& command) {
  if (motionManager_ && motionManager_->isAccelerometerAvailable()) {
    if (!haveReturnedResult_) returnAccelInfo();
    motionManager_->stopAccelerometerUpdates();
  }
  isRunning_ = false;
}

void HBRAccelerometer::returnAccelInfo() {
  // Adding 0 turns -0 (a zero axis times -g) into 0, which the page prints as plain 0.
  plat::Dictionary reading;
  reading.set("x", x_ * -kGravity + 0.0);
  reading.set("y", y_ * -kGravity + 0.0);
  reading.set("z", z_ * -kGravity + 0.0);
  reading.set("timestamp", timestamp_);
  auto result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(reading));
  result->setKeepCallbackAsBool(true);
  if (auto delegate = commandDelegate()) delegate->sendPluginResult(result, callbackId_);
  haveReturnedResult_ = true;
}

}  // namespace harbor
