// The page-load tracker, driven by scripted web view events.
#include <gtest/gtest.h>

#include "HBRUIWebViewDelegate.h"
#include "plat/foundation/NSURLError.h"
#include "plat/testing/PlatformTest.h"
#include "plat/uikit/UIWebView.h"

using namespace harbor;
using plat::NSURL;
using plat::NSURLRequest;
using plat::NSURLRequestPtr;

namespace {

// The wrapped delegate: records what the tracker passes on.
class Recorder : public plat::UIWebViewDelegate {
 public:
  bool webViewShouldStartLoadWithRequestNavigationType(plat::UIWebView&, const NSURLRequestPtr& request,
                                                       plat::UIWebViewNavigationType) override {
    asked++;
    return allow;
  }
  void webViewDidStartLoad(plat::UIWebView&) override { events.push_back("start"); }
  void webViewDidFinishLoad(plat::UIWebView&) override { events.push_back("finish"); }
  void webViewDidFailLoadWithError(plat::UIWebView&, const plat::NSError& error) override {
    events.push_back("fail " + error.domain + " " + std::to_string(error.code));
    lastError = error;
  }
  std::vector<std::string> events;
  plat::NSError lastError;
  int asked = 0;
  bool allow = true;
};

NSURLRequestPtr topLevel(const std::string& url) {
  auto request = plat::NSMutableURLRequest::requestWithURL(NSURL::URLWithString(url));
  request->setMainDocumentURL(NSURL::URLWithString(url));
  return request->copy();
}

NSURLRequestPtr subResource(const std::string& url, const std::string& main) {
  auto request = plat::NSMutableURLRequest::requestWithURL(NSURL::URLWithString(url));
  request->setMainDocumentURL(NSURL::URLWithString(main));
  return request->copy();
}

// (state, loadCount)
std::pair<std::int64_t, std::int64_t> sc(std::int64_t state, std::int64_t count) { return {state, count}; }

const plat::NSError kFailed{plat::NSURLErrorDomain, plat::NSURLErrorTimedOut, "timed out", plat::Value()};
const plat::NSError kCancelled{plat::NSURLErrorDomain, plat::NSURLErrorCancelled, "cancelled", plat::Value()};

}  // namespace

class HBRUIWebViewDelegateTest : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    // A web view whose page is at kPage, so that the tracker's reads of it have answers.
    view_ = std::make_shared<plat::UIWebView>();
    view_->init();
    view_->loadHTMLString("<p>", NSURL::URLWithString(kPage));
    runUntilIdle();
    recorder_ = std::make_shared<Recorder>();
    tracker_ = std::make_shared<HBRUIWebViewDelegate>();
    tracker_->initWithDelegate(recorder_);
  }
  void TearDown() override {
    tracker_.reset();
    view_.reset();
    PlatformTest::TearDown();
  }

  bool navigate(const NSURLRequestPtr& request) {
    return tracker_->webViewShouldStartLoadWithRequestNavigationType(*view_, request, plat::UIWebViewNavigationTypeOther);
  }
  void start() { tracker_->webViewDidStartLoad(*view_); }
  void finish() { tracker_->webViewDidFinishLoad(*view_); }
  void fail(const plat::NSError& error) { tracker_->webViewDidFailLoadWithError(*view_, error); }
  std::pair<std::int64_t, std::int64_t> stateAndCount() const { return {tracker_->state(), tracker_->loadCount()}; }
  std::vector<std::string>& events() { return recorder_->events; }

  static constexpr char kPage[] = "https://example.com/app/index.html";
  std::shared_ptr<plat::UIWebView> view_;
  std::shared_ptr<Recorder> recorder_;
  std::shared_ptr<HBRUIWebViewDelegate> tracker_;
};

TEST_F(HBRUIWebViewDelegateTest, StartsIdleWithNoLoadCounted) {
  EXPECT_EQ(stateAndCount(), sc(0, -1));
  EXPECT_EQ(tracker_->delegate(), recorder_);
}

TEST_F(HBRUIWebViewDelegateTest, APageWithTwoFramesIsOneStartAndOneFinish) {
  EXPECT_TRUE(navigate(topLevel("https://example.com/other.html")));
  EXPECT_EQ(stateAndCount(), sc(1, 0));
  start();
  start();
  start();
  EXPECT_EQ(stateAndCount(), sc(2, 3));
  EXPECT_EQ(events(), std::vector<std::string>{"start"});
  finish();
  finish();
  EXPECT_EQ(events(), std::vector<std::string>{"start"});
  finish();
  EXPECT_EQ(events(), (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(stateAndCount(), sc(0, 0));
}

TEST_F(HBRUIWebViewDelegateTest, RedirectsFragmentsAndReloads) {
  navigate(topLevel("https://example.com/a"));
  start();
  // A redirect of the load in progress: allowed, quietly while one load is counted.
  EXPECT_TRUE(navigate(topLevel("https://example.com/b")));
  EXPECT_EQ(stateAndCount(), sc(2, 1));
  EXPECT_FALSE(log_->contains("Detected redirect"));
  start();
  EXPECT_TRUE(navigate(topLevel("https://example.com/c")));
  EXPECT_TRUE(log_->contains("HBRWebViewDelegate: Detected redirect when loadCount=2"));
  EXPECT_EQ(events(), std::vector<std::string>{"start"});
  finish();
  finish();
  events().clear();

  // The web view's request is kPage and so is the page's address: a new fragment stays in the page.
  view_->loadHTMLString("<p>", NSURL::URLWithString(kPage));
  runUntilIdle();
  EXPECT_TRUE(navigate(topLevel(std::string(kPage) + "#part")));
  EXPECT_EQ(stateAndCount(), sc(0, 0));
  EXPECT_TRUE(events().empty());
  // Exactly the current address: a reload.
  EXPECT_TRUE(navigate(topLevel(kPage)));
  EXPECT_EQ(stateAndCount(), sc(1, 0));
  // The request the web view holds is top-level by identity, whatever its main document URL.
  tracker_->setStateForTesting(0, -1);
  EXPECT_TRUE(navigate(view_->request()));
  EXPECT_EQ(tracker_->state(), 1);
}

TEST_F(HBRUIWebViewDelegateTest, SubResourcesNeverChangeTheState) {
  navigate(topLevel("https://example.com/a"));
  start();
  struct Case {
    const char* url;
    bool allowed;
  } cases[] = {{"https://cdn.example.com/lib.js", true}, {"tel:+15551234", true},     {"mailto:a@b.c", true},
               {"sms:123", true},                        {"data:,x", true},           {"blob:https://a/b", true},
               {"madeup:thing", false},                  {"ftp://example.com/", false}, {"hbr://ready", false}};
  for (const Case& c : cases) {
    EXPECT_EQ(navigate(subResource(c.url, "https://example.com/a")), c.allowed) << c.url;
    EXPECT_EQ(stateAndCount(), sc(2, 1)) << c.url;
  }
  EXPECT_EQ(events(), std::vector<std::string>{"start"});
}

TEST_F(HBRUIWebViewDelegateTest, ARefusalOfTheWrappedDelegateChangesNothing) {
  recorder_->allow = false;
  EXPECT_FALSE(navigate(topLevel("https://example.com/a")));
  EXPECT_EQ(recorder_->asked, 1);
  EXPECT_EQ(stateAndCount(), sc(0, -1));
  navigate(subResource("madeup:x", "https://example.com/a"));
  EXPECT_EQ(stateAndCount(), sc(0, -1));
}

TEST_F(HBRUIWebViewDelegateTest, CancelsAndFailures) {
  // Cancelled before its start: state 5; the next start is the load's start.
  navigate(topLevel("https://example.com/a"));
  fail(kCancelled);
  EXPECT_EQ(stateAndCount(), sc(5, 0));
  finish();
  fail(kFailed);
  EXPECT_EQ(tracker_->state(), 5) << "finishes and failures are ignored while cancelled";
  start();
  EXPECT_EQ(stateAndCount(), sc(2, 1));
  EXPECT_EQ(events(), (std::vector<std::string>{"fail NSURLErrorDomain -999", "start"}));
  finish();
  events().clear();

  // A failure of the only load: back to idle, told once.
  navigate(topLevel("https://example.com/b"));
  start();
  fail(kFailed);
  EXPECT_EQ(stateAndCount(), sc(0, -1));
  EXPECT_EQ(events(), (std::vector<std::string>{"start", "fail NSURLErrorDomain -1001"}));
  events().clear();
  EXPECT_TRUE(navigate(topLevel("https://example.com/c")));
  EXPECT_EQ(stateAndCount(), sc(1, 0));

  // Failed before its start (not cancelled): idle again.
  fail(kFailed);
  EXPECT_EQ(tracker_->state(), 0);
  events().clear();

  // Cancelled while loading: state 5 and one load fewer.
  navigate(topLevel("https://example.com/d"));
  start();
  start();
  fail(kCancelled);
  EXPECT_EQ(stateAndCount(), sc(5, 1));
  EXPECT_EQ(events(), (std::vector<std::string>{"start", "fail NSURLErrorDomain -999"}));
}

TEST_F(HBRUIWebViewDelegateTest, AFrameThatFailsAmongOtherLoadsStillLetsThePageFinish) {
  navigate(topLevel("https://example.com/a"));
  start();  // the page
  start();  // a frame
  start();  // another frame
  fail(kFailed);
  EXPECT_EQ(stateAndCount(), sc(2, 2)) << "counted as one finished load";
  EXPECT_EQ(events(), std::vector<std::string>{"start"}) << "nothing is passed on for a frame";
  finish();
  finish();
  EXPECT_EQ(events(), (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(tracker_->state(), 0);
}

TEST_F(HBRUIWebViewDelegateTest, UnexpectedEventsAreLogged) {
  start();
  EXPECT_EQ(stateAndCount(), sc(0, -1)) << "a start while idle";
  navigate(topLevel("https://example.com/a"));
  finish();
  EXPECT_TRUE(log_->contains("HBRWebViewDelegate: Unexpected didFinish while waiting for load start."));
  EXPECT_EQ(tracker_->state(), 1);

  // A second top-level navigation while the first start is awaited: reported as an error.
  EXPECT_TRUE(navigate(topLevel("https://example.com/b")));
  EXPECT_TRUE(log_->contains("HBRWebViewDelegate: Navigation started when state=1"));
  EXPECT_EQ(events(), std::vector<std::string>{"fail HBRUIWebViewDelegate 1"});
  EXPECT_EQ(recorder_->lastError.localizedDescription, "HBRWebViewDelegate: Navigation started when state=1");
  EXPECT_EQ(recorder_->lastError.userInfo["NSLocalizedDescription"].stringOr(),
            "HBRWebViewDelegate: Navigation started when state=1");
  EXPECT_EQ(stateAndCount(), sc(1, 0));

  tracker_->setStateForTesting(1, 2);
  start();
  EXPECT_TRUE(log_->contains("HBRWebViewDelegate: Unexpected loadCount in didStart. count=2"));
  tracker_->setStateForTesting(9, 4);
  start();
  EXPECT_TRUE(log_->contains("HBRWebViewDelegate: Unexpected didStart with state=9 loadCount=4"));
}

TEST_F(HBRUIWebViewDelegateTest, PollingFindsTheNewDocumentAndItsLoad) {
  // A new document (no load token of ours in it): polling moves on at once.
  tracker_->setStateForTesting(HBRUIWebViewDelegate::PollingForLoadStart, 0);
  start();
  EXPECT_EQ(tracker_->curLoadToken(), 1);
  EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("window.__harborLoadToken"), "1");
  EXPECT_EQ(events(), (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(tracker_->state(), 0);

  // The old page is still there: polled every 0.05 s, at most 50 times over the tracker's life.
  events().clear();
  tracker_->setStateForTesting(HBRUIWebViewDelegate::PollingForLoadStart, 0);
  finish();
  EXPECT_EQ(tracker_->loadStartPollCount(), 1);
  for (int i = 0; i < 60; ++i) advance(0.05);
  EXPECT_EQ(tracker_->loadStartPollCount(), 50);
  EXPECT_EQ(tracker_->state(), HBRUIWebViewDelegate::PollingForLoadStart);
  fail(kFailed);
  EXPECT_EQ(tracker_->loadStartPollCount(), 51) << "an event still polls once; no timer follows";
  advance(1);
  EXPECT_EQ(tracker_->loadStartPollCount(), 51);
  EXPECT_TRUE(events().empty());

  // Waiting for the ready state: polled without limit until the page says it has loaded.
  view_->stringByEvaluatingJavaScriptFromString("Object.defineProperty(document, 'readyState', {get: function () { return window.rs; }})");
  view_->stringByEvaluatingJavaScriptFromString("window.rs = 'interactive'");
  tracker_->setStateForTesting(HBRUIWebViewDelegate::PollingForLoadFinish, 0);
  start();
  advance(0.05);
  advance(0.05);
  EXPECT_TRUE(events().empty());
  view_->stringByEvaluatingJavaScriptFromString("window.rs = 'loaded'");
  advance(0.05);
  EXPECT_EQ(events(), std::vector<std::string>{"finish"});
  EXPECT_EQ(tracker_->state(), 0);
}

TEST_F(HBRUIWebViewDelegateTest, RequestsCompareWithoutTheirFragments) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {{"https://a/x#1", "https://a/x#2", true},
               {"https://a/x", "https://a/x#", true},
               {"https://a/x?q", "https://a/x", false},
               {"https://a/x#a%23b", "https://a/x", true},
               {"https://a/x", "https://a/y", false}};
  for (const Case& c : cases) {
    EXPECT_EQ(HBRUIWebViewDelegate::requestIsEqualToRequestAfterStrippingFragments(
                  NSURLRequest::requestWithURL(NSURL::URLWithString(c.a)), NSURLRequest::requestWithURL(NSURL::URLWithString(c.b))),
              c.equal)
        << c.a << " " << c.b;
  }
  EXPECT_FALSE(HBRUIWebViewDelegate::requestIsEqualToRequestAfterStrippingFragments(
      NSURLRequest::requestWithURL(nullptr), NSURLRequest::requestWithURL(nullptr)));
  EXPECT_FALSE(HBRUIWebViewDelegate::requestIsEqualToRequestAfterStrippingFragments(nullptr, topLevel("https://a/")));
}

TEST_F(HBRUIWebViewDelegateTest, AGoneDelegateHearsNothingAndNothingBreaks) {
  recorder_.reset();
  EXPECT_TRUE(navigate(topLevel("https://example.com/a")));
  start();
  finish();
  EXPECT_EQ(tracker_->state(), 0);
}
