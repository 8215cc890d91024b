// The device's battery (from the power-supply class or a simulated battery) with its monitoring
// switch and notifications, its vendor identifier and the machine name control.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "plat/foundation/NSNotificationCenter.h"
#include "plat/sys/sysctl.h"
#include "plat/testing/PlatformTest.h"
#include "plat/uikit/BatteryStatusSource.h"
#include "plat/uikit/UIDevice.h"

using namespace plat;
namespace fs = std::filesystem;

namespace {

class FakePowerSupply {
 public:
  FakePowerSupply() {
    root_ = fs::temp_directory_path() / ("harbor-power-" + std::to_string(::getpid()) + "-" + std::to_string(n_++));
    fs::remove_all(root_);
    fs::create_directories(root_ / "sys/class/power_supply");
  }
  ~FakePowerSupply() { fs::remove_all(root_); }
  void supply(const std::string& name, const std::map<std::string, std::string>& files) {
    auto dir = root_ / "sys/class/power_supply" / name;
    fs::create_directories(dir);
    for (const auto& [file, text] : files) std::ofstream(dir / file) << text << "\n";
  }
  std::string root() const { return root_.string(); }

 private:
  fs::path root_;
  static inline int n_ = 0;
};

using S = UIDeviceBatteryState;

class Battery : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    UIDevice::resetCurrentDevice();
    battery = std::make_shared<SimulatedBattery>();
    setBatteryStatusSource(battery);
    runUntilIdle();
    observer = std::make_shared<int>(0);
    auto record = [this](const NSNotification& n) {
      EXPECT_EQ(n.object, UIDevice::currentDevice());
      notifications.push_back(n.name == UIDeviceBatteryStateDidChangeNotification ? "state" : "level");
    };
    NSNotificationCenter::defaultCenter().addObserver(observer, UIDeviceBatteryStateDidChangeNotification, nullptr,
                                                      record);
    NSNotificationCenter::defaultCenter().addObserver(observer, UIDeviceBatteryLevelDidChangeNotification, nullptr,
                                                      record);
  }
  void TearDown() override {
    UIDevice::currentDevice()->setBatteryMonitoringEnabled(false);
    setBatteryStatusSource(nullptr);
    UIDevice::resetCurrentDevice();
    PlatformTest::TearDown();
  }
  std::shared_ptr<SimulatedBattery> battery;
  std::shared_ptr<int> observer;
  std::vector<std::string> notifications;
};

}  // namespace

TEST(PowerSupply, StateAndLevelComeFromTheFirstPresentBattery) {
  struct Case {
    const char* name;
    std::map<std::string, std::map<std::string, std::string>> supplies;
    S state;
    float level;
  };
  const Case cases[] = {
      {"no power supply at all", {}, S::Unknown, -1.0f},
      {"mains only", {{"AC", {{"type", "Mains"}, {"online", "1"}}}}, S::Unknown, -1.0f},
      {"discharging",
       {{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "57"}}}},
       S::Unplugged,
       0.57f},
      {"charging", {{"BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "80"}}}}, S::Charging, 0.8f},
      {"full", {{"BAT0", {{"type", "Battery"}, {"status", "Full"}, {"capacity", "100"}}}}, S::Full, 1.0f},
      {"plugged in and held",
       {{"BAT0", {{"type", "Battery"}, {"status", "Not charging"}, {"capacity", "60"}}}},
       S::Full,
       0.6f},
      {"unknown status",
       {{"BAT0", {{"type", "Battery"}, {"status", "Unknown"}, {"capacity", "60"}}}},
       S::Unknown,
       0.6f},
      {"energy counters",
       {{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"energy_now", "25000"}, {"energy_full", "50000"}}}},
       S::Unplugged,
       0.5f},
      {"charge counters",
       {{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"charge_now", "3000"}, {"charge_full", "4000"}}}},
       S::Unplugged,
       0.75f},
      {"no level",
       {{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "n/a"}}}},
       S::Unplugged,
       -1.0f},
      {"capacity out of range",
       {{"BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "130"}}}},
       S::Charging,
       1.0f},
      {"absent battery skipped",
       {{"BAT0", {{"type", "Battery"}, {"present", "0"}}},
        {"BAT1", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "10"}}}},
       S::Charging,
       0.1f},
  };
  for (const auto& c : cases) {
    FakePowerSupply fake;
    for (const auto& [name, files] : c.supplies) fake.supply(name, files);
    auto status = PowerSupplyBatterySource(fake.root()).batteryStatus();
    EXPECT_EQ(status.state, c.state) << c.name;
    EXPECT_FLOAT_EQ(status.level, c.level) << c.name;
  }
}

TEST_F(Battery, UnknownWhileMonitoringIsOff) {
  battery->setStatus(S::Charging, 0.5f);
  runUntilIdle();
  auto device = UIDevice::currentDevice();
  EXPECT_FALSE(device->isBatteryMonitoringEnabled());
  EXPECT_EQ(device->batteryState(), S::Unknown);
  EXPECT_EQ(device->batteryLevel(), -1.0f);
  EXPECT_TRUE(notifications.empty());

  device->setBatteryMonitoringEnabled(true);
  EXPECT_EQ(device->batteryState(), S::Charging);
  EXPECT_EQ(device->batteryLevel(), 0.5f);
  EXPECT_TRUE(notifications.empty()) << "switching on is no change of the battery";

  device->setBatteryMonitoringEnabled(false);
  EXPECT_EQ(device->batteryState(), S::Unknown);
  EXPECT_EQ(device->batteryLevel(), -1.0f);
}

TEST_F(Battery, ChangesArePostedOnceEach) {
  auto device = UIDevice::currentDevice();
  device->setBatteryMonitoringEnabled(true);
  battery->setStatus(S::Unplugged, 0.4f);
  EXPECT_TRUE(notifications.empty()) << "posted on a later turn of the main loop";
  runUntilIdle();
  EXPECT_EQ(notifications, (std::vector<std::string>{"state", "level"}));

  notifications.clear();
  battery->setStatus(S::Unplugged, 0.4f);
  battery->setStatus(S::Unplugged, 0.39f);
  runUntilIdle();
  EXPECT_EQ(notifications, std::vector<std::string>{"level"});

  notifications.clear();
  device->setBatteryMonitoringEnabled(false);
  battery->setStatus(S::Charging, 0.5f);
  runUntilIdle();
  EXPECT_TRUE(notifications.empty());
}

TEST_F(Battery, ASourceThatDoesNotAnnounceChangesIsPolled) {
  struct Quiet : BatteryStatusSource {
    BatteryStatus status{S::Unplugged, 0.5f};
    BatteryStatus batteryStatus() override { return status; }
  };
  auto quiet = std::make_shared<Quiet>();
  setBatteryStatusSource(quiet);
  runUntilIdle();
  UIDevice::currentDevice()->setBatteryMonitoringEnabled(true);
  quiet->status = {S::Charging, 0.5f};
  advance(kBatteryPollInterval);
  EXPECT_EQ(notifications, std::vector<std::string>{"state"});
  EXPECT_EQ(UIDevice::currentDevice()->batteryState(), S::Charging);
}

TEST(DeviceIdentity, TheVendorIdentifierIsUUIDTextAndCanBeTakenAway) {
  UIDevice::resetCurrentDevice();
  auto device = UIDevice::currentDevice();
  if (auto id = device->identifierForVendor()) {
    ASSERT_EQ(id->size(), 36u);
    EXPECT_EQ((*id)[8], '-');
    EXPECT_EQ(*id, UIDevice::currentDevice()->identifierForVendor()) << "stable";
  }
  device->setIdentifierForVendor(std::nullopt);
  EXPECT_EQ(device->identifierForVendor(), std::nullopt);
  UIDevice::resetCurrentDevice();
}

TEST(Sysctl, TheMachineNameFollowsTheCallingConvention) {
  std::size_t size = 0;
  ASSERT_EQ(sysctlbyname("hw.machine", nullptr, &size, nullptr, 0), 0);
  EXPECT_GT(size, 1u);

  setSysctlString("hw.machine", "iPhone8,1");
  ASSERT_EQ(sysctlbyname("hw.machine", nullptr, &size, nullptr, 0), 0);
  EXPECT_EQ(size, 10u);
  std::string buffer(size, 'x');
  ASSERT_EQ(sysctlbyname("hw.machine", buffer.data(), &size, nullptr, 0), 0);
  EXPECT_STREQ(buffer.c_str(), "iPhone8,1");

  std::size_t small = 4;
  char tiny[4];
  EXPECT_EQ(sysctlbyname("hw.machine", tiny, &small, nullptr, 0), -1);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(sysctlbyname("hw.nothing", nullptr, &size, nullptr, 0), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(sysctlbyname("hw.machine", nullptr, &size, "x", 1), -1);
  EXPECT_EQ(errno, EPERM);
  setSysctlString("hw.machine", std::nullopt);
}
