// Positions for the page from the simulated location service: one-shot requests and watches in
// both accuracies, the permission flow, errors, services off, and a replayed track, all on the
// manual clock.
#include <gtest/gtest.h>

#include <cmath>

#include "GeolocationPlugin.h"
#include "HBRLocation.h"
#include "plat/corelocation/CLLocationManager.h"
#include "plat/corelocation/SimulatedTrack.h"
#include "support/PluginTest.h"

using namespace harbor;
using plat::SimulatedFix;
using plat::SimulatedLocation;
using plat::Value;

namespace {

constexpr char kWhenInUse[] = "To show you on the map";
constexpr char kAlways[] = "To follow your walks";

class Geolocation : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    SimulatedLocation::reset();
    SimulatedLocation::setServicesEnabled(true);
    SimulatedLocation::setPromptObserver([this](const SimulatedLocation::Prompt& p) { prompts.push_back(p); });
    usageDescriptions(true, false);
    registerGeolocationPlugin();
    plugin = create<HBRLocation>("HBRLocation", "Geolocation");
    ASSERT_TRUE(plugin);
  }
  void TearDown() override {
    plugin.reset();
    SimulatedLocation::reset();
    PluginTest::TearDown();
  }
  void usageDescriptions(bool whenInUse, bool always) {
    plat::Dictionary info{{"CFBundleIdentifier", kBundleIdentifier}};
    if (whenInUse) info.set(plat::kNSLocationWhenInUseUsageDescription, kWhenInUse);
    if (always) info.set(plat::kNSLocationAlwaysUsageDescription, kAlways);
    writeInfoPlist(info);
  }
  void granted() {
    SimulatedLocation::setAuthorizationStatus(plat::kCLAuthorizationStatusAuthorizedWhenInUse);
    runUntilIdle();
  }
  void moveTo(double latitude, double longitude) {
    SimulatedLocation::pushLocation(SimulatedFix{latitude, longitude});
    runUntilIdle();
  }
  void platformError(long code) {
    SimulatedLocation::pushError(code);
    runUntilIdle();
  }
  static Value watchArgs(const char* id, bool high) { return Value(plat::Array{Value(id), Value(high)}); }
  static void expectPosition(const harbor::testing::PageCallback& c, const std::string& id, double latitude,
                             bool keep) {
    EXPECT_EQ(c.callbackId, id);
    EXPECT_EQ(c.status, 1) << id;
    EXPECT_DOUBLE_EQ(c.message["latitude"].asDouble(), latitude) << id;
    EXPECT_EQ(c.keepCallback, keep) << id;
  }
  static void expectError(const harbor::testing::PageCallback& c, const std::string& id, int code,
                          const std::string& message) {
    EXPECT_EQ(c.callbackId, id);
    EXPECT_EQ(c.status, 9) << id;
    EXPECT_EQ(c.message, Value(plat::Dictionary{{"code", code}, {"message", message}})) << id << ": " << c.message.description();
    EXPECT_FALSE(c.keepCallback) << id;
  }
  std::vector<SimulatedLocation::Prompt> prompts;
  std::shared_ptr<HBRLocation> plugin;
};

// 0.0001 degrees of latitude is about 11 m.
constexpr double kElevenMetres = 0.0001;

}  // namespace

TEST_F(Geolocation, AOneShotRequestGetsTheNextPositionInEitherAccuracyAndThenUpdatesStop) {
  struct Case {
    bool high;
    double distanceFilter, accuracy;
  };
  for (const Case& c : {Case{true, 5, plat::kCLLocationAccuracyBest}, Case{false, 10, plat::kCLLocationAccuracyThreeKilometers}}) {
    SCOPED_TRACE(c.high ? "high accuracy" : "low accuracy");
    // The device has no position yet, so the request has to wait for one.
    SimulatedLocation::reset();
    SimulatedLocation::setServicesEnabled(true);
    granted();
    exec("Geolocation", "getLocation", {Value(c.high)}, "one");
    auto manager = plugin->locationManager();
    EXPECT_TRUE(manager->isUpdatingLocation());
    EXPECT_EQ(manager->distanceFilter(), c.distanceFilter);
    EXPECT_EQ(manager->desiredAccuracy(), c.accuracy);
    EXPECT_TRUE(takeCallbacks().empty()) << "no position yet";

    clock_->advance(1);
    SimulatedLocation::pushLocation(SimulatedFix{51.5, -0.12, 35, 6, 12, 270, 1.5});
    runUntilIdle();
    auto callbacks = takeCallbacks();
    ASSERT_EQ(callbacks.size(), 1u);
    expectPosition(callbacks[0], "one", 51.5, false);
    const std::pair<const char*, double> expected[] = {
        {"latitude", 51.5}, {"longitude", -0.12}, {"altitude", 35}, {"accuracy", 6}, {"altitudeAccuracy", 12},
        {"heading", 270},   {"velocity", 1.5},    {"timestamp", (clock_->now() + plat::kReferenceDateOffset) * 1000.0}};
    const Value& m = callbacks[0].message;
    ASSERT_TRUE(m.isDictionary());
    EXPECT_EQ(m.asDictionary().size(), 8u);
    for (const auto& [key, value] : expected) EXPECT_DOUBLE_EQ(m[key].asDouble(), value) << key;
    EXPECT_FALSE(manager->isUpdatingLocation()) << "nobody watches: updates stop after the answer";
    EXPECT_FALSE(plugin->locationStarted());
    moveTo(52, 0);
    EXPECT_TRUE(takeCallbacks().empty());
  }
}

TEST_F(Geolocation, WatchesHearEveryMoveBeyondTheFilterAndOneShotsAreAnsweredBesideThem) {
  granted();
  moveTo(0, 0);
  exec("Geolocation", "addWatch", {Value("a"), Value(false)}, "watchA");
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u) << "where the device stands, at once";
  expectPosition(callbacks[0], "watchA", 0, true);

  // Low accuracy: 10 m between reports.
  moveTo(0.5 * kElevenMetres, 0);
  EXPECT_TRUE(takeCallbacks().empty()) << "about 5.5 m: held back";
  moveTo(kElevenMetres, 0);
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  expectPosition(callbacks[0], "watchA", kElevenMetres, true);

  // Same accuracy while running: answered at once from the last position.
  exec("Geolocation", "getLocation", {Value(false)}, "now");
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  expectPosition(callbacks[0], "now", kElevenMetres, false);

  // Another accuracy restarts the updates; the one-shot waits for the first fix after it.
  exec("Geolocation", "getLocation", {Value(true)}, "precise");
  EXPECT_EQ(plugin->locationManager()->distanceFilter(), 5);
  EXPECT_TRUE(plugin->highAccuracyEnabled());
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  expectPosition(callbacks[0], "precise", kElevenMetres, false);
  expectPosition(callbacks[1], "watchA", kElevenMetres, true);
  moveTo(1.6 * kElevenMetres, 0);
  EXPECT_EQ(takeCallbacks().size(), 1u) << "about 6.7 m passes the 5 m filter";

  // A second watch with the same id replaces the first.
  exec("Geolocation", "addWatch", {Value("a"), Value(true)}, "watchA2");
  exec("Geolocation", "addWatch", {Value(7), Value(true)}, "watch7");
  moveTo(3 * kElevenMetres, 0);
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  expectPosition(callbacks[0], "watch7", 3 * kElevenMetres, true);
  expectPosition(callbacks[1], "watchA2", 3 * kElevenMetres, true);
  EXPECT_TRUE(plugin->locationStarted()) << "a watch keeps the updates running";
}

TEST_F(Geolocation, WatchIdsAreTextsNumbersOrBooleansAndClearTheWatchTheyMade) {
  granted();
  moveTo(0, 0);
  struct Case {
    const char* name;
    Value added;
    Value cleared;  // the same watch, as the page may send it again
  };
  const Case cases[] = {
      {"text", Value("w1"), Value("w1")},
      {"whole number", Value(7), Value(7)},
      {"whole number arriving as a double", Value(8.0), Value(8)},
      {"fraction", Value(2.5), Value(2.5)},
      {"negative", Value(-3), Value(-3)},
      {"boolean", Value(true), Value(true)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    exec("Geolocation", "addWatch", {c.added, Value(false)}, "watch");
    auto callbacks = takeCallbacks();
    ASSERT_EQ(callbacks.size(), 1u);
    expectPosition(callbacks[0], "watch", 0, true);
    EXPECT_TRUE(plugin->locationStarted());
    exec("Geolocation", "clearWatch", {c.cleared}, "x");
    EXPECT_FALSE(plugin->locationStarted()) << "the watch's own id clears it";
    EXPECT_TRUE(plugin->locationData()->watchCallbacks->empty());
  }
  // What no JSON can carry (it reaches native code only as a script message under WKWebView)
  // names no watch that could be cleared again.
  for (double bad : {std::nan(""), static_cast<double>(INFINITY)}) {
    controller->commandQueue()->execute(HBRInvokedUrlCommand::commandFromJson(Value(plat::Array{
        Value("bad"), Value("Geolocation"), Value("addWatch"), Value(plat::Array{Value(bad), Value(false)})})));
    runUntilIdle();
    auto callbacks = takeCallbacks();
    ASSERT_EQ(callbacks.size(), 1u);
    expectError(callbacks[0], "bad", 2, "A watch needs an id.");
  }
}

TEST_F(Geolocation, AnAnswerAskedBeforeAnyPositionIsCode2Alone) {
  granted();
  exec("Geolocation", "addWatch", {Value("w"), Value(true)}, "watch");
  exec("Geolocation", "getLocation", {Value(true)}, "early");
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].callbackId, "early");
  EXPECT_EQ(callbacks[0].status, 9);
  EXPECT_EQ(callbacks[0].message, Value(plat::Dictionary{{"code", 2}}));
}

TEST_F(Geolocation, ClearingWatchesStopsUpdatesOnlyWhenNobodyElseWaits) {
  granted();
  exec("Geolocation", "addWatch", {Value("a"), Value(false)}, "watchA");
  exec("Geolocation", "addWatch", {Value("b"), Value(false)}, "watchB");
  exec("Geolocation", "clearWatch", {Value("unknown")}, "x");
  exec("Geolocation", "clearWatch", {}, "x");
  exec("Geolocation", "clearWatch", {Value("a")}, "x");
  EXPECT_TRUE(plugin->locationStarted()) << "b still watches";
  exec("Geolocation", "clearWatch", {Value("b")}, "x");
  EXPECT_FALSE(plugin->locationStarted()) << "the last watch gone";
  EXPECT_TRUE(takeCallbacks().empty()) << "clearWatch answers nothing";

  // A one-shot request still waits for its position when the last watch goes.
  exec("Geolocation", "addWatch", {Value("c"), Value(false)}, "watchC");
  exec("Geolocation", "getLocation", {Value(true)}, "waiting");
  exec("Geolocation", "clearWatch", {Value("c")}, "x");
  EXPECT_TRUE(plugin->locationStarted());
  moveTo(10, 10);
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  expectPosition(callbacks[0], "waiting", 10, false);
  EXPECT_FALSE(plugin->locationStarted()) << "answered, and nobody watches";

  // A watch without an id could never be cleared: none is registered.
  exec("Geolocation", "addWatch", {Value::null(), Value(false)}, "nameless");
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  expectError(callbacks[0], "nameless", 2, "A watch needs an id.");
  EXPECT_TRUE(log_->contains("Geolocation: addWatch without a watch id; no watch registered."));
  EXPECT_TRUE(plugin->locationData()->watchCallbacks->empty());
  EXPECT_FALSE(plugin->locationStarted());
}

// A watch the page clears, or replaces under its id, waits no more: its timeout neither stays
// behind (while the permission prompt shows no clock runs, and a page adding and clearing
// watches meanwhile would pile them up) nor ends a later request on the same callback.
TEST_F(Geolocation, AClearedOrReplacedWatchWaitsNoMore) {
  struct Case {
    const char* name;
    bool prompting;  // the permission prompt shows while the page adds its watches
    bool replaced;   // each watch replaces the last under one id; else each is cleared
  };
  const Case cases[] = {
      {"cleared", false, false},
      {"cleared while the prompt shows", true, false},
      {"replaced", false, true},
      {"replaced while the prompt shows", true, true},
  };
  constexpr int kWatches = 50;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedLocation::reset();
    SimulatedLocation::setServicesEnabled(true);
    SimulatedLocation::setPromptObserver([this](const SimulatedLocation::Prompt& p) { prompts.push_back(p); });
    prompts.clear();
    if (!c.prompting) granted();
    plugin = create<HBRLocation>("HBRLocation", "Geolocation");
    takeCallbacks();
    // Straight to the plugin, so that the user's answer (a later turn) waits.
    auto call = [this](const char* action, plat::Array arguments, const std::string& callbackId) {
      plugin->performAction(action, HBRInvokedUrlCommand::commandFromJson(Value(plat::Array{
                                        Value(callbackId), Value("Geolocation"), Value(action), Value(arguments)})));
    };
    for (int i = 0; i < kWatches; ++i) {
      std::string callbackId = "watch" + std::to_string(i);
      call("addWatch", {Value("w"), Value(false), Value(5000)}, callbackId);
      if (!c.replaced) call("clearWatch", {Value("w")}, "x");
    }
    // The page's own callback id again, for a request that sets no timeout (in the other
    // accuracy, so that it waits for the next position).
    call("getLocation", {Value(true)}, "watch0");
    runUntilIdle();
    EXPECT_EQ(prompts.size(), c.prompting ? 1u : 0u);
    if (!c.replaced) {
      // Only the one-shot request waits, for a position, and without a clock.
      EXPECT_LT(plat::RunLoop::main().nextTimerDate(), 0) << "a timer runs for nobody";
    }
    advance(3600);
    auto callbacks = takeCallbacks();
    if (c.replaced) {
      ASSERT_EQ(callbacks.size(), 1u);
      EXPECT_EQ(callbacks[0].callbackId, "watch" + std::to_string(kWatches - 1));
      EXPECT_EQ(callbacks[0].message, Value(plat::Dictionary{{"code", 3}, {"message", "Timeout expired"}}));
      EXPECT_TRUE(callbacks[0].keepCallback);
    } else {
      EXPECT_TRUE(callbacks.empty()) << callbacks[0].callbackId;
    }
  }
}

TEST_F(Geolocation, PlatformErrorsReachEveryoneWaitingAndOnlyLocationUnknownLetsUpdatesGoOn) {
  struct Case {
    long platformCode;
    int code;
    bool updatesGoOn;
  };
  for (const Case& c : {Case{plat::kCLErrorLocationUnknown, 2, true}, Case{plat::kCLErrorDenied, 1, false},
                        Case{plat::kCLErrorNetwork, 2, false}}) {
    SCOPED_TRACE(c.platformCode);
    SimulatedLocation::reset();
    SimulatedLocation::setServicesEnabled(true);
    granted();
    // Each request (re)starts the updates, so none is answered at once.
    exec("Geolocation", "getLocation", {Value(false)}, "one");
    exec("Geolocation", "getLocation", {Value(true)}, "two");
    exec("Geolocation", "addWatch", {Value("w"), Value(true)}, "watch");
    platformError(c.platformCode);
    std::string description = plat::locationError(c.platformCode).localizedDescription;
    auto callbacks = takeCallbacks();
    ASSERT_EQ(callbacks.size(), 3u);
    expectError(callbacks[0], "one", c.code, description);
    expectError(callbacks[1], "two", c.code, description);
    expectError(callbacks[2], "watch", c.code, description);
    EXPECT_TRUE(log_->contains("locationManager::didFailWithError " + description));
    EXPECT_EQ(plugin->locationStarted(), c.updatesGoOn);
    EXPECT_EQ(plugin->locationManager()->isUpdatingLocation(), c.updatesGoOn);
    EXPECT_TRUE(plugin->highAccuracyEnabled()) << "the accuracy is remembered";
    EXPECT_EQ(plugin->locationData()->watchCallbacks->size(), 1u) << "the watch stays registered";

    moveTo(c.platformCode, 1);
    callbacks = takeCallbacks();
    EXPECT_EQ(callbacks.size(), c.updatesGoOn ? 1u : 0u) << "the watch hears later positions while updates go on";
    exec("Geolocation", "clearWatch", {Value("w")}, "x");
    takeCallbacks();
  }
  platformError(plat::kCLErrorNetwork);
  EXPECT_TRUE(takeCallbacks().empty()) << "no updates running, nobody to tell";
}

TEST_F(Geolocation, PermissionIsAskedByTheUsageDescriptionInInfoPlist) {
  struct Case {
    const char* name;
    bool whenInUseKey, alwaysKey;
    SimulatedLocation::Answer answer;
    std::optional<plat::CLAuthorizationStatus> prompt;
    bool answered;
  };
  const Case cases[] = {
      {"when in use, granted", true, true, SimulatedLocation::Answer::Grant, plat::kCLAuthorizationStatusAuthorizedWhenInUse, true},
      {"always, granted", false, true, SimulatedLocation::Answer::Grant, plat::kCLAuthorizationStatusAuthorizedAlways, true},
      {"refused", true, false, SimulatedLocation::Answer::Deny, plat::kCLAuthorizationStatusAuthorizedWhenInUse, true},
      {"no usage description", false, false, SimulatedLocation::Answer::Grant, std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedLocation::reset();
    SimulatedLocation::setServicesEnabled(true);
    SimulatedLocation::setPromptObserver([this](const SimulatedLocation::Prompt& p) { prompts.push_back(p); });
    SimulatedLocation::setAnswer(c.answer);
    SimulatedLocation::pushLocation(SimulatedFix{48.85, 2.29});
    usageDescriptions(c.whenInUseKey, c.alwaysKey);
    prompts.clear();
    log_->clear();
    plugin = create<HBRLocation>("HBRLocation", "Geolocation");

    exec("Geolocation", "getLocation", {Value(true)}, "one");
    exec("Geolocation", "addWatch", {Value("w"), Value(true)}, "watch");
    runUntilIdle();
    ASSERT_EQ(prompts.size(), c.prompt ? 1u : 0u) << "asked once for both";
    if (c.prompt) {
      EXPECT_EQ(prompts[0].kind, *c.prompt);
      EXPECT_EQ(prompts[0].usageDescription, c.whenInUseKey ? kWhenInUse : kAlways);
    }
    auto callbacks = takeCallbacks();
    if (!c.answered) {
      EXPECT_TRUE(callbacks.empty()) << "waits for good";
      EXPECT_TRUE(log_->contains("[Warning] No NSLocationAlwaysUsageDescription or NSLocationWhenInUseUsageDescription "
                                 "key is defined in the Info.plist file."));
      EXPECT_FALSE(plugin->locationStarted());
      continue;
    }
    ASSERT_EQ(callbacks.size(), 2u);
    if (c.answer == SimulatedLocation::Answer::Deny) {
      expectError(callbacks[0], "one", 1, "");
      expectError(callbacks[1], "watch", 1, "");
      EXPECT_FALSE(plugin->locationStarted());
    } else {
      expectPosition(callbacks[0], "one", 48.85, false);
      expectPosition(callbacks[1], "watch", 48.85, true);
      EXPECT_EQ(plugin->locationManager()->distanceFilter(), 5) << "the accuracy asked for while waiting";
    }
  }
}

// A page's timeout ends a wait nothing else would end (no usage description, no fix), with the
// web's timeout error: a one-shot request waits no more, a watch goes on. Every request is
// answered once: whatever answers it first stops the clock.
TEST_F(Geolocation, APagesTimeoutEndsAWaitWithCode3) {
  enum class Device { NoUsageDescription, NotText, NoFix, Standing, ServicesOff };
  struct Case {
    const char* name;
    Device device;
    const char* action;
    plat::Array arguments;
    std::optional<double> timesOutAfter;  // seconds; nothing: never
    std::optional<int> firstAnswer;       // what the page hears at once (0: a position, else the code)
  };
  const Case cases[] = {
      {"one-shot, no usage description", Device::NoUsageDescription, "getLocation", {Value(false), Value(5000)}, 5.0,
       std::nullopt},
      {"watch, no usage description", Device::NoUsageDescription, "addWatch", {Value("w"), Value(true), Value(5000)}, 5.0,
       std::nullopt},
      // The prompt can show only a text: nobody is asked, as without one.
      {"usage description not a text", Device::NotText, "getLocation", {Value(false), Value(5000)}, 5.0,
       std::nullopt},
      {"one-shot, no fix", Device::NoFix, "getLocation", {Value(true), Value(250.5)}, 0.2505, std::nullopt},
      {"no time at all", Device::NoFix, "getLocation", {Value(false), Value(0)}, std::nullopt, 3},
      // The page's own wait, as long as it takes, when it gives no timeout it can mean.
      {"no timeout", Device::NoUsageDescription, "getLocation", {Value(false)}, std::nullopt, std::nullopt},
      {"null", Device::NoUsageDescription, "getLocation", {Value(false), Value::null()}, std::nullopt, std::nullopt},
      {"negative", Device::NoFix, "getLocation", {Value(false), Value(-1)}, std::nullopt, std::nullopt},
      {"text", Device::NoFix, "addWatch", {Value("w"), Value(false), Value("5000")}, std::nullopt, std::nullopt},
      {"boolean", Device::NoFix, "getLocation", {Value(false), Value(true)}, std::nullopt, std::nullopt},
      // Answered before the time is up: no second answer.
      {"a position first", Device::Standing, "getLocation", {Value(false), Value(5000)}, std::nullopt, 0},
      {"services off first", Device::ServicesOff, "getLocation", {Value(false), Value(5000)}, std::nullopt, 1},
      {"a watch's position first", Device::Standing, "addWatch", {Value("w"), Value(false), Value(5000)}, std::nullopt,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedLocation::reset();
    SimulatedLocation::setPromptObserver([this](const SimulatedLocation::Prompt& p) { prompts.push_back(p); });
    prompts.clear();
    SimulatedLocation::setServicesEnabled(c.device != Device::ServicesOff);
    usageDescriptions(c.device != Device::NoUsageDescription, false);
    if (c.device == Device::NotText) {
      writeInfoPlist(plat::Dictionary{{"CFBundleIdentifier", kBundleIdentifier},
                                      {plat::kNSLocationWhenInUseUsageDescription, true}});
    }
    if (c.device == Device::Standing) SimulatedLocation::pushLocation(SimulatedFix{48.85, 2.29});
    if (c.device == Device::NoFix || c.device == Device::Standing) granted();
    plugin = create<HBRLocation>("HBRLocation", "Geolocation");
    log_->clear();
    takeCallbacks();

    const double start = clock_->now();
    exec("Geolocation", c.action, c.arguments, "request");
    auto callbacks = takeCallbacks();
    if (c.firstAnswer) {
      ASSERT_EQ(callbacks.size(), 1u);
      EXPECT_EQ(callbacks[0].status, *c.firstAnswer == 0 ? 1 : 9);
      if (*c.firstAnswer) {
        EXPECT_EQ(callbacks[0].message["code"], Value(*c.firstAnswer));
      }
    } else {
      EXPECT_TRUE(callbacks.empty());
    }
    if (c.device == Device::NoUsageDescription || c.device == Device::NotText) {
      EXPECT_TRUE(prompts.empty());
      EXPECT_TRUE(log_->contains("[Warning] No NSLocationAlwaysUsageDescription or NSLocationWhenInUseUsageDescription "
                                 "key is defined in the Info.plist file."));
    }
    if (c.timesOutAfter) {
      advance(*c.timesOutAfter * 0.99);
      EXPECT_TRUE(takeCallbacks().empty()) << "not yet";
      clock_->set(start + *c.timesOutAfter);
      runUntilIdle();
      callbacks = takeCallbacks();
      ASSERT_EQ(callbacks.size(), 1u);
      EXPECT_EQ(callbacks[0].callbackId, "request");
      EXPECT_EQ(callbacks[0].status, 9);
      EXPECT_EQ(callbacks[0].message, Value(plat::Dictionary{{"code", 3}, {"message", "Timeout expired"}}));
      EXPECT_EQ(callbacks[0].keepCallback, std::string(c.action) == "addWatch") << "a watch goes on";
    }
    advance(3600);
    EXPECT_TRUE(takeCallbacks().empty()) << "one answer, and no other";
    if (c.timesOutAfter && std::string(c.action) == "getLocation") {
      EXPECT_FALSE(plugin->locationManager()->isUpdatingLocation()) << "nobody waits any more";
    }
  }
}

// As on the web, the time the user takes over the permission prompt is not the position's: the
// page's timeout counts from the answer.
TEST_F(Geolocation, ThePromptsTimeIsNotCounted) {
  SimulatedLocation::pushLocation(SimulatedFix{48.85, 2.29});
  // Sent straight to the plugin, so that the user's answer (a later turn) waits while time
  // passes.
  plugin->getLocation(HBRInvokedUrlCommand::commandFromJson(
      Value(plat::Array{Value("slow"), Value("Geolocation"), Value("getLocation"),
                        Value(plat::Array{Value(false), Value(1000)})})));
  clock_->advance(10);
  runUntilIdle();
  ASSERT_EQ(prompts.size(), 1u);
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  expectPosition(callbacks[0], "slow", 48.85, false);
  advance(10);
  EXPECT_TRUE(takeCallbacks().empty());
}

TEST_F(Geolocation, RefusedRestrictedOrSwitchedOffEachSayWhy) {
  struct Case {
    const char* name;
    plat::CLAuthorizationStatus status;
    std::string message;
  };
  const Case cases[] = {
      {"denied", plat::kCLAuthorizationStatusDenied, ""},
      {"restricted", plat::kCLAuthorizationStatusRestricted, "Application's use of location services is restricted."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedLocation::setAuthorizationStatus(c.status);
    runUntilIdle();
    exec("Geolocation", "getLocation", {Value(false)}, "one");
    auto callbacks = takeCallbacks();
    ASSERT_EQ(callbacks.size(), 1u);
    expectError(callbacks[0], "one", 1, c.message);
    EXPECT_TRUE(prompts.empty()) << "a decided permission is not asked again";
  }

  // Services off: refused at the request, and the watch stays registered.
  SimulatedLocation::setServicesEnabled(false);
  exec("Geolocation", "getLocation", {Value(false)}, "one");
  exec("Geolocation", "addWatch", {Value("w"), Value(false)}, "watch");
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  expectError(callbacks[0], "one", 1, "Location services are disabled.");
  expectError(callbacks[1], "watch", 1, "Location services are disabled.");
  EXPECT_EQ(plugin->locationData()->watchCallbacks->count("w"), 1u);

  // Services switched off while updates run: the platform's denial, to everyone waiting.
  SimulatedLocation::reset();
  SimulatedLocation::setServicesEnabled(true);
  granted();
  exec("Geolocation", "getLocation", {Value(false)}, "running");
  SimulatedLocation::setServicesEnabled(false);
  runUntilIdle();
  std::string denial = plat::locationError(plat::kCLErrorDenied).localizedDescription;
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  expectError(callbacks[0], "running", 1, denial);
  expectError(callbacks[1], "watch", 1, denial);
  EXPECT_FALSE(plugin->locationStarted());

  // A change of permission while services are off: nothing can start.
  SimulatedLocation::setAuthorizationStatus(plat::kCLAuthorizationStatusAuthorizedAlways);
  runUntilIdle();
  callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  expectError(callbacks[0], "watch", 1, "Location services are not enabled.");
}

TEST_F(Geolocation, AWatchFollowsAReplayedTrack) {
  granted();
  plat::SimulatedTrackReplay track({{0, 0}, {0.001, 0}, {0.002, 0}, {0.002, 0.001}}, 1.0);
  track.start();
  exec("Geolocation", "addWatch", {Value("w"), Value(true)}, "watch");
  for (int i = 0; i < 3; ++i) {
    clock_->advance(1);
    runUntilIdle();
  }
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 4u);
  const double latitudes[] = {0, 0.001, 0.002, 0.002};
  for (std::size_t i = 0; i < 4; ++i) expectPosition(callbacks[i], "watch", latitudes[i], true);
  EXPECT_DOUBLE_EQ(callbacks[1].message["heading"].asDouble(), 0) << "due north";
  EXPECT_NEAR(callbacks[3].message["heading"].asDouble(), 90, 1e-6) << "then east";
  EXPECT_NEAR(callbacks[3].message["velocity"].asDouble(), 111.2, 0.1) << "about 111 m in a second";
  EXPECT_DOUBLE_EQ(callbacks[3].message["timestamp"].asDouble(), (clock_->now() + plat::kReferenceDateOffset) * 1000.0);
}

TEST_F(Geolocation, ANewPageOrStopLocationStopsUpdatesButKeepsWhoWaits) {
  granted();
  exec("Geolocation", "addWatch", {Value("w"), Value(false)}, "watch");
  exec("Geolocation", "getLocation", {Value(false)}, "early");
  takeCallbacks();
  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginResetNotification, std::make_shared<plat::Object>());
  EXPECT_TRUE(plugin->locationStarted()) << "another view's page load is none of its business";
  plugin->locationManager()->startUpdatingHeading();

  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginResetNotification, engine->engineWebView());
  EXPECT_FALSE(plugin->locationStarted());
  EXPECT_FALSE(plugin->locationManager()->isUpdatingLocation());
  EXPECT_FALSE(plugin->locationManager()->isUpdatingHeading());
  moveTo(1, 1);
  EXPECT_TRUE(takeCallbacks().empty());

  exec("Geolocation", "getLocation", {Value(false)}, "later");
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u) << "the watch registered before the new page is answered again";
  expectPosition(callbacks[0], "later", 1, false);
  expectPosition(callbacks[1], "watch", 1, true);

  exec("Geolocation", "stopLocation", {}, "x");
  EXPECT_FALSE(plugin->locationStarted());
  EXPECT_TRUE(takeCallbacks().empty()) << "stopLocation answers nothing";
  EXPECT_EQ(plugin->locationData()->watchCallbacks->size(), 1u);
}

TEST_F(Geolocation, ThePluginLetsGoOfItsLocationManager) {
  std::shared_ptr<plat::CLLocationManager> manager = plugin->locationManager();
  EXPECT_EQ(manager->delegate().get(), static_cast<plat::CLLocationManagerDelegate*>(plugin.get()));
  controller->removeAllObjects();
  plugin.reset();
  EXPECT_FALSE(manager->delegate());
}
