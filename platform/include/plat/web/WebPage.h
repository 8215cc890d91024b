#pragma once
// The headless page engine behind both web views: one JavaScriptCore global context per
// top-level document, a page loader that reads the HTML and runs its scripts in document order
// (inline and src, fetched through the URL loading system), and a small DOM stand-in (window,
// document with ready states and events, elements for scripts and frames, location, navigator,
// console, timers on the main run loop, atob/btoa, alert/confirm/prompt), with localStorage,
// sessionStorage (plat/web/WebStorage.h), XMLHttpRequest and fetch for GET. No layout, no CSS.
//
// Loading a page: every navigation (from the host, from the page, of a frame) is first offered
// to the client's policy; an allowed top-level load reports start, commit (the new document
// replaces the old one), then finish once the document and its frames and scripts have loaded,
// or a failure (provisional before the commit). Frames are fetched (their loads are reported
// like the page's) but run no scripts. A new top-level load stops the one in progress, which
// fails as cancelled (NSURLErrorCancelled).
//
// Every report to the client is posted to the main run loop and arrives on a later turn; the
// policy is asked directly and may be answered later. The page's alert, confirm and prompt are
// modal: the page waits, running the main loop, until the client answers or nothing is left to
// run (then it takes the cancel answer).
//
// Threads: main thread only. The page never creates threads; loads run where the URL loading
// system runs them and report on the main run loop.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Result.h"
#include "plat/foundation/Value.h"
#include "plat/web/JSContext.h"

namespace plat::web {

// Numbered as UIWebView numbers its navigation types.
enum class WebNavigationType { LinkClicked = 0, FormSubmitted = 1, BackForward = 2, Reload = 3, FormResubmitted = 4, Other = 5 };

struct WebNavigationAction {
  NSURLRequestPtr request;  // its mainDocumentURL is the top-level document's URL
  WebNavigationType navigationType = WebNavigationType::Other;
  bool mainFrame = true;
  std::uint64_t loadIdentifier = 0;  // the load it becomes when allowed
};

// One load of the top-level document or of a frame.
struct WebLoad {
  std::uint64_t identifier = 0;
  bool mainFrame = true;
  NSURLRequestPtr request;
};

class WebPageClient {
 public:
  using PolicyDecision = std::function<void(bool allow)>;

  virtual ~WebPageClient() = default;
  // Called for every navigation; the decision must be called once, now or later.
  virtual void webPageDecidePolicy(const WebNavigationAction& action, PolicyDecision decision) = 0;
  // The user agent for a load starting now.
  virtual std::string webPageUserAgent() = 0;
  virtual void webPageDidStartLoad(const WebLoad& load) {}
  virtual void webPageDidCommitLoad(const WebLoad& load) {}
  virtual void webPageDidFinishLoad(const WebLoad& load) {}
  // provisional: the top-level load failed before its document replaced the old one.
  virtual void webPageDidFailLoad(const WebLoad& load, const NSError& error, bool provisional) {}
  // Same-document navigation (a new fragment): no load.
  virtual void webPageDidNavigateInPage(const NSURLPtr& url) {}
  virtual void webPageRunAlert(const std::string& message, std::function<void()> done) { done(); }
  virtual void webPageRunConfirm(const std::string& message, std::function<void(bool)> done) { done(false); }
  virtual void webPageRunPrompt(const std::string& message, const std::string& defaultText,
                                std::function<void(std::optional<std::string>)> done) {
    done(std::nullopt);
  }
  // window.webkit.messageHandlers.<name>.postMessage(body), on a later turn.
  virtual void webPageDidReceiveScriptMessage(const std::string& name, const Value& body) {}
};

class WebPage : public Object {
 public:
  // Documents, scripts and what pages load with XMLHttpRequest or fetch fail to load past this
  // size (NSURLErrorDataLengthExceedsMaximum).
  static constexpr std::size_t kMaxResourceBytes = 64 * 1024 * 1024;
  // The most run-loop turns a modal dialog waits for its answer.
  static constexpr std::size_t kMaxModalTurns = 100000;

  struct Configuration {
    // Documents get window.webkit.messageHandlers (the WebKit flavour).
    bool scriptMessageHandlers = false;
  };

  WebPage();
  ~WebPage() override;

  // Second creation step: the page starts with an empty, loaded "about:blank" document.
  void initWithClient(const std::shared_ptr<WebPageClient>& client, Configuration configuration);
  // Stops everything; nothing more is reported.
  void close();

  // Host loads. Each returns the identifier of the load it becomes once the policy allows it.
  // readAccessPath: when given, file URLs (this one, its scripts and frames) load only from
  // inside that folder or file; otherwise any file may be read.
  std::uint64_t loadRequest(const NSURLRequestPtr& request, std::optional<std::string> readAccessPath = std::nullopt);
  // The text as a document at baseURL ("about:blank" when none).
  std::uint64_t loadHTMLString(const std::string& html, const NSURLPtr& baseURL,
                               std::optional<std::string> readAccessPath = std::nullopt);
  // The identifier of the new load; 0 when nothing was loaded yet.
  std::uint64_t reload();
  // The top-level load in progress, if any, fails as cancelled.
  void stopLoading();

  // The current document's URL (with the fragment of in-page navigations), and the request of
  // the last top-level load started.
  NSURLPtr URL() const;
  NSURLRequestPtr request() const;
  bool isLoading() const;
  std::string title();

  // Runs script in the current document now.
  Result<JSValue> evaluate(const std::string& script, JSException* exception = nullptr);
  JSContext& context();

  // The script message handler names the documents offer (WebKit flavour).
  void setScriptMessageHandlerNames(std::vector<std::string> names);

  // Test surface.
  // The user follows a link in the page to url.
  void simulateLinkClick(const NSURLPtr& url);
  // A frame of the current document navigates to url; with a failure, its load fails so.
  void simulateFrameLoad(const NSURLPtr& url, std::optional<NSError> failure = std::nullopt);
  // The top-level load in progress fails with the error; false when none is in progress.
  bool simulateFailure(const NSError& error);

  // The engine's inside, shared with the documents' hooks and the tasks the page posts.
  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace plat::web
