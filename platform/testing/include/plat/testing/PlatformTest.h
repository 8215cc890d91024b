#pragma once
// Test fixture for everything above the platform: binds the main run loop to the test's
// thread, installs a manual clock, captures the log, and resets the process-wide platform state
// (run loop, notification centre, global queue hold) around each test.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "plat/foundation/Clock.h"
#include "plat/foundation/Log.h"

namespace plat::testing {

// Collects log lines while it lives.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::vector<std::string> lines();
  bool contains(std::string_view text);  // some line contains text
  std::size_t count(std::string_view text);
  void clear();

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  LogSink previous_;
  std::optional<LogRate> previousRate_;
};

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the main loop until idle.
  std::size_t runUntilIdle();
  // Waits in real time for a cross-thread post, then runs until idle. False on timeout.
  bool waitForMain(double timeoutSeconds = 5);
  // Advances the manual clock and fires what became due.
  void advance(double seconds);
  // The audio session, the simulated microphone and the media record back to their start.
  static void resetMedia();

  std::shared_ptr<ManualClock> clock_;
  std::unique_ptr<LogCapture> log_;
};

}  // namespace plat::testing
