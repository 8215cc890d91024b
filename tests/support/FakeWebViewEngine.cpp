#include "support/FakeWebViewEngine.h"

#include <cassert>
#include <fstream>
#include <sstream>

#include "HBRCommandQueue.h"
#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"

namespace harbor::testing {

std::string harborScriptPath() { return std::string(HARBOR_SOURCE_DIR) + "/www/harbor.js"; }

plat::Result<bool> FakeWebViewEngine::initWithBridgeMode(BridgeMode mode, const std::string& scriptPath) {
  std::ifstream in(scriptPath, std::ios::binary);
  if (!in) return plat::Failure{"cannot read " + scriptPath};
  std::stringstream text;
  text << in.rdbuf();

  context_ = std::make_unique<plat::JSContext>();
  auto weak = weakSelf<FakeWebViewEngine>();
  auto consoleLine = [weak](const char* level) {
    return plat::JSContext::NativeCallback(
        [weak, level](plat::JSContext& js, const plat::JSValue&, const plat::JSValueList& args) {
          std::string line;
          for (const plat::JSValue& a : args) line += (line.empty() ? "" : " ") + a.toString();
          plat::NSLog(std::string("console.") + level + ": " + line);
          if (auto self = weak.lock()) self->console_.push_back(line);
          return js.undefined();
        });
  };
  for (const char* level : {"log", "warn", "error"}) context_->defineFunction(std::string("console.") + level, consoleLine(level));

  if (mode == BridgeMode::MessageHandler) {
    // The body reaches the host as WebKit hands it over; one WebKit would not send is not sent.
    messageBodies_ = std::make_unique<plat::web::ScriptMessageBodyReader>(*context_);
    context_->defineFunction("webkit.messageHandlers.harbor.postMessage",
                             plat::JSContext::NativeCallback([weak](plat::JSContext& js, const plat::JSValue&,
                                                                    const plat::JSValueList& args) {
                               auto self = weak.lock();
                               if (!self) return js.undefined();
                               auto body = self->messageBodies_->read(args.empty() ? js.undefined() : args[0]);
                               if (body) self->onMessage(*body);
                               return js.undefined();
                             }));
  }
  auto loaded = context_->evaluate(text.str(), scriptPath);
  if (!loaded) return plat::Failure{loaded.error()};

  // The signal of the iframe mode. A real engine sees a navigation to an hbr: URL and asks the
  // queue to fetch on a later turn; this one is told directly.
  plat::JSValue exec = context_->valueAtPath("harbor.exec");
  exec.setProperty("signal", context_->makeFunction("signal", [weak](const plat::Array&) {
    if (auto self = weak.lock()) self->onSignal();
    return plat::Value();
  }));
  return true;
}

void FakeWebViewEngine::setBridgeController(const std::shared_ptr<HBRCommandBridgeController>& controller) {
  controller_ = controller;
}

void FakeWebViewEngine::onSignal() {
  ++signals_;
  std::weak_ptr<HBRCommandBridgeController> weak = controller_;
  plat::RunLoop::main().post([weak] {
    auto controller = weak.lock();
    auto queue = controller ? controller->commandQueue() : nullptr;
    if (queue) queue->fetchCommandsFromJs();
  });
}

void FakeWebViewEngine::onMessage(const plat::Value& body) {
  ++messages_;
  std::weak_ptr<HBRCommandBridgeController> weak = controller_;
  plat::RunLoop::main().post([weak, body] {
    auto controller = weak.lock();
    auto queue = controller ? controller->commandQueue() : nullptr;
    if (!queue) return;
    if (auto command = HBRInvokedUrlCommand::commandFromJson(body))
      queue->execute(command);
    else
      plat::NSLog("ERROR: Script message is not a command: " + body.description());
  });
}

void FakeWebViewEngine::evaluateJavaScript(const std::string& script, EvaluationCompletion completion) {
  assert(plat::isMainThread() && "the page is only touched from the main thread");
  if (recordScripts_) evaluated_.push_back(script);
  if (evaluation_ == Evaluation::Synchronous) {
    evaluateNow(script, completion);
    return;
  }
  auto weak = weakSelf<FakeWebViewEngine>();
  plat::RunLoop::main().post([weak, script, completion] {
    if (auto self = weak.lock()) self->evaluateNow(script, completion);
  });
}

void FakeWebViewEngine::evaluateNow(const std::string& script, const EvaluationCompletion& completion) {
  auto result = context_->evaluate(script);
  plat::Value value;
  std::optional<plat::NSError> error;
  if (!result) {
    error = plat::NSError{"WKErrorDomain", 4, result.error(), plat::Value()};
  } else if (auto converted = result->toValue()) {
    value = std::move(*converted);
  } else {
    error = plat::NSError{"WKErrorDomain", 5, converted.error(), plat::Value()};
  }
  if (completion) completion(value, error);
}

plat::Result<plat::Value> FakeWebViewEngine::runPageScript(const std::string& script) {
  auto result = context_->evaluate(script, "page.js");
  if (!result) return plat::Failure{result.error()};
  return result->toValue();
}

}  // namespace harbor::testing
