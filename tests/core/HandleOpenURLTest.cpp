#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HBRHandleOpenURL.h"
#include "HBRPlugin.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/Strings.h"
#include "plat/testing/PlatformTest.h"
#include "support/FakeWebViewEngine.h"
#include "support/ScriptRecordingEngine.h"

using namespace harbor;
using harbor::testing::FakeWebViewEngine;
using harbor::testing::ScriptRecordingEngine;

namespace {

constexpr char kExpectedScript[] =
    "document.addEventListener('deviceready',function(){if (typeof handleOpenURL === 'function') { "
    "handleOpenURL(\"myapp://open/item?id=42&x='y'#top\");}});";

// The expected script with another string literal in place of the URL.
std::string withLiteral(const std::string& literal) {
  const std::string script = kExpectedScript;
  const std::size_t open = script.find("handleOpenURL(\"") + 15;
  const std::size_t close = script.rfind("\");}});");
  return script.substr(0, open) + literal + script.substr(close);
}

class HandleOpenURLTest : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    engine = std::make_shared<ScriptRecordingEngine>();
    plugin = std::make_shared<HBRHandleOpenURL>();
    plugin->initWithWebViewEngine(engine);
    plugin->pluginInitialize();
  }

  static void openURL(const std::string& text) {
    plat::NSNotificationCenter::defaultCenter().post(kHBRPluginHandleOpenURLNotification,
                                                     plat::NSURL::URLWithString(text));
  }
  void pageDidLoad() {
    plat::NSNotificationCenter::defaultCenter().post(kHBRPageDidLoadNotification,
                                                     engine ? engine->engineWebView() : nullptr);
  }
  static std::string scriptFor(const std::string& url) { return HBRHandleOpenURL::scriptForURL(url); }

  std::shared_ptr<ScriptRecordingEngine> engine;
  std::shared_ptr<HBRHandleOpenURL> plugin;
};

}  // namespace

TEST_F(HandleOpenURLTest, TheScriptHandsTheUrlToHandleOpenURLAfterDeviceReady) {
  EXPECT_EQ(scriptFor("myapp://open/item?id=42&x='y'#top"), kExpectedScript);
  // The template around the URL is 118 characters with its "%@".
  EXPECT_EQ(scriptFor("").size(), 116u);
}

TEST_F(HandleOpenURLTest, AUrlOpenedBeforeTheFirstLoadWaitsForIt) {
  openURL("myapp://first");
  EXPECT_TRUE(engine->scripts.empty());
  ASSERT_TRUE(plugin->url());
  EXPECT_EQ(plugin->url()->absoluteString(), "myapp://first");

  pageDidLoad();
  EXPECT_EQ(engine->scripts, std::vector<std::string>{scriptFor("myapp://first")});
  EXPECT_FALSE(plugin->url());
  EXPECT_TRUE(plugin->pageLoaded());

  // Delivered exactly once: later loads bring nothing new.
  pageDidLoad();
  EXPECT_EQ(engine->scripts.size(), 1u);
}

TEST_F(HandleOpenURLTest, OnlyTheLastOfTwoEarlyUrlsIsDelivered) {
  openURL("myapp://first");
  openURL("myapp://second");
  pageDidLoad();
  EXPECT_EQ(engine->scripts, std::vector<std::string>{scriptFor("myapp://second")});
}

TEST_F(HandleOpenURLTest, AfterTheFirstLoadEveryUrlIsDeliveredAtOnce) {
  pageDidLoad();
  EXPECT_TRUE(engine->scripts.empty());
  openURL("myapp://a");
  EXPECT_FALSE(plugin->url());
  openURL("myapp://b");
  EXPECT_EQ(engine->scripts, (std::vector<std::string>{scriptFor("myapp://a"), scriptFor("myapp://b")}));
  EXPECT_FALSE(plugin->url());
}

TEST_F(HandleOpenURLTest, IgnoresNotificationsWithoutAUrlAndOutlivesItsEngine) {
  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginHandleOpenURLNotification, nullptr);
  plat::NSNotificationCenter::defaultCenter().post(kHBRPluginHandleOpenURLNotification,
                                                   std::make_shared<plat::Object>());
  EXPECT_FALSE(plugin->url());
  pageDidLoad();
  EXPECT_TRUE(engine->scripts.empty());

  engine.reset();
  openURL("myapp://no-engine");  // nothing to evaluate in; no crash
  plugin.reset();
  openURL("myapp://no-plugin");
  pageDidLoad();
}

TEST_F(HandleOpenURLTest, WithoutALoadedPageTheDocumentStateDecides) {
  struct Case {
    plat::Value readyState;
    bool delivered;
    bool kept;
  };
  const Case cases[] = {
      {plat::Value("complete"), true, false},
      {plat::Value("loaded"), true, false},
      {plat::Value("loading"), false, true},
      {plat::Value("interactive"), false, true},
      {plat::Value(), false, false},
      {plat::Value(3), false, false},
  };
  for (const auto& c : cases) {
    engine->scripts.clear();
    plugin->setUrl(nullptr);
    engine->nextResult = c.readyState;
    plugin->processOpenUrl(plat::NSURL::URLWithString("myapp://x"), false);
    ASSERT_GE(engine->scripts.size(), 1u);
    EXPECT_EQ(engine->scripts[0], "document.readyState");
    EXPECT_EQ(engine->scripts.size() == 2 && engine->scripts[1] == scriptFor("myapp://x"), c.delivered)
        << c.readyState.description();
    EXPECT_EQ(plugin->url() != nullptr, c.kept) << c.readyState.description();
  }
}

TEST_F(HandleOpenURLTest, NoUrlTextCanLeaveTheStringLiteral) {
  // Ordinary URLs are written as they are.
  for (const char* url : {"myapp://a/b?c=d&e=f#g", "https://example.com/it's", "x:%22%5C%0A"})
    EXPECT_EQ(scriptFor(url), withLiteral(url)) << url;

  struct Case {
    std::string url;
    std::string literal;
  };
  const std::vector<Case> cases = {
      {"a\"b", "a\\\"b"},
      {"a\\b", "a\\\\b"},
      {"a\\\"b", "a\\\\\\\"b"},
      {"a\nb\rc\td", "a\\u000ab\\u000dc\\u0009d"},
      {std::string("a\0b", 3), "a\\u0000b"},
      {"a\xE2\x80\xA8" "b\xE2\x80\xA9", "a\\u2028b\\u2029"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(scriptFor(c.url), withLiteral(c.literal)) << c.literal;

  // In a real page: the hostile text arrives whole as the argument, and none of it runs.
  auto page = std::make_shared<FakeWebViewEngine>();
  auto loaded = page->initWithBridgeMode(FakeWebViewEngine::BridgeMode::Iframe);
  ASSERT_TRUE(loaded.ok()) << loaded.error();
  ASSERT_TRUE(page->runPageScript("var got = []; var pwned = false; function handleOpenURL(u) { got.push(u); }").ok());
  const std::vector<std::string> hostile = {
      "myapp://x\");pwned=true;(\"",
      "myapp://x\\\");pwned=true;//",
      "myapp://x\n\");pwned=true;//",
      "myapp://x\xE2\x80\xA8\");pwned=true;//",
      "myapp://x</script><script>pwned=true</script>",
      "myapp://x\xFF\xFE\");pwned=true;//",
  };
  for (const auto& text : hostile) {
    auto result = page->runPageScript(scriptFor(text));
    ASSERT_TRUE(result.ok()) << result.error();
  }
  runUntilIdle();
  EXPECT_EQ(page->runPageScript("pwned")->asBool(), false);
  auto got = page->runPageScript("got");
  ASSERT_TRUE(got.ok() && got->isArray());
  ASSERT_EQ(got->asArray().size(), hostile.size());
  // Each text arrives whole; invalid UTF-8 arrives replaced, nothing more.
  for (std::size_t i = 0; i < hostile.size(); ++i)
    EXPECT_EQ(got->asArray()[i], plat::Value(plat::sanitizeUTF8(hostile[i]))) << i;
}

TEST_F(HandleOpenURLTest, TheEarlyUrlReachesThePageAfterDeviceReady) {
  auto page = std::make_shared<FakeWebViewEngine>();
  auto loaded = page->initWithBridgeMode(FakeWebViewEngine::BridgeMode::Iframe);
  ASSERT_TRUE(loaded.ok()) << loaded.error();
  auto pagePlugin = std::make_shared<HBRHandleOpenURL>();
  pagePlugin->initWithWebViewEngine(page);
  pagePlugin->pluginInitialize();
  ASSERT_TRUE(page->runPageScript("var opened = []; function handleOpenURL(u) { opened.push(u); }").ok());

  openURL("myapp://launch?from=mail");
  runUntilIdle();
  EXPECT_EQ(page->runPageScript("opened.length")->asInt(), 0);
  plat::NSNotificationCenter::defaultCenter().post(kHBRPageDidLoadNotification, page->engineWebView());
  runUntilIdle();
  EXPECT_EQ(page->runPageScript("opened.join(' ')")->asString(), "myapp://launch?from=mail");
}
