// The application's local notifications on the manual clock: delivery, repetition, the store in
// the sandbox home across a restart, the badge, the user's settings, and opening one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/FileFaults.h"
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

// --- The list and its journal ---

namespace {
std::vector<std::string> bodies(const std::vector<UILocalNotificationPtr>& notifications) {
  std::vector<std::string> out;
  for (const auto& n : notifications) out.push_back(n->alertBody().value_or("-"));
  return out;
}
std::size_t lineCount(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }
}  // namespace

TEST_F(LocalNotificationTest, ListsWrittenBeforeTheJournalStillLoad) {
  // As the store wrote them before it kept a journal: with serials, and older ones without.
  struct Case {
    const char* name;
    const char* list;
  } cases[] = {
      {"with serials",
       R"({"badge":3,"asked":true,"allowedTypes":5,"notifications":[
            {"notification":{"alertBody":"a","fireDate":800000000,"repeatInterval":0,"applicationIconBadgeNumber":0,
                             "userInfo":{"id":1},"serial":4},"next":800000000},
            {"notification":{"alertBody":"b","fireDate":800000001,"repeatInterval":0,"applicationIconBadgeNumber":0,
                             "userInfo":{"id":2},"serial":9},"next":800000001}]})"},
      {"without serials",
       R"({"badge":3,"asked":true,"allowedTypes":5,"notifications":[
            {"notification":{"alertBody":"a","fireDate":800000000,"repeatInterval":0,"applicationIconBadgeNumber":0,
                             "userInfo":{"id":1}},"next":800000000},
            {"notification":{"alertBody":"b","fireDate":800000001,"repeatInterval":0,"applicationIconBadgeNumber":0,
                             "userInfo":{"id":2}},"next":800000001}]})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UIApplication::resetSharedApplication();
    NSFileManager::defaultManager().removeItemAtPath(inHome("Library/LocalNotifications.journal"));
    writeFile(inHome("Library/LocalNotifications.json"), c.list);
    restart();
    EXPECT_EQ(bodies(app->scheduledLocalNotifications()), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(app->applicationIconBadgeNumber(), 3);
    EXPECT_EQ(app->currentUserNotificationSettings()->types(), 5u);
    // Cancelling one by its copy and scheduling another keep to their own notifications.
    app->cancelLocalNotification(app->scheduledLocalNotifications()[0]);
    app->scheduleLocalNotification(make("c", now() + 100000));
    restart();
    EXPECT_EQ(bodies(app->scheduledLocalNotifications()), (std::vector<std::string>{"b", "c"}));
    app->cancelLocalNotification(app->scheduledLocalNotifications()[1]);
    restart();
    EXPECT_EQ(bodies(app->scheduledLocalNotifications()), (std::vector<std::string>{"b"}));
  }
  EXPECT_FALSE(log_->contains("UIApplication:")) << "a clean load says nothing";
}

TEST_F(LocalNotificationTest, AChangeIsOneJournalLineAndALineCutShortNeverHappened) {
  const std::string journal = inHome("Library/LocalNotifications.journal");
  app->scheduleLocalNotification(make("old", now() + 1000));
  std::string before = readFile(journal);
  ASSERT_EQ(lineCount(before), 1u);
  // A replacement made together is one line: the old one gone and the new one there, at once.
  app->changeLocalNotificationsTogether([&] {
    app->cancelLocalNotification(app->scheduledLocalNotifications()[0]);
    app->scheduleLocalNotification(make("new", now() + 2000));
    app->setApplicationIconBadgeNumber(4);
  });
  std::string after = readFile(journal);
  ASSERT_EQ(lineCount(after), 2u);
  ASSERT_EQ(after.compare(0, before.size(), before), 0) << "lines are only appended";

  // Stopped at every point of writing that line: the state before it, or the one after.
  for (std::size_t cut = before.size(); cut <= after.size(); cut += std::max<std::size_t>(1, (after.size() - before.size()) / 7)) {
    SCOPED_TRACE(cut);
    UIApplication::resetSharedApplication();
    NSFileManager::defaultManager().removeItemAtPath(inHome("Library/LocalNotifications.json"));
    writeFile(journal, after.substr(0, cut));
    restart();
    bool whole = cut >= after.size() - 1;  // without its line end a whole line still counts
    EXPECT_EQ(bodies(app->scheduledLocalNotifications()), (std::vector<std::string>{whole ? "new" : "old"}));
    EXPECT_EQ(app->applicationIconBadgeNumber(), whole ? 4 : 0);
  }
  EXPECT_FALSE(log_->contains("UIApplication:")) << "a stop in the middle of a line is no damage";
}

TEST_F(LocalNotificationTest, TheJournalIsFoldedIntoTheListAndItsLeftoverLinesChangeNothing) {
  const std::string list = inHome("Library/LocalNotifications.json");
  const std::string journal = inHome("Library/LocalNotifications.journal");
  double start = now();
  app->scheduleLocalNotification(make("fires", start + 1, 0, 7));
  app->scheduleLocalNotification(make("cancelled", start + 5000));
  app->scheduleLocalNotification(make("kept", start + 6000));
  advance(1);
  app->cancelLocalNotification(app->scheduledLocalNotifications()[1]);
  ASSERT_EQ(delegate->received, (std::vector<std::string>{"fires"}));
  std::string lines = readFile(journal);
  ASSERT_EQ(lineCount(lines), 5u);

  // A start folds the journal into the list. Stopped before the journal was emptied, the same
  // lines stay beside the new list: nothing fires again, nothing comes back.
  restart();
  app->scheduledLocalNotifications();  // the store is read on first use
  EXPECT_EQ(readFile(journal), "");
  writeFile(journal, lines);
  restart();
  runUntilIdle();
  EXPECT_EQ(bodies(app->scheduledLocalNotifications()), (std::vector<std::string>{"fires", "kept"}));
  EXPECT_EQ(app->applicationIconBadgeNumber(), 7);
  EXPECT_EQ(delegate->received.size(), 0u);

  // One notification replaced until the journal is folded into the list by a change; stopped
  // before the journal was emptied, its lines must not bring back a replaced version.
  std::string previous = readFile(journal);
  for (int v = 0;; ++v) {
    ASSERT_LT(v, 10000) << "the journal is never folded in";
    app->changeLocalNotificationsTogether([&] {
      app->cancelLocalNotification(app->scheduledLocalNotifications().back());
      app->scheduleLocalNotification(make("v" + std::to_string(v) + std::string(1000, '.'), start + 7000));
    });
    std::string current = readFile(journal);
    if (current.size() < previous.size()) break;
    previous = current;
  }
  auto expected = bodies(app->scheduledLocalNotifications());
  writeFile(journal, previous);
  restart();
  EXPECT_EQ(bodies(app->scheduledLocalNotifications()), expected);

  // Many changes: the journal is folded in whenever it outgrows the list, so it stays small.
  for (int i = 0; i < 3000; ++i) {
    auto n = make("n" + std::to_string(i), start + 100000 + i);
    app->scheduleLocalNotification(n);
    if (i % 2) app->cancelLocalNotification(app->scheduledLocalNotifications().back());
  }
  std::size_t listSize = readFile(list).size();
  EXPECT_LE(readFile(journal).size(), std::max<std::size_t>(64 * 1024, listSize) + 4096);
  restart();
  auto all = app->scheduledLocalNotifications();
  ASSERT_EQ(all.size(), 2u + 1500u);
  EXPECT_EQ(all.back()->alertBody(), "n2998");
  EXPECT_FALSE(log_->contains("UIApplication:"));
}

TEST_F(LocalNotificationTest, ANotificationThatCannotBeStoredIsRefusedAndStopsNoOtherSave) {
  auto bytes = make("bytes", now() + 100);
  bytes->setUserInfo(Dictionary{{"id", 1}, {"data", Data{1, 2, 3}}});
  auto notANumber = make("nan", now() + 100);
  notANumber->setUserInfo(Dictionary{{"id", 2}, {"at", std::nan("")}});
  auto noDate = make("no date", std::nan(""));
  for (const auto& bad : {bytes, notANumber, noDate}) app->scheduleLocalNotification(bad);
  EXPECT_TRUE(app->scheduledLocalNotifications().empty());
  EXPECT_EQ(log_->count("was not scheduled"), 3u);
  app->scheduleLocalNotification(make("good", now() + 100));
  app->setApplicationIconBadgeNumber(2);
  restart();
  EXPECT_EQ(bodies(app->scheduledLocalNotifications()), (std::vector<std::string>{"good"}));
  EXPECT_EQ(app->applicationIconBadgeNumber(), 2);
}

// User info as deep as the list and the journal can hold is kept whole through both; one level
// more is refused, says why, and changes nothing.
TEST_F(LocalNotificationTest, UserInfoAsDeepAsTheFilesHoldIsKeptWholeAndDeeperIsRefused) {
  auto nested = [](int levels) {
    Value v = Value("leaf");
    for (int i = 1; i < levels; ++i) v = Dictionary{{"d", v}};
    return Dictionary{{"id", 1}, {"d", v}};  // the user info itself is one more level
  };
  auto deepest = make("deepest", now() + 100);
  deepest->setUserInfo(nested(508));
  auto tooDeep = make("too deep", now() + 100);
  tooDeep->setUserInfo(nested(509));
  NSError error;
  EXPECT_TRUE(app->scheduleLocalNotification(deepest, &error));
  EXPECT_FALSE(app->scheduleLocalNotification(tooDeep, &error));
  EXPECT_EQ(error.localizedDescription, "its user info is nested deeper than 508 levels");
  EXPECT_TRUE(log_->contains("UIApplication: a local notification was not scheduled: its user info is nested deeper "
                             "than 508 levels"));
  app->scheduleLocalNotification(make("after", now() + 100));
  // The first restart replays the journal, the second reads the list written from it.
  for (int process = 0; process < 2; ++process) {
    restart();
    auto all = app->scheduledLocalNotifications();
    ASSERT_EQ(bodies(all), (std::vector<std::string>{"deepest", "after"}));
    EXPECT_EQ(all[0]->userInfo(), nested(508));
  }
  EXPECT_FALSE(log_->contains("cannot store")) << "no later save failed";
}

TEST_F(LocalNotificationTest, AChangeTheDiskRefusedIsStoredWithTheNextOne) {
  app->scheduleLocalNotification(make("first", now() + 100));
  {
    FileFaultPlan plan;
    plan.diskFullAfterBytes = 10;
    ScopedFileFaults full(plan);
    app->scheduleLocalNotification(make("on a full disk", now() + 100));
  }
  EXPECT_TRUE(log_->contains("cannot store the local notifications"));
  app->scheduleLocalNotification(make("after", now() + 100));
  restart();
  EXPECT_EQ(bodies(app->scheduledLocalNotifications()),
            (std::vector<std::string>{"first", "on a full disk", "after"}));
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
