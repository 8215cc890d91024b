#include <gtest/gtest.h>

#include "HBRCommandDelegateImpl.h"
#include "HBRInvokedUrlCommand.h"
#include "HBRPlugin.h"
#include "HBRPluginResult.h"
#include "plat/foundation/JSON.h"
#include "plat/testing/PlatformTest.h"

using namespace harbor;
using plat::Array;
using plat::Data;
using plat::Dictionary;
using plat::Value;

namespace {

HBRInvokedUrlCommandPtr command(const char* json) {
  auto entry = plat::json::parse(json);
  EXPECT_TRUE(entry) << json;
  return HBRInvokedUrlCommand::commandFromJson(*entry);
}

}  // namespace

TEST(HBRInvokedUrlCommand, ReadsTheBatchEntryShape) {
  auto c = command(R"(["Device1","Device","getInfo",[1,"two"]])");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->callbackId(), "Device1");
  EXPECT_EQ(c->className(), "Device");
  EXPECT_EQ(c->methodName(), "getInfo");
  EXPECT_EQ(c->arguments().size(), 2u);

  auto nullId = command(R"([null,"S","a",[]])");
  ASSERT_TRUE(nullId);
  EXPECT_FALSE(nullId->callbackId().has_value());

  // Malformed entries are refused rather than half-built.
  for (const char* bad : {R"(["id","S","a"])", R"(["id",3,"a",[]])", R"(["id","S",null,[]])", R"(["id","S","a",{}])",
                          R"({"id":1})"})
    EXPECT_FALSE(command(bad)) << bad;

  // A callback id that is not a string can never be answered.
  auto numericId = command(R"([7,"S","a",[]])");
  ASSERT_TRUE(numericId);
  ASSERT_TRUE(numericId->callbackId().has_value());
  EXPECT_FALSE(HBRCommandDelegateImpl::isValidCallbackId(*numericId->callbackId()));
}

TEST(HBRInvokedUrlCommand, ArgumentAtIndexFallsBackToTheDefault) {
  auto c = command(R"(["id","S","a",["x",null,3,true]])");
  ASSERT_TRUE(c);
  struct Case {
    std::size_t index;
    Value defaultValue;
    std::optional<Value::Type> type;
    Value expected;
  };
  const Case cases[] = {
      {0, "d", std::nullopt, "x"},
      {1, "d", std::nullopt, "d"},           // null gives the default
      {4, "d", std::nullopt, "d"},           // index == count
      {99, Value(), std::nullopt, Value()},  // no default: nothing
      {0, 5, Value::Type::String, "x"},
      {2, "d", Value::Type::String, "d"},    // another class
      {2, 0, Value::Type::Int, 3},
      {3, 7, Value::Type::String, 7},        // the default is returned whatever its class
  };
  for (const auto& k : cases) {
    Value got = k.type ? c->argumentAtIndex(k.index, k.defaultValue, *k.type) : c->argumentAtIndex(k.index, k.defaultValue);
    EXPECT_EQ(got, k.expected) << "index " << k.index;
  }
}

TEST(HBRInvokedUrlCommand, ArrayBufferWrappersArriveAsBytes) {
  auto c = command(R"(["id","S","a",[
      {"HBRType":"ArrayBuffer","data":"YWJj"},
      {"HBRType":"ArrayBuffer"},
      {"HBRType":"ArrayBuffer","data":"not base64!"},
      {"HBRType":"ArrayBuffer","data":42},
      [{"HBRType":"ArrayBuffer","data":"YWJj"}],
      {"HBRType":"Other","data":"YWJj"}]])");
  ASSERT_TRUE(c);
  const Array& args = c->arguments();
  EXPECT_EQ(args[0], Value(Data{'a', 'b', 'c'}));
  EXPECT_TRUE(args[1].isDictionary()) << "no data: unchanged";
  EXPECT_TRUE(args[2].isDictionary()) << "invalid Base64: unchanged";
  EXPECT_TRUE(args[3].isDictionary()) << "non-string data: unchanged";
  EXPECT_TRUE(args[4].at(0).isDictionary()) << "nested wrappers are not touched";
  EXPECT_TRUE(args[5].isDictionary());
}

TEST(HBRPluginResult, MessagesBecomeOneJsonValue) {
  struct Case {
    HBRPluginResultPtr result;
    const char* json;
  };
  using S = HBRCommandStatus;
  const Case cases[] = {
      {HBRPluginResult::resultWithStatus(S::OK), "null"},
      {HBRPluginResult::resultWithStatusMessageAsString(S::OK, "abc"), "\"abc\""},
      {HBRPluginResult::resultWithStatusMessageAsArray(S::OK, Array{1, 2}), "[1,2]"},
      {HBRPluginResult::resultWithStatusMessageAsInt(S::OK, -3), "-3"},
      {HBRPluginResult::resultWithStatusMessageAsNSUInteger(S::OK, 18446744073709551615ull), "18446744073709551615"},
      {HBRPluginResult::resultWithStatusMessageAsDouble(S::OK, 0.5), "0.5"},
      {HBRPluginResult::resultWithStatusMessageAsBool(S::OK, false), "false"},
      {HBRPluginResult::resultWithStatusMessageAsDictionary(S::OK, Dictionary{{"b", 1}, {"a", "x"}}),
       R"({"b":1,"a":"x"})"},
      {HBRPluginResult::resultWithStatusMessageToErrorObject(S::Error, 5), R"({"code":5})"},
      {HBRPluginResult::resultWithStatusMessageAsArrayBuffer(S::OK, Data{'a', 'b', 'c'}),
       R"({"HBRType":"ArrayBuffer","data":"YWJj"})"},
      {HBRPluginResult::resultWithStatusMessageAsMultipart(S::OK, Array{Data{'a', 'b', 'c'}, "x", 3}),
       R"({"HBRType":"MultiPart","messages":[{"HBRType":"ArrayBuffer","data":"YWJj"},"x",3]})"},
  };
  for (const auto& c : cases) {
    auto json = c.result->argumentsAsJSON();
    ASSERT_TRUE(json) << c.json;
    EXPECT_EQ(*json, c.json);
  }
  // Only the top level of a multipart message is wrapped: nested bytes cannot be written.
  auto nested = HBRPluginResult::resultWithStatusMessageAsMultipart(S::OK, Array{Array{Data{1}}});
  EXPECT_FALSE(nested->argumentsAsJSON());
}

TEST(HBRPluginResult, StatusTextsAndDefaults) {
  const char* texts[] = {"No result", "OK", "Class not found", "Illegal access", "Instantiation error",
                         "Malformed url", "IO error", "Invalid action", "JSON error", "Error"};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(HBRPluginResult::statusText(static_cast<HBRCommandStatus>(i)), texts[i]);
  HBRPluginResult plain;
  EXPECT_EQ(plain.status(), HBRCommandStatus::NoResult);
  EXPECT_FALSE(plain.keepCallback());
  EXPECT_EQ(plain.argumentsAsJSON(), "null");
}

class HBRPluginHooks : public plat::testing::PlatformTest {};

namespace {

class CountingPlugin : public HBRPlugin {
 public:
  int resets = 0, terminates = 0, warnings = 0, urls = 0;
  void onReset() override { ++resets; }
  void onAppTerminate() override { ++terminates; }
  void onMemoryWarning() override { ++warnings; }
  void handleOpenURL(const plat::NSNotification&) override { ++urls; }
};

class ViewOnlyEngine : public plat::Object, public HBRWebViewEngineProtocol {
 public:
  plat::ObjectPtr view = std::make_shared<plat::Object>();
  void evaluateJavaScript(const std::string&, EvaluationCompletion) override {}
  plat::ObjectPtr engineWebView() override { return view; }
};

}  // namespace

TEST_F(HBRPluginHooks, ResetOnlyForItsOwnEngineViewOtherHooksForAnySender) {
  auto engineA = std::make_shared<ViewOnlyEngine>();
  auto engineB = std::make_shared<ViewOnlyEngine>();
  auto plugin = std::make_shared<CountingPlugin>();
  plugin->initWithWebViewEngine(engineA);
  auto& center = plat::NSNotificationCenter::defaultCenter();

  center.post(kHBRPluginResetNotification, engineB->view);
  center.post(kHBRPluginResetNotification, engineA->view);
  center.post(kUIApplicationWillTerminateNotification, engineB->view);
  center.post(kUIApplicationDidReceiveMemoryWarningNotification);
  center.post(kHBRPluginHandleOpenURLNotification, std::make_shared<plat::Object>());
  EXPECT_EQ(plugin->resets, 1);
  EXPECT_EQ(plugin->terminates, 1);
  EXPECT_EQ(plugin->warnings, 1);
  EXPECT_EQ(plugin->urls, 1);
  EXPECT_EQ(plugin->webView(), engineA->view);

  // A destroyed plugin hears nothing and leaves no registration behind.
  plugin.reset();
  center.post(kHBRPluginResetNotification, engineA->view);
  EXPECT_EQ(center.observerCount(), 0u);
}

TEST_F(HBRPluginHooks, APluginWithoutAnEngineViewHearsNoResets) {
  auto viewless = std::make_shared<ViewOnlyEngine>();
  viewless->view = nullptr;
  auto& center = plat::NSNotificationCenter::defaultCenter();
  auto someView = std::make_shared<plat::Object>();
  for (const std::shared_ptr<HBRWebViewEngineProtocol>& engine :
       {std::shared_ptr<HBRWebViewEngineProtocol>(), std::shared_ptr<HBRWebViewEngineProtocol>(viewless)}) {
    auto plugin = std::make_shared<CountingPlugin>();
    plugin->initWithWebViewEngine(engine);
    center.post(kHBRPluginResetNotification, someView);
    center.post(kHBRPluginResetNotification);
    center.post(kUIApplicationDidReceiveMemoryWarningNotification);
    EXPECT_EQ(plugin->resets, 0);
    EXPECT_EQ(plugin->warnings, 1) << "the other hooks still hear every sender";
  }
}
