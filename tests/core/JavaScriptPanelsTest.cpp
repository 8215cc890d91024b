// The page's own alert, confirm and prompt as native alerts: under the UIWebView engine too, and
// over an alert that is already on screen.
#include <gtest/gtest.h>

#include "support/WindowDelegate.h"
#include "EngineFixture.h"
#include "HBRJavaScriptPanels.h"
#include "HBRUIWebViewEngine.h"
#include "plat/foundation/NSBundle.h"
#include "plat/uikit/UIAlertController.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIWindow.h"

using namespace harbor;
using namespace harbor::testing;

namespace {

using harbor::testing::WindowDelegate;

class JavaScriptPanelsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    writeInfoPlist(plat::Dictionary{{"CFBundleIdentifier", kBundleIdentifier}, {"CFBundleDisplayName", "My App"}});
    appDelegate_ = std::make_shared<WindowDelegate>();
    plat::UIApplication::sharedApplication()->setDelegate(appDelegate_);
    engine_ = std::make_shared<HBRUIWebViewEngine>();
    engine_->initWithFrame(plat::CGRectZero);
    engine_->uiWebView()->loadHTMLString("<p>", nullptr);
    runUntilIdle();
  }
  void TearDown() override {
    engine_.reset();
    EngineTest::TearDown();
  }
  std::string evaluate(const std::string& script) {
    std::string out = "<no answer>";
    engine_->evaluateJavaScript(script, [&](const plat::Value& v, const std::optional<plat::NSError>&) {
      out = v.stringOr("<not text>");
    });
    return out;
  }
  std::shared_ptr<WindowDelegate> appDelegate_;
  std::shared_ptr<HBRUIWebViewEngine> engine_;
};

}  // namespace

TEST_F(JavaScriptPanelsTest, TheUIWebViewEnginesDialogsAreNativeAlertsAnsweredByTheDriver) {
  struct Case {
    std::size_t button;
    const char* typed;  // null: nothing typed
    const char* result;
  } cases[] = {
      {0, nullptr, "undefined true def"},
      {0, "Ada", "undefined true Ada"},
      {0, "", "undefined true "},
      {1, "Ada", "undefined false null"},
  };
  for (const Case& c : cases) {
    plat::UIDriver::AutoAnswer answer;
    answer.buttonIndex = c.button;
    if (c.typed) answer.text = c.typed;
    std::vector<std::string> seen;
    plat::UIDriver::shared().setObserver([&](const plat::UIDrivenAlert& alert) {
      std::string line = alert.alertTitle().value_or("-") + "|" + alert.alertMessage().value_or("-") + "|";
      for (const std::string& b : alert.buttonTitles()) line += b + ",";
      if (alert.textFieldCount()) line += "|" + alert.textFieldText(0).value_or("-");
      seen.push_back(line);
    });
    plat::UIDriver::shared().setAutoAnswer(answer);
    EXPECT_EQ(evaluate("String(alert('hi')) + ' ' + String(confirm('go?')) + ' ' + String(prompt('name?', 'def'))"),
              c.result);
    EXPECT_EQ(seen, (std::vector<std::string>{"My App|hi|OK,", "My App|go?|OK,Cancel,", "My App|name?|OK,Cancel,|def"}));
    runUntilIdle();
    EXPECT_EQ(plat::UIDriver::shared().alertCount(), 0u) << "each one dismissed";
  }
  EXPECT_FALSE(log_->contains("Nobody answered"));
}

TEST_F(JavaScriptPanelsTest, APanelOpenedOverAnotherAlertStandsOnTopOfIt) {
  // A plugin's alert is on screen and nobody has answered it.
  auto root = appDelegate_->window()->rootViewController();
  auto pluginAlert = plat::UIAlertController::alertControllerWithTitle(std::string("Plugin"), std::string("wait"),
                                                                       plat::UIAlertControllerStyle::Alert);
  std::vector<std::string> answers;
  pluginAlert->addAction(plat::UIAlertAction::actionWithTitle(std::string("OK"), plat::UIAlertActionStyle::Default,
                                                              [&](plat::UIAlertAction&) { answers.push_back("plugin"); }));
  ASSERT_TRUE(root->presentViewController(pluginAlert, false, nullptr));
  runUntilIdle();
  ASSERT_EQ(plat::UIDriver::shared().alertCount(), 1u);

  // The page's confirm goes over it and is answered first, as the user would have to.
  plat::UIDriver::shared().setAutoAnswer(plat::UIDriver::AutoAnswer{});
  EXPECT_EQ(evaluate("String(confirm('sure?'))"), "true");
  EXPECT_FALSE(log_->contains("cannot be shown"));
  runUntilIdle();
  EXPECT_EQ(answers, std::vector<std::string>{"plugin"}) << "then the one below";
  EXPECT_EQ(plat::UIDriver::shared().alertCount(), 0u);
}

TEST_F(JavaScriptPanelsTest, WithNowhereToShowThemThePageGetsTheCancelAnswers) {
  plat::UIApplication::sharedApplication()->setDelegate(nullptr);
  plat::UIDriver::shared().setAutoAnswer(plat::UIDriver::AutoAnswer{});
  EXPECT_EQ(evaluate("String(alert('hi')) + ' ' + String(confirm('go?')) + ' ' + String(prompt('name?', 'def'))"),
            "undefined false null");
  EXPECT_EQ(log_->count("The page's dialog cannot be shown"), 3u);
}

TEST_F(JavaScriptPanelsTest, ThePanelTitleIsTheDisplayNameWhenThereIsOne) {
  EXPECT_EQ(HBRJavaScriptPanelTitle(), "My App");
  writeInfoPlist(plat::Dictionary{{"CFBundleIdentifier", kBundleIdentifier}, {"CFBundleDisplayName", 7}});
  EXPECT_EQ(HBRJavaScriptPanelTitle(), std::nullopt);
}
