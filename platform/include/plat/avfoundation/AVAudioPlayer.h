#pragma once
// Playing a sound file. Nothing is heard: the file is opened and measured with libsndfile (WAV,
// AIFF, FLAC, Ogg, MP3, ...), and playback runs on the clock. The position moves with the clock
// at the player's rate, loops wrap it, and the delegate hears the end on the main run loop once
// the clock has passed it. Metering reads the samples at the current position.
//
// Every start, pause, stop and finish is also reported to MediaActivity (the runner logs them).
//
// Threads: create and drive from any thread; the delegate is called on the main thread.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

// Keys of a player's and a recorder's settings.
inline constexpr char AVFormatIDKey[] = "AVFormatIDKey";
inline constexpr char AVSampleRateKey[] = "AVSampleRateKey";
inline constexpr char AVNumberOfChannelsKey[] = "AVNumberOfChannelsKey";
inline constexpr char AVLinearPCMBitDepthKey[] = "AVLinearPCMBitDepthKey";
inline constexpr char AVEncoderBitRateKey[] = "AVEncoderBitRateKey";

// Power reported by meters for silence, and before metering has measured anything.
inline constexpr float kAVAudioMeterSilence = -160.0f;

class AVAudioPlayer;

class AVAudioPlayerDelegate {
 public:
  virtual ~AVAudioPlayerDelegate() = default;
  virtual void audioPlayerDidFinishPlaying(AVAudioPlayer& player, bool successfully) = 0;
};

class AVAudioPlayer : public Object {
 public:
  AVAudioPlayer() = default;
  ~AVAudioPlayer() override;

  // Opens a file URL; false with the error when it is no file URL or no sound file libsndfile
  // can read.
  bool initWithContentsOfURL(const NSURLPtr& url, NSError* error = nullptr);
  // True once the file is open.
  bool prepareToPlay();
  // Starts (or resumes) at the current position. False when nothing is open.
  bool play();
  void pause();
  // Stops playing; the position stays where it was.
  void stop();
  bool isPlaying() const;

  double duration() const { return duration_; }
  double currentTime() const;
  // Moves the position (clamped to [0, duration]); playing goes on from there.
  void setCurrentTime(double seconds);
  // Extra passes after the first; below 0 loops until stopped.
  long numberOfLoops() const;
  void setNumberOfLoops(long loops);
  float volume() const;
  void setVolume(float volume);  // clamped to [0, 1]
  bool enableRate() const;
  void setEnableRate(bool enable);
  // The rate (clamped to [0.5, 2]) takes effect only while enableRate is on.
  float rate() const;
  void setRate(float rate);

  bool isMeteringEnabled() const;
  void setMeteringEnabled(bool enabled);
  void updateMeters();
  // Decibels of full scale of the channel at the last update; kAVAudioMeterSilence when nothing
  // was measured.
  float averagePowerForChannel(std::size_t channel) const;
  float peakPowerForChannel(std::size_t channel) const;

  NSURLPtr url() const { return url_; }
  std::size_t numberOfChannels() const { return channels_; }
  // AVFormatIDKey (the container, "WAV", "MP3", ...), AVSampleRateKey, AVNumberOfChannelsKey and
  // AVEncoderBitRateKey (bits per second over the whole file).
  Dictionary settings() const { return settings_; }

  void setDelegate(const std::weak_ptr<AVAudioPlayerDelegate>& delegate);

 private:
  double positionLocked(double now) const;
  double effectiveRateLocked() const;
  void scheduleFinishLocked(double now);
  void consumeLoopsLocked(double now);
  void halt(const char* kind);
  void finish(std::uint64_t generation);

  NSURLPtr url_;
  std::string path_;
  double duration_ = 0;
  std::size_t channels_ = 0;
  int sampleRate_ = 0;
  Dictionary settings_;

  mutable std::mutex mutex_;
  bool playing_ = false;
  double startClock_ = 0;  // clock time at which the current run began
  double startPosition_ = 0;  // position at that time
  double pausedPosition_ = 0;
  long numberOfLoops_ = 0;
  long loopsLeft_ = 0;  // of the current run
  float volume_ = 1.0f;
  bool enableRate_ = false;
  float rate_ = 1.0f;
  bool metering_ = false;
  std::vector<float> average_, peak_;
  std::uint64_t generation_ = 0;  // invalidates scheduled finishes
  std::weak_ptr<AVAudioPlayerDelegate> delegate_;
};

using AVAudioPlayerPtr = std::shared_ptr<AVAudioPlayer>;

}  // namespace plat
