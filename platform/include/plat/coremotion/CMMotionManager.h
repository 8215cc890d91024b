#pragma once
// The motion service, as far as the accelerometer goes. There is no accelerometer here, so it is
// simulated: tests and the runner say whether the device has one and push its samples through
// SimulatedAccelerometer. Samples reach a manager's handler on a later turn of the main run loop
// (the main operation queue), only while its updates run.
//
// Threads: a manager is used on the main thread; the simulator's calls come from any thread.
#include <functional>
#include <memory>
#include <optional>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Object.h"

namespace plat {

// In g along each axis; a device lying flat face up reads z = -1.
struct CMAcceleration {
  double x = 0;
  double y = 0;
  double z = 0;
  bool operator==(const CMAcceleration&) const = default;
};

struct CMAccelerometerData {
  CMAcceleration acceleration;
  double timestamp = 0;  // seconds, on the platform clock
};

using CMAccelerometerHandler =
    std::function<void(const std::optional<CMAccelerometerData>& data, const std::optional<NSError>& error)>;

class CMMotionManager : public Object {
 public:
  ~CMMotionManager() override;

  bool isAccelerometerAvailable() const;
  bool isAccelerometerActive() const { return active_; }
  // Seconds between samples; 0 asks for the fastest rate the device has.
  double accelerometerUpdateInterval() const { return updateInterval_; }
  void setAccelerometerUpdateInterval(double seconds) { updateInterval_ = seconds < 0 ? 0 : seconds; }

  // Delivers every later sample to the handler on the main queue, until stopped. Starting again
  // replaces the handler. Nothing happens without an accelerometer.
  void startAccelerometerUpdatesToMainQueue(CMAccelerometerHandler handler);
  void stopAccelerometerUpdates();

  // The simulator's side: hands one sample to the handler if updates still run.
  void deliverAccelerometerData(const CMAccelerometerData& data);

 private:
  bool active_ = false;
  double updateInterval_ = 0;
  CMAccelerometerHandler handler_;
};

// The test and runner surface of the simulated accelerometer. It starts absent.
class SimulatedAccelerometer {
 public:
  static void setAvailable(bool available);
  static bool isAvailable();
  // Any thread. Every manager whose updates run gets the sample, stamped with the platform
  // clock, on a later turn of the main run loop.
  static void pushAcceleration(const CMAcceleration& acceleration);
  // Tests: absent again, and no manager hears later samples.
  static void reset();
};

}  // namespace plat
