// The application's local notifications on the manual clock: delivery, repetition, the store in
// the sandbox home across a restart, the badge, the user's settings, and opening one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIDevice.h"

namespace plat {
namespace {

class RecordingDelegate : public Object, public UIApplicationDelegate {
 public:
  void applicationDidReceiveLocalNotification(const UIApplicationPtr& app, const UILocalNotificationPtr& n) override {
    received.push_back(n->alertBody().value_or("-"));
    statesWhenReceived.push_back(app->applicationState());
  }
  void applicationDidRegisterUserNotificationSettings(const UIApplicationPtr&,
                                                      const UIUserNotificationSettingsPtr& settings) override {
    answers.push_back(settings->types());
  }
  std::vector<std::string> received;
  std::vector<UIApplicationState> statesWhenReceived;
  std::vector<unsigned long> answers;
};

class LocalNotificationTest : public testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    launch();
  }
  void launch() {
    delegate = std::make_shared<RecordingDelegate>();
    app = UIApplication::sharedApplication();
    app->launchWithDelegate(delegate);
  }
  // A new process: a fresh application object over the same home.
  void restart() {
    UIApplication::resetSharedApplication();
    RunLoop::main().reset();
    launch();
  }
  static UILocalNotificationPtr make(const std::string& body, std::optional<double> fireDate,
                                     NSCalendarUnit repeat = 0, std::int64_t badge = 0) {
    auto n = std::make_shared<UILocalNotification>();
    n->setAlertBody(body);
    n->setFireDate(fireDate);
    n->setRepeatInterval(repeat);
    n->setApplicationIconBadgeNumber(badge);
    n->setUserInfo(Dictionary{{"id", 1}});
    return n;
  }

  std::shared_ptr<RecordingDelegate> delegate;
  UIApplicationPtr app;
};

TEST_F(LocalNotificationTest, FiresWhenTheClockPassesItsDateAndStaysListed) {
  app->scheduleLocalNotification(make("later", now() + 10, 0, 3));
  app->scheduleLocalNotification(make("at once", std::nullopt));
  runUntilIdle();
  EXPECT_EQ(delegate->received, (std::vector<std::string>{"at once"}));
  advance(9.5);
  EXPECT_EQ(delegate->received.size(), 1u);
  EXPECT_EQ(app->applicationIconBadgeNumber(), 0);
  advance(0.5);
  EXPECT_EQ(delegate->received, (std::vector<std::string>{"at once", "later"}));
  EXPECT_EQ(app->applicationIconBadgeNumber(), 3);
  // Both stay listed until cancelled, and never fire again.
  advance(100);
  EXPECT_EQ(delegate->received.size(), 2u);
  ASSERT_EQ(app->scheduledLocalNotifications().size(), 2u);
  app->cancelLocalNotification(app->scheduledLocalNotifications()[0]);
  auto left = app->scheduledLocalNotifications();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]->alertBody(), "at once");
}

TEST_F(LocalNotificationTest, RepeatsFromItsFireDateAndFiresOnceForMissedRepetitions) {
  struct Case {
    NSCalendarUnit unit;
    double step;
  } cases[] = {{NSCalendarUnitSecond, 1}, {NSCalendarUnitMinute, 60}, {NSCalendarUnitHour, 3600}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    app->cancelAllLocalNotifications();
    delegate->received.clear();
    double start = now();
    app->scheduleLocalNotification(make("tick", start + c.step, c.unit));
    advance(c.step);
    advance(c.step);
    EXPECT_EQ(delegate->received.size(), 2u);
    advance(c.step * 10.5);  // ten repetitions missed at once: one delivery
    EXPECT_EQ(delegate->received.size(), 3u);
    advance(c.step * 0.5);
    EXPECT_EQ(delegate->received.size(), 4u);
    // The fire date stays the one it was given.
    EXPECT_EQ(app->scheduledLocalNotifications()[0]->fireDate(), start + c.step);
  }
}

TEST_F(LocalNotificationTest, CalendarRepetitionsKeepTheTimeOfDay) {
  // The calendar is the local one; pin it so the day lengths below hold everywhere.
  std::string previous = std::getenv("TZ") ? std::getenv("TZ") : "";
  bool hadZone = std::getenv("TZ") != nullptr;
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  double date = 700000000;  // 2023-03-08
  EXPECT_EQ(dateByAddingUnits(date, NSCalendarUnitDay, 3), date + 3 * 86400);
  EXPECT_EQ(dateByAddingUnits(date, NSCalendarUnitWeekOfYear, 1), date + 7 * 86400);
  EXPECT_EQ(dateByAddingUnits(date, NSCalendarUnitMonth, 1), date + 31 * 86400);  // March has 31 days
  EXPECT_EQ(dateByAddingUnits(date, NSCalendarUnitYear, 1), date + 366 * 86400);  // across 29 February 2024
  EXPECT_EQ(dateByAddingUnits(date, NSCalendarUnitMinute, -2), date - 120);
  if (hadZone) ::setenv("TZ", previous.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

TEST_F(LocalNotificationTest, SurvivesARestartAndWhatFellDueMeanwhileWaitsToBeOpened) {
  double start = now();
  app->scheduleLocalNotification(make("soon", start + 5, 0, 2));
  app->scheduleLocalNotification(make("daily", start + 1000, NSCalendarUnitDay));
  app->scheduleLocalNotification(make("far", start + 100000));
  app->setApplicationIconBadgeNumber(1);

  restart();
  ASSERT_EQ(app->scheduledLocalNotifications().size(), 3u);
  EXPECT_EQ(app->applicationIconBadgeNumber(), 1);

  // Stopped while "soon" and "daily" fell due: they are not handed to the delegate, but reported
  // and kept for the user to open.
  restart();
  clock_->advance(2000);
  std::vector<std::string> reported;
  app->setLocalNotificationObserver([&](const UIApplication::LocalNotificationEvent& e) {
    reported.push_back(e.notification ? e.notification->alertBody().value_or("-") : "-");
  });
  runUntilIdle();
  EXPECT_EQ(reported, (std::vector<std::string>{"soon", "daily"}));
  EXPECT_TRUE(delegate->received.empty());
  EXPECT_EQ(app->applicationIconBadgeNumber(), 2);
  auto last = app->lastDeliveredLocalNotification();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->alertBody(), "daily");
  // The daily one goes on at its next repetition, not again for the ones missed.
  advance(86400 - 1000);
  EXPECT_EQ(delegate->received, (std::vector<std::string>{"daily"}));
}

TEST_F(LocalNotificationTest, AnUnreadableStoreIsSetAsideAndNotOverwrittenUnread) {
  std::string path = inHome("Library/LocalNotifications.json");
  writeFile(path, "{\"notifications\": [");
  restart();
  EXPECT_TRUE(app->scheduledLocalNotifications().empty());
  EXPECT_EQ(readFile(path + ".unreadable"), "{\"notifications\": [");
  EXPECT_TRUE(log_->contains("cannot be read"));
  app->scheduleLocalNotification(make("new", now() + 5));
  restart();
  EXPECT_EQ(app->scheduledLocalNotifications().size(), 1u);
}

TEST_F(LocalNotificationTest, OutsideTheForegroundANotificationWaitsUntilOpened) {
  app->resignActive();
  app->enterBackground();
  app->scheduleLocalNotification(make("wait", now() + 1));
  advance(1);
  EXPECT_TRUE(delegate->received.empty());
  app->openLocalNotification(app->lastDeliveredLocalNotification());
  EXPECT_EQ(delegate->received, (std::vector<std::string>{"wait"}));
  // Handed over as the application comes back, before it is active.
  EXPECT_EQ(delegate->statesWhenReceived, (std::vector<UIApplicationState>{UIApplicationStateInactive}));
  EXPECT_EQ(app->applicationState(), UIApplicationStateActive);
}

TEST_F(LocalNotificationTest, TheUserIsAskedOnceFromSystemEight) {
  struct Case {
    const char* version;
    bool responds;
  } versions[] = {{"7.1", false}, {"8.0", true}, {"10.2", true}};
  for (const auto& c : versions) {
    UIDevice::currentDevice()->setSystemVersion(c.version);
    EXPECT_EQ(app->respondsToRegisterUserNotificationSettings(), c.responds) << c.version;
  }
  EXPECT_EQ(app->currentUserNotificationSettings()->types(), 0u);
  app->setUserNotificationAnswer(UIUserNotificationTypeBadge | UIUserNotificationTypeAlert);
  app->registerUserNotificationSettings(UIUserNotificationSettings::settingsForTypes(7));
  EXPECT_TRUE(delegate->answers.empty());  // on a later turn
  runUntilIdle();
  app->setUserNotificationAnswer(0);
  app->registerUserNotificationSettings(UIUserNotificationSettings::settingsForTypes(7));
  runUntilIdle();
  EXPECT_EQ(delegate->answers, (std::vector<unsigned long>{5, 5}));
  restart();
  EXPECT_EQ(app->currentUserNotificationSettings()->types(), 5u);
}

}  // namespace
}  // namespace plat
