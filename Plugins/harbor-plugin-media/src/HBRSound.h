#pragma once
// The media plugin (service "Media"): sounds the page names with media ids of its own, played
// from files or http(s) streams and recorded into WAV files.
//
// Most answers are status calls evaluated in the page, one line each:
//   harbor.require('harbor-plugin-media.Media').onStatus("<id>",<type>,<value>);
// type 1 state (2 running, 3 paused, 4 stopped), 2 duration, 3 position (or amplitude), 9 error
// (a {"code","message"} object: 1 bad source or any recording failure, 3 a player or recorder
// finished without success, 4 playback could not start). The id is written as a script string
// literal, so ids with quotes or line breaks cannot break out of it.
//
// Page actions (arguments by position; main thread; no callback is kept):
//   create [id, src]                    OK (also after a resolution error: that is a status call)
//   startPlayingAudio [id, src, {"playAudioWhenScreenIsLocked", "numberOfLoops"}]
//                                       the file is opened on the global queue; duration then
//                                       state 2 (a stream that cannot load: error 4, state 4)
//   pausePlayingAudio [id] / stopPlayingAudio [id] / seekToAudio [id, ms] / release [id]
//   setVolume [id, volume=1] / setRate [id, rate=1]
//   getCurrentPositionAudio [id]        status 3 and OK with the seconds (-1 when not playing)
//   startRecordingAudio [id, target.wav] / stopRecordingAudio [id]
//   getCurrentAmplitudeAudio [id]       status 3 and OK with 0..1
// Sources: "http(s)://" streamed (one stream player, the last created, serves every id);
// "documents://x" in Documents; "hbrfile://" through the File plugin; else the web folder, the
// temporary folder, or the path itself. Files must lie in the sandbox home or the bundle.
//
// Order: the page's commands apply in the order it sent them. While a start is under way (a
// playback opening its file on the global queue, a recording waiting for the microphone answer),
// later commands wait and then run in turn, so play() then stop() stops, and so does
// startRecord() then stopRecord(). A start whose id was reset meanwhile plays or records
// nothing and brings nothing back.
//
// Threads: actions, lookups (and so the File plugin) and the sound table's changes are the main
// thread's; only the opening of a file runs on the global queue. The table is locked still, and
// the lock is never held while a script is evaluated. Players and recorders report on the main
// thread; reports for ids no longer in the table are dropped.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "HBRPlugin.h"
#include "plat/avfoundation/AVAudioPlayer.h"
#include "plat/avfoundation/AVAudioRecorder.h"
#include "plat/avfoundation/AVAudioSession.h"
#include "plat/avfoundation/AVPlayer.h"
#include "plat/foundation/NSURL.h"

namespace harbor {

inline constexpr char kHBRMediaStatusFunction[] = "harbor.require('harbor-plugin-media.Media').onStatus";

enum HBRMediaMsg { MEDIA_STATE = 1, MEDIA_DURATION = 2, MEDIA_POSITION = 3, MEDIA_ERROR = 9 };
enum HBRMediaStates { MEDIA_NONE = 0, MEDIA_STARTING = 1, MEDIA_RUNNING = 2, MEDIA_PAUSED = 3, MEDIA_STOPPED = 4 };
enum HBRMediaError {
  MEDIA_ERR_NONE_ACTIVE = 0,
  MEDIA_ERR_ABORTED = 1,
  MEDIA_ERR_NETWORK = 2,
  MEDIA_ERR_DECODE = 3,
  MEDIA_ERR_NONE_SUPPORTED = 4,
};

class HBRAudioPlayer : public plat::AVAudioPlayer {
 public:
  std::string mediaId;
};
class HBRAudioRecorder : public plat::AVAudioRecorder {
 public:
  std::string mediaId;
};
using HBRAudioPlayerPtr = std::shared_ptr<HBRAudioPlayer>;
using HBRAudioRecorderPtr = std::shared_ptr<HBRAudioRecorder>;

// One sound the page named. Its fields are guarded by the plugin's lock.
class HBRAudioFile : public plat::Object {
 public:
  std::string resourcePath;
  plat::NSURLPtr resourceURL;
  HBRAudioPlayerPtr player;
  HBRAudioRecorderPtr recorder;
  std::optional<float> volume;
  std::optional<float> rate;
};
using HBRAudioFilePtr = std::shared_ptr<HBRAudioFile>;

class HBRSound : public HBRPlugin, public plat::AVAudioPlayerDelegate, public plat::AVAudioRecorderDelegate {
 public:
  HBRSound();
  ~HBRSound() override;

  void create(const HBRInvokedUrlCommandPtr& command);
  void setVolume(const HBRInvokedUrlCommandPtr& command);
  void setRate(const HBRInvokedUrlCommandPtr& command);
  void startPlayingAudio(const HBRInvokedUrlCommandPtr& command);
  void stopPlayingAudio(const HBRInvokedUrlCommandPtr& command);
  void pausePlayingAudio(const HBRInvokedUrlCommandPtr& command);
  void seekToAudio(const HBRInvokedUrlCommandPtr& command);
  void release(const HBRInvokedUrlCommandPtr& command);
  void getCurrentPositionAudio(const HBRInvokedUrlCommandPtr& command);
  void startRecordingAudio(const HBRInvokedUrlCommandPtr& command);
  void stopRecordingAudio(const HBRInvokedUrlCommandPtr& command);
  void getCurrentAmplitudeAudio(const HBRInvokedUrlCommandPtr& command);

  void onReset() override;
  void onMemoryWarning() override;

  void audioPlayerDidFinishPlaying(plat::AVAudioPlayer& player, bool successfully) override;
  void audioRecorderDidFinishRecording(plat::AVAudioRecorder& recorder, bool successfully) override;
  void itemDidFinishPlaying(const plat::NSNotification& notification);
  void itemStalledPlaying(const plat::NSNotification& notification);

  // Where a source plays from / records into; null when it cannot be used.
  plat::NSURLPtr urlForPlaying(const std::string& resourcePath);
  plat::NSURLPtr urlForRecording(const std::string& resourcePath);
  // The sound under the id, made when new; reports its own errors as status calls.
  HBRAudioFilePtr audioFileForResource(const plat::Value& resourcePath, const std::string& mediaId, bool validate,
                                       bool forRecording);
  // Always true; fetches the shared session when none is held.
  bool hasAudioSession();
  // {"code":code,"message":message} as JSON text.
  static std::string createMediaErrorWithCode(unsigned code, const std::optional<std::string>& message);

  // The status line for the id: fn("<id>",type,value);
  static std::string statusScript(const std::string& mediaId, int type, const std::string& value);
  // The seconds with `decimals` decimals, whatever the locale.
  static std::string formatSeconds(double seconds, int decimals);
  // The amplitude (0..1) a meter's average power in decibels shows.
  static float amplitudeForPower(float decibels);

  std::size_t soundCount() const;

 private:
  // Runs the action now, or after the start in progress (in arrival order).
  void inOrder(std::function<void()> action);
  void startFinished();
  void evalStatus(const std::string& script);
  // The second half of a start, on the main thread once the file player is made (or failed).
  void finishStart(const HBRAudioFilePtr& sound, const std::string& mediaId, const plat::Value& options,
                   const HBRAudioPlayerPtr& made, bool openFailed);
  // Observes a stream item's loading: a failure is logged, and reported when it was playing.
  void watchStream(const plat::AVPlayerItemPtr& item, const std::string& source);
  void startRecordingGranted(const std::string& mediaId);
  void recordingFailed(const std::string& mediaId, const std::string& message, bool dropRecorder);
  HBRAudioFilePtr soundFor(const std::string& mediaId) const;
  std::optional<std::string> fileSystemPath(const std::string& source);
  struct PrefixedSource {
    std::optional<std::string> path;
  };
  std::optional<PrefixedSource> prefixedSource(const std::string& resourcePath);
  // Stops every player and recorder of the table (without reports) and empties it.
  void stopAllLocked();

  mutable std::mutex mutex_;  // guards everything below and the fields of the sounds
  std::optional<std::map<std::string, HBRAudioFilePtr>> soundCache_;
  plat::AVAudioSessionPtr avSession_;
  std::string currMediaId_;
  plat::AVPlayerPtr avPlayer_;

  // Main thread only. A start under way, and the commands that wait for it.
  bool starting_ = false;
  std::deque<std::function<void()>> waiting_;
};

}  // namespace harbor
