#include "plat/corelocation/CLLocationManager.h"

#include <cmath>
#include <mutex>
#include <vector>

#include "plat/dispatch/Queues.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/NSBundle.h"

namespace plat {
namespace {

struct Simulator {
  std::mutex mutex;
  bool headingAvailable = false;
  bool servicesEnabled = false;
  CLAuthorizationStatus status = kCLAuthorizationStatusNotDetermined;
  SimulatedLocation::Answer answer = SimulatedLocation::Answer::Grant;
  // One prompt at a time, as on a device: a second request while one is shown changes nothing.
  bool prompting = false;
  std::function<void(const SimulatedLocation::Prompt&)> promptObserver;
  std::optional<SimulatedFix> position;
  // Every manager that has started updates or asked for permission; weak, so a released
  // manager simply drops out.
  std::vector<std::weak_ptr<CLLocationManager>> listeners;
};

Simulator& simulator() {
  static auto* s = new Simulator();
  return *s;
}

void removeListener(const CLLocationManager* manager) {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::erase_if(s.listeners, [manager](const std::weak_ptr<CLLocationManager>& weak) {
    auto strong = weak.lock();
    return !strong || strong.get() == manager;
  });
}

std::vector<std::weak_ptr<CLLocationManager>> listeners() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.listeners;
}

// Runs f on the main run loop for every listening manager still alive then.
template <class F>
void toEachManager(F f) {
  for (auto& weak : listeners()) {
    dispatch::mainAsync([weak, f] {
      if (auto manager = weak.lock()) f(*manager);
    });
  }
}

// The smaller angle between two headings, 0 to 180.
double angleBetween(double a, double b) {
  double d = std::fmod(std::fabs(a - b), 360.0);
  return d > 180.0 ? 360.0 - d : d;
}

bool isGranted(CLAuthorizationStatus status) {
  return status == kCLAuthorizationStatusAuthorizedAlways || status == kCLAuthorizationStatusAuthorizedWhenInUse;
}

// Whether fixes reach managers, and otherwise whether they are refused outright (as opposed to
// waiting for the user's answer).
bool fixesFlow() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.servicesEnabled && isGranted(s.status);
}
bool fixesRefused() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  return !s.servicesEnabled || s.status == kCLAuthorizationStatusDenied ||
         s.status == kCLAuthorizationStatusRestricted;
}

CLLocationPtr makeLocation(const SimulatedFix& fix) {
  return std::make_shared<const CLLocation>(CLLocationCoordinate2D{fix.latitude, fix.longitude}, fix.altitude,
                                            fix.horizontalAccuracy, fix.verticalAccuracy, fix.course, fix.speed,
                                            plat::now());
}

// The device's current position, measured now, or null.
CLLocationPtr currentLocation() {
  auto position = SimulatedLocation::currentPosition();
  return position ? makeLocation(*position) : nullptr;
}

// The permission is now this: every manager hears it; one whose location updates ran before
// hears the consequence too, unless its delegate restarted the updates on hearing it (the
// restart brings its own first fix).
void changeStatus(CLAuthorizationStatus status) {
  {
    auto& s = simulator();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.status == status) return;
    s.status = status;
  }
  toEachManager([status](CLLocationManager& manager) {
    bool wasUpdating = manager.isUpdatingLocation();
    auto before = manager.location();
    manager.deliverAuthorizationStatus(status);
    if (!wasUpdating || !manager.isUpdatingLocation()) return;
    if (fixesRefused()) {
      manager.deliverError(locationError(kCLErrorDenied));
    } else if (fixesFlow() && !before) {
      if (auto location = currentLocation()) manager.deliverLocation(location);
    }
  });
}

}  // namespace

double CLLocation::distanceFromLocation(const CLLocation& other) const {
  constexpr double kEarthRadius = 6371008.8;
  constexpr double kRadians = M_PI / 180.0;
  double lat1 = coordinate_.latitude * kRadians;
  double lat2 = other.coordinate_.latitude * kRadians;
  double dLat = lat2 - lat1;
  double dLon = (other.coordinate_.longitude - coordinate_.longitude) * kRadians;
  double a = std::sin(dLat / 2) * std::sin(dLat / 2) + std::cos(lat1) * std::cos(lat2) * std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2 * kEarthRadius * std::asin(std::sqrt(std::min(1.0, a)));
}

NSError locationError(long code) {
  std::string description;
  switch (code) {
    case kCLErrorHeadingFailure:
      description = "The heading could not be determined.";
      break;
    default:
      description = "The operation couldn't be completed. (kCLErrorDomain error " + std::to_string(code) + ".)";
      break;
  }
  return NSError{kCLErrorDomain, code, description, Value()};
}

CLLocationManager::~CLLocationManager() { removeListener(this); }

void CLLocationManager::listen() {
  // Looked up each time rather than remembered: a simulator reset forgets every manager.
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (const auto& weak : s.listeners) {
    if (weak.lock().get() == this) return;
  }
  s.listeners.push_back(weakSelf<CLLocationManager>());
}

bool CLLocationManager::headingAvailable() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.headingAvailable;
}

bool CLLocationManager::locationServicesEnabled() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.servicesEnabled;
}

CLAuthorizationStatus CLLocationManager::authorizationStatus() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.status;
}

void CLLocationManager::requestWhenInUseAuthorization() { requestAuthorization(kCLAuthorizationStatusAuthorizedWhenInUse); }

void CLLocationManager::requestAlwaysAuthorization() { requestAuthorization(kCLAuthorizationStatusAuthorizedAlways); }

void CLLocationManager::requestAuthorization(CLAuthorizationStatus kind) {
  const char* key = kind == kCLAuthorizationStatusAuthorizedAlways ? kNSLocationAlwaysUsageDescription
                                                                  : kNSLocationWhenInUseUsageDescription;
  const Value& description = NSBundle::mainBundle()->objectForInfoDictionaryKey(key);
  if (!description.isString()) return;
  listen();
  SimulatedLocation::Prompt prompt{kind, description.stringOr(), SimulatedLocation::Answer::Grant};
  {
    auto& s = simulator();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.status != kCLAuthorizationStatusNotDetermined || s.prompting) return;
    s.prompting = true;
    prompt.answer = s.answer;
  }
  // The user answers on a later turn, as a tap would come.
  dispatch::mainAsync([prompt] {
    std::function<void(const SimulatedLocation::Prompt&)> observer;
    {
      auto& s = simulator();
      std::lock_guard<std::mutex> lock(s.mutex);
      // A reset in between withdrew the prompt.
      if (!s.prompting) return;
      s.prompting = false;
      observer = s.promptObserver;
    }
    if (observer) observer(prompt);
    changeStatus(prompt.answer == SimulatedLocation::Answer::Grant ? prompt.kind : kCLAuthorizationStatusDenied);
  });
}

void CLLocationManager::startUpdatingLocation() {
  if (updatingLocation_) return;
  updatingLocation_ = true;
  listen();
  // The first answer comes on a later turn; a stop and start in between makes it stale. The
  // position is the one of now: a fix pushed after this start comes after it.
  std::uint64_t generation = ++locationGeneration_;
  std::weak_ptr<CLLocationManager> weak = weakSelf<CLLocationManager>();
  CLLocationPtr current = currentLocation();
  dispatch::mainAsync([weak, generation, current] {
    auto self = weak.lock();
    if (!self || !self->updatingLocation_ || self->locationGeneration_ != generation) return;
    if (fixesRefused()) {
      self->deliverError(locationError(kCLErrorDenied));
    } else if (current && !self->location_) {
      self->deliverLocation(current);
    }
  });
}

void CLLocationManager::stopUpdatingLocation() {
  if (!updatingLocation_) return;
  updatingLocation_ = false;
  ++locationGeneration_;
  // The next start reports its first fix whatever the filter says.
  location_.reset();
}

void CLLocationManager::startUpdatingHeading() {
  if (updatingHeading_ || !headingAvailable()) return;
  updatingHeading_ = true;
  listen();
}

void CLLocationManager::stopUpdatingHeading() {
  if (!updatingHeading_) return;
  updatingHeading_ = false;
  // The next start reports its first heading whatever the filter says.
  heading_.reset();
}

void CLLocationManager::deliverHeading(const CLHeadingPtr& heading) {
  if (!updatingHeading_ || !heading) return;
  if (heading_ && headingFilter_ >= 0 &&
      angleBetween(heading->magneticHeading(), heading_->magneticHeading()) < headingFilter_) {
    return;
  }
  heading_ = heading;
  if (auto delegate = delegate_.lock()) delegate->locationManagerDidUpdateHeading(*this, heading);
}

void CLLocationManager::deliverLocation(const CLLocationPtr& location) {
  if (!updatingLocation_ || !location || !fixesFlow()) return;
  if (location_ && distanceFilter_ >= 0 && location->distanceFromLocation(*location_) < distanceFilter_) return;
  CLLocationPtr old = location_;
  location_ = location;
  if (auto delegate = delegate_.lock()) delegate->locationManagerDidUpdateToLocationFromLocation(*this, location, old);
}

void CLLocationManager::deliverError(const NSError& error) {
  if (!updatingHeading_ && !updatingLocation_) return;
  if (auto delegate = delegate_.lock()) delegate->locationManagerDidFailWithError(*this, error);
}

void CLLocationManager::deliverAuthorizationStatus(CLAuthorizationStatus status) {
  if (auto delegate = delegate_.lock()) delegate->locationManagerDidChangeAuthorizationStatus(*this, status);
}

void SimulatedCompass::setHeadingAvailable(bool available) {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.headingAvailable = available;
}

void SimulatedCompass::pushHeading(double magneticHeading, double headingAccuracy) {
  double normalized = std::fmod(magneticHeading, 360.0);
  if (normalized < 0) normalized += 360.0;
  auto heading = std::make_shared<const CLHeading>(normalized, -1.0, headingAccuracy, plat::now());
  toEachManager([heading](CLLocationManager& manager) { manager.deliverHeading(heading); });
}

void SimulatedCompass::pushError(long code) {
  NSError error = locationError(code);
  toEachManager([error](CLLocationManager& manager) {
    if (manager.isUpdatingHeading()) manager.deliverError(error);
  });
}

void SimulatedCompass::reset() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.headingAvailable = false;
  s.listeners.clear();
}

void SimulatedLocation::setServicesEnabled(bool enabled) {
  {
    auto& s = simulator();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.servicesEnabled == enabled) return;
    s.servicesEnabled = enabled;
  }
  if (enabled) return;
  toEachManager([](CLLocationManager& manager) {
    if (manager.isUpdatingLocation()) manager.deliverError(locationError(kCLErrorDenied));
  });
}

void SimulatedLocation::setAuthorizationStatus(CLAuthorizationStatus status) { changeStatus(status); }

void SimulatedLocation::setAnswer(Answer answer) {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.answer = answer;
}

void SimulatedLocation::setPromptObserver(std::function<void(const Prompt&)> observer) {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.promptObserver = std::move(observer);
}

void SimulatedLocation::pushLocation(const SimulatedFix& fix) {
  {
    auto& s = simulator();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.position = fix;
  }
  CLLocationPtr location = makeLocation(fix);
  toEachManager([location](CLLocationManager& manager) { manager.deliverLocation(location); });
}

std::optional<SimulatedFix> SimulatedLocation::currentPosition() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.position;
}

void SimulatedLocation::pushError(long code) {
  NSError error = locationError(code);
  toEachManager([error](CLLocationManager& manager) {
    if (manager.isUpdatingLocation()) manager.deliverError(error);
  });
}

void SimulatedLocation::reset() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.servicesEnabled = false;
  s.status = kCLAuthorizationStatusNotDetermined;
  s.answer = Answer::Grant;
  s.prompting = false;
  s.promptObserver = nullptr;
  s.position.reset();
  s.listeners.clear();
}

}  // namespace plat
