#include "HBRSound.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "HBRFile.h"
#include "HBRPluginResult.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSPathUtilities.h"

namespace harbor {
namespace {

constexpr char kHTTP[] = "http://";
constexpr char kHTTPS[] = "https://";
constexpr char kDocumentsPrefix[] = "documents://";
constexpr char kFileSystemPrefix[] = "hbrfile://";
constexpr char kSeekNotReady[] =
    "AVPlayerItem cannot service a seek request with a completion handler until its status is "
    "AVPlayerItemStatusReadyToPlay.";
constexpr char kPermissionDenied[] = "Error creating audio session, microphone permission denied.";

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string documentsPath() { return plat::stringByAppendingPathComponent(plat::NSHomeDirectory(), "Documents"); }
std::string temporaryPath() { return plat::stringByStandardizingPath(plat::NSTemporaryDirectory()); }

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The path with its links resolved as far as it exists, so that a link cannot lead a page out.
std::string resolvedPath(const std::string& path) {
  std::error_code ec;
  auto resolved = std::filesystem::weakly_canonical(plat::stringByStandardizingPath(path), ec);
  return ec ? plat::stringByStandardizingPath(path) : resolved.string();
}

// Pages reach files in the sandbox home, and (to play) in the application bundle; nothing else.
bool insideApplicationFolders(const std::string& path, bool bundleToo) {
  if (!plat::isAbsolutePath(path)) return false;
  const std::string resolved = resolvedPath(path);
  if (plat::pathIsInsideFolder(resolved, resolvedPath(plat::NSHomeDirectory()))) return true;
  if (!bundleToo) return false;
  auto bundle = plat::NSBundle::mainBundle();
  return bundle && !bundle->bundlePath().empty() &&
         plat::pathIsInsideFolder(resolved, resolvedPath(bundle->bundlePath()));
}

double roundedToMilliseconds(double seconds) { return std::round(seconds * 1000) / 1000; }

// The player's loop count for the page's "numberOfLoops" (the times to play): one less, where
// any negative count loops until stopped. Absent, NaN or not a number plays once; huge values
// are clamped rather than overflowing.
long loopCount(const plat::Value& loops) {
  if (!loops.isNumber()) return 0;
  const double times = loops.asDouble();
  if (std::isnan(times)) return 0;
  if (times < 0) return -1;
  constexpr double most = 1e9;
  return static_cast<long>(std::min(times, most)) - 1;
}

}  // namespace

HBRSound::HBRSound() {
  using Method = void (HBRSound::*)(const HBRInvokedUrlCommandPtr&);
  // Every action waits for a start in progress, so the page's commands apply in its order.
  auto ordered = [this](const std::string& name, Method method) {
    registerAction(name, [this, method](const HBRInvokedUrlCommandPtr& command) {
      inOrder([this, method, command] { (this->*method)(command); });
    });
  };
  ordered("create", &HBRSound::create);
  ordered("setVolume", &HBRSound::setVolume);
  ordered("setRate", &HBRSound::setRate);
  ordered("startPlayingAudio", &HBRSound::startPlayingAudio);
  ordered("stopPlayingAudio", &HBRSound::stopPlayingAudio);
  ordered("pausePlayingAudio", &HBRSound::pausePlayingAudio);
  ordered("seekToAudio", &HBRSound::seekToAudio);
  ordered("release", &HBRSound::release);
  ordered("getCurrentPositionAudio", &HBRSound::getCurrentPositionAudio);
  ordered("startRecordingAudio", &HBRSound::startRecordingAudio);
  ordered("stopRecordingAudio", &HBRSound::stopRecordingAudio);
  ordered("getCurrentAmplitudeAudio", &HBRSound::getCurrentAmplitudeAudio);
}

void HBRSound::inOrder(std::function<void()> action) {
  if (starting_) {
    waiting_.push_back(std::move(action));
    return;
  }
  action();
}

void HBRSound::startFinished() {
  starting_ = false;
  // A waiting start sets starting_ again; the rest wait for it in turn.
  while (!starting_ && !waiting_.empty()) {
    auto next = std::move(waiting_.front());
    waiting_.pop_front();
    next();
  }
}

HBRSound::~HBRSound() {
  plat::NSNotificationCenter::defaultCenter().removeObserver(this);
  std::lock_guard lock(mutex_);
  stopAllLocked();
}

// ---- Status calls ----

std::string HBRSound::formatSeconds(double seconds, int decimals) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::isfinite(seconds) ? seconds : 0.0,
                                 std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

std::string HBRSound::statusScript(const std::string& mediaId, int type, const std::string& value) {
  std::string script = kHBRMediaStatusFunction;
  script += '(';
  plat::json::appendQuoted(script, mediaId);
  script += ',' + std::to_string(type) + ',' + value + ");";
  return script;
}

std::string HBRSound::createMediaErrorWithCode(unsigned code, const std::optional<std::string>& message) {
  plat::Dictionary error{{"code", static_cast<std::uint64_t>(code)}, {"message", message.value_or("")}};
  auto text = plat::json::write(error);
  return text.ok() ? *text : std::string("{\"code\":") + std::to_string(code) + ",\"message\":\"\"}";
}

float HBRSound::amplitudeForPower(float decibels) {
  const float minDecibels = -60.0f;
  if (!(decibels >= minDecibels)) return 0.0f;  // NaN too
  if (decibels >= 0.0f) return 1.0f;
  const float minAmplitude = std::pow(10.0f, 0.05f * minDecibels);
  const float inverseRange = 1.0f / (1.0f - minAmplitude);
  const float amplitude = std::pow(10.0f, 0.05f * decibels);
  // At -60 dB rounding can leave a hair below zero, whose root would be NaN.
  return std::sqrt(std::max(0.0f, (amplitude - minAmplitude) * inverseRange));
}

void HBRSound::evalStatus(const std::string& script) {
  if (script.empty()) return;
  if (auto delegate = commandDelegate()) delegate->evalJs(script);
}

// ---- Sources ----

std::optional<std::string> HBRSound::fileSystemPath(const std::string& source) {
  auto delegate = commandDelegate();
  auto file = delegate ? std::dynamic_pointer_cast<HBRFile>(delegate->getCommandInstance("File")) : nullptr;
  if (!file) return std::nullopt;
  return file->filesystemPathForURL(HBRFilesystemURL::fileSystemURLWithString(source));
}

// "documents://" and "hbrfile://" sources, alike for playing and recording: the path, or none
// when the File plugin has none (the source is then taken as a URL). Nothing for other sources.
std::optional<HBRSound::PrefixedSource> HBRSound::prefixedSource(const std::string& resourcePath) {
  if (startsWith(resourcePath, kDocumentsPrefix)) {
    std::string path = replaceAll(resourcePath, kDocumentsPrefix, documentsPath() + "/");
    plat::NSLogf("Will use resource '%s' from the documents folder with path = %s", resourcePath.c_str(),
                 path.c_str());
    return PrefixedSource{path};
  }
  if (startsWith(resourcePath, kFileSystemPrefix)) return PrefixedSource{fileSystemPath(resourcePath)};
  return std::nullopt;
}

plat::NSURLPtr HBRSound::urlForPlaying(const std::string& resourcePath) {
  if (startsWith(resourcePath, kHTTP) || startsWith(resourcePath, kHTTPS)) {
    plat::NSLogf("Will use resource '%s' from the Internet.", resourcePath.c_str());
    return plat::NSURL::URLWithString(resourcePath);
  }
  std::string filePath;
  if (auto prefixed = prefixedSource(resourcePath)) {
    if (!prefixed->path) return plat::NSURL::URLWithString(resourcePath);
    filePath = *prefixed->path;
  } else {
    auto delegate = commandDelegate();
    auto found = delegate ? delegate->pathForResource(resourcePath) : std::nullopt;
    if (found) {
      plat::NSLogf("Found resource '%s' in the web folder.", resourcePath.c_str());
      filePath = *found;
    } else {
      const std::string inTemporary = temporaryPath() + "/" + resourcePath;
      if (plat::NSFileManager::defaultManager().fileExistsAtPath(inTemporary)) {
        filePath = inTemporary;
        plat::NSLog("Will attempt to use file resource from LocalFileSystem.TEMPORARY directory");
      } else {
        filePath = resourcePath;
        plat::NSLogf("Will attempt to use file resource '%s'", resourcePath.c_str());
      }
    }
  }
  if (!plat::NSFileManager::defaultManager().fileExistsAtPath(filePath)) {
    plat::NSLogf("Unknown resource '%s'", resourcePath.c_str());
    return nullptr;
  }
  if (!insideApplicationFolders(filePath, true)) {
    plat::NSLogf("Refusing resource '%s': it lies outside the application's folders", resourcePath.c_str());
    return nullptr;
  }
  return plat::NSURL::fileURLWithPath(filePath);
}

plat::NSURLPtr HBRSound::urlForRecording(const std::string& resourcePath) {
  std::string extension = plat::pathExtension(resourcePath);
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  if (extension != "wav") {
    plat::NSLogf("Resource for recording must have %s extension", "wav");
    return nullptr;
  }
  std::string filePath;
  if (auto prefixed = prefixedSource(resourcePath)) {
    if (!prefixed->path) return plat::NSURL::URLWithString(resourcePath);
    filePath = *prefixed->path;
  } else if (resourcePath.find(temporaryPath()) == std::string::npos &&
             resourcePath.find(documentsPath()) == std::string::npos) {
    filePath = temporaryPath() + "/" + resourcePath;
  } else {
    filePath = resourcePath;
  }
  if (!insideApplicationFolders(filePath, false)) {
    plat::NSLogf("Refusing to record into '%s': it lies outside the application's folders", resourcePath.c_str());
    return nullptr;
  }
  return plat::NSURL::fileURLWithPath(filePath);
}

HBRAudioFilePtr HBRSound::audioFileForResource(const plat::Value& resourcePath, const std::string& mediaId,
                                               bool validate, bool forRecording) {
  const std::string source = resourcePath.stringOr("");
  std::optional<std::string> error;
  HBRAudioFilePtr sound;
  {
    std::lock_guard lock(mutex_);
    if (!soundCache_) soundCache_.emplace();
    auto found = soundCache_->find(mediaId);
    if (found != soundCache_->end()) {
      sound = found->second;
    } else if (resourcePath.isString() && !source.empty()) {
      sound = std::make_shared<HBRAudioFile>();
      sound->resourcePath = source;
      (*soundCache_)[mediaId] = sound;
    } else {
      error = "invalid media src argument";
    }
    if (validate && sound && !sound->resourceURL) {
      auto url = forRecording ? urlForRecording(source) : urlForPlaying(source);
      if (url)
        sound->resourceURL = url;
      else
        error = "Cannot use audio file from resource '" + source + "'";
    }
  }
  if (error) evalStatus(statusScript(mediaId, MEDIA_ERROR, createMediaErrorWithCode(MEDIA_ERR_ABORTED, error)));
  return sound;
}

bool HBRSound::hasAudioSession() {
  std::lock_guard lock(mutex_);
  if (!avSession_) avSession_ = plat::AVAudioSession::sharedInstance();
  return true;
}

HBRAudioFilePtr HBRSound::soundFor(const std::string& mediaId) const {
  if (!soundCache_) return nullptr;
  auto found = soundCache_->find(mediaId);
  return found == soundCache_->end() ? nullptr : found->second;
}

std::size_t HBRSound::soundCount() const {
  std::lock_guard lock(mutex_);
  return soundCache_ ? soundCache_->size() : 0;
}

// ---- Playback ----

void HBRSound::create(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  const plat::Value& resourcePath = command->argumentAtIndex(1);
  auto sound = audioFileForResource(resourcePath, mediaId, true, false);
  if (!sound) {
    evalStatus(statusScript(mediaId, MEDIA_ERROR,
                            createMediaErrorWithCode(MEDIA_ERR_ABORTED, "Failed to initialize Media file with path " +
                                                                            resourcePath.stringOr(""))));
    return;
  }
  plat::NSURLPtr url;
  {
    std::lock_guard lock(mutex_);
    url = sound->resourceURL;
  }
  if (url && !url->isFileURL() && !startsWith(resourcePath.stringOr(""), kFileSystemPrefix)) {
    auto item = plat::AVPlayerItem::playerItemWithURL(url);
    auto& center = plat::NSNotificationCenter::defaultCenter();
    std::weak_ptr<HBRSound> weak = std::static_pointer_cast<HBRSound>(shared_from_this());
    center.addObserver(shared_from_this(), plat::AVPlayerItemDidPlayToEndTimeNotification, item,
                       [weak](const plat::NSNotification& n) {
                         if (auto self = weak.lock()) self->itemDidFinishPlaying(n);
                       });
    center.addObserver(shared_from_this(), plat::AVPlayerItemPlaybackStalledNotification, item,
                       [weak](const plat::NSNotification& n) {
                         if (auto self = weak.lock()) self->itemStalledPlaying(n);
                       });
    watchStream(item, resourcePath.stringOr(""));
    auto player = plat::AVPlayer::playerWithPlayerItem(item);
    std::lock_guard lock(mutex_);
    avPlayer_ = player;
  }
  {
    std::lock_guard lock(mutex_);
    currMediaId_ = mediaId;
  }
  if (auto delegate = commandDelegate())
    delegate->sendPluginResult(HBRPluginResult::resultWithStatus(HBRCommandStatus::OK), command->callbackId());
}

void HBRSound::setVolume(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  const auto volume = static_cast<float>(command->argumentAtIndex(1, 1.0).asDouble());
  std::lock_guard lock(mutex_);
  if (auto sound = soundFor(mediaId)) {
    sound->volume = volume;
    if (sound->player) sound->player->setVolume(volume);
  }
}

void HBRSound::setRate(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  const auto rate = static_cast<float>(command->argumentAtIndex(1, 1.0).asDouble());
  std::lock_guard lock(mutex_);
  if (auto sound = soundFor(mediaId)) {
    sound->rate = rate;
    if (sound->player) {
      sound->player->setEnableRate(true);
      sound->player->setRate(rate);
    }
    // A stream player plays at any rate above 0, so only a playing stream takes the rate now; a
    // stopped or paused one keeps still and takes the sound's rate at its next start.
    if (avPlayer_ && avPlayer_->currentItem() && avPlayer_->currentItem()->asset() && avPlayer_->rate() > 0)
      avPlayer_->setRate(rate);
  }
}

void HBRSound::startPlayingAudio(const HBRInvokedUrlCommandPtr& command) {
  auto delegate = commandDelegate();
  if (!delegate) return;
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  const plat::Value options = command->argumentAtIndex(2);
  // Looked up here, on the main thread: the File plugin and the table are the main thread's.
  auto sound = audioFileForResource(command->argumentAtIndex(1), mediaId, true, false);
  if (!sound) return;
  plat::NSURLPtr url;
  bool hasPlayer;
  {
    std::lock_guard lock(mutex_);
    url = sound->resourceURL;
    hasPlayer = sound->player != nullptr;
  }
  if (!url) return;  // the lookup has reported
  // Opening (decoding) the file is the slow part; it alone runs in the background. Commands
  // sent meanwhile wait for the start to finish.
  starting_ = true;
  std::weak_ptr<HBRSound> weak = std::static_pointer_cast<HBRSound>(shared_from_this());
  delegate->runInBackground([weak, sound, mediaId, options, url, hasPlayer] {
    HBRAudioPlayerPtr made;
    bool openFailed = false;
    if (!hasPlayer && url->isFileURL()) {
      made = std::make_shared<HBRAudioPlayer>();
      plat::NSError error;
      if (!made->initWithContentsOfURL(url, &error)) {
        plat::NSLogf("Failed to initialize AVAudioPlayer: %s\n", error.description().c_str());
        made = nullptr;
        openFailed = true;
      }
    }
    plat::dispatch::mainAsync([weak, sound, mediaId, options, made, openFailed] {
      auto self = weak.lock();
      if (!self) return;
      self->finishStart(sound, mediaId, options, made, openFailed);
      self->startFinished();
    });
  });
}

void HBRSound::finishStart(const HBRAudioFilePtr& sound, const std::string& mediaId, const plat::Value& options,
                           const HBRAudioPlayerPtr& made, bool openFailed) {
  const std::string playError =
      statusScript(mediaId, MEDIA_ERROR, createMediaErrorWithCode(MEDIA_ERR_NONE_SUPPORTED, std::nullopt));
  {
    std::lock_guard lock(mutex_);
    // Released or reset while the file was opening: the page is done with it.
    if (soundFor(mediaId) != sound) {
      plat::NSLogf("Media with id %s was released before it could play", mediaId.c_str());
      return;
    }
    if (openFailed && avSession_) avSession_->setActive(false);
  }
  if (openFailed) return evalStatus(playError);
  bool failed = false;
  {
    std::lock_guard lock(mutex_);
    if (made) {
      sound->player = made;
      made->mediaId = mediaId;
      made->setDelegate(std::static_pointer_cast<HBRSound>(shared_from_this()));
      if (!avPlayer_) failed = !made->prepareToPlay();
    } else if (!sound->player && !avPlayer_) {
      failed = true;  // not a file, and no stream to play it with
    }
    // A stream that could not load (its failure was logged as it happened) plays nothing.
    if (!sound->player && avPlayer_ && avPlayer_->currentItem() &&
        avPlayer_->currentItem()->status() == plat::AVPlayerItemStatus::Failed)
      failed = true;
  }
  if (failed) return evalStatus(playError);

  hasAudioSession();
  std::string script;
  {
    std::lock_guard lock(mutex_);
    currMediaId_ = mediaId;
    const plat::Value& locked = options["playAudioWhenScreenIsLocked"];
    const bool playWhenLocked = !locked.isNumber() || locked.asBool();
    plat::NSError error;
    avSession_->setCategory(playWhenLocked ? plat::AVAudioSessionCategoryPlayback
                                           : plat::AVAudioSessionCategorySoloAmbient);
    if (!avSession_->setActive(true, &error)) {
      plat::NSLogf("Unable to play audio: %s", error.localizedDescription.c_str());
      script = playError;
    } else {
      plat::NSLogf("Playing audio sample '%s'", sound->resourcePath.c_str());
      double duration = 0;
      // A file sound plays its own file; only a sound without one plays the stream.
      if (!sound->player && avPlayer_ && avPlayer_->currentItem() && avPlayer_->currentItem()->asset()) {
        duration = plat::CMTimeGetSeconds(avPlayer_->currentItem()->asset()->duration());
        plat::NSLog("Playing stream with AVPlayer & custom rate");
        if (sound->rate)
          avPlayer_->setRate(*sound->rate);
        else
          avPlayer_->play();
      } else if (auto player = sound->player) {
        player->setNumberOfLoops(loopCount(options["numberOfLoops"]));
        if (player->isPlaying()) {
          player->stop();
          player->setCurrentTime(0);
        }
        if (sound->volume) player->setVolume(*sound->volume);
        player->setEnableRate(true);
        if (sound->rate) player->setRate(*sound->rate);
        player->play();
        duration = roundedToMilliseconds(player->duration());
      }
      script = statusScript(mediaId, MEDIA_DURATION, formatSeconds(duration, 3)) + "\n" +
               statusScript(mediaId, MEDIA_STATE, std::to_string(MEDIA_RUNNING));
    }
  }
  evalStatus(script);
}

void HBRSound::stopPlayingAudio(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  std::string script;
  {
    std::lock_guard lock(mutex_);
    auto sound = soundFor(mediaId);
    const std::string path = sound ? sound->resourcePath : std::string();
    if (sound && sound->player) {
      plat::NSLogf("Stopped playing audio sample '%s'", path.c_str());
      sound->player->stop();
      sound->player->setCurrentTime(0);
      script = statusScript(mediaId, MEDIA_STATE, std::to_string(MEDIA_STOPPED));
    }
    if (avPlayer_ && avPlayer_->currentItem() && avPlayer_->currentItem()->asset()) {
      plat::NSLogf("Stopped playing audio sample '%s'", path.c_str());
      // A stream still loading cannot seek, and one told to play would start by itself once
      // loaded: it stops now.
      if (avPlayer_->currentItem()->status() != plat::AVPlayerItemStatus::ReadyToPlay) avPlayer_->pause();
      std::weak_ptr<plat::AVPlayer> weakPlayer = avPlayer_;
      avPlayer_->seekToTime(plat::kCMTimeZero, plat::kCMTimeZero, plat::kCMTimeZero, [weakPlayer](bool finished) {
        auto player = weakPlayer.lock();
        if (finished && player) player->pause();
      });
      script = statusScript(mediaId, MEDIA_STATE, std::to_string(MEDIA_STOPPED));
    }
  }
  evalStatus(script);
}

void HBRSound::pausePlayingAudio(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  std::string script;
  {
    std::lock_guard lock(mutex_);
    auto sound = soundFor(mediaId);
    if (sound && (sound->player || avPlayer_)) {
      plat::NSLogf("Paused playing audio sample '%s'", sound->resourcePath.c_str());
      if (sound->player)
        sound->player->pause();
      else
        avPlayer_->pause();
      script = statusScript(mediaId, MEDIA_STATE, std::to_string(MEDIA_PAUSED));
    }
  }
  evalStatus(script);
}

void HBRSound::seekToAudio(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  double target = command->argumentAtIndex(1).asDouble() / 1000.0;
  // Before the start there is nowhere to go; NaN goes nowhere either.
  if (!(target > 0)) target = 0;
  std::string script;
  {
    std::lock_guard lock(mutex_);
    auto sound = soundFor(mediaId);
    if (sound && sound->player) {
      if (target >= sound->player->duration()) {
        sound->player->stop();
        sound->player->setCurrentTime(0);
        script = statusScript(mediaId, MEDIA_POSITION, formatSeconds(0, 3)) + "\n" +
                 statusScript(mediaId, MEDIA_STATE, std::to_string(MEDIA_STOPPED));
      } else {
        sound->player->setCurrentTime(target);
        // Where the player is, which is what the page will hear from it next.
        script = statusScript(mediaId, MEDIA_POSITION, formatSeconds(sound->player->currentTime(), 6));
      }
    } else if (avPlayer_) {
      auto item = avPlayer_->currentItem();
      const std::int32_t timescale = item && item->asset() ? item->asset()->duration().timescale : 0;
      // A length not known yet has no timescale: the only time to go to is the start.
      const plat::CMTime time = timescale == 0 ? plat::kCMTimeZero : plat::CMTimeMakeWithSeconds(target, timescale);
      const bool running = avPlayer_->rate() > 0 && !avPlayer_->error();
      if (avPlayer_->status() == plat::AVPlayerStatus::ReadyToPlay && item &&
          item->status() == plat::AVPlayerItemStatus::ReadyToPlay) {
        std::weak_ptr<plat::AVPlayer> weakPlayer = avPlayer_;
        avPlayer_->seekToTime(time, plat::kCMTimeZero, plat::kCMTimeZero, [weakPlayer, running](bool) {
          auto player = weakPlayer.lock();
          if (running && player) player->play();
        });
      } else {
        script = statusScript(mediaId, MEDIA_ERROR, createMediaErrorWithCode(MEDIA_ERR_ABORTED, kSeekNotReady));
      }
    }
  }
  evalStatus(script);
}

void HBRSound::release(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  std::lock_guard lock(mutex_);
  auto sound = soundFor(mediaId);
  if (!sound) return;
  if (sound->player) sound->player->stop();
  if (sound->recorder) sound->recorder->stop();
  if (avPlayer_) {
    avPlayer_->pause();
    avPlayer_ = nullptr;
  }
  if (avSession_) {
    avSession_->setActive(false);
    avSession_ = nullptr;
  }
  soundCache_->erase(mediaId);
  plat::NSLogf("Media with id %s released", mediaId.c_str());
}

void HBRSound::getCurrentPositionAudio(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  double position = -1.0;
  {
    std::lock_guard lock(mutex_);
    auto sound = soundFor(mediaId);
    if (sound && sound->player && sound->player->isPlaying())
      position = roundedToMilliseconds(sound->player->currentTime());
    if (avPlayer_) position = plat::CMTimeGetSeconds(avPlayer_->currentTime());
  }
  evalStatus(statusScript(mediaId, MEDIA_POSITION, formatSeconds(position, 3)));
  if (auto delegate = commandDelegate())
    delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsDouble(HBRCommandStatus::OK, position),
                               command->callbackId());
}

// ---- Recording ----

void HBRSound::startRecordingAudio(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  const plat::Value& target = command->argumentAtIndex(1);
  auto sound = audioFileForResource(target, mediaId, true, true);
  bool usable;
  std::string path = target.stringOr("");
  {
    std::lock_guard lock(mutex_);
    usable = sound && sound->resourceURL;
    if (sound) path = sound->resourcePath;
  }
  if (!usable) {
    evalStatus(statusScript(mediaId, MEDIA_ERROR,
                            createMediaErrorWithCode(MEDIA_ERR_ABORTED, "Could not record audio at '" + path + "'")));
    return;
  }
  hasAudioSession();
  plat::AVAudioSessionPtr session;
  {
    std::lock_guard lock(mutex_);
    session = avSession_;
  }
  // The answer comes on a thread of the platform's choosing; the sound table and the recorder
  // are driven from the main thread. Until it has come and the recorder runs (or failed),
  // commands wait as they do for a playback start, so record then stop stops.
  starting_ = true;
  std::weak_ptr<HBRSound> weak = std::static_pointer_cast<HBRSound>(shared_from_this());
  session->requestRecordPermission([weak, mediaId](bool granted) {
    plat::dispatch::mainAsync([weak, mediaId, granted] {
      auto self = weak.lock();
      if (!self) return;
      if (granted) {
        self->startRecordingGranted(mediaId);
      } else {
        plat::NSLog(kPermissionDenied);
        self->recordingFailed(mediaId, kPermissionDenied, true);
      }
      self->startFinished();
    });
  });
}

void HBRSound::recordingFailed(const std::string& mediaId, const std::string& message, bool dropRecorder) {
  {
    std::lock_guard lock(mutex_);
    auto sound = soundFor(mediaId);
    if (dropRecorder && sound) sound->recorder = nullptr;
    if (avSession_) avSession_->setActive(false);
  }
  evalStatus(statusScript(mediaId, MEDIA_ERROR, createMediaErrorWithCode(MEDIA_ERR_ABORTED, message)));
}

void HBRSound::startRecordingGranted(const std::string& mediaId) {
  std::string failure;
  bool dropRecorder = true;
  std::string script;
  {
    std::lock_guard lock(mutex_);
    auto sound = soundFor(mediaId);
    if (!sound || !sound->resourceURL) return;  // reset while the question was open
    if (sound->recorder) {
      sound->recorder->stop();
      sound->recorder = nullptr;
    }
    if (!avSession_) avSession_ = plat::AVAudioSession::sharedInstance();
    plat::NSError error;
    if (avSession_->category() != plat::AVAudioSessionCategoryPlayAndRecord)
      avSession_->setCategory(plat::AVAudioSessionCategoryRecord);
    if (!avSession_->setActive(true, &error)) {
      failure = "Unable to record audio: " + error.localizedDescription;
      dropRecorder = false;
    } else {
      auto recorder = std::make_shared<HBRAudioRecorder>();
      if (!recorder->initWithURL(sound->resourceURL, {}, &error)) {
        failure = "Failed to initialize AVAudioRecorder: " + error.localizedDescription + "\n";
      } else {
        sound->recorder = recorder;
        recorder->setDelegate(std::static_pointer_cast<HBRSound>(shared_from_this()));
        recorder->mediaId = mediaId;
        recorder->setMeteringEnabled(true);
        if (recorder->record()) {
          plat::NSLogf("Started recording audio sample '%s'", sound->resourcePath.c_str());
          script = statusScript(mediaId, MEDIA_STATE, std::to_string(MEDIA_RUNNING));
        } else {
          failure = "Failed to start recording using AVAudioRecorder";
        }
      }
    }
  }
  if (!failure.empty()) {
    if (dropRecorder) return recordingFailed(mediaId, failure, true);
    return evalStatus(statusScript(mediaId, MEDIA_ERROR, createMediaErrorWithCode(MEDIA_ERR_ABORTED, failure)));
  }
  evalStatus(script);
}

void HBRSound::stopRecordingAudio(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  std::lock_guard lock(mutex_);
  auto sound = soundFor(mediaId);
  if (sound && sound->recorder) {
    plat::NSLogf("Stopped recording audio sample '%s'", sound->resourcePath.c_str());
    sound->recorder->stop();
  }
}

void HBRSound::getCurrentAmplitudeAudio(const HBRInvokedUrlCommandPtr& command) {
  const std::string mediaId = command->argumentAtIndex(0).stringOr("");
  float amplitude = 0;
  {
    std::lock_guard lock(mutex_);
    auto sound = soundFor(mediaId);
    if (sound && sound->recorder && sound->recorder->isRecording()) {
      sound->recorder->updateMeters();
      amplitude = amplitudeForPower(sound->recorder->averagePowerForChannel(0));
    }
  }
  evalStatus(statusScript(mediaId, MEDIA_POSITION, formatSeconds(amplitude, 3)));
  if (auto delegate = commandDelegate())
    delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsDouble(HBRCommandStatus::OK, amplitude),
                               command->callbackId());
}

// ---- Reports from players, recorders and streams ----

void HBRSound::audioPlayerDidFinishPlaying(plat::AVAudioPlayer& player, bool successfully) {
  auto* ours = dynamic_cast<HBRAudioPlayer*>(&player);
  if (!ours) return;
  std::string script;
  {
    std::lock_guard lock(mutex_);
    auto sound = soundFor(ours->mediaId);
    if (!sound || sound->player.get() != ours) return;  // released, or replaced since
    plat::NSLogf("Finished playing audio sample '%s'", sound->resourcePath.c_str());
    if (successfully) {
      ours->setCurrentTime(0);
      script = statusScript(ours->mediaId, MEDIA_STATE, std::to_string(MEDIA_STOPPED));
    } else {
      script = statusScript(ours->mediaId, MEDIA_ERROR, createMediaErrorWithCode(MEDIA_ERR_DECODE, std::nullopt));
    }
    if (avSession_) avSession_->setActive(false);
  }
  evalStatus(script);
}

void HBRSound::audioRecorderDidFinishRecording(plat::AVAudioRecorder& recorder, bool successfully) {
  auto* ours = dynamic_cast<HBRAudioRecorder*>(&recorder);
  if (!ours) return;
  std::string script;
  {
    std::lock_guard lock(mutex_);
    auto sound = soundFor(ours->mediaId);
    if (!sound || sound->recorder.get() != ours) return;
    plat::NSLogf("Finished recording audio sample '%s'", sound->resourcePath.c_str());
    script = successfully ? statusScript(ours->mediaId, MEDIA_STATE, std::to_string(MEDIA_STOPPED))
                          : statusScript(ours->mediaId, MEDIA_ERROR,
                                         createMediaErrorWithCode(MEDIA_ERR_DECODE, std::nullopt));
    if (avSession_) avSession_->setActive(false);
  }
  evalStatus(script);
}

void HBRSound::itemDidFinishPlaying(const plat::NSNotification& notification) {
  std::string script;
  {
    std::lock_guard lock(mutex_);
    // Items of stream players replaced or released since play no part.
    if (!avPlayer_ || notification.object != avPlayer_->currentItem()) return;
    script = statusScript(currMediaId_, MEDIA_STATE, std::to_string(MEDIA_STOPPED));
    if (avSession_) avSession_->setActive(false);
  }
  evalStatus(script);
}

void HBRSound::itemStalledPlaying(const plat::NSNotification&) { plat::NSLog("Stalled playback"); }

void HBRSound::watchStream(const plat::AVPlayerItemPtr& item, const std::string& source) {
  std::weak_ptr<HBRSound> weak = std::static_pointer_cast<HBRSound>(shared_from_this());
  std::weak_ptr<plat::AVPlayerItem> weakItem = item;
  item->addStatusObserver([weak, weakItem, source] {
    auto self = weak.lock();
    auto item = weakItem.lock();
    if (!self || !item || item->status() != plat::AVPlayerItemStatus::Failed) return;
    const auto error = item->error();
    plat::NSLogf("Cannot play stream '%s': %s", source.c_str(),
                 error ? error->localizedDescription.c_str() : "it could not be loaded");
    std::string script;
    {
      std::lock_guard lock(self->mutex_);
      // Only the stream player's own item, and only when it was told to play: a start still
      // to come reports the failure itself.
      if (!self->avPlayer_ || self->avPlayer_->currentItem() != item || self->avPlayer_->rate() <= 0) return;
      self->avPlayer_->pause();
      if (self->avSession_) self->avSession_->setActive(false);
      script = statusScript(self->currMediaId_, MEDIA_ERROR,
                            createMediaErrorWithCode(MEDIA_ERR_NONE_SUPPORTED, std::nullopt)) +
               "\n" + statusScript(self->currMediaId_, MEDIA_STATE, std::to_string(MEDIA_STOPPED));
    }
    self->evalStatus(script);
  });
}

// ---- Resets ----

void HBRSound::stopAllLocked() {
  if (!soundCache_) return;
  for (auto& [id, sound] : *soundCache_) {
    if (sound->player) {
      sound->player->stop();
      sound->player->setCurrentTime(0);
    }
    if (sound->recorder) sound->recorder->stop();
  }
  soundCache_->clear();
}

void HBRSound::onReset() {
  // Commands of the page that is going away are not run against the next page's sounds.
  waiting_.clear();
  std::lock_guard lock(mutex_);
  stopAllLocked();
}

void HBRSound::onMemoryWarning() {
  {
    std::lock_guard lock(mutex_);
    stopAllLocked();
    soundCache_.reset();
    avSession_ = nullptr;
  }
  HBRPlugin::onMemoryWarning();
}

}  // namespace harbor
