// The application shell: AppDelegate and MainViewController started through the platform's
// application main loop on a fixture bundle, as the harbor executable starts them.
#include <gtest/gtest.h>

#include "AppClasses.h"
#include "AppDelegate.h"
#include "MainViewController.h"
#include "core/ViewControllerFixture.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/uikit/UIApplication.h"

namespace harbor::testing {
namespace {

class AppShellTest : public ViewControllerTest {
 protected:
  void SetUp() override {
    ViewControllerTest::SetUp();
    registerAppClasses();
  }
  void TearDown() override {
    AppDelegate::setContainerConfigurator(nullptr);
    for (const char* name : {"AppDelegate", "MainViewController", "MainCommandDelegate", "MainCommandQueue"})
      plat::ClassRegistry::shared().unregisterClass(name);
    plat::UIApplication::resetSharedApplication();
    ViewControllerTest::TearDown();
  }
};

TEST_F(AppShellTest, MainRunsTheAppDelegateUntilTerminatedAndTearsTheContainerDown) {
  writeConfig("<feature name=\"Counter\"><param name=\"ios-package\" value=\"CountingPlugin\" onload=\"true\"/></feature>");
  writeFile(plat::NSTemporaryDirectory() + "left/over.txt", "x");
  std::vector<std::string> journal;
  CountingPlugin::journal = &journal;
  std::weak_ptr<HBRViewController> container;
  std::shared_ptr<RecordingWebViewEngine> engine;
  plat::RunLoop::main().post([&] {
    auto app = plat::UIApplication::sharedApplication();
    auto delegate = std::dynamic_pointer_cast<AppDelegate>(app->delegate());
    ASSERT_TRUE(delegate);
    container = delegate->viewController();
    engine = engineOf(delegate->viewController());
    app->terminate();
  });

  EXPECT_EQ(plat::UIApplicationMain(0, nullptr, std::nullopt, std::string("AppDelegate")), 0);
  EXPECT_TRUE(container.expired()) << "the container went with the delegate";
  EXPECT_EQ(journal, (std::vector<std::string>{"pluginInitialize", "dispose"}));
  ASSERT_TRUE(engine);
  EXPECT_EQ(engine->requests.size(), 1u);
  auto left = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(plat::NSTemporaryDirectory());
  ASSERT_TRUE(left);
  EXPECT_TRUE(left->empty()) << "termination emptied tmp";
  EXPECT_TRUE(log_->contains("Harbor native platform version 4.2.0 is starting."));
}

TEST_F(AppShellTest, TheDelegateMakesAMainViewControllerWithABlackWebView) {
  writeConfig("");
  std::vector<std::string> configured;
  AppDelegate::setContainerConfigurator([&](MainViewController& controller) {
    configured.push_back("configured");
    EXPECT_FALSE(controller.isViewLoaded()) << "before the view loads";
  });
  auto delegate = std::make_shared<AppDelegate>();
  delegate->init();
  auto app = plat::UIApplication::sharedApplication();
  EXPECT_TRUE(app->launchWithDelegate(delegate));
  EXPECT_EQ(configured.size(), 1u);
  auto controller = std::dynamic_pointer_cast<MainViewController>(delegate->viewController());
  ASSERT_TRUE(controller);
  EXPECT_EQ(delegate->window()->rootViewController(), controller);
  auto engine = engineOf(controller);
  ASSERT_TRUE(engine);
  EXPECT_EQ(engine->view()->backgroundColor(), plat::UIColor::blackColor());
}

TEST_F(AppShellTest, PreferenceOverridesChooseTheEngine) {
  writeConfig("<preference name=\"HarborWebViewEngine\" value=\"HBRUIWebViewEngine\"/>");
  RecordingWebViewEngine::registerAs("HBRWKWebViewEngine");
  AppDelegate::setContainerConfigurator([](MainViewController& controller) {
    controller.setPreferenceOverrides(plat::Dictionary{{"HarborWebViewEngine", "HBRWKWebViewEngine"}});
  });
  auto delegate = std::make_shared<AppDelegate>();
  delegate->init();
  plat::UIApplication::sharedApplication()->launchWithDelegate(delegate);
  auto controller = delegate->viewController();
  EXPECT_EQ(controller->settings().get("harborwebviewengine"), plat::Value("HBRWKWebViewEngine"));
  EXPECT_EQ(controller->pluginObjects().count("HBRWKWebViewEngine"), 1u);
  EXPECT_EQ(controller->pluginObjects().count("HBRUIWebViewEngine"), 0u);
}

TEST_F(AppShellTest, TheShellClassesAreKnownByName) {
  for (const char* name : {"AppDelegate", "MainViewController", "MainCommandDelegate", "MainCommandQueue"})
    EXPECT_TRUE(plat::ClassRegistry::shared().create(name)) << name;
}

}  // namespace
}  // namespace harbor::testing
