#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "HBRPreferences.h"

using namespace harbor;

TEST(HBRPreferences, NamesAreFoundInAnyLetterCase) {
  plat::Dictionary settings;
  setHarborSetting(settings, "local", "BackupWebStorage");
  EXPECT_TRUE(settings.contains("backupwebstorage"));
  for (const char* name : {"backupwebstorage", "BACKUPWEBSTORAGE", "BackupWebStorage", "bAcKuPwEbStOrAgE"})
    EXPECT_EQ(harborSettingForKey(settings, name), plat::Value("local")) << name;
  EXPECT_TRUE(harborSettingForKey(settings, "Other").isAbsent());
}

TEST(HBRPreferences, BooleanReadingOfTexts) {
  const std::pair<const char*, bool> cases[] = {
      {"true", true},   {"TRUE", true},   {"YES", true},   {"yes", true},     {"1", true},
      {"t", true},      {"Y", true},      {"9", true},     {"  +0003", true}, {"-1", true},
      {"\t\n true", true}, {"007", true}, {"Yesterday", true},
      {"false", false}, {"no", false},    {"0", false},    {"off", false},    {"on", false},
      {"", false},      {"000", false},   {"0x1", false},  {"+-1", false},    {"   ", false},
      {"-", false},     {"N", false},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(HBRBoolValueOfText(text), expected) << '"' << text << '"';
}

TEST(HBRPreferences, BooleanSettingsFallBackOnlyWhenNothingIsStored) {
  plat::Dictionary settings{{"off", "false"}, {"on", "YES"}, {"number", 0}, {"list", plat::Array{}}};
  for (bool defaultValue : {false, true}) {
    EXPECT_EQ(harborBoolSettingForKey(settings, "Missing", defaultValue), defaultValue);
    EXPECT_FALSE(harborBoolSettingForKey(settings, "Off", defaultValue));
    EXPECT_TRUE(harborBoolSettingForKey(settings, "ON", defaultValue));
    EXPECT_FALSE(harborBoolSettingForKey(settings, "number", defaultValue));
    EXPECT_EQ(harborBoolSettingForKey(settings, "list", defaultValue), defaultValue) << "no reading";
  }
}

TEST(HBRPreferences, NumberReadingOfTexts) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<const char*, float> cases[] = {
      {"3000", 3000.0f}, {"3000ms", 3000.0f}, {"  -1.5e3x", -1500.0f}, {".5", 0.5f},    {"5.", 5.0f},
      {"1e", 1.0f},      {"1e+", 1.0f},       {"2E-1", 0.2f},          {"1.2.3", 1.2f}, {"0.1", 0.1f},
      {"+7", 7.0f},      {"1,5", 1.0f},       {"abc", 0.0f},           {"", 0.0f},      {".", 0.0f},
      {"+.e1", 0.0f},    {"-", 0.0f},         {"inf", 0.0f},           {"nan", 0.0f},   {"0x10", 0.0f},
      {"1e39", inf},     {"-1e39", -inf},     {"1e-50", 0.0f},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(HBRFloatValueOfText(text), expected) << '"' << text << '"';
}

TEST(HBRPreferences, NumberReadingIgnoresTheProcessLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = previous ? previous : "C";
  bool switched = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
    if (std::setlocale(LC_NUMERIC, name)) {
      switched = true;
      break;
    }
  float value = HBRFloatValueOfText("1.5");
  std::setlocale(LC_NUMERIC, saved.c_str());
  if (!switched) GTEST_SKIP() << "no locale with a decimal comma installed";
  EXPECT_EQ(value, 1.5f);
}

TEST(HBRPreferences, NumberSettingsReadInSinglePrecision) {
  plat::Dictionary settings{{"splashscreendelay", "3000ms"}, {"ratio", "0.1"}, {"bad", "abc"}, {"real", 2.5}};
  EXPECT_EQ(harborFloatSettingForKey(settings, "SplashScreenDelay", 1), 3000.0);
  EXPECT_EQ(harborFloatSettingForKey(settings, "ratio", 1), static_cast<double>(0.1f)) << "not the double 0.1";
  EXPECT_EQ(harborFloatSettingForKey(settings, "bad", 42), 0.0) << "a text without a number reads as 0";
  EXPECT_EQ(harborFloatSettingForKey(settings, "missing", 42), 42.0);
  EXPECT_EQ(harborFloatSettingForKey(settings, "real", 42), 2.5);
}
