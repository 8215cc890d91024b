// Alert, confirm and prompt answered through the UI driver on both presentation paths, the
// process-wide alert queue, and the beep.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>

#include "DialogsPlugin.h"
#include "HBRNotification.h"
#include "plat/audiotoolbox/AudioServices.h"
#include "plat/audiotoolbox/WAVFile.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIScreen.h"
#include "support/PluginTest.h"

using namespace harbor;
using harbor::testing::PageCallback;
using plat::Array;
using plat::Value;

namespace {

enum class Path { AlertController, AlertView };

class Dialogs : public harbor::testing::PluginTest, public ::testing::WithParamInterface<Path> {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerDialogsPlugin();
    plat::UIDriver::shared().reset();
    HBRNotification::resetAlertQueue();
    plat::UIAlertController::setAvailable(GetParam() == Path::AlertController);
    root = std::make_shared<plat::UIViewController>();
    plugin = create<HBRNotification>("HBRNotification", "Notification", root);
    ASSERT_TRUE(plugin);
  }
  void TearDown() override {
    plat::UIAlertController::setAvailable(true);
    plat::UIDriver::shared().reset();
    HBRNotification::resetAlertQueue();
    PluginTest::TearDown();
  }
  plat::UIDriver& driver() { return plat::UIDriver::shared(); }

  std::shared_ptr<plat::UIViewController> root;
  std::shared_ptr<HBRNotification> plugin;
};

}  // namespace

TEST_P(Dialogs, ConfirmAnswersTheOneBasedIndexOfThePressedButton) {
  exec("Notification", "confirm", Array{"Sure?", "Title", Array{"OK", "Cancel", "Later"}}, "c1");
  ASSERT_EQ(driver().alertCount(), 1u);
  auto alert = driver().topAlert();
  EXPECT_EQ(alert->alertMessage(), "Sure?");
  EXPECT_EQ(alert->alertTitle(), "Title");
  EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"OK", "Cancel", "Later"}));
  EXPECT_EQ(alert->textFieldCount(), 0u);
  EXPECT_TRUE(takeCallbacks().empty()) << "nothing before the user answers";

  ASSERT_TRUE(driver().tapButton(1));
  runUntilIdle();
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].callbackId, "c1");
  EXPECT_EQ(callbacks[0].status, 1);
  EXPECT_EQ(callbacks[0].message, Value(2));
  EXPECT_FALSE(callbacks[0].keepCallback);
  EXPECT_EQ(driver().alertCount(), 0u);
}

TEST_P(Dialogs, PromptAnswersTheButtonAndTheTextUnchanged) {
  struct Case {
    Value defaultText;
    std::optional<std::string> typed;
    std::size_t button;
    Value input;
  };
  const Case cases[] = {
      {"default", std::nullopt, 0, "default"},
      {"default", "  typed \xE2\x9C\x93 \"quoted\" ", 1, "  typed \xE2\x9C\x93 \"quoted\" "},
      {"", std::nullopt, 0, ""},
      {Value::null(), std::nullopt, 1, Value::null()},  // no text object at all
  };
  for (const auto& c : cases) {
    exec("Notification", "prompt", Array{"Name?", "Who", Array{"OK", "Cancel"}, c.defaultText}, "p1");
    ASSERT_EQ(driver().alertCount(), 1u);
    ASSERT_EQ(driver().topAlert()->textFieldCount(), 1u);
    EXPECT_EQ(driver().topAlert()->textFieldText(0),
              c.defaultText.isString() ? std::optional(c.defaultText.asString()) : std::nullopt);
    if (c.typed) {
      ASSERT_TRUE(driver().setTextFieldText(0, *c.typed));
    }
    ASSERT_TRUE(driver().tapButton(c.button));
    runUntilIdle();
    auto callbacks = takeCallbacks();
    ASSERT_EQ(callbacks.size(), 1u);
    EXPECT_EQ(callbacks[0].message,
              Value(plat::Dictionary{{"buttonIndex", static_cast<int>(c.button) + 1}, {"input1", c.input}}));
  }
}

// A page that calls the plugin itself with long texts gets them shown cut, as every page text is:
// the message, the title, each label and the default text.
TEST_P(Dialogs, LongTextsAreShownCut) {
  const std::string longText(20000, 'w');
  const std::string cut = std::string(16384, 'w') + " ... (3616 more characters cut)";
  struct Case {
    const char* action;
    Array arguments;
    std::vector<std::string> buttons;
    std::optional<std::string> field;
  };
  const Case cases[] = {
      {"alert", Array{longText, longText, longText}, {cut}, std::nullopt},
      {"confirm", Array{longText, longText, Array{"OK", longText}}, {"OK", cut}, std::nullopt},
      {"prompt", Array{longText, longText, Array{longText}, longText}, {cut}, cut},
  };
  for (const auto& c : cases) {
    execMessage("Notification", c.action, c.arguments, "cb");
    ASSERT_EQ(driver().alertCount(), 1u) << c.action;
    auto alert = driver().topAlert();
    EXPECT_EQ(alert->alertMessage(), cut) << c.action;
    EXPECT_EQ(alert->alertTitle(), cut) << c.action;
    EXPECT_EQ(alert->buttonTitles(), c.buttons) << c.action;
    if (c.field) {
      EXPECT_EQ(alert->textFieldText(0), c.field) << c.action;
    }
    ASSERT_TRUE(driver().tapButton(0));
    runUntilIdle();
    EXPECT_EQ(takeCallbacks().size(), 1u) << c.action;
  }
}

TEST_P(Dialogs, EveryDialogCanBeClosed) {
  struct Case {
    const char* action;
    Array arguments;
    std::vector<std::string> buttons;
  };
  const Case cases[] = {
      {"alert", Array{"m", "t", "Fine"}, {"Fine"}},
      {"alert", Array{"m", "t"}, {"OK"}},
      {"alert", Array{"m", "t", Value::null()}, {"OK"}},
      {"alert", Array{}, {"OK"}},
      {"confirm", Array{"m", "t", Array{}}, {"OK"}},
      {"confirm", Array{"m", "t"}, {"OK"}},
      {"confirm", Array{"m", "t", "Single"}, {"Single"}},
      {"confirm", Array{"m", "t", Array{Value::null(), 3, "x"}}, {"3", "x"}},
      {"prompt", Array{"m", "t", Array{}}, {"OK"}},
  };
  for (const auto& c : cases) {
    exec("Notification", c.action, c.arguments, "cb");
    ASSERT_EQ(driver().alertCount(), 1u) << c.action;
    EXPECT_EQ(driver().topAlert()->buttonTitles(), c.buttons) << c.action;
    ASSERT_TRUE(driver().tapButton(0));
    runUntilIdle();
    EXPECT_EQ(takeCallbacks().size(), 1u) << c.action;
  }
}

TEST_P(Dialogs, TwoAlertsInARowStackAndEachAnswersItsOwnCallback) {
  exec("Notification", "alert", Array{"first", "A", "One"}, "first");
  exec("Notification", "alert", Array{"second", "B", "Two"}, "second");
  ASSERT_EQ(driver().alertCount(), 2u);
  EXPECT_EQ(driver().alerts()[0]->alertMessage(), "first");
  EXPECT_EQ(driver().topAlert()->alertMessage(), "second");
  if (GetParam() == Path::AlertController) {
    EXPECT_EQ(root->presentedViewController()->presentedViewController(),
              std::dynamic_pointer_cast<plat::UIViewController>(driver().topAlert()))
        << "the second is presented over the first";
    EXPECT_EQ(HBRNotification::alertQueueCount(), 0u);
  }
  ASSERT_TRUE(driver().tapButton(0));
  runUntilIdle();
  ASSERT_TRUE(driver().tapButton(0));
  runUntilIdle();
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 2u);
  EXPECT_EQ(callbacks[0].callbackId, "second");
  EXPECT_EQ(callbacks[1].callbackId, "first");
  EXPECT_EQ(callbacks[0].message, Value(1));
  EXPECT_EQ(callbacks[1].message, Value(1));
}

TEST_P(Dialogs, AnAnswerAfterThePluginIsGoneIsDropped) {
  exec("Notification", "alert", Array{"m", "t", "OK"}, "gone");
  ASSERT_EQ(driver().alertCount(), 1u);
  controller->removeAllObjects();
  plugin.reset();
  ASSERT_TRUE(driver().tapButton(0));
  runUntilIdle();
  EXPECT_TRUE(takeCallbacks().empty());
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Dialogs, ::testing::Values(Path::AlertController, Path::AlertView),
                         [](const auto& info) {
                           return info.param == Path::AlertController ? "AlertController" : "AlertView";
                         });

// The alert-controller path only: the queue and its presentations.
class DialogQueue : public Dialogs {};

TEST_P(DialogQueue, ADialogThatCannotBePresentedDoesNotBlockTheNext) {
  // Nothing to present on: logged and dropped.
  plugin->setViewController(nullptr);
  exec("Notification", "alert", Array{"lost", "t", "OK"}, "lost");
  EXPECT_EQ(HBRNotification::alertQueueCount(), 0u);
  EXPECT_TRUE(log_->contains("no view controller to present the dialog on"));

  // The presentation is refused: something else is still appearing over the root.
  plugin->setViewController(root);
  auto other = std::make_shared<plat::UIViewController>();
  ASSERT_TRUE(root->presentViewController(other, true, nullptr));
  exec("Notification", "alert", Array{"refused", "t", "OK"}, "refused");
  EXPECT_EQ(HBRNotification::alertQueueCount(), 0u);
  EXPECT_TRUE(log_->contains("the dialog could not be presented"));

  // Later dialogs appear as usual.
  runUntilIdle();
  exec("Notification", "alert", Array{"shown", "t", "OK"}, "shown");
  ASSERT_EQ(driver().alertCount(), 1u);
  EXPECT_EQ(driver().topAlert()->alertMessage(), "shown");
  ASSERT_TRUE(driver().tapButton(0));
  runUntilIdle();
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].callbackId, "shown");
}

TEST_P(DialogQueue, QueuedDialogsWaitForThePresentationBeforeThem) {
  // Three in one batch: each is presented only once the one before it has appeared.
  controller->commandQueue()->enqueueCommandBatch(
      R"([["a","Notification","alert",["1","t","OK"]],["b","Notification","alert",["2","t","OK"]],)"
      R"(["c","Notification","alert",["3","t","OK"]]])");
  controller->commandQueue()->executePending();
  EXPECT_EQ(HBRNotification::alertQueueCount(), 3u);
  EXPECT_EQ(driver().alertCount(), 0u);
  plat::RunLoop::main().runOneTurn();
  EXPECT_EQ(driver().alertCount(), 1u);
  EXPECT_EQ(HBRNotification::alertQueueCount(), 2u);
  runUntilIdle();
  EXPECT_EQ(driver().alertCount(), 3u);
  EXPECT_EQ(HBRNotification::alertQueueCount(), 0u);

  // Answered top down, and a new dialog meanwhile goes on top of what is left.
  ASSERT_TRUE(driver().tapButton(0));
  runUntilIdle();
  exec("Notification", "alert", Array{"4", "t", "OK"}, "d");
  EXPECT_EQ(driver().topAlert()->alertMessage(), "4");
  std::vector<std::string> order;
  while (driver().alertCount() > 0) {
    ASSERT_TRUE(driver().tapButton(0));
    runUntilIdle();
  }
  for (const auto& c : takeCallbacks()) order.push_back(c.callbackId);
  EXPECT_EQ(order, (std::vector<std::string>{"c", "d", "b", "a"}));
}

TEST_P(DialogQueue, TheTopPresentedViewControllerSkipsOneBeingDismissed) {
  EXPECT_EQ(plugin->getTopPresentedViewController(), root);
  auto first = std::make_shared<plat::UIViewController>();
  auto second = std::make_shared<plat::UIViewController>();
  root->presentViewController(first, false, nullptr);
  runUntilIdle();
  first->presentViewController(second, false, nullptr);
  runUntilIdle();
  EXPECT_EQ(plugin->getTopPresentedViewController(), second);
  first->dismissViewControllerAnimated(true, nullptr);
  EXPECT_EQ(plugin->getTopPresentedViewController(), first);
  plugin->setViewController(nullptr);
  EXPECT_EQ(plugin->getTopPresentedViewController(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(AlertController, DialogQueue, ::testing::Values(Path::AlertController));

namespace {

class Beep : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerDialogsPlugin();
    plat::SystemSoundRecorder::reset();
    // The application bundle carries the plugin's resource bundle.
    std::ifstream beep(HARBOR_SOURCE_DIR "/Plugins/harbor-plugin-dialogs/resources/HBRNotification.bundle/beep.wav",
                       std::ios::binary);
    writeFile(inBundle("HBRNotification.bundle/beep.wav"),
              std::string(std::istreambuf_iterator<char>(beep), std::istreambuf_iterator<char>()));
    ASSERT_TRUE(createPlugin("HBRNotification", "Notification"));
  }
  void TearDown() override {
    plat::SystemSoundRecorder::reset();
    PluginTest::TearDown();
  }
};

}  // namespace

TEST_F(Beep, PlaysTheBundledSoundCountTimesOneAfterAnother) {
  auto path = HBRNotification::beepSoundPath();
  ASSERT_TRUE(path);
  auto info = plat::readWAVInfo(*path);
  ASSERT_TRUE(info.ok());
  const double length = info->duration;
  EXPECT_GT(length, 0.05);

  struct Case {
    Array arguments;
    long plays;
  };
  const Case cases[] = {
      {Array{3}, 3}, {Array{}, 1}, {Array{Value::null()}, 1}, {Array{0}, 1}, {Array{-2}, 1}, {Array{"2"}, 2},
      // The most negative counts a page can send: "count minus one" must not wrap to a huge count.
      {Array{"-9223372036854775808"}, 1}, {Array{-1e300}, 1}, {Array{INT64_MIN}, 1},
      // A count no one would wait for is cut to the most one call plays.
      {Array{kHBRNotificationMaxBeeps}, kHBRNotificationMaxBeeps}, {Array{1e300}, kHBRNotificationMaxBeeps},
      {Array{INT64_MAX}, kHBRNotificationMaxBeeps}, {Array{"99999999999999999999"}, kHBRNotificationMaxBeeps},
  };
  for (const auto& c : cases) {
    plat::SystemSoundRecorder::reset();
    double start = clock_->now();
    exec("Notification", "beep", c.arguments);
    ASSERT_EQ(plat::SystemSoundRecorder::played().size(), 1u);
    // Each play starts when the one before it has ended, never on top of it.
    double end = start;
    for (int i = 1; i < c.plays; ++i) {
      end += length;
      clock_->set(end - length * 0.1);
      runUntilIdle();
      EXPECT_EQ(plat::SystemSoundRecorder::played().size(), static_cast<std::size_t>(i));
      clock_->set(end);
      runUntilIdle();
      EXPECT_EQ(plat::SystemSoundRecorder::played().size(), static_cast<std::size_t>(i + 1));
    }
    advance(length * 5);
    auto played = plat::SystemSoundRecorder::played();
    ASSERT_EQ(played.size(), static_cast<std::size_t>(c.plays));
    for (int i = 0; i < c.plays; ++i) {
      EXPECT_EQ(played[i].filePath, *path);
      EXPECT_NEAR(played[i].startTime - start, i * length, 1e-6);
    }
    EXPECT_EQ(plat::SystemSoundRecorder::soundCount(), 0u) << "every sound disposed of after its play";
  }
  EXPECT_TRUE(takeCallbacks().empty()) << "a beep never answers";
  EXPECT_TRUE(log_->contains("HBRNotification: beep count 9223372036854775807 is more than 10; playing 10."));
  EXPECT_FALSE(log_->contains("beep count 10 ")) << "the most one call plays is no reason to log";
}

// The page hears nothing back from a beep: without its sound, the log says why none plays.
TEST_F(Beep, ASilentBeepSaysWhy) {
  const std::string sound = inBundle("HBRNotification.bundle/beep.wav");
  struct Case {
    const char* name;
    std::function<void()> change;
    std::string line;
  };
  const Case cases[] = {
      {"no resource bundle", [] {},
       "HBRNotification: beep: the application bundle has no HBRNotification.bundle/beep.wav; nothing plays."},
      {"no sound file", [&] { writeFile(inBundle("HBRNotification.bundle/other.wav"), "x"); },
       "HBRNotification: beep: the application bundle has no HBRNotification.bundle/beep.wav; nothing plays."},
      {"not a sound", [&] { writeFile(sound, "RIFF, but no WAVE"); },
       "HBRNotification: beep: " + sound + " is not a sound that can be played; nothing plays."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat::NSFileManager::defaultManager().removeItemAtPath(inBundle("HBRNotification.bundle"));
    c.change();
    log_->clear();
    exec("Notification", "beep", Array{3});
    advance(5);
    EXPECT_TRUE(plat::SystemSoundRecorder::played().empty());
    EXPECT_EQ(log_->count(c.line), 1u) << "once for the call, not once a play";
    EXPECT_TRUE(takeCallbacks().empty());
  }
}

TEST_F(Beep, WithoutTheSoundNothingIsHeard) {
  plat::NSFileManager::defaultManager().removeItemAtPath(inBundle("HBRNotification.bundle"));
  EXPECT_EQ(HBRNotification::beepSoundPath(), std::nullopt);
  exec("Notification", "beep", Array{2});
  advance(5);
  EXPECT_TRUE(plat::SystemSoundRecorder::played().empty());
  EXPECT_TRUE(takeCallbacks().empty());
}

// Before 8.3 an alert controller is given the application frame, turned with the interface.
TEST_P(Dialogs, BelowEightPointThreeTheAlertTakesTheApplicationFrame) {
  if (GetParam() != Path::AlertController) GTEST_SKIP() << "only alert controllers have a frame to fix";
  plat::UIScreen::mainScreen().setBounds(plat::CGRectMake(0, 0, 320, 480));
  auto app = plat::UIApplication::sharedApplication();
  struct Case {
    const char* version;
    plat::UIInterfaceOrientation orientation;
    plat::CGRect frame;
  };
  const Case cases[] = {
      {"8.2", plat::UIInterfaceOrientationPortrait, plat::CGRectMake(0, 20, 320, 460)},
      {"7.1", plat::UIInterfaceOrientationLandscapeLeft, plat::CGRectMake(20, 0, 480, 300)},
  };
  for (const auto& c : cases) {
    plat::UIDevice::currentDevice()->setSystemVersion(c.version);
    app->setStatusBarOrientation(c.orientation);
    exec("Notification", "alert", Array{"Hello", "Title", "OK"}, "a");
    auto controller = std::dynamic_pointer_cast<plat::UIAlertController>(driver().topAlert());
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->view()->frame(), c.frame) << c.version;
    ASSERT_TRUE(driver().tapButton(0));
    runUntilIdle();
    takeCallbacks();
  }
  plat::UIDevice::currentDevice()->setSystemVersion("8.3");
  exec("Notification", "alert", Array{"Hello", "Title", "OK"}, "a");
  auto controller = std::dynamic_pointer_cast<plat::UIAlertController>(driver().topAlert());
  ASSERT_TRUE(controller);
  EXPECT_EQ(controller->view()->frame(), plat::UIScreen::mainScreen().bounds()) << "from 8.3 the alert sizes itself";
}
