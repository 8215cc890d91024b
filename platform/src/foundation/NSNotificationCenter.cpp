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

std::vector<std::shared_ptr<NSNotificationCenter::Registration>> NSNotificationCenter::takeRegistrations(
    const std::function<bool(const Registration&)>& matches) {
  std::vector<std::shared_ptr<Registration>> taken;
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(registrations_, [&](const std::shared_ptr<Registration>& r) {
    if (!matches(*r)) return false;
    r->removed = true;
    taken.push_back(r);
    return true;
  });
  return taken;
}

void NSNotificationCenter::removeObserver(const void* observer) {
  // The handlers are destroyed here, outside the lock: one may own the last reference to an
  // object whose destructor removes observers in turn.
  takeRegistrations([&](const Registration& r) { return r.key == observer; });
}

void NSNotificationCenter::removeObserver(const void* observer, std::string_view name) {
  takeRegistrations([&](const Registration& r) { return r.key == observer && r.name == name; });
}

void NSNotificationCenter::post(const NSNotification& n) {
  // Registrations whose observer is gone are dropped on the way.
  takeRegistrations([](const Registration& r) { return r.observer.expired(); });
  std::vector<std::shared_ptr<Registration>> matching;
  {
    std::lock_guard<std::mutex> lock(mutex_);
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
  takeRegistrations([](const Registration&) { return true; });
}

}  // namespace plat
