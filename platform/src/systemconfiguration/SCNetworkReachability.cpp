#include "plat/systemconfiguration/SCNetworkReachability.h"

#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "plat/foundation/Object.h"
#include "plat/systemconfiguration/NetworkStatusSource.h"

namespace plat {

class SCNetworkReachability : public Object {
 public:
  explicit SCNetworkReachability(ReachabilityTarget target) : target_(std::move(target)) {}
  ~SCNetworkReachability() override;

  std::optional<SCNetworkReachabilityFlags> readFlags() const { return networkStatusSource()->flagsFor(target_); }
  void setCallback(SCNetworkReachabilityCallBack callback, void* info);
  bool schedule(RunLoop& loop);
  bool unschedule(RunLoop& loop);
  // On the scheduled loop's thread: re-reads the flags and calls back when they changed.
  void check(const RunLoop* loop);
  // Any thread: asks the scheduled loop for a check on a later turn.
  void requestCheck();

 private:
  void unscheduleLocked();

  const ReachabilityTarget target_;
  // Held while the callback runs, so that unscheduling from another thread waits for it and no
  // callback can start afterwards. Recursive: the callback may unschedule its own object.
  mutable std::recursive_mutex mutex_;
  SCNetworkReachabilityCallBack callback_ = nullptr;
  void* info_ = nullptr;
  RunLoop* loop_ = nullptr;
  RunLoop::TimerId pollTimer_ = 0;
  std::optional<SCNetworkReachabilityFlags> lastFlags_;
};

namespace {

// The scheduled objects, so that a change of the network reaches them. Entries keep the raw
// address for removal: locking a weak reference there could make this list the last owner and
// run a destructor under the list's lock.
struct ScheduledEntry {
  const SCNetworkReachability* raw;
  std::weak_ptr<SCNetworkReachability> weak;
};
std::mutex& scheduledMutex() {
  static std::mutex m;
  return m;
}
std::vector<ScheduledEntry>& scheduled() {
  static auto* list = new std::vector<ScheduledEntry>();
  return *list;
}

void addScheduled(const std::shared_ptr<SCNetworkReachability>& target) {
  std::lock_guard<std::mutex> lock(scheduledMutex());
  std::erase_if(scheduled(), [](const ScheduledEntry& e) { return e.weak.expired(); });
  scheduled().push_back({target.get(), target});
}

void removeScheduled(const SCNetworkReachability* target) {
  std::lock_guard<std::mutex> lock(scheduledMutex());
  std::erase_if(scheduled(), [&](const ScheduledEntry& e) { return e.raw == target || e.weak.expired(); });
}

}  // namespace

SCNetworkReachability::~SCNetworkReachability() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  unscheduleLocked();
}

void SCNetworkReachability::setCallback(SCNetworkReachabilityCallBack callback, void* info) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  callback_ = callback;
  info_ = info;
}

bool SCNetworkReachability::schedule(RunLoop& loop) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (loop_ == &loop) return true;
  if (loop_) return false;
  loop_ = &loop;
  lastFlags_ = readFlags();
  std::weak_ptr<SCNetworkReachability> weak = weakSelf<SCNetworkReachability>();
  RunLoop* loopPtr = &loop;
  pollTimer_ = loop.scheduleTimer(
      kSCNetworkReachabilityPollInterval,
      [weak, loopPtr] {
        if (auto self = weak.lock()) self->check(loopPtr);
      },
      kSCNetworkReachabilityPollInterval);
  addScheduled(self<SCNetworkReachability>());
  return true;
}

bool SCNetworkReachability::unschedule(RunLoop& loop) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (loop_ != &loop) return false;
  unscheduleLocked();
  return true;
}

void SCNetworkReachability::unscheduleLocked() {
  if (!loop_) return;
  loop_->cancelTimer(pollTimer_);
  loop_ = nullptr;
  pollTimer_ = 0;
  removeScheduled(this);
}

void SCNetworkReachability::requestCheck() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!loop_) return;
  std::weak_ptr<SCNetworkReachability> weak = weakSelf<SCNetworkReachability>();
  RunLoop* loopPtr = loop_;
  loop_->post([weak, loopPtr] {
    if (auto self = weak.lock()) self->check(loopPtr);
  });
}

void SCNetworkReachability::check(const RunLoop* loop) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // A check queued before the object was unscheduled (or moved to another loop) is stale.
  if (loop_ != loop || !loop) return;
  auto flags = readFlags();
  if (!flags || flags == lastFlags_) return;
  lastFlags_ = flags;
  if (callback_) callback_(self<SCNetworkReachability>(), *flags, info_);
}

std::shared_ptr<NetworkStatusSource> networkStatusSourceSlot(std::shared_ptr<NetworkStatusSource>* replacement) {
  static std::mutex m;
  static auto* current = new std::shared_ptr<NetworkStatusSource>();
  std::lock_guard<std::mutex> lock(m);
  std::shared_ptr<NetworkStatusSource> previous = *current;
  if (replacement) *current = std::move(*replacement);
  if (!*current) *current = std::make_shared<KernelNetworkStatusSource>();
  return replacement ? previous : *current;
}

std::shared_ptr<NetworkStatusSource> networkStatusSource() { return networkStatusSourceSlot(nullptr); }

std::shared_ptr<NetworkStatusSource> setNetworkStatusSource(std::shared_ptr<NetworkStatusSource> source) {
  auto previous = networkStatusSourceSlot(&source);
  networkStatusDidChange();
  return previous;
}

void networkStatusDidChange() {
  std::vector<std::shared_ptr<SCNetworkReachability>> targets;
  {
    std::lock_guard<std::mutex> lock(scheduledMutex());
    for (const auto& e : scheduled())
      if (auto p = e.weak.lock()) targets.push_back(std::move(p));
  }
  for (const auto& t : targets) t->requestCheck();
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const sockaddr* address) {
  if (!address) return nullptr;
  ReachabilityTarget target;
  if (address->sa_family == AF_INET) {
    sockaddr_in in;
    std::memcpy(&in, address, sizeof in);
    target.kind = ReachabilityTarget::Kind::IPv4;
    std::memcpy(target.address, &in.sin_addr, 4);
  } else if (address->sa_family == AF_INET6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, address, sizeof in6);
    target.kind = ReachabilityTarget::Kind::IPv6;
    std::memcpy(target.address, &in6.sin6_addr, 16);
  } else {
    return nullptr;
  }
  return std::make_shared<SCNetworkReachability>(std::move(target));
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(const char* nodename) {
  if (!nodename || !*nodename) return nullptr;
  ReachabilityTarget target;
  target.kind = ReachabilityTarget::Kind::HostName;
  target.hostName = nodename;
  return std::make_shared<SCNetworkReachability>(std::move(target));
}

bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags* flags) {
  if (!target || !flags) return false;
  auto read = target->readFlags();
  if (!read) return false;
  *flags = *read;
  return true;
}

bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target, SCNetworkReachabilityCallBack callback,
                                      const SCNetworkReachabilityContext* context) {
  if (!target) return false;
  target->setCallback(callback, context ? context->info : nullptr);
  return true;
}

bool SCNetworkReachabilityScheduleWithRunLoop(const SCNetworkReachabilityRef& target, RunLoop& runLoop) {
  return target && target->schedule(runLoop);
}

bool SCNetworkReachabilityUnscheduleFromRunLoop(const SCNetworkReachabilityRef& target, RunLoop& runLoop) {
  return target && target->unschedule(runLoop);
}

}  // namespace plat
