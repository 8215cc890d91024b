#include "HBRUserAgentUtil.h"

#include <deque>
#include <memory>
#include <optional>

#include "plat/foundation/Log.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIWebView.h"

namespace harbor {
namespace {

struct LockState {
  std::int64_t currentToken = 0;
  std::int64_t counter = 0;
  std::deque<HBRUserAgentUtil::LockBlock> waiting;
  std::optional<std::string> originalUserAgent;
};

LockState& state() {
  static LockState* s = new LockState();
  return *s;
}

// The identity under which the locale observation is registered and removed.
const std::shared_ptr<int>& localeObserver() {
  static auto* observer = new std::shared_ptr<int>(std::make_shared<int>(0));
  return *observer;
}

std::string measureUserAgent() {
  // Our own registration must not be mistaken for the web view's default: a view made while it
  // is registered would answer with the container's last user agent, which would then be kept
  // as the base of every later one and grow with each measurement.
  auto defaults = plat::NSUserDefaults::standardUserDefaults();
  plat::Value registered = defaults->objectForKey(plat::UIWebView::kUserAgentDefaultsKey);
  bool suspend = registered.isString();
  if (suspend) defaults->registerDefaults(plat::Dictionary{{plat::UIWebView::kUserAgentDefaultsKey, plat::Value()}});
  auto webView = std::make_shared<plat::UIWebView>();
  webView->init();
  std::string agent = webView->stringByEvaluatingJavaScriptFromString("navigator.userAgent");
  if (suspend) defaults->registerDefaults(plat::Dictionary{{plat::UIWebView::kUserAgentDefaultsKey, registered}});
  return agent;
}

}  // namespace

std::string HBRUserAgentUtil::originalUserAgent() {
  LockState& s = state();
  if (s.originalUserAgent) return *s.originalUserAgent;

  auto& center = plat::NSNotificationCenter::defaultCenter();
  center.removeObserver(localeObserver().get(), plat::NSCurrentLocaleDidChangeNotification);
  center.addObserver(localeObserver(), plat::NSCurrentLocaleDidChangeNotification, nullptr,
                     [](const plat::NSNotification& n) { onAppLocaleDidChange(n); });

  auto device = plat::UIDevice::currentDevice();
  std::string systemAndLocale = plat::format("%s %s %s", device->model().c_str(), device->systemVersion().c_str(),
                                             plat::NSLocale::currentLocale()->localeIdentifier().c_str());
  auto defaults = plat::NSUserDefaults::standardUserDefaults();
  plat::Value storedVersion = defaults->objectForKey(kHBRUserAgentVersionKey);
  plat::Value storedAgent = defaults->objectForKey(kHBRUserAgentKey);
  if (storedAgent.isString()) s.originalUserAgent = storedAgent.asString();

  if (!storedAgent.isString() || !storedVersion.isString() || storedVersion.asString() != systemAndLocale) {
    s.originalUserAgent = measureUserAgent();
    defaults->setObject(*s.originalUserAgent, kHBRUserAgentKey);
    defaults->setObject(systemAndLocale, kHBRUserAgentVersionKey);
    defaults->synchronize();
  }
  return *s.originalUserAgent;
}

void HBRUserAgentUtil::onAppLocaleDidChange(const plat::NSNotification&) { state().originalUserAgent.reset(); }

void HBRUserAgentUtil::acquireLock(LockBlock block) {
  LockState& s = state();
  if (s.currentToken != 0) {
    s.waiting.push_back(std::move(block));
    return;
  }
  s.currentToken = ++s.counter;
  if (block) block(s.currentToken);
}

void HBRUserAgentUtil::releaseLock(std::int64_t* lockToken) {
  if (!lockToken || *lockToken == 0) return;
  LockState& s = state();
  if (*lockToken != s.currentToken)
    plat::NSAssertionFailuref("Got token %ld, expected %ld", static_cast<long>(*lockToken),
                              static_cast<long>(s.currentToken));
  // Cleared before the next holder runs, which may store its own token in the same field.
  *lockToken = 0;
  if (s.waiting.empty()) {
    s.currentToken = 0;
    return;
  }
  LockBlock next = std::move(s.waiting.front());
  s.waiting.pop_front();
  s.currentToken = ++s.counter;
  plat::NSLogf("Gave lock %ld", static_cast<long>(s.currentToken));
  if (next) next(s.currentToken);
}

void HBRUserAgentUtil::setUserAgent(const std::string& value, std::int64_t lockToken) {
  LockState& s = state();
  if (lockToken != s.currentToken)
    plat::NSAssertionFailuref("Got token %ld, expected %ld", static_cast<long>(lockToken),
                              static_cast<long>(s.currentToken));
  plat::NSUserDefaults::standardUserDefaults()->registerDefaults(
      plat::Dictionary{{plat::UIWebView::kUserAgentDefaultsKey, value}});
}

std::int64_t HBRUserAgentUtil::currentLockToken() { return state().currentToken; }

std::size_t HBRUserAgentUtil::waitingRequestCount() { return state().waiting.size(); }

void HBRUserAgentUtil::resetForTesting() {
  LockState& s = state();
  s.currentToken = 0;
  s.counter = 0;
  s.waiting.clear();
  s.originalUserAgent.reset();
  plat::NSNotificationCenter::defaultCenter().removeObserver(localeObserver().get());
}

}  // namespace harbor
