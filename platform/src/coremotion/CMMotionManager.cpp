#include "plat/coremotion/CMMotionManager.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "plat/dispatch/Queues.h"
#include "plat/foundation/Clock.h"

namespace plat {
namespace {

struct Simulator {
  std::mutex mutex;
  bool available = false;
  // The managers whose updates run; weak, so a released manager simply drops out.
  std::vector<std::weak_ptr<CMMotionManager>> listeners;
};

Simulator& simulator() {
  static auto* s = new Simulator();
  return *s;
}

void removeListener(const CMMotionManager* manager) {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::erase_if(s.listeners, [manager](const std::weak_ptr<CMMotionManager>& weak) {
    auto strong = weak.lock();
    return !strong || strong.get() == manager;
  });
}

}  // namespace

CMMotionManager::~CMMotionManager() {
  if (active_) removeListener(this);
}

bool CMMotionManager::isAccelerometerAvailable() const { return SimulatedAccelerometer::isAvailable(); }

void CMMotionManager::startAccelerometerUpdatesToMainQueue(CMAccelerometerHandler handler) {
  if (!isAccelerometerAvailable()) return;
  handler_ = std::move(handler);
  if (active_) return;
  active_ = true;
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.listeners.push_back(weakSelf<CMMotionManager>());
}

void CMMotionManager::stopAccelerometerUpdates() {
  if (!active_) return;
  active_ = false;
  handler_ = nullptr;
  removeListener(this);
}

void CMMotionManager::deliverAccelerometerData(const CMAccelerometerData& data) {
  if (!active_ || !handler_) return;
  // The handler may stop the updates (and so drop itself) while it runs.
  CMAccelerometerHandler handler = handler_;
  handler(data, std::nullopt);
}

void SimulatedAccelerometer::setAvailable(bool available) {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.available = available;
}

bool SimulatedAccelerometer::isAvailable() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.available;
}

void SimulatedAccelerometer::pushAcceleration(const CMAcceleration& acceleration) {
  std::vector<std::weak_ptr<CMMotionManager>> listeners;
  {
    auto& s = simulator();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.available) return;
    listeners = s.listeners;
  }
  CMAccelerometerData data{acceleration, plat::now()};
  for (auto& weak : listeners) {
    dispatch::mainAsync([weak, data] {
      if (auto manager = weak.lock()) manager->deliverAccelerometerData(data);
    });
  }
}

void SimulatedAccelerometer::reset() {
  auto& s = simulator();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.available = false;
  s.listeners.clear();
}

}  // namespace plat
