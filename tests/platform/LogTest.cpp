#include "plat/foundation/Log.h"
#include "plat/foundation/TextCut.h"

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

// Page text cut for the log: at a character boundary, with the number of characters (not bytes)
// that were cut.
TEST(Log, PageTextIsCutWithTheCountOfWhatWasCut) {
  const struct {
    std::string text;
    std::size_t limit;
    std::string expected;
  } cases[] = {
      {"short", 10, "short"},
      {"exactly10!", 10, "exactly10!"},
      {"abcdefghijkl", 10, "abcdefghij ... (2 more characters cut)"},
      // "é" is two bytes: a cut inside it keeps the whole character out.
      {"abcdefghi\xC3\xA9xyz", 10, "abcdefghi ... (4 more characters cut)"},
      // "€" is three bytes; three of them cut count as three characters.
      {"ab\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", 4, "ab ... (3 more characters cut)"},
      {"", 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(plat::cutText(c.text, c.limit), c.expected) << c.text;
}
