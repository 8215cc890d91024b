#pragma once
// Notifications: synchronous delivery, on the posting thread, in registration order. An
// observer is held weakly: nothing is delivered to one that has been destroyed. Observers may
// be added or removed while a notification is being delivered; one removed during a post is
// not called afterwards, one added during a post hears only later posts.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

struct NSNotification {
  std::string name;
  ObjectPtr object;  // may be null
  Value userInfo;    // a dictionary or absent
};

class NSNotificationCenter {
 public:
  using Handler = std::function<void(const NSNotification&)>;

  static NSNotificationCenter& defaultCenter();

  // Calls handler for notifications of that name whose object is `object` (compared by
  // identity), or for any sender when object is null. The observer is only an identity for
  // removal and a liveness check; it is not kept alive.
  void addObserver(const std::shared_ptr<const void>& observer, std::string name, const ObjectPtr& object,
                   Handler handler);
  // Removes every registration of the observer (callable from its destructor).
  void removeObserver(const void* observer);
  void removeObserver(const void* observer, std::string_view name);

  void post(const NSNotification& notification);
  void post(std::string name, ObjectPtr object = nullptr, Value userInfo = Value());

  std::size_t observerCount();
  void reset();

 private:
  struct Registration {
    const void* key;
    std::weak_ptr<const void> observer;
    std::string name;
    bool anySender;
    std::weak_ptr<Object> object;
    Handler handler;
    std::atomic<bool> removed{false};
  };
  // Removes the matching registrations under the lock and hands them back, so that their
  // handlers are destroyed by the caller after the lock is released.
  std::vector<std::shared_ptr<Registration>> takeRegistrations(const std::function<bool(const Registration&)>& matches);

  std::mutex mutex_;
  std::vector<std::shared_ptr<Registration>> registrations_;
};

}  // namespace plat
