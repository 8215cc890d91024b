#pragma once
// Watches whether an address can be reached, and how, through the platform's reachability
// service, and posts "kNetworkReachabilityChangedNotification" (object: this watcher) whenever
// that changes.
//
// Threads: the notifier lives on the run loop it was started on, and the notification is posted
// there. Stopping works from any thread and always unschedules from that same run loop; once it
// returns (and once the watcher is destroyed) no further callback reaches this object.
#include <netinet/in.h>

#include <memory>
#include <mutex>
#include <string>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Object.h"
#include "plat/systemconfiguration/SCNetworkReachability.h"

namespace harbor {

inline constexpr char kReachabilityChangedNotification[] = "kNetworkReachabilityChangedNotification";

enum HBRNetworkStatus : int {
  NotReachable = 0,
  ReachableViaWWAN = 1,
  ReachableViaWiFi = 2,
};

class HBRReachability : public plat::Object {
 public:
  ~HBRReachability() override;

  // Nothing when the platform cannot make a reachability object for the target.
  static std::shared_ptr<HBRReachability> reachabilityWithHostName(const std::string& hostName);
  static std::shared_ptr<HBRReachability> reachabilityWithAddress(const sockaddr_in& hostAddress);
  // The default route (0.0.0.0).
  static std::shared_ptr<HBRReachability> reachabilityForInternetConnection();
  // The link-local network (169.254.0.0), judged by the link-local rule.
  static std::shared_ptr<HBRReachability> reachabilityForLocalWiFi();

  // Starts watching on the run loop (the main one unless given); true when watching. Starting
  // again while watching changes nothing and answers true for the same run loop.
  bool startNotifier(plat::RunLoop& runLoop = plat::RunLoop::main());
  void stopNotifier();

  bool connectionRequired() const;
  HBRNetworkStatus currentReachabilityStatus() const;
  static HBRNetworkStatus networkStatusForFlags(plat::SCNetworkReachabilityFlags flags);
  static HBRNetworkStatus localWiFiStatusForFlags(plat::SCNetworkReachabilityFlags flags);

  bool localWiFiRef() const { return localWiFiRef_; }

  // The function registered with the platform; its info is the watcher (not retained).
  static void reachabilityCallback(const plat::SCNetworkReachabilityRef& target, plat::SCNetworkReachabilityFlags flags,
                                   void* info);

 private:
  static std::shared_ptr<HBRReachability> withRef(plat::SCNetworkReachabilityRef ref, bool localWiFi);

  bool localWiFiRef_ = false;
  plat::SCNetworkReachabilityRef reachabilityRef_;
  // The run loop the notifier is scheduled on, or null.
  std::mutex mutex_;
  plat::RunLoop* scheduledRunLoop_ = nullptr;
};

}  // namespace harbor
