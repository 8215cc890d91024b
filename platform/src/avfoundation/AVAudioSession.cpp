#include "plat/avfoundation/AVAudioSession.h"

#include "plat/dispatch/Queues.h"

namespace plat {

std::shared_ptr<AVAudioSession> AVAudioSession::sharedInstance() {
  static const auto session = std::make_shared<AVAudioSession>();
  return session;
}

std::string AVAudioSession::category() const {
  std::lock_guard lock(mutex_);
  return category_;
}

bool AVAudioSession::setCategory(const std::string& category, NSError* error) {
  for (const char* known : {AVAudioSessionCategoryAmbient, AVAudioSessionCategorySoloAmbient,
                            AVAudioSessionCategoryPlayback, AVAudioSessionCategoryRecord,
                            AVAudioSessionCategoryPlayAndRecord}) {
    if (category == known) {
      std::lock_guard lock(mutex_);
      category_ = category;
      return true;
    }
  }
  if (error) *error = NSError{"NSOSStatusErrorDomain", -50, "unknown audio session category " + category, {}};
  return false;
}

bool AVAudioSession::isActive() const {
  std::lock_guard lock(mutex_);
  return active_;
}

bool AVAudioSession::setActive(bool active, NSError* error) {
  std::lock_guard lock(mutex_);
  if (active && activationFailure_) {
    if (error) *error = NSError{"NSOSStatusErrorDomain", 561017449, *activationFailure_, {}};
    return false;
  }
  active_ = active;
  return true;
}

void AVAudioSession::requestRecordPermission(std::function<void(bool granted)> response) {
  bool granted;
  {
    std::lock_guard lock(mutex_);
    granted = permissionGranted_;
  }
  dispatch::GlobalQueue::shared().async([response = std::move(response), granted] { response(granted); });
}

void AVAudioSession::setRecordPermissionGranted(bool granted) {
  std::lock_guard lock(mutex_);
  permissionGranted_ = granted;
}

void AVAudioSession::setActivationFailure(std::optional<std::string> reason) {
  std::lock_guard lock(mutex_);
  activationFailure_ = std::move(reason);
}

void AVAudioSession::reset() {
  std::lock_guard lock(mutex_);
  category_ = AVAudioSessionCategorySoloAmbient;
  active_ = false;
  permissionGranted_ = true;
  activationFailure_.reset();
}

}  // namespace plat
