#include "plat/dispatch/RunLoop.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <vector>

#include "plat/foundation/Clock.h"

namespace plat {

RunLoop& RunLoop::main() {
  // Never destroyed: worker threads may still post to it while the process exits.
  static RunLoop* loop = new RunLoop();
  return *loop;
}

bool isMainThread() { return RunLoop::main().isCurrentThread(); }

void RunLoop::bindToCurrentThread() {
  std::lock_guard<std::mutex> lock(mutex_);
  thread_ = std::this_thread::get_id();
}

bool RunLoop::isCurrentThread() const { return std::this_thread::get_id() == thread_; }

void RunLoop::post(Task task) {
  void (*wakeup)() = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.emplace_back(nextTaskNumber_++, std::move(task));
    wakeup = external_.wakeup;
  }
  wake_.notify_all();
  if (wakeup) wakeup();
}

void RunLoop::setExternalSource(ExternalSource source) {
  std::lock_guard<std::mutex> lock(mutex_);
  external_ = source;
}

RunLoop::TimerId RunLoop::scheduleTimer(double delaySeconds, Task task, double intervalSeconds) {
  TimerId id;
  void (*wakeup)() = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = nextTimerId_++;
    timers_.emplace(id, Timer{plat::now() + std::max(0.0, delaySeconds), intervalSeconds, std::move(task)});
    wakeup = external_.wakeup;
  }
  wake_.notify_all();
  if (wakeup) wakeup();
  return id;
}

void RunLoop::cancelTimer(TimerId id) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.erase(id);
}

std::size_t RunLoop::fireDueTimers() {
  double t = plat::now();
  std::vector<std::pair<double, TimerId>> due;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, timer] : timers_)
      if (timer.fireDate <= t) due.emplace_back(timer.fireDate, id);
  }
  std::sort(due.begin(), due.end());
  std::size_t fired = 0;
  for (const auto& [date, id] : due) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = timers_.find(id);
      if (it == timers_.end()) continue;  // cancelled by an earlier timer of this turn
      if (it->second.interval > 0) {
        task = it->second.task;
        it->second.fireDate += it->second.interval * std::max(1.0, std::floor((t - date) / it->second.interval) + 1);
      } else {
        task = std::move(it->second.task);
        timers_.erase(it);
      }
    }
    task();
    ++fired;
  }
  return fired;
}

std::size_t RunLoop::runOneTurn() {
  std::uint64_t last = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    last = nextTaskNumber_ - 1;
  }
  // Taken one at a time from the shared queue rather than all at once, so that a turn inside a
  // task sees the tasks still waiting; a task posted during this turn waits for the next.
  std::size_t count = 0;
  for (;;) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (tasks_.empty() || tasks_.front().first > last) break;
      task = std::move(tasks_.front().second);
      tasks_.pop_front();
    }
    task();
    ++count;
  }
  count += fireDueTimers();
  if (count > 0) {
    for (const auto& observer : turnObservers_) observer();
  }
  return count;
}

void RunLoop::addTurnObserver(Task observer) { turnObservers_.push_back(std::move(observer)); }

bool RunLoop::hasReadyWork() {
  double t = plat::now();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!tasks_.empty()) return true;
  for (const auto& [id, timer] : timers_)
    if (timer.fireDate <= t) return true;
  return false;
}

double RunLoop::nextTimerDate() {
  std::lock_guard<std::mutex> lock(mutex_);
  double best = -1;
  for (const auto& [id, timer] : timers_)
    if (best < 0 || timer.fireDate < best) best = timer.fireDate;
  return best;
}

std::size_t RunLoop::runUntilIdle(std::size_t maxTurns) {
  std::size_t total = 0;
  for (std::size_t turn = 0; turn < maxTurns && hasReadyWork(); ++turn) total += runOneTurn();
  return total;
}

bool RunLoop::waitForPost(double timeoutSeconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return wake_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return !tasks_.empty(); });
}

void RunLoop::run() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = false;
  }
  for (;;) {
    runOneTurn();
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopRequested_) break;
    double wait = 0.05;  // bounded, so a clock that moves by itself is noticed
    double t = plat::now();
    for (const auto& [id, timer] : timers_) wait = std::min(wait, std::max(0.0, timer.fireDate - t));
    if (external_.dispatch) {
      // The other loop's events run between our turns; it sleeps for us when we have nothing.
      auto dispatch = external_.dispatch;
      if (!tasks_.empty()) wait = 0;
      lock.unlock();
      dispatch(wait);
      continue;
    }
    if (!tasks_.empty()) continue;
    if (wait > 0)
      wake_.wait_for(lock, std::chrono::duration<double>(wait), [&] { return stopRequested_ || !tasks_.empty(); });
    if (stopRequested_) break;
  }
}

void RunLoop::stop() {
  void (*wakeup)() = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = true;
    wakeup = external_.wakeup;
  }
  wake_.notify_all();
  if (wakeup) wakeup();
}

void RunLoop::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  tasks_.clear();
  timers_.clear();
  turnObservers_.clear();
  stopRequested_ = false;
}

}  // namespace plat
