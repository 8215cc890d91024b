#pragma once
// The screen captureAudio shows: it records one WAV file into the temporary folder
// ("<tmp>/audio_NNN.wav", the first free number), shows the elapsed time, stops by itself after
// the requested duration, and answers the page exactly once, when it closes (Done):
//   status 1 [media file of type "audio/wav"] after a finished recording
//   status 6 {"code": 0} when the recorder failed or could not encode
//   status 9 {"code": 0} when the recorder, the microphone or the session was refused
//   status 9 {"code": 3} when the user leaves without a recording (no file is left then)
// States: idle (record and Done enabled) -> recording (stop image, band shown, timer running,
// Done disabled) -> idle with a prepared answer; any of them -> closed.
//
// Threads: main thread; the microphone answer is brought back to it.
#include <memory>
#include <optional>
#include <string>

#include "HBRPluginResult.h"
#include "plat/avfoundation/AVAudioRecorder.h"
#include "plat/avfoundation/AVAudioSession.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIButton.h"
#include "plat/uikit/UIImage.h"
#include "plat/uikit/UILabel.h"
#include "plat/uikit/UINavigationController.h"
#include "plat/uikit/UIView.h"
#include "plat/uikit/UIViewController.h"

namespace harbor {

class HBRCapture;

// Holds the recorder screen as its root, under a navigation bar with the Done button.
class HBRAudioNavigationController : public plat::UIViewController {
 public:
  explicit HBRAudioNavigationController(std::shared_ptr<plat::UIViewController> root) : root_(std::move(root)) {}
  std::shared_ptr<plat::UIViewController> topViewController() const { return root_; }
  // Those of the screen it holds (a UIInterfaceOrientationMask).
  unsigned long supportedInterfaceOrientations() const;
  void loadView() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;

 private:
  std::shared_ptr<plat::UIViewController> root_;
};

// On screen it is a screen of the UI driver, titled "Audio recording", whose buttons are what a
// person can press at the moment: "Record" (idle) or "Stop" (recording), and "Done" when enabled.
class HBRAudioRecorderViewController : public plat::UIViewController,
                                       public plat::AVAudioRecorderDelegate,
                                       public plat::UIDrivenScreen {
 public:
  ~HBRAudioRecorderViewController() override;
  void initWithCommand(const std::shared_ptr<HBRCapture>& command, std::optional<double> duration,
                       std::optional<std::string> callbackId);

  void loadView() override;
  void viewDidLoad() override;
  void viewDidUnload() override;
  // Sets the application's status bar style to the screen's own first.
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  // Portrait, and upside down too when the capture plugin's view controller turns that way.
  unsigned long supportedInterfaceOrientations() const;
  long preferredStatusBarStyle() const override { return plat::UIStatusBarStyleDefault; }
  // The image name for a resource name: the name itself.
  std::string resolveImageResource(const std::string& name) const { return name; }
  // "HBRCapture.bundle/microphone", or its "-568h" variant on a 320 x 568 point screen.
  static std::string microphoneImageName();

  // plat::UIDrivenScreen
  std::string screenTitle() const override { return "Audio recording"; }
  std::vector<std::string> buttonTitles() const override;
  bool tapButton(const std::string& title) override;

  // The record / stop toggle.
  void processButton();
  void updateTime();
  static std::string formatTime(int seconds);
  void stopRecordingCleanup();
  // Closes the screen and answers the page (once).
  void dismissAudioView();

  void audioRecorderDidFinishRecording(plat::AVAudioRecorder& recorder, bool successfully) override;
  void audioRecorderEncodeErrorDidOccur(plat::AVAudioRecorder& recorder, const plat::NSError& error) override;

  // What the screen shows, for the driver and the tests.
  unsigned errorCode() const { return errorCode_; }
  std::string timerText() const { return timerLabel_ ? timerLabel_->text().value_or("") : std::string(); }
  bool isRecordingBandShown() const { return recordingView_ && !recordingView_->isHidden(); }
  bool isDoneEnabled() const { return doneButton_ && doneButton_->isEnabled(); }
  bool isRecordEnabled() const { return recordButton_ && recordButton_->isEnabled(); }
  bool showsStopImage() const {
    return recordButton_ && recordButton_->imageForState(plat::UIControlStateNormal) == stopRecordImage_ &&
           stopRecordImage_ != recordImage_;
  }
  plat::UILabelPtr timerLabel() const { return timerLabel_; }
  plat::UIButtonPtr recordButton() const { return recordButton_; }
  plat::UIBarButtonItemPtr doneButton() const { return doneButton_; }
  bool isTimed() const { return isTimed_; }
  bool isClosed() const { return closed_; }
  plat::AVAudioRecorderPtr recorder() const { return avRecorder_; }

 private:
  void startRecording();
  void stopTimer();

  unsigned errorCode_ = 3;
  std::optional<std::string> callbackId_;
  std::optional<double> duration_;
  std::shared_ptr<HBRCapture> captureCommand_;
  plat::UIBarButtonItemPtr doneButton_;
  plat::UIViewPtr recordingView_;
  plat::UIButtonPtr recordButton_;
  std::shared_ptr<plat::UIImage> recordImage_;
  std::shared_ptr<plat::UIImage> stopRecordImage_;
  plat::UILabelPtr timerLabel_;
  long previousStatusBarStyle_ = plat::UIStatusBarStyleDefault;
  plat::AVAudioRecorderPtr avRecorder_;
  plat::AVAudioSessionPtr avSession_;
  HBRPluginResultPtr pluginResult_;
  std::optional<plat::RunLoop::TimerId> timer_;
  bool isTimed_ = false;
  bool closed_ = false;
  std::string path_;             // the file the takes go to
  bool haveRecording_ = false;   // the last take finished, and the page will hear of it
};

}  // namespace harbor
