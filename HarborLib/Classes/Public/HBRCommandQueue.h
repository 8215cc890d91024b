#pragma once
// The page-to-plugin half of the bridge. Batches of page commands (JSON text) are queued in
// arrival order, parsed (large ones on the global queue), and executed on the main thread in
// slices of about 8 ms, yielding to the run loop between slices.
//
// Threads: everything here runs on the main thread, except the background parse of a large
// batch, which hands its result over under the batch's own lock.
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "HBRCommandBridgeController.h"
#include "HBRInvokedUrlCommand.h"
#include "HBRPluginResult.h"
#include "plat/foundation/Object.h"

namespace harbor {

inline constexpr char kHBRFetchCommandsScript[] = "harbor.require('harbor/exec').nativeFetchMessages()";

class HBRCommandQueue : public plat::Object {
 public:
  // Batches of this many UTF-16 units or more are parsed off the main thread.
  static constexpr std::size_t kBackgroundParseThreshold = 4096;
  // Execution yields to the run loop once a slice has run this long and work remains.
  static constexpr double kMaxExecutionSliceSeconds = 0.008;
  // An action slower than this is logged as a thread warning.
  static constexpr double kThreadWarningMilliseconds = 10.0;

  void initWithViewController(const std::shared_ptr<HBRCommandBridgeController>& viewController);
  void dispose();
  void resetRequestId() { lastCommandQueueFlushRequestId_ = 0; }

  // Queues a batch without executing it. An empty text is ignored.
  void enqueueCommandBatch(const std::string& batchJSON);
  // Asks the page for its queued commands and executes them.
  void fetchCommandsFromJs();
  // Executes queued commands for one slice. Returns at once when already executing further up
  // the stack; the outer run picks up what was added.
  void executePending();
  // Runs one command's action; false when no action was called.
  virtual bool execute(const HBRInvokedUrlCommandPtr& command);
  // A command that could not be read (or is no command entry): what could be read of its entry
  // (the entry itself, or its first elements), and why. Its caller, when the callback id could be
  // read, is answered with a JSON error naming why; logged either way. Each unreadable command
  // gets this once, so it is answered once, and its neighbours run as usual.
  void refuseUnreadableCommand(const plat::Value& entry, const std::string& why);
  // The same answer without the log line, for an entry already logged.
  void answerUnreadableCommand(const plat::Value& entry, const std::string& why);
  bool currentlyExecuting() const { return startExecutionTime_ > 0; }

  std::size_t pendingBatchCount() const { return queue_.size(); }

 private:
  // The caller on callbackId, when there is one, hears why a command cannot be carried out.
  void answer(const std::optional<std::string>& callbackId, HBRCommandStatus status, const std::string& why);

  // A batch as it travels through the queue. While `parsed` is false the background parse owns
  // it; afterwards only the main thread touches it.
  struct BatchHolder {
    std::mutex lock;
    bool parsed = false;
    plat::Array commands;
    std::size_t next = 0;
    // Entries that could not be read, by index: why. Their place in `commands` holds what could
    // be read of them (their first elements).
    std::unordered_map<std::size_t, std::string> unreadable;
  };
  static void parseInto(BatchHolder& holder, const std::string& text);
  void scheduleExecutePending();

  std::int64_t lastCommandQueueFlushRequestId_ = 0;
  std::weak_ptr<HBRCommandBridgeController> viewController_;
  std::deque<std::shared_ptr<BatchHolder>> queue_;
  double startExecutionTime_ = 0;
};

}  // namespace harbor
