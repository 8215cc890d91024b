#include <gtest/gtest.h>

#include "plat/testing/PlatformTest.h"
#include "plat/uikit/UIScreen.h"
#include "plat/uikit/UIWindow.h"

using namespace plat;

class UIKitViews : public plat::testing::PlatformTest {};

TEST_F(UIKitViews, HierarchyOrderAndAutoresizing) {
  auto parent = std::make_shared<UIView>();
  parent->initWithFrame(CGRectMake(0, 0, 100, 100));
  auto a = std::make_shared<UIView>(), b = std::make_shared<UIView>();
  a->initWithFrame(parent->bounds());
  a->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  b->initWithFrame(CGRectMake(0, 0, 10, 10));
  parent->addSubview(a);
  parent->addSubview(b);
  parent->sendSubviewToBack(b);
  EXPECT_EQ(parent->subviews(), (std::vector<UIViewPtr>{b, a}));
  parent->setFrame(CGRectMake(0, 0, 200, 50));
  EXPECT_EQ(a->frame(), CGRectMake(0, 0, 200, 50));
  EXPECT_EQ(b->frame(), CGRectMake(0, 0, 10, 10)) << "fixed size";

  // Moving a view to another parent takes it out of the first.
  auto other = std::make_shared<UIView>();
  other->addSubview(a);
  EXPECT_EQ(parent->subviews(), std::vector<UIViewPtr>{b});
  EXPECT_EQ(a->superview(), other);
  a->removeFromSuperview();
  EXPECT_TRUE(other->subviews().empty());
  EXPECT_EQ(a->superview(), nullptr);
}

namespace {
struct CountingController : UIViewController {
  int loads = 0, appears = 0;
  void viewDidLoad() override { ++loads; }
  void viewWillAppear(bool) override { ++appears; }
};
}  // namespace

TEST_F(UIKitViews, ViewLoadsOnceAndWindowShowsItsRoot) {
  auto window = std::make_shared<UIWindow>();
  window->initWithFrame(UIScreen::mainScreen().bounds());
  auto root = std::make_shared<CountingController>();
  EXPECT_FALSE(root->isViewLoaded());
  window->setRootViewController(root);
  window->makeKeyAndVisible();
  root->view();
  EXPECT_EQ(root->loads, 1);
  EXPECT_EQ(root->appears, 1);
  EXPECT_EQ(window->subviews().front(), root->view());
  EXPECT_EQ(root->view()->frame(), window->bounds());
}

TEST_F(UIKitViews, PresentationIsOneAtATimeWithCompletionsOnALaterTurn) {
  auto root = std::make_shared<UIViewController>();
  auto first = std::make_shared<UIViewController>(), second = std::make_shared<UIViewController>();
  int completions = 0;
  EXPECT_TRUE(root->presentViewController(first, true, [&] { ++completions; }));
  EXPECT_FALSE(root->presentViewController(second, true, [&] { ++completions; }));
  EXPECT_EQ(completions, 0);
  runUntilIdle();
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(first->presentingViewController(), root);
  first->dismissViewControllerAnimated(true, [&] { ++completions; });
  runUntilIdle();
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(completions, 2);
  EXPECT_TRUE(root->presentViewController(second, false, nullptr));
}
