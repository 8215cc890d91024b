#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HBRIntentAndNavigationFilter.h"
#include "ViewControllerFixture.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/NSXMLParser.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIApplication.h"

using namespace harbor;

namespace {

constexpr long kLink = HBRIntentAndNavigationFilter::kNavigationTypeLinkClicked;
constexpr long kOther = 5;

constexpr char kConfig[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.harbor.tests" version="1.0.0">
  <content src="index.html"/>
  <preference name="allow-navigation" value="https://evil.com/*"/>
  <allow-navigation href="https://*.example.com/*"/>
  <allow-navigation/>
  <allow-navigation href="http://localhost:8080"/>
  <allow-intent href="tel:*"/>
  <allow-intent href="mailto:*"/>
  <allow-intent href="https://*.example.com/*"/>
  <allow-intent src="https://ignored.example.org/*"/>
  <feature name="Allow-Intent"><param name="href" value="sms:*"/></feature>
  <Allow-Intent href="sms:*"/>
</widget>)";

class IntentAndNavigationFilterTest : public plat::testing::SandboxTest {
 protected:
  std::shared_ptr<HBRIntentAndNavigationFilter> filterReading(const std::string& xml) {
    auto filter = std::make_shared<HBRIntentAndNavigationFilter>();
    filter->initWithWebViewEngine(nullptr);
    auto parser = std::make_shared<plat::NSXMLParser>();
    parser->initWithData(xml);
    parser->setDelegate(filter);
    parser->parse();
    return filter;
  }

  static plat::NSURLRequestPtr request(const std::string& url) {
    return plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString(url));
  }

  std::vector<std::string> openedURLs() {
    std::vector<std::string> urls;
    for (const auto& record : plat::UIApplication::sharedApplication()->urlRequests())
      if (record.kind == plat::UIApplication::URLRequestRecord::Kind::Open)
        urls.push_back(record.url->absoluteString());
    return urls;
  }
};

}  // namespace

TEST_F(IntentAndNavigationFilterTest, ReadsBothListsFromConfigXml) {
  auto filter = filterReading(kConfig);
  // file:// always comes first; elements without href add nothing; other elements are ignored.
  EXPECT_EQ(filter->allowNavigations(),
            (std::vector<std::string>{"file://", "https://*.example.com/*", "http://localhost:8080"}));
  EXPECT_EQ(filter->allowIntents(), (std::vector<std::string>{"tel:*", "mailto:*", "https://*.example.com/*"}));
  ASSERT_TRUE(filter->allowNavigationsWhitelist());
  ASSERT_TRUE(filter->allowIntentsWhitelist());
  // An href-less element would have added an empty entry allowing every http and https URL.
  EXPECT_EQ(filter->filterUrl(plat::NSURL::URLWithString("https://evil.com/")),
            HBRIntentAndNavigationFilterValueNoneAllowed);
}

TEST_F(IntentAndNavigationFilterTest, GivesOneVerdictPerUrl) {
  auto filter = filterReading(kConfig);
  struct Case {
    const char* url;
    HBRIntentAndNavigationFilterValue verdict;
  };
  const Case cases[] = {
      {"file:///var/app/www/index.html", HBRIntentAndNavigationFilterValueNavigationAllowed},
      {"https://www.example.com/a", HBRIntentAndNavigationFilterValueNavigationAllowed},  // in both lists
      {"http://localhost:8080/", HBRIntentAndNavigationFilterValueNavigationAllowed},
      {"http://localhost/", HBRIntentAndNavigationFilterValueNoneAllowed},
      {"tel:+15551234", HBRIntentAndNavigationFilterValueIntentAllowed},
      {"mailto:someone@example.com", HBRIntentAndNavigationFilterValueIntentAllowed},
      {"sms:+15551234", HBRIntentAndNavigationFilterValueNoneAllowed},
      {"https://example.com.evil.com/", HBRIntentAndNavigationFilterValueNoneAllowed},
      {"https://www.example.com@evil.com/", HBRIntentAndNavigationFilterValueNoneAllowed},
      {"javascript:alert(1)", HBRIntentAndNavigationFilterValueNoneAllowed},
  };
  for (const auto& c : cases)
    EXPECT_EQ(filter->filterUrl(plat::NSURL::URLWithString(c.url)), c.verdict) << c.url;
  EXPECT_EQ(filter->filterUrl(nullptr), HBRIntentAndNavigationFilterValueNoneAllowed);

  // Either list alone, and neither.
  auto star = std::make_shared<HBRWhitelist>();
  star->initWithArray({"*"});
  auto empty = std::make_shared<HBRWhitelist>();
  empty->initWithArray({});
  auto url = plat::NSURL::URLWithString("x-app://anything");
  auto verdict = [&](const HBRWhitelistPtr& intents, const HBRWhitelistPtr& navigations) {
    return HBRIntentAndNavigationFilter::filterUrlIntentsWhitelistNavigationsWhitelist(url, intents, navigations);
  };
  EXPECT_EQ(verdict(star, empty), HBRIntentAndNavigationFilterValueIntentAllowed);
  EXPECT_EQ(verdict(empty, star), HBRIntentAndNavigationFilterValueNavigationAllowed);
  EXPECT_EQ(verdict(star, star), HBRIntentAndNavigationFilterValueNavigationAllowed);
  EXPECT_EQ(verdict(nullptr, nullptr), HBRIntentAndNavigationFilterValueNoneAllowed);
}

TEST_F(IntentAndNavigationFilterTest, VotesOpensIntentsOnlyForFollowedLinksAndLogsRefusals) {
  auto filter = filterReading(kConfig);
  const std::string internal = "ERROR Internal navigation rejected - <allow-navigation> not set for url='";
  const std::string external = "ERROR External navigation rejected - <allow-intent> not set for url='";
  const std::string longURL = "https://evil.com/?" + std::string(1 << 20, 'q');
  const std::string longURLCut = longURL.substr(0, 16384) + " ... (1032210 more characters cut)";
  struct Case {
    const char* url;
    long type;
    bool allowed;
    bool opened;
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {"https://www.example.com/a", kLink, true, false, {}},
      {"https://www.example.com/a", kOther, true, false, {}},
      {"file:///www/page2.html", kOther, true, false, {}},
      {"tel:+15551234", kLink, false, true, {}},
      // Allowed only as an intent, anything but a followed link is refused, and says so.
      {"tel:+15551234", kOther, false, false, {internal + "tel:+15551234'"}},
      {"tel:+15551234", 1, false, false, {internal + "tel:+15551234'"}},  // nor is a form submission
      {"https://evil.com/x?a=%27", kLink, false, false,
       {internal + "https://evil.com/x?a=%27'", external + "https://evil.com/x?a=%27'"}},
      {"https://evil.com/x?a=%27", kOther, false, false, {internal + "https://evil.com/x?a=%27'"}},
      // A page's address may be megabytes long: it is logged cut, as every page text is.
      {longURL.c_str(), kLink, false, false, {internal + longURLCut + "'", external + longURLCut + "'"}},
  };
  for (const auto& c : cases) {
    plat::UIApplication::resetSharedApplication();
    log_->clear();
    EXPECT_EQ(filter->shouldOverrideLoadWithRequest(request(c.url), c.type), c.allowed) << c.url << " " << c.type;
    EXPECT_EQ(openedURLs(), c.opened ? std::vector<std::string>{c.url} : std::vector<std::string>{}) << c.url;
    EXPECT_EQ(log_->lines(), c.log) << c.url << " " << c.type;
  }
}

TEST_F(IntentAndNavigationFilterTest, RefusesEverythingWithoutAConfiguration) {
  auto filter = std::make_shared<HBRIntentAndNavigationFilter>();
  filter->initWithWebViewEngine(nullptr);
  filter->pluginInitialize();
  EXPECT_FALSE(filter->allowNavigationsWhitelist());
  EXPECT_FALSE(filter->allowIntentsWhitelist());
  for (const char* url : {"file:///www/index.html", "https://example.com/", "tel:1"}) {
    EXPECT_EQ(filter->filterUrl(plat::NSURL::URLWithString(url)), HBRIntentAndNavigationFilterValueNoneAllowed);
    EXPECT_FALSE(filter->shouldOverrideLoadWithRequest(request(url), kLink)) << url;
  }
  EXPECT_TRUE(openedURLs().empty());
  EXPECT_FALSE(filter->shouldOverrideLoadWithRequest(nullptr, kLink));
}

TEST_F(IntentAndNavigationFilterTest, AnEmptyConfigurationAllowsOnlyFiles) {
  auto filter = filterReading("<widget/>");
  auto verdict = [](const auto& f, const char* url) { return f->filterUrl(plat::NSURL::URLWithString(url)); };
  EXPECT_EQ(verdict(filter, "file:///a"), HBRIntentAndNavigationFilterValueNavigationAllowed);
  EXPECT_EQ(verdict(filter, "https://a/"), HBRIntentAndNavigationFilterValueNoneAllowed);
  // A star lets everything through that list.
  auto open = filterReading(R"(<widget><allow-navigation href="*"/><allow-intent href="*"/></widget>)");
  EXPECT_EQ(verdict(open, "x-app://a"), HBRIntentAndNavigationFilterValueNavigationAllowed);
  auto intents = filterReading(R"(<widget><allow-intent href="*"/></widget>)");
  EXPECT_EQ(verdict(intents, "x-app://a"), HBRIntentAndNavigationFilterValueIntentAllowed);
}

TEST_F(IntentAndNavigationFilterTest, ABrokenConfigurationIsAnAssertionFailure) {
  try {
    filterReading("<widget><allow-navigation href=\"https://a/*\"></widget>");
    FAIL() << "no assertion";
  } catch (const plat::NSException& e) {
    EXPECT_TRUE(std::string(e.reason()).starts_with("config.xml parse error line 1 col ")) << e.reason();
  }
}

namespace harbor::testing {

class IntentAndNavigationFilterStartupTest : public ViewControllerTest {};

TEST_F(IntentAndNavigationFilterStartupTest, ReadsTheControllersConfigurationWhenItStarts) {
  auto controller = start(R"(
      <feature name="IntentAndNavigationFilter">
        <param name="ios-package" value="HBRIntentAndNavigationFilter"/>
        <param name="onload" value="true"/>
      </feature>
      <allow-navigation href="https://*.example.com/*"/>
      <allow-intent href="tel:*"/>)");
  auto filter = std::dynamic_pointer_cast<HBRIntentAndNavigationFilter>(
      controller->pluginObjects().at("HBRIntentAndNavigationFilter"));
  ASSERT_TRUE(filter);
  EXPECT_EQ(filter->allowNavigations(), (std::vector<std::string>{"file://", "https://*.example.com/*"}));
  EXPECT_EQ(filter->allowIntents(), std::vector<std::string>{"tel:*"});
  EXPECT_EQ(filter->filterUrl(plat::NSURL::URLWithString("https://a.example.com/")),
            HBRIntentAndNavigationFilterValueNavigationAllowed);
  EXPECT_EQ(filter->filterUrl(plat::NSURL::URLWithString("tel:1")), HBRIntentAndNavigationFilterValueIntentAllowed);
  // The controller's own settings are untouched by the second pass.
  EXPECT_EQ(controller->pluginsMap().get("intentandnavigationfilter"), plat::Value("HBRIntentAndNavigationFilter"));
}

TEST_F(IntentAndNavigationFilterStartupTest, AnotherKindOfControllerLeavesEverythingRefused) {
  writeConfig(R"(<allow-navigation href="*"/>)");
  auto filter = std::make_shared<HBRIntentAndNavigationFilter>();
  filter->initWithWebViewEngine(nullptr);
  auto plain = std::make_shared<plat::UIViewController>();
  filter->setViewController(plain);
  filter->pluginInitialize();
  EXPECT_FALSE(filter->allowNavigationsWhitelist());
  EXPECT_EQ(filter->filterUrl(plat::NSURL::URLWithString("file:///x")), HBRIntentAndNavigationFilterValueNoneAllowed);
}

}  // namespace harbor::testing
