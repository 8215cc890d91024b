#pragma once
// The main run loop. It belongs to one thread (the application's main thread, or a test's
// thread that binds it). Posting always runs the task on a later turn, from any thread; one turn
// runs the tasks that were ready when it began and then the timers whose date the clock has
// passed. Tests step turns or run until idle; the application runs until told to stop.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace plat {

class RunLoop {
 public:
  using Task = std::function<void()>;
  using TimerId = std::uint64_t;

  static RunLoop& main();

  RunLoop() = default;
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // Makes the calling thread the loop's thread.
  void bindToCurrentThread();
  bool isCurrentThread() const;

  // Any thread. The task runs on a later turn of the loop, after the tasks posted before it.
  void post(Task task);
  // Any thread. Fires once when the clock has passed now + delay, or every interval seconds
  // when interval > 0, until cancelled.
  TimerId scheduleTimer(double delaySeconds, Task task, double intervalSeconds = 0);
  void cancelTimer(TimerId id);

  // Loop thread. One turn: the tasks posted before it began, then the due timers; returns the
  // number run. A task may turn the loop itself (a page waiting for its dialog's answer): the
  // inner turn runs what is still waiting, the outer turn's own tasks included, so none of them
  // is held back behind the task that waits.
  std::size_t runOneTurn();
  // Loop thread. Turns until nothing is ready and no timer is due (bounded, so a task that
  // re-posts itself forever cannot hang a test). Returns the number run.
  std::size_t runUntilIdle(std::size_t maxTurns = 100000);
  // Loop thread. Waits, in real time, until a task is ready or the timeout passes; true when
  // something is ready. For waiting on a post from another thread.
  bool waitForPost(double timeoutSeconds);
  // Loop thread. Runs turns until stop(), sleeping until the next task or timer date.
  void run();
  // Any thread.
  void stop();

  // Loop thread. Runs after every turn that ran something (the runner watches the screen so).
  void addTurnObserver(Task observer);

  // Another library's event loop turned together with this one (GLib's main context, once
  // WebKit is started). run() hands it the time it would otherwise sleep: dispatch(seconds)
  // waits at most that long for its own events and runs them; wakeup() (any thread) ends such
  // a wait early, and is called on every post, timer and stop. Set once, on the loop thread,
  // before run(); the manual-clock turns of tests never call it.
  struct ExternalSource {
    void (*dispatch)(double maxWaitSeconds) = nullptr;
    void (*wakeup)() = nullptr;
  };
  void setExternalSource(ExternalSource source);

  bool hasReadyWork();
  // The earliest timer date, or a negative number when no timer is scheduled.
  double nextTimerDate();
  // Drops every task and timer (between tests).
  void reset();

 private:
  struct Timer {
    double fireDate;
    double interval;
    Task task;
  };
  std::size_t fireDueTimers();

  std::mutex mutex_;
  std::condition_variable wake_;
  // Each with the order it was posted in: a turn runs those posted before it began.
  std::deque<std::pair<std::uint64_t, Task>> tasks_;
  std::uint64_t nextTaskNumber_ = 1;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimerId_ = 1;
  std::vector<Task> turnObservers_;  // loop thread only
  bool stopRequested_ = false;
  ExternalSource external_;  // under mutex_
  std::thread::id thread_ = std::this_thread::get_id();
};

// True on the main run loop's thread.
bool isMainThread();

}  // namespace plat
