#pragma once
// An operation queue: blocks run one after another, in the order added, on a thread of the
// queue's own (never the main thread). URL connections deliver their reports on one when they
// are given it as their delegate queue.
//
// Threads: add from any thread. The queue may be let go from any thread, also from inside one
// of its own blocks; blocks already added still run.
#include <functional>
#include <memory>

#include "plat/foundation/Object.h"

namespace plat {

class NSOperationQueue;
using NSOperationQueuePtr = std::shared_ptr<NSOperationQueue>;

class NSOperationQueue : public Object {
 public:
  NSOperationQueue();
  ~NSOperationQueue() override;

  void addOperationWithBlock(std::function<void()> block);
  // True on the queue's own thread.
  bool isCurrentQueue() const;
  // Waits (real time, bounded) until every block added so far has run; false on timeout.
  // Never call it from the queue's own thread.
  bool waitUntilAllOperationsAreFinished(double timeoutSeconds = 10);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace plat
