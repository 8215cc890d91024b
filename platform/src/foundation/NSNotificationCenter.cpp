#include "plat/foundation/NSNotificationCenter.h"

#include <algorithm>

namespace plat {

NSNotificationCenter& NSNotificationCenter::defaultCenter() {
  static NSNotificationCenter* center = new NSNotificationCenter();
  return *center;
}

void NSNotificationCenter::addObserver(const std::shared_ptr<const void>& observer, std::string name,
                                       const ObjectPtr& object, Handler handler) {
  auto r = std::make_shared<Registration>();
  r->key = observer.get();
  r->observer = observer;
  r->name = std::move(name);
  r->anySender = !object;
  r->object = object;
  r->handler = std::move(handler);
  std::lock_guard<std::mutex> lock(mutex_);
  registrations_.push_back(std::move(r));
}

void NSNotificationCenter::removeObserver(const void* observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(registrations_, [&](const std::shared_ptr<Registration>& r) {
    if (r->key != observer) return false;
    r->removed = true;
    return true;
  });
}

void NSNotificationCenter::removeObserver(const void* observer, std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(registrations_, [&](const std::shared_ptr<Registration>& r) {
    if (r->key != observer || r->name != name) return false;
    r->removed = true;
    return true;
  });
}

void NSNotificationCenter::post(const NSNotification& n) {
  std::vector<std::shared_ptr<Registration>> matching;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Registrations whose observer is gone are dropped on the way.
    std::erase_if(registrations_, [](const std::shared_ptr<Registration>& r) { return r->observer.expired(); });
    for (const auto& r : registrations_) {
      if (r->name != n.name) continue;
      if (!r->anySender) {
        // Identity by ownership: an expired filter object never matches a new one.
        if (!n.object || r->object.owner_before(n.object) || n.object.owner_before(r->object)) continue;
      }
      matching.push_back(r);
    }
  }
  for (const auto& r : matching) {
    if (r->removed) continue;
    auto alive = r->observer.lock();
    if (!alive) continue;
    r->handler(n);
  }
}

void NSNotificationCenter::post(std::string name, ObjectPtr object, Value userInfo) {
  post(NSNotification{std::move(name), std::move(object), std::move(userInfo)});
}

std::size_t NSNotificationCenter::observerCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(registrations_.begin(), registrations_.end(), [](auto& r) { return !r->observer.expired(); }));
}

void NSNotificationCenter::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& r : registrations_) r->removed = true;
  registrations_.clear();
}

}  // namespace plat
