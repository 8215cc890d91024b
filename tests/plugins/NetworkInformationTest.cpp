// The connection type from reachability flags and the radio technology, reported once per real
// change, paused in the background; and the reachability watcher's notifier.
#include <gtest/gtest.h>

#include <thread>

#include "HBRConnection.h"
#include "NetworkInformationPlugin.h"
#include "plat/coretelephony/CTTelephonyNetworkInfo.h"
#include "plat/systemconfiguration/NetworkStatusSource.h"
#include "plat/uikit/UIDevice.h"
#include "support/PluginTest.h"

using namespace harbor;
using harbor::testing::PageCallback;
using plat::Array;
using plat::Value;

namespace {

constexpr plat::SCNetworkReachabilityFlags R = plat::kSCNetworkReachabilityFlagsReachable;
constexpr plat::SCNetworkReachabilityFlags W = plat::kSCNetworkReachabilityFlagsIsWWAN;
constexpr plat::SCNetworkReachabilityFlags D = plat::kSCNetworkReachabilityFlagsIsDirect;
constexpr plat::SCNetworkReachabilityFlags CR = plat::kSCNetworkReachabilityFlagsConnectionRequired;
constexpr plat::SCNetworkReachabilityFlags OT = plat::kSCNetworkReachabilityFlagsConnectionOnTraffic;
constexpr plat::SCNetworkReachabilityFlags OD = plat::kSCNetworkReachabilityFlagsConnectionOnDemand;
constexpr plat::SCNetworkReachabilityFlags IR = plat::kSCNetworkReachabilityFlagsInterventionRequired;

class NetworkTest : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerNetworkInformationPlugin();
    plat::UIDevice::resetCurrentDevice();
    network = std::make_shared<plat::SimulatedNetwork>();
    plat::setNetworkStatusSource(network);
    plat::SimulatedRadio::setRadioAccessTechnology(std::nullopt);
    runUntilIdle();
  }
  void TearDown() override {
    plat::setNetworkStatusSource(nullptr);
    plat::SimulatedRadio::setRadioAccessTechnology(std::nullopt);
    plat::UIDevice::resetCurrentDevice();
    PluginTest::TearDown();
  }
  std::shared_ptr<HBRConnection> start() { return create<HBRConnection>("HBRConnection", "NetworkStatus"); }
  // The type names reported since the last call.
  std::vector<std::string> reports() {
    std::vector<std::string> types;
    for (const auto& c : takeCallbacks()) {
      EXPECT_EQ(c.status, 1);
      EXPECT_TRUE(c.keepCallback);
      types.push_back(c.message.stringOr("<not a string>"));
    }
    return types;
  }
  using Types = std::vector<std::string>;
  std::shared_ptr<plat::SimulatedNetwork> network;
};

}  // namespace

TEST(ReachabilityStatus, FlagsToStatus) {
  struct Case {
    plat::SCNetworkReachabilityFlags flags;
    HBRNetworkStatus network;
    HBRNetworkStatus localWiFi;
  };
  const Case cases[] = {
      {0, NotReachable, NotReachable},
      {W, NotReachable, NotReachable},
      {R, ReachableViaWiFi, NotReachable},
      {R | W, ReachableViaWWAN, NotReachable},
      {R | W | CR, ReachableViaWWAN, NotReachable},
      {R | CR, NotReachable, NotReachable},
      {R | CR | OT, ReachableViaWiFi, NotReachable},
      {R | CR | OD, ReachableViaWiFi, NotReachable},
      {R | CR | OD | IR, NotReachable, NotReachable},
      {R | OD | IR, ReachableViaWiFi, NotReachable},
      {R | D, ReachableViaWiFi, ReachableViaWiFi},
      {D, NotReachable, NotReachable},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HBRReachability::networkStatusForFlags(c.flags), c.network) << std::hex << c.flags;
    EXPECT_EQ(HBRReachability::localWiFiStatusForFlags(c.flags), c.localWiFi) << std::hex << c.flags;
  }
}

TEST_F(NetworkTest, TheTypeFollowsTheFlagsTheRadioAndTheSystemVersion) {
  struct Case {
    plat::SCNetworkReachabilityFlags flags;
    std::optional<std::string> radio;
    const char* systemVersion;
    const char* type;
  };
  using namespace plat;
  const Case cases[] = {
      {R, std::nullopt, "9.3", "wifi"},
      {R, CTRadioAccessTechnologyLTE, "9.3", "wifi"},  // Wi-Fi wins over the radio
      {0, std::nullopt, "9.3", "none"},
      {R | CR, std::nullopt, "9.3", "none"},
      {R | W | CR, CTRadioAccessTechnologyLTE, "9.3", "none"},
      {R | W, CTRadioAccessTechnologyGPRS, "9.3", "2g"},
      {R | W, CTRadioAccessTechnologyEdge, "9.3", "2g"},
      {R | W, CTRadioAccessTechnologyWCDMA, "9.3", "3g"},
      {R | W, CTRadioAccessTechnologyHSDPA, "9.3", "3g"},
      {R | W, CTRadioAccessTechnologyHSUPA, "9.3", "3g"},
      {R | W, CTRadioAccessTechnologyCDMA1x, "9.3", "3g"},
      {R | W, CTRadioAccessTechnologyCDMAEVDORev0, "9.3", "3g"},
      {R | W, CTRadioAccessTechnologyCDMAEVDORevA, "9.3", "3g"},
      {R | W, CTRadioAccessTechnologyCDMAEVDORevB, "9.3", "3g"},
      {R | W, CTRadioAccessTechnologyeHRPD, "9.3", "3g"},
      {R | W, CTRadioAccessTechnologyLTE, "9.3", "4g"},
      {R | W, std::string("CTRadioAccessTechnologyNRNSA"), "9.3", "cellular"},
      {R | W, std::nullopt, "9.3", "cellular"},
      {R | W, CTRadioAccessTechnologyLTE, "7.0", "4g"},
      {R | W, CTRadioAccessTechnologyLTE, "6.1.3", "cellular"},  // no radio technology before 7.0
      {R | W, CTRadioAccessTechnologyLTE, "10.0", "4g"},         // compared as numbers, not text
  };
  for (const auto& c : cases) {
    network->setFlags(c.flags);
    plat::SimulatedRadio::setRadioAccessTechnology(c.radio);
    plat::UIDevice::currentDevice()->setSystemVersion(c.systemVersion);
    auto plugin = start();
    ASSERT_TRUE(plugin);
    exec("NetworkStatus", "getConnectionInfo", {}, "net1");
    auto callbacks = takeCallbacks();
    ASSERT_EQ(callbacks.size(), 1u);
    EXPECT_EQ(callbacks[0].callbackId, "net1");
    EXPECT_EQ(callbacks[0].message, Value(c.type))
        << std::hex << c.flags << " " << c.radio.value_or("-") << " " << c.systemVersion;
    EXPECT_TRUE(callbacks[0].keepCallback);
    EXPECT_TRUE(plugin->isCellularConnection(c.type) ==
                (std::string(c.type) == "2g" || std::string(c.type) == "3g" || std::string(c.type) == "4g" ||
                 std::string(c.type) == "cellular"));
  }
}

TEST_F(NetworkTest, OneReportPerRealChangeToTheLatestCallback) {
  plat::SimulatedRadio::setRadioAccessTechnology(plat::CTRadioAccessTechnologyLTE);
  auto plugin = start();
  exec("NetworkStatus", "getConnectionInfo", {}, "first");
  EXPECT_EQ(reports(), Types{"wifi"});

  network->setFlags(R | W);
  network->setFlags(R | W);
  runUntilIdle();
  EXPECT_EQ(reports(), Types{"4g"});

  // Different flags, same type: nothing to tell.
  network->setFlags(R | W | plat::kSCNetworkReachabilityFlagsTransientConnection);
  runUntilIdle();
  EXPECT_TRUE(reports().empty());

  // A radio change alone reports nothing; the next reachability change carries it.
  plat::SimulatedRadio::setRadioAccessTechnology(plat::CTRadioAccessTechnologyCDMA1x);
  runUntilIdle();
  EXPECT_TRUE(reports().empty());
  EXPECT_EQ(plugin->connectionType(), "4g");
  network->setFlags(R | W);
  runUntilIdle();
  EXPECT_EQ(reports(), Types{"3g"});

  // A second getConnectionInfo takes over the reports.
  exec("NetworkStatus", "getConnectionInfo", {}, "second");
  network->setFlags(0);
  runUntilIdle();
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  EXPECT_EQ(callbacks[0].callbackId, "second");
  EXPECT_EQ(callbacks[1].callbackId, "second");
  EXPECT_EQ(callbacks[1].message, Value("none"));
}

TEST_F(NetworkTest, NotificationsFromOtherSendersChangeNothing) {
  auto plugin = start();
  exec("NetworkStatus", "getConnectionInfo", {});
  takeCallbacks();
  network->setFlags(0);  // the watcher will see this only when it looks
  plat::NSNotificationCenter::defaultCenter().post(kReachabilityChangedNotification, std::make_shared<plat::Object>());
  plat::NSNotificationCenter::defaultCenter().post(kReachabilityChangedNotification);
  EXPECT_TRUE(takeCallbacks().empty());
  runUntilIdle();
  EXPECT_EQ(reports(), Types{"none"});
}

TEST_F(NetworkTest, ABackgroundChangeIsReportedOnceOnReturn) {
  auto plugin = start();
  exec("NetworkStatus", "getConnectionInfo", {});
  EXPECT_EQ(reports(), Types{"wifi"});

  auto& center = plat::NSNotificationCenter::defaultCenter();
  center.post("UIApplicationDidEnterBackgroundNotification");
  network->setFlags(0);
  runUntilIdle();
  network->setFlags(R | W);
  advance(plat::kSCNetworkReachabilityPollInterval * 3);
  EXPECT_TRUE(reports().empty()) << "nothing while paused";

  center.post("UIApplicationWillEnterForegroundNotification");
  runUntilIdle();
  EXPECT_EQ(reports(), Types{"cellular"});
  network->setFlags(R | W);
  runUntilIdle();
  EXPECT_TRUE(reports().empty());

  // Back and forth without a change: nothing to tell.
  center.post("UIApplicationDidEnterBackgroundNotification");
  center.post("UIApplicationWillEnterForegroundNotification");
  runUntilIdle();
  EXPECT_TRUE(reports().empty());

  // And watching goes on after the return.
  network->setFlags(R);
  runUntilIdle();
  EXPECT_EQ(reports(), Types{"wifi"});
}

TEST_F(NetworkTest, AChangeBeforeAnyRequestGoesNowhere) {
  auto plugin = start();
  network->setFlags(0);
  runUntilIdle();
  EXPECT_TRUE(takeCallbacks().empty());
  EXPECT_TRUE(log_->contains("Invalid callback id received by sendPluginResult"));
  EXPECT_EQ(plugin->connectionType(), "none");
}

TEST_F(NetworkTest, ThePluginGoneNothingIsLeftWatching) {
  std::weak_ptr<HBRReachability> watcher;
  {
    auto plugin = start();
    watcher = plugin->internetReach();
    controller->removeAllObjects();
  }
  EXPECT_TRUE(watcher.expired());
  network->setFlags(0);
  advance(plat::kSCNetworkReachabilityPollInterval);
  EXPECT_TRUE(takeCallbacks().empty());
}

namespace {

class Watcher : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    network = std::make_shared<plat::SimulatedNetwork>();
    plat::setNetworkStatusSource(network);
    runUntilIdle();
    observer = std::make_shared<int>(0);
    plat::NSNotificationCenter::defaultCenter().addObserver(
        observer, kReachabilityChangedNotification, nullptr,
        [this](const plat::NSNotification& n) { senders.push_back(n.object.get()); });
  }
  void TearDown() override {
    plat::setNetworkStatusSource(nullptr);
    PlatformTest::TearDown();
  }
  std::shared_ptr<plat::SimulatedNetwork> network;
  std::shared_ptr<int> observer;
  std::vector<const void*> senders;
};

}  // namespace

TEST_F(Watcher, StartingTwiceWatchesOnce) {
  auto reach = HBRReachability::reachabilityForInternetConnection();
  ASSERT_TRUE(reach);
  plat::RunLoop other;
  EXPECT_TRUE(reach->startNotifier());
  EXPECT_TRUE(reach->startNotifier());
  EXPECT_FALSE(reach->startNotifier(other)) << "already watching on another run loop";
  network->setFlags(0);
  runUntilIdle();
  EXPECT_EQ(senders, std::vector<const void*>{reach.get()});
}

TEST_F(Watcher, StoppingFromAnotherThreadUnschedulesFromTheLoopItStartedOn) {
  plat::RunLoop other;
  auto reach = HBRReachability::reachabilityForInternetConnection();
  ASSERT_TRUE(reach->startNotifier(other));
  network->setFlags(0);  // a check is queued on `other`
  std::thread([&] { reach->stopNotifier(); }).join();
  other.runUntilIdle();
  EXPECT_TRUE(senders.empty());

  // Restarted, and destroyed while a check is queued: nothing reaches the freed watcher.
  ASSERT_TRUE(reach->startNotifier(other));
  network->setFlags(R);
  reach.reset();
  other.runUntilIdle();
  clock_->advance(plat::kSCNetworkReachabilityPollInterval * 2);
  other.runUntilIdle();
  EXPECT_TRUE(senders.empty());
}

TEST_F(Watcher, TheLinkLocalWatcherNeedsADirectLink) {
  auto local = HBRReachability::reachabilityForLocalWiFi();
  ASSERT_TRUE(local);
  EXPECT_TRUE(local->localWiFiRef());
  network->setFlags(R, 0);
  EXPECT_EQ(local->currentReachabilityStatus(), NotReachable);
  network->setFlags(R, R | D);
  EXPECT_EQ(local->currentReachabilityStatus(), ReachableViaWiFi);
  EXPECT_FALSE(HBRReachability::reachabilityForInternetConnection()->localWiFiRef());

  auto named = HBRReachability::reachabilityWithHostName("example.org");
  ASSERT_TRUE(named);
  EXPECT_EQ(named->currentReachabilityStatus(), ReachableViaWiFi);
  EXPECT_EQ(HBRReachability::reachabilityWithHostName(""), nullptr);

  network->setFlags(R | CR);
  EXPECT_TRUE(named->connectionRequired());
  network->setReadable(false);
  EXPECT_FALSE(named->connectionRequired());
  EXPECT_EQ(named->currentReachabilityStatus(), NotReachable);
}

TEST_F(Watcher, TheCallbackChecksItsContext) {
  plat::Object notAWatcher;
  HBRReachability::reachabilityCallback(nullptr, R, nullptr);
  HBRReachability::reachabilityCallback(nullptr, R, static_cast<plat::Object*>(&notAWatcher));
  EXPECT_TRUE(log_->contains("info was NULL in ReachabilityCallback"));
  EXPECT_TRUE(log_->contains("info was wrong class in ReachabilityCallback"));
  EXPECT_TRUE(senders.empty());
}
