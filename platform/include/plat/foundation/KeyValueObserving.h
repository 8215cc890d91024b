#pragma once
// Key-value observation as far as the plugins use it: an object announces changes of a few named
// properties ("frame", "statusBarHidden"), and observers registered for a key path hear each
// change with the new value, synchronously, in registration order.
//
// Observers are named by address, as the platform does, and must remove themselves before they
// go away. A handler may add or remove observers while it runs; removed ones are not called
// again in the same announcement.
//
// Threads: main thread only.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plat/foundation/Value.h"

namespace plat {

class KeyValueObservable {
 public:
  using Handler = std::function<void(const std::string& keyPath, const Value& newValue)>;

  void addObserverForKeyPath(const void* observer, std::string keyPath, Handler handler);
  // Removing an observation that is not registered does nothing.
  void removeObserverForKeyPath(const void* observer, const std::string& keyPath);
  bool isObserved(const void* observer, const std::string& keyPath) const;

 protected:
  ~KeyValueObservable() = default;
  void didChangeValueForKey(const std::string& keyPath, const Value& newValue);

 private:
  struct Observation {
    const void* observer;
    std::string keyPath;
    std::shared_ptr<Handler> handler;  // shared, so an announcement survives removals it causes
  };
  std::vector<Observation> observations_;
};

}  // namespace plat
