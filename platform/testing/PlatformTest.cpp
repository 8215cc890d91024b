#include "plat/testing/PlatformTest.h"

#include "plat/avfoundation/AVAudioRecorder.h"
#include "plat/avfoundation/AVAudioSession.h"
#include "plat/avfoundation/MediaActivity.h"
#include "plat/dispatch/Queues.h"
#include "plat/uikit/UIAccessibility.h"
#include "plat/uikit/UIImagePickerController.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/web/JSContext.h"

namespace plat::testing {

LogCapture::LogCapture() {
  // Every line, whatever the rate (a test that tries the rate sets one).
  previousRate_ = setLogRate(std::nullopt);
  previous_ = setLogSink([this](std::string_view line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(line);
  });
}

LogCapture::~LogCapture() {
  setLogSink(std::move(previous_));
  setLogRate(previousRate_);
}

std::vector<std::string> LogCapture::lines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool LogCapture::contains(std::string_view text) { return count(text) > 0; }

std::size_t LogCapture::count(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t n = 0;
  for (const auto& l : lines_)
    if (l.find(text) != std::string::npos) ++n;
  return n;
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

void PlatformTest::SetUp() {
  RunLoop::main().bindToCurrentThread();
  RunLoop::main().reset();
  NSNotificationCenter::defaultCenter().reset();
  // A test that terminated its application stopped every script in the process.
  JSContext::resetStopAllScripts();
  clock_ = std::make_shared<ManualClock>();
  setClock(clock_);
  log_ = std::make_unique<LogCapture>();
  resetMedia();
}

void PlatformTest::TearDown() {
  dispatch::GlobalQueue::shared().release();
  dispatch::GlobalQueue::shared().waitIdle();
  RunLoop::main().reset();
  NSNotificationCenter::defaultCenter().reset();
  log_.reset();
  resetMedia();
  setClock(nullptr);
}

void PlatformTest::resetMedia() {
  AVAudioSession::sharedInstance()->reset();
  AudioInput::reset();
  MediaActivity::reset();
  SimulatedCamera::reset();
  UIAccessibilityRecorder::reset();
}

std::size_t PlatformTest::runUntilIdle() { return RunLoop::main().runUntilIdle(); }

bool PlatformTest::waitForMain(double timeoutSeconds) {
  if (!RunLoop::main().hasReadyWork() && !RunLoop::main().waitForPost(timeoutSeconds)) return false;
  runUntilIdle();
  return true;
}

void PlatformTest::advance(double seconds) {
  clock_->advance(seconds);
  runUntilIdle();
}

}  // namespace plat::testing
