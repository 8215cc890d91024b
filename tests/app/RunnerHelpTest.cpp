// What the harbor command says to a person who gets something wrong: an argument error with a
// close option name and a pointer to --help, a locale ICU does not know, a home it cannot take;
// and its options named alike by the parser, `harbor --help` and the README.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "HarborRunner.h"

namespace harbor::runner {
namespace {

// Every "--name" in a text.
std::set<std::string> optionsIn(const std::string& text) {
  static const std::regex option("--[a-z][a-z0-9]*(-[a-z0-9]+)*");
  std::set<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
    found.insert(it->str());
  return found;
}

std::string readme() {
  std::ifstream in(std::string(HARBOR_SOURCE_DIR) + "/README.md");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The README's harbor options: every "--name" in it but those of the scripts and the cmake
// commands it runs (`scripts/test.sh --sanitize`, `cmake --build build`: up to the end of that
// command, a backquote, ";" or ")", or the end of the line). scripts/run-sample.sh hands its
// options to harbor, so they count.
std::set<std::string> readmeOptions(const std::string& text) {
  static const std::regex script("(?:scripts/([a-z-]+)\\.sh|\\bcmake\\b)[^`;)]*");
  std::set<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::string harbors;
    for (std::smatch m; std::regex_search(line, m, script); line = m.suffix().str())
      harbors += m.prefix().str() + (m[1] == "run-sample" ? m.str() : std::string()) + " ";
    auto options = optionsIn(harbors + line);
    found.insert(options.begin(), options.end());
  }
  return found;
}

std::string joined(const std::set<std::string>& names) {
  std::string out;
  for (const auto& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

std::set<std::string> difference(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::set<std::string> out;
  for (const auto& name : a)
    if (!b.count(name)) out.insert(name);
  return out;
}

TEST(RunnerHelp, TheParserTheHelpAndTheReadmeNameTheSameOptions) {
  auto names = optionNames();
  std::set<std::string> parsed(names.begin(), names.end());
  std::set<std::string> help = optionsIn(usage());
  std::set<std::string> inReadme = readmeOptions(readme());
  ASSERT_GT(parsed.size(), 20u);
  EXPECT_EQ(difference(parsed, help), std::set<std::string>{}) << "taken, but not in --help";
  EXPECT_EQ(difference(help, parsed), std::set<std::string>{}) << "in --help, but not taken";
  EXPECT_EQ(difference(help, inReadme), std::set<std::string>{}) << "in --help, but not in README.md";
  EXPECT_EQ(difference(inReadme, help), std::set<std::string>{}) << "in README.md, but not in --help: "
                                                                  << joined(inReadme);
}

TEST(RunnerHelp, TheReadmeOptionsAreHarborsAlone) {
  // The scripts' own options are theirs; run-sample.sh's go on to harbor.
  EXPECT_EQ(readmeOptions("Run `scripts/test.sh --sanitize` or `harbor --home DIR`.\n"
                          "scripts/run-sample.sh --engine X; scripts/bench.sh --benchmark-min-time 2\n"
                          "cmake --build build --target harbor\n"
                          "  --until TEXT --web-backend headless\n"),
            (std::set<std::string>{"--engine", "--home", "--until", "--web-backend"}));
}

TEST(RunnerHelp, AMistypedOptionGetsTheClosestNameAndAPointerToTheHelp) {
  struct Case {
    const char* typed;
    std::optional<std::string> meant;
  };
  const Case cases[] = {
      {"--run-secnds", "--run-seconds"},    // a letter left out
      {"--run_seconds", "--run-seconds"},   // another letter
      {"--untill", "--until"},              // one too many
      {"--hoem", "--home"},                 // two swapped
      {"-home", "--home"},                  // one dash
      {"home", "--home"},                   // none
      {"--SCREENSHOT", "--screenshot"},     // case
      {"--screenshots", "--screenshot"},
      {"--pict", "--pictures"},             // the start of one name only
      {"--pic", std::nullopt},              // the start of two
      {"--loc", std::nullopt},              // the start of four
      {"--verbose", std::nullopt},          // nothing like it
      {"--x", std::nullopt},
      {"--", std::nullopt},
      {"--helpme", "--help"},
      {"--screan", "--screen"},             // closer to --screen than to --screenshot
      {"--location-tracks", "--location-track"},
  };
  for (const Case& c : cases) EXPECT_EQ(closeOptionName(c.typed), c.meant) << c.typed;

  auto parsed = parseOptions({"--run-secnds", "3", "app"});
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error(), "unknown option --run-secnds; did you mean --run-seconds?");
  EXPECT_EQ(argumentErrorText(parsed.error()),
            "harbor: unknown option --run-secnds; did you mean --run-seconds?\nRun harbor --help for the options.\n");
  // What a page or a shell hands over is shown escaped, on one line.
  auto hostile = parseOptions({"--a\nb", "app"});
  ASSERT_FALSE(hostile);
  EXPECT_EQ(hostile.error().find('\n'), std::string::npos) << hostile.error();
}

TEST(RunnerHelp, OnlyALocaleICUHasDataForIsTaken) {
  struct Case {
    const char* locale;
    bool taken;
    const char* warning;  // logged at the start, "" for none
  };
  const Case cases[] = {
      {"en_US", true, ""},
      {"zh_Hans_CN", true, ""},
      {"zh_CN", true, ""},
      {"de-CH", true, ""},
      {"fr_US", true, "--locale fr_US: ICU has no locale data of its own for it, so it uses fr's"},
      {"xx_YY", false, ""},
      {"not a locale", false, ""},
      {"root", false, ""},
  };
  for (const Case& c : cases) {
    auto parsed = parseOptions({"--locale", c.locale, "app"});
    ASSERT_EQ(parsed.ok(), c.taken) << c.locale << ": " << (parsed ? "" : parsed.error());
    if (!c.taken) {
      EXPECT_EQ(parsed.error(), std::string("--locale needs a locale ICU has data for, such as en_US, de_CH or "
                                            "zh_Hans_CN, not \"") +
                                    c.locale + "\"");
      continue;
    }
    EXPECT_EQ(parsed->locale, c.locale);
    EXPECT_EQ(parsed->warnings, *c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{})
        << c.locale;
  }
}

TEST(RunnerHelp, AHomeThatCannotBeTakenNamesWhatToChange) {
  const std::string cannot = "cannot make the sandbox home /x/harbor/org.a: Permission denied";
  EXPECT_EQ(sandboxHomeFailureText(cannot, false),
            cannot +
                "; that is the default home, under $XDG_DATA_HOME (or ~/.local/share without it): set XDG_DATA_HOME to "
                "a folder you may write to, or give the home with --home DIR");
  EXPECT_EQ(sandboxHomeFailureText(cannot, true), cannot + "; give --home a new or empty folder you may write to");
  // A refusal that already says what --home needs is left as it is.
  const std::string foreign = "/x is not a sandbox home: ...; give --home a new or empty folder";
  EXPECT_EQ(sandboxHomeFailureText(foreign, true), foreign);
}

}  // namespace
}  // namespace harbor::runner
