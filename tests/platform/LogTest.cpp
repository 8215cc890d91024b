#include "plat/foundation/Log.h"
#include "plat/testing/PlatformTest.h"

#include <gtest/gtest.h>

using namespace plat;

TEST(Log, PageTextIsEscapedForOneLine) {
  struct Case {
    std::string text;
    std::string escaped;    // logEscaped
    std::string oneLine;    // asOneLogLine
  } cases[] = {
      {"plain text", "plain text", "plain text"},
      {"a\nharbor: alert", "a\\nharbor: alert", "a\\nharbor: alert"},
      {"cr\r lf\n tab\t", "cr\\r lf\\n tab\\t", "cr\\r lf\\n tab\t"},
      {std::string("nul\0end", 7), "nul\\x00end", "nul\\x00end"},
      {"esc\x1b[31m del\x7f", "esc\\x1b[31m del\\x7f", "esc\\x1b[31m del\\x7f"},
      {"back\\slash", "back\\\\slash", "back\\slash"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(logEscaped(c.text), c.escaped) << c.escaped;
    EXPECT_EQ(asOneLogLine(c.text), c.oneLine) << c.escaped;
  }
}

TEST(Log, ExcerptsAreCutOnCharacterBoundaries) {
  EXPECT_EQ(logExcerpt("short"), "short");
  EXPECT_EQ(logExcerpt(std::string(200, 'a')), std::string(200, 'a'));
  EXPECT_EQ(logExcerpt(std::string(201, 'a')), std::string(200, 'a') + "...");
  // "é" is two bytes: a cut through it leaves it out whole.
  EXPECT_EQ(logExcerpt("ab\xC3\xA9" "cd", 3), "ab...");
  EXPECT_EQ(logExcerpt("a\nb\nc", 3), "a\\nb...");
}

namespace {

// The log at a rate of 1000 bytes a second with a burst of 1000, on the manual clock: a line of
// 100 bytes costs 164 (its length and kLogLineCost).
class LogRateTest : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    setLogRate(LogRate{1000, 1000});
  }
  void TearDown() override {
    setLogWatcher(nullptr);
    PlatformTest::TearDown();
  }
  static std::string line(char c) { return std::string(100, c); }
};

}  // namespace

// A flood is dropped past the rate, never waited for; what was dropped is counted on the line
// before the next one written.
TEST_F(LogRateTest, LinesPastTheRateAreDroppedAndCounted) {
  struct Step {
    double after;             // seconds on the clock before the lines
    int lines;                // lines of 100 bytes logged
    std::vector<std::string> written;
  };
  const Step steps[] = {
      {0, 8, {line('a'), line('a'), line('a'), line('a'), line('a'), line('a')}},
      // 164 bytes come back in 0.164 s: one line, after the count of the two dropped.
      {0.2, 2, {"... 2 lines dropped", line('b')}},
      {0.1, 1, {}},
      {1.0, 1, {"... 2 lines dropped", line('d')}},
      // A clock set back refills nothing and stalls nothing.
      {-100, 1, {line('e')}},
  };
  char c = 'a';
  for (const Step& step : steps) {
    SCOPED_TRACE(c);
    log_->clear();
    clock_->advance(step.after);
    for (int i = 0; i < step.lines; ++i) NSLog(line(c));
    EXPECT_EQ(log_->lines(), step.written);
    ++c;
  }
  // A line longer than the burst can never be paid for.
  log_->clear();
  clock_->advance(10);
  NSLog(std::string(2000, 'f'));
  NSLog(line('g'));
  EXPECT_EQ(log_->lines(), (std::vector<std::string>{"... 1 line dropped", line('g')}));
}

// The watcher sees every line, also those dropped, and the lines it asks for are written
// whatever the rate; without a rate, every line is written.
TEST_F(LogRateTest, TheWatcherSeesEveryLineAndKeepsTheOnesItNeeds) {
  std::vector<std::string> seen;
  setLogWatcher([&seen](std::string_view text) {
    seen.emplace_back(text);
    return text == "the end";
  });
  for (int i = 0; i < 10; ++i) NSLog(line('a'));
  NSLog("the end");
  EXPECT_EQ(seen.size(), 11u);
  std::vector<std::string> written = log_->lines();
  ASSERT_EQ(written.size(), 8u);
  EXPECT_EQ(written[6], "... 4 lines dropped");
  EXPECT_EQ(written[7], "the end");

  log_->clear();
  setLogRate(std::nullopt);
  for (int i = 0; i < 100; ++i) NSLog(line('b'));
  EXPECT_EQ(log_->lines().size(), 100u);
}

// The process's own lines that must never be lost (why the runner ends a run) are written
// whatever the rate, after the count of what was dropped before them; the same words logged as
// any other line are not, so a page that words its lines so gets nothing past the rate.
TEST_F(LogRateTest, OnlyTheProcesssOwnLinesPastTheRateAreWrittenWhateverTheRate) {
  for (int i = 0; i < 10; ++i) NSLog(line('a'));
  log_->clear();
  NSLog("harbor: terminating: saw \"x\"");
  NSLogPastRate("harbor: terminating: saw \"x\"");
  NSLogPastRate("harbor: the application did not start: why");
  NSLog(line('b'));
  EXPECT_EQ(log_->lines(), (std::vector<std::string>{"... 5 lines dropped", "harbor: terminating: saw \"x\"",
                                                     "harbor: the application did not start: why"}));
}
