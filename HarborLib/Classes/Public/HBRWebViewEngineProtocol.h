#pragma once
// What the container needs of a web view engine. The engines themselves (UIWebView- and
// WKWebView-based) are plugins as well; this interface is all the bridge and the view
// controller may rely on.
//
// The view controller creates an engine by class name, runs initWithFrame, asks canLoadRequest
// with the start page's request, places engineWebView in its view, and loads pages with
// loadRequest and loadHTMLString. The page operations have do-nothing defaults so that a fake
// engine that only carries the bridge need not spell them out; every real engine overrides
// all of them.
//
// Main thread only.
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"
#include "plat/uikit/Geometry.h"

namespace harbor {

// Keys of the information that updateWithInfo takes.
inline constexpr char kHBRWebViewEngineUIWebViewDelegate[] = "kHBRWebViewEngineUIWebViewDelegate";
inline constexpr char kHBRWebViewEngineWebViewPreferences[] = "kHBRWebViewEngineWebViewPreferences";
inline constexpr char kHBRWebViewEngineScriptMessageHandlers[] = "kHBRWebViewEngineScriptMessageHandlers";
inline constexpr char kHBRWebViewEngineWKNavigationDelegate[] = "kHBRWebViewEngineWKNavigationDelegate";
inline constexpr char kHBRWebViewEngineWKUIDelegate[] = "kHBRWebViewEngineWKUIDelegate";

// The information dictionary of updateWithInfo. Its entries are either values (preferences,
// handler names) or objects (delegates), so it keeps the two apart under the same keys.
struct HBRWebViewEngineInfo {
  plat::Dictionary values;
  std::map<std::string, plat::ObjectPtr> objects;
  // The dictionary under kHBRWebViewEngineScriptMessageHandlers: handler name -> handler.
  std::map<std::string, plat::ObjectPtr> scriptMessageHandlers;

  const plat::Value& value(const std::string& key) const { return values.get(key); }
  plat::ObjectPtr object(const std::string& key) const {
    auto it = objects.find(key);
    return it == objects.end() ? nullptr : it->second;
  }
};

// A plugin's result on its way to the page: the arguments its callback script passes to
// exec.nativeCallback.
struct HBRCallbackCall {
  std::string callbackId;
  int status = 0;
  std::string messageJSON;
  bool keepCallback = false;
  // harbor.require('harbor/exec').nativeCallback('<callbackId>',<status>,<message>,<0|1>, 0)
  std::string script() const;
};

class HBRWebViewEngineProtocol {
 public:
  // Called with the script's result (a value, absent when the script gave none) and an error
  // when evaluation failed. Always on the main thread; synchronously or on a later turn,
  // depending on the engine.
  using EvaluationCompletion = std::function<void(const plat::Value& result, const std::optional<plat::NSError>& error)>;

  virtual ~HBRWebViewEngineProtocol() = default;

  // Starts loading the request in the web view. The result is the engine's handle of the load,
  // if it has one; the container never uses it.
  virtual plat::ObjectPtr loadRequest(const plat::NSURLRequestPtr& request) { return nullptr; }
  // Shows the HTML (the container's built-in error page), resolved against baseURL when given.
  virtual plat::ObjectPtr loadHTMLString(const std::string& html, const plat::NSURLPtr& baseURL) { return nullptr; }
  // Evaluates script in the page's top-level document.
  virtual void evaluateJavaScript(const std::string& script, EvaluationCompletion completion) = 0;
  // Delivers a result: the page's exec.nativeCallback is called as the call's script calls it,
  // in order with the evaluations, and the completion gets what it returned. The script is
  // evaluated unless the engine has a cheaper way to make the same call.
  virtual void evaluateCallback(const HBRCallbackCall& call, EvaluationCompletion completion) {
    evaluateJavaScript(call.script(), std::move(completion));
  }
  // The URL of the page on show, or null.
  virtual plat::NSURLPtr URL() { return nullptr; }
  // Asked once, right after creation, with the start page's request (whose URL may be null when
  // the start page was not found); false makes the container use the UIWebView engine instead.
  virtual bool canLoadRequest(const plat::NSURLRequestPtr& request) { return false; }
  // Second creation step: creates the engine's web view with the frame. False when the engine
  // cannot run on this system; the object is then dropped.
  virtual bool initWithFrame(const plat::CGRect& frame) { return false; }
  // Re-configures the engine (a web view delegate, preferences, and for the WKWebView engine its
  // message handlers and delegates). Nothing in the container calls it.
  virtual void updateWithInfo(const HBRWebViewEngineInfo& info) {}
  // The engine's view: what the container places in its view, and the identity that the reset
  // notification carries.
  virtual plat::ObjectPtr engineWebView() = 0;
};

}  // namespace harbor
