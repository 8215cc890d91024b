#pragma once
// Named stopwatches for start-up work: start one, stop it, and its length is logged as
// "[HBRTimer][<name>] <milliseconds>ms". Names are compared lower-cased; the log shows the name
// as it was started. Times come from the platform clock.
//
// The shared timer is created once, from any thread; its items are used from the main thread.
#include <memory>
#include <string>

#include "plat/foundation/Object.h"
#include <utility>
#include <vector>

namespace harbor {

class HBRTimerItem : public plat::Object {
 public:
  std::string name;
  double started = 0;  // seconds since the reference date
  double ended = 0;

  // "[HBRTimer][%@] %fms"
  void log() const;
};

class HBRTimer : public plat::Object {
 public:
  static std::shared_ptr<HBRTimer> sharedInstance();
  static void start(const std::string& name) { sharedInstance()->add(name); }
  static void stop(const std::string& name) { sharedInstance()->remove(name); }
  static void clearAll() { sharedInstance()->removeAll(); }

  // Starts a timer; logs "Timer called '%@' already exists." when one of that name runs.
  void add(const std::string& name);
  // Stops, logs and forgets a timer; logs "Timer called '%@' does not exist." when none runs.
  void remove(const std::string& name);
  void removeAll();

  std::size_t count() const;

 private:
  // Lower-cased name -> running item, in start order.
  std::vector<std::pair<std::string, std::shared_ptr<HBRTimerItem>>> items_;
};

}  // namespace harbor
