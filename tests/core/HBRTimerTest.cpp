#include <gtest/gtest.h>

#include "HBRTimer.h"
#include "plat/testing/PlatformTest.h"

using namespace harbor;

class HBRTimerTest : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    HBRTimer::clearAll();
  }
  void TearDown() override {
    HBRTimer::clearAll();
    PlatformTest::TearDown();
  }
};

TEST_F(HBRTimerTest, NamesAreComparedLowerCasedAndLoggedAsStarted) {
  HBRTimer::start("TotalPluginStartup");
  clock_->advance(1.5);
  HBRTimer::stop("totalpluginstartup");
  EXPECT_EQ(log_->lines(), std::vector<std::string>{"[HBRTimer][TotalPluginStartup] 1500.000000ms"});
  EXPECT_EQ(HBRTimer::sharedInstance()->count(), 0u);
}

TEST_F(HBRTimerTest, DuplicateStartsAndUnknownStopsOnlyLog) {
  HBRTimer::start("Device");
  clock_->advance(0.25);
  HBRTimer::start("DEVICE");
  EXPECT_TRUE(log_->contains("Timer called 'DEVICE' already exists."));
  clock_->advance(0.25);
  HBRTimer::stop("device");
  EXPECT_TRUE(log_->contains("[HBRTimer][Device] 500.000000ms")) << "the first start counts";
  HBRTimer::stop("device");
  EXPECT_TRUE(log_->contains("Timer called 'device' does not exist."));
  HBRTimer::start("a");
  HBRTimer::start("b");
  HBRTimer::clearAll();
  EXPECT_EQ(HBRTimer::sharedInstance()->count(), 0u);
  EXPECT_EQ(HBRTimer::sharedInstance(), HBRTimer::sharedInstance());
}
