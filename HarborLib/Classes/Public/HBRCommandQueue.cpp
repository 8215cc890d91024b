#include "HBRCommandQueue.h"

#include "HBRCommandDelegate.h"
#include "HBRJSON.h"
#include "HBRPlugin.h"
#include "HBRPluginResult.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"

namespace harbor {

void HBRCommandQueue::initWithViewController(const std::shared_ptr<HBRCommandBridgeController>& viewController) {
  viewController_ = viewController;
}

void HBRCommandQueue::dispose() { viewController_.reset(); }

namespace {

// The leading elements of an entry's text that read as scalars: its callback id, service and
// action when they are there, whatever its arguments are.
plat::Array entryHead(std::string_view entryText) {
  plat::Array head;
  auto elements = plat::json::arrayElementTexts(entryText);
  if (!elements) return head;
  for (std::size_t i = 0; i < elements->size() && i < 3; ++i) {
    auto value = plat::json::parse((*elements)[i], {.allowFragments = true});
    if (!value || value->isArray() || value->isDictionary()) break;
    head.push_back(std::move(*value));
  }
  return head;
}

}  // namespace

void HBRCommandQueue::parseInto(BatchHolder& holder, const std::string& text) {
  plat::Value batch = hbr_JSONObject(text);
  std::lock_guard<std::mutex> lock(holder.lock);
  holder.parsed = true;
  if (batch.isArray()) {
    holder.commands = std::move(batch.asArray());
    return;
  }
  if (!batch.isAbsent()) {
    // JSON, but an object: no commands in it. The reader already logged real parse errors.
    plat::NSLog("NSString JSONObject error: command batch is not an array");
    return;
  }
  // The batch cannot be read whole (the reader logged why). One entry nested too deeply, or no
  // JSON, must not take the others with it: each entry is read on its own, and one that still
  // cannot be read keeps what can be read of it, so that its caller hears why. A text that is
  // no array at all is kept as an empty batch, which the queue drops.
  auto entries = plat::json::arrayElementTexts(text);
  if (!entries) return;
  holder.commands.reserve(entries->size());
  for (std::string_view entryText : *entries) {
    auto entry = plat::json::parse(entryText, {.allowFragments = true});
    if (entry) {
      holder.commands.push_back(std::move(*entry));
      continue;
    }
    holder.unreadable.emplace(holder.commands.size(), entry.error());
    holder.commands.push_back(plat::Value(entryHead(entryText)));
  }
}

void HBRCommandQueue::refuseUnreadableCommand(const plat::Value& entry, const std::string& why) {
  const plat::Value& id = entry.isArray() ? entry.at(0) : plat::absentValue();
  // The page decides how long its names are: cut before anything is copied.
  auto name = [&entry](std::size_t index) {
    const plat::Value& value = entry.isArray() ? entry.at(index) : plat::absentValue();
    return value.isString() ? plat::logPageText(value.asString()) : std::string();
  };
  plat::NSLog("ERROR: Cannot read the command " + name(1) + "." + name(2) + " (" + why + ")" +
              (id.isString() ? "; its caller is answered with a JSON error" : "; it has no callback id to answer"));
  answerUnreadableCommand(entry, why);
}

void HBRCommandQueue::answerUnreadableCommand(const plat::Value& entry, const std::string& why) {
  const plat::Value& id = entry.isArray() ? entry.at(0) : plat::absentValue();
  if (id.isString()) answer(id.asString(), HBRCommandStatus::JSONException, "The command cannot be read: " + why);
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
      std::size_t index = holder->next++;
      plat::Value entry = std::move(holder->commands[index]);
      if (holder->next == holder->commands.size()) queue_.pop_front();
      if (auto unreadable = holder->unreadable.find(index); unreadable != holder->unreadable.end()) {
        refuseUnreadableCommand(entry, unreadable->second);
      } else if (auto command = HBRInvokedUrlCommand::commandFromJson(entry)) {
        execute(command);
      } else {
        plat::NSLog("ERROR: Skipping malformed command entry: " + plat::logExcerpt(entry.description()));
        answerUnreadableCommand(entry, "it is not a command entry [callbackId, service, action, [arguments]]");
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
    answer(command->callbackId(),
           command->className().empty() ? HBRCommandStatus::ClassNotFoundException : HBRCommandStatus::InvalidAction,
           "Classname and/or methodName not found for command.");
    return false;
  }
  auto controller = viewController_.lock();
  auto delegate = controller ? controller->commandDelegate() : nullptr;
  auto plugin = std::dynamic_pointer_cast<HBRPlugin>(delegate ? delegate->getCommandInstance(command->className())
                                                              : nullptr);
  if (!plugin) {
    std::string why = "Plugin '" + plat::logPageText(command->className()) +
                      "' not found, or is not a HBRPlugin. Check your plugin mapping in config.xml.";
    plat::NSLog("ERROR: " + why);
    answer(command->callbackId(), HBRCommandStatus::ClassNotFoundException, why);
    return false;
  }
  double started = plat::now();
  bool called = plugin->performAction(command->methodName(), command);
  if (!called) {
    std::string why = "Method '" + plat::logPageText(command->methodName()) + ":' not defined in Plugin '" +
                      plat::logPageText(command->className()) + "'";
    plat::NSLog("ERROR: " + why);
    answer(command->callbackId(), HBRCommandStatus::InvalidAction, why);
  }
  double elapsedMs = (plat::now() - started) * 1000.0;
  if (elapsedMs > kThreadWarningMilliseconds)
    plat::NSLogf("THREAD WARNING: ['%s'] took '%f' ms. Plugin should use a background thread.",
                 plat::logEscaped(command->className()).c_str(), elapsedMs);
  return called;
}

// A caller left waiting for a plugin or action that is not there, or for a command that cannot
// be read, would wait for ever: it hears why, with the status that names it ("Class not found",
// "Invalid action", "JSON error").
void HBRCommandQueue::answer(const std::optional<std::string>& callbackId, HBRCommandStatus status,
                             const std::string& why) {
  if (!callbackId) return;
  auto controller = viewController_.lock();
  auto delegate = controller ? controller->commandDelegate() : nullptr;
  if (delegate) delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsString(status, why), callbackId);
}

}  // namespace harbor
