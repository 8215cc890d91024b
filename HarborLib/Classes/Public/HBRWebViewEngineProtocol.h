#pragma once
// What the container needs of a web view engine. The engines themselves (UIWebView- and
// WKWebView-based) are plugins as well; this interface is all the bridge and the view
// controller may rely on.
#include <functional>
#include <optional>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace harbor {

class HBRWebViewEngineProtocol {
 public:
  // Called with the script's result (a value, absent when the script gave none) and an error
  // when evaluation failed. Always on the main thread; synchronously or on a later turn,
  // depending on the engine.
  using EvaluationCompletion = std::function<void(const plat::Value& result, const std::optional<plat::NSError>& error)>;

  virtual ~HBRWebViewEngineProtocol() = default;

  // Main thread only. Evaluates script in the page's top-level document.
  virtual void evaluateJavaScript(const std::string& script, EvaluationCompletion completion) = 0;
  // The engine's view; the identity that the reset notification carries.
  virtual plat::ObjectPtr engineWebView() = 0;
};

}  // namespace harbor
