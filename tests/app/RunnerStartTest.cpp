// Whether an application can start, as the runner tells a person: config.xml that is not
// well-formed and a start page whose page script is missing are named before anything starts;
// a start page that does not come up ends a run waiting for its text instead of hanging it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "BundleCheck.h"
#include "HarborRunner.h"
#include "RunnerProcess.h"
#include "StartWatch.h"
#include "plat/foundation/Strings.h"
#include "plat/testing/SandboxTest.h"

namespace harbor::runner {
namespace {

constexpr char kConfig[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.harbor.starttest" version="1.0.0">%s</widget>
)";
constexpr char kInfo[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>org.harbor.starttest</string></dict></plist>
)";

class RunnerStart : public plat::testing::SandboxTest {
 protected:
  // A bundle with config.xml holding `content` and the given files (path in the bundle -> text).
  std::string makeBundle(const std::string& name, const std::string& content,
                         const std::vector<std::pair<std::string, std::string>>& files) {
    std::string bundle = inHome(name);
    writeFile(bundle + "/Info.plist", kInfo);
    writeFile(bundle + "/config.xml", plat::format(kConfig, content.c_str()));
    for (const auto& [path, text] : files) writeFile(bundle + "/" + path, text);
    return bundle;
  }
  std::string harborScript() { return readFile(std::string(HARBOR_SOURCE_DIR) + "/www/harbor.js"); }
};

TEST_F(RunnerStart, TheStartPagesPageScriptIsFoundWhereTheContainerLoadsIt) {
  struct Case {
    const char* name;
    std::string content;                                       // config.xml's <content>, if any
    std::vector<std::pair<std::string, std::string>> files;    // in the bundle
    std::string startPage;
    std::optional<std::string> pageScript;
    bool present;
  };
  const std::string page = "<html><head><script src=\"harbor.js\"></script></head></html>";
  const Case cases[] = {
      {"default", "", {{"www/index.html", page}, {"www/harbor.js", "//"}}, "index.html", "www/harbor.js", true},
      {"missing", "", {{"www/index.html", page}}, "index.html", "www/harbor.js", false},
      {"content", "<content src=\"start/main.html?x=1#top\"/>",
       {{"www/start/main.html", "<script src='../js/harbor.js?v=2'></script>"}}, "start/main.html?x=1#top",
       "www/js/harbor.js", false},
      {"last-content-wins", "<content src=\"a.html\"/><content src=\"b.html\"/>",
       {{"www/b.html", "<SCRIPT SRC=\"./harbor.js\"></SCRIPT>"}, {"www/harbor.js", "//"}}, "b.html", "www/harbor.js",
       true},
      // A page that never asks for the bridge, and scripts that are not the bundle's own.
      {"no-bridge", "", {{"www/index.html", "<script>console.log('plain')</script>"}}, "index.html", std::nullopt,
       false},
      {"elsewhere", "",
       {{"www/index.html", "<script src=\"https://example.com/harbor.js\"></script><script src=\"/opt/harbor.js\">"
                           "</script><script src=\"../../outside/harbor.js\"></script>"}},
       "index.html", std::nullopt, false},
      // Only a script element counts: not a comment, a string or another element.
      {"comment", "",
       {{"www/index.html", "<!-- <script src=\"harbor.js\"></script> --><link href=\"harbor.js\">"
                           "<script>var s = '<script src=\"harbor.js\">';</script>"}},
       "index.html", std::nullopt, false},
      // The start page is the container's to report when it is missing or a URL.
      {"no-start-page", "", {}, "index.html", std::nullopt, false},
      {"remote", "<content src=\"https://example.com/\"/>", {}, "https://example.com/", std::nullopt, false},
      {"climbing", "<content src=\"../../secret.html\"/>", {}, "../../secret.html", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto start = readBundleStart(makeBundle(c.name, c.content, c.files));
    ASSERT_TRUE(start) << start.error();
    EXPECT_EQ(start->startPage, c.startPage);
    EXPECT_EQ(start->pageScript, c.pageScript);
    EXPECT_EQ(start->pageScriptPresent, c.present);
  }
}

TEST_F(RunnerStart, AConfigurationThatIsNotWellFormedIsNamedWithItsPathAndWhere) {
  std::string bundle = makeBundle("broken", "\n  <content src=\"index.html\">\n", {{"www/index.html", "<p>"}});
  auto start = readBundleStart(bundle);
  ASSERT_FALSE(start);
  EXPECT_EQ(start.error(), bundle +
                               "/config.xml is not well-formed XML (line 4, column 10: Opening and ending tag mismatch: "
                               "content line 3 and widget): correct the file");
  // An entity is refused as the container refuses it, with the file named.
  writeFile(bundle + "/config.xml", "<!DOCTYPE w [<!ENTITY e \"x\">]><widget>&e;</widget>");
  start = readBundleStart(bundle);
  ASSERT_FALSE(start);
  EXPECT_EQ(start.error().rfind(bundle + "/config.xml is not well-formed XML (line 1, column ", 0), 0u) << start.error();
}

TEST_F(RunnerStart, FilesThatAreNoPlainFilesAreNotRead) {
  // A pipe would never end; a start page of a gigabyte is read only as far as its scripts sit.
  std::string bundle = makeBundle("pipes", "", {});
  std::filesystem::remove(bundle + "/config.xml");
  ASSERT_EQ(::mkfifo((bundle + "/config.xml").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir((bundle + "/www").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo((bundle + "/www/index.html").c_str(), 0600), 0);
  auto start = readBundleStart(bundle);
  ASSERT_TRUE(start) << start.error();
  EXPECT_FALSE(start->pageScript);

  std::string huge = makeBundle("huge", "", {{"www/index.html", "<script src=\"harbor.js\"></script>"}});
  std::filesystem::resize_file(huge + "/www/index.html", std::uintmax_t{1} << 30);
  start = readBundleStart(huge);
  ASSERT_TRUE(start) << start.error();
  EXPECT_EQ(start->pageScript, "www/harbor.js");
}

// A bundle without an identifier of its own runs under its folder's name only when that name
// could be one, and the log says so; a broken Info.plist is named, as a broken config.xml is.
TEST_F(RunnerStart, ABundleWithoutAnIdentifierIsNamedOrRefusedWithTheKeysItNeeds) {
  struct Case {
    const char* folder;
    std::optional<std::string> info;  // Info.plist's text; nothing: no file
    std::optional<std::string> identifier;  // nothing: refused
    std::string said;                  // the warning, or the refusal's start, after the bundle's path
  };
  const std::string plist = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>%s</dict></plist>";
  const Case cases[] = {
      {"org.example.mine", plat::format(plist.c_str(), "<key>CFBundleIdentifier</key><string>org.x</string>"), "org.x",
       ""},
      // As written: whether it can be used is said with CFBundleIdentifier's own refusal.
      {"spaced", plat::format(plist.c_str(), "<key>CFBundleIdentifier</key><string>a b</string>"), "a b", ""},
      {"plain", std::nullopt, "plain",
       "/Info.plist is missing, so the bundle identifier is taken to be the folder's name, \"plain\", and none "
       "of Info.plist's keys is set (without NSLocationWhenInUseUsageDescription the user is never asked for the "
       "position); add an Info.plist with CFBundleIdentifier"},
      {"unnamed", plat::format(plist.c_str(), "<key>CFBundleName</key><string>x</string>"), "unnamed",
       "/Info.plist has no CFBundleIdentifier, so the bundle identifier is taken to be the folder's name, "
       "\"unnamed\"; add CFBundleIdentifier to it"},
      {"my app_1", std::nullopt, std::nullopt,
       "/Info.plist is missing, and the folder's name, \"my app_1\", cannot stand for the bundle identifier "
       "(1 to 200 letters, digits, \".\" and \"-\"): add an Info.plist with CFBundleIdentifier"},
      {"..hidden", plat::format(plist.c_str(), ""), std::nullopt,
       "/Info.plist has no CFBundleIdentifier, and the folder's name, \"..hidden\", cannot stand for the "
       "bundle identifier (1 to 200 letters, digits, \".\" and \"-\"): add CFBundleIdentifier to it"},
      {"broken", std::string("<plist><dict><key>x</key></plist>"), std::nullopt,
       "/Info.plist cannot be read: not a property list: "},
      {"array", std::string("<plist><array/></plist>"), std::nullopt,
       "/Info.plist cannot be read: not a property list with a dict at its top; correct the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    std::string bundle = inHome(c.folder);
    writeFile(bundle + "/config.xml", plat::format(kConfig, ""));
    if (c.info) writeFile(bundle + "/Info.plist", *c.info);
    auto identity = readBundleIdentity(bundle);
    if (!c.identifier) {
      ASSERT_FALSE(identity);
      EXPECT_EQ(identity.error().rfind(bundle + c.said, 0), 0u) << identity.error();
      continue;
    }
    ASSERT_TRUE(identity) << identity.error();
    EXPECT_EQ(identity->identifier, *c.identifier);
    if (c.said.empty())
      EXPECT_FALSE(identity->assumed) << *identity->assumed;
    else
      EXPECT_EQ(identity->assumed, bundle + c.said);
  }
  // What Info.plist writes is what the runner checks: a number is no identifier.
  std::string numbered = inHome("numbered");
  writeFile(numbered + "/config.xml", plat::format(kConfig, ""));
  writeFile(numbered + "/Info.plist", plat::format(plist.c_str(), "<key>CFBundleIdentifier</key><integer>7</integer>"));
  auto number = readBundleIdentity(numbered);
  ASSERT_TRUE(number) << number.error();
  EXPECT_EQ(number->written, plat::Value(7));
  auto problem = bundleIdentifierProblem(number->written);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->rfind("the bundle identifier (not a text) cannot be used", 0), 0u) << *problem;
  // Info.plist that is no file is not read (a pipe would never end).
  std::string piped = inHome("piped");
  writeFile(piped + "/config.xml", plat::format(kConfig, ""));
  ASSERT_EQ(::mkfifo((piped + "/Info.plist").c_str(), 0600), 0);
  auto identity = readBundleIdentity(piped);
  ASSERT_FALSE(identity);
  EXPECT_EQ(identity.error(), piped + "/Info.plist is not a plain file: make it the bundle's property list");
}

TEST_F(RunnerStart, AMissingPageScriptNamesTheBuiltBundle) {
  // <build>/app/harbor and the built bundle <build>/examples/hello beside the source folder.
  std::string build = inHome("checkout/build");
  writeFile(build + "/app/harbor", "");
  writeFile(build + "/examples/hello/www/harbor.js", "//");
  std::string source = makeBundle("checkout/examples/hello", "", {{"www/index.html", "<script src=harbor.js></script>"}});
  auto start = readBundleStart(source);
  ASSERT_TRUE(start);
  EXPECT_EQ(missingPageScriptProblem(source, *start, build + "/app/harbor", inHome("checkout")),
            "www/harbor.js is missing: run the built bundle, build/examples/hello");
  EXPECT_EQ(missingPageScriptProblem(source, *start, build + "/app/harbor", inHome("elsewhere")),
            "www/harbor.js is missing: run the built bundle, " + build + "/examples/hello");
  // No built bundle with the script: where the script comes from.
  EXPECT_EQ(missingPageScriptProblem(source, *start, inHome("other/app/harbor"), inHome("checkout")),
            "www/harbor.js is missing: the start page www/index.html loads the container's page script from there; "
            "copy www/harbor.js of the Harbor sources into the bundle");
  // Nothing to say with the script in place, or without a page that loads it.
  writeFile(source + "/www/harbor.js", "//");
  EXPECT_FALSE(missingPageScriptProblem(source, *readBundleStart(source), build + "/app/harbor", inHome("checkout")));
  EXPECT_FALSE(missingPageScriptProblem(source, BundleStart{}, build + "/app/harbor", inHome("checkout")));
}

TEST(RunnerStartWatch, DecidesOnceFromTheFirstPageOrTheContainersFailure) {
  struct Event {
    enum { Failure, Page } kind;
    std::string text;  // the failed load's error, or the page's URL
    bool bridge = false;
  };
  struct Case {
    const char* name;
    std::optional<std::string> pageScript;
    std::vector<Event> events;
    std::optional<std::string> failure;
    std::optional<std::string> errorPage = std::nullopt;
  };
  const std::string start = "file:///b/www/index.html";
  const Case cases[] = {
      {"bridge", "www/harbor.js", {{Event::Page, start, true}}, std::nullopt},
      {"no page script asked for", std::nullopt, {{Event::Page, start, false}}, std::nullopt},
      {"broken page script", "www/harbor.js", {{Event::Page, start, false}},
       "its start page loaded, but the container's page script www/harbor.js did not run (see the page's errors "
       "above)"},
      // The container shows it for a start page it could not show ("ERROR: Start Page at ...").
      {"inline error page", std::nullopt, {{Event::Page, "about:blank"}},
       "its start page could not be shown (see the ERROR line above)"},
      {"inline error page alone", "www/harbor.js", {{Event::Page, "about:blank"}},
       "its start page could not be shown (see the ERROR line above)"},
      {"failed load", std::nullopt, {{Event::Failure, "resource exceeds maximum size"}},
       "its start page did not load (resource exceeds maximum size)"},
      // A load that another took the place of has not failed; the page after it decides.
      {"cancelled", "www/harbor.js", {{Event::Failure, "cancelled"}, {Event::Page, start, true}}, std::nullopt},
      // Once started, later failures are the application's own.
      {"later", "www/harbor.js",
       {{Event::Page, start, true}, {Event::Failure, "not found"}, {Event::Page, "about:blank"}}, std::nullopt},
      // With an error page of the application's own, that page comes next and is a start.
      {"error page", "www/harbor.js", {{Event::Page, "file:///b/www/error.html?error=ERROR%3A%20Start"}}, std::nullopt,
       "error.html"},
      {"error page after a failed load", "www/harbor.js",
       {{Event::Failure, "not found"}, {Event::Page, "file:///b/www/error.html#x"}}, std::nullopt, "error.html"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartWatch watch(c.pageScript, c.errorPage);
    std::vector<std::string> failures;
    for (const Event& e : c.events) {
      std::optional<std::string> failed;
      if (e.kind == Event::Failure) {
        failed = watch.loadFailed(e.text);
      } else {
        bool asked = watch.needsBridgeAnswer(e.text);
        failed = watch.pageDidLoad(e.text, asked && e.bridge);
      }
      if (failed) failures.push_back(*failed);
    }
    EXPECT_EQ(failures, c.failure ? std::vector<std::string>{*c.failure} : std::vector<std::string>{});
    EXPECT_EQ(watch.decided(), c.failure.has_value() || c.events.back().kind == Event::Page);
  }
  // The page is asked only while the answer matters.
  StartWatch plain(std::nullopt);
  EXPECT_FALSE(plain.needsBridgeAnswer("file:///b/www/index.html"));
  StartWatch bridged("www/harbor.js");
  EXPECT_TRUE(bridged.needsBridgeAnswer("file:///b/www/index.html"));
  EXPECT_FALSE(bridged.needsBridgeAnswer("about:blank"));
  bridged.pageDidLoad("file:///b/www/index.html", true);
  EXPECT_FALSE(bridged.needsBridgeAnswer("file:///b/www/index.html"));
}

// The harbor executable, on the headless engine.
TEST_F(RunnerStart, TheRunnerNamesABundleThatCannotStartAndEndsARunWaitingOnIt) {
  struct Case {
    const char* name;
    std::string content;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> options;
    int status;
    std::vector<std::string> lines;
  };
  const std::string loadsBridge =
      "<html><head><script src=\"harbor.js\"></script></head><body><script>"
      "document.addEventListener('deviceready', function () { console.log('starttest: ready'); });"
      "</script></body></html>";
  const Case cases[] = {
      {"no-page-script", "", {{"www/index.html", loadsBridge}}, {"--until", "starttest: ready"}, 1,
       {"harbor: www/harbor.js is missing: the start page www/index.html loads the container's page script"}},
      {"broken-config", "<content src=\"index.html\">", {{"www/index.html", loadsBridge}}, {"--until", "x"}, 1,
       {"/broken-config/config.xml is not well-formed XML (line 2, column 86: "}},
      {"broken-page-script", "", {{"www/index.html", loadsBridge}, {"www/harbor.js", "this is not a script("}},
       {"--until", "starttest: ready"}, 1,
       {"harbor: the application did not start: its start page loaded, but the container's page script "
        "www/harbor.js did not run",
        "harbor: terminating: the application did not start, so \"starttest: ready\" will not appear"}},
      {"no-start-page", "<content src=\"missing.html\"/>", {{"www/harbor.js", harborScript()}},
       {"--until", "starttest: ready"}, 1,
       {"ERROR: Start Page at 'www/missing.html' was not found.",
        "harbor: the application did not start: its start page could not be shown"}},
      // Without a text to wait for, the run goes on as long as it was asked to.
      {"no-start-page-timed", "<content src=\"missing.html\"/>", {{"www/harbor.js", harborScript()}},
       {"--run-seconds", "0.5"}, 0,
       {"harbor: the application did not start: its start page could not be shown",
        "harbor: terminating: --run-seconds 0.5 elapsed"}},
      // An application with an error page of its own shows it; a text it prints ends the run.
      {"error-page", "<content src=\"missing.html\"/><preference name=\"ErrorURL\" value=\"error.html\"/>",
       {{"www/harbor.js", harborScript()},
        {"www/error.html", "<script>setTimeout(function () { console.log('starttest: error page'); }, 0);</script>"}},
       {"--until", "starttest: error page"}, 0,
       {"ERROR: Start Page at 'www/missing.html' was not found.", "harbor: terminating: saw \"starttest: error page\""}},
      // A page that never asks for the bridge has started once it has loaded.
      {"plain-page", "", {{"www/index.html", "<script>setTimeout(function () { console.log('starttest: plain'); }, 0);"
                                              "</script>"}},
       {"--until", "starttest: plain"}, 0, {"harbor: terminating: saw \"starttest: plain\""}},
      {"started", "", {{"www/index.html", loadsBridge}, {"www/harbor.js", harborScript()}},
       {"--until", "starttest: ready"}, 0, {"harbor: terminating: saw \"starttest: ready\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bundle = makeBundle(c.name, c.content, c.files);
    std::vector<std::string> arguments = {"--home", inHome(std::string(c.name) + "-home")};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(bundle);
    RunnerProcess harbor(arguments);
    ASSERT_TRUE(harbor.started());
    EXPECT_EQ(harbor.wait(60), c.status) << harbor.log();
    for (const std::string& line : c.lines) EXPECT_NE(harbor.log().find(line), std::string::npos) << line << "\n" << harbor.log();
    bool failed = std::any_of(c.lines.begin(), c.lines.end(),
                              [](const std::string& line) { return line.find("did not start") != std::string::npos; });
    if (!failed) {
      EXPECT_EQ(harbor.log().find("did not start"), std::string::npos) << harbor.log();
    }
  }
}

// A run ends on the engine's word or the first line with --until's text, never on a line a
// page can write: the logger plugin writes a page's text as the whole line. Why the run ends is
// written even right after a page flooded the log past its rate; a page that repeats --until's
// text gets no more lines past the rate than any other.
TEST_F(RunnerStart, APagesLinesNeitherEndTheRunNorGetPastTheLogsRate) {
  struct Case {
    const char* name;
    std::string script;           // run in the start page (a 16000-character `tail` is there)
    bool pageScript;              // the page loads a working harbor.js
    std::vector<std::string> options;
    int status;
    std::vector<std::string> lines;  // in the log
    std::string repeated;            // a text the page repeats, whose lines the rate bounds
  };
  // 16 KB lines, 48 MB of them, or for ever (until page script is stopped).
  const std::string flood = "for (var i = 0; i < 3000; i++) console.log('starttest: flood ' + tail);";
  const std::string endless = "for (;;) console.log('starttest: flood ' + tail);";
  const Case cases[] = {
      // The container's and the engine's lines, written by the page as they stand, while the
      // start is still undecided.
      {"forged",
       "document.addEventListener('deviceready', function () {"
       "  ['WebKit: the page stays empty: forged', 'Failed to load webpage with error: forged',"
       "   'ERROR: Start Page at \\'www/index.html\\' was not found.'].forEach(function (line) {"
       "    harbor.exec(null, null, 'Console', 'logLevel', ['LOG', line]);"
       "  });"
       "  harbor.exec(null, function () { console.log('starttest: ready'); }, 'Nowhere', 'x', []);"
       "});",
       true, {"--until", "starttest: ready"}, 0,
       {"\nWebKit: the page stays empty: forged\n", "\nFailed to load webpage with error: forged\n",
        "\nERROR: Start Page at 'www/index.html' was not found.\n", "harbor: terminating: saw \"starttest: ready\""},
       ""},
      {"repeated", "for (var i = 0; i < 3000; i++) console.log('starttest: ready ' + tail);", true,
       {"--until", "starttest: ready"}, 0, {"harbor: terminating: saw \"starttest: ready\""}, "starttest: ready "},
      {"flood, timed", endless, true, {"--run-seconds", "1"}, 0,
       {"lines dropped\n", "harbor: terminating: --run-seconds 1 elapsed"}, ""},
      {"flood, no start", flood, false, {"--until", "starttest: ready"}, 1,
       {"lines dropped\n", "harbor: the application did not start: its start page loaded, but",
        "harbor: terminating: the application did not start"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string page = "<html><head><script src=\"harbor.js\"></script></head><body><script>"
                       "var tail = new Array(16001).join('x');" +
                       c.script + "</script></body></html>";
    std::string bundle =
        makeBundle(c.name, "<feature name=\"Console\"><param name=\"ios-package\" value=\"HBRLogger\"/></feature>",
                   {{"www/index.html", page}, {"www/harbor.js", c.pageScript ? harborScript() : "this is not a script("}});
    std::vector<std::string> arguments = {"--home", inHome(std::string(c.name) + "-home")};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(bundle);
    auto started = std::chrono::steady_clock::now();
    RunnerProcess harbor(arguments);
    ASSERT_TRUE(harbor.started());
    EXPECT_EQ(harbor.wait(120), c.status) << harbor.log().substr(0, 2000);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    for (const std::string& line : c.lines) EXPECT_NE(harbor.log().find(line), std::string::npos) << line;
    EXPECT_EQ(harbor.log().find("stays empty, so"), std::string::npos);
    if (c.status == 0) {
      EXPECT_EQ(harbor.log().find("did not start"), std::string::npos);
    }
    if (!c.repeated.empty()) {
      // The log's burst (4 MiB) and what its rate (1 MiB a second) gave back while the run lasted.
      double lineBytes = c.repeated.size() + 16000 + 64;
      std::size_t most = static_cast<std::size_t>(((4 << 20) + (1 << 20) * seconds) / lineBytes) + 2;
      std::size_t count = 0;
      for (std::size_t at = harbor.log().find(c.repeated); at != std::string::npos;
           at = harbor.log().find(c.repeated, at + 1))
        ++count;
      EXPECT_LE(count, most) << "a repeated text got past the rate in " << seconds << " s";
    }
  }
}

TEST_F(RunnerStart, TheRunnerSaysWhatItAssumesForABundleWithoutInfoPlist) {
  const std::string page = "<script>setTimeout(function () { console.log('starttest: shown'); }, 0);</script>";
  for (const char* name : {"plain", "my app_1"}) {
    SCOPED_TRACE(name);
    std::string bundle = makeBundle(name, "", {{"www/index.html", page}});
    std::filesystem::remove(bundle + "/Info.plist");
    RunnerProcess harbor({"--home", inHome(std::string(name) + "-home"), "--run-seconds", "30", "--until",
                          "starttest: shown", bundle});
    ASSERT_TRUE(harbor.started());
    if (std::string(name) == "plain") {
      EXPECT_EQ(harbor.wait(60), 0) << harbor.log();
      EXPECT_NE(harbor.log().find("harbor: running " + bundle + " (plain), home"), std::string::npos) << harbor.log();
      EXPECT_NE(harbor.log().find("harbor: " + bundle + "/Info.plist is missing, so the bundle identifier is taken to be "
                                  "the folder's name, \"plain\""),
                std::string::npos)
          << harbor.log();
    } else {
      EXPECT_EQ(harbor.wait(60), 1) << harbor.log();
      EXPECT_EQ(harbor.log(), "harbor: " + bundle + "/Info.plist is missing, and the folder's name, \"my app_1\", cannot "
                              "stand for the bundle identifier (1 to 200 letters, digits, \".\" and \"-\"): add an "
                              "Info.plist with CFBundleIdentifier\n");
      EXPECT_FALSE(exists(inHome("my app_1-home"))) << "nothing is made for an application that cannot run";
    }
  }
}

// What an application lacks is named when it matters: a position asked for without the usage
// description in Info.plist (the page's timeout then ends the wait), a beep without its sound.
TEST_F(RunnerStart, WhatAnApplicationLacksIsSaidWhenItMatters) {
  auto module = [this](const std::string& plugin, const std::string& file) {
    return std::pair<std::string, std::string>{
        "www/plugins/" + plugin + "/" + file,
        readFile(std::string(HARBOR_SOURCE_DIR) + "/Plugins/" + plugin + "/www/" + file)};
  };
  const std::string page = R"(<script src="harbor.js"></script>
<script src="plugins/harbor-plugin-geolocation/geolocation.js"></script>
<script src="plugins/harbor-plugin-dialogs/notification.js"></script>
<script>
document.addEventListener('deviceready', function () {
  harbor.require('harbor-plugin-dialogs.notification').beep(2);
  harbor.require('harbor-plugin-geolocation.geolocation').getCurrentPosition(function () {
    console.log('starttest: position');
  }, function (e) { console.log('starttest: no position ' + e.code + ' ' + e.message); }, {timeout: 1000});
});
</script>)";
  std::string bundle = makeBundle("lacking",
                                  "<feature name=\"Geolocation\"><param name=\"ios-package\" value=\"HBRLocation\"/>"
                                  "</feature><feature name=\"Notification\"><param name=\"ios-package\" "
                                  "value=\"HBRNotification\"/></feature>",
                                  {{"www/index.html", page},
                                   {"www/harbor.js", harborScript()},
                                   module("harbor-plugin-geolocation", "geolocation.js"),
                                   module("harbor-plugin-dialogs", "notification.js")});
  RunnerProcess harbor({"--home", inHome("lacking-home"), "--location", "48.85,2.29", "--run-seconds", "30", "--until",
                        "starttest: ", bundle});
  ASSERT_TRUE(harbor.started());
  EXPECT_EQ(harbor.wait(60), 0) << harbor.log();
  for (const char* line :
       {"HBRNotification: beep: the application bundle has no HBRNotification.bundle/beep.wav; nothing plays.",
        "[Warning] No NSLocationAlwaysUsageDescription or NSLocationWhenInUseUsageDescription key is defined in the "
        "Info.plist file.",
        "starttest: no position 3 Timeout expired"})
    EXPECT_NE(harbor.log().find(line), std::string::npos) << line << "\n" << harbor.log();
}

TEST_F(RunnerStart, ArgumentErrorsAndHomesThatCannotBeMadeSayWhatToChange) {
  std::string bundle = makeBundle("good", "", {{"www/index.html", "<p>"}});
  {
    RunnerProcess harbor({"--run-secnds", "1", bundle});
    EXPECT_EQ(harbor.wait(), 2);
    EXPECT_EQ(harbor.log(), "harbor: unknown option --run-secnds; did you mean --run-seconds?\n"
                            "Run harbor --help for the options.\n");
  }
  // The default home under a data folder that cannot hold one (a file stands where it would go).
  writeFile(inHome("data"), "a file");
  RunnerProcess harbor({"--run-seconds", "1", bundle}, {"XDG_DATA_HOME=" + inHome("data")});
  EXPECT_EQ(harbor.wait(), 1);
  EXPECT_NE(harbor.log().find("harbor: cannot make the sandbox home " + inHome("data") + "/harbor/org.harbor.starttest"),
            std::string::npos)
      << harbor.log();
  EXPECT_NE(harbor.log().find("set XDG_DATA_HOME to a folder you may write to, or give the home with --home DIR"),
            std::string::npos)
      << harbor.log();
}

}  // namespace
}  // namespace harbor::runner
