#include "plat/foundation/NSOperationQueue.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace plat {

// Shared with the worker thread, so the thread can outlive the queue object when the last
// reference goes from inside one of the queue's own blocks.
struct NSOperationQueue::State {
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  std::deque<std::function<void()>> blocks;
  bool running = false;
  bool stopping = false;
  std::thread::id threadId;

  void loop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      wake.wait(lock, [this] { return stopping || !blocks.empty(); });
      if (blocks.empty()) return;
      auto block = std::move(blocks.front());
      blocks.pop_front();
      running = true;
      lock.unlock();
      block();
      block = nullptr;  // its captures go on this thread, before the queue counts as idle
      lock.lock();
      running = false;
      if (blocks.empty()) idle.notify_all();
    }
  }
};

NSOperationQueue::NSOperationQueue() : state_(std::make_shared<State>()) {
  std::thread worker([state = state_] { state->loop(); });
  state_->threadId = worker.get_id();
  worker.detach();
}

NSOperationQueue::~NSOperationQueue() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->stopping = true;
  state_->wake.notify_all();
}

void NSOperationQueue::addOperationWithBlock(std::function<void()> block) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->blocks.push_back(std::move(block));
  state_->wake.notify_one();
}

bool NSOperationQueue::isCurrentQueue() const { return std::this_thread::get_id() == state_->threadId; }

bool NSOperationQueue::waitUntilAllOperationsAreFinished(double timeoutSeconds) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->idle.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                               [this] { return state_->blocks.empty() && !state_->running; });
}

}  // namespace plat
