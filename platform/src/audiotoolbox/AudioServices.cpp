#include "plat/audiotoolbox/AudioServices.h"

#include <map>
#include <mutex>
#include <optional>

#include "plat/audiotoolbox/WAVFile.h"
#include "plat/foundation/Clock.h"

namespace plat {
namespace {

struct Completion {
  RunLoop* loop = nullptr;
  AudioServicesSystemSoundCompletionProc proc = nullptr;
  void* clientData = nullptr;
  // Tells pending timers of earlier registrations apart from the current one.
  std::uint64_t generation = 0;
};

struct Sound {
  std::string path;
  double duration = 0;
  std::optional<Completion> completion;
};

struct State {
  std::mutex mutex;
  std::map<SystemSoundID, Sound> sounds;
  std::vector<PlayedSystemSound> played;
  SystemSoundRecorder::Observer observer;
  SystemSoundID nextID = 0x1000 + 1;
  std::uint64_t nextGeneration = 1;
};

State& state() {
  static auto* s = new State();
  return *s;
}

// The vibration is always there; it cannot be created or disposed of by callers.
Sound& soundFor(State& s, SystemSoundID id, bool& found) {
  auto it = s.sounds.find(id);
  if (it == s.sounds.end() && id == kSystemSoundID_Vibrate) {
    it = s.sounds.emplace(id, Sound{"", kSystemSoundVibrationDuration, std::nullopt}).first;
  }
  found = it != s.sounds.end();
  static Sound none;
  return found ? it->second : none;
}

void fireCompletion(SystemSoundID id, std::uint64_t generation) {
  AudioServicesSystemSoundCompletionProc proc = nullptr;
  void* clientData = nullptr;
  {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.sounds.find(id);
    if (it == s.sounds.end() || !it->second.completion || it->second.completion->generation != generation) return;
    proc = it->second.completion->proc;
    clientData = it->second.completion->clientData;
  }
  // Outside the lock: the completion usually removes itself, disposes and plays again.
  proc(id, clientData);
}

}  // namespace

OSStatus AudioServicesCreateSystemSoundID(const std::string& filePath, SystemSoundID* outSoundID) {
  if (!outSoundID) return kAudioServicesBadSpecifierSizeError;
  auto info = readWAVInfo(filePath);
  if (!info) return kAudioServicesSystemSoundUnspecifiedError;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  SystemSoundID id = s.nextID++;
  s.sounds[id] = Sound{filePath, info->duration, std::nullopt};
  *outSoundID = id;
  return kAudioServicesNoError;
}

OSStatus AudioServicesDisposeSystemSoundID(SystemSoundID soundID) {
  if (soundID == kSystemSoundID_Vibrate) return kAudioServicesNoError;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.sounds.erase(soundID) ? kAudioServicesNoError : kAudioServicesSystemSoundUnspecifiedError;
}

void AudioServicesPlaySystemSound(SystemSoundID soundID) {
  RunLoop* loop = nullptr;
  double duration = 0;
  std::uint64_t generation = 0;
  SystemSoundRecorder::Observer observer;
  PlayedSystemSound play;
  {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    bool found;
    Sound& sound = soundFor(s, soundID, found);
    if (!found) return;
    play = {soundID, sound.path, plat::now(), sound.duration};
    s.played.push_back(play);
    observer = s.observer;
    if (sound.completion) {
      loop = sound.completion->loop;
      duration = sound.duration;
      generation = sound.completion->generation;
    }
  }
  // Outside the lock, so the observer may look at the record.
  if (observer) observer(play);
  if (!loop) return;
  loop->scheduleTimer(duration, [soundID, generation] { fireCompletion(soundID, generation); });
}

OSStatus AudioServicesAddSystemSoundCompletion(SystemSoundID soundID, RunLoop* runLoop,
                                               AudioServicesSystemSoundCompletionProc completion, void* clientData) {
  if (!completion) return kAudioServicesBadSpecifierSizeError;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  bool found;
  Sound& sound = soundFor(s, soundID, found);
  if (!found || sound.completion) return kAudioServicesSystemSoundUnspecifiedError;
  sound.completion = Completion{runLoop ? runLoop : &RunLoop::main(), completion, clientData, s.nextGeneration++};
  return kAudioServicesNoError;
}

void AudioServicesRemoveSystemSoundCompletion(SystemSoundID soundID) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.sounds.find(soundID);
  if (it != s.sounds.end()) it->second.completion.reset();
}

std::vector<PlayedSystemSound> SystemSoundRecorder::played() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.played;
}

void SystemSoundRecorder::setObserver(Observer observer) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.observer = std::move(observer);
}

void SystemSoundRecorder::reset() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.played.clear();
  s.observer = nullptr;
  s.sounds.clear();
}

std::size_t SystemSoundRecorder::soundCount() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::size_t n = 0;
  for (const auto& [id, sound] : s.sounds)
    if (id != kSystemSoundID_Vibrate) ++n;
  return n;
}

}  // namespace plat
