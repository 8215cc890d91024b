#include "plat/systemconfiguration/NetworkStatusSource.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "plat/foundation/Strings.h"

namespace plat {
namespace {

constexpr unsigned kRouteUp = 0x0001;       // RTF_UP
constexpr unsigned kRouteGateway = 0x0002;  // RTF_GATEWAY
constexpr unsigned kRouteReject = 0x0200;   // RTF_REJECT: "unreachable" routes
constexpr unsigned kLinkUp = 0x1;           // IFF_UP
constexpr unsigned kLinkRunning = 0x40;     // IFF_RUNNING

constexpr SCNetworkReachabilityFlags kLocalFlags = kSCNetworkReachabilityFlagsReachable |
                                                   kSCNetworkReachabilityFlagsIsLocalAddress |
                                                   kSCNetworkReachabilityFlagsIsDirect;

struct Route {
  std::string link;
  bool ipv6 = false;
  std::uint32_t destination = 0;  // IPv4 only, as the kernel prints it
  std::uint32_t mask = 0;
  int prefixLength = 0;
  bool defaultRoute = false;
  unsigned flags = 0;
  unsigned long metric = 0;
};

std::optional<std::string> readFirstLine(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  return line;
}

bool parseHex(const std::string& text, unsigned long& out) {
  if (text.empty() || text.size() > 16) return false;
  out = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    out = out * 16 + static_cast<unsigned long>(d);
  }
  return true;
}

// "Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT", one route a line.
std::vector<Route> readIPv4Routes(const std::string& path) {
  std::vector<Route> routes;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string link, dest, gateway, flags, refcnt, use, metric, mask;
    if (!(fields >> link >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
    unsigned long d, f, m, mk;
    if (!parseHex(dest, d) || !parseHex(flags, f) || !parseHex(mask, mk)) continue;
    m = std::strtoul(metric.c_str(), nullptr, 10);
    Route r;
    r.link = link;
    r.destination = static_cast<std::uint32_t>(d);
    r.mask = static_cast<std::uint32_t>(mk);
    r.prefixLength = __builtin_popcount(r.mask);
    r.defaultRoute = r.destination == 0 && r.mask == 0;
    r.flags = static_cast<unsigned>(f);
    r.metric = m;
    routes.push_back(std::move(r));
  }
  return routes;
}

// "dest destlen src srclen nexthop metric refcnt use flags iface", hex fields, no header.
std::vector<Route> readIPv6Routes(const std::string& path) {
  std::vector<Route> routes;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string dest, destLen, src, srcLen, nextHop, metric, refcnt, use, flags, link;
    if (!(fields >> dest >> destLen >> src >> srcLen >> nextHop >> metric >> refcnt >> use >> flags >> link)) continue;
    unsigned long len, f, m;
    if (!parseHex(destLen, len) || !parseHex(flags, f) || !parseHex(metric, m)) continue;
    Route r;
    r.link = link;
    r.ipv6 = true;
    r.prefixLength = static_cast<int>(len);
    r.defaultRoute = len == 0 && dest == std::string(32, '0');
    r.flags = static_cast<unsigned>(f);
    r.metric = m;
    routes.push_back(std::move(r));
  }
  return routes;
}

}  // namespace

bool ReachabilityTarget::isAnyAddress() const {
  if (kind == Kind::HostName) return false;
  std::size_t n = kind == Kind::IPv4 ? 4 : 16;
  return std::all_of(address, address + n, [](std::uint8_t b) { return b == 0; });
}

bool ReachabilityTarget::isLoopback() const {
  switch (kind) {
    case Kind::IPv4:
      return address[0] == 127;
    case Kind::IPv6:
      return std::all_of(address, address + 15, [](std::uint8_t b) { return b == 0; }) && address[15] == 1;
    case Kind::HostName:
      return hostName == "localhost";
  }
  return false;
}

bool ReachabilityTarget::isIPv4LinkLocal() const {
  return kind == Kind::IPv4 && address[0] == 169 && address[1] == 254;
}

std::uint32_t ReachabilityTarget::ipv4() const {
  std::uint32_t v;
  std::memcpy(&v, address, 4);
  return v;
}

KernelNetworkStatusSource::KernelNetworkStatusSource(std::string root) : root_(std::move(root)) {
  if (root_.empty() || root_.back() != '/') root_ += '/';
}

bool KernelNetworkStatusSource::linkIsUp(const std::string& link) const {
  std::string dir = root_ + "sys/class/net/" + link + "/";
  auto state = readFirstLine(dir + "operstate");
  // Without sysfs the route's presence is all there is to go by.
  if (!state) return true;
  if (*state == "up") return true;
  if (*state != "unknown") return false;
  // Tunnels and point-to-point links report no state; their flags still say up and running.
  unsigned long flags = 0;
  auto text = readFirstLine(dir + "flags");
  if (!text) return false;
  std::string hex = *text;
  if (startsWith(hex, "0x")) hex = hex.substr(2);
  return parseHex(hex, flags) && (flags & kLinkUp) && (flags & kLinkRunning);
}

bool KernelNetworkStatusSource::linkIsWWAN(const std::string& link) const {
  std::ifstream in(root_ + "sys/class/net/" + link + "/uevent");
  std::string line;
  while (std::getline(in, line))
    if (line == "DEVTYPE=wwan") return true;
  return startsWith(link, "wwan");
}

std::optional<SCNetworkReachabilityFlags> KernelNetworkStatusSource::flagsFor(const ReachabilityTarget& target) {
  if (target.isLoopback()) return kLocalFlags;

  std::vector<Route> routes = readIPv4Routes(root_ + "proc/net/route");
  std::vector<Route> v6 = readIPv6Routes(root_ + "proc/net/ipv6_route");
  routes.insert(routes.end(), v6.begin(), v6.end());

  // The best usable route that covers the target: longest prefix, then lowest metric. An IPv4
  // address is matched against the IPv4 table; the "any" address, names and IPv6 addresses go by
  // the default routes of either family (IPv6 tables are not matched by prefix here).
  const Route* best = nullptr;
  for (const Route& r : routes) {
    if (!(r.flags & kRouteUp) || (r.flags & kRouteReject) || r.link == "lo") continue;
    bool covers;
    if (target.kind == ReachabilityTarget::Kind::IPv4 && !target.isAnyAddress())
      covers = !r.ipv6 && (target.ipv4() & r.mask) == r.destination;
    else
      covers = r.defaultRoute;
    if (!covers || !linkIsUp(r.link)) continue;
    if (!best || r.prefixLength > best->prefixLength ||
        (r.prefixLength == best->prefixLength && r.metric < best->metric))
      best = &r;
  }
  if (!best) return SCNetworkReachabilityFlags{0};

  SCNetworkReachabilityFlags flags = kSCNetworkReachabilityFlagsReachable;
  if (!best->defaultRoute && !(best->flags & kRouteGateway)) flags |= kSCNetworkReachabilityFlagsIsDirect;
  if (linkIsWWAN(best->link)) flags |= kSCNetworkReachabilityFlagsIsWWAN;
  return flags;
}

void SimulatedNetwork::setFlags(SCNetworkReachabilityFlags internet, SCNetworkReachabilityFlags localLink) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    internet_ = internet;
    localLink_ = localLink;
  }
  networkStatusDidChange();
}

void SimulatedNetwork::setReadable(bool readable) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    readable_ = readable;
  }
  networkStatusDidChange();
}

std::optional<SCNetworkReachabilityFlags> SimulatedNetwork::flagsFor(const ReachabilityTarget& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!readable_) return std::nullopt;
  if (target.isLoopback()) return kLocalFlags;
  if (target.isIPv4LinkLocal()) return localLink_;
  return internet_;
}

}  // namespace plat
