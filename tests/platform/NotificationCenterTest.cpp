#include <gtest/gtest.h>

#include "plat/foundation/NSNotificationCenter.h"
#include "plat/testing/PlatformTest.h"

using namespace plat;

class NotificationCenter : public plat::testing::PlatformTest {
 protected:
  NSNotificationCenter& center = NSNotificationCenter::defaultCenter();
};

TEST_F(NotificationCenter, DeliversInRegistrationOrderBySenderIdentity) {
  auto a = std::make_shared<Object>(), b = std::make_shared<Object>();
  auto sender = std::make_shared<Object>(), other = std::make_shared<Object>();
  std::vector<std::string> heard;
  center.addObserver(a, "N", nullptr, [&](const NSNotification&) { heard.push_back("a:any"); });
  center.addObserver(b, "N", sender, [&](const NSNotification&) { heard.push_back("b:sender"); });
  center.addObserver(a, "Other", nullptr, [&](const NSNotification&) { heard.push_back("a:other"); });

  center.post("N", other);
  center.post("N", sender);
  center.post("N");
  EXPECT_EQ(heard, (std::vector<std::string>{"a:any", "a:any", "b:sender", "a:any"}));
}

TEST_F(NotificationCenter, ObserversComingAndGoingDuringAPost) {
  auto first = std::make_shared<Object>(), second = std::make_shared<Object>(), late = std::make_shared<Object>();
  int secondCalls = 0, lateCalls = 0;
  center.addObserver(first, "N", nullptr, [&](const NSNotification&) {
    center.removeObserver(second.get());
    center.addObserver(late, "N", nullptr, [&](const NSNotification&) { ++lateCalls; });
  });
  center.addObserver(second, "N", nullptr, [&](const NSNotification&) { ++secondCalls; });
  center.post("N");
  EXPECT_EQ(secondCalls, 0) << "removed during the post: not called afterwards";
  EXPECT_EQ(lateCalls, 0) << "added during the post: hears only later posts";
  center.post("N");
  EXPECT_EQ(lateCalls, 1);
}

TEST_F(NotificationCenter, NothingReachesADestroyedObserver) {
  auto observer = std::make_shared<Object>();
  int calls = 0;
  center.addObserver(observer, "N", nullptr, [&](const NSNotification&) { ++calls; });
  observer.reset();
  center.post("N");
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(center.observerCount(), 0u);
}

namespace {
// Removes its own registrations when destroyed, as plugins do.
struct SelfRemoving : Object {
  ~SelfRemoving() override { NSNotificationCenter::defaultCenter().removeObserver(this); }
};
}  // namespace

TEST_F(NotificationCenter, AHandlerMayOwnTheLastReferenceToAnObserverThatRemovesItself) {
  auto owner = std::make_shared<Object>();
  auto owned = std::make_shared<SelfRemoving>();
  center.addObserver(owned, "Owned", nullptr, [](const NSNotification&) {});
  // The only strong reference to `owned` lives in owner's handler: removing owner destroys it,
  // and its destructor calls back into the centre.
  center.addObserver(owner, "N", nullptr, [keep = std::shared_ptr<Object>(owned)](const NSNotification&) {});
  owned.reset();
  center.removeObserver(owner.get());
  EXPECT_EQ(center.observerCount(), 0u) << "both are gone, and the centre did not deadlock on the way";
}
