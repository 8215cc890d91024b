#pragma once
// Network reachability of an address or a host name: the flags that say whether, and how, the
// target can be reached now, and a notifier that calls back on a run loop when they change.
//
// The flags come from the network status source in force (NetworkStatusSource.h): the kernel's
// route table and links by default, or a simulated network set by tests and the runner.
//
// Threads: creation, flag reads and (un)scheduling from any thread. The callback runs on the
// thread of the run loop the object is scheduled on. Once Unschedule returns, from whichever
// thread, no callback for that object is running or will run; destroying the object unschedules
// it too.
#include <sys/socket.h>

#include <cstdint>
#include <memory>

#include "plat/dispatch/RunLoop.h"

namespace plat {

using SCNetworkReachabilityFlags = std::uint32_t;

inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsTransientConnection = 1u << 0;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsReachable = 1u << 1;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionRequired = 1u << 2;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionOnTraffic = 1u << 3;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsInterventionRequired = 1u << 4;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionOnDemand = 1u << 5;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsLocalAddress = 1u << 16;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsDirect = 1u << 17;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsWWAN = 1u << 18;

class SCNetworkReachability;
using SCNetworkReachabilityRef = std::shared_ptr<SCNetworkReachability>;

// The info pointer is handed back to the callback as it is; it is not retained.
struct SCNetworkReachabilityContext {
  void* info = nullptr;
};

using SCNetworkReachabilityCallBack = void (*)(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags flags,
                                               void* info);

// An object watching an IPv4 or IPv6 socket address; null for any other family.
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const sockaddr* address);
// An object watching a host name (UTF-8); null for an empty name. Names are never resolved:
// a name is as reachable as the default route (or the local host, for "localhost").
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(const char* nodename);

// False when the flags cannot be read now.
bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags* flags);
// Replaces the callback (null removes it) and its context.
bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target, SCNetworkReachabilityCallBack callback,
                                      const SCNetworkReachabilityContext* context);
// Schedules the notifier on a run loop. An object lives on one run loop at a time: scheduling
// again on the same loop changes nothing and succeeds, on another loop it fails. The flags at
// scheduling time are the baseline; the callback runs when they differ from the last ones seen.
bool SCNetworkReachabilityScheduleWithRunLoop(const SCNetworkReachabilityRef& target, RunLoop& runLoop);
// False when the object is not scheduled on that loop.
bool SCNetworkReachabilityUnscheduleFromRunLoop(const SCNetworkReachabilityRef& target, RunLoop& runLoop);

// How often scheduled objects re-read the flags of a source that does not announce its changes.
inline constexpr double kSCNetworkReachabilityPollInterval = 2.0;

}  // namespace plat
