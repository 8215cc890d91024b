// Reachability flags from the kernel's tables and from the simulated network, and the notifier's
// scheduling rules.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "plat/systemconfiguration/NetworkStatusSource.h"
#include "plat/systemconfiguration/SCNetworkReachability.h"
#include "plat/testing/PlatformTest.h"

using namespace plat;
namespace fs = std::filesystem;

namespace {

SCNetworkReachabilityRef forIPv4(const char* dotted) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, dotted, &a.sin_addr);
  return SCNetworkReachabilityCreateWithAddress(reinterpret_cast<const sockaddr*>(&a));
}

SCNetworkReachabilityRef forIPv6(const char* text) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  inet_pton(AF_INET6, text, &a.sin6_addr);
  return SCNetworkReachabilityCreateWithAddress(reinterpret_cast<const sockaddr*>(&a));
}

std::optional<SCNetworkReachabilityFlags> flagsOf(const SCNetworkReachabilityRef& target) {
  SCNetworkReachabilityFlags flags = 0xFFFFFFFF;
  if (!SCNetworkReachabilityGetFlags(target, &flags)) return std::nullopt;
  return flags;
}

// A fake /proc and /sys under a temporary folder.
class FakeKernel {
 public:
  FakeKernel() {
    root_ = fs::temp_directory_path() / ("harbor-net-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::remove_all(root_);
    fs::create_directories(root_ / "proc/net");
    fs::create_directories(root_ / "sys/class/net");
  }
  ~FakeKernel() { fs::remove_all(root_); }

  void routes(const std::string& lines) {
    write("proc/net/route",
          "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n" + lines);
  }
  void ipv6Routes(const std::string& lines) { write("proc/net/ipv6_route", lines); }
  void link(const std::string& name, const std::string& operstate, const std::string& devtype = "",
            const std::string& flags = "0x1003") {
    fs::create_directories(root_ / "sys/class/net" / name);
    write("sys/class/net/" + name + "/operstate", operstate + "\n");
    write("sys/class/net/" + name + "/flags", flags + "\n");
    write("sys/class/net/" + name + "/uevent",
          "INTERFACE=" + name + "\n" + (devtype.empty() ? "" : "DEVTYPE=" + devtype + "\n"));
  }
  std::string root() const { return root_.string(); }

 private:
  void write(const std::string& rel, const std::string& text) { std::ofstream(root_ / rel) << text; }
  fs::path root_;
  static inline int counter_ = 0;
};

constexpr SCNetworkReachabilityFlags R = kSCNetworkReachabilityFlagsReachable;
constexpr SCNetworkReachabilityFlags D = kSCNetworkReachabilityFlagsIsDirect;
constexpr SCNetworkReachabilityFlags W = kSCNetworkReachabilityFlagsIsWWAN;
constexpr SCNetworkReachabilityFlags L = kSCNetworkReachabilityFlagsIsLocalAddress;

// eth0: 192.168.1.0/24 directly, default through 192.168.1.1.
const char* kEthernetRoutes =
    "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
    "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";

// Records callbacks; the context is the record.
struct Calls {
  std::vector<SCNetworkReachabilityFlags> flags;
  static void callback(const SCNetworkReachabilityRef&, SCNetworkReachabilityFlags f, void* info) {
    static_cast<Calls*>(info)->flags.push_back(f);
  }
};

class Reachability : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    network = std::make_shared<SimulatedNetwork>();
    setNetworkStatusSource(network);
    runUntilIdle();
  }
  void TearDown() override {
    setNetworkStatusSource(nullptr);
    PlatformTest::TearDown();
  }
  SCNetworkReachabilityRef watched(Calls& calls, RunLoop& loop = RunLoop::main()) {
    auto target = forIPv4("0.0.0.0");
    SCNetworkReachabilityContext context{&calls};
    EXPECT_TRUE(SCNetworkReachabilitySetCallback(target, &Calls::callback, &context));
    EXPECT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, loop));
    return target;
  }
  std::shared_ptr<SimulatedNetwork> network;
};

}  // namespace

TEST(KernelNetworkStatus, FlagsFollowTheRouteTableAndTheLinks) {
  struct Case {
    const char* name;
    std::string routes;
    std::string ipv6;
    std::vector<std::array<std::string, 2>> links;  // name, operstate / devtype as "up:wwan"
    SCNetworkReachabilityFlags internet;
    SCNetworkReachabilityFlags lan;        // 192.168.1.20
    SCNetworkReachabilityFlags linkLocal;  // 169.254.0.0
  };
  const Case cases[] = {
      {"wired default route", kEthernetRoutes, "", {{"eth0", "up"}}, R, R | D, R},
      {"link down", kEthernetRoutes, "", {{"eth0", "down"}}, 0, 0, 0},
      {"no routes at all", "", "", {}, 0, 0, 0},
      {"only a local network",
       "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n",
       "",
       {{"eth0", "up"}},
       0,
       R | D,
       0},
      {"cellular modem",
       "wwan0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n",
       "",
       {{"wwan0", "up:wwan"}},
       R | W,
       R | W,
       R | W},
      {"route not up", "eth0\t00000000\t0101A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n", "", {{"eth0", "up"}}, 0, 0, 0},
      {"tunnel with unknown state but running",
       "tun0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n",
       "",
       {{"tun0", "unknown"}},
       R,
       R,
       R},
      {"lower metric wins",
       std::string("wwan0\t00000000\t00000000\t0001\t0\t0\t700\t00000000\t0\t0\t0\n") + kEthernetRoutes,
       "",
       {{"eth0", "up"}, {"wwan0", "up:wwan"}},
       R,
       R | D,
       R},
      {"IPv6-only default route",
       "",
       "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fe800000000000000000000000000001 "
       "00000400 00000001 00000000 00000003 eth0\n",
       {{"eth0", "up"}},
       R,
       0,
       0},
      {"IPv6 unreachable default on lo is ignored",
       "",
       "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 "
       "ffffffff 00000001 00000000 00200200 lo\n",
       {},
       0,
       0,
       0},
      {"garbage lines are skipped",
       std::string("junk\n\teth0\tZZ\n") + kEthernetRoutes,
       "garbage\n",
       {{"eth0", "up"}},
       R,
       R | D,
       R},
  };
  for (const auto& c : cases) {
    FakeKernel kernel;
    kernel.routes(c.routes);
    kernel.ipv6Routes(c.ipv6);
    for (const auto& [name, state] : c.links) {
      auto colon = state.find(':');
      kernel.link(name, state.substr(0, colon), colon == std::string::npos ? "" : state.substr(colon + 1),
                  state == "unknown" ? "0x1043" : "0x1003");
    }
    setNetworkStatusSource(std::make_shared<KernelNetworkStatusSource>(kernel.root()));
    EXPECT_EQ(flagsOf(forIPv4("0.0.0.0")), c.internet) << c.name;
    EXPECT_EQ(flagsOf(forIPv4("192.168.1.20")), c.lan) << c.name;
    EXPECT_EQ(flagsOf(forIPv4("169.254.0.0")), c.linkLocal) << c.name;
    EXPECT_EQ(flagsOf(SCNetworkReachabilityCreateWithName("example.org")), c.internet) << c.name;
    EXPECT_EQ(flagsOf(forIPv6("::")), c.internet) << c.name;
    // The local host is always there.
    EXPECT_EQ(flagsOf(forIPv4("127.0.0.1")), R | L | D) << c.name;
    EXPECT_EQ(flagsOf(forIPv6("::1")), R | L | D) << c.name;
    EXPECT_EQ(flagsOf(SCNetworkReachabilityCreateWithName("localhost")), R | L | D) << c.name;
  }
  setNetworkStatusSource(nullptr);
}

TEST(KernelNetworkStatus, ReadsTheRealMachineWithoutFailing) {
  setNetworkStatusSource(nullptr);
  EXPECT_TRUE(flagsOf(forIPv4("0.0.0.0")).has_value());
}

TEST(KernelNetworkStatus, OnlyIPAddressesAndNonEmptyNamesMakeObjects) {
  sockaddr unix{};
  unix.sa_family = AF_UNIX;
  EXPECT_EQ(SCNetworkReachabilityCreateWithAddress(&unix), nullptr);
  EXPECT_EQ(SCNetworkReachabilityCreateWithAddress(nullptr), nullptr);
  EXPECT_EQ(SCNetworkReachabilityCreateWithName(""), nullptr);
  EXPECT_EQ(SCNetworkReachabilityCreateWithName(nullptr), nullptr);
}

TEST_F(Reachability, TheSimulatedNetworkGivesItsFlagsAndCanBeUnreadable) {
  network->setFlags(SimulatedNetwork::kCellular, R | D);
  EXPECT_EQ(flagsOf(forIPv4("0.0.0.0")), R | W);
  EXPECT_EQ(flagsOf(forIPv4("169.254.0.0")), R | D);
  EXPECT_EQ(flagsOf(forIPv4("8.8.8.8")), R | W);
  network->setReadable(false);
  EXPECT_EQ(flagsOf(forIPv4("0.0.0.0")), std::nullopt);
}

TEST_F(Reachability, TheCallbackRunsOnceForEachRealChange) {
  Calls calls;
  auto target = watched(calls);
  network->setFlags(SimulatedNetwork::kWiFi);  // the baseline already
  runUntilIdle();
  EXPECT_TRUE(calls.flags.empty());

  network->setFlags(SimulatedNetwork::kCellular);
  network->setFlags(SimulatedNetwork::kCellular);
  runUntilIdle();
  EXPECT_EQ(calls.flags, std::vector<SCNetworkReachabilityFlags>{R | W});

  // Unreadable flags are no change; readable again with other flags is one.
  network->setReadable(false);
  runUntilIdle();
  network->setFlags(SimulatedNetwork::kOffline);
  network->setReadable(true);
  runUntilIdle();
  EXPECT_EQ(calls.flags, (std::vector<SCNetworkReachabilityFlags>{R | W, 0}));
}

TEST_F(Reachability, ASourceThatDoesNotAnnounceChangesIsPolled) {
  struct Quiet : NetworkStatusSource {
    SCNetworkReachabilityFlags flags = R;
    std::optional<SCNetworkReachabilityFlags> flagsFor(const ReachabilityTarget&) override { return flags; }
  };
  auto quiet = std::make_shared<Quiet>();
  setNetworkStatusSource(quiet);
  Calls calls;
  auto target = watched(calls);
  quiet->flags = R | W;
  runUntilIdle();
  EXPECT_TRUE(calls.flags.empty());
  advance(kSCNetworkReachabilityPollInterval);
  EXPECT_EQ(calls.flags, std::vector<SCNetworkReachabilityFlags>{R | W});
}

TEST_F(Reachability, SchedulingIsOnOneRunLoopAtATimeAndOnlyOnce) {
  Calls calls;
  auto target = watched(calls);
  RunLoop other;
  EXPECT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, RunLoop::main())) << "again: no change";
  EXPECT_FALSE(SCNetworkReachabilityScheduleWithRunLoop(target, other));
  EXPECT_FALSE(SCNetworkReachabilityUnscheduleFromRunLoop(target, other));

  network->setFlags(SimulatedNetwork::kCellular);
  runUntilIdle();
  EXPECT_EQ(calls.flags.size(), 1u) << "scheduled twice, called once";

  EXPECT_TRUE(SCNetworkReachabilityUnscheduleFromRunLoop(target, RunLoop::main()));
  EXPECT_FALSE(SCNetworkReachabilityUnscheduleFromRunLoop(target, RunLoop::main()));
  network->setFlags(SimulatedNetwork::kOffline);
  advance(kSCNetworkReachabilityPollInterval * 2);
  EXPECT_EQ(calls.flags.size(), 1u);

  // Scheduled again, the flags at that moment are the new baseline.
  EXPECT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, RunLoop::main()));
  network->setFlags(SimulatedNetwork::kOffline);
  runUntilIdle();
  EXPECT_EQ(calls.flags.size(), 1u);
}

TEST_F(Reachability, UnschedulingFromAnotherThreadCancelsChecksAlreadyQueued) {
  Calls calls;
  RunLoop other;
  auto target = watched(calls, other);
  network->setFlags(SimulatedNetwork::kCellular);  // a check is now queued on `other`
  ASSERT_TRUE(other.hasReadyWork());
  std::thread([&] { EXPECT_TRUE(SCNetworkReachabilityUnscheduleFromRunLoop(target, other)); }).join();
  other.runUntilIdle();
  EXPECT_TRUE(calls.flags.empty());
}

TEST_F(Reachability, DestroyingAScheduledObjectLeavesNothingBehind) {
  Calls calls;
  RunLoop other;
  {
    auto target = watched(calls, other);
    network->setFlags(SimulatedNetwork::kCellular);
  }
  other.runUntilIdle();
  clock_->advance(kSCNetworkReachabilityPollInterval * 3);
  other.runUntilIdle();
  EXPECT_TRUE(calls.flags.empty());
  EXPECT_LT(other.nextTimerDate(), 0) << "the poll timer went with the object";
}

TEST_F(Reachability, TheCallbackMayUnscheduleItsOwnObject) {
  struct Self {
    SCNetworkReachabilityRef target;
    int calls = 0;
    static void callback(const SCNetworkReachabilityRef& t, SCNetworkReachabilityFlags, void* info) {
      auto* s = static_cast<Self*>(info);
      ++s->calls;
      SCNetworkReachabilityUnscheduleFromRunLoop(t, RunLoop::main());
    }
  } self;
  self.target = forIPv4("0.0.0.0");
  SCNetworkReachabilityContext context{&self};
  SCNetworkReachabilitySetCallback(self.target, &Self::callback, &context);
  SCNetworkReachabilityScheduleWithRunLoop(self.target, RunLoop::main());
  network->setFlags(SimulatedNetwork::kCellular);
  runUntilIdle();
  network->setFlags(SimulatedNetwork::kOffline);
  runUntilIdle();
  EXPECT_EQ(self.calls, 1);
}
