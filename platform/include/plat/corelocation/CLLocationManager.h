#pragma once
// The location service, as far as the compass goes: heading updates and their failures. There is
// no magnetometer here, so headings are simulated: tests and the runner say whether the device
// has heading support and push headings and failures through SimulatedCompass. A manager hears
// them on a later turn of the main run loop, only while its heading updates run, through its
// delegate (held weakly).
//
// Threads: a manager is used on the main thread; the simulator's calls come from any thread.
#include <memory>
#include <optional>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Object.h"

namespace plat {

inline constexpr char kCLErrorDomain[] = "kCLErrorDomain";
enum CLError : long {
  kCLErrorLocationUnknown = 0,
  kCLErrorDenied = 1,
  kCLErrorNetwork = 2,
  kCLErrorHeadingFailure = 3,
};

// Which way up the device is held; numerically the same as the device orientations.
enum CLDeviceOrientation : int {
  CLDeviceOrientationUnknown = 0,
  CLDeviceOrientationPortrait = 1,
  CLDeviceOrientationPortraitUpsideDown = 2,
  CLDeviceOrientationLandscapeLeft = 3,
  CLDeviceOrientationLandscapeRight = 4,
  CLDeviceOrientationFaceUp = 5,
  CLDeviceOrientationFaceDown = 6,
};

// A heading filter that lets every heading through.
inline constexpr double kCLHeadingFilterNone = -1.0;

class CLHeading : public Object {
 public:
  CLHeading(double magneticHeading, double trueHeading, double headingAccuracy, double timestamp)
      : magneticHeading_(magneticHeading),
        trueHeading_(trueHeading),
        headingAccuracy_(headingAccuracy),
        timestamp_(timestamp) {}
  // Degrees from magnetic north, 0 to 359.9.
  double magneticHeading() const { return magneticHeading_; }
  // Degrees from true north; negative while the location is unknown.
  double trueHeading() const { return trueHeading_; }
  // Degrees the magnetic heading may be off; negative when it is invalid.
  double headingAccuracy() const { return headingAccuracy_; }
  // When it was measured, seconds on the platform clock (since the reference date).
  double timestamp() const { return timestamp_; }

 private:
  double magneticHeading_;
  double trueHeading_;
  double headingAccuracy_;
  double timestamp_;
};
using CLHeadingPtr = std::shared_ptr<const CLHeading>;

class CLLocationManager;

class CLLocationManagerDelegate {
 public:
  virtual ~CLLocationManagerDelegate() = default;
  virtual void locationManagerDidUpdateHeading(CLLocationManager& manager, const CLHeadingPtr& heading) {}
  virtual void locationManagerDidFailWithError(CLLocationManager& manager, const NSError& error) {}
  // Whether the system may show its calibration screen when the compass needs it.
  virtual bool locationManagerShouldDisplayHeadingCalibration(CLLocationManager& manager) { return false; }
};

class CLLocationManager : public Object {
 public:
  ~CLLocationManager() override;

  // Whether the device can report headings, for the class and for an instance alike.
  static bool headingAvailable();
  bool isHeadingAvailable() const { return headingAvailable(); }

  std::shared_ptr<CLLocationManagerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<CLLocationManagerDelegate>& delegate) { delegate_ = delegate; }

  // The smallest change in degrees that produces an update; kCLHeadingFilterNone (or any
  // negative value) for every one. Starts at 1.
  double headingFilter() const { return headingFilter_; }
  void setHeadingFilter(double degrees) { headingFilter_ = degrees; }
  CLDeviceOrientation headingOrientation() const { return headingOrientation_; }
  void setHeadingOrientation(CLDeviceOrientation orientation) { headingOrientation_ = orientation; }

  // Nothing happens without heading support.
  void startUpdatingHeading();
  void stopUpdatingHeading();
  bool isUpdatingHeading() const { return updatingHeading_; }
  // Location updates are not simulated; stopping them is a no-op the caller may rely on.
  void stopUpdatingLocation() {}
  // The last heading delivered while updating, or null.
  CLHeadingPtr heading() const { return heading_; }

  // The simulator's side: a measured heading, passed on when it moved by at least the filter
  // since the last one passed on; a failure, always passed on.
  void deliverHeading(const CLHeadingPtr& heading);
  void deliverError(const NSError& error);

 private:
  std::weak_ptr<CLLocationManagerDelegate> delegate_;
  double headingFilter_ = 1.0;
  CLDeviceOrientation headingOrientation_ = CLDeviceOrientationPortrait;
  bool updatingHeading_ = false;
  CLHeadingPtr heading_;
};

// The test and runner surface of the simulated compass. It starts without heading support.
class SimulatedCompass {
 public:
  static void setHeadingAvailable(bool available);
  // Any thread. Every manager whose heading updates run measures this heading (true heading
  // unknown), stamped with the platform clock.
  static void pushHeading(double magneticHeading, double headingAccuracy = 10.0);
  // Any thread. Every manager whose heading updates run fails with this error code of
  // kCLErrorDomain (kCLErrorHeadingFailure when the magnetometer fails).
  static void pushError(long code);
  // Tests: no heading support again, and no manager hears later headings.
  static void reset();
};

}  // namespace plat
