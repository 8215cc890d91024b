#pragma once
// System sounds: short sounds created from a file and played fire-and-forget, with an optional
// completion when a play has finished. Nothing is heard here: every play is recorded (for tests
// and the runner), and its completion comes on the chosen run loop once the sound's length has
// passed on the clock. The length of a file sound is read from its WAV header; the vibration
// "sound" lasts kSystemSoundVibrationDuration.
//
// Threads: every call from any thread; completions run on their run loop's thread.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plat/dispatch/RunLoop.h"

namespace plat {

using SystemSoundID = std::uint32_t;
using OSStatus = std::int32_t;

inline constexpr SystemSoundID kSystemSoundID_Vibrate = 0x00000FFF;
inline constexpr double kSystemSoundVibrationDuration = 0.4;

inline constexpr OSStatus kAudioServicesNoError = 0;
inline constexpr OSStatus kAudioServicesBadSpecifierSizeError = 0x2173697A;  // '!siz'
inline constexpr OSStatus kAudioServicesSystemSoundUnspecifiedError = -1500;

using AudioServicesSystemSoundCompletionProc = void (*)(SystemSoundID soundID, void* clientData);

// A new sound from a WAV file; an error (and *outSoundID untouched) when the file cannot be read.
OSStatus AudioServicesCreateSystemSoundID(const std::string& filePath, SystemSoundID* outSoundID);
// Forgets the sound and its completion; pending completions of earlier plays do not run.
OSStatus AudioServicesDisposeSystemSoundID(SystemSoundID soundID);
// Plays the sound; an unknown sound plays nothing.
void AudioServicesPlaySystemSound(SystemSoundID soundID);
// The completion runs once for each later play of the sound, on `runLoop` (null: the main run
// loop). One completion per sound: a second registration fails.
OSStatus AudioServicesAddSystemSoundCompletion(SystemSoundID soundID, RunLoop* runLoop,
                                               AudioServicesSystemSoundCompletionProc completion, void* clientData);
void AudioServicesRemoveSystemSoundCompletion(SystemSoundID soundID);

// The test and runner surface: what was played, in order.
struct PlayedSystemSound {
  SystemSoundID soundID;
  std::string filePath;  // empty for the vibration
  double startTime;      // clock time of the play
  double duration;
};

class SystemSoundRecorder {
 public:
  using Observer = std::function<void(const PlayedSystemSound& play)>;

  static std::vector<PlayedSystemSound> played();
  // Hears every play as it starts, on the playing thread (the runner logs them); nothing for
  // none.
  static void setObserver(Observer observer);
  // Forgets the record, the observer and every sound created so far.
  static void reset();
  static std::size_t soundCount();  // sounds created and not disposed
};

}  // namespace plat
