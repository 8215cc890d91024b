#pragma once
// A headless stand-in for a web view engine: one JavaScriptCore context with harbor.js loaded,
// a bare page without a DOM. Evaluation is synchronous (as the UIWebView engine's) unless asked
// to complete on a later turn (as the WKWebView engine's). What the page sends reaches the
// bridge on a later turn of the main run loop, as it would from a real engine:
//   - iframe mode: the page's signal makes the command queue fetch the queued batch;
//   - messageHandler mode: window.webkit.messageHandlers.harbor.postMessage(entry) hands each
//     entry to the command queue's execute.
// Main thread only.
#include <memory>
#include <string>
#include <vector>

#include "HBRCommandBridgeController.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Result.h"
#include "plat/web/JSContext.h"
#include "plat/web/ScriptMessageBody.h"

namespace harbor::testing {

// harbor.js in the source tree.
std::string harborScriptPath();

class FakeWebViewEngine : public plat::Object, public HBRWebViewEngineProtocol {
 public:
  enum class BridgeMode { Iframe, MessageHandler };
  enum class Evaluation { Synchronous, NextTurn };

  // Loads harbor.js into a fresh context. The error names the file or the script failure.
  plat::Result<bool> initWithBridgeMode(BridgeMode mode, const std::string& scriptPath = harborScriptPath());
  // The controller whose command queue receives what the page sends (kept weakly).
  void setBridgeController(const std::shared_ptr<HBRCommandBridgeController>& controller);
  void setEvaluation(Evaluation evaluation) { evaluation_ = evaluation; }

  void evaluateJavaScript(const std::string& script, EvaluationCompletion completion) override;
  plat::ObjectPtr engineWebView() override { return view_; }

  // Test surface.
  plat::JSContext& context() { return *context_; }
  // Runs page script now and converts its completion value.
  plat::Result<plat::Value> runPageScript(const std::string& script);
  std::size_t signalCount() const { return signals_; }
  std::size_t messageCount() const { return messages_; }
  // Scripts the native side evaluated through evaluateJavaScript, oldest first.
  const std::vector<std::string>& evaluatedScripts() const { return evaluated_; }
  void recordEvaluatedScripts(bool record) { recordScripts_ = record; }
  // What the page wrote with console.log/warn/error.
  const std::vector<std::string>& consoleLines() const { return console_; }

 private:
  void evaluateNow(const std::string& script, const EvaluationCompletion& completion);
  void onSignal();
  void onMessage(const plat::Value& body);

  std::unique_ptr<plat::JSContext> context_;
  std::unique_ptr<plat::web::ScriptMessageBodyReader> messageBodies_;
  plat::ObjectPtr view_ = std::make_shared<plat::Object>();
  std::weak_ptr<HBRCommandBridgeController> controller_;
  Evaluation evaluation_ = Evaluation::Synchronous;
  std::size_t signals_ = 0;
  std::size_t messages_ = 0;
  bool recordScripts_ = true;
  std::vector<std::string> evaluated_;
  std::vector<std::string> console_;
};

}  // namespace harbor::testing
