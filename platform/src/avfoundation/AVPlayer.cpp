#include "plat/avfoundation/AVPlayer.h"

#include <algorithm>
#include <cmath>

#include "SoundFile.h"
#include "plat/avfoundation/MediaActivity.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSURLConnection.h"

namespace plat {

CMTime CMTimeMakeWithSeconds(double seconds, std::int32_t timescale) {
  if (timescale == 0 || !std::isfinite(seconds)) return CMTime{};
  return CMTime{static_cast<std::int64_t>(std::llround(seconds * timescale)), timescale};
}

CMTime AVURLAsset::duration() const {
  std::lock_guard lock(mutex_);
  return duration_;
}

namespace {

// Collects the body of a stream, refusing error statuses and bodies past the limit.
class StreamLoader : public NSURLConnectionDataDelegate {
 public:
  using Done = std::function<void(const std::optional<NSError>& error, const Data& body)>;
  explicit StreamLoader(Done done) : done_(std::move(done)) {}

  void connectionDidReceiveResponse(NSURLConnection& connection, const NSURLResponsePtr& response) override {
    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
    if (http && http->statusCode() >= 400)
      fail(connection, "The server answered " + std::to_string(http->statusCode()));
  }
  void connectionDidReceiveData(NSURLConnection& connection, const Data& data) override {
    if (!done_) return;
    if (body_.size() + data.size() > kAVPlayerItemMaxBytes) return fail(connection, "The stream is too long");
    body_.insert(body_.end(), data.begin(), data.end());
  }
  void connectionDidFinishLoading(NSURLConnection&) override {
    if (auto done = std::exchange(done_, nullptr)) done(std::nullopt, body_);
  }
  void connectionDidFailWithError(NSURLConnection&, const NSError& error) override {
    if (auto done = std::exchange(done_, nullptr)) done(error, {});
  }

 private:
  void fail(NSURLConnection& connection, const std::string& reason) {
    connection.cancel();
    if (auto done = std::exchange(done_, nullptr)) done(NSError{"AVFoundationErrorDomain", -11800, reason, {}}, {});
  }

  Done done_;
  Data body_;
};

}  // namespace

std::shared_ptr<AVPlayerItem> AVPlayerItem::playerItemWithURL(const NSURLPtr& url) {
  auto item = std::make_shared<AVPlayerItem>();
  item->asset_ = std::make_shared<AVURLAsset>(url);
  item->load();
  return item;
}

void AVPlayerItem::load() {
  std::weak_ptr<AVPlayerItem> weak = std::static_pointer_cast<AVPlayerItem>(shared_from_this());
  auto loader = std::make_shared<StreamLoader>([weak](const std::optional<NSError>& error, const Data& body) {
    auto self = weak.lock();
    if (!self) return;
    if (error) return self->loaded(error, 0);
    auto info = sound::readInfo(body);
    if (!info) return self->loaded(NSError{"AVFoundationErrorDomain", -11828, "Cannot Open: " + info.error(), {}}, 0);
    self->loaded(std::nullopt, info->duration);
  });
  if (!asset_->URL()) return loaded(NSError{"AVFoundationErrorDomain", -11800, "No URL", {}}, 0);
  connection_ = NSURLConnection::connectionWithRequest(NSURLRequest::requestWithURL(asset_->URL()), loader);
}

AVPlayerItem::~AVPlayerItem() {
  if (connection_) connection_->cancel();
}

void AVPlayerItem::loaded(const std::optional<NSError>& error, double duration) {
  std::function<void()> observer;
  std::vector<std::function<void()>> others;
  {
    std::lock_guard lock(mutex_);
    if (error) {
      status_ = AVPlayerItemStatus::Failed;
      error_ = error;
    } else {
      status_ = AVPlayerItemStatus::ReadyToPlay;
      // Milliseconds are fine enough for a length.
      std::lock_guard assetLock(asset_->mutex_);
      asset_->duration_ = CMTimeMakeWithSeconds(duration, 1000);
    }
    observer = statusObserver_;
    others = otherObservers_;
  }
  if (observer) observer();
  for (const auto& other : others) other();
}

AVPlayerItemStatus AVPlayerItem::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

std::optional<NSError> AVPlayerItem::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

void AVPlayerItem::setStatusObserver(std::function<void()> observer) {
  std::lock_guard lock(mutex_);
  statusObserver_ = std::move(observer);
}

void AVPlayerItem::addStatusObserver(std::function<void()> observer) {
  std::lock_guard lock(mutex_);
  otherObservers_.push_back(std::move(observer));
}

std::shared_ptr<AVPlayer> AVPlayer::playerWithPlayerItem(const AVPlayerItemPtr& item) {
  auto player = std::make_shared<AVPlayer>();
  player->item_ = item;
  if (item) {
    std::weak_ptr<AVPlayer> weak = player;
    item->setStatusObserver([weak] {
      if (auto self = weak.lock()) {
        // The clock starts once there is something to play.
        self->startClock_ = plat::now();
        self->reschedule();
      }
    });
  }
  return player;
}

AVPlayer::~AVPlayer() {
  if (item_) item_->setStatusObserver(nullptr);
}

AVPlayerStatus AVPlayer::status() const {
  if (!item_) return AVPlayerStatus::Unknown;
  return static_cast<AVPlayerStatus>(item_->status());
}

std::optional<NSError> AVPlayer::error() const { return item_ ? item_->error() : std::nullopt; }

double AVPlayer::positionAt(double now) const {
  if (!item_ || item_->status() != AVPlayerItemStatus::ReadyToPlay) return startPosition_;
  const double length = CMTimeGetSeconds(item_->asset()->duration());
  if (rate_ <= 0) return startPosition_;
  return std::min(length, startPosition_ + std::max(0.0, now - startClock_) * rate_);
}

// Starts the clock again from the current position and, while playing a ready item, schedules
// the end.
void AVPlayer::reschedule() {
  const double now = plat::now();
  startPosition_ = positionAt(now);
  startClock_ = now;
  const std::uint64_t generation = ++generation_;
  if (rate_ <= 0 || !item_ || item_->status() != AVPlayerItemStatus::ReadyToPlay) return;
  const double remaining = std::max(0.0, CMTimeGetSeconds(item_->asset()->duration()) - startPosition_) / rate_;
  std::weak_ptr<AVPlayer> weak = std::static_pointer_cast<AVPlayer>(shared_from_this());
  RunLoop::main().scheduleTimer(remaining, [weak, generation] {
    if (auto self = weak.lock()) self->reachedEnd(generation);
  });
}

void AVPlayer::setRate(float rate) {
  if (!std::isfinite(rate)) return;
  const float clamped = rate <= 0 ? 0.0f : std::clamp(rate, 0.5f, 2.0f);
  const double position = positionAt(plat::now());
  startPosition_ = position;
  startClock_ = plat::now();
  const bool wasPlaying = rate_ > 0;
  rate_ = clamped;
  reschedule();
  const std::string source = item_ && item_->asset()->URL() ? item_->asset()->URL()->absoluteString() : "";
  if (!wasPlaying && rate_ > 0) MediaActivity::report({"play", source, position});
  if (wasPlaying && rate_ <= 0) MediaActivity::report({"pause", source, position});
}

CMTime AVPlayer::currentTime() const { return CMTimeMakeWithSeconds(positionAt(plat::now()), 1000); }

void AVPlayer::seekToTime(CMTime time, CMTime, CMTime, std::function<void(bool finished)> completion) {
  const bool ready = item_ && item_->status() == AVPlayerItemStatus::ReadyToPlay;
  if (ready) {
    const double length = CMTimeGetSeconds(item_->asset()->duration());
    startPosition_ = std::clamp(CMTimeGetSeconds(time), 0.0, length);
    startClock_ = plat::now();
    reschedule();
  }
  if (completion) RunLoop::main().post([completion, ready] { completion(ready); });
}

void AVPlayer::reachedEnd(std::uint64_t generation) {
  if (generation != generation_) return;
  startPosition_ = positionAt(plat::now());
  rate_ = 0;
  ++generation_;
  const std::string source = item_->asset()->URL() ? item_->asset()->URL()->absoluteString() : "";
  MediaActivity::report({"finish", source, startPosition_});
  NSNotificationCenter::defaultCenter().post(AVPlayerItemDidPlayToEndTimeNotification, item_);
}

}  // namespace plat
