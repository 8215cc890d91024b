// The harbor command's arguments and its default sandbox home.
#include <gtest/gtest.h>

#include <map>

#include "HarborRunner.h"

namespace harbor::runner {
namespace {

TEST(RunnerOptions, ValidArguments) {
  auto parsed = parseOptions({"--home", "/h", "--run-seconds=2.5", "--until", "hello: done", "--engine=HBRWKWebViewEngine",
                              "--device-model", "iPad", "--system-version", "8.1", "--locale=zh_Hans_CN", "app"});
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(parsed->bundle, "app");
  EXPECT_EQ(parsed->home, "/h");
  EXPECT_EQ(parsed->runSeconds, 2.5);
  EXPECT_EQ(parsed->until, "hello: done");
  EXPECT_EQ(parsed->engine, "HBRWKWebViewEngine");
  EXPECT_EQ(parsed->model, "iPad");
  EXPECT_EQ(parsed->systemVersion, "8.1");
  EXPECT_EQ(parsed->locale, "zh_Hans_CN");
  EXPECT_FALSE(parsed->help);

  auto minimal = parseOptions({"examples/hello"});
  ASSERT_TRUE(minimal);
  EXPECT_FALSE(minimal->home || minimal->runSeconds || minimal->until || minimal->engine);

  auto help = parseOptions({"-h"});
  ASSERT_TRUE(help);
  EXPECT_TRUE(help->help);
}

TEST(RunnerOptions, BadArgumentsAreNamed) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  };
  std::vector<Case> cases = {
      {{}, "no bundle folder given"},
      {{"--home", "/h"}, "no bundle folder given"},
      {{"a", "b"}, "one bundle folder only (got \"a\" and \"b\")"},
      {{"--verbose", "a"}, "unknown option --verbose"},
      {{"a", "--home"}, "--home needs a value"},
      {{"--home=", "a"}, "--home needs a value"},
      {{"--run-seconds", "0", "a"}, "--run-seconds needs a positive number of seconds, not \"0\""},
      {{"--run-seconds=-1", "a"}, "--run-seconds needs a positive number of seconds, not \"-1\""},
      {{"--run-seconds", "5s", "a"}, "--run-seconds needs a positive number of seconds, not \"5s\""},
      {{"--run-seconds", "inf", "a"}, "--run-seconds needs a positive number of seconds, not \"inf\""},
      {{"--run-seconds", "nan", "a"}, "--run-seconds needs a positive number of seconds, not \"nan\""},
  };
  for (const Case& c : cases) {
    auto parsed = parseOptions(c.arguments);
    ASSERT_FALSE(parsed) << c.error;
    EXPECT_EQ(parsed.error(), c.error);
  }
}

TEST(RunnerOptions, DefaultHomeStaysInsideTheDataFolder) {
  struct Case {
    std::map<std::string, std::string> environment;
    std::string identifier;
    std::optional<std::string> home;
  };
  std::vector<Case> cases = {
      {{{"XDG_DATA_HOME", "/data"}, {"HOME", "/home/u"}}, "org.harbor.hello", "/data/harbor/org.harbor.hello"},
      {{{"XDG_DATA_HOME", "relative"}, {"HOME", "/home/u"}}, "org.harbor.hello",
       "/home/u/.local/share/harbor/org.harbor.hello"},
      {{{"HOME", "/home/u/"}}, "org.harbor.hello", "/home/u/.local/share/harbor/org.harbor.hello"},
      {{{"HOME", "/home/u"}}, "../../etc", "/home/u/.local/share/harbor/.._.._etc"},
      {{{"HOME", "/home/u"}}, "..", "/home/u/.local/share/harbor/_"},
      {{{"HOME", "/home/u"}}, "", "/home/u/.local/share/harbor/_"},
      {{{"HOME", "/home/u"}}, "a b/c\xC3\xA9", "/home/u/.local/share/harbor/a_b_c__"},
      {{}, "org.harbor.hello", std::nullopt},
  };
  for (const Case& c : cases) {
    auto getenv = [&](const char* name) -> const char* {
      auto it = c.environment.find(name);
      return it == c.environment.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(defaultHome(c.identifier, getenv), c.home) << c.identifier;
  }
}

}  // namespace
}  // namespace harbor::runner
