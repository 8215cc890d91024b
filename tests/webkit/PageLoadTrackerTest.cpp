// The container's page-load tracker (HBRUIWebViewDelegate) on real pages under both page
// engines: a new fragment is an in-page navigation, allowed without events, and only real loads
// are passed on, one start and one finish each. WebKit takes a new fragment at once, without
// waiting for the navigation's decision; had it been offered to the tracker afterwards, the
// tracker would read the new address as the request's and take it for a reload that never
// starts ("HBRWebViewDelegate: Navigation started when state=1" at the next navigation).
#include "HBRUIWebViewDelegate.h"
#include "WebKitFixture.h"
#include "plat/foundation/Strings.h"

namespace {

using harbor::testing::kPatience;
using harbor::testing::WebKitEngineTest;

class Recorder : public plat::UIWebViewDelegate {
 public:
  void webViewDidStartLoad(plat::UIWebView&) override { events.push_back("start"); }
  void webViewDidFinishLoad(plat::UIWebView& view) override {
    events.push_back("finish");
    finishedAt.push_back(view.request() && view.request()->URL() ? view.request()->URL()->absoluteString() : "(none)");
  }
  void webViewDidFailLoadWithError(plat::UIWebView&, const plat::NSError& error) override {
    events.push_back("fail " + error.domain + " " + std::to_string(error.code));
  }
  std::vector<std::string> events;
  std::vector<std::string> finishedAt;  // the view's request at each finish
};

// A UIWebView of the current page engine whose delegate is a page-load tracker that passes on to
// a recorder, loading url.
struct TrackedView {
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<harbor::HBRUIWebViewDelegate> tracker = std::make_shared<harbor::HBRUIWebViewDelegate>();
  std::shared_ptr<plat::UIWebView> view = std::make_shared<plat::UIWebView>();

  explicit TrackedView(const std::string& url) {
    tracker->initWithDelegate(recorder);
    view->init();
    view->setDelegate(tracker);
    view->loadRequest(plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString(url)));
  }
  // What the tracker passed on of the first load, once it ended.
  std::vector<std::string> firstLoad() {
    plat::web::turnMainLoopUntil([&] { return !recorder->events.empty() && recorder->events.back() != "start"; }, kPatience);
    return recorder->events;
  }
  // Waits until the page shows the address and, when events are awaited, the tracker has passed
  // on that many, the last no start.
  bool settlesAt(const std::string& address, std::size_t events) {
    return plat::web::turnMainLoopUntil(
        [&] {
          return view->stringByEvaluatingJavaScriptFromString("document.readyState + ' ' + location.href") ==
                     "complete " + address &&
                 recorder->events.size() >= events && (events == 0 || recorder->events.back() != "start");
        },
        kPatience);
  }
};

TEST_F(WebKitEngineTest, ANewFragmentIsAllowedWithoutEventsUnderBothEngines) {
  writeFile(inBundle("index.html"), "<!doctype html><title>index</title><body><p id=\"x\">x</p><p id=\"y\">y</p></body>");
  writeFile(inBundle("other.html"), "<!doctype html><title>other</title><body>other</body>");
  const std::string index = plat::NSURL::fileURLWithPath(inBundle("index.html"))->absoluteString();
  const std::string other = plat::NSURL::fileURLWithPath(inBundle("other.html"))->absoluteString();
  // A link to a fragment followed, and a fragment set, by the page's script as it loads.
  writeFile(inBundle("early.html"),
            "<!doctype html><title>early</title><body><a id=\"l\" href=\"#x\">x</a><p id=\"x\">x</p><script>"
            "location.hash = 'a'; var l = document.getElementById('l');"
            "if (typeof l.click === 'function') l.click(); else location.href = '#x';</script>"
            "<img src=\"missing.png\"></body>");
  const std::string early = plat::NSURL::fileURLWithPath(inBundle("early.html"))->absoluteString();
  struct Step {
    std::string script;  // run in the page; "link:<url>" follows a link to url
    std::string address;  // the page's address afterwards
    std::vector<std::string> events;  // what the tracker passes on
  };
  const std::vector<Step> steps = {
      {"location.hash = 'a'", index + "#a", {}},
      {"link:" + index + "#x", index + "#x", {}},
      {"location.href = location.href", index + "#x", {}},  // the same fragment: scrolled to again
      {"location.hash = '#x'", index + "#x", {}},           // no navigation at all
      {"location.replace('#y')", index + "#y", {}},
      {"location.reload()", index + "#y", {"start", "finish"}},
      {"location.href = 'other.html#y'", other + "#y", {"start", "finish"}},
      {"location.hash = 'z'", other + "#z", {}},
      {"location.href = 'index.html'", index, {"start", "finish"}},
      // While the page still loads: one start and one finish all the same.
      {"location.href = 'early.html'", early + "#x", {"start", "finish"}},
  };
  for (auto backend : {plat::web::Backend::WebKit, plat::web::Backend::Headless}) {
    SCOPED_TRACE(backend == plat::web::Backend::WebKit ? "WebKit" : "headless");
    plat::web::setBackend(backend);
    log_->clear();
    TrackedView tracked(index);
    ASSERT_EQ(tracked.firstLoad(), (std::vector<std::string>{"start", "finish"}));
    auto recorder = tracked.recorder;
    auto tracker = tracked.tracker;
    auto& view = tracked.view;
    for (const Step& step : steps) {
      SCOPED_TRACE(step.script);
      recorder->events.clear();
      if (step.script.rfind("link:", 0) == 0)
        view->simulateLinkClick(plat::NSURL::URLWithString(step.script.substr(5)));
      else
        view->stringByEvaluatingJavaScriptFromString(step.script);
      // Done once the page shows the address and, for a load, the tracker has passed on its end.
      EXPECT_TRUE(tracked.settlesAt(step.address, step.events.size()))
          << view->stringByEvaluatingJavaScriptFromString("location.href");
      EXPECT_EQ(recorder->events, step.events);
    }
    // Whatever came late came before the last load's end; the tracker rests.
    EXPECT_EQ(tracker->state(), harbor::HBRUIWebViewDelegate::Idle);
    EXPECT_FALSE(log_->contains("HBRWebViewDelegate:")) << "the tracker met a navigation it did not expect";
    view.reset();
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// History moves are loads like any other, each passed on once with its own address, under both
// engines: WebKit asks about the frames of a page that history brings back with the history
// move's own type, and those were taken for the page's load (the page's real load was then
// reported as cancelled and its finish lost: "Finished load of: about:blank", or no finish ever
// again). An iframe the page inserts after its load, without a src, is no load either (WebKit
// asks about its about:blank; it was taken for the page's, and reset the plugins).
TEST_F(WebKitEngineTest, HistoryMovesArePassedOnOnceWithTheirOwnAddressUnderBothEngines) {
  // Frames in the markup and made by script while the page loads, as pages and the bridge do.
  const std::string page =
      "<!doctype html><title>%s</title><body><iframe src=\"about:blank\"></iframe><iframe name=\"n\"></iframe>"
      "<script>document.body.appendChild(document.createElement('iframe'));</script></body>";
  auto html = [&](const char* title) { return plat::format(page.c_str(), title); };
  writeFile(inBundle("index.html"), html("index"));
  writeFile(inBundle("b.html"), html("b"));
  const std::string index = plat::NSURL::fileURLWithPath(inBundle("index.html"))->absoluteString();
  const std::string b = plat::NSURL::fileURLWithPath(inBundle("b.html"))->absoluteString();
  struct Step {
    std::string script;
    std::string address;  // the page's address afterwards, and the one its finish is passed on with
    bool load;
  };
  const std::vector<Step> steps = {
      {"location.href = 'b.html'", b, true},
      {"history.back()", index, true},
      {"location.reload()", index, true},
      {"location.href = 'b.html?again'", b + "?again", true},
      {"history.back()", index, true},
      {"history.forward()", b + "?again", true},
      {"history.go(-1)", index, true},
      {"document.body.appendChild(document.createElement('iframe'))", index, false},
      {"history.go(1)", b + "?again", true},
      // Entries of a document, and of that document reloaded, are moves within it.
      {"location.hash = 'x'", b + "?again#x", false},
      {"location.hash = 'y'", b + "?again#y", false},
      {"location.reload()", b + "?again#y", true},
      {"history.back()", b + "?again#x", false},
      {"history.forward()", b + "?again#y", false},
      {"history.go(-3)", index, true},
  };
  for (auto backend : {plat::web::Backend::WebKit, plat::web::Backend::Headless}) {
    SCOPED_TRACE(harbor::testing::backendName(backend));
    plat::web::setBackend(backend);
    log_->clear();
    TrackedView tracked(index);
    ASSERT_EQ(tracked.firstLoad(), (std::vector<std::string>{"start", "finish"}));
    Recorder& recorder = *tracked.recorder;
    for (const Step& step : steps) {
      SCOPED_TRACE(step.script);
      recorder.events.clear();
      recorder.finishedAt.clear();
      tracked.view->stringByEvaluatingJavaScriptFromString(step.script);
      EXPECT_TRUE(tracked.settlesAt(step.address, step.load ? 2 : 0))
          << tracked.view->stringByEvaluatingJavaScriptFromString("location.href");
      const std::vector<std::string> none;
      EXPECT_EQ(recorder.events, step.load ? std::vector<std::string>({"start", "finish"}) : none);
      EXPECT_EQ(recorder.finishedAt, step.load ? std::vector<std::string>({step.address}) : none);
    }
    EXPECT_EQ(tracked.tracker->state(), harbor::HBRUIWebViewDelegate::Idle);
    EXPECT_FALSE(log_->contains("HBRWebViewDelegate:")) << "the tracker met a navigation it did not expect";
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

}  // namespace
