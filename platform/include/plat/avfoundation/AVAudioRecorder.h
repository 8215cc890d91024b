#pragma once
// Recording from the microphone into a WAV file (16-bit PCM through libsndfile). The microphone
// is simulated (AudioInput): it gives a tone, silence, or a sound file the runner names, as the
// clock passes. Samples are written as the clock moves, in the file's own folder under a hidden
// sibling name; the recording becomes the file only when it finishes (stop, the duration reached,
// or the recorder dropped), so a file from an earlier recording stays whole until then, and a
// dropped recorder still leaves a valid WAV. A take ends at one hour of sound.
//
// Threads: create and drive from any thread; the delegate is called on the main thread, on a
// later turn, and never after the recorder is gone.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "plat/avfoundation/AVAudioPlayer.h"
#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

// The simulated microphone, process-wide.
class AudioInput {
 public:
  // A sine tone of `frequency` Hz at `amplitude` (0..1 of full scale). The default: 440 Hz at 0.5.
  static void setTone(double frequency, double amplitude);
  static void setSilence();
  // The first channel of a sound file, played over and over; false (input unchanged) when the
  // file cannot be read or is longer than ten minutes.
  static bool setFile(const std::string& path);
  // The sample at time t seconds after recording began.
  static float sampleAt(double t);
  // Whether the device has a microphone (and so an audio recorder) at all; it has one until
  // told otherwise.
  static bool isAvailable();
  static void setAvailable(bool available);
  // The default tone, and a microphone there.
  static void reset();
};

class AVAudioRecorder;

class AVAudioRecorderDelegate {
 public:
  virtual ~AVAudioRecorderDelegate() = default;
  virtual void audioRecorderDidFinishRecording(AVAudioRecorder& recorder, bool successfully) = 0;
  virtual void audioRecorderEncodeErrorDidOccur(AVAudioRecorder& recorder, const NSError& error) {}
};

class AVAudioRecorder : public Object {
 public:
  AVAudioRecorder() = default;
  ~AVAudioRecorder() override;  // a running recording is finished (no delegate call)

  // A file URL whose name ends in ".wav" (any letter case) in an existing folder. Settings:
  // AVSampleRateKey (default 44100) and AVNumberOfChannelsKey (1 or 2, default 1); others are
  // ignored. False with the error otherwise.
  bool initWithURL(const NSURLPtr& url, const Dictionary& settings, NSError* error = nullptr);
  // Opens the sibling the samples go to; false when it cannot be created.
  bool prepareToRecord();
  bool record();
  // Records, and finishes by itself once the clock has passed `duration` seconds.
  bool recordForDuration(double duration);
  // Finishes the recording; the delegate hears it on a later turn.
  void stop();
  bool isRecording() const;
  // Seconds recorded so far (0 when not recording).
  double currentTime() const;

  bool isMeteringEnabled() const;
  void setMeteringEnabled(bool enabled);
  // Brings the file up to the clock and measures the last twentieth of a second.
  void updateMeters();
  float averagePowerForChannel(std::size_t channel) const;
  float peakPowerForChannel(std::size_t channel) const;

  NSURLPtr url() const { return url_; }
  void setDelegate(const std::weak_ptr<AVAudioRecorderDelegate>& delegate);

  // The hidden sibling a recording into `path` is written to.
  static std::string recordingPathFor(const std::string& path);

 private:
  bool startLocked(std::optional<double> duration);
  // Writes the samples due up to the clock time; false on a write error.
  bool pumpLocked(double now);
  // Closes the sibling and renames it over the file; false when that fails.
  bool finishLocked();
  void deliverFinish(bool successfully, std::optional<NSError> encodeError);

  NSURLPtr url_;
  std::string path_;
  int sampleRate_ = 44100;
  int channels_ = 1;

  mutable std::mutex mutex_;
  void* file_ = nullptr;  // the open SNDFILE of the sibling
  bool recording_ = false;
  double startClock_ = 0;
  double stopAfter_ = -1;
  std::int64_t framesWritten_ = 0;
  std::uint64_t generation_ = 0;
  bool metering_ = false;
  std::vector<float> lastSamples_;  // interleaved, the meter's window
  std::vector<float> average_, peak_;
  std::weak_ptr<AVAudioRecorderDelegate> delegate_;
};

using AVAudioRecorderPtr = std::shared_ptr<AVAudioRecorder>;

}  // namespace plat
