// The page's log lines in the system log.
#include <gtest/gtest.h>

#include "ConsolePlugin.h"
#include "support/PluginTest.h"

using plat::Array;
using plat::Value;

namespace {

class Console : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    harbor::registerConsolePlugin();
    ASSERT_TRUE(createPlugin("HBRLogger", "Console"));
  }
};

}  // namespace

TEST_F(Console, LevelsAndMessagesAreWrittenAsTheyStand) {
  struct Case {
    Array arguments;
    std::string line;
  };
  const Case cases[] = {
      {Array{"LOG", "plain"}, "plain"},
      {Array{"ERROR", "bad"}, "ERROR: bad"},
      {Array{"WARN", ""}, "WARN: "},
      {Array{"log", "lower case is another level"}, "log: lower case is another level"},
      // Format characters are text; nothing is read from the stack.
      {Array{"LOG", "%s%s%n%x %@ %%"}, "%s%s%n%x %@ %%"},
      {Array{"%n%s", "%d"}, "%n%s: %d"},
      {Array{"INFO", Value::null()}, "INFO: (null)"},
      {Array{"INFO", 3.5}, "INFO: 3.5"},
      {Array{}, "(null): (null)"},
  };
  for (const auto& c : cases) {
    log_->clear();
    exec("Console", "logLevel", c.arguments);
    EXPECT_EQ(log_->lines(), std::vector<std::string>{c.line});
  }
  EXPECT_TRUE(takeCallbacks().empty()) << "the logger never answers";
}
