#include "plat/webkit/WKWebViewConfiguration.h"

#include <algorithm>

#include "plat/foundation/Log.h"
#include "plat/webkit/WKWebView.h"

namespace plat {

bool WKUserContentController::addScriptMessageHandler(const std::shared_ptr<WKScriptMessageHandler>& handler,
                                                      const std::string& name) {
  if (!handler) return false;
  if (scriptMessageHandlerForName(name)) {
    NSLog("Attempt to add script message handler with name '" + name + "' when one already exists.");
    return false;
  }
  handlers_.emplace_back(name, handler);
  changed();
  return true;
}

void WKUserContentController::removeScriptMessageHandlerForName(const std::string& name) {
  auto before = handlers_.size();
  std::erase_if(handlers_, [&](const auto& entry) { return entry.first == name; });
  if (handlers_.size() != before) changed();
}

std::shared_ptr<WKScriptMessageHandler> WKUserContentController::scriptMessageHandlerForName(const std::string& name) const {
  for (const auto& [n, handler] : handlers_)
    if (n == name) return handler;
  return nullptr;
}

std::vector<std::string> WKUserContentController::scriptMessageHandlerNames() const {
  std::vector<std::string> names;
  for (const auto& entry : handlers_) names.push_back(entry.first);
  return names;
}

void WKUserContentController::addWebView(const std::weak_ptr<WKWebView>& view) {
  std::erase_if(webViews_, [](const auto& v) { return v.expired(); });
  webViews_.push_back(view);
}

void WKUserContentController::changed() {
  auto views = webViews_;
  for (const auto& weak : views)
    if (auto view = weak.lock()) view->contentControllerDidChange();
}

WKWebViewConfiguration::WKWebViewConfiguration()
    : preferences_(std::make_shared<WKPreferences>()), userContentController_(std::make_shared<WKUserContentController>()) {}

}  // namespace plat
