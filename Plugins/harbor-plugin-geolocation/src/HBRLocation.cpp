#include "HBRLocation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"

namespace harbor {
namespace {

constexpr double kHighAccuracyDistanceFilter = 5;
constexpr double kLowAccuracyDistanceFilter = 10;

// The key a watch is kept under. The page's ids are texts or numbers (booleans do no harm
// either): a text as it is, a number or boolean as its JSON text (a whole number without a
// fraction, so 7 and 7.0 are one watch), anything else by its JSON text. Nothing for a missing
// or null id, and for what JSON cannot write (NaN, infinities).
std::optional<std::string> watchKey(const plat::Value& id) {
  if (id.isNil()) return std::nullopt;
  if (id.isString()) return id.stringOr();
  if (id.isBool()) return std::string(id.asBool() ? "true" : "false");
  if (id.isDouble()) {
    double d = id.asDouble();
    if (!std::isfinite(d)) return std::nullopt;
    if (d == std::trunc(d) && std::fabs(d) < 9.0e15) return std::to_string(static_cast<std::int64_t>(d));
  }
  plat::json::WriteOptions options;
  options.allowFragments = true;
  auto text = plat::json::write(id, options);
  if (!text) return std::nullopt;
  return *text;
}

// The page's timeout in milliseconds, as seconds: a number from 0. Anything else sets none.
std::optional<double> timeoutOf(const plat::Value& milliseconds) {
  if (!milliseconds.isInteger() && !milliseconds.isDouble()) return std::nullopt;
  double value = milliseconds.asDouble();
  if (!std::isfinite(value) || value < 0) return std::nullopt;
  return value / 1000.0;
}

HBRPluginResultPtr errorResult(unsigned errorCode, const std::string& message) {
  plat::Dictionary error;
  error.set("code", static_cast<std::uint64_t>(errorCode));
  error.set("message", message);
  return HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::Error, std::move(error));
}

plat::Dictionary positionMessage(const plat::CLLocation& location) {
  plat::Dictionary message;
  message.set("latitude", location.coordinate().latitude);
  message.set("longitude", location.coordinate().longitude);
  message.set("altitude", location.altitude());
  message.set("accuracy", location.horizontalAccuracy());
  message.set("altitudeAccuracy", location.verticalAccuracy());
  message.set("heading", location.course());
  message.set("velocity", location.speed());
  message.set("timestamp", (location.timestamp() + plat::kReferenceDateOffset) * 1000.0);
  return message;
}

}  // namespace

HBRLocation::HBRLocation() {
  registerAction("getLocation", &HBRLocation::getLocation);
  registerAction("addWatch", &HBRLocation::addWatch);
  registerAction("clearWatch", &HBRLocation::clearWatch);
  registerAction("stopLocation", &HBRLocation::stopLocation);
}

HBRLocation::~HBRLocation() {
  if (locationManager_) locationManager_->setDelegate(nullptr);
  for (const auto& [callbackId, timeout] : timeouts_)
    if (timeout.timer) plat::RunLoop::main().cancelTimer(*timeout.timer);
}

void HBRLocation::pluginInitialize() {
  locationManager_ = std::make_shared<plat::CLLocationManager>();
  locationManager_->setDelegate(std::static_pointer_cast<HBRLocation>(shared_from_this()));
  locationStarted_ = false;
  highAccuracyEnabled_ = false;
}

void HBRLocation::onReset() {
  stopLocationUpdates();
  if (locationManager_) locationManager_->stopUpdatingHeading();
  // The page that was waiting is gone; a new one sets timeouts of its own.
  for (const auto& [callbackId, timeout] : timeouts_)
    if (timeout.timer) plat::RunLoop::main().cancelTimer(*timeout.timer);
  timeouts_.clear();
}

HBRLocationData& HBRLocation::ensureLocationData() {
  if (!locationData_) locationData_ = std::make_shared<HBRLocationData>();
  return *locationData_;
}

bool HBRLocation::isLocationServicesEnabled() const { return plat::CLLocationManager::locationServicesEnabled(); }

bool HBRLocation::isAuthorized() const {
  // This platform can ask for permission "when in use", so an undecided status still counts:
  // asking is the next step.
  switch (plat::CLLocationManager::authorizationStatus()) {
    case plat::kCLAuthorizationStatusNotDetermined:
    case plat::kCLAuthorizationStatusAuthorizedAlways:
    case plat::kCLAuthorizationStatusAuthorizedWhenInUse:
      return true;
    default:
      return false;
  }
}

void HBRLocation::getLocation(const HBRInvokedUrlCommandPtr& command) {
  bool enableHighAccuracy = command->argumentAtIndex(0).asBool();
  const auto& callbackId = command->callbackId();
  if (!isLocationServicesEnabled()) {
    sendError(callbackId, PERMISSIONDENIED, "Location services are disabled.");
    return;
  }
  HBRLocationData& data = ensureLocationData();
  if (!data.locationCallbacks) data.locationCallbacks.emplace();
  if (!locationStarted_ || highAccuracyEnabled_ != enableHighAccuracy) {
    if (callbackId) {
      data.locationCallbacks->push_back(*callbackId);
      if (auto timeout = timeoutOf(command->argumentAtIndex(1))) waitAtMost(*callbackId, *timeout);
    }
    startLocation(enableHighAccuracy);
    startTimeouts();
  } else if (callbackId) {
    returnLocationInfo(*callbackId, false);
  }
}

void HBRLocation::addWatch(const HBRInvokedUrlCommandPtr& command) {
  std::optional<std::string> watchId = watchKey(command->argumentAtIndex(0));
  bool enableHighAccuracy = command->argumentAtIndex(1).asBool();
  const auto& callbackId = command->callbackId();
  // Kept under no id, the watch could never be cleared and would keep updates running for good.
  if (!watchId) {
    plat::NSLog("Geolocation: addWatch without a watch id; no watch registered.");
    sendError(callbackId, POSITIONUNAVAILABLE, "A watch needs an id.");
    return;
  }
  HBRLocationData& data = ensureLocationData();
  if (!data.watchCallbacks) data.watchCallbacks.emplace();
  if (callbackId) {
    auto [watch, added] = data.watchCallbacks->try_emplace(*watchId, *callbackId);
    if (!added && watch->second != *callbackId) {
      // The watch it replaces is no one's any more: neither is its wait.
      forgetTimeout(watch->second);
      watch->second = *callbackId;
    }
    if (auto timeout = timeoutOf(command->argumentAtIndex(2))) waitAtMost(*callbackId, *timeout);
  }

  if (!isLocationServicesEnabled()) {
    sendError(callbackId, PERMISSIONDENIED, "Location services are disabled.");
    return;
  }
  if (!locationStarted_ || highAccuracyEnabled_ != enableHighAccuracy) startLocation(enableHighAccuracy);
  startTimeouts();
}

void HBRLocation::clearWatch(const HBRInvokedUrlCommandPtr& command) {
  std::optional<std::string> watchId = watchKey(command->argumentAtIndex(0));
  if (!watchId || !locationData_ || !locationData_->watchCallbacks) return;
  auto& watches = *locationData_->watchCallbacks;
  auto watch = watches.find(*watchId);
  if (watch == watches.end()) return;
  std::string callbackId = std::move(watch->second);
  watches.erase(watch);
  // Nobody waits on a cleared watch; while the permission prompt shows, its wait would otherwise
  // stay until the answer, however many watches the page adds and clears meanwhile.
  forgetTimeout(callbackId);
  if (!watches.empty()) return;
  // A one-shot request still waiting needs the updates: its position stops them.
  bool oneShotWaits = locationData_->locationCallbacks && !locationData_->locationCallbacks->empty();
  if (!oneShotWaits) stopLocationUpdates();
}

void HBRLocation::stopLocation(const HBRInvokedUrlCommandPtr& command) { stopLocationUpdates(); }

void HBRLocation::startLocation(bool enableHighAccuracy) {
  if (!isLocationServicesEnabled()) {
    returnLocationError(PERMISSIONDENIED, "Location services are not enabled.");
    return;
  }
  if (!isAuthorized()) {
    std::string message;
    if (plat::CLLocationManager::authorizationStatus() == plat::kCLAuthorizationStatusRestricted)
      message = "Application's use of location services is restricted.";
    returnLocationError(PERMISSIONDENIED, message);
    return;
  }
  if (plat::CLLocationManager::authorizationStatus() == plat::kCLAuthorizationStatusNotDetermined) {
    // The updates start from the answer (the status change), with this accuracy.
    highAccuracyEnabled_ = enableHighAccuracy;
    // Only a text can be shown in the prompt: the system asks nothing for any other value, so
    // that counts as no usage description (and gets the warning) too.
    auto bundle = plat::NSBundle::mainBundle();
    if (bundle->objectForInfoDictionaryKey(plat::kNSLocationWhenInUseUsageDescription).isString()) {
      askingUser_ = true;
      locationManager_->requestWhenInUseAuthorization();
    } else if (bundle->objectForInfoDictionaryKey(plat::kNSLocationAlwaysUsageDescription).isString()) {
      askingUser_ = true;
      locationManager_->requestAlwaysAuthorization();
    } else {
      plat::NSLog(
          "[Warning] No NSLocationAlwaysUsageDescription or NSLocationWhenInUseUsageDescription key is defined in "
          "the Info.plist file.");
    }
    return;
  }

  locationManager_->stopUpdatingLocation();
  if (enableHighAccuracy) {
    locationManager_->setDistanceFilter(kHighAccuracyDistanceFilter);
    locationManager_->setDesiredAccuracy(plat::kCLLocationAccuracyBest);
  } else {
    locationManager_->setDistanceFilter(kLowAccuracyDistanceFilter);
    locationManager_->setDesiredAccuracy(plat::kCLLocationAccuracyThreeKilometers);
  }
  locationManager_->startUpdatingLocation();
  locationStarted_ = true;
  highAccuracyEnabled_ = enableHighAccuracy;
}

void HBRLocation::stopLocationUpdates() {
  if (!locationStarted_ || !isLocationServicesEnabled()) return;
  locationManager_->stopUpdatingLocation();
  locationStarted_ = false;
  highAccuracyEnabled_ = false;
}

void HBRLocation::returnLocationInfo(const std::string& callbackId, bool keepCallback) {
  if (!locationData_) return;
  HBRPluginResultPtr result;
  if (!locationData_->locationInfo) {
    result = HBRPluginResult::resultWithStatusMessageToErrorObject(HBRCommandStatus::Error, POSITIONUNAVAILABLE);
  } else {
    result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK,
                                                                  positionMessage(*locationData_->locationInfo));
    result->setKeepCallbackAsBool(keepCallback);
  }
  send(result, callbackId);
}

void HBRLocation::returnLocationError(unsigned errorCode, const std::string& message) {
  if (!locationData_) return;
  HBRPluginResultPtr result = errorResult(errorCode, message);
  if (locationData_->locationCallbacks) {
    std::vector<std::string> waiting;
    waiting.swap(*locationData_->locationCallbacks);
    for (const auto& callbackId : waiting) send(result, callbackId);
  }
  if (locationData_->watchCallbacks) {
    // A copy: the page may clear a watch while its error is delivered.
    auto watches = *locationData_->watchCallbacks;
    for (const auto& [watchId, callbackId] : watches) send(result, callbackId);
  }
}

void HBRLocation::sendError(const std::optional<std::string>& callbackId, unsigned errorCode,
                            const std::string& message) {
  if (callbackId) send(errorResult(errorCode, message), *callbackId);
}

void HBRLocation::send(const HBRPluginResultPtr& result, const std::string& callbackId) {
  // An answer ends the wait the page's timeout bounds.
  forgetTimeout(callbackId);
  if (auto delegate = commandDelegate()) delegate->sendPluginResult(result, callbackId);
}

void HBRLocation::waitAtMost(const std::string& callbackId, double seconds) {
  Timeout& timeout = timeouts_[callbackId];
  if (timeout.timer) plat::RunLoop::main().cancelTimer(*timeout.timer);
  timeout = Timeout{seconds, std::nullopt};
}

void HBRLocation::forgetTimeout(const std::string& callbackId) {
  auto it = timeouts_.find(callbackId);
  if (it == timeouts_.end()) return;
  if (it->second.timer) plat::RunLoop::main().cancelTimer(*it->second.timer);
  timeouts_.erase(it);
}

void HBRLocation::startTimeouts() {
  // The time the user takes over the prompt is not the position's: the clock starts after it.
  if (askingUser_) return;
  std::weak_ptr<HBRLocation> weak = std::static_pointer_cast<HBRLocation>(shared_from_this());
  for (auto& [callbackId, timeout] : timeouts_) {
    if (timeout.timer) continue;
    timeout.timer = plat::RunLoop::main().scheduleTimer(timeout.seconds, [weak, callbackId = callbackId] {
      if (auto self = weak.lock()) self->timeoutExpired(callbackId);
    });
  }
}

void HBRLocation::timeoutExpired(const std::string& callbackId) {
  if (timeouts_.erase(callbackId) == 0 || !locationData_) return;
  HBRPluginResultPtr result = errorResult(TIMEOUT, "Timeout expired");
  auto& waiting = locationData_->locationCallbacks;
  if (waiting) {
    if (auto it = std::find(waiting->begin(), waiting->end(), callbackId); it != waiting->end()) {
      waiting->erase(it);
      send(result, callbackId);
      // The updates ran for this request alone.
      bool watched = locationData_->watchCallbacks && !locationData_->watchCallbacks->empty();
      if (waiting->empty() && !watched) stopLocationUpdates();
      return;
    }
  }
  if (!locationData_->watchCallbacks) return;
  for (const auto& [watchId, watchCallbackId] : *locationData_->watchCallbacks) {
    if (watchCallbackId != callbackId) continue;
    // A watch goes on after a timeout: its next position still reaches the page.
    result->setKeepCallbackAsBool(true);
    send(result, callbackId);
    return;
  }
}

void HBRLocation::locationManagerDidUpdateToLocationFromLocation(plat::CLLocationManager& manager,
                                                                const plat::CLLocationPtr& newLocation,
                                                                const plat::CLLocationPtr& oldLocation) {
  HBRLocationData& data = ensureLocationData();
  data.locationInfo = newLocation;
  if (data.locationCallbacks && !data.locationCallbacks->empty()) {
    std::vector<std::string> waiting;
    waiting.swap(*data.locationCallbacks);
    for (const auto& callbackId : waiting) returnLocationInfo(callbackId, false);
  }
  if (!data.watchCallbacks || data.watchCallbacks->empty()) {
    stopLocationUpdates();
    return;
  }
  auto watches = *data.watchCallbacks;
  for (const auto& [watchId, callbackId] : watches) returnLocationInfo(callbackId, true);
}

void HBRLocation::locationManagerDidFailWithError(plat::CLLocationManager& manager, const plat::NSError& error) {
  plat::NSLogf("locationManager::didFailWithError %s", error.localizedDescription.c_str());
  if (locationData_ && locationStarted_) {
    returnLocationError(error.code == plat::kCLErrorDenied ? PERMISSIONDENIED : POSITIONUNAVAILABLE,
                        error.localizedDescription);
  }
  // Not knowing where the device is yet is no reason to give up: the next fix may come.
  if (error.code != plat::kCLErrorLocationUnknown) {
    manager.stopUpdatingLocation();
    locationStarted_ = false;
  }
}

void HBRLocation::locationManagerDidChangeAuthorizationStatus(plat::CLLocationManager& manager,
                                                              plat::CLAuthorizationStatus status) {
  askingUser_ = false;
  // Starts the updates after a grant, and reports a refusal to everyone waiting.
  if (!locationStarted_) startLocation(highAccuracyEnabled_);
  startTimeouts();
}

}  // namespace harbor
