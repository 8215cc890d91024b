#include "HBRCommandQueue.h"

#include "HBRCommandDelegate.h"
#include "HBRJSON.h"
#include "HBRPlugin.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"

namespace harbor {

void HBRCommandQueue::initWithViewController(const std::shared_ptr<HBRCommandBridgeController>& viewController) {
  viewController_ = viewController;
}

void HBRCommandQueue::dispose() { viewController_.reset(); }

void HBRCommandQueue::parseInto(BatchHolder& holder, const std::string& text) {
  plat::Value batch = hbr_JSONObject(text);
  std::lock_guard<std::mutex> lock(holder.lock);
  if (batch.isArray()) {
    holder.commands = std::move(batch.asArray());
  } else if (!batch.isAbsent()) {
    // JSON, but an object: no commands in it. The reader already logged real parse errors.
    plat::NSLog("NSString JSONObject error: command batch is not an array");
  }
  // A batch that could not be read is kept as an empty one, so the queue drops it and goes on.
  holder.parsed = true;
}

void HBRCommandQueue::enqueueCommandBatch(const std::string& batchJSON) {
  if (batchJSON.empty()) return;
  auto holder = std::make_shared<BatchHolder>();
  queue_.push_back(holder);
  // Bytes bound the UTF-16 length from above, so short texts skip the count.
  bool large = batchJSON.size() >= kBackgroundParseThreshold && plat::utf16Length(batchJSON) >= kBackgroundParseThreshold;
  if (!large) {
    parseInto(*holder, batchJSON);
    return;
  }
  std::weak_ptr<HBRCommandQueue> weak = weakSelf<HBRCommandQueue>();
  plat::dispatch::GlobalQueue::shared().async([holder, weak, text = batchJSON] {
    parseInto(*holder, text);
    plat::dispatch::mainAsync([weak] {
      if (auto queue = weak.lock()) queue->executePending();
    });
  });
}

void HBRCommandQueue::fetchCommandsFromJs() {
  auto controller = viewController_.lock();
  auto engine = controller ? controller->webViewEngine() : nullptr;
  if (!engine) return;
  std::weak_ptr<HBRCommandQueue> weak = weakSelf<HBRCommandQueue>();
  engine->evaluateJavaScript(kHBRFetchCommandsScript,
                             [weak](const plat::Value& result, const std::optional<plat::NSError>& error) {
                               auto queue = weak.lock();
                               if (!queue || error || !result.isString()) return;
                               queue->enqueueCommandBatch(result.asString());
                               queue->executePending();
                             });
}

void HBRCommandQueue::scheduleExecutePending() {
  std::weak_ptr<HBRCommandQueue> weak = weakSelf<HBRCommandQueue>();
  plat::RunLoop::main().post([weak] {
    if (auto queue = weak.lock()) queue->executePending();
  });
}

void HBRCommandQueue::executePending() {
  if (startExecutionTime_ > 0) return;
  // Keeps the queue alive even if an action drops the last reference to it.
  auto keepAlive = self<HBRCommandQueue>();
  startExecutionTime_ = plat::now();
  struct ResetOnExit {
    double& t;
    ~ResetOnExit() { t = 0; }
  } reset{startExecutionTime_};

  while (!queue_.empty()) {
    std::shared_ptr<BatchHolder> holder = queue_.front();
    {
      std::lock_guard<std::mutex> lock(holder->lock);
      if (!holder->parsed) return;  // the background parse will ask again
    }
    if (holder->next >= holder->commands.size()) {
      // An empty (or unreadable) batch: nothing to run, drop it and go on.
      queue_.pop_front();
      continue;
    }
    while (holder->next < holder->commands.size()) {
      plat::Value entry = std::move(holder->commands[holder->next++]);
      if (holder->next == holder->commands.size()) queue_.pop_front();
      if (auto command = HBRInvokedUrlCommand::commandFromJson(entry)) {
        execute(command);
      } else {
        plat::NSLog("ERROR: Skipping malformed command entry: " + plat::logExcerpt(entry.description()));
      }
      if (!queue_.empty() && plat::now() - startExecutionTime_ > kMaxExecutionSliceSeconds) {
        scheduleExecutePending();
        return;
      }
    }
  }
}

bool HBRCommandQueue::execute(const HBRInvokedUrlCommandPtr& command) {
  if (command->className().empty() || command->methodName().empty()) {
    plat::NSLog("ERROR: Classname and/or methodName not found for command.");
    return false;
  }
  auto controller = viewController_.lock();
  auto delegate = controller ? controller->commandDelegate() : nullptr;
  auto plugin = std::dynamic_pointer_cast<HBRPlugin>(delegate ? delegate->getCommandInstance(command->className())
                                                              : nullptr);
  if (!plugin) {
    plat::NSLogf("ERROR: Plugin '%s' not found, or is not a HBRPlugin. Check your plugin mapping in config.xml.",
                 plat::logEscaped(command->className()).c_str());
    return false;
  }
  double started = plat::now();
  bool called = plugin->performAction(command->methodName(), command);
  if (!called)
    plat::NSLogf("ERROR: Method '%s:' not defined in Plugin '%s'", plat::logEscaped(command->methodName()).c_str(),
                 plat::logEscaped(command->className()).c_str());
  double elapsedMs = (plat::now() - started) * 1000.0;
  if (elapsedMs > kThreadWarningMilliseconds)
    plat::NSLogf("THREAD WARNING: ['%s'] took '%f' ms. Plugin should use a background thread.",
                 plat::logEscaped(command->className()).c_str(), elapsedMs);
  return called;
}

}  // namespace harbor
