#include "plat/corelocation/CLLocationManager.h"

#include <cmath>
#include <mutex>
#include <vector>

#include "plat/dispatch/Queues.h"
#include "plat/foundation/Clock.h"

namespace plat {
namespace {

struct Simulator {
  std::mutex mutex;
  bool available = false;
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

// The smaller angle between two headings, 0 to 180.
double angleBetween(double a, double b) {
  double d = std::fmod(std::fabs(a - b), 360.0);
  return d > 180.0 ? 360.0 - d : d;
}

}  // namespace

CLLocationManager::~CLLocationManager() {
  if (updatingHeading_) removeListener(this);
}

bool CLLocationManager::headingAvailable() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.available;
}

void CLLocationManager::startUpdatingHeading() {
  if (updatingHeading_ || !headingAvailable()) return;
  updatingHeading_ = true;
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.listeners.push_back(weakSelf<CLLocationManager>());
}

void CLLocationManager::stopUpdatingHeading() {
  if (!updatingHeading_) return;
  updatingHeading_ = false;
  // The next start reports its first heading whatever the filter says.
  heading_.reset();
  removeListener(this);
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

void CLLocationManager::deliverError(const NSError& error) {
  if (!updatingHeading_) return;
  if (auto delegate = delegate_.lock()) delegate->locationManagerDidFailWithError(*this, error);
}

void SimulatedCompass::setHeadingAvailable(bool available) {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.available = available;
}

void SimulatedCompass::pushHeading(double magneticHeading, double headingAccuracy) {
  double normalized = std::fmod(magneticHeading, 360.0);
  if (normalized < 0) normalized += 360.0;
  auto heading = std::make_shared<const CLHeading>(normalized, -1.0, headingAccuracy, plat::now());
  for (auto& weak : listeners()) {
    dispatch::mainAsync([weak, heading] {
      if (auto manager = weak.lock()) manager->deliverHeading(heading);
    });
  }
}

void SimulatedCompass::pushError(long code) {
  NSError error{kCLErrorDomain, code,
                code == kCLErrorHeadingFailure ? "The heading could not be determined."
                                               : "The operation couldn't be completed. (kCLErrorDomain error " +
                                                     std::to_string(code) + ".)",
                Value()};
  for (auto& weak : listeners()) {
    dispatch::mainAsync([weak, error] {
      if (auto manager = weak.lock()) manager->deliverError(error);
    });
  }
}

void SimulatedCompass::reset() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.available = false;
  s.listeners.clear();
}

}  // namespace plat
