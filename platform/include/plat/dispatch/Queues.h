#pragma once
// Dispatch queues: the main queue (the main run loop), the global default-priority queue on
// real worker threads, and serial queues. In tests the global queue can be held: blocks then
// wait until the test drains them, on a worker thread, in the order they were submitted.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace plat::dispatch {

using Block = std::function<void()>;

// Runs the block on a later turn of the main run loop.
void mainAsync(Block block);
// Runs the block on the main thread and returns once it has run: at once when called on the
// main thread (waiting for itself would never end), else on a later turn of the main run loop.
void mainSync(Block block);

class GlobalQueue {
 public:
  static GlobalQueue& shared();

  // Any thread. Runs the block on a worker thread (or keeps it while held).
  void async(Block block);

  // Test surface.
  void hold();
  // Runs every held block, and those they submit, on a worker thread; returns how many ran.
  std::size_t drain();
  // Stops holding; held blocks go to the workers.
  void release();
  std::size_t heldCount();
  // Waits (real time, bounded) until the workers have run everything submitted so far.
  bool waitIdle(double timeoutSeconds = 10);

 private:
  GlobalQueue();
  bool startWorker();  // under mutex_, or in the constructor
  void workerLoop();

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable idle_;
  std::deque<Block> pending_;
  std::deque<Block> held_;
  std::vector<std::thread> workers_;
  std::size_t running_ = 0;
  bool holding_ = false;
};

// A queue that runs its blocks one after another, in order, on a thread of its own.
class SerialQueue {
 public:
  SerialQueue();
  ~SerialQueue();  // runs what is queued, then joins
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  void async(Block block);
  void sync(Block block);

 private:
  void loop();
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Block> blocks_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace plat::dispatch
