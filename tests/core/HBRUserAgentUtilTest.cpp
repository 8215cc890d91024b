#include <gtest/gtest.h>

#include "HBRUserAgentUtil.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/foundation/PropertyList.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIWebView.h"

using namespace harbor;

namespace {

class HBRUserAgentUtilTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    HBRUserAgentUtil::resetForTesting();
  }
  void TearDown() override {
    HBRUserAgentUtil::resetForTesting();
    SandboxTest::TearDown();
  }

  std::shared_ptr<plat::NSUserDefaults> defaults() { return plat::NSUserDefaults::standardUserDefaults(); }
  std::string stored(const char* key) { return defaults()->stringForKey(key).value_or("<none>"); }
};

}  // namespace

TEST_F(HBRUserAgentUtilTest, TheLockIsHandedOnInArrivalOrder) {
  std::vector<std::string> granted;
  std::int64_t first = 0, second = 0, third = 0;
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) {
    first = token;
    granted.push_back("first");
  });
  EXPECT_EQ(first, 1) << "granted at once, inside the call";
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) {
    second = token;
    granted.push_back("second");
  });
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) {
    third = token;
    granted.push_back("third");
  });
  EXPECT_EQ(granted, std::vector<std::string>{"first"});
  EXPECT_EQ(HBRUserAgentUtil::waitingRequestCount(), 2u);

  HBRUserAgentUtil::releaseLock(&first);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 2);
  EXPECT_TRUE(log_->contains("Gave lock 2"));
  EXPECT_EQ(granted, (std::vector<std::string>{"first", "second"}));

  HBRUserAgentUtil::releaseLock(&second);
  EXPECT_EQ(third, 3);
  EXPECT_TRUE(log_->contains("Gave lock 3"));
  HBRUserAgentUtil::releaseLock(&third);
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);

  std::int64_t fourth = 0;
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) { fourth = token; });
  EXPECT_EQ(fourth, 4) << "tokens are never reused";
}

TEST_F(HBRUserAgentUtilTest, ASecondReleaseThroughTheSameFieldDoesNothing) {
  std::int64_t holder = 0, waiter = 0, late = 0;
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) { holder = token; });
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) { waiter = token; });
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) { late = token; });
  HBRUserAgentUtil::releaseLock(&holder);
  HBRUserAgentUtil::releaseLock(&holder);
  EXPECT_EQ(waiter, 2);
  EXPECT_EQ(late, 0) << "the second release must not free the waiter's lock";
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 2);
  HBRUserAgentUtil::releaseLock(nullptr);
}

TEST_F(HBRUserAgentUtilTest, AHolderMayStoreItsTokenInTheFieldBeingReleased) {
  std::int64_t field = 0;
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) { field = token; });
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) { field = token; });
  HBRUserAgentUtil::releaseLock(&field);
  EXPECT_EQ(field, 2) << "the next holder's token survives the release";
  HBRUserAgentUtil::releaseLock(&field);
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 0);
}

TEST_F(HBRUserAgentUtilTest, AWrongTokenIsAnAssertionFailure) {
  std::int64_t held = 0;
  HBRUserAgentUtil::acquireLock([&](std::int64_t token) { held = token; });
  std::int64_t stale = 5;
  EXPECT_EQ(assertionOf([&] { HBRUserAgentUtil::releaseLock(&stale); }), "Got token 5, expected 1");
  EXPECT_EQ(assertionOf([&] { HBRUserAgentUtil::setUserAgent("x", 7); }), "Got token 7, expected 1");
  EXPECT_EQ(HBRUserAgentUtil::currentLockToken(), 1);
}

TEST_F(HBRUserAgentUtilTest, TheUserAgentIsRegisteredNotStored) {
  std::int64_t token = 0;
  HBRUserAgentUtil::acquireLock([&](std::int64_t t) { token = t; });
  HBRUserAgentUtil::setUserAgent("Harbor/1 (42)", token);
  EXPECT_EQ(plat::UIWebView::defaultUserAgent(), "Harbor/1 (42)");
  auto onDisk = plat::plist::readFromFile(defaults()->persistentDomainPath());
  EXPECT_TRUE(!onDisk || !onDisk->asDictionary().contains("UserAgent"));
}

TEST_F(HBRUserAgentUtilTest, TheDefaultUserAgentIsMeasuredOnceAndKept) {
  std::string agent = HBRUserAgentUtil::originalUserAgent();
  EXPECT_EQ(agent, plat::UIWebView::kBuiltInUserAgent);
  EXPECT_EQ(stored(kHBRUserAgentKey), agent);
  EXPECT_EQ(stored(kHBRUserAgentVersionKey), "iPhone 9.3 en_US");
  auto onDisk = plat::plist::readFromFile(defaults()->persistentDomainPath());
  ASSERT_TRUE(onDisk) << "written to disk at once";
  EXPECT_EQ((*onDisk)[kHBRUserAgentKey], plat::Value(agent));

  // Kept in memory: a changed stored value is not even read.
  defaults()->setObject("Changed/1", kHBRUserAgentKey);
  EXPECT_EQ(HBRUserAgentUtil::originalUserAgent(), agent);

  // Next launch, same device: the stored value is used without measuring.
  HBRUserAgentUtil::resetForTesting();
  EXPECT_EQ(HBRUserAgentUtil::originalUserAgent(), "Changed/1");
}

TEST_F(HBRUserAgentUtilTest, ANewSystemVersionOrLocaleMeasuresAgain) {
  defaults()->setObject("Stale/1", kHBRUserAgentKey);
  defaults()->setObject("iPhone 8.4 en_US", kHBRUserAgentVersionKey);
  EXPECT_EQ(HBRUserAgentUtil::originalUserAgent(), plat::UIWebView::kBuiltInUserAgent);
  EXPECT_EQ(stored(kHBRUserAgentKey), plat::UIWebView::kBuiltInUserAgent);
  EXPECT_EQ(stored(kHBRUserAgentVersionKey), "iPhone 9.3 en_US");

  // While running, a locale change is heard and forces a new measurement.
  defaults()->setObject("Stale/2", kHBRUserAgentKey);
  plat::NSLocale::setCurrentLocaleIdentifier("fr_FR");
  EXPECT_EQ(HBRUserAgentUtil::originalUserAgent(), plat::UIWebView::kBuiltInUserAgent);
  EXPECT_EQ(stored(kHBRUserAgentVersionKey), "iPhone 9.3 fr_FR");

  plat::UIDevice::currentDevice()->setModel("iPad");
  HBRUserAgentUtil::resetForTesting();
  HBRUserAgentUtil::originalUserAgent();
  EXPECT_EQ(stored(kHBRUserAgentVersionKey), "iPad 9.3 fr_FR");
}

TEST_F(HBRUserAgentUtilTest, MeasuringIgnoresTheContainersOwnUserAgent) {
  std::int64_t token = 0;
  HBRUserAgentUtil::acquireLock([&](std::int64_t t) { token = t; });
  HBRUserAgentUtil::setUserAgent(std::string(plat::UIWebView::kBuiltInUserAgent) + " (1234)", token);
  plat::NSLocale::setCurrentLocaleIdentifier("de_DE");
  EXPECT_EQ(HBRUserAgentUtil::originalUserAgent(), plat::UIWebView::kBuiltInUserAgent)
      << "the registered agent must not become the base of the next one";
  EXPECT_EQ(plat::UIWebView::defaultUserAgent(), std::string(plat::UIWebView::kBuiltInUserAgent) + " (1234)")
      << "and it stays registered";
}
