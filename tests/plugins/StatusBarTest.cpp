// The status bar from the page: overlay and the web view's frame, styles and colours, hide and
// show through the controller or the application, and the visibility and tap events.
#include <gtest/gtest.h>

#include "CameraPlugin.h"
#include "HBRCamera.h"
#include "HBRPreferences.h"
#include "HBRStatusBar.h"
#include "HBRViewController.h"
#include "StatusBarPlugin.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/dispatch/Queues.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIImagePickerController.h"
#include "plat/uikit/UIScreen.h"
#include "plat/uikit/UIScrollView.h"
#include "support/PluginTest.h"
#include "support/WindowDelegate.h"

using namespace harbor;
using plat::CGRectMake;
using plat::Value;

namespace {

// A view with a scroll view of its own, as the web views have.
class FakeWebView : public plat::UIView, public plat::UIScrollViewOwner {
 public:
  plat::UIScrollViewPtr scrollView() const override { return scroll; }
  plat::UIScrollViewPtr scroll = std::make_shared<plat::UIScrollView>();
};

class StatusBar : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerStatusBarPlugin();
    app = plat::UIApplication::sharedApplication();
    container = std::make_shared<HBRViewController>();
    container->init();
    auto view = std::make_shared<plat::UIView>();
    view->initWithFrame(plat::UIScreen::mainScreen().bounds());
    container->setView(view);
    web = std::make_shared<FakeWebView>();
    web->initWithFrame(view->bounds());
    web->addSubview(web->scroll);
    view->addSubview(web);
    engine->setView(web);
  }
  void TearDown() override {
    plugin.reset();
    container.reset();
    PluginTest::TearDown();
  }
  void setting(const char* name, Value value) { setHarborSetting(controller->mutableSettings(), std::move(value), name); }
  void start() {
    plugin = create<HBRStatusBar>("HBRStatusBar", "StatusBar", container);
    ASSERT_TRUE(plugin);
  }
  // The events the page heard since the last call.
  std::vector<Value> events() {
    std::vector<Value> out;
    for (const auto& c : takeCallbacks()) {
      EXPECT_EQ(c.callbackId, "events");
      EXPECT_EQ(c.status, 1);
      EXPECT_TRUE(c.keepCallback);
      out.push_back(c.message);
    }
    return out;
  }

  plat::UIApplicationPtr app;
  std::shared_ptr<HBRViewController> container;
  std::shared_ptr<FakeWebView> web;
  std::shared_ptr<HBRStatusBar> plugin;
};

}  // namespace

TEST_F(StatusBar, OverlayDecidesWhetherTheWebViewStartsBelowTheBar) {
  start();
  EXPECT_TRUE(plugin->statusBarOverlaysWebView());
  exec("StatusBar", "overlaysWebView", {Value(false)});
  EXPECT_EQ(web->frame(), CGRectMake(0, 20, 375, 647));
  auto background = plugin->statusBarBackgroundView();
  EXPECT_EQ(background->superview(), container->view());
  EXPECT_EQ(background->frame(), CGRectMake(0, 0, 375, 20));

  exec("StatusBar", "overlaysWebView", {Value("not a number")});  // counts as true
  EXPECT_EQ(web->frame(), CGRectMake(0, 0, 375, 667));
  EXPECT_FALSE(background->superview());
  EXPECT_TRUE(takeCallbacks().empty()) << "only _ready answers";
}

TEST_F(StatusBar, ReadyAppliesThePreferenceAndSendsVisibility) {
  setting("StatusBarOverlaysWebView", Value("false"));
  start();
  exec("StatusBar", "_ready", {}, "events");
  EXPECT_EQ(events(), std::vector<Value>{Value(true)});
  EXPECT_FALSE(plugin->statusBarOverlaysWebView());
  EXPECT_EQ(web->frame().origin.y, 20);

  exec("StatusBar", "_ready", {}, "again");  // the second callback replaces the first
  auto callbacks = takeCallbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].callbackId, "again");
}

TEST_F(StatusBar, StylesGoThroughTheControllerOrTheApplication) {
  struct Case {
    Value basedOnController;  // Info.plist value, absent for none
    const char* version;
    bool throughController;
  };
  const Case cases[] = {{Value(), "9.3", true}, {Value(true), "7.0", true}, {Value(false), "9.3", false},
                        {Value(), "6.1", false}};
  for (const auto& c : cases) {
    plat::Dictionary info{{"CFBundleIdentifier", "org.harbor.tests"}};
    if (!c.basedOnController.isAbsent()) info.set("UIViewControllerBasedStatusBarAppearance", c.basedOnController);
    writeInfoPlist(info);
    plat::UIDevice::currentDevice()->setSystemVersion(c.version);
    container->setSbStatusBarStyle(0);
    app->setStatusBarStyle(0);
    start();
    EXPECT_EQ(plugin->viewControllerBasedStatusBarAppearance(), c.throughController) << c.version;
    for (const char* action : {"styleLightContent", "styleBlackTranslucent", "styleBlackOpaque", "styleDefault"}) {
      exec("StatusBar", action);
      long expected = std::string(action) == "styleDefault" ? 0 : 1;
      EXPECT_EQ(app->statusBarStyle(), expected) << action;
      EXPECT_EQ(container->preferredStatusBarStyle(), c.throughController ? expected : 0) << action;
    }
    plugin.reset();
  }
}

TEST_F(StatusBar, StylePreferenceIsReadAtStartInAnyCase) {
  const std::pair<const char*, long> cases[] = {
      {"LightContent", 1}, {"blackopaque", 1}, {"BlackTranslucent", 1}, {"default", 0}, {"purple", 0}};
  for (const auto& [name, style] : cases) {
    app->setStatusBarStyle(0);
    setting("StatusBarStyle", Value(name));
    start();
    EXPECT_EQ(app->statusBarStyle(), style) << name;
    plugin.reset();
  }
}

TEST_F(StatusBar, ColoursByHexAndByNameFromAFixedTable) {
  setting("StatusBarBackgroundColor", Value("#FF8000"));
  start();
  auto background = plugin->statusBarBackgroundView();
  plat::UIColor orange{1, 128 / 255.0, 0, 1};
  EXPECT_EQ(background->backgroundColor(), orange);

  struct Case {
    const char* action;
    Value argument;
    std::optional<plat::UIColor> expected;
  };
  const Case cases[] = {
      {"backgroundColorByHexString", Value("#FFF"), orange},                  // too short: nothing
      {"backgroundColorByHexString", Value("00FF000"), orange},               // no "#": nothing
      {"backgroundColorByHexString", Value("#FF000080"), plat::UIColor{0, 0, 128 / 255.0, 1}},  // last six
      // Four characters, though seven bytes in UTF-8: too short, nothing.
      {"backgroundColorByHexString", Value("#\xC3\xA9\xC3\xA9\xC3\xA9"), plat::UIColor{0, 0, 128 / 255.0, 1}},
      {"backgroundColorByHexString", Value(12), plat::UIColor{0, 0, 0, 1}},  // not a string: black
      {"backgroundColorByHexString", Value("#00ff00zz"), plat::UIColor{0, 1, 0, 1}},
      {"backgroundColorByName", Value("red"), plat::UIColor{1, 0, 0, 1}},
      {"backgroundColorByName", Value("removeFromSuperview"), plat::UIColor{1, 0, 0, 1}},  // no such colour
      {"backgroundColorByName", Value("clear"), plat::UIColor{0, 0, 0, 0}},
      {"backgroundColorByName", Value("lightText"), plat::UIColor{1, 1, 1, 0.6}},
      {"backgroundColorByName", Value("darkText"), plat::UIColor{0, 0, 0, 1}},
      {"backgroundColorByName", Value("groupTableViewBackground"), plat::UIColor{239 / 255.0, 239 / 255.0, 244 / 255.0, 1}},
      {"backgroundColorByName", Value("orange"), plat::UIColor{1, 0.5, 0, 1}},
      {"backgroundColorByName", Value(), plat::UIColor{0, 0, 0, 1}},  // not a string: black
  };
  for (const auto& c : cases) {
    exec("StatusBar", c.action, {c.argument});
    EXPECT_EQ(background->backgroundColor(), c.expected) << c.action << " " << c.argument.description();
  }
  EXPECT_EQ(plugin->statusBarBackgroundColor(), (plat::UIColor{0, 1, 0, 1})) << "names are not remembered";
  exec("StatusBar", "overlaysWebView", {Value(false)});
  EXPECT_EQ(plugin->statusBarBackgroundView()->backgroundColor(), (plat::UIColor{0, 1, 0, 1}))
      << "a new background takes the last hexadecimal colour";
}

TEST_F(StatusBar, AnEmptyColourPreferenceIsIgnored) {
  setting("StatusBarBackgroundColor", Value(""));
  start();
  EXPECT_FALSE(plugin->statusBarBackgroundView()->backgroundColor());
  EXPECT_FALSE(plugin->statusBarBackgroundColor());
}

TEST_F(StatusBar, HideAndShowMoveTheWebViewAndTellThePage) {
  for (bool basedOnController : {true, false}) {
    writeInfoPlist(plat::Dictionary{{"CFBundleIdentifier", "org.harbor.tests"},
                                    {"UIViewControllerBasedStatusBarAppearance", basedOnController}});
    start();
    exec("StatusBar", "_ready", {}, "events");
    exec("StatusBar", "overlaysWebView", {Value(false)});
    events();

    exec("StatusBar", "hide");
    EXPECT_TRUE(app->isStatusBarHidden());
    EXPECT_EQ(container->prefersStatusBarHidden(), basedOnController);
    EXPECT_EQ(events(), std::vector<Value>{Value(false)});
    EXPECT_EQ(web->frame(), CGRectMake(0, 0, 375, 667)) << "no bar to stay below";
    EXPECT_TRUE(plugin->statusBarBackgroundView()->isHidden());
    EXPECT_FALSE(plugin->statusBarBackgroundView()->superview());
    exec("StatusBar", "hide");
    EXPECT_TRUE(events().empty()) << "already hidden";

    exec("StatusBar", "show");
    EXPECT_FALSE(app->isStatusBarHidden());
    EXPECT_EQ(events(), std::vector<Value>{Value(true)});
    EXPECT_EQ(web->frame(), CGRectMake(0, 20, 375, 647));
    EXPECT_FALSE(plugin->statusBarBackgroundView()->isHidden());
    EXPECT_EQ(plugin->statusBarBackgroundView()->superview(), container->view());
    plugin.reset();
    events();
  }
}

TEST_F(StatusBar, EventsStopAtThePageResetAndTapsNeverScrollTheWebView) {
  auto delegate = std::make_shared<harbor::testing::WindowDelegate>();
  app->setDelegate(delegate);
  delegate->window()->setRootViewController(container);
  start();
  EXPECT_FALSE(web->scroll->scrollsToTop());

  EXPECT_TRUE(plat::UIDriver::shared().tapStatusBar());
  runUntilIdle();
  EXPECT_TRUE(takeCallbacks().empty()) << "no event before _ready";

  exec("StatusBar", "_ready", {}, "events");
  events();
  web->scroll->setContentOffset({0, 300});
  EXPECT_TRUE(plat::UIDriver::shared().tapStatusBar());
  runUntilIdle();
  Value tap(plat::Dictionary{{"type", "tap"}});
  EXPECT_EQ(events(), std::vector<Value>{tap});
  EXPECT_EQ(web->scroll->contentOffset().y, 300) << "the page does not scroll";

  plugin->onReset();
  EXPECT_TRUE(plat::UIDriver::shared().tapStatusBar());
  app->setStatusBarHidden(true);
  runUntilIdle();
  EXPECT_TRUE(takeCallbacks().empty()) << "a new page must call _ready again";
}

TEST_F(StatusBar, LandscapeFramesAreTurnedAndFollowTheBarAfterItsFrameChanges) {
  plat::UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 320, 480));
  app->setStatusBarOrientation(plat::UIInterfaceOrientationLandscapeLeft);
  EXPECT_EQ(HBRStatusBar::invertFrameIfNeeded(CGRectMake(0, 0, 20, 480)), CGRectMake(0, 0, 480, 20));
  EXPECT_EQ(HBRStatusBar::invertFrameIfNeeded(CGRectMake(5, 5, 480, 20)), CGRectMake(5, 5, 480, 20));
  start();
  exec("StatusBar", "overlaysWebView", {Value(false)});
  EXPECT_EQ(web->frame(), CGRectMake(0, 20, 480, 300));
  EXPECT_EQ(plugin->statusBarBackgroundView()->frame(), CGRectMake(0, 0, 480, 20));

  // Turning back to portrait: the web view follows a tenth of a second later.
  app->setStatusBarOrientation(plat::UIInterfaceOrientationPortrait);
  runUntilIdle();
  EXPECT_EQ(web->frame(), CGRectMake(0, 20, 480, 300));
  advance(0.1);
  EXPECT_EQ(web->frame(), CGRectMake(0, 20, 320, 460));
}

TEST_F(StatusBar, LandscapeWithAPresentedControllerDependsOnTheSystemVersion) {
  plat::UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 320, 480));
  app->setStatusBarOrientation(plat::UIInterfaceOrientationLandscapeRight);
  ASSERT_TRUE(container->presentViewController(std::make_shared<plat::UIViewController>(), false, nullptr));
  const std::pair<const char*, plat::CGRect> cases[] = {
      {"8.4", CGRectMake(0, 0, 480, 320)}, {"7.1", CGRectMake(0, 0, 320, 480)}, {"9.3", CGRectMake(0, 0, 320, 480)}};
  start();
  for (const auto& [version, frame] : cases) {
    plat::UIDevice::currentDevice()->setSystemVersion(version);
    plugin->resizeWebView();
    EXPECT_EQ(web->frame(), frame) << version;
  }
}

TEST_F(StatusBar, APickerGivesTheBarBackAsThePageLeftItWhenItCloses) {
  // The camera screen hides the bar while it shows; closed, the container's own look is back,
  // and the page hears so.
  registerCameraPlugin();
  struct Case {
    const char* name;
    std::function<bool()> close;
  };
  const Case cases[] = {
      {"a picture taken", [] { return plat::UIDriver::shared().pickImage(plat::SimulatedTestPicture(16, 12)); }},
      {"cancelled", [] { return plat::UIDriver::shared().cancelPicker(); }},
  };
  start();
  auto camera = create<HBRCamera>("HBRCamera", "Camera", container);
  ASSERT_TRUE(camera);
  auto settle = [&] {
    for (int i = 0; i < 3; ++i) {
      plat::dispatch::GlobalQueue::shared().waitIdle();
      runUntilIdle();
    }
  };
  // The visibility events the page heard since the last call; the camera's answers are dropped.
  auto visibility = [&] {
    std::vector<Value> out;
    for (const auto& c : takeCallbacks())
      if (c.callbackId == "events") out.push_back(c.message);
    return out;
  };
  exec("StatusBar", "_ready", {}, "events");
  exec("StatusBar", "styleLightContent");
  ASSERT_EQ(visibility(), std::vector<Value>{Value(true)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat::SimulatedCamera::reset();
    exec("Camera", "takePicture", {Value(50), Value(1), Value(1)});
    settle();
    ASSERT_EQ(plat::UIDriver::shared().pickerCount(), 1u);
    EXPECT_TRUE(app->isStatusBarHidden()) << "the camera screen hides the bar";
    ASSERT_TRUE(c.close());
    settle();
    EXPECT_EQ(plat::UIDriver::shared().pickerCount(), 0u);
    EXPECT_FALSE(container->presentedViewController());
    EXPECT_FALSE(app->isStatusBarHidden());
    EXPECT_EQ(app->statusBarStyle(), plat::UIStatusBarStyleLightContent);
    EXPECT_EQ(visibility(), (std::vector<Value>{Value(false), Value(true)})) << "the page believes what it sees";
  }
  // The page's own choice to hide it is kept as well.
  exec("StatusBar", "hide");
  visibility();
  exec("Camera", "takePicture", {Value(50), Value(1), Value(1)});
  settle();
  ASSERT_TRUE(plat::UIDriver::shared().cancelPicker());
  settle();
  EXPECT_TRUE(app->isStatusBarHidden());
  EXPECT_TRUE(visibility().empty());
}
