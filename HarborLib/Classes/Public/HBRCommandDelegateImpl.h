#pragma once
// The plugin-to-page half of the bridge: turns results into the page's callback scripts and
// evaluates them at the right moment, evaluates other script, runs background work and answers
// the questions plugins ask of the container.
//
// Threads: sendPluginResult, evalJs and runInBackground may be called from any thread; scripts
// are always evaluated on the main thread. A result sent from inside an action on the main
// thread is evaluated before the action returns; every other one on a later turn.
#include <memory>

#include "HBRCommandBridgeController.h"
#include "HBRCommandDelegate.h"
#include "HBRCommandQueue.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/foundation/Object.h"

namespace harbor {

class HBRCommandDelegateImpl : public plat::Object, public HBRCommandDelegate {
 public:
  static constexpr std::size_t kMaxCallbackIdLength = 100;

  void initWithViewController(const std::shared_ptr<HBRCommandBridgeController>& viewController);

  std::optional<std::string> pathForResource(const std::string& resourcePath) override;
  plat::ObjectPtr getCommandInstance(const std::string& pluginName) override;
  void sendPluginResult(const HBRPluginResultPtr& result, const std::optional<std::string>& callbackId) override;
  void evalJs(const std::string& js) override;
  void evalJsScheduledOnRunLoop(const std::string& js, bool scheduledOnRunLoop) override;
  void runInBackground(std::function<void()> block) override;
  std::string userAgent() override;
  const plat::Dictionary& settings() override;
  UrlTransformer urlTransformer() override { return urlTransformer_; }
  void setUrlTransformer(UrlTransformer transformer) override { urlTransformer_ = std::move(transformer); }

  // Runs the queue with every result deferred to a later turn.
  void flushCommandQueueWithDelayedJs();
  // The scheduling rule: now when inside command execution on the main thread, else later.
  void evalJsHelper(std::string js);
  // Evaluates now (main thread) and executes any commands the page returns.
  void evalJsHelper2(const std::string& js);

  // Letters, digits, ".", "_" and "-", at most 100 of them.
  static bool isValidCallbackId(const std::string& callbackId);
  // The page call that delivers a result; a JSON error in place of a payload that cannot be
  // written.
  static HBRCallbackCall callbackCall(const std::string& callbackId, const HBRPluginResult& result);
  static std::string evalAndFetchScript(const std::string& js);

 private:
  // What reaches the page: a script or a callback, handed to the engine with the completion
  // that executes the commands the page returns.
  using Delivery = std::function<void(HBRWebViewEngineProtocol& engine, HBRWebViewEngineProtocol::EvaluationCompletion)>;
  // evalJsHelper's scheduling rule, for any delivery.
  void deliver(Delivery delivery);
  void deliverNow(const Delivery& delivery);

  std::weak_ptr<HBRCommandBridgeController> viewController_;
  std::weak_ptr<HBRCommandQueue> commandQueue_;
  bool delayResponses_ = false;
  UrlTransformer urlTransformer_;
};

}  // namespace harbor
