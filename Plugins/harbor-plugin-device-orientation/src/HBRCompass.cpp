#include "HBRCompass.h"

#include <cmath>

#include "plat/foundation/Clock.h"
#include "plat/foundation/Log.h"
#include "plat/uikit/UIViewController.h"

namespace harbor {
namespace {

constexpr int kHeadingUnsupported = 20;
constexpr int kHeadingFailed = 0;
// The filter of a single request: fine enough that the first heading is never held back.
constexpr double kSingleRequestFilter = 0.2;

std::string idOf(const HBRInvokedUrlCommandPtr& command) { return command->callbackId().value_or("INVALID"); }

}  // namespace

HBRCompass::HBRCompass() {
  registerAction("getHeading", &HBRCompass::getHeading);
  registerAction("watchHeadingFilter", &HBRCompass::watchHeadingFilter);
  registerAction("stopHeading", &HBRCompass::stopHeading);
}

HBRCompass::~HBRCompass() {
  if (locationManager_) locationManager_->setDelegate(nullptr);
}

void HBRCompass::pluginInitialize() {
  locationStarted_ = false;
  highAccuracyEnabled_ = false;
  setHeadingData(nullptr);
  locationManager_ = std::make_shared<plat::CLLocationManager>();
  locationManager_->setDelegate(std::static_pointer_cast<HBRCompass>(shared_from_this()));
}

void HBRCompass::onReset() {
  if (locationManager_) locationManager_->stopUpdatingHeading();
  setHeadingData(nullptr);
}

bool HBRCompass::hasHeadingSupport() const {
  if (locationManager_) return locationManager_->isHeadingAvailable();
  return plat::CLLocationManager::headingAvailable();
}

void HBRCompass::startHeadingWithFilter(double filter) {
  if (!locationManager_) return;
  auto orientation = plat::UIInterfaceOrientationPortrait;
  if (auto controller = viewController()) orientation = controller->interfaceOrientation();
  // The interface orientations share their numbers with the device orientations that hold
  // the device that way up.
  locationManager_->setHeadingOrientation(static_cast<plat::CLDeviceOrientation>(orientation));
  locationManager_->setHeadingFilter(filter);
  locationManager_->startUpdatingHeading();
  if (auto data = headingData()) data->headingStatus = HEADINGSTARTING;
}

void HBRCompass::getHeading(const HBRInvokedUrlCommandPtr& command) {
  const plat::Value& options = command->argumentAtIndex(0);
  if (options.isDictionary() && !options["filter"].isNil()) {
    watchHeadingFilter(command);
    return;
  }
  std::string callbackId = idOf(command);
  if (!hasHeadingSupport()) {
    sendError(callbackId, kHeadingUnsupported);
    return;
  }
  auto data = headingData();
  if (!data) {
    data = std::make_shared<HBRHeadingData>();
    setHeadingData(data);
  }
  switch (data->headingStatus) {
    case HEADINGSTOPPED:
    case HEADINGSTARTING:
      // Only a request that waits is listed: one answered at once must not be answered again
      // by a later first heading.
      data->headingCallbacks.push_back(callbackId);
      startHeadingWithFilter(kSingleRequestFilter);
      break;
    default:
      returnHeadingInfo(callbackId, false);
      break;
  }
}

void HBRCompass::watchHeadingFilter(const HBRInvokedUrlCommandPtr& command) {
  std::string callbackId = idOf(command);
  if (!hasHeadingSupport()) {
    sendError(callbackId, kHeadingUnsupported);
    return;
  }
  double filter = command->argumentAtIndex(0)["filter"].asDouble();
  if (!std::isfinite(filter)) filter = 0;
  auto data = headingData();
  if (!data) {
    data = std::make_shared<HBRHeadingData>();
    setHeadingData(data);
  }
  if (data->headingStatus != HEADINGRUNNING) {
    startHeadingWithFilter(filter);
  } else if (data->headingFilter && *data->headingFilter != callbackId) {
    returnHeadingInfo(*data->headingFilter, false);
  }
  data->headingFilter = callbackId;
  locationManager_->setHeadingFilter(filter);
}

void HBRCompass::stopHeading(const HBRInvokedUrlCommandPtr& command) {
  auto data = headingData();
  if (!data || data->headingStatus == HEADINGSTOPPED) return;
  if (data->headingFilter) {
    returnHeadingInfo(*data->headingFilter, false);
    data->headingFilter.reset();
  }
  if (locationManager_) locationManager_->stopUpdatingHeading();
  plat::NSLog("heading STOPPED");
  setHeadingData(nullptr);
}

void HBRCompass::returnHeadingInfo(const std::string& callbackId, bool keepCallback) {
  auto data = headingData();
  if (!data) return;
  data->headingTimestamp = plat::now();
  if (data->headingStatus == HEADINGERROR) {
    sendError(callbackId, kHeadingFailed);
    return;
  }
  if (data->headingStatus != HEADINGRUNNING || !data->headingInfo) return;
  const plat::CLHeading& heading = *data->headingInfo;
  plat::Dictionary info;
  info.set("timestamp", (heading.timestamp() + plat::kReferenceDateOffset) * 1000.0);
  info.set("magneticHeading", heading.magneticHeading());
  // Only a running location fix gives a true heading, and this plugin never starts one.
  info.set("trueHeading", locationStarted_ ? plat::Value(heading.trueHeading()) : plat::Value::null());
  info.set("headingAccuracy", heading.headingAccuracy());
  auto result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(info));
  result->setKeepCallbackAsBool(keepCallback);
  if (auto delegate = commandDelegate()) delegate->sendPluginResult(result, callbackId);
}

void HBRCompass::sendError(const std::string& callbackId, int code, bool keepCallback) {
  auto result = HBRPluginResult::resultWithStatusMessageAsInt(HBRCommandStatus::Error, code);
  result->setKeepCallbackAsBool(keepCallback);
  if (auto delegate = commandDelegate()) delegate->sendPluginResult(result, callbackId);
}

void HBRCompass::locationManagerDidUpdateHeading(plat::CLLocationManager& manager, const plat::CLHeadingPtr& heading) {
  auto data = headingData();
  if (!data) return;
  data->headingInfo = heading;

  bool timedOut = false;
  if (!data->headingFilter && data->headingTimestamp) {
    timedOut = std::fabs(plat::now() - *data->headingTimestamp) > static_cast<double>(data->timeout);
  }

  if (data->headingStatus == HEADINGSTARTING) {
    data->headingStatus = HEADINGRUNNING;
    std::vector<std::string> waiting;
    waiting.swap(data->headingCallbacks);
    for (const auto& callbackId : waiting) returnHeadingInfo(callbackId, false);
  }

  if (data->headingFilter) {
    returnHeadingInfo(*data->headingFilter, true);
  } else if (timedOut) {
    stopHeading(nullptr);
  }
  if (auto current = headingData()) current->headingStatus = HEADINGRUNNING;
}

void HBRCompass::locationManagerDidFailWithError(plat::CLLocationManager& manager, const plat::NSError& error) {
  plat::NSLogf("locationManager::didFailWithError %s", error.localizedDescription.c_str());
  auto data = headingData();
  if (error.code == plat::kCLErrorHeadingFailure && data) {
    if (data->headingStatus == HEADINGSTARTING) {
      std::vector<std::string> waiting;
      waiting.swap(data->headingCallbacks);
      for (const auto& callbackId : waiting) sendError(callbackId, kHeadingFailed);
    }
    if (data->headingFilter) {
      sendError(*data->headingFilter, kHeadingFailed);
      // The error closed the watch on the page; later headings must not go to it.
      data->headingFilter.reset();
    }
    data->headingStatus = HEADINGERROR;
  }
  manager.stopUpdatingLocation();
  locationStarted_ = false;
}

}  // namespace harbor
