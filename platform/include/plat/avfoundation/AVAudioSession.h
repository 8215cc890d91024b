#pragma once
// The application's one audio session: its category, whether it is active, and the user's answer
// to the microphone question. Nothing is routed anywhere; the session only keeps the state that
// players and recorders consult and that tests and the runner read back.
//
// As on a device, the microphone answer does not come on the asking thread: it comes on a worker
// thread of the global queue, so callers must hop to the main thread themselves.
//
// Threads: every call from any thread.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Object.h"

namespace plat {

inline constexpr char AVAudioSessionCategoryAmbient[] = "AVAudioSessionCategoryAmbient";
inline constexpr char AVAudioSessionCategorySoloAmbient[] = "AVAudioSessionCategorySoloAmbient";
inline constexpr char AVAudioSessionCategoryPlayback[] = "AVAudioSessionCategoryPlayback";
inline constexpr char AVAudioSessionCategoryRecord[] = "AVAudioSessionCategoryRecord";
inline constexpr char AVAudioSessionCategoryPlayAndRecord[] = "AVAudioSessionCategoryPlayAndRecord";

class AVAudioSession : public Object {
 public:
  static std::shared_ptr<AVAudioSession> sharedInstance();

  std::string category() const;
  // False (with the error) for a name that is not one of the categories above.
  bool setCategory(const std::string& category, NSError* error = nullptr);
  bool isActive() const;
  // False (with the error) when the test surface made activation fail.
  bool setActive(bool active, NSError* error = nullptr);
  // Asks for the microphone; the answer comes later on a worker thread.
  void requestRecordPermission(std::function<void(bool granted)> response);

  // Test and runner surface.
  void setRecordPermissionGranted(bool granted);
  // A failure text makes every later activation fail with it; nothing lets them succeed again.
  void setActivationFailure(std::optional<std::string> reason);
  // Solo ambient, inactive, permission granted, activation working.
  void reset();

 private:
  mutable std::mutex mutex_;
  std::string category_ = AVAudioSessionCategorySoloAmbient;
  bool active_ = false;
  bool permissionGranted_ = true;
  std::optional<std::string> activationFailure_;
};

using AVAudioSessionPtr = std::shared_ptr<AVAudioSession>;

}  // namespace plat
