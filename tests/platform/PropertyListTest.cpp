#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>

#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/foundation/PropertyList.h"
#include "plat/testing/SandboxTest.h"

using namespace plat;

TEST(PropertyList, WritesAndReadsBackEveryKind) {
  Dictionary nested{{"empty array", Array{}}, {"empty dict", Dictionary{}}};
  Value value = Dictionary{
      {"string", "a <b> & \"c\" \xC3\xA9\r\n\t"},
      {"int", -42},
      {"big", std::uint64_t{18446744073709551615ULL}},
      {"min", INT64_MIN},
      {"real", 0.1},
      {"yes", true},
      {"no", false},
      {"data", Data{0, 255, 7}},
      {"array", Array{1, "two", Array{3.5}}},
      {"nested", nested},
      {"", "empty key"},
  };
  auto xml = plist::writeXML(value);
  ASSERT_TRUE(xml) << xml.error();
  auto back = plist::parse(*xml);
  ASSERT_TRUE(back) << back.error();
  EXPECT_EQ(*back, value);
  auto special = plist::parse(*plist::writeXML(Array{std::nan(""), HUGE_VAL, -HUGE_VAL}));
  ASSERT_TRUE(special);
  EXPECT_TRUE(std::isnan(special->at(0).asDouble()));
  EXPECT_EQ(special->at(1).asDouble(), HUGE_VAL);
  EXPECT_EQ(special->at(2).asDouble(), -HUGE_VAL);
}

TEST(PropertyList, RefusesWhatItCouldNotReadBack) {
  const Value refused[] = {Value::null(), Value(), Array{Value::null()}, Value("bell\x07"), Value("\xFF"),
                           Dictionary{{"k\x01", 1}}};
  for (const Value& v : refused) EXPECT_FALSE(plist::writeXML(v)) << v.description();
}

TEST(PropertyList, ReadsWhatOtherWritersProduce) {
  auto value = plist::parse(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>org.example.app</string>
  <key>When</key><date>2015-01-02T03:04:05Z</date>
  <key>Blob</key><data>
    AAEC
    Aw==
  </data>
  <key>Hex</key><integer> 12 </integer>
  <key>CDATA</key><string><![CDATA[<x>]]></string>
  <key>Empty</key><string/>
</dict></plist>)");
  ASSERT_TRUE(value) << value.error();
  EXPECT_EQ((*value)["CFBundleIdentifier"], Value("org.example.app"));
  EXPECT_EQ((*value)["When"], Value("2015-01-02T03:04:05Z"));
  EXPECT_EQ((*value)["Blob"], Value(Data{0, 1, 2, 3}));
  EXPECT_EQ((*value)["Hex"], Value(12));
  EXPECT_EQ((*value)["CDATA"], Value("<x>"));
  EXPECT_EQ((*value)["Empty"], Value(""));
}

TEST(PropertyList, MalformedInputIsAnErrorNotACrash) {
  const char* bad[] = {
      "",
      "not xml",
      "<dict/>",
      "<plist></plist>",
      "<plist><dict><key>a</key></dict></plist>",
      "<plist><dict><string>x</string></dict></plist>",
      "<plist><dict><key>a</key><key>b</key></dict></plist>",
      "<plist><array><key>a</key></array></plist>",
      "<plist><string>a</string><string>b</string></plist>",
      "<plist><integer>12x</integer></plist>",
      "<plist><integer>99999999999999999999</integer></plist>",
      "<plist><integer>-9223372036854775809</integer></plist>",
      "<plist><real>1.5.5</real></plist>",
      "<plist><data>!!!</data></plist>",
      "<plist><thing/></plist>",
      "<plist><string><b>x</b></string></plist>",
      "<plist><array>",
      "<!DOCTYPE plist [<!ENTITY a \"aaaa\">]><plist><string>&a;</string></plist>",
      "<!DOCTYPE plist [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><plist><string>&x;</string></plist>",
  };
  for (const char* text : bad) EXPECT_FALSE(plist::parse(text)) << text;
}

class PropertyListFileTest : public plat::testing::SandboxTest {};

TEST_F(PropertyListFileTest, FilesAreWrittenWholeAndReadErrorsAreReported) {
  std::string path = inHome("Library/Preferences/x.plist");
  ASSERT_TRUE(plist::writeToFile(Dictionary{{"a", 1}}, path));
  EXPECT_EQ(plist::readFromFile(path).value_or(Value()), Value(Dictionary{{"a", 1}}));
  NSError error;
  EXPECT_FALSE(plist::writeToFile(Dictionary{{"a", Value::null()}}, path, &error));
  EXPECT_EQ(plist::readFromFile(path).value_or(Value()), Value(Dictionary{{"a", 1}})) << "old file kept";
  writeFile(path, "<plist><dict>");
  EXPECT_FALSE(plist::readFromFile(path, &error));
  EXPECT_EQ(error.code, NSFileReadCorruptFileError);
  EXPECT_FALSE(plist::readFromFile(inHome("missing.plist"), &error));
  EXPECT_EQ(error.code, NSFileReadNoSuchFileError);
}

class NSUserDefaultsTest : public plat::testing::SandboxTest {
 protected:
  std::string file() { return inHome("Library/Preferences/org.harbor.tests.plist"); }
};

TEST_F(NSUserDefaultsTest, ChangesReachTheFileAtOnceAndRegistrationsNever) {
  auto defaults = NSUserDefaults::standardUserDefaults();
  EXPECT_EQ(defaults->persistentDomainPath(), file());
  defaults->registerDefaults(Dictionary{{"UserAgent", "registered"}, {"Shared", "registered"}});
  defaults->setObject("stored", "Shared");
  defaults->setBool(true, "Flag");
  EXPECT_EQ(defaults->objectForKey("UserAgent"), Value("registered"));
  EXPECT_EQ(defaults->objectForKey("Shared"), Value("stored")) << "the persistent domain wins";

  auto onDisk = plist::readFromFile(file());
  ASSERT_TRUE(onDisk);
  EXPECT_EQ(*onDisk, Value(Dictionary{{"Shared", "stored"}, {"Flag", true}}));

  NSUserDefaults::resetStandardUserDefaults();
  auto again = NSUserDefaults::standardUserDefaults();
  EXPECT_NE(again, defaults);
  EXPECT_TRUE(again->objectForKey("UserAgent").isAbsent());
  EXPECT_TRUE(again->boolForKey("Flag"));
  again->removeObjectForKey("Flag");
  EXPECT_EQ(*plist::readFromFile(file()), Value(Dictionary{{"Shared", "stored"}}));
}

TEST_F(NSUserDefaultsTest, StoringAnUnchangedValueLeavesTheFileAlone) {
  auto inode = [&] {
    struct stat st {};
    EXPECT_EQ(::stat(file().c_str(), &st), 0);
    return st.st_ino;
  };
  auto defaults = NSUserDefaults::standardUserDefaults();
  defaults->setObject("1", "a");
  auto first = inode();
  defaults->setObject("1", "a");
  EXPECT_EQ(inode(), first) << "not written again";
  defaults->setObject(1, "a");
  EXPECT_NE(inode(), first) << "another type is another value";
  auto second = inode();
  // Someone else rewrote the file since: the value is stored again, whatever memory says.
  ASSERT_TRUE(plist::writeToFile(Dictionary{{"a", "other"}}, file()));
  auto third = inode();
  ASSERT_NE(third, second);
  defaults->setObject(1, "a");
  EXPECT_NE(inode(), third);
  NSUserDefaults::resetStandardUserDefaults();
  EXPECT_EQ(NSUserDefaults::standardUserDefaults()->objectForKey("a"), Value(1));
}

TEST_F(NSUserDefaultsTest, SynchronizeSeesChangesMadeToTheFile) {
  auto defaults = NSUserDefaults::standardUserDefaults();
  defaults->setObject("1", "a");
  ASSERT_TRUE(plist::writeToFile(Dictionary{{"a", "2"}, {"b", 3}}, file()));
  EXPECT_EQ(defaults->objectForKey("a"), Value("1"));
  EXPECT_TRUE(defaults->synchronize());
  EXPECT_EQ(defaults->objectForKey("a"), Value("2"));
  EXPECT_EQ(defaults->integerForKey("b"), 3);
}

TEST_F(NSUserDefaultsTest, TypedReadersAndRefusedValues) {
  auto defaults = NSUserDefaults::standardUserDefaults();
  defaults->setObject("YES", "s");
  defaults->setObject(2.5, "d");
  defaults->setObject(Value::null(), "s2");
  EXPECT_TRUE(defaults->boolForKey("s"));
  EXPECT_FALSE(defaults->boolForKey("missing"));
  EXPECT_EQ(defaults->doubleForKey("d"), 2.5);
  EXPECT_EQ(defaults->stringForKey("d").value_or(""), "2.5");
  EXPECT_FALSE(defaults->stringForKey("missing"));
  defaults->setObject(Array{Value::null()}, "bad");
  EXPECT_TRUE(defaults->objectForKey("bad").isAbsent());
  EXPECT_TRUE(log_->contains("Attempt to insert non-property list object"));
  EXPECT_EQ(defaults->dictionaryRepresentation().size(), 2u);
}

TEST_F(NSUserDefaultsTest, AnUnreadableFileStartsEmpty) {
  writeFile(file(), "garbage");
  auto defaults = NSUserDefaults::standardUserDefaults();
  EXPECT_TRUE(defaults->dictionaryRepresentation().empty());
}
