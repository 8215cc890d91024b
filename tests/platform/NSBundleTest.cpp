#include <gtest/gtest.h>

#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURLCache.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/testing/SandboxTest.h"

using namespace plat;

class NSBundleTest : public plat::testing::SandboxTest {};

TEST_F(NSBundleTest, MainBundleReadsItsInfoPlist) {
  writeInfoPlist(Dictionary{{"CFBundleIdentifier", "org.example"}, {"UIApplicationExitsOnSuspend", true}});
  auto bundle = NSBundle::mainBundle();
  EXPECT_EQ(bundle->bundlePath(), bundlePath());
  EXPECT_EQ(bundle->bundleIdentifier().value_or(""), "org.example");
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("UIApplicationExitsOnSuspend"), Value(true));
  EXPECT_TRUE(bundle->objectForInfoDictionaryKey("Missing").isAbsent());
  EXPECT_EQ(bundle->bundleURL()->absoluteString(), "file://" + bundlePath() + "/");
  EXPECT_EQ(NSBundle::bundleWithPath(inHome("nothing")), nullptr);
  writeFile(inBundle("Info.plist"), "<broken");
  NSBundle::setMainBundlePath(bundlePath());
  EXPECT_TRUE(NSBundle::mainBundle()->infoDictionary().empty());
  EXPECT_FALSE(NSBundle::mainBundle()->bundleIdentifier());
}

TEST_F(NSBundleTest, OnlyPlainIdentifiersBecomeFileNames) {
  struct Case {
    std::string identifier;
    bool valid;
  };
  const Case cases[] = {
      {"org.harbor.hello", true},  {"com.example.My-App2", true},     {std::string(200, 'a'), true},
      {"", false},                 {"..", false},                     {".", false},
      {".hidden", false},          {"org..x", false},                 {"../../../../tmp/victim", false},
      {"a/b", false},              {"/", false},                      {"org.example_app", false},
      {"org example", false},      {std::string(201, 'a'), false},    {std::string(10000, 'a'), false},
      {"caf\xC3\xA9", false},
  };
  EXPECT_FALSE(isValidBundleIdentifier(std::string("a\0b", 3)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identifier.substr(0, 40));
    EXPECT_EQ(isValidBundleIdentifier(c.identifier), c.valid);
    writeInfoPlist(Dictionary{{"CFBundleIdentifier", c.identifier}});
    NSUserDefaults::resetStandardUserDefaults();
    auto defaults = NSUserDefaults::standardUserDefaults();
    std::string expected = c.valid ? c.identifier : "harbor";
    EXPECT_EQ(defaults->persistentDomainPath(), inHome("Library/Preferences/" + expected + ".plist"));
    defaults->setBool(true, "written");
    EXPECT_TRUE(pathIsInsideFolder(NSURLCache::sharedURLCache()->resolvedDiskPath(), inHome("Library/Caches")));
  }
  NSUserDefaults::resetStandardUserDefaults();
}

TEST_F(NSBundleTest, FindsResourcesByNameTypeAndFolderButNeverOutside) {
  writeFile(inBundle("www/index.html"), "<html>");
  writeFile(inBundle("www/js/app.js"), "");
  writeFile(inBundle("config.xml"), "<widget/>");
  writeFile(inBundle("fr.lproj/hello.txt"), "bonjour");
  writeFile(inHome("secret.txt"), "s");
  auto bundle = NSBundle::mainBundle();
  struct Case {
    const char* name;
    const char* type;
    const char* directory;
    const char* expected;  // relative to the bundle; nullptr: nothing
  };
  const Case cases[] = {
      {"config.xml", "", "", "config.xml"},
      {"config", "xml", "", "config.xml"},
      {"config", ".xml", "", "config.xml"},
      {"index.html", "", "www", "www/index.html"},
      {"app.js", "", "www/js", "www/js/app.js"},
      {"js/app.js", "", "www", "www/js/app.js"},
      {"missing.html", "", "www", nullptr},
      {"", "xml", "", nullptr},
      {"secret.txt", "", "..", nullptr},
      {"../secret.txt", "", "www/..", nullptr},
      {"..", "", "", nullptr},
      {"hello.txt", "", "", nullptr},
  };
  for (const auto& c : cases) {
    auto found = bundle->pathForResource(c.name, c.type, c.directory);
    if (c.expected)
      EXPECT_EQ(found.value_or("<none>"), inBundle(c.expected)) << c.name;
    else
      EXPECT_FALSE(found) << c.name << " found " << *found;
  }
  NSLocale::setCurrentLocaleIdentifier("fr_FR");
  EXPECT_EQ(bundle->pathForResource("hello", "txt").value_or("<none>"), inBundle("fr.lproj/hello.txt"));
  EXPECT_EQ(bundle->URLForResource("index", "html", "www")->absoluteString(), "file://" + inBundle("www/index.html"));
  EXPECT_EQ(bundle->URLForResource("none", "html", "www"), nullptr);
}

TEST_F(NSBundleTest, PluginBundlesAndLocalizedStrings) {
  writeFile(inBundle("HBRNotification.bundle/beep.wav"), "RIFF");
  writeFile(inBundle("en.lproj/Localizable.strings"), "/* c */ \"Hello\" = \"Hello!\";\n// x\n\"Quote\" = \"say \\\"hi\\\"\\n\";");
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("\"Hello\" = \"Hallo\";")) {
    utf16 += c;
    utf16 += '\0';
  }
  writeFile(inBundle("de.lproj/Localizable.strings"), utf16);
  auto plugin = NSBundle::bundleWithPath(inBundle("HBRNotification.bundle"));
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->pathForResource("beep", "wav").value_or(""), inBundle("HBRNotification.bundle/beep.wav"));

  auto bundle = NSBundle::mainBundle();
  EXPECT_EQ(bundle->localizedStringForKey("Hello"), "Hello!");
  EXPECT_EQ(bundle->localizedStringForKey("Quote"), "say \"hi\"\n");
  EXPECT_EQ(bundle->localizedStringForKey("Nope", "fallback"), "fallback");
  EXPECT_EQ(bundle->localizedStringForKey("Nope"), "Nope");
  NSLocale::setCurrentLocaleIdentifier("de_DE");
  EXPECT_EQ(bundle->localizedStringForKey("Hello"), "Hallo");
  EXPECT_EQ(bundle->localizedStringForKey("Quote"), "say \"hi\"\n") << "the development region fills gaps";
}

TEST(StringsFile, ReadsTheFormsInUseAndRefusesGarbage) {
  auto table = parseStringsFile("\xEF\xBB\xBF\"a\" = \"1\"; b = c; \"only\"; \"u\" = \"\\U00e9\";");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->get("a"), Value("1"));
  EXPECT_EQ(table->get("b"), Value("c"));
  EXPECT_EQ(table->get("only"), Value("only"));
  EXPECT_EQ(table->get("u"), Value("\xC3\xA9"));
  auto xml = parseStringsFile("<plist><dict><key>k</key><string>v</string></dict></plist>");
  ASSERT_TRUE(xml);
  EXPECT_EQ(xml->get("k"), Value("v"));
  const std::string bad[] = {"\"a\" = \"1\"", "\"a\" = ;", "\"unterminated", "= \"x\";",
                             std::string("\xFF\xFE\x00", 3), std::string("\xFF\xFE\x00\xD8\x41\x00", 6), "\xC3"};
  for (const std::string& text : bad) EXPECT_FALSE(parseStringsFile(text)) << text;
}
