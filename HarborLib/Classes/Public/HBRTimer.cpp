#include "HBRTimer.h"

#include <algorithm>

#include "plat/foundation/Clock.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"

namespace harbor {

void HBRTimerItem::log() const {
  plat::NSLogf("[HBRTimer][%s] %fms", name.c_str(), (ended - started) * 1000.0);
}

std::shared_ptr<HBRTimer> HBRTimer::sharedInstance() {
  static auto* timer = new std::shared_ptr<HBRTimer>([] {
    auto t = std::make_shared<HBRTimer>();
    t->items_.reserve(6);
    return t;
  }());
  return *timer;
}

void HBRTimer::add(const std::string& name) {
  std::string key = plat::toLowerASCII(name);
  for (const auto& [k, item] : items_) {
    if (k == key) {
      plat::NSLogf("Timer called '%s' already exists.", name.c_str());
      return;
    }
  }
  auto item = std::make_shared<HBRTimerItem>();
  item->name = name;
  item->started = plat::now();
  items_.emplace_back(std::move(key), std::move(item));
}

void HBRTimer::remove(const std::string& name) {
  std::string key = plat::toLowerASCII(name);
  auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& entry) { return entry.first == key; });
  if (it == items_.end()) {
    plat::NSLogf("Timer called '%s' does not exist.", name.c_str());
    return;
  }
  std::shared_ptr<HBRTimerItem> item = std::move(it->second);
  items_.erase(it);
  item->ended = plat::now();
  item->log();
}

void HBRTimer::removeAll() { items_.clear(); }

std::size_t HBRTimer::count() const { return items_.size(); }

}  // namespace harbor
