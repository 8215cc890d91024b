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
#include "plat/uikit/UIImage.h"
#include "plat/uikit/UIView.h"
#include "plat/uikit/UIViewController.h"

namespace harbor {

class HBRCapture;

// Holds the recorder screen as its root, under a navigation bar with the Done button.
class HBRAudioNavigationController : public plat::UIViewController {
 public:
  explicit HBRAudioNavigationController(std::shared_ptr<plat::UIViewController> root) : root_(std::move(root)) {}
  std::shared_ptr<plat::UIViewController> topViewController() const { return root_; }
  void loadView() override;
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
  void viewDidAppear(bool animated) override;

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
  const std::string& timerText() const { return timerText_; }
  bool isRecordingBandShown() const { return recordingView_ && !recordingView_->isHidden(); }
  bool isDoneEnabled() const { return doneEnabled_; }
  bool isRecordEnabled() const { return recordEnabled_; }
  bool showsStopImage() const { return showsStopImage_; }
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
  plat::UIViewPtr recordingView_;
  std::string timerText_ = "0:00";
  bool doneEnabled_ = false;
  bool recordEnabled_ = false;
  bool showsStopImage_ = false;
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
