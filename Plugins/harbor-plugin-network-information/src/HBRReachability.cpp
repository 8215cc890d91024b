#include "HBRReachability.h"

#include <arpa/inet.h>

#include "plat/foundation/Log.h"
#include "plat/foundation/NSNotificationCenter.h"

namespace harbor {

namespace {

sockaddr_in ipv4Address(const char* dotted) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, dotted, &address.sin_addr);
  return address;
}

}  // namespace

std::shared_ptr<HBRReachability> HBRReachability::withRef(plat::SCNetworkReachabilityRef ref, bool localWiFi) {
  if (!ref) return nullptr;
  auto reachability = std::make_shared<HBRReachability>();
  reachability->reachabilityRef_ = std::move(ref);
  reachability->localWiFiRef_ = localWiFi;
  return reachability;
}

std::shared_ptr<HBRReachability> HBRReachability::reachabilityWithHostName(const std::string& hostName) {
  return withRef(plat::SCNetworkReachabilityCreateWithName(hostName.c_str()), false);
}

std::shared_ptr<HBRReachability> HBRReachability::reachabilityWithAddress(const sockaddr_in& hostAddress) {
  return withRef(plat::SCNetworkReachabilityCreateWithAddress(reinterpret_cast<const sockaddr*>(&hostAddress)), false);
}

std::shared_ptr<HBRReachability> HBRReachability::reachabilityForInternetConnection() {
  return reachabilityWithAddress(ipv4Address("0.0.0.0"));
}

std::shared_ptr<HBRReachability> HBRReachability::reachabilityForLocalWiFi() {
  auto reachability = reachabilityWithAddress(ipv4Address("169.254.0.0"));
  if (reachability) reachability->localWiFiRef_ = true;
  return reachability;
}

HBRReachability::~HBRReachability() {
  stopNotifier();
  if (reachabilityRef_) plat::SCNetworkReachabilitySetCallback(reachabilityRef_, nullptr, nullptr);
}

bool HBRReachability::startNotifier(plat::RunLoop& runLoop) {
  if (!reachabilityRef_) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (scheduledRunLoop_) return scheduledRunLoop_ == &runLoop;
  plat::SCNetworkReachabilityContext context{static_cast<plat::Object*>(this)};
  if (!plat::SCNetworkReachabilitySetCallback(reachabilityRef_, &HBRReachability::reachabilityCallback, &context))
    return false;
  if (!plat::SCNetworkReachabilityScheduleWithRunLoop(reachabilityRef_, runLoop)) return false;
  scheduledRunLoop_ = &runLoop;
  return true;
}

void HBRReachability::stopNotifier() {
  plat::RunLoop* loop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    loop = scheduledRunLoop_;
    scheduledRunLoop_ = nullptr;
  }
  // Outside the lock: unscheduling waits for a callback running on the other thread, and that
  // callback may itself stop this notifier.
  if (loop && reachabilityRef_) plat::SCNetworkReachabilityUnscheduleFromRunLoop(reachabilityRef_, *loop);
}

bool HBRReachability::connectionRequired() const {
  if (!reachabilityRef_) {
    plat::NSLog("connectionRequired called with NULL reachabilityRef");
    return false;
  }
  plat::SCNetworkReachabilityFlags flags = 0;
  return plat::SCNetworkReachabilityGetFlags(reachabilityRef_, &flags) &&
         (flags & plat::kSCNetworkReachabilityFlagsConnectionRequired);
}

HBRNetworkStatus HBRReachability::currentReachabilityStatus() const {
  if (!reachabilityRef_) {
    plat::NSLog("currentNetworkStatus called with NULL reachabilityRef");
    return NotReachable;
  }
  plat::SCNetworkReachabilityFlags flags = 0;
  if (!plat::SCNetworkReachabilityGetFlags(reachabilityRef_, &flags)) return NotReachable;
  return localWiFiRef_ ? localWiFiStatusForFlags(flags) : networkStatusForFlags(flags);
}

HBRNetworkStatus HBRReachability::networkStatusForFlags(plat::SCNetworkReachabilityFlags flags) {
  if (!(flags & plat::kSCNetworkReachabilityFlagsReachable)) return NotReachable;
  if (flags & plat::kSCNetworkReachabilityFlagsIsWWAN) return ReachableViaWWAN;
  // A connection made on demand or on traffic needs no user: as good as there.
  if (!(flags & plat::kSCNetworkReachabilityFlagsInterventionRequired) &&
      (flags &
       (plat::kSCNetworkReachabilityFlagsConnectionOnTraffic | plat::kSCNetworkReachabilityFlagsConnectionOnDemand)))
    return ReachableViaWiFi;
  return (flags & plat::kSCNetworkReachabilityFlagsConnectionRequired) ? NotReachable : ReachableViaWiFi;
}

HBRNetworkStatus HBRReachability::localWiFiStatusForFlags(plat::SCNetworkReachabilityFlags flags) {
  const auto both = plat::kSCNetworkReachabilityFlagsReachable | plat::kSCNetworkReachabilityFlagsIsDirect;
  return (flags & both) == both ? ReachableViaWiFi : NotReachable;
}

void HBRReachability::reachabilityCallback(const plat::SCNetworkReachabilityRef& target,
                                           plat::SCNetworkReachabilityFlags flags, void* info) {
  if (!info) {
    plat::NSLog("info was NULL in ReachabilityCallback");
    return;
  }
  auto* reachability = dynamic_cast<HBRReachability*>(static_cast<plat::Object*>(info));
  if (!reachability) {
    plat::NSLog("info was wrong class in ReachabilityCallback");
    return;
  }
  // A watcher already on its way out has nobody left to tell.
  auto self = std::static_pointer_cast<HBRReachability>(reachability->weak_from_this().lock());
  if (!self) return;
  plat::NSNotificationCenter::defaultCenter().post(kReachabilityChangedNotification, self);
}

}  // namespace harbor
