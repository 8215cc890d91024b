#include "plat/dispatch/Queues.h"

#include <chrono>
#include <future>
#include <system_error>

#include "plat/dispatch/RunLoop.h"

namespace plat::dispatch {

void mainAsync(Block block) { RunLoop::main().post(std::move(block)); }

void mainSync(Block block) {
  if (isMainThread()) {
    block();
    return;
  }
  auto done = std::make_shared<std::promise<void>>();
  auto finished = done->get_future();
  RunLoop::main().post([block = std::move(block), done] {
    block();
    done->set_value();
  });
  finished.wait();
}

GlobalQueue& GlobalQueue::shared() {
  // Never destroyed: its detached workers outlive static destruction.
  static GlobalQueue* queue = new GlobalQueue();
  return *queue;
}

GlobalQueue::GlobalQueue() {
  unsigned n = std::max(2u, std::min(4u, std::thread::hardware_concurrency()));
  for (unsigned i = 0; i < n && startWorker(); ++i) {
  }
}

bool GlobalQueue::startWorker() {
  // Making a thread fails when the process is out of memory or threads; the queue then does
  // with the workers it has rather than ending the process.
  try {
    workers_.emplace_back([this] { workerLoop(); });
  } catch (const std::system_error&) {
    return false;
  }
  workers_.back().detach();
  return true;
}

void GlobalQueue::workerLoop() {
  for (;;) {
    Block block;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      workAvailable_.wait(lock, [&] { return !pending_.empty(); });
      block = std::move(pending_.front());
      pending_.pop_front();
      ++running_;
    }
    block();
    block = nullptr;  // destroy captures outside the lock, before counting the block as done
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --running_;
    }
    idle_.notify_all();
  }
}

void GlobalQueue::async(Block block) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holding_) {
      held_.push_back(std::move(block));
      return;
    }
    if (workers_.empty() && !startWorker()) {
      // No thread at all: the block still runs, later, on the main run loop.
      RunLoop::main().post(std::move(block));
      return;
    }
    pending_.push_back(std::move(block));
  }
  workAvailable_.notify_one();
}

void GlobalQueue::hold() {
  std::lock_guard<std::mutex> lock(mutex_);
  holding_ = true;
}

std::size_t GlobalQueue::drain() {
  // A thread of its own, so that the blocks never run on the test's (main) thread.
  std::size_t ran = 0;
  std::thread drainer([&] {
    for (;;) {
      Block block;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (held_.empty()) return;
        block = std::move(held_.front());
        held_.pop_front();
      }
      block();
      ++ran;
    }
  });
  drainer.join();
  return ran;
}

void GlobalQueue::release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = false;
    while (!held_.empty()) {
      pending_.push_back(std::move(held_.front()));
      held_.pop_front();
    }
  }
  workAvailable_.notify_all();
}

std::size_t GlobalQueue::heldCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_.size();
}

bool GlobalQueue::waitIdle(double timeoutSeconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                        [&] { return pending_.empty() && running_ == 0; });
}

SerialQueue::SerialQueue() : thread_([this] { loop(); }) {}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void SerialQueue::loop() {
  for (;;) {
    Block block;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [&] { return stopping_ || !blocks_.empty(); });
      if (blocks_.empty()) return;
      block = std::move(blocks_.front());
      blocks_.pop_front();
    }
    block();
  }
}

void SerialQueue::async(Block block) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_.push_back(std::move(block));
  }
  cv_.notify_all();
}

void SerialQueue::sync(Block block) {
  std::promise<void> done;
  async([&] {
    block();
    done.set_value();
  });
  done.get_future().wait();
}

}  // namespace plat::dispatch
