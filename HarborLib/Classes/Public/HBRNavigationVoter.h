#pragma once
// A plugin that votes on the web view's navigations. The engines ask every plugin of the
// container that answers this, in the plugin table's order; the first "no" refuses the
// navigation and nobody after it is asked. The navigation filter is such a plugin.
//
// Main thread only. The request comes from the page and is trusted for nothing.
#include "plat/foundation/NSURLRequest.h"

namespace harbor {

class HBRNavigationVoter {
 public:
  virtual ~HBRNavigationVoter() = default;
  // navigationType: the engine's own numbering (UIWebView's for the UIWebView engine, where a
  // followed link is 0 and "other" 5; WebKit's for the WKWebView engine, where a followed link
  // is 0 and "other" -1). True lets the navigation go ahead.
  virtual bool shouldOverrideLoadWithRequest(const plat::NSURLRequestPtr& request, long navigationType) = 0;
};

}  // namespace harbor
