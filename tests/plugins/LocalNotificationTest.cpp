// Local notifications from the page: the actions, the events they fire (queued until the page is
// ready), arrivals told apart as trigger or click, permission, the termination clean-up and the
// application-event hooks, all on the manual clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

#include "HBRAppDelegate.h"
#include "LCNLocalNotification.h"
#include "LocalNotificationPlugin.h"
#include "UIApplication+LCNLocalNotification.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/FileFaults.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/testing/KilledWriter.h"
#include "support/PluginTest.h"

using namespace harbor;
using plat::Array;
using plat::Dictionary;
using plat::Value;

namespace {

// One event as the page receives it.
struct PageEvent {
  std::string name;
  Value notification;  // absent for events without one
  std::string state;
};

// An application delegate of the container that launches no window, and records its own
// handling of the two hooked callbacks.
class TestAppDelegate : public HBRAppDelegate {
 public:
  bool applicationDidFinishLaunchingWithOptions(const plat::UIApplicationPtr&, const Dictionary&) override {
    return true;
  }
  std::vector<std::string>* journal = nullptr;

 protected:
  void didReceiveLocalNotification(const plat::UIApplicationPtr&, const plat::UILocalNotificationPtr&) override {
    if (journal) journal->push_back("delegate: local notification");
  }
  void didRegisterUserNotificationSettings(const plat::UIApplicationPtr&,
                                           const plat::UIUserNotificationSettingsPtr&) override {
    if (journal) journal->push_back("delegate: settings");
  }
};

class LocalNotification : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerLocalNotificationPlugin();
    app = plat::UIApplication::sharedApplication();
    delegate = std::make_shared<TestAppDelegate>();
    app->launchWithDelegate(delegate);
    plugin = create<LCNLocalNotification>("LCNLocalNotification", "LocalNotification");
    ASSERT_TRUE(plugin);
  }

  // Runs the action as the page does and lets its background work finish.
  void run(const std::string& action, const Array& arguments = {}) {
    plat::dispatch::GlobalQueue::shared().hold();
    exec("LocalNotification", action, arguments);
    plat::dispatch::GlobalQueue::shared().drain();
    plat::dispatch::GlobalQueue::shared().release();
    runUntilIdle();
  }
  // The same, sent as a WKWebView page's script message: values as WebKit delivers them.
  void runMessage(const std::string& action, const Array& arguments) {
    plat::dispatch::GlobalQueue::shared().hold();
    execMessage("LocalNotification", action, arguments);
    plat::dispatch::GlobalQueue::shared().drain();
    plat::dispatch::GlobalQueue::shared().release();
    runUntilIdle();
  }
  // A new process over the same sandbox home.
  void restart() {
    plat::UIApplication::resetSharedApplication();
    app = plat::UIApplication::sharedApplication();
    app->launchWithDelegate(delegate);
  }
  void ready() { run("deviceready"); }

  // Splits what reached the page into events and callbacks.
  void collect() {
    static const std::string head = "harbor.plugins.notification.local.core.fireEvent('";
    for (const auto& wrapped : engine->scripts) {
      // The command delegate wraps what it evaluates; the event call is inside.
      std::size_t start = wrapped.find(head);
      if (start == std::string::npos) {
        const std::string& script = wrapped;
        auto callback = harbor::testing::parseCallbackScript(script);
        EXPECT_TRUE(callback) << script;
        if (callback) callbacks.push_back(*callback);
        continue;
      }
      std::size_t end = wrapped.rfind("})}catch");
      std::string script = wrapped.substr(start, end == std::string::npos ? std::string::npos : end - start);
      std::string rest = script.substr(head.size());
      PageEvent event;
      event.name = rest.substr(0, rest.find('\''));
      std::string args = rest.substr(event.name.size() + 3, rest.size() - event.name.size() - 4);
      if (args.front() == '"') {
        event.state = args.substr(1, args.size() - 2);
      } else {
        std::size_t split = args.rfind(",'");
        auto parsed = plat::json::parse(args.substr(0, split));
        EXPECT_TRUE(parsed) << script;
        if (parsed) event.notification = *parsed;
        event.state = args.substr(split + 2, args.size() - split - 3);
      }
      events.push_back(event);
    }
    engine->scripts.clear();
  }
  std::vector<PageEvent> takeEvents() {
    collect();
    return std::exchange(events, {});
  }
  std::vector<harbor::testing::PageCallback> takeAnswers() {
    collect();
    return std::exchange(callbacks, {});
  }
  // "name id" for each event, for compact comparisons.
  std::vector<std::string> eventSummary() {
    std::vector<std::string> out;
    for (const auto& e : takeEvents())
      out.push_back(e.notification.isAbsent() ? e.name : e.name + " " + e.notification["id"].description());
    return out;
  }
  Value answer(const std::string& action, const Array& arguments = {}) {
    takeAnswers();
    run(action, arguments);
    auto answers = takeAnswers();
    EXPECT_EQ(answers.size(), 1u) << action;
    if (answers.empty()) return Value();
    EXPECT_EQ(answers[0].status, 1) << action;
    return answers[0].message;
  }
  // Whole seconds since 1970 of the manual clock's now plus an offset, as a page sends "at".
  static std::int64_t at(double offset) {
    return static_cast<std::int64_t>(plat::now() + plat::kReferenceDateOffset + offset);
  }

  plat::UIApplicationPtr app;
  std::shared_ptr<TestAppDelegate> delegate;
  std::shared_ptr<LCNLocalNotification> plugin;
  std::vector<PageEvent> events;
  std::vector<harbor::testing::PageCallback> callbacks;
};

}  // namespace

TEST_F(LocalNotification, EventsWaitForDevicereadyThenGoOutOnceInOrder) {
  run("schedule", Array{Dictionary{{"id", 1}, {"at", at(60)}}, Dictionary{{"id", 2}, {"at", at(60)}},
                        Dictionary{{"id", 3}, {"at", at(60)}}});
  auto answers = takeAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].status, 1);
  EXPECT_TRUE(answers[0].message.isNil()) << "answered without a message";
  EXPECT_TRUE(takeEvents().empty());
  EXPECT_EQ(plugin->eventQueue().size(), 3u);

  run("cancelAll");
  ready();
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"schedule 1", "schedule 2", "schedule 3", "cancelall"}));
  // Ready once is ready for good: a second call sends nothing, later events go out at once,
  // a reload changes nothing.
  ready();
  EXPECT_TRUE(takeEvents().empty());
  plugin->onReset();
  run("schedule", Array{Dictionary{{"id", 4}, {"at", at(60)}}});
  auto later = takeEvents();
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(later[0].state, "foreground");
}

TEST_F(LocalNotification, ScheduleReplacesByIdAndUpdateReportsTheOldOptions) {
  ready();
  run("schedule", Array{Dictionary{{"id", 7}, {"text", "first"}, {"at", at(60)}, {"data", "kept"}}});
  run("schedule", Array{Dictionary{{"id", "7"}, {"text", "second"}, {"at", at(60)}}});
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"schedule 7", "schedule 7"}));
  Value all = answer("getAll");
  ASSERT_EQ(all.asArray().size(), 1u);
  EXPECT_EQ(all.at(0)["text"], Value("second"));

  run("update", Array{Dictionary{{"id", 7}, {"text", "third"}}, Value("not options"), Dictionary{{"id", 99}}});
  auto updates = takeEvents();
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].name, "update");
  EXPECT_EQ(updates[0].notification["text"], Value("second"));
  all = answer("getAll");
  ASSERT_EQ(all.asArray().size(), 1u);
  EXPECT_EQ(all.at(0)["text"], Value("third"));
  EXPECT_EQ(all.at(0)["id"], Value(7)) << "the new id wins, in its new form";
  EXPECT_FALSE(all.at(0).asDictionary().contains("updatedAt")) << "the plugin's mark never reaches the page";
}

TEST_F(LocalNotification, LookupsByIdAndState) {
  ready();
  run("schedule", Array{Dictionary{{"id", 1}}, Dictionary{{"id", 2}, {"at", at(100)}},
                        Dictionary{{"id", 3}, {"at", at(-30)}, {"every", "minute"}}});
  advance(0);
  takeEvents();
  struct Case {
    const char* action;
    Array arguments;
    Value expected;
  };
  const Case cases[] = {
      {"getAllIds", {}, Array{1, 2, 3}},
      {"getScheduledIds", {}, Array{2}},
      {"getTriggeredIds", {}, Array{1, 3}},
      {"isPresent", {"2"}, true},
      {"isPresent", {2.0}, true},
      {"isPresent", {"02"}, false},
      {"isScheduled", {1}, false},
      {"isTriggered", {1}, true},
      {"isTriggered", {2}, false},
      {"getAll", {3, 9, 1}, Array{Dictionary{{"id", 3}, {"at", at(-30)}, {"every", "minute"}}, Dictionary{{"id", 1}}}},
      {"getScheduled", {}, Array{Dictionary{{"id", 2}, {"at", at(100)}}}},
      {"getTriggered", {2}, Array{}},
      {"getSingle", {1}, Dictionary{{"id", 1}}},
      {"getSingleScheduled", {1}, Value::null()},
      {"getSingle", {42}, Value::null()},
  };
  for (const auto& c : cases)
    EXPECT_EQ(answer(c.action, c.arguments).description(), c.expected.description())
        << c.action << " " << Value(c.arguments).description();
}

TEST_F(LocalNotification, CancelAndClearRepeatingOrNot) {
  ready();
  app->setApplicationIconBadgeNumber(4);
  run("schedule", Array{Dictionary{{"id", 1}}, Dictionary{{"id", 2}, {"at", at(-90)}, {"every", "minute"}},
                        Dictionary{{"id", 3}, {"at", at(500)}}});
  advance(0);
  takeEvents();

  run("clear", Array{1, 2, 77});
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"clear 1", "clear 2"}));
  EXPECT_EQ(answer("getAllIds"), Value(Array{3, 2})) << "the repeating one is scheduled again";
  auto repeating = localNotificationWithId(*app, Value(2));
  ASSERT_TRUE(repeating);
  EXPECT_EQ(repeating->fireDate(), static_cast<double>(at(-90)) - plat::kReferenceDateOffset) << "back at its first date";

  run("clearAll");
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"clearall"}));
  EXPECT_EQ(app->applicationIconBadgeNumber(), 0);

  run("cancel", Array{"3"});
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"cancel 3"}));
  run("cancelAll");
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"cancelall"}));
  EXPECT_EQ(answer("getAllIds"), Value(Array{}));
}

TEST_F(LocalNotification, ArrivalsAreTriggersWithinASecondAndClicksOtherwise) {
  ready();
  run("schedule", Array{Dictionary{{"id", 1}, {"at", at(10)}}});
  takeEvents();
  advance(10);
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"trigger 1"}));

  // In the background it waits; opened three seconds later it is a click, and is cancelled.
  app->resignActive();
  app->enterBackground();
  run("schedule", Array{Dictionary{{"id", 2}, {"at", at(5)}}, Dictionary{{"id", 3}, {"at", at(5)}, {"every", "hour"}}});
  auto scheduled = takeEvents();
  ASSERT_EQ(scheduled.size(), 2u);
  EXPECT_EQ(scheduled[0].state, "background");
  advance(8);
  EXPECT_TRUE(takeEvents().empty());
  for (auto id : {2, 3}) {
    app->enterBackground();
    app->openLocalNotification(localNotificationWithId(*app, Value(id)));
  }
  runUntilIdle();
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"click 2", "cancel 2", "click 3", "clear 3"}));
  EXPECT_FALSE(localNotificationExist(*app, Value(2)));
  EXPECT_TRUE(localNotificationExist(*app, Value(3)));
}

TEST_F(LocalNotification, AnArrivalBeforeDevicereadyIsAQueuedClick) {
  run("schedule", Array{Dictionary{{"id", 1}, {"at", at(1)}}});
  advance(1);
  EXPECT_TRUE(takeEvents().empty());
  ready();
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"schedule 1", "click 1", "cancel 1"}));
}

TEST_F(LocalNotification, ALaunchFromANotificationIsAClick) {
  auto opened = localNotificationWithOptions(Dictionary{{"id", 5}, {"text", "open me"}});
  plat::NSNotificationCenter::defaultCenter().post(
      plat::UIApplicationDidFinishLaunchingNotification, app,
      Dictionary{{plat::UIApplicationLaunchOptionsLocalNotificationKey, opened->dictionaryRepresentation()}});
  ready();
  auto heard = takeEvents();
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0].name, "click");
  EXPECT_EQ(heard[0].notification["text"], Value("open me"));
}

TEST_F(LocalNotification, WhatThePageSendsReachesTheEventOnlyAsData) {
  ready();
  std::string hostile = "'); alert(1); //\"\xE2\x80\xA8 \xE2\x80\xA9</script>";
  run("schedule", Array{Dictionary{{"id", 1}, {"title", hostile}, {"at", at(60)}, {"updatedAt", "yesterday"}},
                        Dictionary{}, Value(5), Value("text"), Value::null()});
  std::string script;
  for (const auto& s : engine->scripts)
    if (s.find("alert(1)") != std::string::npos) script = s;
  EXPECT_EQ(script.find('\n'), std::string::npos);
  EXPECT_EQ(script.find("\xE2\x80\xA8"), std::string::npos);
  EXPECT_NE(script.find("\\u2028"), std::string::npos);
  auto heard = takeEvents();
  ASSERT_EQ(heard.size(), 2u) << "only the two dictionaries make notifications";
  EXPECT_EQ(heard[0].notification["title"], Value(hostile));
  EXPECT_EQ(heard[1].notification, Value(Dictionary{})) << "an empty notification is {}";
  EXPECT_FALSE(heard[0].notification.asDictionary().contains("updatedAt"));
  // The page's "updatedAt" is not the plugin's: an arrival right after it is not mistaken for
  // the replacement an update makes.
  run("schedule", Array{Dictionary{{"id", 2}, {"updatedAt", Value(plat::now())}}});
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"schedule 2", "trigger 2"}));
}

TEST_F(LocalNotification, TheUpdatesOwnReplacementArrivingAtOnceIsNoEvent) {
  ready();
  run("schedule", Array{Dictionary{{"id", 1}, {"at", at(60)}}});
  // Without a date the replacement fires at once, less than a second after the update.
  run("update", Array{Dictionary{{"id", 1}, {"at", Value::null()}}});
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"schedule 1", "update 1"}));
  EXPECT_TRUE(localNotificationExist(*app, Value(1)));
}

TEST_F(LocalNotification, PermissionBelowAndFromSystemEight) {
  plat::UIDevice::currentDevice()->setSystemVersion("7.1");
  EXPECT_EQ(answer("hasPermission"), Value(true));
  EXPECT_EQ(answer("registerPermission"), Value(true));

  plat::UIDevice::currentDevice()->setSystemVersion("8.0");
  EXPECT_EQ(answer("hasPermission"), Value(false));
  std::vector<std::string> journal;
  delegate->journal = &journal;
  plat::dispatch::GlobalQueue::shared().hold();
  exec("LocalNotification", "registerPermission", {}, "first");
  exec("LocalNotification", "registerPermission", {}, "second");
  plat::dispatch::GlobalQueue::shared().drain();
  plat::dispatch::GlobalQueue::shared().release();
  runUntilIdle();
  plat::dispatch::GlobalQueue::shared().waitIdle();
  runUntilIdle();
  auto answers = takeAnswers();
  ASSERT_EQ(answers.size(), 2u) << "every request waiting gets the answer";
  EXPECT_EQ(answers[0].callbackId, "first");
  EXPECT_EQ(answers[1].callbackId, "second");
  EXPECT_EQ(answers[0].message, Value(true));
  EXPECT_EQ(answers[1].message, Value(true));
  EXPECT_EQ(journal, (std::vector<std::string>{"delegate: settings", "delegate: settings"}));
}

TEST_F(LocalNotification, TerminationCancelsWhatFiredMoreThanFiveDaysAgo) {
  ready();
  run("schedule", Array{Dictionary{{"id", 1}}, Dictionary{{"id", 2}, {"every", "day"}},
                        Dictionary{{"id", 3}, {"at", at(432000 - 10)}}});
  takeEvents();
  // In the background, so that nothing is handed over as it fires.
  app->resignActive();
  app->enterBackground();
  advance(432001);
  EXPECT_TRUE(takeEvents().empty());
  app->terminate();
  runUntilIdle();
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"cancel 1"}));
  EXPECT_EQ(localNotificationIds(*app), (Array{2, 3}));
}

TEST_F(LocalNotification, ScheduledNotificationsSurviveARestart) {
  run("schedule", Array{Dictionary{{"id", 1}, {"text", "tomorrow"}, {"at", at(86400)}}});
  plat::UIApplication::resetSharedApplication();
  app = plat::UIApplication::sharedApplication();
  app->launchWithDelegate(delegate);
  Value all = answer("getAll");
  ASSERT_EQ(all.asArray().size(), 1u);
  EXPECT_EQ(all.at(0)["text"], Value("tomorrow"));
}

TEST_F(LocalNotification, ValuesJSONCannotHoldAreKeptAsJSONWouldAndStopNoLaterSave) {
  ready();
  const double nan = std::nan("");
  runMessage("schedule", Array{Dictionary{{"id", 1}, {"data", plat::Data{1, 2, 3}}, {"at", nan}}});
  runMessage("schedule", Array{Dictionary{{"id", 2}, {"text", "later"}, {"at", at(60)},
                                          {"deep", Dictionary{{"x", INFINITY}, {"list", Array{nan, plat::Data{}}}}}}});
  runMessage("update", Array{Dictionary{{"id", 2}, {"extra", -INFINITY}}});
  run("schedule", Array{Dictionary{{"id", 3}, {"text", "last"}, {"at", at(120)}}});
  EXPECT_FALSE(log_->contains("UIApplication:")) << "nothing refused, nothing left unstored";

  // As a UIWebView page's JSON would have sent them.
  const Value first = Dictionary{{"id", 1}, {"data", Dictionary{{"0", 1}, {"1", 2}, {"2", 3}}}, {"at", Value::null()}};
  const Value second = Dictionary{{"id", 2},
                                  {"text", "later"},
                                  {"at", at(60)},
                                  {"deep", Dictionary{{"x", Value::null()}, {"list", Array{Value::null(), Dictionary{}}}}},
                                  {"extra", Value::null()}};
  for (int process = 0; process < 2; ++process) {
    SCOPED_TRACE(process == 0 ? "before a restart" : "after a restart");
    Value all = answer("getAll");
    ASSERT_EQ(all.asArray().size(), 3u) << all.description();
    EXPECT_EQ(all.at(0), first);
    EXPECT_EQ(all.at(1), second);
    EXPECT_EQ(all.at(2)["text"], Value("last"));
    EXPECT_EQ(answer("getSingle", Array{2}), second);
    restart();
  }
}

namespace {
// Options nested `levels` deep, the options themselves counting as one; an hour
// ahead, so that nothing fires.
Dictionary nestedOptions(int id, int levels) {
  Value v = Value("leaf");
  for (int i = 1; i < levels; ++i) v = Dictionary{{"d", v}};
  const auto inAnHour = static_cast<std::int64_t>(plat::now() + plat::kReferenceDateOffset + 3600);
  return Dictionary{{"id", id}, {"at", inAnHour}, {"d", v}};
}
}  // namespace

// Options are kept whole however deep the store can hold them, as JSON carries them or as a
// WKWebView message does; deeper ones are refused with the reason, store nothing and replace
// nothing.
TEST_F(LocalNotification, DeepOptionsAreKeptWholeOrRefusedWithTheReason) {
  ready();
  struct Case {
    int levels;
    bool message;  // sent as a WKWebView message rather than through JSON
  };
  const Case kept[] = {{65, false}, {200, false}, {200, true}, {508, false}, {508, true}};
  int id = 0;
  for (const Case& c : kept) {
    SCOPED_TRACE(std::to_string(c.levels) + (c.message ? " as a message" : " as JSON"));
    ++id;
    const Dictionary options = nestedOptions(id, c.levels);
    if (c.message)
      runMessage("schedule", Array{options});
    else
      run("schedule", Array{options});
    auto answers = takeAnswers();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].status, 1);
    auto heard = takeEvents();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].name, "schedule");
    EXPECT_EQ(heard[0].notification, Value(options));
  }
  // Refused: the schedule, and an update that would make one too deep. Each keeps what was
  // there, fires no event, and answers why.
  const std::string why = "was not scheduled: its user info is nested deeper than 508 levels";
  const Value stays = Dictionary{{"id", 50}, {"text", "stays"}, {"at", at(3600)}};
  run("schedule", Array{stays});
  takeEvents();
  takeAnswers();
  // Nested 510 levels, the message is 512 deep: the most the host reads.
  runMessage("schedule", Array{nestedOptions(50, 509), nestedOptions(100, 510), Dictionary{{"id", 101}, {"at", at(3600)}}});
  auto answers = takeAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].status, 9);
  EXPECT_EQ(answers[0].message.description(), Value("notification 50 " + why + "; notification 100 " + why).description());
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"schedule 101"})) << "the rest are still scheduled";
  // One level more and the host cannot read the message: no command reaches the plugin (as a
  // batch that deep never reaches it from a UIWebView page), so nothing is scheduled or replaced.
  ASSERT_FALSE(asScriptMessage("LocalNotification", "schedule", Array{nestedOptions(50, 511)})->isArray());
  runMessage("schedule", Array{nestedOptions(50, 511)});
  EXPECT_TRUE(takeAnswers().empty());
  EXPECT_TRUE(takeEvents().empty());
  runMessage("update", Array{Dictionary{{"id", 2}, {"deeper", nestedOptions(2, 508)}}});
  answers = takeAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].status, 9);
  EXPECT_EQ(answers[0].message.description(),
            Value("notification 2 was not updated: its user info is nested deeper than 508 levels").description());
  EXPECT_TRUE(takeEvents().empty());

  for (int process = 0; process < 2; ++process) {
    SCOPED_TRACE(process == 0 ? "before a restart" : "after a restart");
    Value all = answer("getAll");
    ASSERT_EQ(all.asArray().size(), 7u);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(all.at(i) == Value(nestedOptions(i + 1, kept[i].levels))) << i;
    EXPECT_EQ(all.at(5).description(), stays.description());
    EXPECT_EQ(all.at(6)["id"], Value(101));
    restart();
  }
  EXPECT_FALSE(log_->contains("cannot store")) << "no save failed";
}

// --- A SIGKILL while one id is scheduled again and again ---

namespace {
// Version n of the one notification: its title and a text long enough that its line in the
// store spans several pages.
Dictionary version(int n, std::int64_t at) {
  std::string v = std::to_string(n);
  return Dictionary{{"id", 1}, {"title", "v" + v}, {"text", std::string(9000, 't') + v}, {"at", at}};
}
}  // namespace

// The writer half: runs in a child process started by the test below. It replaces notification
// 1 with a new version, by scheduling it again and by updating it in turn, through the page's
// actions, and prints each version once the page has its answer.
TEST_F(LocalNotification, RescheduleWriterUntilKilled) {
  const char* home = std::getenv("HARBOR_NOTIFICATION_WRITER_HOME");
  if (!home) GTEST_SKIP() << "runs only as the child of ASigkillWhileRescheduling...";
  plat::setHomeDirectory(home);
  restart();
  ready();
  for (int n = 1; n < 100000; ++n) {
    takeAnswers();
    runMessage(n % 2 ? "schedule" : "update", Array{version(n, at(86400))});
    auto answers = takeAnswers();
    ASSERT_EQ(answers.size(), 1u);
    ASSERT_EQ(answers[0].status, 1);
    std::printf("%d\n", n);
    std::fflush(stdout);
  }
}

TEST_F(LocalNotification, ASigkillWhileReschedulingKeepsTheLastAnsweredVersionOrTheNext) {
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    std::string folder = inHome("killed-" + std::to_string(round));
    ASSERT_TRUE(plat::createSandboxFolders(folder));
    // Killed after a random number of answered versions, wherever it is in the next one.
    const int killAfter = std::uniform_int_distribution<int>(3, 40)(random);
    std::optional<int> reported = plat::testing::runWriterUntilKilled(
        "LocalNotification.RescheduleWriterUntilKilled", "HARBOR_NOTIFICATION_WRITER_HOME", folder, killAfter, random, 20000);
    ASSERT_TRUE(reported) << "the writer stopped before it was killed";
    const int lastReported = *reported;

    plat::setHomeDirectory(folder);
    restart();
    Value all = answer("getAll");
    ASSERT_EQ(all.asArray().size(), 1u) << "notification 1 vanished, or was kept twice: " << all.description();
    std::string title = all.at(0)["title"].isString() ? all.at(0)["title"].asString() : "";
    int v = std::atoi(title.c_str() + (title.empty() ? 0 : 1));
    EXPECT_GE(v, lastReported) << "an answered version was lost";
    EXPECT_LE(v, lastReported + 1);
    EXPECT_EQ(all.at(0)["text"], Value(std::string(9000, 't') + std::to_string(v))) << "a half-written version";
  }
}

TEST_F(LocalNotification, EventsRacingDevicereadyAreAllSentOnce) {
  constexpr int kThreads = 4;
  constexpr int kEvents = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([this] {
      for (int i = 0; i < kEvents; ++i) plugin->fireEvent("cancelall");
    });
  run("deviceready");
  for (auto& t : threads) t.join();
  runUntilIdle();
  EXPECT_TRUE(plugin->eventQueue().empty()) << "nothing stays behind in the queue";
  EXPECT_EQ(takeEvents().size(), static_cast<std::size_t>(kThreads * kEvents));
}

TEST_F(LocalNotification, ScheduleAndCancelOfOneIdApplyInTheirOrder) {
  ready();
  // On the real worker threads: commands sent back to back must still apply one after another.
  for (int id = 0; id < 20; ++id) {
    exec("LocalNotification", "schedule", Array{Dictionary{{"id", id}, {"at", at(600)}}});
    exec("LocalNotification", "cancel", Array{id});
  }
  ASSERT_TRUE(plat::dispatch::GlobalQueue::shared().waitIdle());
  runUntilIdle();
  EXPECT_TRUE(localNotificationIds(*app).empty());
  std::vector<std::string> heard = eventSummary();
  ASSERT_EQ(heard.size(), 40u);
  for (int id = 0; id < 20; ++id) {
    EXPECT_EQ(heard[2 * id], "schedule " + std::to_string(id));
    EXPECT_EQ(heard[2 * id + 1], "cancel " + std::to_string(id));
  }
}

// An arrival the page hears while the schedule that made it is still being stored (the store
// holds the notification, its journal line is being written) must not overtake the schedule's
// own event.
TEST_F(LocalNotification, ANotificationDueAtOnceIsHeardAfterItsSchedule) {
  ready();
  app->scheduledLocalNotifications();  // the store is read before a writer is held
  // The plugin's worker is held at its first write, until the test lets it go.
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false;
    bool open = false;
    void letGo() {
      std::lock_guard<std::mutex> lock(mutex);
      open = true;
      changed.notify_all();
    }
    ~Gate() { letGo(); }
  } gate;
  const auto mainThread = std::this_thread::get_id();
  plat::FileFaultPlan plan;
  plan.beforeWrite = [&gate, mainThread] {
    if (std::this_thread::get_id() == mainThread) return;
    std::unique_lock<std::mutex> lock(gate.mutex);
    gate.holding = true;
    gate.changed.notify_all();
    gate.changed.wait(lock, [&gate] { return gate.open; });
  };
  plat::ScopedFileFaults held(plan);
  const Dictionary options{{"id", 1}, {"text", "now"}};
  // The work goes to a worker thread; the main loop does not turn until the test says so.
  plat::dispatch::GlobalQueue::shared().hold();
  exec("LocalNotification", "schedule", Array{options});
  plat::dispatch::GlobalQueue::shared().release();
  {
    std::unique_lock<std::mutex> lock(gate.mutex);
    ASSERT_TRUE(gate.changed.wait_for(lock, std::chrono::seconds(60), [&gate] { return gate.holding; }))
        << "the schedule never wrote";
  }
  // It shows at once, and the user opens it while the store is still writing it down.
  app->openLocalNotification(localNotificationWithOptions(options));
  gate.letGo();
  ASSERT_TRUE(plat::dispatch::GlobalQueue::shared().waitIdle());
  runUntilIdle();
  // Then the timer delivers it too (the clock has not moved: a trigger again).
  EXPECT_EQ(eventSummary(), (std::vector<std::string>{"schedule 1", "trigger 1", "trigger 1"}));
}

// ---- The application-event hooks ----

TEST_F(LocalNotification, TheDelegatePostsTheArrivalBeforeItsOwnHandlingOnce) {
  std::vector<std::string> journal;
  plat::NSNotificationCenter::defaultCenter().addObserver(
      plugin, kHBRLocalNotification, nullptr, [&](const plat::NSNotification&) { journal.push_back("posted"); });
  auto n = localNotificationWithOptions(Dictionary{{"id", 1}});
  // A delegate without handling of its own: only the post.
  delegate->applicationDidReceiveLocalNotification(app, n);
  EXPECT_EQ(journal, (std::vector<std::string>{"posted"}));
  journal.clear();
  delegate->journal = &journal;
  delegate->applicationDidReceiveLocalNotification(app, n);
  EXPECT_EQ(journal, (std::vector<std::string>{"posted", "delegate: local notification"}));
}

namespace {

// A plugin that could hear arrivals, marked or not.
class ListeningPlugin : public HBRPlugin, public LCNLocalNotificationHandler {
 public:
  void pluginInitialize() override { ++starts; }
  void didReceiveLocalNotification(const plat::NSNotification&) override { ++heard; }
  int starts = 0;
  int heard = 0;
};
class MarkedPlugin : public ListeningPlugin, public LCNAppEventDelegate {};
class UnmarkedPlugin : public ListeningPlugin {};

}  // namespace

TEST_F(LocalNotification, OnlyMarkedPluginsObserveAndEachObjectStartsItsOwnWork) {
  auto marked = controller->addPlugin<MarkedPlugin>("Marked");
  auto unmarked = controller->addPlugin<UnmarkedPlugin>("Unmarked");
  auto second = create<LCNLocalNotification>("LCNLocalNotification", "LocalNotification2");
  plat::NSNotificationCenter::defaultCenter().post(kHBRLocalNotification,
                                                   localNotificationWithOptions(Dictionary{{"id", 1}}));
  EXPECT_EQ(marked->starts, 1);
  EXPECT_EQ(marked->heard, 1);
  EXPECT_EQ(unmarked->starts, 1);
  EXPECT_EQ(unmarked->heard, 0);
  // Both containers' plugins heard it and keep it in their own queues until their pages are ready.
  EXPECT_EQ(plugin->eventQueue().size(), 2u);
  EXPECT_EQ(second->eventQueue().size(), 2u);
}
