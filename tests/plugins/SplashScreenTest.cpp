// The launch image over the container: its name by device and orientation, its placement, the
// hide path's wait and fade on the manual clock, and show during a fade.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "HBRPreferences.h"
#include "HBRSplashScreen.h"
#include "HBRViewController.h"
#include "SplashScreenPlugin.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIScreen.h"
#include "support/PluginTest.h"

using namespace harbor;
using plat::CGRectMake;
using plat::Value;

namespace {

class SplashScreen : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerSplashScreenPlugin();
    container = std::make_shared<HBRViewController>();
    container->init();
    auto view = std::make_shared<plat::UIView>();
    view->initWithFrame(plat::UIScreen::mainScreen().bounds());
    container->setView(view);
  }
  void TearDown() override {
    plugin.reset();
    container.reset();
    PluginTest::TearDown();
  }

  void setting(const char* name, Value value) { setHarborSetting(controller->mutableSettings(), std::move(value), name); }
  void screen(double w, double h, plat::UIUserInterfaceIdiom idiom = plat::UIUserInterfaceIdiomPhone) {
    plat::UIScreen::mainScreen().setBounds(CGRectMake(0, 0, w, h));
    plat::UIDevice::currentDevice()->setUserInterfaceIdiom(idiom);
  }
  // A picture of w x h pixels under that file name in the application bundle.
  void launchImage(const std::string& file, std::size_t w, std::size_t h) {
    auto image = plat::UIImage::imageWithCGImage(plat::CGImageCreateBlank(w, h));
    plat::Data png = plat::UIImagePNGRepresentation(*image);
    writeFile(bundlePath() + "/" + file, std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
  }
  void start() {
    plugin = create<HBRSplashScreen>("HBRSplashScreen", "SplashScreen", container);
    ASSERT_TRUE(plugin);
    runUntilIdle();
  }
  void pageLoaded() {
    plat::NSNotificationCenter::defaultCenter().post(kHBRPageDidLoadNotification);
    runUntilIdle();
  }
  bool covered() const { return plugin->imageView() && plugin->imageView()->superview(); }

  std::shared_ptr<HBRViewController> container;
  std::shared_ptr<HBRSplashScreen> plugin;
};

}  // namespace

TEST_F(SplashScreen, LaunchImageNameFollowsDeviceOrientationAndSupportedOrientations) {
  const std::vector<long> both{1, 2, 3, 4}, portraitOnly{1}, landscapeOnly{3, 4};
  struct Case {
    double w, h;
    plat::UIUserInterfaceIdiom idiom;
    long orientation;
    std::vector<long> supported;
    const char* launchFile;  // Info.plist "UILaunchImageFile", or none
    const char* expected;
  };
  const auto phone = plat::UIUserInterfaceIdiomPhone;
  const auto pad = plat::UIUserInterfaceIdiomPad;
  const Case cases[] = {
      {320, 480, phone, 1, both, nullptr, "Default"},
      {320, 568, phone, 1, both, nullptr, "Default-568h"},
      {375, 667, phone, 3, both, nullptr, "Default-667h"},
      {414, 736, phone, 1, both, nullptr, "Default-736h"},
      {414, 736, phone, 3, both, nullptr, "Default-Landscape-736h"},
      {414, 736, phone, 1, landscapeOnly, nullptr, "Default-Landscape-736h"},
      {414, 736, phone, 3, portraitOnly, nullptr, "Default-736h"},
      {768, 1024, pad, 4, both, nullptr, "Default-Landscape"},
      {768, 1024, pad, 1, both, nullptr, "Default-Portrait"},
      {768, 1024, pad, 1, landscapeOnly, nullptr, "Default-Landscape"},
      {768, 1024, pad, 3, portraitOnly, nullptr, "Default-Portrait"},
      {414, 736, phone, 1, both, "LaunchImage", "LaunchImage-800-Portrait-736h"},
      {414, 736, phone, 3, both, "LaunchImage", "LaunchImage-800-Landscape-736h"},
      {375, 667, phone, 1, both, "LaunchImage", "LaunchImage-800-667h"},
      {320, 568, phone, 1, both, "LaunchImage", "LaunchImage-700-568h"},
      {320, 480, phone, 1, both, "LaunchImage", "LaunchImage-700"},
      {1024, 768, pad, 1, both, "LaunchImage.png", "LaunchImage-700-Portrait"},
      {320, 568, phone, 1, both, "Splash.png", "Splash-568h"},
      {1000, 2000, phone, 1, both, nullptr, "Default"},  // a screen of no known phone
  };
  for (const auto& c : cases) {
    screen(c.w, c.h, c.idiom);
    plat::Dictionary info{{"CFBundleIdentifier", "org.harbor.tests"}};
    if (c.launchFile) info.set("UILaunchImageFile", c.launchFile);
    writeInfoPlist(info);
    container->setSupportedOrientations(c.supported);
    EXPECT_EQ(HBRSplashScreen::getImageNameDelegateDevice(static_cast<plat::UIInterfaceOrientation>(c.orientation),
                                                          container.get(), HBRSplashScreen::getCurrentDevice()),
              c.expected)
        << c.w << "x" << c.h << " orientation " << c.orientation;
  }
}

TEST_F(SplashScreen, OrientationComesFromTheDeviceUnlessItLiesFlatOrIsUnknown) {
  plat::UIApplication::sharedApplication()->setStatusBarOrientation(plat::UIInterfaceOrientationLandscapeLeft);
  const std::pair<plat::UIDeviceOrientation, long> cases[] = {
      {plat::UIDeviceOrientationUnknown, 4}, {plat::UIDeviceOrientationFaceUp, 4},
      {plat::UIDeviceOrientationFaceDown, 4}, {plat::UIDeviceOrientationPortrait, 1},
      {plat::UIDeviceOrientationPortraitUpsideDown, 2}, {plat::UIDeviceOrientationLandscapeLeft, 3},
      {plat::UIDeviceOrientationLandscapeRight, 4},
  };
  for (const auto& [device, expected] : cases) {
    plat::UIDevice::currentDevice()->setOrientation(device);
    EXPECT_EQ(HBRSplashScreen::getCurrentOrientation(), expected) << "device orientation " << device;
  }
}

TEST_F(SplashScreen, CoversTheContainerFromTheStartAndStopsItTurningAndTakingTouches) {
  launchImage("Default-667h@2x.png", 750, 1334);
  start();
  ASSERT_TRUE(covered());
  EXPECT_EQ(plugin->curImageName(), "Default-667h");
  ASSERT_TRUE(plugin->imageView()->image());
  EXPECT_EQ(plugin->imageView()->frame(), CGRectMake(0, 0, 375, 667)) << "a screen-sized image sits at the origin";
  EXPECT_EQ(plugin->activityView()->superview(), container->view()) << "the spinner above the image";
  EXPECT_EQ(container->view()->subviews().back(), plugin->activityView());
  EXPECT_TRUE(plugin->activityView()->isAnimating());
  EXPECT_EQ(plugin->activityView()->center().x, 187.5);
  EXPECT_FALSE(container->view()->isUserInteractionEnabled());
  EXPECT_FALSE(container->shouldAutorotate()) << "a 667-point phone never shows the image turning";
  EXPECT_FALSE(log_->contains("WARNING"));

  plugin->destroyViews();
  EXPECT_TRUE(container->view()->isUserInteractionEnabled());
  EXPECT_TRUE(container->shouldAutorotate());
  EXPECT_TRUE(container->view()->subviews().empty());
  EXPECT_FALSE(plugin->curImageName());
}

TEST_F(SplashScreen, PadsAndTheLargePhoneKeepTurningAndAMissingImageIsOnlyAWarning) {
  screen(768, 1024, plat::UIUserInterfaceIdiomPad);
  start();
  EXPECT_TRUE(container->shouldAutorotate());
  EXPECT_TRUE(log_->contains("WARNING: The splashscreen image named Default-Portrait was not found"));
  EXPECT_TRUE(covered()) << "the empty image view and the spinner still cover the page";
}

TEST_F(SplashScreen, SpinnerStyleAndVisibilityFollowThePreferences) {
  struct Case {
    Value indicator;
    Value showSpinner;
    plat::UIActivityIndicatorViewStyle style;
    bool shown;
  };
  const Case cases[] = {
      {Value(), Value(), plat::UIActivityIndicatorViewStyleGray, true},
      {Value("whiteLarge"), Value(true), plat::UIActivityIndicatorViewStyleWhiteLarge, true},
      {Value("white"), Value("true"), plat::UIActivityIndicatorViewStyleWhite, true},
      {Value("purple"), Value("false"), plat::UIActivityIndicatorViewStyleGray, false},
  };
  for (const auto& c : cases) {
    controller->mutableSettings() = {};
    if (!c.indicator.isAbsent()) setting("TopActivityIndicator", c.indicator);
    if (!c.showSpinner.isAbsent()) setting("ShowSplashScreenSpinner", c.showSpinner);
    start();
    EXPECT_EQ(plugin->activityView()->activityIndicatorViewStyle(), c.style);
    EXPECT_EQ(plugin->activityView()->superview() != nullptr, c.shown);
    EXPECT_FALSE(container->view()->isUserInteractionEnabled()) << "no touches either way";
    plugin->destroyViews();
    plugin.reset();
  }
}

TEST_F(SplashScreen, HideWaitsInWholeSecondsThenFades) {
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, Value>> settings;
    bool byAction;      // the hide action rather than a page load
    double wait, fade;  // seconds
  };
  const Case cases[] = {
      {"page load, defaults", {}, false, 0, 3},
      {"hide action, defaults", {}, true, 3, 3},
      {"delay shorter than the fade", {{"SplashScreenDelay", Value(1000)}}, false, 0, 3},
      {"negative delay", {{"SplashScreenDelay", Value(-5000)}}, false, 0, 3},
      {"2.5 s wait truncated", {{"SplashScreenDelay", Value(5500)}}, false, 2, 3},
      {"fade below 30 is seconds", {{"FadeSplashScreenDuration", Value(2)}}, false, 1, 2},
      {"29.9 is 29900 ms", {{"FadeSplashScreenDuration", Value("29.9")}}, true, 29, 29.9},
      {"30 is milliseconds", {{"FadeSplashScreenDuration", Value(30)}}, false, 2, 0.03},
      {"no fade", {{"FadeSplashScreen", Value("false")}}, false, 3, 0},
      {"no auto hide, hide waits the fade", {{"AutoHideSplashScreen", Value(false)}}, true, 3, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    controller->mutableSettings() = {};
    for (const auto& [name, value] : c.settings) setting(name, value);
    start();
    ASSERT_TRUE(covered());
    if (c.byAction) {
      exec("SplashScreen", "hide");
    } else {
      pageLoaded();
    }
    if (c.wait > 0) {
      advance(c.wait - 0.01);
      EXPECT_EQ(plugin->imageView()->alpha(), 1) << "still waiting";
      advance(0.01);
    }
    if (c.fade > 0) {
      ASSERT_TRUE(covered()) << "fading";
      EXPECT_EQ(plugin->imageView()->alpha(), 0);
      EXPECT_EQ(plugin->activityView()->alpha(), 0);
      advance(c.fade - 0.001);
      EXPECT_TRUE(covered());
      advance(0.001);
    }
    EXPECT_FALSE(covered());
    EXPECT_TRUE(plugin->isDestroyed());
    EXPECT_EQ(takeCallbacks().size(), 0u) << "the actions never answer";
    plugin.reset();
  }
}

TEST_F(SplashScreen, WithoutFadeAndAutoHideHideRemovesAtOnceAndPageLoadsLeaveItUp) {
  setting("FadeSplashScreen", Value(false));
  setting("AutoHideSplashScreen", Value(false));
  start();
  pageLoaded();
  advance(60);
  EXPECT_TRUE(covered()) << "no automatic hide";
  exec("SplashScreen", "hide");
  EXPECT_FALSE(covered()) << "no wait and no animation";
}

TEST_F(SplashScreen, ShowDuringAFadeKeepsTheSplashAndAStaleHideDoesNothing) {
  start();
  pageLoaded();  // fades from now for 3 s
  ASSERT_EQ(plugin->imageView()->alpha(), 0);
  exec("SplashScreen", "show");
  EXPECT_TRUE(plugin->isVisible());
  EXPECT_EQ(plugin->imageView()->alpha(), 1) << "the splash comes back whole";
  advance(10);
  EXPECT_TRUE(covered()) << "the fade that was running no longer removes it";

  // A hide that is still waiting when the splash is shown again and rebuilt is stale too.
  exec("SplashScreen", "hide");  // waits 3 s
  plugin->destroyViews();
  exec("SplashScreen", "show");
  ASSERT_TRUE(covered());
  advance(10);
  EXPECT_TRUE(covered());
  EXPECT_EQ(plugin->imageView()->alpha(), 1);

  pageLoaded();
  advance(3);
  EXPECT_FALSE(covered()) << "a fresh hide still works";
}

TEST_F(SplashScreen, ShowWhileShownDoesNothingAndHideWhileHiddenRunsTheHidePathAgain) {
  start();
  auto image = plugin->imageView();
  exec("SplashScreen", "show");
  EXPECT_EQ(plugin->imageView(), image);
  pageLoaded();
  advance(3);
  ASSERT_FALSE(covered());
  exec("SplashScreen", "hide");
  advance(6);
  EXPECT_FALSE(covered());
  exec("SplashScreen", "show");
  EXPECT_TRUE(covered()) << "built again";
}

TEST_F(SplashScreen, ImageFillsTheViewKeepingItsAspectAndTurnsOnLandscapePhones) {
  launchImage("Default-667h@2x.png", 400, 400);  // 200 x 200 points
  start();
  EXPECT_EQ(plugin->imageView()->frame(), CGRectMake(0, 0, 667, 667)) << "scaled by the view's limiting side";
  EXPECT_EQ(plugin->imageView()->transform(), plat::CGAffineTransformIdentity);

  plat::UIApplication::sharedApplication()->setStatusBarOrientation(plat::UIInterfaceOrientationLandscapeRight);
  plugin->updateBounds();
  auto t = plugin->imageView()->transform();
  EXPECT_NEAR(t.b, 1, 1e-12) << "a quarter turn";
  EXPECT_NEAR(t.a, 0, 1e-12);

  // The parent's frame changing re-picks and re-places the image.
  container->view()->setFrame(CGRectMake(0, 0, 100, 50));
  EXPECT_EQ(plugin->imageView()->frame(), CGRectMake(0, 0, 100, 100));
  // A view with no height has no aspect: the image keeps its size rather than dividing by zero.
  container->view()->setFrame(CGRectMake(0, 0, 100, 0));
  EXPECT_EQ(plugin->imageView()->frame(), CGRectMake(0, 0, 200, 200));
  for (double v : {plugin->imageView()->frame().width(), plugin->imageView()->frame().height()})
    EXPECT_TRUE(std::isfinite(v));
}
