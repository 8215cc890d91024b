// Presentation of view controllers, alert controllers and alert views answered through the UI
// driver, and the general pasteboard.
#include <gtest/gtest.h>

#include "plat/testing/PlatformTest.h"
#include "plat/uikit/UIAlertController.h"
#include "plat/uikit/UIAlertView.h"
#include "plat/uikit/UIDriver.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/uikit/UIPasteboard.h"

using namespace plat;

namespace {

class UIKitTest : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    UIDriver::shared().reset();
    root = std::make_shared<UIViewController>();
  }
  void TearDown() override {
    UIDriver::shared().reset();
    PlatformTest::TearDown();
  }
  std::shared_ptr<UIAlertController> alert(const std::string& title, std::vector<std::string> buttons,
                                           std::vector<std::string>* taps) {
    auto a = UIAlertController::alertControllerWithTitle(title, "message", UIAlertControllerStyle::Alert);
    for (const auto& b : buttons)
      a->addAction(UIAlertAction::actionWithTitle(b, UIAlertActionStyle::Default, [taps, title](UIAlertAction& act) {
        taps->push_back(title + ":" + *act.title());
      }));
    return a;
  }
  std::shared_ptr<UIViewController> root;
};

}  // namespace

TEST_F(UIKitTest, PresentationCompletesOnALaterTurnAndRefusesASecondPresenter) {
  auto first = std::make_shared<UIViewController>();
  auto second = std::make_shared<UIViewController>();
  int completed = 0;
  ASSERT_TRUE(root->presentViewController(first, true, [&] { ++completed; }));
  EXPECT_EQ(root->presentedViewController(), first);
  EXPECT_EQ(first->presentingViewController(), root);
  EXPECT_TRUE(first->isBeingPresented());
  EXPECT_EQ(completed, 0);

  // Still being presented: refused, and the refused completion never runs.
  EXPECT_FALSE(root->presentViewController(second, true, [&] { completed += 100; }));
  EXPECT_FALSE(first->presentViewController(second, true, [&] { completed += 100; }));
  runUntilIdle();
  EXPECT_EQ(completed, 1);
  EXPECT_FALSE(first->isBeingPresented());

  EXPECT_FALSE(root->presentViewController(second, true, nullptr)) << "already presenting";
  EXPECT_FALSE(second->presentViewController(first, true, nullptr)) << "already presented elsewhere";
  EXPECT_FALSE(root->presentViewController(root, true, nullptr));
  EXPECT_FALSE(root->presentViewController(nullptr, true, nullptr));
  EXPECT_TRUE(log_->contains("Warning: Attempt to present"));

  ASSERT_TRUE(first->presentViewController(second, false, nullptr));
  runUntilIdle();
  // Dismissing the first takes the second with it.
  int dismissed = 0;
  root->dismissViewControllerAnimated(true, [&] { ++dismissed; });
  EXPECT_TRUE(first->isBeingDismissed());
  runUntilIdle();
  EXPECT_EQ(dismissed, 1);
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(first->presentedViewController(), nullptr);
  EXPECT_EQ(second->presentingViewController(), nullptr);
}

TEST_F(UIKitTest, APresentationDuringADismissalWaitsForIt) {
  auto first = std::make_shared<UIViewController>();
  auto next = std::make_shared<UIViewController>();
  root->presentViewController(first, false, nullptr);
  runUntilIdle();
  root->dismissViewControllerAnimated(true, nullptr);
  int completed = 0;
  EXPECT_TRUE(root->presentViewController(next, true, [&] { ++completed; }));
  EXPECT_EQ(root->presentedViewController(), first) << "the dismissal is not over yet";
  runUntilIdle();
  EXPECT_EQ(root->presentedViewController(), next);
  EXPECT_EQ(completed, 1);
}

TEST_F(UIKitTest, AnAlertIsAnsweredThroughTheDriverAndItsHandlerRunsAfterItLeaves) {
  std::vector<std::string> taps;
  auto a = alert("A", {"OK", "Cancel"}, &taps);
  a->addTextFieldWithConfigurationHandler([](UITextField& f) { f.setText("default"); });
  EXPECT_EQ(UIDriver::shared().alertCount(), 0u);
  EXPECT_FALSE(a->tapButton(0)) << "not on screen";
  root->presentViewController(a, true, nullptr);
  runUntilIdle();

  auto& driver = UIDriver::shared();
  ASSERT_EQ(driver.alertCount(), 1u);
  auto top = driver.topAlert();
  EXPECT_EQ(top->alertTitle(), "A");
  EXPECT_EQ(top->alertMessage(), "message");
  EXPECT_EQ(top->buttonTitles(), (std::vector<std::string>{"OK", "Cancel"}));
  EXPECT_EQ(top->textFieldText(0), "default");
  EXPECT_TRUE(driver.setTextFieldText(0, "typed"));
  EXPECT_FALSE(driver.setTextFieldText(1, "no such field"));
  EXPECT_EQ(a->textFields()[0]->text(), "typed");

  EXPECT_FALSE(driver.tapButton(2));
  EXPECT_TRUE(driver.tapButton(1));
  EXPECT_FALSE(a->tapButton(0)) << "answered already";
  EXPECT_TRUE(taps.empty()) << "the handler waits for the alert to leave";
  runUntilIdle();
  EXPECT_EQ(taps, std::vector<std::string>{"A:Cancel"});
  EXPECT_EQ(driver.alertCount(), 0u);
  EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(UIKitTest, OnlyTheTopmostOfStackedAlertsCanBeTapped) {
  std::vector<std::string> taps;
  auto a = alert("A", {"OK"}, &taps);
  auto b = alert("B", {"OK"}, &taps);
  root->presentViewController(a, true, nullptr);
  runUntilIdle();
  a->presentViewController(b, true, nullptr);
  runUntilIdle();
  auto& driver = UIDriver::shared();
  ASSERT_EQ(driver.alertCount(), 2u);
  EXPECT_EQ(driver.topAlert()->alertTitle(), "B");
  EXPECT_TRUE(driver.tapButton(0));
  runUntilIdle();
  EXPECT_EQ(driver.topAlert()->alertTitle(), "A");
  EXPECT_TRUE(driver.tapButton(0));
  runUntilIdle();
  EXPECT_EQ(taps, (std::vector<std::string>{"B:OK", "A:OK"}));
}

TEST_F(UIKitTest, AlertControllerRules) {
  auto sheet =
      UIAlertController::alertControllerWithTitle(std::nullopt, std::nullopt, UIAlertControllerStyle::ActionSheet);
  sheet->addTextFieldWithConfigurationHandler(nullptr);
  EXPECT_TRUE(sheet->textFields().empty());
  sheet->addAction(UIAlertAction::actionWithTitle("a", UIAlertActionStyle::Cancel, nullptr));
  sheet->addAction(UIAlertAction::actionWithTitle("b", UIAlertActionStyle::Cancel, nullptr));
  EXPECT_EQ(sheet->actions().size(), 1u);
  EXPECT_TRUE(log_->contains("only have one action with a style of UIAlertActionStyleCancel"));

  std::vector<std::string> taps;
  auto a = alert("A", {"off", "on"}, &taps);
  a->actions()[0]->setEnabled(false);
  root->presentViewController(a, true, nullptr);
  runUntilIdle();
  EXPECT_FALSE(UIDriver::shared().tapButton(0)) << "a disabled button does nothing";
  EXPECT_TRUE(UIDriver::shared().tapButton(1));
  runUntilIdle();
  EXPECT_EQ(taps, std::vector<std::string>{"A:on"});
}

TEST_F(UIKitTest, TheAutomaticAnswerTapsTheChosenButtonTopmostFirst) {
  struct Case {
    UIDriver::AutoAnswer answer;
    std::vector<std::string> taps;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {{}, {"B:one", "A:one"}, "default"},
      {{1, "typed"}, {"B:two", "A:two"}, "typed"},
      {{9, std::nullopt}, {"B:three", "A:three"}, "default"},  // past the end: the last button
  };
  for (const auto& c : cases) {
    std::vector<std::string> taps;
    std::vector<std::string> seen;
    UIDriver::shared().setAutoAnswer(c.answer);
    UIDriver::shared().setObserver([&](const UIDrivenAlert& alert) { seen.push_back(*alert.alertTitle()); });
    auto a = alert("A", {"one", "two", "three"}, &taps);
    auto b = alert("B", {"one", "two", "three"}, &taps);
    b->addTextFieldWithConfigurationHandler([](UITextField& f) { f.setText("default"); });
    root->presentViewController(a, true, [&] { a->presentViewController(b, true, nullptr); });
    runUntilIdle();
    EXPECT_EQ(taps, c.taps);
    EXPECT_EQ(seen, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(b->textFields()[0]->text(), c.text);
    EXPECT_EQ(UIDriver::shared().alertCount(), 0u);
    UIDriver::shared().reset();
  }
}

TEST_F(UIKitTest, AlertViewsTellTheirDelegate) {
  struct Delegate : UIAlertViewDelegate {
    std::vector<std::string> calls;
    void alertViewClickedButtonAtIndex(UIAlertView& v, std::int64_t i) override {
      calls.push_back("clicked " + std::to_string(i) + " " + v.textFieldAtIndex(0)->text().value_or("(nil)"));
    }
    void alertViewDidDismissWithButtonIndex(UIAlertView&, std::int64_t i) override {
      calls.push_back("dismissed " + std::to_string(i));
    }
  };
  auto delegate = std::make_shared<Delegate>();
  std::weak_ptr<UIAlertView> weakView;
  {
    auto view = std::make_shared<UIAlertView>();
    view->initWithTitle("T", "M", delegate, "Cancel", {"One"});
    EXPECT_EQ(view->addButtonWithTitle("Two"), 2);
    EXPECT_EQ(view->cancelButtonIndex(), 0);
    view->setAlertViewStyle(UIAlertViewStyle::PlainTextInput);
    EXPECT_EQ(view->textFieldAtIndex(1), nullptr);
    view->show();
    weakView = view;
  }
  auto& driver = UIDriver::shared();
  ASSERT_EQ(driver.alertCount(), 1u) << "the driver keeps it alive while it is on screen";
  EXPECT_EQ(driver.topAlert()->buttonTitles(), (std::vector<std::string>{"Cancel", "One", "Two"}));
  EXPECT_EQ(driver.topAlert()->textFieldText(0), std::nullopt);
  driver.setTextFieldText(0, "hello");
  EXPECT_TRUE(driver.tapButton(2));
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"clicked 2 hello", "dismissed 2"}));
  EXPECT_EQ(driver.alertCount(), 0u);
  EXPECT_TRUE(weakView.expired());

  auto login = std::make_shared<UIAlertView>();
  login->setAlertViewStyle(UIAlertViewStyle::LoginAndPasswordInput);
  ASSERT_EQ(login->textFieldCount(), 2u);
  EXPECT_FALSE(login->textFieldAtIndex(0)->isSecureTextEntry());
  EXPECT_TRUE(login->textFieldAtIndex(1)->isSecureTextEntry());
  EXPECT_FALSE(login->tapButton(0)) << "not shown";
}

// With a system clipboard behind it, the general pasteboard's text is the clipboard's: what
// another program copied is read, what is copied here is written there, and emptying the
// pasteboard leaves the clipboard empty for it too (a clipboard can be taken, not emptied).
using UIPasteboardClipboardTest = plat::testing::PlatformTest;

TEST_F(UIPasteboardClipboardTest, ASystemClipboardHoldsTheGeneralPasteboardsText) {
  std::optional<std::string> clipboard;
  std::vector<std::string> written;
  UIPasteboard::setSystemClipboard(UIPasteboard::SystemClipboard{
      [&] { return clipboard; }, [&](const std::string& text) { written.push_back(text); clipboard = text; }});
  auto pb = UIPasteboard::generalPasteboard();
  UIPasteboard::resetGeneralPasteboard();
  written.clear();

  clipboard = "copied elsewhere";
  EXPECT_EQ(pb->string(), "copied elsewhere");
  EXPECT_EQ(pb->valueForPasteboardType(kUTTypeUTF8PlainText), Value("copied elsewhere"));
  auto before = pb->changeCount();
  EXPECT_EQ(pb->string(), "copied elsewhere");
  EXPECT_EQ(pb->changeCount(), before) << "reading again changes nothing";
  clipboard = "copied elsewhere again";
  EXPECT_GT(pb->changeCount(), before) << "a change outside is a change";

  pb->setString("copied here");
  EXPECT_EQ(written.back(), "copied here");
  pb->setValueForPasteboardType(Value("by type"), kUTTypeText);
  EXPECT_EQ(written.back(), "by type");
  pb->setString(std::nullopt);
  EXPECT_EQ(written.back(), "");
  EXPECT_EQ(pb->string(), std::nullopt);
  EXPECT_EQ(pb->numberOfItems(), 0u);

  // Another pasteboard stays in memory.
  auto other = std::make_shared<UIPasteboard>();
  other->setString("private");
  EXPECT_EQ(written.back(), "");
  UIPasteboard::setSystemClipboard(std::nullopt);
  UIPasteboard::resetGeneralPasteboard();
}

TEST(UIPasteboardTest, ItemsByTypeAndText) {
  auto pb = UIPasteboard::generalPasteboard();
  UIPasteboard::resetGeneralPasteboard();
  EXPECT_EQ(pb, UIPasteboard::generalPasteboard());
  EXPECT_TRUE(pb->valueForPasteboardType(kUTTypeText).isAbsent());
  EXPECT_EQ(pb->string(), std::nullopt);

  auto before = pb->changeCount();
  pb->setValueForPasteboardType("hello", kUTTypeText);
  EXPECT_EQ(pb->valueForPasteboardType(kUTTypeText), Value("hello"));
  EXPECT_EQ(pb->string(), "hello");
  EXPECT_GT(pb->changeCount(), before);

  pb->setItems({Dictionary{{"public.png", Data{1, 2}}}, Dictionary{{kUTTypeText, "second"}}});
  EXPECT_EQ(pb->valueForPasteboardType(kUTTypeText), Value("second"));
  // Storing nothing removes the items holding the type and keeps the others.
  pb->setValueForPasteboardType(Value(), kUTTypeText);
  EXPECT_EQ(pb->numberOfItems(), 1u);
  EXPECT_TRUE(pb->valueForPasteboardType(kUTTypeText).isAbsent());
  pb->setValueForPasteboardType(Value::null(), "public.png");
  EXPECT_EQ(pb->numberOfItems(), 0u);

  pb->setString("plain");
  EXPECT_EQ(pb->valueForPasteboardType(kUTTypeUTF8PlainText), Value("plain"));
  pb->setString(std::nullopt);
  EXPECT_EQ(pb->numberOfItems(), 0u);
}
