// The page's notification options read into platform values, and the time rules of a
// notification made from them, on the manual clock.
#include <gtest/gtest.h>

#include "LCNLocalNotificationOptions.h"
#include "UILocalNotification+LCNLocalNotification.h"
#include "plat/foundation/Clock.h"
#include "plat/testing/PlatformTest.h"

using namespace harbor;
using plat::Dictionary;
using plat::Value;

namespace {

class LocalNotificationOptions : public plat::testing::PlatformTest {
 protected:
  // "at" for a date `offset` seconds from the manual clock's now.
  static double at(double offset) { return plat::now() + plat::kReferenceDateOffset + offset; }
};

TEST_F(LocalNotificationOptions, EveryTable) {
  struct Case {
    Value every;
    plat::NSCalendarUnit unit;
    std::int64_t seconds;
  } cases[] = {
      {"second", plat::NSCalendarUnitSecond, 1}, {"minute", plat::NSCalendarUnitMinute, 60},
      {"hour", plat::NSCalendarUnitHour, 3600},  {"day", plat::NSCalendarUnitDay, 86400},
      {"week", plat::NSCalendarUnitWeekOfYear, 86400}, {"month", plat::NSCalendarUnitMonth, 86400},
      {"quarter", plat::NSCalendarUnitQuarter, 1}, {"year", plat::NSCalendarUnitYear, 86400},
      {"fortnight", plat::NSCalendarUnitEra, 1}, {"", plat::NSCalendarUnitEra, 1},
      {Value::null(), plat::NSCalendarUnitEra, 1}, {Value(), plat::NSCalendarUnitEra, 1},
      {60, plat::NSCalendarUnitEra, 1},
  };
  for (const auto& c : cases) {
    LCNLocalNotificationOptions options(Dictionary{{"every", c.every}});
    EXPECT_EQ(options.repeatInterval(), c.unit) << c.every.description();
    EXPECT_EQ(options.repeatIntervalInSeconds(), c.seconds) << c.every.description();
    EXPECT_EQ(options.isRepeating(), c.unit != plat::NSCalendarUnitEra) << c.every.description();
  }
}

TEST_F(LocalNotificationOptions, AlertSoundBadgeAndId) {
  struct Case {
    Dictionary dict;
    std::optional<std::string> body;
  } bodies[] = {
      {{{"title", "A"}, {"text", "B"}}, "A\nB"},
      {{{"title", ""}, {"text", "B"}}, "B"},
      {{{"text", "B"}}, "B"},
      {{{"title", "A"}}, "A"},  // not "A\n(null)"
      {{{"title", "A"}, {"text", Value::null()}}, "A"},
      {{{"title", 5}, {"text", 6}}, "5\n6"},
      {{}, std::nullopt},
  };
  for (const auto& c : bodies)
    EXPECT_EQ(LCNLocalNotificationOptions(c.dict).alertBody(), c.body) << Value(c.dict).description();

  struct Sound {
    Value sound;
    std::optional<std::string> name;
  } sounds[] = {
      {"file://sounds/ring.caf", "www/sounds/ring.caf"},
      {"res://ring.caf", "ring.caf"},
      {"res://platform_default", plat::UILocalNotificationDefaultSoundName},
      {"ring.caf", std::nullopt},
      {"", std::nullopt},
      {Value::null(), std::nullopt},
      {7, std::nullopt},
  };
  for (const auto& c : sounds)
    EXPECT_EQ(LCNLocalNotificationOptions(Dictionary{{"sound", c.sound}}).soundName(), c.name) << c.sound.description();

  struct Number {
    Value value;
    std::int64_t id;
    std::int32_t badge;
  } numbers[] = {
      {5, 5, 5},          {"12", 12, 12}, {"7abc", 7, 7}, {3.9, 3, 3}, {"x", 0, 0}, {Value(), 0, 0},
      {Value::null(), 0, 0}, {5000000000LL, 5000000000LL, INT32_MAX}, {true, 1, 1},
  };
  for (const auto& c : numbers) {
    LCNLocalNotificationOptions options(Dictionary{{"id", c.value}, {"badge", c.value}});
    EXPECT_EQ(options.id(), c.id) << c.value.description();
    EXPECT_EQ(options.badgeNumber(), c.badge) << c.value.description();
  }
  EXPECT_EQ(LCNLocalNotificationOptions::idText(Value(5)), "5");
  EXPECT_EQ(LCNLocalNotificationOptions::idText(Value(5.0)), "5");
  EXPECT_EQ(LCNLocalNotificationOptions::idText(Value("05")), "05");
  EXPECT_EQ(LCNLocalNotificationOptions::idText(Value::null()), std::nullopt);
}

TEST_F(LocalNotificationOptions, FireDatesAreMovedToNowOnlyWhenAWholeSecondOrRepetitionIsPast) {
  double now = plat::now();
  struct Case {
    Dictionary dict;
    double fireDate;  // relative to now
    std::int64_t sinceLastTrigger;
  } cases[] = {
      {{}, 0, 0},  // no "at": 1970 is long past
      {{{"at", at(-0.5)}}, -0.5, 0},
      {{{"at", at(-1)}}, 0, 0},
      {{{"at", at(30)}}, 30, -30},
      {{{"at", at(-100)}, {"every", "minute"}}, 0, 0},
      {{{"at", at(-120)}, {"every", "minute"}}, -120, 0},
      {{{"at", at(-3600)}, {"every", "hour"}}, -3600, 0},
      {{{"at", "nan"}}, 0, 0},
      {{{"at", 1e300}}, 1e300 - plat::kReferenceDateOffset - now, INT64_MIN},
  };
  for (const auto& c : cases) {
    auto n = localNotificationWithOptions(c.dict);
    ASSERT_TRUE(n->fireDate());
    EXPECT_DOUBLE_EQ(*n->fireDate() - now, c.fireDate) << Value(c.dict).description();
    EXPECT_EQ(timeIntervalSinceLastTrigger(*n), c.sinceLastTrigger) << Value(c.dict).description();
  }

  auto hourly = localNotificationWithOptions(Dictionary{{"at", at(-3600)}, {"every", "hour"}});
  clock_->advance(1);
  EXPECT_EQ(timeIntervalSinceLastTrigger(*hourly), 1);
  EXPECT_TRUE(isScheduled(*hourly));
  EXPECT_TRUE(isTriggered(*hourly));

  auto once = localNotificationWithOptions(Dictionary{{"at", at(10)}});
  EXPECT_EQ(typeOf(*once), LCNNotificationTypeScheduled);
  clock_->advance(10);
  EXPECT_EQ(typeOf(*once), LCNNotificationTypeTriggered);
  EXPECT_TRUE(isScheduled(*once)) << "not yet a whole second past";
  clock_->advance(1);
  EXPECT_FALSE(isScheduled(*once));
}

TEST_F(LocalNotificationOptions, JSONLeavesOutTheUpdateMark) {
  auto marked = localNotificationWithOptions(Dictionary{{"updatedAt", plat::now()}});
  EXPECT_EQ(encodeToJSON(*marked), std::nullopt);
  EXPECT_TRUE(wasUpdated(*marked));
  clock_->advance(1);
  EXPECT_FALSE(wasUpdated(*marked));
  auto plain = localNotificationWithOptions(Dictionary{{"id", 1}, {"text", "a\nb"}});
  EXPECT_EQ(encodeToJSON(*plain), R"({  "id" : 1,  "text" : "a\nb"})");
  EXPECT_FALSE(wasUpdated(*plain));
}

}  // namespace
