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

// A page that calls the plugin itself (its page module cuts long lines first) gets a long line
// logged cut, as every page text is; a long level and a long value's description too.
TEST_F(Console, LongTextsAreLoggedCut) {
  const std::string cut = " ... (3616 more characters cut)";
  const Value list(Array(std::vector<Value>(5000, Value("abc"))));
  const std::string described = list.description();
  struct Case {
    Array arguments;
    std::string line;
  };
  const Case cases[] = {
      {Array{"LOG", std::string(20000, 'l')}, std::string(16384, 'l') + cut},
      {Array{std::string(20000, 'v'), "m"}, std::string(16384, 'v') + cut + ": m"},
      {Array{"INFO", list},
       "INFO: " + described.substr(0, 16384) + " ... (" + std::to_string(described.size() - 16384) + " more characters cut)"},
  };
  for (const auto& c : cases) {
    log_->clear();
    execMessage("Console", "logLevel", c.arguments);
    EXPECT_EQ(log_->lines(), std::vector<std::string>{c.line});
  }
}
