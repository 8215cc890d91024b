// The one cut of a page's text, made alike wherever it is made: in the container
// (plat::cutPageText, on UTF-8), in the WebKit engine's page script (page.js, on the page's
// dialogs) and in the bridge's page side (harbor.js, for the plugins' modules); and a text cut in
// the page passes the container's cut unchanged.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "plat/foundation/TextCut.h"
#include "plat/web/JSContext.h"

namespace plat::web {
extern const char pageScript[];
}

namespace {

using plat::kPageTextNoteRoom;
using plat::kPageTextUnits;

std::string repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// A script's text as a JavaScript string literal (UTF-8 written as it is).
std::string literal(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\'' || c == '\\') out += std::string("\\") + c;
    else out += c;
  }
  return out + "'";
}

// The two texts are the same; when not, their lengths and ends say how they differ.
::testing::AssertionResult same(const std::string& got, const std::string& wanted) {
  if (got == wanted) return ::testing::AssertionSuccess();
  auto end = [](const std::string& t) { return t.size() > 60 ? "..." + t.substr(t.size() - 60) : t; };
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes ending \"" << end(got) << "\", wanted "
                                       << wanted.size() << " bytes ending \"" << end(wanted) << "\"";
}

class Cuts {
 public:
  Cuts() {
    // page.js as in a frame (its dialogs only), with an alert that keeps what it was given.
    EXPECT_TRUE(page_.evaluate("var window = this; window.top = {}; var shown;"
                               "window.alert = function (text) { shown = text; };")
                    .ok());
    auto ran = page_.evaluate("(" + std::string(plat::web::pageScript) + ")(function () {})", "page.js");
    EXPECT_TRUE(ran.ok()) << ran.error();
    std::ifstream in(std::string(HARBOR_SOURCE_DIR) + "/www/harbor.js");
    std::stringstream harbor;
    harbor << in.rdbuf();
    auto loaded = bridge_.evaluate(harbor.str(), "harbor.js");
    EXPECT_TRUE(loaded.ok()) << loaded.error();
  }

  std::string inPageScript(const std::string& text) {
    auto shown = page_.evaluate("alert(" + literal(text) + "); shown");
    return shown ? shown->toString() : "(failed: " + shown.error() + ")";
  }
  std::string inBridge(const std::string& text) {
    auto cut = bridge_.evaluate("harbor.require('harbor/text').cut(" + literal(text) + ")");
    return cut ? cut->toString() : "(failed: " + cut.error() + ")";
  }

 private:
  plat::JSContext page_;
  plat::JSContext bridge_;
};

}  // namespace

TEST(PageTextCut, IsTheSameInTheContainerThePageScriptAndTheBridge) {
  const std::string note65 = " ... (65 more characters cut)";
  const struct Case {
    const char* what;
    std::string text;
    std::string cut;
  } cases[] = {
      {"short", "short", "short"},
      {"empty", "", ""},
      {"at the limit", std::string(kPageTextUnits, 'a'), std::string(kPageTextUnits, 'a')},
      {"within the note's room", std::string(kPageTextUnits + kPageTextNoteRoom, 'a'),
       std::string(kPageTextUnits + kPageTextNoteRoom, 'a')},
      {"one past the room", std::string(kPageTextUnits + kPageTextNoteRoom + 1, 'a'),
       std::string(kPageTextUnits, 'a') + note65},
      // Two bytes each in UTF-8, one unit each in the page.
      {"accented letters", repeat("\xC3\xA9", 20000), repeat("\xC3\xA9", kPageTextUnits) + " ... (3616 more characters cut)"},
      // A character outside the basic plane is two units: one across the limit is kept out whole,
      // and counted as one character.
      {"a pair across the limit", std::string(kPageTextUnits - 1, 'a') + "\xF0\x9F\x98\x80" + std::string(100, 'b'),
       std::string(kPageTextUnits - 1, 'a') + " ... (101 more characters cut)"},
      {"pairs after the limit", std::string(kPageTextUnits, 'a') + repeat("\xF0\x9F\x98\x80", 40),
       std::string(kPageTextUnits, 'a') + " ... (40 more characters cut)"},
      {"a long line with a line break", std::string(kPageTextUnits, 'x') + "\n" + std::string(99, 'y'),
       std::string(kPageTextUnits, 'x') + " ... (100 more characters cut)"},
  };
  Cuts cuts;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(same(plat::cutPageText(c.text), c.cut)) << "the container's";
    EXPECT_TRUE(same(cuts.inPageScript(c.text), c.cut)) << "the page script's";
    EXPECT_TRUE(same(cuts.inBridge(c.text), c.cut)) << "the bridge's";
    EXPECT_TRUE(same(plat::cutPageText(c.cut), c.cut)) << "a text cut once is cut again";
  }
}

// A page that replaces the built-ins after the page script ran still gets its dialog's text cut.
TEST(PageTextCut, ThePageScriptCutsWhateverThePageReplacedLater) {
  plat::JSContext page;
  ASSERT_TRUE(page.evaluate("var window = this; window.top = {}; var shown;"
                            "window.alert = function (text) { shown = text; };")
                  .ok());
  ASSERT_TRUE(page.evaluate("(" + std::string(plat::web::pageScript) + ")(function () {})").ok());
  auto shown = page.evaluate(
      "String.prototype.slice = function () { return this; };"
      "String.prototype.charCodeAt = function () { return 0; };"
      "Function.prototype.apply = function () { return 'stolen'; };"
      "Reflect.apply = function () { return 'stolen'; };"
      "alert({ toString: function () { return 'x'.repeat(20000); } }); shown");
  ASSERT_TRUE(shown.ok()) << shown.error();
  EXPECT_TRUE(same(shown->toString(), std::string(kPageTextUnits, 'x') + " ... (3616 more characters cut)"));
}
