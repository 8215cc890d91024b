#pragma once
// Streaming a sound from an http or https URL. The item loads the whole body (at most
// kAVPlayerItemMaxBytes) and measures it with libsndfile; its status is unknown while it loads,
// then ready to play or failed. A player plays its item on the clock like the file player and
// posts AVPlayerItemDidPlayToEndTimeNotification (object: the item) on the main thread when the
// clock passes the end.
//
// Threads: create items and players, and drive them, on the main thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"

namespace plat {

inline constexpr char AVPlayerItemDidPlayToEndTimeNotification[] = "AVPlayerItemDidPlayToEndTimeNotification";
inline constexpr char AVPlayerItemPlaybackStalledNotification[] = "AVPlayerItemPlaybackStalledNotification";
inline constexpr std::size_t kAVPlayerItemMaxBytes = 64u << 20;

// A time as a count of units of 1/timescale seconds. A timescale of 0 is an invalid time (a
// length not known yet).
struct CMTime {
  std::int64_t value = 0;
  std::int32_t timescale = 0;
};

inline double CMTimeGetSeconds(CMTime time) {
  return time.timescale == 0 ? 0.0 : static_cast<double>(time.value) / time.timescale;
}
// The seconds as a count at the timescale (rounded); an invalid time for a timescale of 0.
CMTime CMTimeMakeWithSeconds(double seconds, std::int32_t timescale);
inline constexpr CMTime kCMTimeZero{0, 1};

enum class AVPlayerItemStatus { Unknown = 0, ReadyToPlay = 1, Failed = 2 };
enum class AVPlayerStatus { Unknown = 0, ReadyToPlay = 1, Failed = 2 };

class AVURLAsset : public Object {
 public:
  explicit AVURLAsset(NSURLPtr url) : url_(std::move(url)) {}
  NSURLPtr URL() const { return url_; }
  // Invalid (timescale 0) until the item has loaded the sound.
  CMTime duration() const;

 private:
  friend class AVPlayerItem;
  NSURLPtr url_;
  mutable std::mutex mutex_;
  CMTime duration_{};
};

class NSURLConnection;

class AVPlayerItem : public Object {
 public:
  // A dropped item stops loading.
  ~AVPlayerItem() override;
  // Starts loading at once.
  static std::shared_ptr<AVPlayerItem> playerItemWithURL(const NSURLPtr& url);

  AVPlayerItemStatus status() const;
  std::optional<NSError> error() const;
  std::shared_ptr<AVURLAsset> asset() const { return asset_; }
  // Called (main thread) whenever the status changes. The player that plays the item holds
  // this one slot; anyone else watching the item adds an observer of their own, kept as long
  // as the item.
  void setStatusObserver(std::function<void()> observer);
  void addStatusObserver(std::function<void()> observer);

 private:
  void load();
  void loaded(const std::optional<NSError>& error, double duration);

  std::shared_ptr<AVURLAsset> asset_;
  std::shared_ptr<NSURLConnection> connection_;
  mutable std::mutex mutex_;
  AVPlayerItemStatus status_ = AVPlayerItemStatus::Unknown;
  std::optional<NSError> error_;
  std::function<void()> statusObserver_;
  std::vector<std::function<void()>> otherObservers_;
};

using AVPlayerItemPtr = std::shared_ptr<AVPlayerItem>;

class AVPlayer : public Object {
 public:
  static std::shared_ptr<AVPlayer> playerWithPlayerItem(const AVPlayerItemPtr& item);
  ~AVPlayer() override;

  AVPlayerItemPtr currentItem() const { return item_; }
  // Ready once the item is; failed when it failed.
  AVPlayerStatus status() const;
  std::optional<NSError> error() const;

  void play() { setRate(1.0f); }
  void pause() { setRate(0.0f); }
  // 0 pauses; anything else plays at that rate (clamped to [0.5, 2]). Playing waits for the item
  // to be ready; the player then starts by itself.
  float rate() const { return rate_; }
  void setRate(float rate);
  CMTime currentTime() const;
  // Moves to the time (clamped to the item's length); the completion runs on a later turn with
  // true, or false when the item is not ready.
  void seekToTime(CMTime time, CMTime toleranceBefore, CMTime toleranceAfter, std::function<void(bool finished)> completion);

 private:
  double positionAt(double now) const;
  void reschedule();
  void reachedEnd(std::uint64_t generation);

  AVPlayerItemPtr item_;
  float rate_ = 0;
  double startClock_ = 0;
  double startPosition_ = 0;
  std::uint64_t generation_ = 0;
};

using AVPlayerPtr = std::shared_ptr<AVPlayer>;

}  // namespace plat
