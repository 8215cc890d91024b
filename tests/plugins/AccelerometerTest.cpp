// Acceleration streamed to the page from the simulated accelerometer; stop, reset and release.
#include <gtest/gtest.h>

#include "DeviceMotionPlugin.h"
#include "HBRAccelerometer.h"
#include "plat/coremotion/CMMotionManager.h"
#include "support/PluginTest.h"

using namespace harbor;
using plat::CMAcceleration;
using plat::SimulatedAccelerometer;
using plat::Value;

namespace {

class Accelerometer : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    SimulatedAccelerometer::reset();
    SimulatedAccelerometer::setAvailable(true);
    registerDeviceMotionPlugin();
    plugin = create<HBRAccelerometer>("HBRAccelerometer", "Accelerometer");
    ASSERT_TRUE(plugin);
  }
  void TearDown() override {
    plugin.reset();
    SimulatedAccelerometer::reset();
    PluginTest::TearDown();
  }
  void push(double x, double y, double z) {
    SimulatedAccelerometer::pushAcceleration({x, y, z});
    runUntilIdle();
  }
  // Milliseconds since 1970 on the test's clock.
  double wallClockMs() const { return (clock_->now() + plat::kReferenceDateOffset) * 1000.0; }
  // Numbers come back from the page as integers where they can.
  static void expectReading(const Value& m, double x, double y, double z, double timestamp) {
    EXPECT_NEAR(m["x"].asDouble(), x, 1e-9);
    EXPECT_NEAR(m["y"].asDouble(), y, 1e-9);
    EXPECT_NEAR(m["z"].asDouble(), z, 1e-9);
    EXPECT_DOUBLE_EQ(m["timestamp"].asDouble(), timestamp);
    EXPECT_EQ(m.asDictionary().size(), 4u);
  }
  std::shared_ptr<HBRAccelerometer> plugin;
};

}  // namespace

TEST_F(Accelerometer, WithoutAnAccelerometerStartFailsWithStatus7) {
  SimulatedAccelerometer::setAvailable(false);
  exec("Accelerometer", "start", {}, "watch");
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].callbackId, "watch");
  EXPECT_EQ(callbacks[0].status, 7);
  EXPECT_EQ(callbacks[0].message, Value("Error. Accelerometer Not Available."));
  EXPECT_FALSE(callbacks[0].keepCallback);
  EXPECT_TRUE(log_->contains("Running in Simulator? All gyro tests will fail."));
  EXPECT_FALSE(plugin->isRunning());
  EXPECT_TRUE(plugin->motionManager()) << "the manager is made before asking it";

  exec("Accelerometer", "stop", {}, "stopper");
  EXPECT_TRUE(takeCallbacks().empty()) << "stop has nothing to send without an accelerometer";
}

TEST_F(Accelerometer, ReadingsAreInMetresPerSecondSquaredPointingUp) {
  exec("Accelerometer", "start", {}, "watch");
  EXPECT_TRUE(takeCallbacks().empty()) << "start answers only with samples";
  EXPECT_TRUE(plugin->isRunning());

  struct Case {
    CMAcceleration g;
    double x, y, z;
  };
  const Case cases[] = {
      {{0, 0, -1}, 0, 0, 9.81},  // lying flat face up
      {{0, -1, 0}, 0, 9.81, 0},  // standing upright
      {{0.5, -0.25, 2}, -4.905, 2.4525, -19.62},
  };
  for (const Case& c : cases) {
    clock_->advance(0.25);
    push(c.g.x, c.g.y, c.g.z);
    auto callbacks = takeCallbacks();
    ASSERT_EQ(callbacks.size(), 1u);
    EXPECT_EQ(callbacks[0].callbackId, "watch");
    EXPECT_EQ(callbacks[0].status, 1);
    EXPECT_TRUE(callbacks[0].keepCallback);
    // Stamped on arrival, in ms since 1970.
    expectReading(callbacks[0].message, c.x, c.y, c.z, wallClockMs());
  }

  exec("Accelerometer", "stop", {}, "stopper");
  EXPECT_TRUE(takeCallbacks().empty()) << "a reading already went out since start";
  EXPECT_FALSE(plugin->isRunning());
  push(1, 1, 1);
  EXPECT_TRUE(takeCallbacks().empty()) << "nothing after stop";
}

TEST_F(Accelerometer, StopBeforeAnySampleSendsTheStoredReadingOnce) {
  exec("Accelerometer", "start", {}, "watch");
  exec("Accelerometer", "stop", {}, "stopper");
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].callbackId, "watch") << "to the start callback, not stop's";
  expectReading(callbacks[0].message, 0, 0, 0, 0);
  EXPECT_EQ(callbacks[0].message["x"], Value(0)) << "no -0 for the page";
  EXPECT_TRUE(callbacks[0].keepCallback);

  exec("Accelerometer", "stop", {}, "stopper");
  EXPECT_TRUE(takeCallbacks().empty()) << "a second stop sends nothing";

  // A later start keeps the last values: a stop before its first sample sends them again.
  exec("Accelerometer", "start", {}, "watch2");
  push(0, 0, -1);
  double stamped = wallClockMs();
  exec("Accelerometer", "stop", {}, "stopper");
  exec("Accelerometer", "start", {}, "watch3");
  exec("Accelerometer", "stop", {}, "stopper");
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  EXPECT_EQ(callbacks[1].callbackId, "watch3");
  expectReading(callbacks[1].message, 0, 0, 9.81, stamped);
}

TEST_F(Accelerometer, ALaterStartTakesTheStreamOver) {
  exec("Accelerometer", "start", {}, "first");
  push(0, 0, -1);
  exec("Accelerometer", "start", {}, "second");
  push(0, 0, -1);
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  EXPECT_EQ(callbacks[0].callbackId, "first");
  EXPECT_EQ(callbacks[1].callbackId, "second") << "one callback receives the stream";
}

TEST_F(Accelerometer, ANewPageOrTheEndOfThePluginStopsTheStream) {
  exec("Accelerometer", "start", {}, "watch");
  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginResetNotification, std::make_shared<plat::Object>());
  EXPECT_TRUE(plugin->isRunning()) << "another view's page load is none of its business";

  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginResetNotification, engine->engineWebView());
  runUntilIdle();
  EXPECT_FALSE(plugin->isRunning());
  EXPECT_FALSE(plugin->motionManager()->isAccelerometerActive());
  EXPECT_EQ(takeCallbacks().size(), 1u) << "the stored reading, as stop sends it";
  push(0, 0, -1);
  EXPECT_TRUE(takeCallbacks().empty());

  exec("Accelerometer", "start", {}, "again");
  std::weak_ptr<plat::CMMotionManager> manager = plugin->motionManager();
  controller->removeAllObjects();
  plugin.reset();
  EXPECT_TRUE(manager.expired());
  push(0, 0, -1);
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u) << "the release stops like stop, and no sample arrives afterwards";
  EXPECT_EQ(callbacks[0].callbackId, "again");
}

TEST_F(Accelerometer, EveryStartAsksForTheFastestRate) {
  exec("Accelerometer", "start", {}, "watch");
  ASSERT_TRUE(plugin->motionManager());
  EXPECT_EQ(plugin->motionManager()->accelerometerUpdateInterval(), 0) << "no throttling by the plugin";
  // Whatever slowed the manager down in between, a new start asks for every sample again.
  plugin->motionManager()->setAccelerometerUpdateInterval(0.5);
  exec("Accelerometer", "start", {}, "again");
  EXPECT_EQ(plugin->motionManager()->accelerometerUpdateInterval(), 0);
  push(0, 0, -1);
  push(0, 0, -1);
  EXPECT_EQ(takeCallbacks().size(), 2u) << "one reading per sample";
}
