#pragma once
// Where reachability flags come from. The kernel source reads the machine's routes and links; the
// simulated network is set by tests and the runner. Exactly one source is in force at a time.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "plat/systemconfiguration/SCNetworkReachability.h"

namespace plat {

// What a reachability object watches: an IPv4 or IPv6 address (bytes in network order), or a
// host name.
struct ReachabilityTarget {
  enum class Kind { IPv4, IPv6, HostName };
  Kind kind = Kind::IPv4;
  std::uint8_t address[16] = {};
  std::string hostName;

  bool isAnyAddress() const;     // 0.0.0.0 or ::, "the internet"
  bool isLoopback() const;       // 127.0.0.0/8, ::1 or "localhost"
  bool isIPv4LinkLocal() const;  // 169.254.0.0/16
  std::uint32_t ipv4() const;    // the IPv4 address as the kernel prints it (network-order bytes)
};

// Scheduled objects poll the source every kSCNetworkReachabilityPollInterval seconds; a source
// that knows when it changed calls networkStatusDidChange() so they look at once.
class NetworkStatusSource {
 public:
  virtual ~NetworkStatusSource() = default;
  // The flags for the target now, or nothing when they cannot be read.
  virtual std::optional<SCNetworkReachabilityFlags> flagsFor(const ReachabilityTarget& target) = 0;
};

// The source in force (the kernel's unless replaced).
std::shared_ptr<NetworkStatusSource> networkStatusSource();
// Replaces the source (null restores the kernel's) and tells every scheduled object to look
// again. Returns the previous one.
std::shared_ptr<NetworkStatusSource> setNetworkStatusSource(std::shared_ptr<NetworkStatusSource> source);
// Any thread. Every scheduled reachability object re-reads its flags on its own run loop, on a
// later turn, and calls back when they changed.
void networkStatusDidChange();

// Reads <root>/proc/net/route, <root>/proc/net/ipv6_route and <root>/sys/class/net/<link>/ (the
// root is "/" except in tests). A target is reachable through the best up route that covers it,
// over a link that is up; directly when that route has no gateway; through the wide-area network
// when the link is a WWAN device. Wi-Fi and wired links are alike here, as they are to the
// platform's flags.
class KernelNetworkStatusSource : public NetworkStatusSource {
 public:
  explicit KernelNetworkStatusSource(std::string root = "/");
  std::optional<SCNetworkReachabilityFlags> flagsFor(const ReachabilityTarget& target) override;

 private:
  bool linkIsUp(const std::string& link) const;
  bool linkIsWWAN(const std::string& link) const;
  std::string root_;
};

// A network that is what it is told to be. Its flags start as a Wi-Fi network (reachable,
// not wide-area); every change is announced to the scheduled objects.
class SimulatedNetwork : public NetworkStatusSource {
 public:
  static constexpr SCNetworkReachabilityFlags kWiFi = kSCNetworkReachabilityFlagsReachable;
  static constexpr SCNetworkReachabilityFlags kCellular =
      kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsWWAN;
  static constexpr SCNetworkReachabilityFlags kOffline = 0;

  // The flags of the default route (and of every other remote target), and of the link-local
  // network 169.254.0.0/16.
  void setFlags(SCNetworkReachabilityFlags internet, SCNetworkReachabilityFlags localLink = 0);
  // An unreadable network makes every flag read fail.
  void setReadable(bool readable);

  std::optional<SCNetworkReachabilityFlags> flagsFor(const ReachabilityTarget& target) override;

 private:
  std::mutex mutex_;
  SCNetworkReachabilityFlags internet_ = kWiFi;
  SCNetworkReachabilityFlags localLink_ = 0;
  bool readable_ = true;
};

}  // namespace plat
