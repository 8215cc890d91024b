#pragma once
// The device's position for the page: once, or with every move through watches, from the
// location service. Asks the user for permission when it is not decided yet.
//
// Positions go to the page as OK (1) with
//   {"latitude", "longitude": degrees, "altitude": m, "accuracy", "altitudeAccuracy": m,
//    "heading": degrees from true north, "velocity": m/s, "timestamp": ms since 1970}
// and errors as Error (9) with {"code": n, "message": text}: 1 when permission is refused or
// location services are off, 2 when no position can be had. The one exception is an answer
// asked for before any position arrived: Error with {"code": 2} alone.
//
// Page actions (main thread; so are the location service's reports):
//   getLocation  [enableHighAccuracy, timeout] -> one position, keep-callback off: the next one
//                    when updates start (or restart for another accuracy), else at once the
//                    last one; location services off: {"code": 1, "message": "Location services
//                    are disabled."}
//   addWatch     [watchId, enableHighAccuracy, timeout] -> a position with every update,
//                    keep-callback on; an error, keep-callback off, when something goes wrong
//                    (the watch stays registered). The same id again replaces the earlier watch
//   clearWatch   [watchId] -> nothing; updates stop when no watch and no one-shot request is
//                    left
//   stopLocation [] -> nothing; updates stop, but waiting requests and watches stay registered
//                    and are answered when updates next run
// High accuracy asks for the best accuracy and a fix every 5 m; otherwise 3 km and 10 m. The
// running updates have the accuracy of the last request that started them.
//
// Permission: while it is not decided, the request waits and the user is asked for permission
// "when in use" if Info.plist has NSLocationWhenInUseUsageDescription, else "always" with
// NSLocationAlwaysUsageDescription; with neither, a warning is logged and requests wait for
// good, or until their timeout. A refusal answers everyone waiting with code 1. A new page stops
// updates, and heading updates too, without answering anyone.
//
// Timeout: the page's (milliseconds from 0, as its PositionOptions.timeout; none when absent or
// no such number). A request not answered within it gets {"code": 3, "message": "Timeout
// expired"}: a one-shot request then waits no more; a watch hears it with keep-callback on and
// goes on. As on the web, the time the user takes to answer the permission prompt does not
// count: the timeout runs from the request, or from the answer when a prompt was showing, until
// the request's first answer.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "HBRLocationData.h"
#include "HBRPlugin.h"
#include "plat/corelocation/CLLocationManager.h"

namespace harbor {

enum HBRLocationErrorCode : unsigned {
  PERMISSIONDENIED = 1,
  POSITIONUNAVAILABLE = 2,
  TIMEOUT = 3,
};

class HBRLocation : public HBRPlugin, public plat::CLLocationManagerDelegate {
 public:
  HBRLocation();
  ~HBRLocation() override;

  void pluginInitialize() override;
  void onReset() override;

  void getLocation(const HBRInvokedUrlCommandPtr& command);
  void addWatch(const HBRInvokedUrlCommandPtr& command);
  void clearWatch(const HBRInvokedUrlCommandPtr& command);
  void stopLocation(const HBRInvokedUrlCommandPtr& command);

  bool isAuthorized() const;
  bool isLocationServicesEnabled() const;
  // Starts (or restarts) updates with this accuracy, asking for permission first when needed;
  // reports to everyone waiting why it cannot.
  void startLocation(bool enableHighAccuracy);
  // Stops running updates; waiting requests and watches stay.
  void stopLocationUpdates();
  // The last position (or {"code": 2} before any) to one callback.
  void returnLocationInfo(const std::string& callbackId, bool keepCallback);
  // {"code": code, "message": message} to every waiting request (then forgotten) and every
  // watch (kept, though the page lets go of its callback).
  void returnLocationError(unsigned errorCode, const std::string& message);

  void locationManagerDidUpdateToLocationFromLocation(plat::CLLocationManager& manager,
                                                     const plat::CLLocationPtr& newLocation,
                                                     const plat::CLLocationPtr& oldLocation) override;
  void locationManagerDidFailWithError(plat::CLLocationManager& manager, const plat::NSError& error) override;
  void locationManagerDidChangeAuthorizationStatus(plat::CLLocationManager& manager,
                                                   plat::CLAuthorizationStatus status) override;

  const std::shared_ptr<plat::CLLocationManager>& locationManager() const { return locationManager_; }
  const std::shared_ptr<HBRLocationData>& locationData() const { return locationData_; }
  bool locationStarted() const { return locationStarted_; }
  bool highAccuracyEnabled() const { return highAccuracyEnabled_; }

 private:
  HBRLocationData& ensureLocationData();
  void sendError(const std::optional<std::string>& callbackId, unsigned errorCode, const std::string& message);
  void send(const HBRPluginResultPtr& result, const std::string& callbackId);
  // The page's timeout for the request answered on callbackId, counted from now, or once the
  // user has answered the permission prompt that is showing.
  void waitAtMost(const std::string& callbackId, double seconds);
  // The page's timeout for callbackId, when one is kept, cancelled and forgotten.
  void forgetTimeout(const std::string& callbackId);
  void startTimeouts();
  void timeoutExpired(const std::string& callbackId);

  struct Timeout {
    double seconds = 0;
    std::optional<std::uint64_t> timer;  // running since the request, or the prompt's answer
  };

  std::shared_ptr<plat::CLLocationManager> locationManager_;
  std::shared_ptr<HBRLocationData> locationData_;
  bool locationStarted_ = false;
  bool highAccuracyEnabled_ = false;
  bool askingUser_ = false;  // the permission prompt is showing
  std::map<std::string, Timeout> timeouts_;  // by callback id, until its first answer
};

}  // namespace harbor
