#include "plat/foundation/KeyValueObserving.h"

#include <algorithm>

namespace plat {

void KeyValueObservable::addObserverForKeyPath(const void* observer, std::string keyPath, Handler handler) {
  observations_.push_back({observer, std::move(keyPath), std::make_shared<Handler>(std::move(handler))});
}

void KeyValueObservable::removeObserverForKeyPath(const void* observer, const std::string& keyPath) {
  auto it = std::find_if(observations_.begin(), observations_.end(),
                         [&](const Observation& o) { return o.observer == observer && o.keyPath == keyPath; });
  if (it != observations_.end()) observations_.erase(it);
}

bool KeyValueObservable::isObserved(const void* observer, const std::string& keyPath) const {
  return std::any_of(observations_.begin(), observations_.end(),
                     [&](const Observation& o) { return o.observer == observer && o.keyPath == keyPath; });
}

void KeyValueObservable::didChangeValueForKey(const std::string& keyPath, const Value& newValue) {
  std::vector<std::shared_ptr<Handler>> handlers;
  for (const auto& o : observations_)
    if (o.keyPath == keyPath) handlers.push_back(o.handler);
  for (const auto& handler : handlers) {
    // Skip observations removed by an earlier handler of this announcement.
    bool stillRegistered = std::any_of(observations_.begin(), observations_.end(),
                                       [&](const Observation& o) { return o.handler == handler; });
    if (stillRegistered) (*handler)(keyPath, newValue);
  }
}

}  // namespace plat
