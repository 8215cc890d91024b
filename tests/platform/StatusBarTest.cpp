// The status bar of the simulated device: its frame by orientation, announcements when it hides,
// the application frame, appearance chosen by the view controller, taps, and the observation
// of view frames that the splash screen relies on.
#include <gtest/gtest.h>

#include "plat/foundation/NSNotificationCenter.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIImage.h"
#include "plat/uikit/UIScreen.h"
#include "plat/uikit/UIScrollView.h"
#include "plat/uikit/UIWindow.h"

using namespace plat;

namespace {

class StatusBar : public plat::testing::SandboxTest {
 protected:
  UIApplicationPtr app = nullptr;
  void SetUp() override {
    SandboxTest::SetUp();
    app = UIApplication::sharedApplication();
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 320, 480));
  }
};

struct WindowOnly : Object, UIApplicationDelegate {
  std::shared_ptr<UIWindow> window_ = std::make_shared<UIWindow>();
  std::shared_ptr<UIWindow> window() const override { return window_; }
};

struct Answering : UIScrollViewDelegate {
  bool answer = false;
  int asked = 0;
  bool scrollViewShouldScrollToTop(UIScrollView&) override {
    ++asked;
    return answer;
  }
};

}  // namespace

TEST_F(StatusBar, FrameFollowsTheInterfaceOnAScreenThatDoesNotTurn) {
  const std::pair<UIInterfaceOrientation, CGRect> cases[] = {
      {UIInterfaceOrientationPortrait, CGRectMake(0, 0, 320, 20)},
      {UIInterfaceOrientationPortraitUpsideDown, CGRectMake(0, 460, 320, 20)},
      {UIInterfaceOrientationLandscapeLeft, CGRectMake(0, 0, 20, 480)},
      {UIInterfaceOrientationLandscapeRight, CGRectMake(0, 0, 20, 480)},
  };
  for (const auto& [orientation, frame] : cases) {
    app->setStatusBarOrientation(orientation);
    EXPECT_EQ(app->statusBarFrame(), frame) << orientation;
  }
  app->setStatusBarOrientation(UIInterfaceOrientationPortrait);
  EXPECT_EQ(UIScreen::mainScreen().applicationFrame(), CGRectMake(0, 20, 320, 460));
  app->setStatusBarHidden(true);
  EXPECT_EQ(app->statusBarFrame(), CGRectZero);
  EXPECT_EQ(UIScreen::mainScreen().applicationFrame(), CGRectMake(0, 0, 320, 480));
}

TEST_F(StatusBar, HidingIsAnnouncedOnceToObserversAndAsAFrameChange) {
  std::vector<Value> seen;
  int frameChanges = 0;
  int token = 0;
  app->addObserverForKeyPath(&token, "statusBarHidden",
                             [&](const std::string&, const Value& hidden) { seen.push_back(hidden); });
  auto observer = std::make_shared<int>();
  NSNotificationCenter::defaultCenter().addObserver(observer, UIApplicationDidChangeStatusBarFrameNotification,
                                                    nullptr, [&](const NSNotification&) { ++frameChanges; });
  app->setStatusBarHidden(true);
  app->setStatusBarHidden(true);
  app->setStatusBarHidden(false);
  app->setStatusBarOrientation(UIInterfaceOrientationLandscapeLeft);
  EXPECT_EQ(seen, (std::vector<Value>{Value(true), Value(false)}));
  EXPECT_EQ(frameChanges, 3);
  app->removeObserverForKeyPath(&token, "statusBarHidden");
  app->setStatusBarHidden(true);
  EXPECT_EQ(seen.size(), 2u);
  NSNotificationCenter::defaultCenter().removeObserver(observer.get());
}

TEST_F(StatusBar, AnObserverRemovedDuringAnAnnouncementIsNotCalledAgain) {
  auto view = std::make_shared<UIView>();
  int first = 0, second = 0, calls = 0;
  view->addObserverForKeyPath(&first, "frame", [&](const std::string&, const Value&) {
    ++calls;
    view->removeObserverForKeyPath(&second, "frame");
  });
  view->addObserverForKeyPath(&second, "frame", [&](const std::string&, const Value&) { calls += 100; });
  view->setFrame(CGRectMake(0, 0, 10, 10));
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(view->isObserved(&second, "frame"));
  view->setFrame(CGRectMake(0, 0, 10, 10));
  EXPECT_EQ(calls, 1) << "an unchanged frame is not announced";
}

TEST_F(StatusBar, ViewControllersChooseTheLookOnlyWhenInfoPlistLetsThem) {
  struct Chooser : UIViewController {
    bool prefersStatusBarHidden() const override { return true; }
    long preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }
  };
  auto chooser = std::make_shared<Chooser>();
  for (bool allowed : {false, true}) {
    writeInfoPlist(Dictionary{{"CFBundleIdentifier", "org.harbor.tests"},
                              {"UIViewControllerBasedStatusBarAppearance", allowed}});
    chooser->setNeedsStatusBarAppearanceUpdate();
    EXPECT_EQ(app->isStatusBarHidden(), allowed);
    EXPECT_EQ(app->statusBarStyle(), allowed ? UIStatusBarStyleLightContent : UIStatusBarStyleDefault);
  }
}

TEST_F(StatusBar, ATapScrollsTheOneScrollViewThatAsksForItIfItsDelegateAgrees) {
  auto delegate = std::make_shared<WindowOnly>();
  app->setDelegate(delegate);
  auto first = std::make_shared<UIScrollView>(), second = std::make_shared<UIScrollView>();
  first->setContentOffset({0, 50});
  delegate->window_->addSubview(first);
  delegate->window_->addSubview(second);
  EXPECT_FALSE(UIDriver::shared().tapStatusBar()) << "two candidates: the platform cannot tell which";

  second->setScrollsToTop(false);
  auto answering = std::make_shared<Answering>();
  first->setDelegate(answering);
  EXPECT_TRUE(UIDriver::shared().tapStatusBar());
  EXPECT_EQ(answering->asked, 1);
  EXPECT_EQ(first->contentOffset().y, 50) << "the delegate said no";
  answering->answer = true;
  EXPECT_TRUE(UIDriver::shared().tapStatusBar());
  EXPECT_EQ(first->contentOffset().y, 0);

  app->setStatusBarHidden(true);
  EXPECT_FALSE(UIDriver::shared().tapStatusBar()) << "no bar to tap";
}

TEST_F(StatusBar, NamedImagesPreferTheScreensScale) {
  auto pngOf = [](std::size_t w, std::size_t h) {
    Data png = UIImagePNGRepresentation(*UIImage::imageWithCGImage(CGImageCreateBlank(w, h)));
    return std::string(reinterpret_cast<const char*>(png.data()), png.size());
  };
  writeFile(bundlePath() + "/Splash.png", pngOf(10, 10));
  writeFile(bundlePath() + "/Splash@2x.png", pngOf(40, 40));
  writeFile(bundlePath() + "/Other.png", pngOf(8, 6));
  auto image = UIImage::imageNamed("Splash");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), (CGSize{20, 20}));
  EXPECT_EQ(image->name(), "Splash");
  ASSERT_TRUE(UIImage::imageNamed("Other"));
  EXPECT_EQ(UIImage::imageNamed("Other")->size(), (CGSize{8, 6}));
  EXPECT_TRUE(UIImage::imageNamed("Other.png"));
  for (const char* missing : {"", "Nothing", "../../../../../../etc/hostname"}) EXPECT_FALSE(UIImage::imageNamed(missing)) << missing;
}
