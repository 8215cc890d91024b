// The simulated accelerometer and compass: who hears samples and headings, and the heading filter.
#include <gtest/gtest.h>

#include <vector>

#include "plat/corelocation/CLLocationManager.h"
#include "plat/coremotion/CMMotionManager.h"
#include "plat/testing/PlatformTest.h"

using namespace plat;

namespace {

class MotionSensors : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    SimulatedAccelerometer::reset();
    SimulatedCompass::reset();
  }
  void TearDown() override {
    SimulatedAccelerometer::reset();
    SimulatedCompass::reset();
    PlatformTest::TearDown();
  }
};

class RecordingDelegate : public CLLocationManagerDelegate {
 public:
  void locationManagerDidUpdateHeading(CLLocationManager&, const CLHeadingPtr& heading) override {
    headings.push_back(heading->magneticHeading());
  }
  void locationManagerDidFailWithError(CLLocationManager&, const NSError& error) override {
    errors.push_back(error.code);
  }
  std::vector<double> headings;
  std::vector<long> errors;
};

}  // namespace

TEST_F(MotionSensors, SamplesReachOnlyRunningManagersOnTheMainLoop) {
  auto manager = std::make_shared<CMMotionManager>();
  std::vector<CMAccelerometerData> samples;
  auto handler = [&samples](const std::optional<CMAccelerometerData>& d, const std::optional<NSError>&) {
    samples.push_back(*d);
  };

  manager->startAccelerometerUpdatesToMainQueue(handler);
  EXPECT_FALSE(manager->isAccelerometerActive()) << "no accelerometer, nothing starts";

  SimulatedAccelerometer::setAvailable(true);
  manager->startAccelerometerUpdatesToMainQueue(handler);
  EXPECT_TRUE(manager->isAccelerometerActive());
  SimulatedAccelerometer::pushAcceleration({0.1, 0.2, -1});
  EXPECT_TRUE(samples.empty()) << "delivered on a later turn";
  runUntilIdle();
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_EQ(samples[0].acceleration, (CMAcceleration{0.1, 0.2, -1}));
  EXPECT_EQ(samples[0].timestamp, clock_->now());

  // Stopped between the push and the turn that would deliver it: nothing arrives.
  SimulatedAccelerometer::pushAcceleration({0, 0, 1});
  manager->stopAccelerometerUpdates();
  runUntilIdle();
  EXPECT_EQ(samples.size(), 1u);

  // A released manager drops out without a stop.
  manager->startAccelerometerUpdatesToMainQueue(handler);
  SimulatedAccelerometer::pushAcceleration({0, 0, 1});
  manager.reset();
  runUntilIdle();
  SimulatedAccelerometer::pushAcceleration({0, 0, 1});
  runUntilIdle();
  EXPECT_EQ(samples.size(), 1u);
}

TEST_F(MotionSensors, TheHeadingFilterHoldsBackSmallChanges) {
  struct Case {
    const char* name;
    double filter;
    std::vector<double> pushed;
    std::vector<double> delivered;
  };
  const Case cases[] = {
      {"every heading without a filter", kCLHeadingFilterNone, {10, 10, 10.1}, {10, 10, 10.1}},
      {"the first always, then changes of at least the filter", 5, {10, 14, 15, 19, 21}, {10, 15, 21}},
      {"measured the short way round north", 5, {358, 2, 3.5}, {358, 3.5}},
      {"a filter of 0 passes equal headings", 0, {90, 90}, {90, 90}},
      {"pushed headings are brought into 0 to 360", 1, {-90, 450}, {270, 90}},
  };
  SimulatedCompass::setHeadingAvailable(true);
  for (const Case& c : cases) {
    auto manager = std::make_shared<CLLocationManager>();
    auto delegate = std::make_shared<RecordingDelegate>();
    manager->setDelegate(delegate);
    manager->setHeadingFilter(c.filter);
    manager->startUpdatingHeading();
    for (double h : c.pushed) {
      SimulatedCompass::pushHeading(h);
      runUntilIdle();
    }
    EXPECT_EQ(delegate->headings, c.delivered) << c.name;
  }
}

TEST_F(MotionSensors, HeadingsAndFailuresReachOnlyManagersThatUpdate) {
  auto manager = std::make_shared<CLLocationManager>();
  auto delegate = std::make_shared<RecordingDelegate>();
  manager->setDelegate(delegate);
  manager->startUpdatingHeading();
  EXPECT_FALSE(manager->isUpdatingHeading()) << "no heading support, nothing starts";
  EXPECT_FALSE(CLLocationManager::headingAvailable());

  SimulatedCompass::setHeadingAvailable(true);
  EXPECT_TRUE(manager->isHeadingAvailable());
  manager->startUpdatingHeading();
  SimulatedCompass::pushError(kCLErrorHeadingFailure);
  SimulatedCompass::pushHeading(42, 7);
  runUntilIdle();
  EXPECT_EQ(delegate->errors, std::vector<long>{kCLErrorHeadingFailure});
  EXPECT_EQ(delegate->headings, std::vector<double>{42});
  ASSERT_TRUE(manager->heading());
  EXPECT_EQ(manager->heading()->headingAccuracy(), 7);
  EXPECT_LT(manager->heading()->trueHeading(), 0) << "no location, no true heading";

  manager->stopUpdatingHeading();
  SimulatedCompass::pushHeading(43);
  SimulatedCompass::pushError(kCLErrorHeadingFailure);
  runUntilIdle();
  EXPECT_EQ(delegate->headings.size(), 1u);
  EXPECT_EQ(delegate->errors.size(), 1u);

  // The delegate is held weakly: once it is gone, headings go nowhere.
  manager->startUpdatingHeading();
  delegate.reset();
  SimulatedCompass::pushHeading(44);
  runUntilIdle();
  EXPECT_FALSE(manager->delegate());
}
