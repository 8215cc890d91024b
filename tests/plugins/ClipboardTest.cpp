// Copy and paste through the general pasteboard, answered from the background.
#include <gtest/gtest.h>

#include "ClipboardPlugin.h"
#include "HBRClipboard.h"
#include "plat/dispatch/Queues.h"
#include "plat/uikit/UIPasteboard.h"
#include "support/PluginTest.h"

using namespace harbor;
using plat::Array;
using plat::Value;

namespace {

class Clipboard : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerClipboardPlugin();
    plat::UIPasteboard::resetGeneralPasteboard();
    ASSERT_TRUE(createPlugin("HBRClipboard", "Clipboard"));
  }
  void TearDown() override {
    plat::UIPasteboard::resetGeneralPasteboard();
    PluginTest::TearDown();
  }
  // Runs the action with the global queue held, then lets the background work run.
  std::vector<harbor::testing::PageCallback> run(const std::string& action, const Array& arguments) {
    plat::dispatch::GlobalQueue::shared().hold();
    exec("Clipboard", action, arguments);
    EXPECT_TRUE(takeCallbacks().empty()) << "the answer comes from the background work";
    plat::dispatch::GlobalQueue::shared().drain();
    plat::dispatch::GlobalQueue::shared().release();
    runUntilIdle();
    return takeCallbacks();
  }
  Value pasteboardText() { return plat::UIPasteboard::generalPasteboard()->valueForPasteboardType("public.text"); }
};

}  // namespace

TEST_F(Clipboard, CopyThenPasteGivesTheTextBack) {
  const Value texts[] = {"hello", "", "multi\nline \xF0\x9F\x98\x80 'quoted' \"double\" </script>"};
  for (const auto& text : texts) {
    auto copied = run("copy", Array{text});
    ASSERT_EQ(copied.size(), 1u);
    EXPECT_EQ(copied[0].status, 1);
    EXPECT_EQ(copied[0].message, text);
    EXPECT_FALSE(copied[0].keepCallback);
    EXPECT_EQ(pasteboardText(), text) << "on the pasteboard before the answer";

    auto pasted = run("paste", Array{});
    ASSERT_EQ(pasted.size(), 1u);
    EXPECT_EQ(pasted[0].status, 1);
    EXPECT_EQ(pasted[0].message, text);
  }
}

TEST_F(Clipboard, PasteOfAnEmptyPasteboardAnswersNull) {
  auto pasted = run("paste", Array{});
  ASSERT_EQ(pasted.size(), 1u);
  EXPECT_EQ(pasted[0].status, 1);
  EXPECT_EQ(pasted[0].message, Value::null());

  // Something that is not text under the type reads as no text.
  plat::UIPasteboard::generalPasteboard()->setValueForPasteboardType(plat::Data{1, 2, 3}, "public.text");
  pasted = run("paste", Array{});
  EXPECT_EQ(pasted[0].message, Value::null());
}

TEST_F(Clipboard, CopyWithoutTextRemovesTheTextAndAnswersNull) {
  struct Case {
    Array arguments;
    Value answer;
  };
  const Case cases[] = {
      {Array{}, Value::null()},
      {Array{Value::null()}, Value::null()},
      {Array{Array{"a"}}, Value::null()},
      {Array{42}, "42"},
      {Array{true}, "true"},
  };
  for (const auto& c : cases) {
    plat::UIPasteboard::generalPasteboard()->setValueForPasteboardType("old text", "public.text");
    auto copied = run("copy", c.arguments);
    ASSERT_EQ(copied.size(), 1u);
    EXPECT_EQ(copied[0].status, 1);
    EXPECT_EQ(copied[0].message, c.answer);
    EXPECT_EQ(pasteboardText(), c.answer.isNull() ? Value() : c.answer) << "the old text never survives a copy";
  }
}
