#pragma once
// The one injectable clock: seconds since the reference date (2001-01-01 00:00:00 UTC).
// Everything that reads "now" (timers, time slices, durations, file dates) asks this clock.
#include <atomic>
#include <memory>

namespace plat {

// Seconds between the Unix epoch and the reference date.
inline constexpr double kReferenceDateOffset = 978307200.0;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double now() const = 0;
};

class SystemClock : public Clock {
 public:
  double now() const override;
};

// A clock that moves only when told to. Starts far above 0 so that "0 means unset" holds.
class ManualClock : public Clock {
 public:
  static constexpr double kDefaultStart = 700000000.0;
  explicit ManualClock(double start = kDefaultStart) : now_(start) {}
  double now() const override { return now_.load(); }
  void advance(double seconds) { now_.store(now_.load() + seconds); }
  void set(double seconds) { now_.store(seconds); }

 private:
  std::atomic<double> now_;
};

// The clock in force (the system clock unless replaced).
const Clock& clock();
double now();
// Replaces the clock (nullptr restores the system clock); returns the previous one.
std::shared_ptr<Clock> setClock(std::shared_ptr<Clock> clock);

}  // namespace plat
