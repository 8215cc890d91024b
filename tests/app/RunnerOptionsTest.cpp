// The harbor command's arguments and its default sandbox home.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "HarborRunner.h"
#include "plat/audiotoolbox/AudioServices.h"
#include "plat/corelocation/CLLocationManager.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIAlertController.h"
#include "plat/uikit/UITextField.h"
#include "plat/uikit/UIViewController.h"
#include "ScreenWatcher.h"

namespace harbor::runner {
namespace {

TEST(RunnerOptions, ValidArguments) {
  auto parsed = parseOptions({"--home", "/h", "--run-seconds=2.5", "--until", "hello: done", "--engine=HBRWKWebViewEngine",
                              "--device-model", "iPad", "--system-version", "8.1", "--locale=zh_Hans_CN",
                              "--open-url", "myapp://item/1?x=%20y", "app"});
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(parsed->bundle, "app");
  EXPECT_EQ(parsed->home, "/h");
  EXPECT_EQ(parsed->runSeconds, 2.5);
  EXPECT_EQ(parsed->until, "hello: done");
  EXPECT_EQ(parsed->engine, "HBRWKWebViewEngine");
  EXPECT_EQ(parsed->model, "iPad");
  EXPECT_EQ(parsed->systemVersion, "8.1");
  EXPECT_EQ(parsed->locale, "zh_Hans_CN");
  EXPECT_EQ(parsed->openURL, "myapp://item/1?x=%20y");
  EXPECT_FALSE(parsed->screenshot);

  // A screenshot's file is kept as an absolute path: the application may change folders.
  auto shot = parseOptions({"--screenshot", "shot.png", "app"});
  ASSERT_TRUE(shot) << shot.error();
  EXPECT_EQ(shot->screenshot, (std::filesystem::current_path() / "shot.png").string());
  EXPECT_FALSE(parsed->help);
  EXPECT_TRUE(parsed->webKit) << "WebKit is the default page engine";
  for (const auto& [arguments, webKit] : std::vector<std::pair<std::vector<std::string>, bool>>{
           {{"--web-backend", "headless", "app"}, false},
           {{"--web-backend=webkit", "app"}, true},
           {{"--web-backend=headless", "--web-backend", "webkit", "app"}, true}}) {
    auto backend = parseOptions(arguments);
    ASSERT_TRUE(backend) << backend.error();
    EXPECT_EQ(backend->webKit, webKit) << arguments[0];
    EXPECT_EQ(backend->bundle, "app");
  }

  auto limit = parseOptions({"--web-memory-limit", "320", "app"});
  ASSERT_TRUE(limit) << limit.error();
  EXPECT_EQ(limit->webMemoryLimitMB, 320u);

  auto minimal = parseOptions({"examples/hello"});
  ASSERT_TRUE(minimal);
  EXPECT_FALSE(minimal->home || minimal->runSeconds || minimal->until || minimal->engine);

  auto help = parseOptions({"-h"});
  ASSERT_TRUE(help);
  EXPECT_TRUE(help->help);
}

TEST(RunnerOptions, BadArgumentsAreNamed) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  };
  std::vector<Case> cases = {
      {{}, "no bundle folder given"},
      {{"--home", "/h"}, "no bundle folder given"},
      {{"a", "b"}, "one bundle folder only (got \"a\" and \"b\")"},
      {{"--verbose", "a"}, "unknown option --verbose"},
      {{"a", "--home"}, "--home needs a value"},
      {{"--home=", "a"}, "--home needs a value"},
      {{"--run-seconds", "0", "a"}, "--run-seconds needs a positive number of seconds, not \"0\""},
      {{"--run-seconds=-1", "a"}, "--run-seconds needs a positive number of seconds, not \"-1\""},
      {{"--run-seconds", "5s", "a"}, "--run-seconds needs a positive number of seconds, not \"5s\""},
      {{"--run-seconds", "inf", "a"}, "--run-seconds needs a positive number of seconds, not \"inf\""},
      {{"--run-seconds", "nan", "a"}, "--run-seconds needs a positive number of seconds, not \"nan\""},
      {{"--dialog-button", "0", "a"}, "--dialog-button needs a button number from 1, not \"0\""},
      {{"--dialog-button=-1", "a"}, "--dialog-button needs a button number from 1, not \"-1\""},
      {{"--dialog-button", "2nd", "a"}, "--dialog-button needs a button number from 1, not \"2nd\""},
      {{"--screenshot", "/no/such/folder/shot.png", "a"},
       "--screenshot needs a file in an existing folder, not \"/no/such/folder/shot.png\""},
      {{"--screenshot", "/", "a"}, "--screenshot needs a file in an existing folder, not \"/\""},
      {{"--screenshot=", "a"}, "--screenshot needs a value"},
      {{"--dialog-button", " 2", "a"}, "--dialog-button needs a button number from 1, not \" 2\""},
      {{"--dialog-button", "99999999999999999999999", "a"},
       "--dialog-button needs a button number from 1, not \"99999999999999999999999\""},
      {{"--dialog-button=", "a"}, "--dialog-button needs a value"},
      {{"a", "--dialog-text"}, "--dialog-text needs a value"},
      {{"--open-url", "not a url", "a"}, "--open-url needs an absolute URL such as myapp://path, not \"not a url\""},
      {{"--open-url=/a/path", "a"}, "--open-url needs an absolute URL such as myapp://path, not \"/a/path\""},
      {{"--open-url=", "a"}, "--open-url needs a value"},
      {{"--web-backend", "gecko", "a"}, "--web-backend needs webkit or headless, not \"gecko\""},
      {{"--web-backend=", "a"}, "--web-backend needs webkit or headless, not \"\""},
      {{"a", "--web-backend"}, "--web-backend needs a value"},
      // A limit no WebKit page can show in names the smallest one that works.
      {{"--web-memory-limit", "128", "a"},
       "--web-memory-limit 128 is too small for a WebKit page to show at all; the smallest limit that works is 320"},
      {{"--web-memory-limit=64", "a"},
       "--web-memory-limit 64 is too small for a WebKit page to show at all; the smallest limit that works is 320"},
      {{"--web-memory-limit", "319", "a"},
       "--web-memory-limit 319 is too small for a WebKit page to show at all; the smallest limit that works is 320"},
      {{"--web-memory-limit", "1g", "a"}, "--web-memory-limit needs MiB from 320 to 1048576, not \"1g\""},
      {{"--web-memory-limit", "-400", "a"}, "--web-memory-limit needs MiB from 320 to 1048576, not \"-400\""},
      {{"--web-memory-limit", "1048577", "a"}, "--web-memory-limit needs MiB from 320 to 1048576, not \"1048577\""},
  };
  for (const Case& c : cases) {
    auto parsed = parseOptions(c.arguments);
    ASSERT_FALSE(parsed) << c.error;
    EXPECT_EQ(parsed.error(), c.error);
  }
}

// The simulated system version is compared as numbers and shown to pages: a text that is no
// version is refused as every other bad value is, before anything starts.
TEST(RunnerOptions, TheSystemVersionIsAVersion) {
  for (const char* version : {"9.3", "10", "8.0.2", "7.1", "123456789.0"}) {
    auto parsed = parseOptions({"--system-version", version, "a"});
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->systemVersion, version);
  }
  for (const char* bad : {"abc", "9.", ".9", "9..3", "1.2.3.4", "9.3a", "-1", " 9", "9,3", "1234567890", "9.3\n"}) {
    auto parsed = parseOptions({"--system-version", bad, "a"});
    ASSERT_FALSE(parsed) << bad;
    EXPECT_EQ(parsed.error(), "--system-version needs a version such as 9.3 or 8.0.2, not \"" +
                                  plat::logEscaped(bad) + "\"");
  }
}

// A locale given as the environment names it (LANG=fr_FR.UTF-8) is the locale ICU and the pages
// know: the encoding and the C library's modifier go, ICU's keywords stay.
TEST(RunnerOptions, ALocaleNamedAsTheEnvironmentNamesItIsTheLocale) {
  struct Case {
    const char* given;
    std::optional<std::string> locale;  // nothing: refused
    const char* warning = nullptr;
  };
  const Case cases[] = {
      {"fr_FR.UTF-8", "fr_FR"},
      {"de_DE.utf8@euro", "de_DE"},
      {"de_AT@euro", "de_AT"},
      {"de_CH@currency=EUR", "de_CH@currency=EUR"},
      {"zh_Hans_CN.GB18030", "zh_Hans_CN"},
      {"fr_US.UTF-8", "fr_US", "--locale fr_US.UTF-8: ICU has no locale data of its own for it, so it uses fr's"},
      {".UTF-8", std::nullopt},
      {"xx_YY.UTF-8", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    auto parsed = parseOptions({"--locale", c.given, "a"});
    if (!c.locale) {
      ASSERT_FALSE(parsed);
      EXPECT_EQ(parsed.error(), "--locale needs a locale ICU has data for, such as en_US, de_CH or zh_Hans_CN, not \"" +
                                    std::string(c.given) + "\"");
      continue;
    }
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->locale, c.locale);
    EXPECT_EQ(parsed->warnings, c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{});
  }
}

TEST(RunnerOptions, HelpListsEveryOptionInItsGroup) {
  std::string text = usage();
  // Each group, in order, with its options in order.
  std::vector<std::vector<std::string>> groups = {
      {"Running:", "--home DIR", "--run-seconds N", "--until TEXT", "--engine CLASS", "--web-backend webkit|headless"},
      {"The simulated device:", "--device-model NAME", "--screen WxH[@SCALE]", "--system-version V", "--locale ID",
       "--acceleration X,Y,Z", "--heading DEGREES", "--location LAT,LON[,ALT]", "--location-track FILE",
       "--location-permission P"},
      {"Answers in place of the user:", "--dialog-button N", "--dialog-text TEXT", "--open-notification"},
      {"Other applications:", "--open-url URL"},
      {"-h, --help"},
  };
  std::size_t at = 0;
  for (const auto& group : groups) {
    for (const std::string& entry : group) {
      std::size_t found = text.find(entry, at);
      ASSERT_NE(found, std::string::npos) << entry << " (in order)";
      at = found + entry.size();
    }
  }
  // Every option in the help is one the runner takes.
  for (std::size_t dash = text.find("\n  --"); dash != std::string::npos; dash = text.find("\n  --", dash + 1)) {
    std::string name = text.substr(dash + 3, text.find_first_of(" \n", dash + 3) - dash - 3);
    auto parsed = parseOptions({name + "=1", "a"});
    EXPECT_TRUE(parsed || parsed.error().rfind("unknown option", 0) != 0) << name;
  }
}

TEST(RunnerOptions, MotionSensors) {
  auto parsed = parseOptions({"--acceleration", "0,-0.5,-1", "--heading=359.5", "a"});
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(parsed->acceleration, (plat::CMAcceleration{0, -0.5, -1}));
  EXPECT_EQ(parsed->heading, 359.5);
  auto none = parseOptions({"a"});
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->acceleration || none->heading) << "a simulator has neither sensor";

  const std::string accelerationError = "--acceleration needs three numbers X,Y,Z in g, not ";
  const std::string headingError = "--heading needs degrees from 0 to below 360, not ";
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  };
  std::vector<Case> cases = {
      {{"--acceleration", "1,2", "a"}, accelerationError + "\"1,2\""},
      {{"--acceleration", "1,2,3,", "a"}, accelerationError + "\"1,2,3,\""},
      {{"--acceleration", "1,,3", "a"}, accelerationError + "\"1,,3\""},
      {{"--acceleration", "1,2,nan", "a"}, accelerationError + "\"1,2,nan\""},
      {{"--acceleration", "1;2;3", "a"}, accelerationError + "\"1;2;3\""},
      {{"--acceleration", "0,0,1e300", "a"}, accelerationError + "\"0,0,1e300\""},
      {{"--heading", "360", "a"}, headingError + "\"360\""},
      {{"--heading", "-1", "a"}, headingError + "\"-1\""},
      {{"--heading", "north", "a"}, headingError + "\"north\""},
      {{"--heading=", "a"}, "--heading needs a value"},
  };
  for (const Case& c : cases) {
    auto bad = parseOptions(c.arguments);
    ASSERT_FALSE(bad) << c.error;
    EXPECT_EQ(bad.error(), c.error);
  }
}

class RunnerLocation : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    plat::SimulatedLocation::reset();
  }
  void TearDown() override {
    plat::SimulatedLocation::reset();
    plat::UIDriver::shared().reset();
    plat::SystemSoundRecorder::reset();
    SandboxTest::TearDown();
  }
};

TEST_F(RunnerLocation, APositionATrackAndThePermissionReachTheSimulatedDevice) {
  std::string track = inHome("tmp/walk.txt");
  writeFile(track, "# a short walk\n1,2\n1.001,2,40\n");
  auto parsed = parseOptions({"--location-track", track, "--location-permission=granted", "a"});
  ASSERT_TRUE(parsed) << parsed.error();
  ASSERT_EQ(parsed->locationTrack.size(), 2u);
  EXPECT_EQ(parsed->locationTrack[1].altitude, 40);
  simulateSensors(*parsed);
  EXPECT_TRUE(plat::CLLocationManager::locationServicesEnabled());
  EXPECT_EQ(plat::CLLocationManager::authorizationStatus(), plat::kCLAuthorizationStatusAuthorizedWhenInUse);
  EXPECT_EQ(plat::SimulatedLocation::currentPosition()->latitude, 1);
  clock_->advance(kSensorInterval);
  runUntilIdle();
  EXPECT_EQ(plat::SimulatedLocation::currentPosition()->latitude, 1.001) << "the next fix, one interval later";

  auto still = parseOptions({"--location", "48.8584,2.2945", "a"});
  ASSERT_TRUE(still) << still.error();
  EXPECT_EQ(still->locationPermission, LocationPermission::Ask);
  plat::SimulatedLocation::reset();
  simulateSensors(*still);
  EXPECT_EQ(plat::SimulatedLocation::currentPosition(), (plat::SimulatedFix{48.8584, 2.2945}));
  EXPECT_EQ(plat::CLLocationManager::authorizationStatus(), plat::kCLAuthorizationStatusNotDetermined);

  auto none = parseOptions({"a"});
  ASSERT_TRUE(none);
  simulateSensors(*none);
  EXPECT_FALSE(plat::CLLocationManager::locationServicesEnabled()) << "no position given: services off";

  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  };
  std::vector<Case> cases = {
      {{"--location", "91,0", "a"}, "--location: latitude 91 is not between -90 and 90"},
      {{"--location", "here", "a"}, "--location: a position is LAT,LON[,ALT] in degrees and metres, not \"here\""},
      {{"--location-track", inHome("tmp/none.txt"), "a"}, "--location-track: " + inHome("tmp/none.txt") + ": cannot be read"},
      {{"--location-permission", "maybe", "a"},
       "--location-permission is one of ask, refuse, granted, denied, restricted, not \"maybe\""},
      {{"--location", "1,2", "--location-track", track, "a"},
       "--location and --location-track both say where the device is: give one"},
  };
  for (const Case& c : cases) {
    auto bad = parseOptions(c.arguments);
    ASSERT_FALSE(bad) << c.error;
    EXPECT_EQ(bad.error(), c.error);
  }
}

TEST_F(RunnerLocation, TheStandInAnswersPermissionPromptsAndLogsThem) {
  writeInfoPlist(plat::Dictionary{{"CFBundleIdentifier", kBundleIdentifier},
                                  {plat::kNSLocationWhenInUseUsageDescription, "To find 'you'"}});
  auto parsed = parseOptions({"--location", "1,2", "--location-permission", "refuse", "a"});
  ASSERT_TRUE(parsed) << parsed.error();
  standInForTheUser(*parsed);
  simulateSensors(*parsed);
  auto manager = std::make_shared<plat::CLLocationManager>();
  manager->requestWhenInUseAuthorization();
  runUntilIdle();
  EXPECT_EQ(plat::CLLocationManager::authorizationStatus(), plat::kCLAuthorizationStatusDenied);
  EXPECT_TRUE(log_->contains("harbor: location permission 'To find \\'you\\'' (when in use) -> refused"));
}

TEST(RunnerOptions, DialogAnswers) {
  struct Case {
    std::vector<std::string> arguments;
    std::size_t buttonIndex;
    std::optional<std::string> text;
  };
  std::vector<Case> cases = {
      {{"a"}, 0, std::nullopt},  // the first button, the text fields left as they are
      {{"--dialog-button", "2", "a"}, 1, std::nullopt},
      {{"--dialog-button=12", "--dialog-text", "Ada", "a"}, 11, "Ada"},
      {{"--dialog-text=", "a"}, 0, ""},  // typing nothing is an answer too
      {{"--dialog-text", "", "a"}, 0, ""},
  };
  for (const Case& c : cases) {
    auto parsed = parseOptions(c.arguments);
    ASSERT_TRUE(parsed) << parsed.error();
    plat::UIDriver::AutoAnswer answer = dialogAnswer(*parsed);
    EXPECT_EQ(answer.buttonIndex, c.buttonIndex) << c.arguments[0];
    EXPECT_EQ(answer.text, c.text) << c.arguments[0];
  }
}

// An alert as the driver sees it.
class FakeAlert : public plat::UIDrivenAlert {
 public:
  std::optional<std::string> title, message;
  std::vector<std::string> buttons;
  std::vector<std::optional<std::string>> fields;

  std::optional<std::string> alertTitle() const override { return title; }
  std::optional<std::string> alertMessage() const override { return message; }
  std::vector<std::string> buttonTitles() const override { return buttons; }
  std::size_t textFieldCount() const override { return fields.size(); }
  std::optional<std::string> textFieldText(std::size_t i) const override { return fields.at(i); }
  bool setTextFieldText(std::size_t, std::optional<std::string>) override { return false; }
  bool tapButton(std::size_t) override { return false; }
};

TEST(RunnerDialogs, EachAlertIsDescribedWithTheAnswerItGets) {
  using Answer = plat::UIDriver::AutoAnswer;
  struct Case {
    FakeAlert alert;
    Answer answer;
    std::string line;
  };
  auto alert = [](std::optional<std::string> title, std::optional<std::string> message,
                  std::vector<std::string> buttons, std::vector<std::optional<std::string>> fields = {}) {
    FakeAlert a;
    a.title = std::move(title);
    a.message = std::move(message);
    a.buttons = std::move(buttons);
    a.fields = std::move(fields);
    return a;
  };
  std::vector<Case> cases = {
      {alert("Confirm", "Carry on?", {"OK", "Cancel"}), Answer{}, "alert 'Confirm' 'Carry on?' [OK, Cancel] -> OK"},
      {alert("Confirm", "Carry on?", {"OK", "Cancel"}), Answer{1, {}}, "alert 'Confirm' 'Carry on?' [OK, Cancel] -> Cancel"},
      // Past the last button: the last one, as the driver taps it.
      {alert("Hello", "Hi", {"OK"}), Answer{5, {}}, "alert 'Hello' 'Hi' [OK] -> OK"},
      {alert(std::nullopt, std::nullopt, {"OK"}), Answer{}, "alert - - [OK] -> OK"},
      {alert("T", "M", {}), Answer{}, "alert 'T' 'M' [] -> nothing (no button to press)"},
      // A prompt answers with its text as it stands, or with the chosen text.
      {alert("Prompt", "Name?", {"OK", "Cancel"}, {"Harbor"}), Answer{}, "alert 'Prompt' 'Name?' [OK, Cancel] -> OK with 'Harbor'"},
      {alert("Prompt", "Name?", {"OK", "Cancel"}, {"Harbor"}), Answer{1, "Ada"},
       "alert 'Prompt' 'Name?' [OK, Cancel] -> Cancel with 'Ada'"},
      {alert("Prompt", "Name?", {"OK"}, {std::nullopt}), Answer{}, "alert 'Prompt' 'Name?' [OK] -> OK with -"},
      {alert("Prompt", "Name?", {"OK"}, {"x"}), Answer{0, ""}, "alert 'Prompt' 'Name?' [OK] -> OK with ''"},
      // The page's texts cannot break the line or close the quotes early.
      {alert("it's", "line\nforged: harbor: alert\r\t\x01\\", {"A\nB"}), Answer{},
       "alert 'it\\'s' 'line\\nforged: harbor: alert\\r\\t\\x01\\\\' [A\\nB] -> A\\nB"},
      {alert("caf\xC3\xA9", "\x7f", {"OK"}), Answer{}, "alert 'caf\xC3\xA9' '\\x7f' [OK] -> OK"},
  };
  // A page's long texts are cut as other page text is in the log, never at a character's middle.
  const std::string cut(200, 'm');
  const std::string accents(150, 'x');
  std::string e150;
  for (int i = 0; i < 150; ++i) e150 += "\xC3\xA9";
  cases.push_back({alert(std::string(1000, 't'), std::string(1 << 20, 'm'), {std::string(500, 'b')},
                         {std::string(300, 'f')}),
                   Answer{},
                   "alert '" + std::string(200, 't') + "...' '" + cut + "...' [" + std::string(200, 'b') + "...] -> " +
                       std::string(200, 'b') + "... with '" + std::string(200, 'f') + "...'"});
  cases.push_back({alert("T", "x" + e150, {"OK"}), Answer{}, "alert 'T' 'x" + e150.substr(0, 198) + "...' [OK] -> OK"});
  cases.push_back({alert("T", std::string(199, 'q') + "''", {"OK"}), Answer{},
                   "alert 'T' '" + std::string(199, 'q') + "\\'...' [OK] -> OK"});
  for (const Case& c : cases) EXPECT_EQ(describeAlert(c.alert, c.answer), c.line);
}

// The stand-in's dialogs need the same clean driver as its location prompts.
class RunnerStandIn : public RunnerLocation {};

TEST_F(RunnerStandIn, CutsLongDialogTextsInItsLogAndAnswersWithThemWhole) {
  auto parsed = parseOptions({"a"});
  ASSERT_TRUE(parsed) << parsed.error();
  standInForTheUser(*parsed);
  auto presenter = std::make_shared<plat::UIViewController>();
  presenter->view();
  const std::string message(100000, 'm'), text(5000, 'f');
  auto alert = plat::UIAlertController::alertControllerWithTitle("Prompt", message, plat::UIAlertControllerStyle::Alert);
  std::weak_ptr<plat::UIAlertController> weak = alert;
  std::optional<std::string> answered;
  alert->addAction(plat::UIAlertAction::actionWithTitle("OK", plat::UIAlertActionStyle::Default, [&](plat::UIAlertAction&) {
    if (auto a = weak.lock()) answered = a->textFields().at(0)->text();
  }));
  alert->addTextFieldWithConfigurationHandler([&](plat::UITextField& field) { field.setText(text); });
  ASSERT_TRUE(presenter->presentViewController(alert, true, nullptr));
  runUntilIdle();
  EXPECT_EQ(answered, text) << "the page gets its text back whole";
  std::size_t logged = 0;
  for (const std::string& line : log_->lines()) {
    if (line.rfind("harbor: alert", 0) != 0) continue;
    ++logged;
    EXPECT_LT(line.size(), 1000u) << "cut in the log";
    EXPECT_EQ(line, "harbor: alert 'Prompt' '" + std::string(200, 'm') + "...' [OK] -> OK with '" + std::string(200, 'f') + "...'");
  }
  EXPECT_EQ(logged, 1u);
}

TEST(RunnerOptions, DefaultHomeStaysInsideTheDataFolder) {
  struct Case {
    std::map<std::string, std::string> environment;
    std::string identifier;
    std::optional<std::string> home;
  };
  std::vector<Case> cases = {
      {{{"XDG_DATA_HOME", "/data"}, {"HOME", "/home/u"}}, "org.harbor.hello", "/data/harbor/org.harbor.hello"},
      {{{"XDG_DATA_HOME", "relative"}, {"HOME", "/home/u"}}, "org.harbor.hello",
       "/home/u/.local/share/harbor/org.harbor.hello"},
      {{{"HOME", "/home/u/"}}, "org.harbor.hello", "/home/u/.local/share/harbor/org.harbor.hello"},
      {{{"HOME", "/home/u"}}, "../../etc", "/home/u/.local/share/harbor/.._.._etc"},
      {{{"HOME", "/home/u"}}, "..", "/home/u/.local/share/harbor/_"},
      {{{"HOME", "/home/u"}}, "", "/home/u/.local/share/harbor/_"},
      {{{"HOME", "/home/u"}}, "a b/c\xC3\xA9", "/home/u/.local/share/harbor/a_b_c__"},
      {{}, "org.harbor.hello", std::nullopt},
  };
  for (const Case& c : cases) {
    auto getenv = [&](const char* name) -> const char* {
      auto it = c.environment.find(name);
      return it == c.environment.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(defaultHome(c.identifier, getenv), c.home) << c.identifier;
  }
}

// Without --locale the simulated device takes the environment's locale, as far as ICU knows it.
TEST(RunnerOptions, TheDefaultLocaleIsTheEnvironments) {
  struct Case {
    std::map<std::string, std::string> environment;
    std::string locale;
  };
  const Case cases[] = {
      {{{"LANG", "de_DE.UTF-8"}}, "de_DE"},
      {{{"LANG", "de_DE.UTF-8"}, {"LC_ALL", "fr_FR"}}, "fr_FR"},
      {{{"LC_ALL", ""}, {"LANG", "pt_BR.utf8@x"}}, "pt_BR"},
      {{{"LANG", "zh_Hans_CN"}}, "zh_Hans_CN"},
      {{{"LANG", "C.UTF-8"}}, "en_US"},
      {{{"LC_ALL", "POSIX"}, {"LANG", "de_DE"}}, "en_US"},
      {{{"LANG", "xx_YY.UTF-8"}}, "en_US"},
      {{}, "en_US"},
  };
  for (const Case& c : cases) {
    auto getenv = [&](const char* name) -> const char* {
      auto it = c.environment.find(name);
      return it == c.environment.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(environmentLocale(getenv), c.locale);
  }
}

}  // namespace
}  // namespace harbor::runner

namespace harbor::runner {
namespace {

TEST(RunnerNotifications, OpenNotificationIsAFlagAndNotificationsAreDescribedOnOneLine) {
  auto parsed = parseOptions({"--open-notification", "app"});
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_TRUE(parsed->openNotification);
  EXPECT_EQ(parsed->bundle, "app");
  EXPECT_FALSE(parseOptions({"app"})->openNotification);
  auto valued = parseOptions({"--open-notification=yes", "app"});
  ASSERT_FALSE(valued);
  EXPECT_EQ(valued.error(), "--open-notification takes no value");

  plat::UILocalNotification n;
  EXPECT_EQ(describeNotification(n), "-");
  n.setAlertBody("Hello\nit's me");
  EXPECT_EQ(describeNotification(n), "'Hello\\nit\\'s me'");
  n.setSoundName("www/ring.caf");
  n.setApplicationIconBadgeNumber(3);
  n.setRepeatInterval(plat::NSCalendarUnitDay);
  EXPECT_EQ(describeNotification(n), "'Hello\\nit\\'s me' (sound www/ring.caf, badge 3, repeating)");
}

}  // namespace
}  // namespace harbor::runner
TEST(RunnerOptions, ScreenSizes) {
  struct Case {
    const char* text;
    bool ok;
    double w, h, scale;
  };
  const Case cases[] = {
      {"414x736", true, 414, 736, 2}, {"768x1024@1", true, 768, 1024, 1}, {"320x480@3", true, 320, 480, 3},
      {"414", false, 0, 0, 0},        {"0x736", false, 0, 0, 0},          {"414x736@9", false, 0, 0, 0},
      {"414x736x", false, 0, 0, 0},   {"nanxinf", false, 0, 0, 0},        {"", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    auto parsed = harbor::runner::parseScreen(c.text);
    ASSERT_EQ(parsed.has_value(), c.ok) << c.text;
    if (!c.ok) {
      auto options = harbor::runner::parseOptions({"--screen", c.text, "bundle"});
      ASSERT_FALSE(options) << c.text;
      continue;
    }
    EXPECT_EQ(parsed->first, (plat::CGSize{c.w, c.h})) << c.text;
    EXPECT_EQ(parsed->second, c.scale) << c.text;
  }
  EXPECT_EQ(harbor::runner::hexColor(plat::UIColor{1, 128 / 255.0, 0, 1}), "#FF8000");
}
