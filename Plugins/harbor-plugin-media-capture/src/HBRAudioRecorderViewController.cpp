#include "HBRAudioRecorderViewController.h"

#include <algorithm>
#include <cstdio>

#include "HBRCapture.h"
#include "HBRScreenOrientationDelegate.h"
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
double widthOf(const std::shared_ptr<plat::UIImage>& image) { return image ? image->size().width : 0; }

plat::UIViewPtr band(double y, double width, double height) {
  auto view = std::make_shared<plat::UIView>();
  view->initWithFrame(plat::CGRectMake(0, y, width, height));
  // The bands are decoration: no touches, nothing for the screen reader.
  view->setUserInteractionEnabled(false);
  view->setAccessibilityElementsHidden(true);
  return view;
}

plat::UIApplicationPtr application() { return plat::UIApplication::sharedApplication(); }

}  // namespace

unsigned long HBRAudioNavigationController::supportedInterfaceOrientations() const {
  if (auto screen = std::dynamic_pointer_cast<HBRAudioRecorderViewController>(root_))
    return screen->supportedInterfaceOrientations();
  return plat::UIInterfaceOrientationMaskPortrait;
}

void HBRAudioNavigationController::loadView() {
  plat::UIViewController::loadView();
  if (root_) view()->addSubview(root_->view());
}

void HBRAudioNavigationController::viewWillAppear(bool animated) {
  plat::UIViewController::viewWillAppear(animated);
  if (root_) root_->viewWillAppear(animated);
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
  if (auto app = application()) previousStatusBarStyle_ = app->statusBarStyle();
}

std::string HBRAudioRecorderViewController::microphoneImageName() {
  const plat::CGSize size = plat::UIScreen::mainScreen().bounds().size;
  const bool tall = (size.width == 320 && size.height == 568) || (size.width == 568 && size.height == 320);
  return tall ? "HBRCapture.bundle/microphone-568h" : "HBRCapture.bundle/microphone";
}

unsigned long HBRAudioRecorderViewController::supportedInterfaceOrientations() const {
  unsigned long orientations = plat::UIInterfaceOrientationMaskPortrait;
  auto presenter = captureCommand_ ? std::dynamic_pointer_cast<HBRScreenOrientationDelegate>(captureCommand_->viewController())
                                   : nullptr;
  if (presenter && (presenter->supportedInterfaceOrientations() & plat::UIInterfaceOrientationMaskPortraitUpsideDown))
    orientations |= plat::UIInterfaceOrientationMaskPortraitUpsideDown;
  return orientations;
}

void HBRAudioRecorderViewController::viewWillAppear(bool animated) {
  if (auto app = application()) app->setStatusBarStyle(preferredStatusBarStyle());
  plat::UIViewController::viewWillAppear(animated);
}

void HBRAudioRecorderViewController::loadView() {
  const plat::CGRect frame = plat::UIScreen::mainScreen().applicationFrame();
  const double width = frame.size.width;
  auto root = std::make_shared<plat::UIView>();
  root->initWithFrame(frame);
  setView(root);
  auto image = [this](const std::string& name) { return plat::UIImage::imageNamed(resolveImageResource(name)); };
  auto text = [this](const char* key) {
    return captureCommand_ ? captureCommand_->pluginLocalizedString(key) : std::string(key);
  };
  auto microphoneImage = image(microphoneImageName());
  auto controlsImage = image("HBRCapture.bundle/controls_bg");
  auto recordingImage = image("HBRCapture.bundle/recording_bg");
  recordImage_ = image("HBRCapture.bundle/record_button");
  stopRecordImage_ = image("HBRCapture.bundle/stop_button");
  const double microphone = heightOf(microphoneImage);
  const double controls = heightOf(controlsImage);
  const double recording = heightOf(recordingImage);

  root->addSubview(band(0, width, microphone));
  root->addSubview(band(microphone, width, controls));
  recordingView_ = band(0, width, recording);
  recordingView_->setHidden(true);
  root->addSubview(recordingView_);

  timerLabel_ = std::make_shared<plat::UILabel>();
  timerLabel_->initWithFrame(plat::CGRectMake(0, 0, width, recording));
  timerLabel_->setBackgroundColor(plat::UIColor::clearColor());
  timerLabel_->setTextColor(plat::UIColor::whiteColor());
  timerLabel_->setTextAlignment(plat::NSTextAlignmentCenter);
  timerLabel_->setText(std::string("0:00"));
  timerLabel_->setAccessibilityHint(text("recorded time in minutes and seconds"));
  timerLabel_->setAccessibilityTraits((timerLabel_->accessibilityTraits() | plat::UIAccessibilityTraitUpdatesFrequently) &
                                      ~plat::UIAccessibilityTraitStaticText);
  recordingView_->addSubview(timerLabel_);

  recordButton_ = std::make_shared<plat::UIButton>();
  recordButton_->initWithFrame(plat::CGRectMake((width - widthOf(recordImage_)) / 2,
                                                microphone + (controls - heightOf(recordImage_)) / 2,
                                                widthOf(recordImage_), heightOf(recordImage_)));
  recordButton_->setImageForState(recordImage_, plat::UIControlStateNormal);
  recordButton_->setAccessibilityLabel(text("toggle audio recording"));
  recordButton_->setEnabled(false);  // until the recorder is ready
  std::weak_ptr<HBRAudioRecorderViewController> weak =
      std::static_pointer_cast<HBRAudioRecorderViewController>(shared_from_this());
  recordButton_->addTargetActionForControlEvents(
      [weak] {
        if (auto self = weak.lock()) self->processButton();
      },
      plat::UIControlEventTouchUpInside);
  root->addSubview(recordButton_);

  doneButton_ = std::make_shared<plat::UIBarButtonItem>(plat::UIBarButtonItem::Done, [weak] {
    if (auto self = weak.lock()) self->dismissAudioView();
  });
  doneButton_->setEnabled(false);
  setRightBarButtonItem(doneButton_);
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
  if (recordButton_) recordButton_->setEnabled(true);
  if (doneButton_) doneButton_->setEnabled(true);
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
  if (isRecordEnabled()) buttons.push_back(avRecorder_ && avRecorder_->isRecording() ? "Stop" : "Record");
  if (isDoneEnabled()) buttons.push_back("Done");
  return buttons;
}

bool HBRAudioRecorderViewController::tapButton(const std::string& title) {
  const auto buttons = buttonTitles();
  if (std::find(buttons.begin(), buttons.end(), title) == buttons.end()) return false;
  // Pressed as a person presses them: the bar item's and the button's own actions.
  if (title == "Done")
    doneButton_->tap();
  else
    recordButton_->sendActionsForControlEvents(plat::UIControlEventTouchUpInside);
  return true;
}

void HBRAudioRecorderViewController::processButton() {
  if (closed_ || !avRecorder_) return;
  if (avRecorder_->isRecording()) {
    avRecorder_->stop();
    isTimed_ = false;
    return;
  }
  if (recordButton_) recordButton_->setImageForState(stopRecordImage_, plat::UIControlStateNormal);
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
  if (timerLabel_) timerLabel_->setText(std::string("0:00"));
  stopTimer();
  std::weak_ptr<HBRAudioRecorderViewController> weak =
      std::static_pointer_cast<HBRAudioRecorderViewController>(shared_from_this());
  timer_ = plat::RunLoop::main().scheduleTimer(
      0.5,
      [weak] {
        if (auto self = weak.lock()) self->updateTime();
      },
      0.5);
  if (doneButton_) doneButton_->setEnabled(false);
  plat::UIAccessibilityPostNotification(plat::UIAccessibilityLayoutChangedNotification, std::nullopt);
}

void HBRAudioRecorderViewController::stopTimer() {
  if (timer_) plat::RunLoop::main().cancelTimer(*timer_);
  timer_.reset();
}

void HBRAudioRecorderViewController::updateTime() {
  if (avRecorder_ && timerLabel_) timerLabel_->setText(formatTime(static_cast<int>(avRecorder_->currentTime())));
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
  if (recordButton_) recordButton_->setImageForState(recordImage_, plat::UIControlStateNormal);
  if (recordingView_) recordingView_->setHidden(true);
  if (doneButton_) doneButton_->setEnabled(true);
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
  if (auto app = application()) app->setStatusBarStyle(previousStatusBarStyle_);
  // The screen no longer needs the plugin; the plugin owned nothing of the screen.
  captureCommand_ = nullptr;
}

}  // namespace harbor
