// Single heading requests, the heading watch, the time-out and failures, from the simulated
// compass.
#include <gtest/gtest.h>

#include "DeviceOrientationPlugin.h"
#include "HBRCompass.h"
#include "plat/corelocation/CLLocationManager.h"
#include "plat/uikit/UIViewController.h"
#include "support/PluginTest.h"

using namespace harbor;
using plat::SimulatedCompass;
using plat::Value;

namespace {

class Compass : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    SimulatedCompass::reset();
    SimulatedCompass::setHeadingAvailable(true);
    registerDeviceOrientationPlugin();
    viewController = std::make_shared<plat::UIViewController>();
    plugin = create<HBRCompass>("HBRCompass", "Compass", viewController);
    ASSERT_TRUE(plugin);
  }
  void TearDown() override {
    plugin.reset();
    SimulatedCompass::reset();
    PluginTest::TearDown();
  }
  void heading(double degrees, double accuracy = 5) {
    SimulatedCompass::pushHeading(degrees, accuracy);
    runUntilIdle();
  }
  void failure(long code) {
    SimulatedCompass::pushError(code);
    runUntilIdle();
  }
  std::uint64_t status() {
    auto data = plugin->headingData();
    return data ? data->headingStatus : HEADINGSTOPPED;
  }
  static Value filter(double degrees) { return Value(plat::Dictionary{{"filter", degrees}}); }
  static void expectHeading(const harbor::testing::PageCallback& c, const std::string& id, double degrees, bool keep) {
    EXPECT_EQ(c.callbackId, id);
    EXPECT_EQ(c.status, 1) << id;
    EXPECT_DOUBLE_EQ(c.message["magneticHeading"].asDouble(), degrees) << id;
    EXPECT_TRUE(c.message["trueHeading"].isNull()) << id;
    EXPECT_EQ(c.keepCallback, keep) << id;
  }
  static void expectError(const harbor::testing::PageCallback& c, const std::string& id, int code) {
    EXPECT_EQ(c.callbackId, id);
    EXPECT_EQ(c.status, 9) << id;
    EXPECT_EQ(c.message, Value(code)) << id;
    EXPECT_FALSE(c.keepCallback) << id;
  }
  std::shared_ptr<plat::UIViewController> viewController;
  std::shared_ptr<HBRCompass> plugin;
};

}  // namespace

TEST_F(Compass, WithoutHeadingSupportEveryRequestGetsError20) {
  SimulatedCompass::setHeadingAvailable(false);
  EXPECT_FALSE(plugin->hasHeadingSupport());
  exec("Compass", "getHeading", {}, "get");
  exec("Compass", "watchHeadingFilter", {filter(5)}, "watch");
  exec("Compass", "getHeading", {filter(5)}, "getAsWatch");
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 3u);
  expectError(callbacks[0], "get", 20);
  expectError(callbacks[1], "watch", 20);
  expectError(callbacks[2], "getAsWatch", 20);
  EXPECT_FALSE(plugin->headingData()) << "no state changes";
  EXPECT_FALSE(plugin->locationManager()->isUpdatingHeading());
}

TEST_F(Compass, RequestsWhileStartingAreAnsweredByTheFirstHeadingInOrder) {
  viewController->setInterfaceOrientation(plat::UIInterfaceOrientationLandscapeRight);
  exec("Compass", "getHeading", {}, "one");
  exec("Compass", "getHeading", {Value("not options")}, "two");
  EXPECT_TRUE(takeCallbacks().empty());
  EXPECT_EQ(status(), HEADINGSTARTING);
  auto manager = plugin->locationManager();
  EXPECT_TRUE(manager->isUpdatingHeading());
  EXPECT_DOUBLE_EQ(manager->headingFilter(), 0.2);
  EXPECT_EQ(manager->headingOrientation(), plat::CLDeviceOrientationLandscapeLeft)
      << "the interface turned right holds the device turned left";

  clock_->advance(1);
  heading(271.5, 3);
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  expectHeading(callbacks[0], "one", 271.5, false);
  expectHeading(callbacks[1], "two", 271.5, false);
  const Value& m = callbacks[0].message;
  ASSERT_TRUE(m.isDictionary());
  EXPECT_EQ(m.asDictionary().size(), 4u);
  EXPECT_DOUBLE_EQ(m["timestamp"].asDouble(), (clock_->now() + plat::kReferenceDateOffset) * 1000.0);
  EXPECT_DOUBLE_EQ(m["headingAccuracy"].asDouble(), 3.0);
  EXPECT_EQ(status(), HEADINGRUNNING);

  exec("Compass", "getHeading", {}, "three");
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  expectHeading(callbacks[0], "three", 271.5, false);  // while running, the current heading at once
  heading(200);
  EXPECT_TRUE(takeCallbacks().empty()) << "nobody waits or watches";
}

TEST_F(Compass, GetHeadingWithAFilterIsAWatch) {
  exec("Compass", "getHeading", {filter(10)}, "watch");
  EXPECT_DOUBLE_EQ(plugin->locationManager()->headingFilter(), 10);
  heading(100);
  heading(105);  // less than the filter: held back
  heading(111);
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  expectHeading(callbacks[0], "watch", 100, true);
  expectHeading(callbacks[1], "watch", 111, true);
  ASSERT_TRUE(plugin->headingData());
  EXPECT_EQ(plugin->headingData()->headingFilter, "watch");
}

TEST_F(Compass, ASecondWatchEndsTheFirstWithOneLastHeading) {
  exec("Compass", "watchHeadingFilter", {filter(1)}, "first");
  heading(10);
  exec("Compass", "watchHeadingFilter", {Value(plat::Dictionary{})}, "second");
  EXPECT_DOUBLE_EQ(plugin->locationManager()->headingFilter(), 0) << "a missing filter counts as 0";
  heading(20);
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 3u);
  expectHeading(callbacks[0], "first", 10, true);
  expectHeading(callbacks[1], "first", 10, false);
  expectHeading(callbacks[2], "second", 20, true);

  exec("Compass", "watchHeadingFilter", {filter(1)}, "second");
  EXPECT_TRUE(takeCallbacks().empty()) << "the same watch again is not ended";
}

TEST_F(Compass, StopHeadingEndsTheWatchAndTheUpdates) {
  exec("Compass", "stopHeading", {}, "stop");
  EXPECT_TRUE(takeCallbacks().empty());
  EXPECT_FALSE(log_->contains("heading STOPPED")) << "nothing to stop";

  exec("Compass", "watchHeadingFilter", {filter(1)}, "watch");
  heading(45);
  exec("Compass", "stopHeading", {}, "stop");
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  expectHeading(callbacks[1], "watch", 45, false);
  EXPECT_TRUE(log_->contains("heading STOPPED"));
  EXPECT_FALSE(plugin->headingData());
  EXPECT_FALSE(plugin->locationManager()->isUpdatingHeading());
  heading(90);
  EXPECT_TRUE(takeCallbacks().empty());
}

TEST_F(Compass, WithoutAWatchHeadingStopsAtTheFirstUpdateMoreThanTenSecondsAfterTheLastAnswer) {
  exec("Compass", "getHeading", {}, "get");
  heading(1);
  EXPECT_EQ(takeCallbacks().size(), 1u);

  clock_->advance(10);
  heading(2);
  EXPECT_EQ(status(), HEADINGRUNNING) << "10 s exactly is not past the time-out";
  clock_->advance(0.5);
  heading(3);
  EXPECT_TRUE(takeCallbacks().empty()) << "the update that stops heading goes to nobody";
  EXPECT_FALSE(plugin->headingData());
  EXPECT_FALSE(plugin->locationManager()->isUpdatingHeading());
  EXPECT_TRUE(log_->contains("heading STOPPED"));

  // A watch is never timed out.
  exec("Compass", "watchHeadingFilter", {filter(0)}, "watch");
  heading(4);
  clock_->advance(60);
  heading(5);
  EXPECT_EQ(takeCallbacks().size(), 2u);
  EXPECT_EQ(status(), HEADINGRUNNING);
}

TEST_F(Compass, AnswersAtOnceAreNotRepeatedByALaterFirstHeading) {
  exec("Compass", "getHeading", {}, "a");
  heading(30);
  exec("Compass", "getHeading", {}, "b");
  EXPECT_EQ(takeCallbacks().size(), 2u);
  failure(plat::kCLErrorHeadingFailure);
  exec("Compass", "getHeading", {}, "c");
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  expectError(callbacks[0], "c", 0);

  exec("Compass", "watchHeadingFilter", {filter(0)}, "watch");
  EXPECT_EQ(status(), HEADINGSTARTING) << "a watch restarts heading after a failure";
  heading(60);
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u) << "b and c had their answers already";
  expectHeading(callbacks[0], "watch", 60, true);
}

TEST_F(Compass, AHeadingFailureAnswersTheWaitingAndTheWatchWithError0) {
  exec("Compass", "getHeading", {}, "one");
  exec("Compass", "getHeading", {}, "two");
  exec("Compass", "watchHeadingFilter", {filter(0)}, "watch");
  failure(plat::kCLErrorDenied);
  EXPECT_TRUE(takeCallbacks().empty()) << "other location errors answer nobody";
  EXPECT_EQ(status(), HEADINGSTARTING);
  EXPECT_TRUE(log_->contains("locationManager::didFailWithError "));

  failure(plat::kCLErrorHeadingFailure);
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 3u);
  expectError(callbacks[0], "one", 0);
  expectError(callbacks[1], "two", 0);
  expectError(callbacks[2], "watch", 0);
  EXPECT_EQ(status(), HEADINGERROR);

  heading(90);
  EXPECT_TRUE(takeCallbacks().empty()) << "the error closed the watch on the page";
  EXPECT_EQ(status(), HEADINGRUNNING) << "the compass recovered";
  exec("Compass", "getHeading", {}, "three");
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  expectHeading(callbacks[0], "three", 90, false);
}

TEST_F(Compass, ANewPageStopsHeadingWithoutAnswers) {
  exec("Compass", "getHeading", {}, "get");
  exec("Compass", "watchHeadingFilter", {filter(0)}, "watch");
  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginResetNotification, std::make_shared<plat::Object>());
  EXPECT_TRUE(plugin->headingData()) << "another view's page load is none of its business";

  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginResetNotification, engine->engineWebView());
  EXPECT_FALSE(plugin->headingData());
  EXPECT_FALSE(plugin->locationManager()->isUpdatingHeading());
  heading(10);
  EXPECT_TRUE(takeCallbacks().empty());
}

TEST_F(Compass, TheSystemMayShowItsCalibrationScreen) {
  EXPECT_TRUE(plugin->locationManagerShouldDisplayHeadingCalibration(*plugin->locationManager()));
  EXPECT_EQ(plugin->locationManager()->delegate().get(), static_cast<plat::CLLocationManagerDelegate*>(plugin.get()));
}

TEST_F(Compass, TheCompassLetsGoOfItsLocationManagerAtTeardown) {
  exec("Compass", "watchHeadingFilter", {filter(0)}, "watch");
  std::shared_ptr<plat::CLLocationManager> manager = plugin->locationManager();
  std::weak_ptr<HBRCompass> released = plugin;
  controller->removeAllObjects();
  plugin.reset();
  ASSERT_TRUE(released.expired());
  EXPECT_FALSE(manager->delegate()) << "no delegate left behind";
  // A manager that outlives the plugin may still hear headings: they go nowhere.
  heading(10);
  failure(plat::kCLErrorHeadingFailure);
  EXPECT_TRUE(takeCallbacks().empty());
  std::weak_ptr<plat::CLLocationManager> weak = manager;
  manager.reset();
  EXPECT_TRUE(weak.expired()) << "nothing else keeps the manager alive";
}
