#include "plat/foundation/ClassRegistry.h"

namespace plat {

ClassRegistry& ClassRegistry::shared() {
  static ClassRegistry* registry = new ClassRegistry();
  return *registry;
}

void ClassRegistry::registerClass(const std::string& name, Factory factory) {
  std::lock_guard<std::mutex> lock(mutex_);
  factories_[name] = std::move(factory);
}

void ClassRegistry::unregisterClass(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  factories_.erase(name);
}

bool ClassRegistry::hasClass(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  return factories_.count(name) != 0;
}

ObjectPtr ClassRegistry::create(const std::string& name) {
  Factory factory;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = factories_.find(name);
    if (it == factories_.end()) return nullptr;
    factory = it->second;
  }
  return factory();
}

}  // namespace plat
