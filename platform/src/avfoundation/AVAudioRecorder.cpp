#include "plat/avfoundation/AVAudioRecorder.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>

#include "SoundFile.h"
#include "plat/avfoundation/MediaActivity.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/NSPathUtilities.h"

namespace plat {
namespace {

constexpr double kMeterWindow = 0.05;
constexpr double kLongestInputFile = 600;  // seconds
constexpr std::int64_t kChunkFrames = 4096;
// No take grows past an hour, whatever the clock does: the disk is not the recorder's to fill.
constexpr double kLongestRecording = 3600;

// What the microphone hears; copied once per chunk so that sampling takes no lock.
struct InputSource {
  double frequency = 440;
  double amplitude = 0.5;
  std::shared_ptr<const std::vector<float>> file;  // mono samples
  int fileRate = 0;

  float sampleAt(double t) const {
    if (file && !file->empty() && fileRate > 0) {
      const auto index = static_cast<std::size_t>(std::max(0.0, t) * fileRate) % file->size();
      return (*file)[index];
    }
    return static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * t));
  }
};

std::mutex inputMutex;
InputSource input;
std::atomic<bool> inputAvailable{true};

InputSource currentInput() {
  std::lock_guard lock(inputMutex);
  return input;
}

SNDFILE* asFile(void* file) { return static_cast<SNDFILE*>(file); }

}  // namespace

void AudioInput::setTone(double frequency, double amplitude) {
  std::lock_guard lock(inputMutex);
  input = InputSource{frequency, std::clamp(amplitude, 0.0, 1.0), nullptr, 0};
}

void AudioInput::setSilence() { setTone(0, 0); }

bool AudioInput::setFile(const std::string& path) {
  auto info = sound::readInfo(path);
  if (!info || info->duration > kLongestInputFile) return false;
  const auto frames = sound::readFrames(path, 0, static_cast<long long>(info->duration * info->sampleRate) + 1);
  auto mono = std::make_shared<std::vector<float>>();
  for (std::size_t i = 0; i < frames.size(); i += static_cast<std::size_t>(info->channels)) mono->push_back(frames[i]);
  if (mono->empty()) return false;
  std::lock_guard lock(inputMutex);
  input = InputSource{0, 0, std::move(mono), info->sampleRate};
  return true;
}

float AudioInput::sampleAt(double t) { return currentInput().sampleAt(t); }

bool AudioInput::isAvailable() { return inputAvailable; }

void AudioInput::setAvailable(bool available) { inputAvailable = available; }

void AudioInput::reset() {
  std::lock_guard lock(inputMutex);
  input = InputSource{};
  inputAvailable = true;
}

std::string AVAudioRecorder::recordingPathFor(const std::string& path) {
  return stringByAppendingPathComponent(stringByDeletingLastPathComponent(path),
                                        "." + lastPathComponent(path) + ".recording");
}

AVAudioRecorder::~AVAudioRecorder() {
  std::lock_guard lock(mutex_);
  if (recording_) {
    pumpLocked(plat::now());
    recording_ = false;
  }
  if (file_) finishLocked();
}

bool AVAudioRecorder::initWithURL(const NSURLPtr& url, const Dictionary& settings, NSError* error) {
  auto fail = [&](long code, std::string text) {
    if (error) *error = NSError{"NSOSStatusErrorDomain", code, std::move(text), {}};
    return false;
  };
  if (!url || !url->isFileURL()) return fail(-50, "The recording URL is not a file URL");
  const std::string path = url->path();
  std::string extension = pathExtension(path);
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  if (extension != "wav") return fail(1718449215, "Only WAV files can be recorded: " + path);
  std::error_code ec;
  if (!std::filesystem::is_directory(stringByDeletingLastPathComponent(path), ec))
    return fail(2003334207, "No folder for the recording: " + path);
  const Value rate = Value(settings)[AVSampleRateKey];
  const Value channels = Value(settings)[AVNumberOfChannelsKey];
  if (rate.isNumber() && (rate.asDouble() < 8000 || rate.asDouble() > 192000))
    return fail(-50, "Unsupported sample rate");
  if (channels.isNumber() && channels.asInt() != 1 && channels.asInt() != 2)
    return fail(-50, "Unsupported number of channels");
  url_ = url;
  path_ = path;
  if (rate.isNumber()) sampleRate_ = static_cast<int>(rate.asDouble());
  if (channels.isNumber()) channels_ = static_cast<int>(channels.asInt());
  return true;
}

bool AVAudioRecorder::prepareToRecord() {
  std::lock_guard lock(mutex_);
  if (!url_) return false;
  if (file_) return true;
  SF_INFO info{};
  info.samplerate = sampleRate_;
  info.channels = channels_;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  file_ = sf_open(recordingPathFor(path_).c_str(), SFM_WRITE, &info);
  return file_ != nullptr;
}

bool AVAudioRecorder::record() {
  std::unique_lock lock(mutex_);
  return startLocked(std::nullopt);
}

bool AVAudioRecorder::recordForDuration(double duration) {
  std::unique_lock lock(mutex_);
  if (!std::isfinite(duration) || duration <= 0) return false;
  return startLocked(duration);
}

bool AVAudioRecorder::startLocked(std::optional<double> duration) {
  if (!url_ || recording_) return false;
  if (!file_) {
    mutex_.unlock();
    const bool prepared = prepareToRecord();
    mutex_.lock();
    if (!prepared) return false;
  }
  recording_ = true;
  startClock_ = plat::now();
  framesWritten_ = 0;
  stopAfter_ = duration.value_or(-1);
  const std::uint64_t generation = ++generation_;
  if (duration) {
    std::weak_ptr<AVAudioRecorder> weak = std::static_pointer_cast<AVAudioRecorder>(shared_from_this());
    RunLoop::main().scheduleTimer(*duration, [weak, generation] {
      auto self = weak.lock();
      if (!self) return;
      {
        std::lock_guard lock(self->mutex_);
        if (self->generation_ != generation || !self->recording_) return;
      }
      self->stop();
    });
  }
  MediaActivity::report({"record", path_, 0});
  return true;
}

bool AVAudioRecorder::pumpLocked(double now) {
  if (!file_ || !recording_) return true;
  double end = std::max(0.0, now - startClock_);
  if (stopAfter_ >= 0) end = std::min(end, stopAfter_);
  end = std::min(end, kLongestRecording);
  const auto due = static_cast<std::int64_t>(std::floor(end * sampleRate_)) - framesWritten_;
  if (due <= 0) return true;
  const InputSource source = currentInput();
  std::vector<float> chunk;
  const auto window = static_cast<std::int64_t>(kMeterWindow * sampleRate_);
  for (std::int64_t done = 0; done < due;) {
    const std::int64_t n = std::min(kChunkFrames, due - done);
    chunk.resize(static_cast<std::size_t>(n * channels_));
    for (std::int64_t f = 0; f < n; ++f) {
      const float s = source.sampleAt(static_cast<double>(framesWritten_ + f) / sampleRate_);
      for (int c = 0; c < channels_; ++c) chunk[static_cast<std::size_t>(f * channels_ + c)] = s;
    }
    if (sf_writef_float(asFile(file_), chunk.data(), n) != n) return false;
    framesWritten_ += n;
    done += n;
    if (due - done < window) {
      lastSamples_.insert(lastSamples_.end(), chunk.begin(), chunk.end());
      const auto keep = static_cast<std::size_t>(window * channels_);
      if (lastSamples_.size() > keep) lastSamples_.erase(lastSamples_.begin(), lastSamples_.end() - static_cast<long>(keep));
    }
  }
  return true;
}

bool AVAudioRecorder::finishLocked() {
  if (!file_) return false;
  const bool closed = sf_close(asFile(file_)) == 0;
  file_ = nullptr;
  const std::string sibling = recordingPathFor(path_);
  if (!closed || std::rename(sibling.c_str(), path_.c_str()) != 0) {
    std::remove(sibling.c_str());
    return false;
  }
  return true;
}

void AVAudioRecorder::stop() {
  bool ok;
  double length;
  std::optional<NSError> encodeError;
  {
    std::lock_guard lock(mutex_);
    if (!recording_) return;
    const bool written = pumpLocked(plat::now());
    recording_ = false;
    ++generation_;
    length = static_cast<double>(framesWritten_) / sampleRate_;
    if (written) {
      ok = finishLocked();
    } else {
      // A half-written recording must not replace the file.
      ok = false;
      if (file_) sf_close(asFile(file_));
      file_ = nullptr;
      std::remove(recordingPathFor(path_).c_str());
    }
    if (!written) encodeError = NSError{"NSOSStatusErrorDomain", -36, "The recording could not be written", {}};
  }
  MediaActivity::report({"record-stop", path_, length});
  deliverFinish(ok, encodeError);
}

void AVAudioRecorder::deliverFinish(bool successfully, std::optional<NSError> encodeError) {
  std::weak_ptr<AVAudioRecorder> weak = std::static_pointer_cast<AVAudioRecorder>(shared_from_this());
  RunLoop::main().post([weak, successfully, encodeError] {
    auto self = weak.lock();
    if (!self) return;
    std::shared_ptr<AVAudioRecorderDelegate> delegate;
    {
      std::lock_guard lock(self->mutex_);
      delegate = self->delegate_.lock();
    }
    if (!delegate) return;
    if (encodeError)
      delegate->audioRecorderEncodeErrorDidOccur(*self, *encodeError);
    else
      delegate->audioRecorderDidFinishRecording(*self, successfully);
  });
}

bool AVAudioRecorder::isRecording() const {
  std::lock_guard lock(mutex_);
  return recording_;
}

double AVAudioRecorder::currentTime() const {
  std::lock_guard lock(mutex_);
  if (!recording_) return 0;
  const double elapsed = std::max(0.0, plat::now() - startClock_);
  return stopAfter_ >= 0 ? std::min(elapsed, stopAfter_) : elapsed;
}

bool AVAudioRecorder::isMeteringEnabled() const {
  std::lock_guard lock(mutex_);
  return metering_;
}

void AVAudioRecorder::setMeteringEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  metering_ = enabled;
}

void AVAudioRecorder::updateMeters() {
  std::optional<NSError> encodeError;
  {
    std::lock_guard lock(mutex_);
    if (!metering_ || !recording_) return;
    if (pumpLocked(plat::now())) {
      sound::meterPower(lastSamples_, static_cast<std::size_t>(channels_), 1.0f, average_, peak_);
      return;
    }
    recording_ = false;
    ++generation_;
    if (file_) sf_close(asFile(file_));
    file_ = nullptr;
    std::remove(recordingPathFor(path_).c_str());
    encodeError = NSError{"NSOSStatusErrorDomain", -36, "The recording could not be written", {}};
  }
  deliverFinish(false, encodeError);
}

float AVAudioRecorder::averagePowerForChannel(std::size_t channel) const {
  std::lock_guard lock(mutex_);
  return channel < average_.size() ? average_[channel] : kAVAudioMeterSilence;
}

float AVAudioRecorder::peakPowerForChannel(std::size_t channel) const {
  std::lock_guard lock(mutex_);
  return channel < peak_.size() ? peak_[channel] : kAVAudioMeterSilence;
}

void AVAudioRecorder::setDelegate(const std::weak_ptr<AVAudioRecorderDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

}  // namespace plat
