#pragma once
// The headless page engine: one JavaScriptCore global context per top-level document, a page
// loader that reads the HTML and runs its scripts in document order (inline and src, fetched
// through the URL loading system), and a small DOM stand-in (window, document with ready states
// and events, elements for scripts and frames, location, navigator, console, timers on the main
// run loop, atob/btoa, alert/confirm/prompt), with localStorage, sessionStorage
// (plat/web/WebStorage.h), XMLHttpRequest and fetch for GET. No layout, no CSS. Deterministic
// and on the platform clock, so the unit tests run on it.
#include "plat/web/WebPage.h"

namespace plat::web {

class HeadlessWebPage : public WebPage {
 public:
  HeadlessWebPage();
  ~HeadlessWebPage() override;

  void initWithClient(const std::shared_ptr<WebPageClient>& client, Configuration configuration) override;
  void close() override;
  std::uint64_t loadRequest(const NSURLRequestPtr& request, std::optional<std::string> readAccessPath = std::nullopt) override;
  std::uint64_t loadHTMLString(const std::string& html, const NSURLPtr& baseURL,
                               std::optional<std::string> readAccessPath = std::nullopt) override;
  std::uint64_t reload() override;
  void stopLoading() override;
  NSURLPtr URL() const override;
  NSURLRequestPtr request() const override;
  bool isLoading() const override;
  std::string title() override;
  Result<JSValue> evaluate(const std::string& script, JSException* exception = nullptr) override;
  JSContext& context() override;
  void setScriptMessageHandlerNames(std::vector<std::string> names) override;
  // Draws nothing: fails with the reason.
  Result<bool> writeSnapshotPNG(const std::string& path, const std::vector<Backdrop>& backdrops) override;
  void simulateLinkClick(const NSURLPtr& url) override;
  void simulateFrameLoad(const NSURLPtr& url, std::optional<NSError> failure = std::nullopt) override;
  bool simulateFailure(const NSError& error) override;

  // The engine's inside, shared with the documents' hooks and the tasks the page posts.
  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace plat::web
