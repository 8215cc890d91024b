// Battery status pushed while the page watches; stop, reset and the end of the plugin.
#include <gtest/gtest.h>

#include "BatteryStatusPlugin.h"
#include "HBRBattery.h"
#include "plat/uikit/BatteryStatusSource.h"
#include "support/PluginTest.h"

using namespace harbor;
using plat::UIDeviceBatteryState;
using plat::Value;

namespace {

class Battery : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerBatteryStatusPlugin();
    battery = std::make_shared<plat::SimulatedBattery>();
    plat::setBatteryStatusSource(battery);
    battery->setStatus(UIDeviceBatteryState::Unplugged, 0.57f);
    runUntilIdle();
    plugin = create<HBRBattery>("HBRBattery", "Battery");
    ASSERT_TRUE(plugin);
  }
  void TearDown() override {
    plugin.reset();
    plat::setBatteryStatusSource(nullptr);
    PluginTest::TearDown();
  }
  static Value status(bool plugged, Value level) {
    return Value(plat::Dictionary{{"isPlugged", plugged}, {"level", std::move(level)}});
  }
  std::shared_ptr<plat::SimulatedBattery> battery;
  std::shared_ptr<HBRBattery> plugin;
};

}  // namespace

TEST_F(Battery, StartPlugStop) {
  exec("Battery", "start", {}, "watch");
  EXPECT_TRUE(takeCallbacks().empty()) << "start sends nothing at once";
  EXPECT_TRUE(plat::UIDevice::currentDevice()->isBatteryMonitoringEnabled());

  battery->setStatus(UIDeviceBatteryState::Charging, 0.57f);
  runUntilIdle();
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].callbackId, "watch");
  EXPECT_EQ(callbacks[0].status, 1);
  EXPECT_EQ(callbacks[0].message, status(true, 57));
  EXPECT_TRUE(callbacks[0].keepCallback);

  battery->setStatus(UIDeviceBatteryState::Full, 1.0f);
  runUntilIdle();
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u) << "the state and the level changed";
  EXPECT_EQ(callbacks[1].message, status(true, 100));

  exec("Battery", "stop", {}, "stopper");
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].callbackId, "watch") << "the last status goes to the start callback";
  EXPECT_EQ(callbacks[0].message, status(true, 100));
  EXPECT_FALSE(callbacks[0].keepCallback);
  EXPECT_FALSE(plat::UIDevice::currentDevice()->isBatteryMonitoringEnabled());

  battery->setStatus(UIDeviceBatteryState::Unplugged, 0.5f);
  runUntilIdle();
  EXPECT_TRUE(takeCallbacks().empty()) << "nothing after stop";

  exec("Battery", "stop", {}, "again");
  EXPECT_TRUE(takeCallbacks().empty()) << "a stop without a watch answers nothing";
}

TEST_F(Battery, LevelsAndUnknowns) {
  struct Case {
    UIDeviceBatteryState state;
    float level;
    Value expected;
  };
  const Case cases[] = {
      {UIDeviceBatteryState::Unplugged, 0.01f, status(false, 1)},
      {UIDeviceBatteryState::Unplugged, 0.0f, status(false, 0)},
      {UIDeviceBatteryState::Charging, 0.5f, status(true, 50)},
      {UIDeviceBatteryState::Unknown, 0.5f, status(false, Value::null())},  // as on a simulator
      {UIDeviceBatteryState::Unplugged, -1.0f, status(false, Value::null())},
      {UIDeviceBatteryState::Full, 0.33f, status(true, 33)},
  };
  exec("Battery", "start", {}, "watch");
  for (const auto& c : cases) {
    battery->setStatus(c.state, c.level);
    runUntilIdle();
    auto callbacks = takeCallbacks();
    ASSERT_FALSE(callbacks.empty());
    EXPECT_EQ(callbacks.back().message, c.expected);
  }
}

TEST_F(Battery, ASecondStartOnlyMovesTheCallback) {
  exec("Battery", "start", {}, "one");
  exec("Battery", "start", {}, "two");
  battery->setStatus(UIDeviceBatteryState::Charging, 0.57f);
  runUntilIdle();
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u) << "observed once";
  EXPECT_EQ(callbacks[0].callbackId, "two");
}

TEST_F(Battery, StartObservesEvenWhenMonitoringIsAlreadyOn) {
  plat::UIDevice::currentDevice()->setBatteryMonitoringEnabled(true);
  exec("Battery", "start", {}, "watch");
  battery->setStatus(UIDeviceBatteryState::Charging, 0.57f);
  runUntilIdle();
  EXPECT_EQ(takeCallbacks().size(), 1u);
}

TEST_F(Battery, ANewPageOrTheEndOfThePluginStopsTheWatch) {
  exec("Battery", "start", {}, "watch");
  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginResetNotification, std::make_shared<plat::Object>());
  EXPECT_TRUE(takeCallbacks().empty()) << "another view's page load is none of its business";

  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginResetNotification, engine->engineWebView());
  runUntilIdle();
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_FALSE(callbacks[0].keepCallback);
  EXPECT_FALSE(plat::UIDevice::currentDevice()->isBatteryMonitoringEnabled());

  exec("Battery", "start", {}, "again");
  controller->removeAllObjects();
  plugin.reset();
  runUntilIdle();
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].callbackId, "again");
  EXPECT_FALSE(callbacks[0].keepCallback);
  battery->setStatus(UIDeviceBatteryState::Charging, 0.9f);
  runUntilIdle();
  EXPECT_TRUE(takeCallbacks().empty());
}
