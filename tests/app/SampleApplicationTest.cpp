// The sample application (examples/hello) end to end in each engine: the shell launches it as
// harbor does, its page calls all seven plugins through the bridge, and the alerts are answered
// the way the runner answers them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "AppClasses.h"
#include "AppDelegate.h"
#include "HBRContainerClasses.h"
#include "HBRNotification.h"
#include "HBRTimer.h"
#include "HBRUserAgentUtil.h"
#include "HBRViewController.h"
#include "HarborRunner.h"
#include "MainViewController.h"
#include "UIDevice+ModelVersion.h"
#include "plat/audiotoolbox/AudioServices.h"
#include "plat/corelocation/CLLocationManager.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSDateFormatter.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/systemconfiguration/NetworkStatusSource.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/BatteryStatusSource.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIPasteboard.h"

namespace harbor::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kPageLine[] = "console.log: hello: ";

class SampleApplication : public plat::testing::SandboxTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    HBRUserAgentUtil::resetForTesting();
    HBRTimer::clearAll();
    plat::UIDriver::shared().reset();
    HBRNotification::resetAlertQueue();
    plat::SystemSoundRecorder::reset();
    plat::UIPasteboard::resetGeneralPasteboard();
    plat::SimulatedLocation::reset();
    network = std::make_shared<plat::SimulatedNetwork>();
    plat::setNetworkStatusSource(network);
    battery = std::make_shared<plat::SimulatedBattery>();
    battery->setStatus(plat::UIDeviceBatteryState::Unplugged, 0.57f);
    plat::setBatteryStatusSource(battery);
    registerContainerClasses();
    registerAppClasses();
    registerPluginClasses();
    copySampleBundle();
  }

  void TearDown() override {
    delegate.reset();
    plat::UIApplication::resetSharedApplication();
    AppDelegate::setContainerConfigurator(nullptr);
    plat::UIDriver::shared().reset();
    HBRNotification::resetAlertQueue();
    runUntilIdle();
    plat::SystemSoundRecorder::reset();
    plat::UIPasteboard::resetGeneralPasteboard();
    plat::SimulatedLocation::reset();
    plat::setBatteryStatusSource(nullptr);
    plat::setNetworkStatusSource(nullptr);
    for (const char* name : {"AppDelegate", "MainViewController", "MainCommandDelegate", "MainCommandQueue"})
      plat::ClassRegistry::shared().unregisterClass(name);
    HBRUserAgentUtil::resetForTesting();
    HBRTimer::clearAll();
    SandboxTest::TearDown();
  }

  // The bundle as the build prepares it: the sample's files, the container's page script, each
  // plugin's page modules under www/plugins/<plugin folder>/ and its resources at the top.
  void copySampleBundle() {
    const fs::path source = HARBOR_SOURCE_DIR;
    const fs::path bundle = bundlePath();
    const auto options = fs::copy_options::recursive | fs::copy_options::overwrite_existing;
    fs::copy(source / "examples/hello", bundle, options);
    fs::copy_file(source / "www/harbor.js", bundle / "www/harbor.js", fs::copy_options::overwrite_existing);
    for (const auto& plugin : fs::directory_iterator(source / "Plugins")) {
      if (fs::is_directory(plugin.path() / "www")) {
        fs::path modules = bundle / "www/plugins" / plugin.path().filename();
        fs::create_directories(modules);
        fs::copy(plugin.path() / "www", modules, options);
      }
      if (fs::is_directory(plugin.path() / "resources")) fs::copy(plugin.path() / "resources", bundle, options);
    }
    // Info.plist changed: read the bundle again.
    plat::NSBundle::setMainBundlePath(bundlePath());
  }

  // Launches the application in the engine of the test, as harbor --engine does.
  void launch() {
    std::string engine = GetParam();
    AppDelegate::setContainerConfigurator([engine](MainViewController& controller) {
      controller.setPreferenceOverrides(plat::Dictionary{{kHBRWebViewEngineSetting, engine}});
    });
    delegate = std::make_shared<AppDelegate>();
    delegate->init();
    ASSERT_TRUE(plat::UIApplication::sharedApplication()->launchWithDelegate(delegate));
  }

  // Runs the loop, waiting in real time for the clipboard's background work, until the page
  // has printed the line (or a few seconds have passed).
  bool runUntilPagePrints(const std::string& line) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
      runUntilIdle();
      if (log_->contains(kPageLine + line)) return true;
      waitForMain(0.02);
    }
    return false;
  }

  // What the page printed, without the lines whose place depends on the engine's timing.
  std::vector<std::string> pageLines() {
    std::vector<std::string> out;
    for (const std::string& line : log_->lines()) {
      if (line.rfind(kPageLine, 0) != 0) continue;
      std::string text = line.substr(std::string(kPageLine).size());
      if (text.rfind("event ", 0) == 0 || text.rfind("user agent: ", 0) == 0) continue;
      out.push_back(text);
    }
    return out;
  }

  std::string deviceLine() {
    auto device = plat::UIDevice::currentDevice();
    plat::Value uuid = plat::NSUserDefaults::standardUserDefaults()->objectForKey("HBRUUID");
    return "device: " + modelVersion(*device) + ", iOS " + device->systemVersion() + ", Harbor 4.2.0, uuid " +
           uuid.stringOr("<none>");
  }

  // The page writes today's date by the wall clock, as a page's Date reads it.
  std::string globalizationLine() {
    plat::NSDateFormatter formatter;
    formatter.setDateStyle(plat::NSDateFormatterStyle::LongStyle);
    double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return "globalization: en-US, " + formatter.stringFromDate(now).value_or("?") + ", 1,234,567.891, $1,234.50";
  }

  std::size_t plays(bool vibration) {
    auto played = plat::SystemSoundRecorder::played();
    return static_cast<std::size_t>(std::count_if(played.begin(), played.end(), [&](const plat::PlayedSystemSound& p) {
      return vibration ? p.soundID == plat::kSystemSoundID_Vibrate
                       : p.filePath.find("HBRNotification.bundle/beep.wav") != std::string::npos;
    }));
  }

  std::shared_ptr<plat::SimulatedNetwork> network;
  std::shared_ptr<plat::SimulatedBattery> battery;
  std::shared_ptr<AppDelegate> delegate;
};

TEST_P(SampleApplication, ThePageHearsEveryPluginAndTheRunnersDefaultAnswers) {
  auto options = runner::parseOptions({"hello"});
  ASSERT_TRUE(options);
  runner::standInForTheUser(*options);
  launch();
  ASSERT_TRUE(runUntilPagePrints("done"));

  EXPECT_EQ(pageLines(), (std::vector<std::string>{
                             "deviceready",
                             "screen: splash hidden, status bar light on #1E90FF, visible true",
                             deviceLine(),
                             "connection: wifi",
                             "clipboard: copied \"Hello from the page\", pasted \"Hello from the page\"",
                             "logger: wrote a line",
                             "vibration: asked",
                             "acceleration: none, no accelerometer (harbor --acceleration)",
                             "heading: none, no compass (harbor --heading)",
                             "storage: launch 1",
                             "position: none, location services off (harbor --location)",
                             "contacts: saved Ada Lovelace, mobile +44 20 7946 0000",
                             "contacts: found Ada Lovelace",
                             "contacts: removed, 0 left by that name",
                             globalizationLine(),
                             "alert: button 1",
                             "confirm: button 1",
                             "prompt: button 1, text \"Harbor\"",
                             "beep: asked for 2",
                             "page confirm: true",
                             "page prompt: \"Harbor\"",
                             "camera: no picture, the picker was cancelled (harbor --pictures)",
                             "notification: event schedule 1, foreground",
                             "file: wrote 46 bytes to temporary/hello-file.js",
                             "file: listed hello-file.js",
                             "file: read back \"window.helloFromFile = 'a script from a file';\"",
                             "file: loaded hbrfile://localhost/temporary/hello-file.js: a script from a file",
                             "file: fetched 200 application/javascript, 46 characters",
                             "file: removed hello-file.js",
                             "battery: no report yet",
                             "done",
                         }));
  EXPECT_TRUE(log_->contains(kPageLine + std::string("event online")));
  EXPECT_TRUE(log_->contains("INFO: hello: a line through the logger; 100% as written, %s %d %n included"));
  // The runner's lines for the plugin's dialogs and the page's own, under either engine.
  for (const char* line : {"harbor: alert 'Hello' 'Hello from the page' [OK] -> OK",
                           "harbor: alert 'Confirm' 'Carry on?' [OK, Cancel] -> OK",
                           "harbor: alert 'Prompt' 'Your name?' [OK, Cancel] -> OK with 'Harbor'",
                           "harbor: alert 'Hello Harbor' 'Is this the page speaking?' [OK, Cancel] -> OK",
                           "harbor: alert 'Hello Harbor' 'And your name?' [OK, Cancel] -> OK with 'Harbor'",
                           "harbor: vibrate (0.4 s)", "harbor: image picker -> cancelled"})
    EXPECT_TRUE(log_->contains(line)) << line;
  EXPECT_EQ(plays(true), 1u);
  EXPECT_GE(plays(false), 1u) << "the beep found its sound in the bundle";
  EXPECT_EQ(plat::UIDriver::shared().alertCount(), 0u) << "every alert was answered";
  EXPECT_EQ(HBRNotification::alertQueueCount(), 0u);
}

TEST_P(SampleApplication, ChosenAnswersReachThePageAndSoDoesABatteryChange) {
  network->setFlags(plat::SimulatedNetwork::kOffline);
  auto options = runner::parseOptions({"--dialog-button", "2", "--dialog-text", "Ada", "hello"});
  ASSERT_TRUE(options);
  launch();
  // Nobody answers yet: the page waits at its first dialog while the charger goes in.
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (plat::UIDriver::shared().alertCount() == 0 && std::chrono::steady_clock::now() < until) {
    runUntilIdle();
    waitForMain(0.02);
  }
  ASSERT_EQ(plat::UIDriver::shared().alertCount(), 1u);
  battery->setStatus(plat::UIDeviceBatteryState::Charging, 0.8f);
  ASSERT_TRUE(runUntilPagePrints("battery: 80%, plugged in"));
  EXPECT_EQ(plat::UIDriver::shared().topAlert()->buttonTitles(), std::vector<std::string>{"OK"});

  runner::standInForTheUser(*options);
  ASSERT_TRUE(plat::UIDriver::shared().tapButton(0));
  ASSERT_TRUE(runUntilPagePrints("done"));

  std::vector<std::string> lines = pageLines();
  for (const char* line : {"connection: none", "alert: button 1", "confirm: button 2", "prompt: button 2, text \"Ada\"",
                           "page confirm: false", "page prompt: null"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "battery: 80%, plugged in"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "battery: no report yet"), 0);
  EXPECT_TRUE(log_->contains(kPageLine + std::string("event offline")));
  EXPECT_TRUE(log_->contains("harbor: alert 'Prompt' 'Your name?' [OK, Cancel] -> Cancel with 'Ada'"));
  EXPECT_EQ(plat::UIDriver::shared().alertCount(), 0u);
}

TEST_P(SampleApplication, AURLTheApplicationIsOpenedWithReachesThePageOnce) {
  const std::string url = "harborhello://greeting?from=runner&n=1#top";
  auto options = runner::parseOptions({"--open-url", url, "hello"});
  ASSERT_TRUE(options) << options.error();
  runner::standInForTheUser(*options);
  launch();
  runner::openURLAfterLaunch(*options);
  ASSERT_TRUE(runUntilPagePrints("done"));

  EXPECT_TRUE(log_->contains("harbor: opened with URL " + url + " -> YES"));
  std::vector<std::string> lines = pageLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "opened with " + url), 1);
  auto ready = std::find(lines.begin(), lines.end(), "deviceready");
  auto opened = std::find(lines.begin(), lines.end(), "opened with " + url);
  EXPECT_LT(ready, opened) << "handed over once the page is ready";
}

INSTANTIATE_TEST_SUITE_P(Engines, SampleApplication, ::testing::Values("HBRUIWebViewEngine", "HBRWKWebViewEngine"));

}  // namespace
}  // namespace harbor::testing
