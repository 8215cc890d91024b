#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "HBRConfigLoader.h"
#include "HBRConfigParser.h"
#include "HBRPreferences.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/testing/SandboxTest.h"

using namespace harbor;

namespace {

class HBRConfigParserTest : public plat::testing::SandboxTest {
 protected:
  std::shared_ptr<HBRConfigParser> parse(const std::string& xml) {
    writeFile(inBundle("config.xml"), xml);
    auto parser = std::make_shared<HBRConfigParser>();
    loader.parseSettingsWithParser(parser);
    return parser;
  }

  HBRConfigLoader loader;
};

}  // namespace

TEST_F(HBRConfigParserTest, ReadsPreferencesFeaturesAndStartPage) {
  auto parser = parse(R"(<?xml version="1.0" encoding="UTF-8"?>
<widget xmlns="http://www.w3.org/ns/widgets" id="org.example" version="1.0">
  <preference name="BackupWebStorage" value="local"/>
  <preference name="SplashScreenDelay" value="3000ms"/>
  <preference name="backupwebstorage" value="none"/>
  <preference name="AppendUserAgent" value=""/>
  <feature name="Device">
    <param name="ios-package" value="HBRDevice" onload="TRUE"/>
  </feature>
  <feature name="Camera">
    <param name="ios-package" value="HBRCamera"/>
    <param name="onload" value="TRUE"/>
  </feature>
  <feature name="LocalStorage">
    <param name="ios-package" value="HBRLocalStorage"/>
    <param name="onload" value="true"/>
  </feature>
  <feature name="device">
    <param name="ios-package" value="HBRDevice2"/>
    <param name="other" value="x" onload="true"/>
  </feature>
  <param name="ios-package" value="Orphan"/>
  <Preference name="Ignored" value="case matters"/>
  <content src="first.html"/>
  <content src="index.html?x=1#y"/>
  <allow-navigation href="*"/>
</widget>)");
  EXPECT_EQ(parser->settings(), (plat::Dictionary{{"backupwebstorage", "none"},
                                                  {"splashscreendelay", "3000ms"},
                                                  {"appenduseragent", ""}}));
  EXPECT_EQ(parser->pluginsDict(), (plat::Dictionary{{"device", "HBRDevice2"},
                                                     {"camera", "HBRCamera"},
                                                     {"localstorage", "HBRLocalStorage"}}));
  EXPECT_EQ(parser->startupPluginNames(), (std::vector<std::string>{"device", "localstorage", "device"}))
      << "the attribute in any case counts, the param only with exactly \"true\"";
  EXPECT_EQ(parser->startPage().value_or(""), "index.html?x=1#y");
  EXPECT_FALSE(parser->featureName());
  EXPECT_EQ(harborSettingForKey(parser->settings(), "BACKUPWEBSTORAGE"), plat::Value("none"));
  EXPECT_EQ(harborFloatSettingForKey(parser->settings(), "SplashScreenDelay", 0), 3000.0);
  EXPECT_EQ(loader.configParser() != nullptr, true);
}

TEST_F(HBRConfigParserTest, ElementsMissingTheirNameOrValueAreIgnored) {
  auto parser = parse(R"(<widget>
  <preference value="no name"/>
  <preference name="" value="empty name"/>
  <preference name="NoValue"/>
  <feature>
    <param name="ios-package" value="NamelessFeature" onload="true"/>
  </feature>
  <feature name="">
    <param name="ios-package" value="EmptyName"/>
  </feature>
  <feature name="NoClass">
    <param name="ios-package"/>
    <param name="ios-package" value=""/>
  </feature>
  <content/>
  <content src=""/>
</widget>)");
  EXPECT_TRUE(parser->settings().empty()) << plat::Value(parser->settings()).description();
  EXPECT_TRUE(parser->pluginsDict().empty()) << plat::Value(parser->pluginsDict()).description();
  EXPECT_TRUE(parser->startupPluginNames().empty());
  EXPECT_EQ(parser->startPage().value_or("<none>"), "") << "an empty src is still a src";
}

TEST_F(HBRConfigParserTest, AParseErrorStopsStartUpWithLineColumnAndReason) {
  struct Case {
    std::string xml;
    std::string start;   // the fixed text with the position
    std::string reason;  // a piece of the parser's reason after it
  } cases[] = {
      {"<widget>\n  <preference name=\"a\" value=\"b\">\n</widget>", "config.xml parse error line 3 col 10: ",
       "preference"},
      {"<widget>\n<feature name=\"x\"></feature>\n<oops", "config.xml parse error line 3 col ", "oops"},
      {"<!DOCTYPE w [<!ENTITY e \"x\">]><widget/>", "config.xml parse error line 1 col ",
       ": Entity declarations are not allowed"},
  };
  for (const auto& c : cases) {
    std::string reason = assertionOf([&] { parse(c.xml); });
    EXPECT_TRUE(reason.starts_with(c.start)) << reason;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
  }
}

TEST_F(HBRConfigParserTest, AConfigTooLargeForTheParserIsRefusedUnread) {
  // Sparse: reading it would cost gigabytes, refusing it costs nothing.
  std::string path = inHome("huge-config.xml");
  writeFile(path, "");
  ASSERT_EQ(::truncate(path.c_str(), off_t{3} << 30), 0);
  loader.setConfigFile(path);
  auto parser = std::make_shared<HBRConfigParser>();
  std::string reason = assertionOf([&] { loader.parseSettingsWithParser(parser); });
  EXPECT_EQ(reason, "ERROR: " + path + " is too large (3221225472 bytes); a configuration file may be at most 4 MiB.");
}

TEST_F(HBRConfigParserTest, FindsTheFileOrStopsWithTheFixedTexts) {
  writeFile(inBundle("config.xml"), "<widget/>");
  EXPECT_EQ(loader.configFilePath(), inBundle("config.xml"));
  loader.setConfigFile("other.xml");
  EXPECT_EQ(assertionOf([&] { loader.configFilePath(); }), "ERROR: other.xml not found in the main bundle!");
  loader.setConfigFile(inHome("absent.xml"));
  EXPECT_EQ(assertionOf([&] { loader.configFilePath(); }),
            "ERROR: " + inHome("absent.xml") +
                " does not exist. Please run harbor-ios/bin/harbor_plist_to_config_xml path/to/project.");
  writeFile(inHome("elsewhere.xml"), "<widget><preference name=\"A\" value=\"1\"/></widget>");
  loader.setConfigFile(inHome("elsewhere.xml"));
  auto parser = std::make_shared<HBRConfigParser>();
  loader.parseSettingsWithParser(parser);
  EXPECT_EQ(parser->settings().get("a"), plat::Value("1"));
}

TEST_F(HBRConfigParserTest, WhatCannotBeAConfigurationStopsStartUpUnreadWithTheReason) {
  // Each would otherwise start an application without plugins, or read without end.
  const std::string path = inBundle("config.xml");
  const std::string valid = "<widget><preference name=\"A\" value=\"1\"/></widget>";
  auto padded = [&](std::size_t size) {  // a valid file of exactly this size
    return valid + "<!--" + std::string(size - valid.size() - 7, ' ') + "-->";
  };
  auto sparse = [&](off_t size) {
    writeFile(path, "");
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
  };
  struct Case {
    const char* name;
    std::function<void()> make;
    std::string reason;  // empty: parsed
  };
  const Case cases[] = {
      {"a folder", [&] { ASSERT_TRUE(plat::NSFileManager::defaultManager().createDirectoryAtPath(path, true)); },
       "ERROR: " + path + " is a folder, not a plain file; the configuration cannot be read from it."},
      {"a named pipe", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
       "ERROR: " + path + " is a named pipe, not a plain file; the configuration cannot be read from it."},
      {"a link to an endless device", [&] { ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0); },
       "ERROR: " + path + " is a device, not a plain file; the configuration cannot be read from it."},
      {"empty", [&] { writeFile(path, ""); }, "ERROR: " + path + " is empty."},
      {"500 MB", [&] { sparse(off_t{500} << 20); },
       "ERROR: " + path + " is too large (524288000 bytes); a configuration file may be at most 4 MiB."},
      {"one byte over 4 MiB", [&] { writeFile(path, padded((4u << 20) + 1)); },
       "ERROR: " + path + " is too large (4194305 bytes); a configuration file may be at most 4 MiB."},
      {"exactly 4 MiB", [&] { writeFile(path, padded(4u << 20)); }, ""},
      {"a link to a plain file", [&] {
         writeFile(inBundle("real.xml"), valid);
         ASSERT_EQ(::symlink(inBundle("real.xml").c_str(), path.c_str()), 0);
       }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat::NSFileManager::defaultManager().removeItemAtPath(path);
    c.make();
    auto parser = std::make_shared<HBRConfigParser>();
    if (c.reason.empty()) {
      loader.parseSettingsWithParser(parser);
      EXPECT_EQ(parser->settings().get("a"), plat::Value("1"));
    } else {
      EXPECT_EQ(assertionOf([&] { loader.parseSettingsWithParser(parser); }), c.reason);
      EXPECT_TRUE(parser->settings().empty());
    }
    EXPECT_FALSE(log_->contains("Failed to initialize XML parser."));
  }
}
