#pragma once
// The web view with synchronous script evaluation. This first version has a JavaScriptCore
// context with a `navigator` whose `userAgent` is fixed when the view is made; documents,
// loading and the delegate come later.
//
// The user agent of new views is process-wide: the "UserAgent" user default when one is
// registered or stored as a string, else the built-in default user agent.
//
// Main thread only.
#include <memory>
#include <string>

#include "plat/foundation/Object.h"

namespace plat {

class UIWebView;
using UIWebViewPtr = std::shared_ptr<UIWebView>;

class UIWebView : public Object {
 public:
  static constexpr char kBuiltInUserAgent[] =
      "Mozilla/5.0 (Linux; x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko) Mobile/15E148";
  // The user default key that sets the user agent of new web views.
  static constexpr char kUserAgentDefaultsKey[] = "UserAgent";

  // What navigator.userAgent of a view made now says.
  static std::string defaultUserAgent();

  UIWebView() = default;
  ~UIWebView() override;

  // Second step of creation: a view of no size with a fresh script context.
  void init();

  // Runs script in the view and gives its result as text: "" when the script throws, gives
  // undefined or null, or the view is not initialised.
  std::string stringByEvaluatingJavaScriptFromString(const std::string& script);

  const std::string& userAgent() const { return userAgent_; }

 private:
  void* context_ = nullptr;  // JSGlobalContextRef
  std::string userAgent_;
};

}  // namespace plat
