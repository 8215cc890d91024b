#include "HBRCommandDelegateImpl.h"

#include "HBRWebViewEngineProtocol.h"
#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSPathUtilities.h"

namespace harbor {

void HBRCommandDelegateImpl::initWithViewController(const std::shared_ptr<HBRCommandBridgeController>& viewController) {
  viewController_ = viewController;
  commandQueue_ = viewController->commandQueue();
}

std::optional<std::string> HBRCommandDelegateImpl::pathForResource(const std::string& resourcePath) {
  auto controller = viewController_.lock();
  if (!controller) return std::nullopt;
  std::size_t slash = resourcePath.rfind('/');
  std::string fileName = slash == std::string::npos ? resourcePath : resourcePath.substr(slash + 1);
  std::string subfolder = slash == std::string::npos ? std::string() : resourcePath.substr(0, slash);
  std::string www = controller->wwwFolderName();
  std::string folder = subfolder.empty() ? www : www + "/" + subfolder;
  auto bundle = plat::NSBundle::mainBundle();
  auto path = bundle->pathForResource(fileName, "", folder);
  // Plugins pass paths that pages gave them: nothing outside the www folder is handed out.
  if (path && !plat::pathIsInsideFolder(*path, plat::stringByAppendingPathComponent(bundle->resourcePath(), www)))
    return std::nullopt;
  return path;
}

plat::ObjectPtr HBRCommandDelegateImpl::getCommandInstance(const std::string& pluginName) {
  auto controller = viewController_.lock();
  return controller ? controller->getCommandInstance(pluginName) : nullptr;
}

bool HBRCommandDelegateImpl::isValidCallbackId(const std::string& callbackId) {
  if (callbackId.size() > kMaxCallbackIdLength) return false;
  for (char c : callbackId) {
    bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                   c == '_' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

HBRCallbackCall HBRCommandDelegateImpl::callbackCall(const std::string& callbackId, const HBRPluginResult& result) {
  int status = static_cast<int>(result.status());
  std::optional<std::string> message = result.argumentsAsJSON();
  if (!message) {
    // The payload could not be written as JSON (the writer logged why). The page gets a JSON
    // error instead of a success that silently lost its payload.
    status = static_cast<int>(HBRCommandStatus::JSONException);
    message = "null";
  }
  return HBRCallbackCall{callbackId, status, std::move(*message), result.keepCallback()};
}

std::string HBRCallbackCall::script() const {
  std::string script;
  script.reserve(64 + callbackId.size() + messageJSON.size());
  script += "harbor.require('harbor/exec').nativeCallback('";
  script += callbackId;
  script += "',";
  script += std::to_string(status);
  script += ',';
  script += messageJSON;
  script += keepCallback ? ",1, 0)" : ",0, 0)";
  return script;
}

std::string HBRCommandDelegateImpl::evalAndFetchScript(const std::string& js) {
  return "try{harbor.require('harbor/exec').nativeEvalAndFetch(function(){" + js +
         "})}catch(e){console.log('exeption nativeEvalAndFetch : '+e);};";
}

void HBRCommandDelegateImpl::sendPluginResult(const HBRPluginResultPtr& result,
                                              const std::optional<std::string>& callbackId) {
  if (callbackId && *callbackId == "INVALID") return;  // the page wants no answer
  if (!callbackId || !isValidCallbackId(*callbackId)) {
    plat::NSLog("Invalid callback id received by sendPluginResult");
    return;
  }
  if (!result) return;
  deliver([call = callbackCall(*callbackId, *result)](HBRWebViewEngineProtocol& engine,
                                                      HBRWebViewEngineProtocol::EvaluationCompletion done) {
    engine.evaluateCallback(call, std::move(done));
  });
}

void HBRCommandDelegateImpl::evalJs(const std::string& js) { evalJsScheduledOnRunLoop(js, true); }

void HBRCommandDelegateImpl::evalJsScheduledOnRunLoop(const std::string& js, bool scheduledOnRunLoop) {
  std::string script = evalAndFetchScript(js);
  // "Now" can only mean now on the main thread: the page is never touched from another one.
  if (scheduledOnRunLoop || !plat::isMainThread())
    evalJsHelper(std::move(script));
  else
    evalJsHelper2(script);
}

void HBRCommandDelegateImpl::evalJsHelper(std::string js) {
  // Moved, not copied: a result may carry megabytes.
  deliver([js = std::move(js)](HBRWebViewEngineProtocol& engine, HBRWebViewEngineProtocol::EvaluationCompletion done) {
    engine.evaluateJavaScript(js, std::move(done));
  });
}

void HBRCommandDelegateImpl::evalJsHelper2(const std::string& js) {
  deliverNow([&js](HBRWebViewEngineProtocol& engine, HBRWebViewEngineProtocol::EvaluationCompletion done) {
    engine.evaluateJavaScript(js, std::move(done));
  });
}

void HBRCommandDelegateImpl::deliver(Delivery delivery) {
  auto queue = commandQueue_.lock();
  // The flag belongs to the main thread: read it only there.
  if (plat::isMainThread() && !delayResponses_ && queue && queue->currentlyExecuting()) {
    deliverNow(delivery);
    return;
  }
  std::weak_ptr<HBRCommandDelegateImpl> weak = weakSelf<HBRCommandDelegateImpl>();
  plat::dispatch::mainAsync([weak, delivery = std::move(delivery)] {
    if (auto self = weak.lock()) self->deliverNow(delivery);
  });
}

void HBRCommandDelegateImpl::deliverNow(const Delivery& delivery) {
  auto controller = viewController_.lock();
  auto engine = controller ? controller->webViewEngine() : nullptr;
  if (!engine) return;
  std::weak_ptr<HBRCommandQueue> weakQueue = commandQueue_;
  delivery(*engine, [weakQueue](const plat::Value& result, const std::optional<plat::NSError>&) {
    if (!result.isString()) return;
    if (auto queue = weakQueue.lock()) {
      queue->enqueueCommandBatch(result.asString());
      queue->executePending();
    }
  });
}

void HBRCommandDelegateImpl::runInBackground(std::function<void()> block) {
  plat::dispatch::GlobalQueue::shared().async(std::move(block));
}

std::string HBRCommandDelegateImpl::userAgent() {
  auto controller = viewController_.lock();
  return controller ? controller->userAgent() : std::string();
}

const plat::Dictionary& HBRCommandDelegateImpl::settings() {
  static const plat::Dictionary empty;
  auto controller = viewController_.lock();
  return controller ? controller->settings() : empty;
}

void HBRCommandDelegateImpl::flushCommandQueueWithDelayedJs() {
  delayResponses_ = true;
  if (auto queue = commandQueue_.lock()) queue->executePending();
  delayResponses_ = false;
}

}  // namespace harbor
