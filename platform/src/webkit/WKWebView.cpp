#include "../uikit/WebOpenPanel.h"
#include "plat/webkit/WKWebView.h"

#include <cassert>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIWebView.h"
#include "plat/web/WebPage.h"

namespace plat {
namespace {

WKNavigationType navigationTypeOf(web::WebNavigationType type) {
  switch (type) {
    case web::WebNavigationType::LinkClicked: return WKNavigationTypeLinkActivated;
    case web::WebNavigationType::FormSubmitted: return WKNavigationTypeFormSubmitted;
    case web::WebNavigationType::BackForward: return WKNavigationTypeBackForward;
    case web::WebNavigationType::Reload: return WKNavigationTypeReload;
    case web::WebNavigationType::FormResubmitted: return WKNavigationTypeFormResubmitted;
    case web::WebNavigationType::Other: return WKNavigationTypeOther;
  }
  return WKNavigationTypeOther;
}

bool systemVersionAtLeast(const char* version) {
  return compareVersions(UIDevice::currentDevice()->systemVersion(), version) >= 0;
}

// Holds a navigation's decision so that it is taken once: a second answer is ignored, and a
// handler dropped unanswered cancels.
struct PendingDecision {
  web::WebPageClient::PolicyDecision decide;
  bool answered = false;
  ~PendingDecision() {
    if (answered) return;
    NSLog("A navigation's decision handler was never called; the navigation is cancelled.");
    if (decide) decide(false);
  }
};

}  // namespace

class WKWebView::PageClient : public web::WebPageClient {
 public:
  explicit PageClient(std::weak_ptr<WKWebView> view) : view_(std::move(view)) {}

  void webPageDecidePolicy(const web::WebNavigationAction& action, PolicyDecision decision) override {
    auto view = view_.lock();
    auto delegate = view ? view->navigationDelegate() : nullptr;
    if (!delegate) {
      decision(true);
      return;
    }
    auto pending = std::make_shared<PendingDecision>();
    pending->decide = std::move(decision);
    auto navigationAction = std::make_shared<WKNavigationAction>(
        action.request, navigationTypeOf(action.navigationType),
        std::make_shared<WKFrameInfo>(action.mainFrame, action.request));
    delegate->webViewDecidePolicyForNavigationActionDecisionHandler(
        *view, navigationAction, [pending](WKNavigationActionPolicy policy) {
          if (pending->answered) {
            NSLog("A navigation's decision handler was called more than once; the first decision stands.");
            return;
          }
          pending->answered = true;
          pending->decide(policy == WKNavigationActionPolicy::Allow);
        });
  }
  std::string webPageUserAgent() override {
    auto view = view_.lock();
    return view && view->customUserAgent_ ? *view->customUserAgent_ : UIWebView::defaultUserAgent();
  }
  void webPageDidStartLoad(const web::WebLoad& load) override {
    if (!load.mainFrame) return;
    withDelegate([&](WKWebView& v, WKNavigationDelegate& d) { d.webViewDidStartProvisionalNavigation(v, v.navigationFor(load.identifier)); });
  }
  void webPageDidCommitLoad(const web::WebLoad& load) override {
    withDelegate([&](WKWebView& v, WKNavigationDelegate& d) { d.webViewDidCommitNavigation(v, v.navigationFor(load.identifier)); });
  }
  void webPageDidFinishLoad(const web::WebLoad& load) override {
    if (!load.mainFrame) return;
    auto view = view_.lock();
    if (!view) return;
    auto navigation = view->endNavigation(load.identifier);
    if (auto d = view->navigationDelegate()) d->webViewDidFinishNavigation(*view, navigation);
  }
  void webPageDidFailLoad(const web::WebLoad& load, const NSError& error, bool provisional) override {
    if (!load.mainFrame) return;
    auto view = view_.lock();
    if (!view) return;
    auto navigation = view->endNavigation(load.identifier);
    auto d = view->navigationDelegate();
    if (!d) return;
    if (provisional)
      d->webViewDidFailProvisionalNavigationWithError(*view, navigation, error);
    else
      d->webViewDidFailNavigationWithError(*view, navigation, error);
  }
  void webPageRunAlert(const std::string& message, std::function<void()> done) override {
    auto view = view_.lock();
    auto ui = view ? view->UIDelegate() : nullptr;
    if (!ui) return done();
    ui->webViewRunJavaScriptAlertPanelWithMessageInitiatedByFrameCompletionHandler(*view, message, mainFrame(*view), done);
  }
  void webPageRunConfirm(const std::string& message, std::function<void(bool)> done) override {
    auto view = view_.lock();
    auto ui = view ? view->UIDelegate() : nullptr;
    if (!ui) return done(false);
    ui->webViewRunJavaScriptConfirmPanelWithMessageInitiatedByFrameCompletionHandler(*view, message, mainFrame(*view), done);
  }
  void webPageRunOpenPanel(const OpenPanel& panel, std::function<void(std::vector<std::string>)> done) override {
    runWebOpenPanel(panel, std::move(done));
  }
  void webPageRunPrompt(const std::string& message, const std::string& defaultText,
                        std::function<void(std::optional<std::string>)> done) override {
    auto view = view_.lock();
    auto ui = view ? view->UIDelegate() : nullptr;
    if (!ui) return done(std::nullopt);
    ui->webViewRunJavaScriptTextInputPanelWithPromptDefaultTextInitiatedByFrameCompletionHandler(
        *view, message, defaultText, mainFrame(*view), done);
  }
  void webPageDidReceiveScriptMessage(const std::string& name, Value body,
                                      std::optional<web::UnreadableBody> unreadable) override {
    auto view = view_.lock();
    if (!view) return;
    auto controller = view->configuration_->userContentController();
    auto handler = controller ? controller->scriptMessageHandlerForName(name) : nullptr;
    if (!handler) return;  // removed since the page posted
    auto message = std::make_shared<WKScriptMessage>(name, std::move(body), view_, mainFrame(*view));
    if (unreadable) message->setUnreadable(std::move(unreadable->why), std::move(unreadable->head));
    handler->userContentControllerDidReceiveScriptMessage(*controller, message);
  }

 private:
  template <class F>
  void withDelegate(F call) {
    auto view = view_.lock();
    auto delegate = view ? view->navigationDelegate() : nullptr;
    if (delegate) call(*view, *delegate);
  }
  static std::shared_ptr<WKFrameInfo> mainFrame(WKWebView& view) {
    return std::make_shared<WKFrameInfo>(true, view.page_ ? view.page_->request() : nullptr);
  }

  std::weak_ptr<WKWebView> view_;
};

bool WKWebView::isAvailable() { return systemVersionAtLeast("8.0"); }

WKWebView::WKWebView() = default;

WKWebView::~WKWebView() {
  if (page_) page_->close();
}

void WKWebView::initWithFrame(const CGRect& frame, const std::shared_ptr<WKWebViewConfiguration>& configuration) {
  UIView::initWithFrame(frame);
  if (page_) return;
  configuration_ = configuration ? configuration : std::make_shared<WKWebViewConfiguration>();
  if (!configuration_->userContentController())
    configuration_->setUserContentController(std::make_shared<WKUserContentController>());
  if (!configuration_->preferences()) configuration_->setPreferences(std::make_shared<WKPreferences>());

  scrollView_ = std::make_shared<UIScrollView>();
  scrollView_->initWithFrame(bounds());
  scrollView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  auto content = std::make_shared<UIView>();
  content->initWithFrame(bounds());
  scrollView_->addSubview(content);
  addSubview(scrollView_);

  client_ = std::make_shared<PageClient>(weakSelf<WKWebView>());
  page_ = web::makeWebPage();
  page_->initWithClient(client_, web::WebPage::Configuration{true});
  frameInWindowDidChange();
  applySettings();
  configuration_->userContentController()->addWebView(weakSelf<WKWebView>());
  contentControllerDidChange();
}

// The configuration as it stands when a load starts: the container sets the preferences of
// config.xml after the view is made, and they must hold from the first page on.
void WKWebView::applySettings() {
  const auto& preferences = *configuration_->preferences();
  page_->applySettings(web::WebPage::Settings{preferences.javaScriptEnabled(), preferences.minimumFontSize(),
                                              preferences.javaScriptCanOpenWindowsAutomatically(),
                                              configuration_->allowsInlineMediaPlayback(),
                                              configuration_->mediaPlaybackRequiresUserAction()});
}

void WKWebView::frameInWindowDidChange() {
  if (page_) page_->setFrameInWindow(frameInWindow());
}

void WKWebView::contentControllerDidChange() {
  if (page_) page_->setScriptMessageHandlerNames(configuration_->userContentController()->scriptMessageHandlerNames());
}

bool WKWebView::respondsToSelector(std::string_view selector) const {
  if (selector == "loadFileURL:allowingReadAccessToURL:") return systemVersionAtLeast("9.0");
  static const char* const implemented[] = {"loadRequest:", "loadHTMLString:baseURL:", "evaluateJavaScript:completionHandler:",
                                            "reload", "stopLoading", "URL", "title", "isLoading", "scrollView",
                                            "configuration", "navigationDelegate", "UIDelegate"};
  for (const char* name : implemented)
    if (selector == name) return true;
  return false;
}

WKNavigationPtr WKWebView::navigationFor(std::uint64_t identifier) {
  auto& navigation = navigations_[identifier];
  if (!navigation) navigation = std::make_shared<WKNavigation>();
  return navigation;
}

WKNavigationPtr WKWebView::endNavigation(std::uint64_t identifier) {
  WKNavigationPtr navigation = navigationFor(identifier);
  navigations_.erase(identifier);
  return navigation;
}

WKNavigationPtr WKWebView::loadRequest(const NSURLRequestPtr& request) {
  if (!page_ || !request || !request->URL()) return nullptr;
  // A file URL loaded this way may read that one file and nothing beside it.
  std::optional<std::string> readAccess;
  if (request->URL()->isFileURL()) readAccess = request->URL()->path();
  applySettings();
  return navigationFor(page_->loadRequest(request, readAccess));
}

WKNavigationPtr WKWebView::loadHTMLString(const std::string& html, const NSURLPtr& baseURL) {
  if (!page_) return nullptr;
  // An HTML string reads no files, whatever its base URL.
  applySettings();
  return navigationFor(page_->loadHTMLString(html, baseURL, std::string()));
}

WKNavigationPtr WKWebView::loadFileURL(const NSURLPtr& url, const NSURLPtr& readAccessURL) {
  if (!respondsToSelector("loadFileURL:allowingReadAccessToURL:")) {
    NSLog("-[WKWebView loadFileURL:allowingReadAccessToURL:]: unrecognized selector sent to instance");
    return nullptr;
  }
  if (!page_ || !url || !url->isFileURL() || !readAccessURL || !readAccessURL->isFileURL()) {
    NSLog("loadFileURL:allowingReadAccessToURL: needs two file URLs");
    return nullptr;
  }
  applySettings();
  return navigationFor(page_->loadRequest(NSURLRequest::requestWithURL(url), readAccessURL->path()));
}

WKNavigationPtr WKWebView::reload() {
  if (page_) applySettings();
  std::uint64_t identifier = page_ ? page_->reload() : 0;
  return identifier ? navigationFor(identifier) : nullptr;
}

void WKWebView::stopLoading() {
  if (page_) page_->stopLoading();
}

NSURLPtr WKWebView::URL() const { return page_ ? page_->URL() : nullptr; }

std::string WKWebView::title() { return page_ ? page_->title() : std::string(); }

bool WKWebView::isLoading() const { return page_ && page_->isLoading(); }

namespace {

// The page engine's evaluation as the web view's completion gets it.
web::WebPage::EvaluationCompletion answerFor(WKWebView::EvaluationCompletion completion) {
  return [completion](const web::WebPage::Evaluation& evaluation) {
    if (!completion) return;
    if (evaluation.invalidated) {
      completion(Value(), NSError{WKErrorDomain, WKErrorWebViewInvalidated, "The WKWebView was invalidated", Value()});
    } else if (evaluation.exception) {
      const JSException& exception = *evaluation.exception;
      Dictionary info{{WKJavaScriptExceptionMessageErrorKey, exception.message},
                      {WKJavaScriptExceptionLineNumberErrorKey, exception.line},
                      {WKJavaScriptExceptionSourceURLErrorKey, exception.sourceURL}};
      completion(Value(), NSError{WKErrorDomain, WKErrorJavaScriptExceptionOccurred, "A JavaScript exception occurred", info});
    } else if (evaluation.unsupportedType || !evaluation.value) {
      completion(Value(), NSError{WKErrorDomain, WKErrorJavaScriptResultTypeIsUnsupported,
                                  "JavaScript execution returned a result of an unsupported type", Value()});
    } else {
      completion(*evaluation.value, std::nullopt);
    }
  };
}

}  // namespace

void WKWebView::evaluateJavaScript(const std::string& script, EvaluationCompletion completion) {
  assert(isMainThread() && "web views are main-thread objects");
  auto answer = answerFor(std::move(completion));
  if (!page_) {
    RunLoop::main().post([answer] { answer(web::WebPage::Evaluation::pageGone()); });
    return;
  }
  // The page is kept alive until it answers; the view may go first.
  page_->evaluateAsync(script, answer);
}

void WKWebView::callJavaScriptFunction(const std::string& body, const std::vector<web::FunctionArgument>& arguments,
                                       EvaluationCompletion completion) {
  assert(isMainThread() && "web views are main-thread objects");
  auto answer = answerFor(std::move(completion));
  if (!page_) {
    RunLoop::main().post([answer] { answer(web::WebPage::Evaluation::pageGone()); });
    return;
  }
  page_->callFunctionAsync(body, arguments, answer);
}

void WKWebView::simulateLinkClick(const NSURLPtr& url) {
  if (page_) page_->simulateLinkClick(url);
}

void WKWebView::simulateFrameLoad(const NSURLPtr& url, std::optional<NSError> failure) {
  if (page_) page_->simulateFrameLoad(url, std::move(failure));
}

bool WKWebView::simulateFailure(const NSError& error) { return page_ && page_->simulateFailure(error); }

}  // namespace plat
