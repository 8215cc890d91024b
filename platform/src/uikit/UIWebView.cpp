#include "../uikit/WebOpenPanel.h"
#include "plat/uikit/UIWebView.h"

#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/web/WebPage.h"

namespace plat {

// Turns the page engine's reports into the delegate's calls.
class UIWebView::PageClient : public web::WebPageClient {
 public:
  explicit PageClient(std::weak_ptr<UIWebView> view) : view_(std::move(view)) {}

  void webPageDecidePolicy(const web::WebNavigationAction& action, PolicyDecision decision) override {
    auto view = view_.lock();
    auto delegate = view ? view->delegate() : nullptr;
    bool allow = !delegate || delegate->webViewShouldStartLoadWithRequestNavigationType(
                                  *view, action.request, static_cast<UIWebViewNavigationType>(action.navigationType));
    decision(allow);
  }
  std::string webPageUserAgent() override {
    std::string userAgent = UIWebView::defaultUserAgent();
    if (auto view = view_.lock()) view->userAgent_ = userAgent;
    return userAgent;
  }
  void webPageDidStartLoad(const web::WebLoad&) override {
    withDelegate([](UIWebView& v, UIWebViewDelegate& d) { d.webViewDidStartLoad(v); });
  }
  void webPageDidFinishLoad(const web::WebLoad&) override {
    withDelegate([](UIWebView& v, UIWebViewDelegate& d) { d.webViewDidFinishLoad(v); });
  }
  void webPageDidFailLoad(const web::WebLoad&, const NSError& error, bool) override {
    withDelegate([&](UIWebView& v, UIWebViewDelegate& d) { d.webViewDidFailLoadWithError(v, error); });
  }
  void webPageRunAlert(const std::string& message, std::function<void()> done) override {
    ask({UIWebView::JavaScriptPanel::Kind::Alert, message, ""}, [done](bool, std::optional<std::string>) { done(); });
  }
  void webPageRunConfirm(const std::string& message, std::function<void(bool)> done) override {
    ask({UIWebView::JavaScriptPanel::Kind::Confirm, message, ""}, [done](bool ok, std::optional<std::string>) { done(ok); });
  }
  void webPageRunOpenPanel(const OpenPanel& panel, std::function<void(std::vector<std::string>)> done) override {
    runWebOpenPanel(panel, std::move(done));
  }
  void webPageRunPrompt(const std::string& message, const std::string& defaultText,
                        std::function<void(std::optional<std::string>)> done) override {
    ask({UIWebView::JavaScriptPanel::Kind::Prompt, message, defaultText},
        [done](bool ok, std::optional<std::string> text) { done(ok ? text : std::nullopt); });
  }

 private:
  template <class F>
  void withDelegate(F call) {
    auto view = view_.lock();
    auto delegate = view ? view->delegate() : nullptr;
    if (delegate) call(*view, *delegate);
  }
  void ask(const UIWebView::JavaScriptPanel& panel, UIWebView::JavaScriptPanelAnswer answer) {
    auto view = view_.lock();
    if (view && view->panelHandler_) {
      auto handler = view->panelHandler_;
      handler(panel, std::move(answer));
      return;
    }
    static const char* const kinds[] = {"alert", "confirm", "prompt"};
    NSLog(std::string("JavaScript ") + kinds[static_cast<int>(panel.kind)] + ": " + panel.message);
    answer(false, std::nullopt);
  }

  std::weak_ptr<UIWebView> view_;
};

std::string UIWebView::defaultUserAgent() {
  Value registered = NSUserDefaults::standardUserDefaults()->objectForKey(kUserAgentDefaultsKey);
  if (registered.isString()) return registered.asString();
  return kBuiltInUserAgent;
}

UIWebView::UIWebView() = default;

UIWebView::~UIWebView() {
  if (page_) page_->close();
}

void UIWebView::init() { initWithFrame(CGRectZero); }

void UIWebView::initWithFrame(const CGRect& frame) {
  UIView::initWithFrame(frame);
  if (page_) return;
  scrollView_ = std::make_shared<UIScrollView>();
  scrollView_->initWithFrame(bounds());
  scrollView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  // The web view scrolls faster than a plain scroll view until told otherwise.
  scrollView_->setDecelerationRate(UIScrollViewDecelerationRateFast);
  auto content = std::make_shared<UIView>();
  content->initWithFrame(bounds());
  scrollView_->addSubview(content);
  addSubview(scrollView_);

  client_ = std::make_shared<PageClient>(weakSelf<UIWebView>());
  page_ = web::makeWebPage();
  page_->initWithClient(client_, web::WebPage::Configuration{false});
  frameInWindowDidChange();
}

void UIWebView::frameInWindowDidChange() {
  if (page_) page_->setFrameInWindow(frameInWindow());
}

// The view's settings as they stand when a load starts.
void UIWebView::applySettings() {
  page_->applySettings(web::WebPage::Settings{true, 0, false, allowsInlineMediaPlayback_, mediaPlaybackRequiresUserAction_});
}

void UIWebView::loadRequest(const NSURLRequestPtr& request) {
  if (!page_) return;
  applySettings();
  page_->loadRequest(request);
}

void UIWebView::loadHTMLString(const std::string& html, const NSURLPtr& baseURL) {
  if (!page_) return;
  applySettings();
  page_->loadHTMLString(html, baseURL);
}

void UIWebView::reload() {
  if (!page_) return;
  applySettings();
  page_->reload();
}

void UIWebView::stopLoading() {
  if (page_) page_->stopLoading();
}

NSURLRequestPtr UIWebView::request() const { return page_ ? page_->request() : nullptr; }

bool UIWebView::isLoading() const { return page_ && page_->isLoading(); }

std::string UIWebView::stringByEvaluatingJavaScriptFromString(const std::string& script) {
  if (!page_) return {};
  auto keep = page_;
  auto result = page_->evaluate(script);
  if (!result || result->isUndefined() || result->isNull()) return {};
  return result->toString();
}

void UIWebView::evaluateJavaScriptFromString(const std::string& script,
                                             std::function<void(const std::string&)> completion) {
  if (!page_) return completion({});
  auto keep = page_;
  auto late = [completion](const web::WebPage::Evaluation& evaluation) {
    const Value& value = evaluation.value ? *evaluation.value : absentValue();
    if (value.isString()) return completion(value.asString());
    if (value.isAbsent() || value.isNull()) return completion({});
    auto text = json::write(value, {.allowFragments = true});
    completion(text ? *text : std::string());
  };
  auto now = page_->evaluateOrAnswerLate(script, late);
  if (!now) return;  // the page's answer goes to late
  const Result<JSValue>& result = *now;
  if (!result || result->isUndefined() || result->isNull()) return completion({});
  completion(result->toString());
}

void UIWebView::simulateLinkClick(const NSURLPtr& url) {
  if (page_) page_->simulateLinkClick(url);
}

void UIWebView::simulateFrameLoad(const NSURLPtr& url, std::optional<NSError> failure) {
  if (page_) page_->simulateFrameLoad(url, std::move(failure));
}

bool UIWebView::simulateFailure(const NSError& error) { return page_ && page_->simulateFailure(error); }

}  // namespace plat
