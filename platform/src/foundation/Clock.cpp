#include "plat/foundation/Clock.h"

#include <chrono>
#include <mutex>

namespace plat {
namespace {
std::shared_ptr<Clock>& installed() {
  static std::shared_ptr<Clock> c = std::make_shared<SystemClock>();
  return c;
}
std::mutex& clockMutex() {
  static std::mutex m;
  return m;
}
// Readers take a raw pointer; a replaced clock is kept alive until the next replacement so
// that a reader on another thread never sees it destroyed under it.
std::atomic<const Clock*> current{nullptr};
std::shared_ptr<Clock> previousKeepAlive;
}  // namespace

double SystemClock::now() const {
  using namespace std::chrono;
  auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<double>(us) / 1e6 - kReferenceDateOffset;
}

const Clock& clock() {
  const Clock* c = current.load(std::memory_order_acquire);
  if (!c) {
    std::lock_guard<std::mutex> lock(clockMutex());
    c = installed().get();
    current.store(c, std::memory_order_release);
  }
  return *c;
}

double now() { return clock().now(); }

std::shared_ptr<Clock> setClock(std::shared_ptr<Clock> c) {
  std::lock_guard<std::mutex> lock(clockMutex());
  if (!c) c = std::make_shared<SystemClock>();
  std::shared_ptr<Clock> previous = installed();
  previousKeepAlive = previous;
  installed() = std::move(c);
  current.store(installed().get(), std::memory_order_release);
  return previous;
}

}  // namespace plat
