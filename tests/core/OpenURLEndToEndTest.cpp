// The container started by its application delegate with the real UIWebView engine over a page
// with harbor.js: a URL opened before the page has loaded reaches the page's handleOpenURL after
// "deviceready", and the navigation filter decides where the page may go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HBRAppDelegate.h"
#include "HBRHandleOpenURL.h"
#include "HBRUIWebViewEngine.h"
#include "HBRWebViewEngines.h"
#include "ViewControllerFixture.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/uikit/UIApplication.h"

namespace harbor::testing {
namespace {

constexpr char kConfig[] = R"(
  <feature name="HandleOpenUrl">
    <param name="ios-package" value="HBRHandleOpenURL"/>
    <param name="onload" value="true"/>
  </feature>
  <feature name="IntentAndNavigationFilter">
    <param name="ios-package" value="HBRIntentAndNavigationFilter"/>
    <param name="onload" value="true"/>
  </feature>
  <allow-navigation href="https://*.example.com/*"/>
  <allow-intent href="tel:*"/>)";

// The page notes, in order, when deviceready fired and what handleOpenURL received.
constexpr char kPage[] = R"(<!DOCTYPE html>
<html><head><script src="harbor.js"></script></head>
<body><script>
  var events = [];
  function handleOpenURL(url) { events.push('open ' + url); }
  document.addEventListener('deviceready', function () { events.push('deviceready'); }, false);
</script></body></html>)";

class OpenURLEndToEndTest : public ViewControllerTest {
 protected:
  void SetUp() override {
    ViewControllerTest::SetUp();
    // The real engines in place of the fixture's recording one.
    HBRRegisterWebViewEngines();
    auto script = plat::readFileContents(std::string(HARBOR_SOURCE_DIR) + "/www/harbor.js");
    ASSERT_TRUE(script);
    writeFile(inBundle("www/harbor.js"), *script);
    writeFile(inBundle("www/index.html"), kPage);
    writeConfig(kConfig);
  }

  void TearDown() override {
    delegate.reset();
    plat::UIApplication::resetSharedApplication();
    ViewControllerTest::TearDown();
  }

  // Launches the application; its start page is requested but has not loaded yet.
  void launch() {
    delegate = std::make_shared<HBRAppDelegate>();
    delegate->init();
    ASSERT_TRUE(plat::UIApplication::sharedApplication()->launchWithDelegate(delegate));
    engine = std::dynamic_pointer_cast<HBRUIWebViewEngine>(delegate->viewController()->webViewEngine());
    ASSERT_TRUE(engine);
  }

  std::string pageEvents() {
    return engine->uiWebView()->stringByEvaluatingJavaScriptFromString("events.join(' | ')");
  }

  std::shared_ptr<HBRAppDelegate> delegate;
  std::shared_ptr<HBRUIWebViewEngine> engine;
};

TEST_F(OpenURLEndToEndTest, AUrlOpenedBeforeThePageLoadsReachesHandleOpenURLAfterDeviceReady) {
  launch();
  auto app = plat::UIApplication::sharedApplication();
  EXPECT_TRUE(app->deliverOpenURL(plat::NSURL::URLWithString("myapp://first")));
  EXPECT_TRUE(app->deliverOpenURL(plat::NSURL::URLWithString("myapp://launch?item=42&q=%22x%22")));
  // Held by the start-up plugin until the page has loaded; only the last one waits.
  auto plugin = std::dynamic_pointer_cast<HBRHandleOpenURL>(
      delegate->viewController()->pluginObjects().at("HBRHandleOpenURL"));
  ASSERT_TRUE(plugin && plugin->url());
  EXPECT_FALSE(plugin->pageLoaded());
  EXPECT_EQ(plugin->url()->absoluteString(), "myapp://launch?item=42&q=%22x%22");
  runUntilIdle();
  EXPECT_TRUE(plugin->pageLoaded());
  EXPECT_FALSE(plugin->url());
  EXPECT_EQ(pageEvents(), "deviceready | open myapp://launch?item=42&q=%22x%22");

  // Once the page is up, a URL goes straight in.
  app->deliverOpenURL(plat::NSURL::URLWithString("myapp://later"));
  runUntilIdle();
  EXPECT_EQ(pageEvents(), "deviceready | open myapp://launch?item=42&q=%22x%22 | open myapp://later");
}

TEST_F(OpenURLEndToEndTest, TheFilterDecidesWhereThePageGoes) {
  launch();
  runUntilIdle();
  ASSERT_EQ(pageEvents(), "deviceready");
  auto app = plat::UIApplication::sharedApplication();
  auto opened = [&] {
    std::vector<std::string> urls;
    for (const auto& record : app->urlRequests())
      if (record.kind == plat::UIApplication::URLRequestRecord::Kind::Open)
        urls.push_back(record.url->absoluteString());
    return urls;
  };

  // A followed link to an intent goes to the system, not into the page or to handleOpenURL.
  engine->uiWebView()->simulateLinkClick(plat::NSURL::URLWithString("tel:+15551234"));
  runUntilIdle();
  EXPECT_EQ(opened(), std::vector<std::string>{"tel:+15551234"});
  EXPECT_EQ(pageEvents(), "deviceready");

  // Somewhere in neither list: refused, logged, and heard by nobody.
  log_->clear();
  engine->uiWebView()->simulateLinkClick(plat::NSURL::URLWithString("https://www.example.com.evil.com/"));
  runUntilIdle();
  EXPECT_TRUE(log_->contains("ERROR Internal navigation rejected - <allow-navigation> not set for "
                             "url='https://www.example.com.evil.com/'"));
  EXPECT_TRUE(log_->contains("ERROR External navigation rejected - <allow-intent> not set for "
                             "url='https://www.example.com.evil.com/'"));
  EXPECT_EQ(opened().size(), 1u);
  EXPECT_EQ(pageEvents(), "deviceready");

  // The page's own script going there is no followed link: only the first text.
  log_->clear();
  engine->uiWebView()->stringByEvaluatingJavaScriptFromString("location.href = 'https://evil.com/x';");
  runUntilIdle();
  EXPECT_TRUE(log_->contains(
      "ERROR Internal navigation rejected - <allow-navigation> not set for url='https://evil.com/x'"));
  EXPECT_FALSE(log_->contains("ERROR External navigation rejected"));
  EXPECT_EQ(pageEvents(), "deviceready");
}

}  // namespace
}  // namespace harbor::testing
