#include "HBRAudioRecorderViewController.h"

#include <algorithm>
#include <cstdio>

#include "HBRCapture.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/uikit/UIAccessibility.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIScreen.h"

namespace harbor {
namespace {

constexpr char kPermissionDenied[] = "Error creating audio session, microphone permission denied.";

double heightOf(const std::shared_ptr<plat::UIImage>& image) { return image ? image->size().height : 0; }

plat::UIViewPtr band(double y, double width, double height) {
  auto view = std::make_shared<plat::UIView>();
  view->initWithFrame(plat::CGRectMake(0, y, width, height));
  // The bands are decoration: no touches.
  view->setUserInteractionEnabled(false);
  return view;
}

}  // namespace

void HBRAudioNavigationController::loadView() {
  plat::UIViewController::loadView();
  if (root_) view()->addSubview(root_->view());
}

void HBRAudioNavigationController::viewDidAppear(bool animated) {
  plat::UIViewController::viewDidAppear(animated);
  if (root_) root_->viewDidAppear(animated);
}

HBRAudioRecorderViewController::~HBRAudioRecorderViewController() { stopTimer(); }

void HBRAudioRecorderViewController::initWithCommand(const std::shared_ptr<HBRCapture>& command,
                                                     std::optional<double> duration,
                                                     std::optional<std::string> callbackId) {
  captureCommand_ = command;
  duration_ = duration;
  callbackId_ = std::move(callbackId);
  errorCode_ = CAPTURE_NO_MEDIA_FILES;
  isTimed_ = duration.has_value();
}

void HBRAudioRecorderViewController::loadView() {
  const double width = plat::UIScreen::mainScreen().applicationFrame().size.width;
  auto root = std::make_shared<plat::UIView>();
  root->initWithFrame(plat::UIScreen::mainScreen().applicationFrame());
  setView(root);
  auto image = [this](const char* name) {
    return captureCommand_ ? captureCommand_->pluginImageResource(name) : nullptr;
  };
  const double microphone = heightOf(image("microphone"));
  root->addSubview(band(0, width, microphone));
  root->addSubview(band(microphone, width, heightOf(image("controls_bg"))));
  recordingView_ = band(0, width, heightOf(image("recording_bg")));
  recordingView_->setHidden(true);
  root->addSubview(recordingView_);
}

void HBRAudioRecorderViewController::viewDidLoad() {
  plat::UIAccessibilityPostNotification(plat::UIAccessibilityScreenChangedNotification, std::nullopt);
  avSession_ = plat::AVAudioSession::sharedInstance();
  const std::string folder = plat::stringByStandardizingPath(plat::NSTemporaryDirectory());
  auto path = HBRCapture::claimNumberedFile(folder, "audio_", "wav");
  auto recorder = std::make_shared<plat::AVAudioRecorder>();
  plat::NSError error;
  if (!path) error.localizedDescription = "no free file name in " + folder;
  if (!path || !recorder->initWithURL(plat::NSURL::fileURLWithPath(*path), {}, &error)) {
    plat::NSLogf("Failed to initialize AVAudioRecorder: %s\n", error.localizedDescription.c_str());
    if (path) std::remove(path->c_str());  // the claimed name, still empty
    errorCode_ = CAPTURE_INTERNAL_ERR;
    dismissAudioView();
    return;
  }
  path_ = *path;
  avRecorder_ = recorder;
  avRecorder_->setDelegate(std::static_pointer_cast<HBRAudioRecorderViewController>(shared_from_this()));
  avRecorder_->prepareToRecord();
  recordEnabled_ = true;
  doneEnabled_ = true;
}

void HBRAudioRecorderViewController::viewDidUnload() {
  setView(nullptr);
  if (captureCommand_) captureCommand_->setInUse(false);
}

void HBRAudioRecorderViewController::viewDidAppear(bool animated) {
  plat::UIViewController::viewDidAppear(animated);
  if (!closed_)
    plat::UIDriver::shared().screenDidAppear(std::dynamic_pointer_cast<plat::UIDrivenScreen>(
        std::static_pointer_cast<HBRAudioRecorderViewController>(shared_from_this())));
}

std::vector<std::string> HBRAudioRecorderViewController::buttonTitles() const {
  std::vector<std::string> buttons;
  if (closed_) return buttons;
  if (recordEnabled_) buttons.push_back(avRecorder_ && avRecorder_->isRecording() ? "Stop" : "Record");
  if (doneEnabled_) buttons.push_back("Done");
  return buttons;
}

bool HBRAudioRecorderViewController::tapButton(const std::string& title) {
  const auto buttons = buttonTitles();
  if (std::find(buttons.begin(), buttons.end(), title) == buttons.end()) return false;
  if (title == "Done")
    dismissAudioView();
  else
    processButton();
  return true;
}

void HBRAudioRecorderViewController::processButton() {
  if (closed_ || !avRecorder_) return;
  if (avRecorder_->isRecording()) {
    avRecorder_->stop();
    isTimed_ = false;
    return;
  }
  showsStopImage_ = true;
  if (recordingView_) recordingView_->setHidden(false);
  // The answer comes on the platform's thread; the screen is the main thread's.
  std::weak_ptr<HBRAudioRecorderViewController> weak =
      std::static_pointer_cast<HBRAudioRecorderViewController>(shared_from_this());
  avSession_->requestRecordPermission([weak](bool granted) {
    plat::dispatch::mainAsync([weak, granted] {
      auto self = weak.lock();
      if (!self || self->closed_) return;
      if (granted) return self->startRecording();
      plat::NSLog(kPermissionDenied);
      self->errorCode_ = CAPTURE_INTERNAL_ERR;
      self->dismissAudioView();
    });
  });
}

void HBRAudioRecorderViewController::startRecording() {
  if (!avSession_->setCategory(plat::AVAudioSessionCategoryRecord) || !avSession_->setActive(true)) {
    errorCode_ = CAPTURE_INTERNAL_ERR;
    dismissAudioView();
    return;
  }
  bool recording;
  if (duration_) {
    isTimed_ = true;
    recording = avRecorder_->recordForDuration(*duration_);
  } else {
    recording = avRecorder_->record();
  }
  if (!recording) {
    // The screen would wait for a take that never comes, with Done disabled.
    plat::NSLog("Failed to start recording using AVAudioRecorder");
    errorCode_ = CAPTURE_INTERNAL_ERR;
    dismissAudioView();
    return;
  }
  timerText_ = "0:00";
  stopTimer();
  std::weak_ptr<HBRAudioRecorderViewController> weak =
      std::static_pointer_cast<HBRAudioRecorderViewController>(shared_from_this());
  timer_ = plat::RunLoop::main().scheduleTimer(
      0.5,
      [weak] {
        if (auto self = weak.lock()) self->updateTime();
      },
      0.5);
  doneEnabled_ = false;
  plat::UIAccessibilityPostNotification(plat::UIAccessibilityLayoutChangedNotification, std::nullopt);
}

void HBRAudioRecorderViewController::stopTimer() {
  if (timer_) plat::RunLoop::main().cancelTimer(*timer_);
  timer_.reset();
}

void HBRAudioRecorderViewController::updateTime() {
  if (avRecorder_) timerText_ = formatTime(static_cast<int>(avRecorder_->currentTime()));
}

std::string HBRAudioRecorderViewController::formatTime(int seconds) {
  char text[32];
  if (seconds < 60)
    std::snprintf(text, sizeof text, "0:%02d", seconds);
  else
    std::snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
  return text;
}

void HBRAudioRecorderViewController::stopRecordingCleanup() {
  if (avRecorder_ && avRecorder_->isRecording()) avRecorder_->stop();
  showsStopImage_ = false;
  if (recordingView_) recordingView_->setHidden(true);
  doneEnabled_ = true;
  if (avSession_) {
    avSession_->setCategory(plat::AVAudioSessionCategoryPlayAndRecord);
    avSession_->setActive(false);
  }
  if (duration_ && isTimed_) {
    const std::string complete =
        captureCommand_ ? captureCommand_->pluginLocalizedString("timed recording complete") : "timed recording complete";
    plat::RunLoop::main().scheduleTimer(0.5, [complete] {
      plat::UIAccessibilityPostNotification(plat::UIAccessibilityAnnouncementNotification, complete);
    });
  } else {
    plat::UIAccessibilityPostNotification(plat::UIAccessibilityLayoutChangedNotification, std::nullopt);
  }
}

void HBRAudioRecorderViewController::audioRecorderDidFinishRecording(plat::AVAudioRecorder& recorder, bool successfully) {
  if (closed_) return;
  stopTimer();
  stopRecordingCleanup();
  haveRecording_ = successfully && captureCommand_;
  if (successfully && captureCommand_) {
    pluginResult_ = HBRPluginResult::resultWithStatusMessageAsArray(
        HBRCommandStatus::OK, plat::Array{captureCommand_->getMediaDictionaryFromPath(recorder.url()->path(), "audio/wav")});
  } else {
    pluginResult_ = HBRPluginResult::resultWithStatusMessageToErrorObject(HBRCommandStatus::IOException, CAPTURE_INTERNAL_ERR);
  }
}

void HBRAudioRecorderViewController::audioRecorderEncodeErrorDidOccur(plat::AVAudioRecorder&, const plat::NSError&) {
  if (closed_) return;
  stopTimer();
  stopRecordingCleanup();
  plat::NSLog("error recording audio");
  haveRecording_ = false;
  pluginResult_ = HBRPluginResult::resultWithStatusMessageToErrorObject(HBRCommandStatus::IOException, CAPTURE_INTERNAL_ERR);
  dismissAudioView();
}

void HBRAudioRecorderViewController::dismissAudioView() {
  // Done, a refusal and an encoding error can each close the screen; the page hears one answer.
  if (closed_) return;
  closed_ = true;
  stopTimer();
  plat::UIDriver::shared().screenDidDisappear(this);
  auto capture = captureCommand_;
  auto presenter = capture ? capture->viewController() : nullptr;
  if (presenter) presenter->dismissViewControllerAnimated(true, nullptr);
  if (!pluginResult_)
    pluginResult_ = HBRPluginResult::resultWithStatusMessageToErrorObject(HBRCommandStatus::Error,
                                                                          static_cast<std::int32_t>(errorCode_));
  if (avRecorder_) avRecorder_->setDelegate({});
  avRecorder_ = nullptr;  // a running take is finished whole
  // Without a finished take the page hears of no file: none is left behind.
  if (!haveRecording_ && !path_.empty()) std::remove(path_.c_str());
  if (avSession_) {
    avSession_->setCategory(plat::AVAudioSessionCategoryPlayAndRecord);
    avSession_->setActive(false);
  }
  if (capture) capture->setInUse(false);
  plat::UIAccessibilityPostNotification(plat::UIAccessibilityScreenChangedNotification, std::nullopt);
  if (auto delegate = capture ? capture->commandDelegate() : nullptr) delegate->sendPluginResult(pluginResult_, callbackId_);
  // The screen no longer needs the plugin; the plugin owned nothing of the screen.
  captureCommand_ = nullptr;
}

}  // namespace harbor
