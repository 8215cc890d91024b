#include "plat/avfoundation/AVAudioPlayer.h"

#include <algorithm>
#include <cmath>

#include "SoundFile.h"
#include "plat/avfoundation/MediaActivity.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Clock.h"

namespace plat {
namespace {

// A meter looks at about a twentieth of a second of sound.
constexpr double kMeterWindow = 0.05;

}  // namespace

AVAudioPlayer::~AVAudioPlayer() = default;

bool AVAudioPlayer::initWithContentsOfURL(const NSURLPtr& url, NSError* error) {
  if (!url || !url->isFileURL()) {
    if (error) *error = NSError{"NSOSStatusErrorDomain", 2003334207, "The URL is not a file URL", {}};
    return false;
  }
  auto info = sound::readInfo(url->path());
  if (!info) {
    if (error) *error = NSError{"NSOSStatusErrorDomain", 1954115647, "The file cannot be played: " + info.error(), {}};
    return false;
  }
  url_ = url;
  path_ = url->path();
  duration_ = info->duration;
  channels_ = static_cast<std::size_t>(info->channels);
  sampleRate_ = info->sampleRate;
  settings_ = Dictionary{{AVFormatIDKey, info->format},
                         {AVSampleRateKey, static_cast<double>(info->sampleRate)},
                         {AVNumberOfChannelsKey, info->channels},
                         {AVEncoderBitRateKey, info->bitRate}};
  return true;
}

bool AVAudioPlayer::prepareToPlay() { return url_ != nullptr; }

double AVAudioPlayer::effectiveRateLocked() const { return enableRate_ ? rate_ : 1.0; }

// Where the sound is at clock time `now`: the distance travelled since the run began, wrapped
// at the end of the sound for every loop still to go.
double AVAudioPlayer::positionLocked(double now) const {
  if (!playing_) return pausedPosition_;
  if (duration_ <= 0) return 0;
  const double travelled = startPosition_ + std::max(0.0, now - startClock_) * effectiveRateLocked();
  if (travelled < duration_) return travelled;
  const double passes = std::floor(travelled / duration_);
  if (loopsLeft_ >= 0 && passes > static_cast<double>(loopsLeft_)) return duration_;
  return travelled - passes * duration_;
}

// Passes already played no longer count when the run starts again from a new position or rate.
void AVAudioPlayer::consumeLoopsLocked(double now) {
  if (duration_ <= 0 || loopsLeft_ <= 0) return;
  const double travelled = startPosition_ + std::max(0.0, now - startClock_) * effectiveRateLocked();
  loopsLeft_ -= std::min(loopsLeft_, static_cast<long>(std::floor(travelled / duration_)));
}

void AVAudioPlayer::scheduleFinishLocked(double now) {
  const std::uint64_t generation = ++generation_;
  if (loopsLeft_ < 0) return;  // loops until stopped
  const double remaining =
      std::max(0.0, (duration_ * static_cast<double>(loopsLeft_ + 1) - startPosition_) / effectiveRateLocked());
  std::weak_ptr<AVAudioPlayer> weak = std::static_pointer_cast<AVAudioPlayer>(shared_from_this());
  RunLoop::main().scheduleTimer(remaining, [weak, generation] {
    if (auto self = weak.lock()) self->finish(generation);
  });
}

bool AVAudioPlayer::play() {
  double position;
  {
    std::lock_guard lock(mutex_);
    if (!url_) return false;
    if (playing_) return true;
    playing_ = true;
    startClock_ = plat::now();
    startPosition_ = pausedPosition_;
    loopsLeft_ = numberOfLoops_;
    position = startPosition_;
    scheduleFinishLocked(startClock_);
  }
  MediaActivity::report({"play", path_, position});
  return true;
}

void AVAudioPlayer::pause() { halt("pause"); }

void AVAudioPlayer::stop() { halt("stop"); }

void AVAudioPlayer::halt(const char* kind) {
  double position;
  {
    std::lock_guard lock(mutex_);
    if (!playing_) return;
    pausedPosition_ = positionLocked(plat::now());
    position = pausedPosition_;
    playing_ = false;
    ++generation_;
  }
  MediaActivity::report({kind, path_, position});
}

void AVAudioPlayer::finish(std::uint64_t generation) {
  std::shared_ptr<AVAudioPlayerDelegate> delegate;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_ || !playing_) return;
    playing_ = false;
    pausedPosition_ = 0;
    delegate = delegate_.lock();
  }
  MediaActivity::report({"finish", path_, duration_});
  if (delegate) delegate->audioPlayerDidFinishPlaying(*this, true);
}

bool AVAudioPlayer::isPlaying() const {
  std::lock_guard lock(mutex_);
  return playing_;
}

double AVAudioPlayer::currentTime() const {
  std::lock_guard lock(mutex_);
  return positionLocked(plat::now());
}

void AVAudioPlayer::setCurrentTime(double seconds) {
  std::lock_guard lock(mutex_);
  const double target = std::clamp(std::isfinite(seconds) ? seconds : 0.0, 0.0, duration_);
  if (!playing_) {
    pausedPosition_ = target;
    return;
  }
  const double now = plat::now();
  consumeLoopsLocked(now);
  startClock_ = now;
  startPosition_ = target;
  scheduleFinishLocked(now);
}

long AVAudioPlayer::numberOfLoops() const {
  std::lock_guard lock(mutex_);
  return numberOfLoops_;
}

void AVAudioPlayer::setNumberOfLoops(long loops) {
  std::lock_guard lock(mutex_);
  numberOfLoops_ = loops;
  loopsLeft_ = loops;
  if (playing_) scheduleFinishLocked(plat::now());
}

float AVAudioPlayer::volume() const {
  std::lock_guard lock(mutex_);
  return volume_;
}

void AVAudioPlayer::setVolume(float volume) {
  std::lock_guard lock(mutex_);
  volume_ = std::isfinite(volume) ? std::clamp(volume, 0.0f, 1.0f) : 1.0f;
}

bool AVAudioPlayer::enableRate() const {
  std::lock_guard lock(mutex_);
  return enableRate_;
}

void AVAudioPlayer::setEnableRate(bool enable) {
  std::lock_guard lock(mutex_);
  enableRate_ = enable;
}

float AVAudioPlayer::rate() const {
  std::lock_guard lock(mutex_);
  return rate_;
}

void AVAudioPlayer::setRate(float rate) {
  std::lock_guard lock(mutex_);
  const float clamped = std::isfinite(rate) ? std::clamp(rate, 0.5f, 2.0f) : 1.0f;
  if (playing_) {
    // The distance so far was covered at the old rate.
    const double now = plat::now();
    const double position = positionLocked(now);
    consumeLoopsLocked(now);
    startClock_ = now;
    startPosition_ = position;
    rate_ = clamped;
    scheduleFinishLocked(now);
  } else {
    rate_ = clamped;
  }
}

bool AVAudioPlayer::isMeteringEnabled() const {
  std::lock_guard lock(mutex_);
  return metering_;
}

void AVAudioPlayer::setMeteringEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  metering_ = enabled;
}

void AVAudioPlayer::updateMeters() {
  double position;
  float gain;
  {
    std::lock_guard lock(mutex_);
    if (!metering_ || !url_) return;
    position = positionLocked(plat::now());
    gain = volume_;
  }
  const auto window = static_cast<long long>(kMeterWindow * sampleRate_);
  const auto samples = sound::readFrames(path_, static_cast<long long>(position * sampleRate_), window);
  std::vector<float> average, peak;
  sound::meterPower(samples, channels_, gain, average, peak);
  std::lock_guard lock(mutex_);
  average_ = std::move(average);
  peak_ = std::move(peak);
}

float AVAudioPlayer::averagePowerForChannel(std::size_t channel) const {
  std::lock_guard lock(mutex_);
  return channel < average_.size() ? average_[channel] : kAVAudioMeterSilence;
}

float AVAudioPlayer::peakPowerForChannel(std::size_t channel) const {
  std::lock_guard lock(mutex_);
  return channel < peak_.size() ? peak_[channel] : kAVAudioMeterSilence;
}

void AVAudioPlayer::setDelegate(const std::weak_ptr<AVAudioPlayerDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

}  // namespace plat
