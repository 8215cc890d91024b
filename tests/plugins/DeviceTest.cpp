// The device information and its stored identifier.
#include <gtest/gtest.h>

#include <cctype>

#include "DevicePlugin.h"
#include "HBRDevice.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/sys/sysctl.h"
#include "support/PluginTest.h"

using namespace harbor;
using plat::Value;

namespace {

// "XXXXXXXX-XXXX-4XXX-[89AB]XXX-XXXXXXXXXXXX" in upper-case hex.
bool isVersion4UUID(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    char c = text[i];
    if (dash ? c != '-' : !(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'))) return false;
  }
  return text[14] == '4' && std::string("89AB").find(text[19]) != std::string::npos;
}

class Device : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerDevicePlugin();
    plat::setSysctlString("hw.machine", "iPhone8,1");
    plat::UIDevice::currentDevice()->setIdentifierForVendor("11111111-2222-4333-8444-555555555555");
  }
  void TearDown() override {
    plat::setSysctlString("hw.machine", std::nullopt);
    PluginTest::TearDown();
  }
  // getDeviceInfo through a new plugin instance.
  plat::Value deviceInfo() {
    EXPECT_TRUE(createPlugin("HBRDevice", "Device"));
    exec("Device", "getDeviceInfo", {}, "dev");
    auto callbacks = takeCallbacks();
    EXPECT_EQ(callbacks.size(), 1u);
    if (callbacks.empty()) return Value();
    EXPECT_EQ(callbacks[0].status, 1);
    EXPECT_FALSE(callbacks[0].keepCallback);
    return callbacks[0].message;
  }
};

}  // namespace

TEST_F(Device, TheSevenKeys) {
  plat::UIDevice::currentDevice()->setSystemVersion("9.3.5");
  Value info = deviceInfo();
  ASSERT_TRUE(info.isDictionary());
  EXPECT_EQ(info.asDictionary().size(), 7u);
  EXPECT_EQ(info["manufacturer"], Value("Apple"));
  EXPECT_EQ(info["model"], Value("iPhone8,1"));
  EXPECT_EQ(info["platform"], Value("iOS"));
  EXPECT_EQ(info["version"], Value("9.3.5"));
  EXPECT_EQ(info["uuid"], Value("11111111-2222-4333-8444-555555555555"));
  EXPECT_EQ(info["harbor"], Value("4.2.0"));
  EXPECT_EQ(info["isVirtual"], Value(false));
}

TEST_F(Device, TheModelIsTheMachineNameOfThisHost) {
  plat::setSysctlString("hw.machine", std::nullopt);
  Value info = deviceInfo();
  EXPECT_FALSE(info["model"].stringOr().empty());
}

TEST_F(Device, TheUUIDStaysTheSameAcrossInstancesRestartsAndVendorChanges) {
  std::string first = deviceInfo()["uuid"].stringOr();
  EXPECT_EQ(plat::NSUserDefaults::standardUserDefaults()->objectForKey("HBRUUID"), Value(first));

  plat::UIDevice::currentDevice()->setIdentifierForVendor("99999999-2222-4333-8444-555555555555");
  EXPECT_EQ(deviceInfo()["uuid"], Value(first)) << "another plugin instance";

  // The defaults store starts again from its file, as on the next launch.
  plat::NSUserDefaults::resetStandardUserDefaults();
  EXPECT_EQ(deviceInfo()["uuid"], Value(first));
}

TEST_F(Device, WithoutAVendorIdentifierARandomOneIsMadeAndKept) {
  plat::UIDevice::currentDevice()->setIdentifierForVendor(std::nullopt);
  std::string made = deviceInfo()["uuid"].stringOr();
  EXPECT_TRUE(isVersion4UUID(made)) << made;
  plat::NSUserDefaults::resetStandardUserDefaults();
  EXPECT_EQ(deviceInfo()["uuid"], Value(made));
}

TEST_F(Device, AStoredValueThatIsNoIdentifierIsReplaced) {
  const Value stored[] = {Value(""), Value(42), Value(plat::Array{"x"})};
  for (const auto& value : stored) {
    plat::NSUserDefaults::standardUserDefaults()->setObject(value, "HBRUUID");
    EXPECT_EQ(deviceInfo()["uuid"], Value("11111111-2222-4333-8444-555555555555"));
  }
}
