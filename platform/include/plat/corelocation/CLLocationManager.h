#pragma once
// The location service: position fixes, the user's permission, and heading updates, with their
// failures. There is neither a GPS receiver nor a magnetometer here, so the device is simulated:
// tests and the runner switch location services on or off, set the permission and the user's
// answer to a request, and push fixes, headings and failures through SimulatedLocation and
// SimulatedCompass. A manager hears them on a later turn of the main run loop, through its
// delegate (held weakly): fixes only while its location updates run with permission granted,
// headings only while its heading updates run.
//
// Threads: a manager is used on the main thread; the simulator's calls come from any thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

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
// A distance filter that lets every fix through.
inline constexpr double kCLDistanceFilterNone = -1.0;

// Desired accuracies, in metres; the two best are markers below 0.
using CLLocationAccuracy = double;
inline constexpr CLLocationAccuracy kCLLocationAccuracyBestForNavigation = -2.0;
inline constexpr CLLocationAccuracy kCLLocationAccuracyBest = -1.0;
inline constexpr CLLocationAccuracy kCLLocationAccuracyNearestTenMeters = 10.0;
inline constexpr CLLocationAccuracy kCLLocationAccuracyHundredMeters = 100.0;
inline constexpr CLLocationAccuracy kCLLocationAccuracyKilometer = 1000.0;
inline constexpr CLLocationAccuracy kCLLocationAccuracyThreeKilometers = 3000.0;

// What the user allowed the application; the same for every manager.
enum CLAuthorizationStatus : int {
  kCLAuthorizationStatusNotDetermined = 0,
  // Not the user's choice (parental controls, a device policy): asking changes nothing.
  kCLAuthorizationStatusRestricted = 1,
  kCLAuthorizationStatusDenied = 2,
  kCLAuthorizationStatusAuthorizedAlways = 3,
  kCLAuthorizationStatusAuthorizedWhenInUse = 4,
};

// The property-list keys whose text the permission prompt shows. Without the key for a kind of
// permission, a request for it is ignored.
inline constexpr char kNSLocationWhenInUseUsageDescription[] = "NSLocationWhenInUseUsageDescription";
inline constexpr char kNSLocationAlwaysUsageDescription[] = "NSLocationAlwaysUsageDescription";

struct CLLocationCoordinate2D {
  double latitude = 0;   // degrees, -90 to 90
  double longitude = 0;  // degrees, -180 to 180
  bool operator==(const CLLocationCoordinate2D&) const = default;
};

// One position fix. Negative accuracies, course or speed mean the value is not known.
class CLLocation : public Object {
 public:
  CLLocation(CLLocationCoordinate2D coordinate, double altitude, double horizontalAccuracy, double verticalAccuracy,
             double course, double speed, double timestamp)
      : coordinate_(coordinate),
        altitude_(altitude),
        horizontalAccuracy_(horizontalAccuracy),
        verticalAccuracy_(verticalAccuracy),
        course_(course),
        speed_(speed),
        timestamp_(timestamp) {}
  CLLocationCoordinate2D coordinate() const { return coordinate_; }
  // Metres above sea level.
  double altitude() const { return altitude_; }
  // Metres: the radius around the coordinate the device may be in.
  double horizontalAccuracy() const { return horizontalAccuracy_; }
  // Metres the altitude may be off.
  double verticalAccuracy() const { return verticalAccuracy_; }
  // Degrees from true north the device moves towards.
  double course() const { return course_; }
  // Metres per second.
  double speed() const { return speed_; }
  // When it was measured, seconds on the platform clock (since the reference date).
  double timestamp() const { return timestamp_; }
  // Metres along the earth's surface (a sphere of the mean radius), altitude aside.
  double distanceFromLocation(const CLLocation& other) const;

 private:
  CLLocationCoordinate2D coordinate_;
  double altitude_;
  double horizontalAccuracy_;
  double verticalAccuracy_;
  double course_;
  double speed_;
  double timestamp_;
};
using CLLocationPtr = std::shared_ptr<const CLLocation>;

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
  // A new fix; oldLocation is the one delivered before it since updates started, or null.
  virtual void locationManagerDidUpdateToLocationFromLocation(CLLocationManager& manager,
                                                             const CLLocationPtr& newLocation,
                                                             const CLLocationPtr& oldLocation) {}
  // The application's permission changed (after a request was answered, or in the settings).
  virtual void locationManagerDidChangeAuthorizationStatus(CLLocationManager& manager, CLAuthorizationStatus status) {}
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
  // Whether the user has location services on for the whole device.
  static bool locationServicesEnabled();
  static CLAuthorizationStatus authorizationStatus();

  // Ask the user for permission, once: only while the status is not determined and only when
  // the main bundle's Info.plist has the usage description for that kind; otherwise nothing
  // happens. The answer comes to every manager's delegate as a status change, on a later turn.
  void requestWhenInUseAuthorization();
  void requestAlwaysAuthorization();

  // Metres the device must move before the next fix is reported; kCLDistanceFilterNone (or any
  // negative value) for every fix. Starts with kCLDistanceFilterNone.
  double distanceFilter() const { return distanceFilter_; }
  void setDistanceFilter(double metres) { distanceFilter_ = metres; }
  // Starts with kCLLocationAccuracyBest.
  CLLocationAccuracy desiredAccuracy() const { return desiredAccuracy_; }
  void setDesiredAccuracy(CLLocationAccuracy accuracy) { desiredAccuracy_ = accuracy; }

  // Fixes flow while permission is granted and services are on: the device's current position
  // first (on a later turn), then each new one that passes the distance filter. Without
  // services or with permission refused or restricted, the delegate hears kCLErrorDenied
  // instead; while the status is not determined, it hears nothing until the user answers.
  void startUpdatingLocation();
  void stopUpdatingLocation();
  bool isUpdatingLocation() const { return updatingLocation_; }
  // The last fix delivered, or null.
  CLLocationPtr location() const { return location_; }

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
  // The last heading delivered while updating, or null.
  CLHeadingPtr heading() const { return heading_; }

  // The simulator's side: a measured heading or fix, passed on when it moved by at least the
  // filter since the last one passed on; a failure, passed on while anything updates; a new
  // permission, always passed on.
  void deliverHeading(const CLHeadingPtr& heading);
  void deliverLocation(const CLLocationPtr& location);
  void deliverError(const NSError& error);
  void deliverAuthorizationStatus(CLAuthorizationStatus status);

 private:
  void listen();
  void requestAuthorization(CLAuthorizationStatus kind);

  std::weak_ptr<CLLocationManagerDelegate> delegate_;
  double headingFilter_ = 1.0;
  CLDeviceOrientation headingOrientation_ = CLDeviceOrientationPortrait;
  bool updatingHeading_ = false;
  CLHeadingPtr heading_;
  double distanceFilter_ = kCLDistanceFilterNone;
  CLLocationAccuracy desiredAccuracy_ = kCLLocationAccuracyBest;
  bool updatingLocation_ = false;
  CLLocationPtr location_;
  std::uint64_t locationGeneration_ = 0;
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

// A position of the simulated device; the values a fix carries besides its time.
struct SimulatedFix {
  double latitude = 0;
  double longitude = 0;
  double altitude = 0;
  double horizontalAccuracy = 5;
  double verticalAccuracy = -1;  // altitude unknown
  double course = -1;            // not moving, or unknown
  double speed = -1;
  bool operator==(const SimulatedFix&) const = default;
};

// The test and runner surface of the simulated location device. It starts with location
// services off, no position, the permission not determined, and a user who grants a request.
class SimulatedLocation {
 public:
  enum class Answer { Grant, Deny };
  // A permission prompt as the user sees it: the kind asked for and the usage description.
  struct Prompt {
    CLAuthorizationStatus kind;
    std::string usageDescription;
    Answer answer;
  };

  // Any thread. Switching services off fails every manager whose location updates run with
  // kCLErrorDenied; switching them on lets their fixes flow again.
  static void setServicesEnabled(bool enabled);
  // Any thread. The permission as the settings hold it; every manager hears the change.
  static void setAuthorizationStatus(CLAuthorizationStatus status);
  // How the user answers the next permission prompts.
  static void setAnswer(Answer answer);
  // Told of each prompt as it is answered (on the main thread); the runner logs them.
  static void setPromptObserver(std::function<void(const Prompt&)> observer);
  // Any thread. The device is now here: every manager whose fixes flow measures it (stamped
  // with the platform clock), and managers that start later begin from it.
  static void pushLocation(const SimulatedFix& fix);
  static std::optional<SimulatedFix> currentPosition();
  // Any thread. Every manager whose location updates run fails with this kCLErrorDomain code
  // (kCLErrorLocationUnknown while no fix can be had, kCLErrorNetwork, ...).
  static void pushError(long code);
  // Tests: the starting state again, and no manager hears later events.
  static void reset();
};

// The platform's text for an error of kCLErrorDomain.
NSError locationError(long code);

}  // namespace plat
