// The capture plugin: photos and movies through the camera screen (driven as the user would),
// numbered files, supported modes and format facts of generated WAV, PNG and MP4 files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "HBRAudioRecorderViewController.h"
#include "HBRCapture.h"
#include "HBRScreenOrientationDelegate.h"
#include "FilePlugin.h"
#include "MediaCapturePlugin.h"
#include "plat/audiotoolbox/WAVFile.h"
#include "plat/avfoundation/AVAudioSession.h"
#include "plat/avfoundation/MediaFormat.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/testing/OrientedPictures.h"
#include "plat/testing/SoundFiles.h"
#include "plat/uikit/UIAccessibility.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIScreen.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIImagePickerController.h"
#include "support/PluginTest.h"

using plat::Array;
using plat::Dictionary;
using plat::Value;

class Capture : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    plat::SimulatedCamera::setAvailable(false);  // a device without a camera until a test gives it one
    harbor::registerMediaCapturePlugin();
    root = std::make_shared<plat::UIViewController>();
    capture = create<harbor::HBRCapture>("HBRCapture", "Capture", root);
    ASSERT_TRUE(capture);
    tmp = plat::stringByStandardizingPath(plat::NSTemporaryDirectory());
  }
  void TearDown() override {
    plat::UIDriver::shared().reset();
    plat::SimulatedCamera::reset();
    PluginTest::TearDown();
  }
  harbor::testing::PageCallback only() {
    auto callbacks = takeCallbacks();
    EXPECT_EQ(callbacks.size(), 1u);
    return callbacks.empty() ? harbor::testing::PageCallback{} : callbacks[0];
  }
  std::shared_ptr<plat::UIViewController> root;
  std::shared_ptr<harbor::HBRCapture> capture;
  std::string tmp;
};

TEST_F(Capture, NumberedFilesTakeTheFirstFreeNumber) {
  struct Case {
    std::vector<const char*> present;
    const char* expected;
  };
  for (const Case& c : {Case{{}, "photo_001.jpg"}, Case{{"photo_001.jpg", "photo_002.jpg"}, "photo_003.jpg"},
                        Case{{"photo_002.jpg"}, "photo_001.jpg"}}) {
    const std::string folder = inHome("numbers-" + std::to_string(c.present.size()) + c.expected);
    std::filesystem::create_directories(folder);
    for (const char* name : c.present) writeFile(folder + "/" + name, "x");
    auto claimed = harbor::HBRCapture::claimNumberedFile(folder, "photo_", "jpg");
    ASSERT_TRUE(claimed);
    EXPECT_EQ(plat::lastPathComponent(*claimed), c.expected);
    EXPECT_TRUE(exists(*claimed));  // taken at once: the next capture gets the next number
  }
  EXPECT_FALSE(harbor::HBRCapture::claimNumberedFile(inHome("no/such/folder"), "photo_", "jpg"));
}

TEST_F(Capture, DurationOptionIsANumberOrNumericText) {
  struct Case {
    Value options;
    std::optional<double> expected;
  };
  for (const Case& c : {Case{Dictionary{{"duration", 5}}, 5.0}, Case{Dictionary{{"duration", "2.5"}}, 2.5},
                        Case{Dictionary{{"duration", 0}}, std::nullopt}, Case{Dictionary{{"duration", Value::null()}}, std::nullopt},
                        Case{Dictionary{{"duration", Array{1}}}, std::nullopt}, Case{Dictionary{}, std::nullopt},
                        Case{Value::null(), std::nullopt}}) {
    EXPECT_EQ(harbor::HBRCapture::durationOption(c.options), c.expected);
  }
}

TEST_F(Capture, PhotosAndMoviesFromTheCamera) {
  exec("Capture", "captureImage", {Dictionary{}});
  auto noCamera = only();
  EXPECT_EQ(noCamera.status, 9);
  EXPECT_EQ(noCamera.message, Value(Dictionary{{"code", 20}}));
  EXPECT_TRUE(log_->contains("Capture.imageCapture: camera not available."));

  plat::SimulatedCamera::setAvailable(true);
  exec("Capture", "captureImage", {Value::null()}, "photo");
  ASSERT_TRUE(plat::UIDriver::shared().takePicture());
  runUntilIdle();
  auto photo = only();
  EXPECT_EQ(photo.callbackId, "photo");
  ASSERT_EQ(photo.status, 1);
  const Value& file = photo.message.at(0);
  EXPECT_EQ(file["name"], Value("photo_001.jpg"));
  EXPECT_EQ(file["fullPath"], Value(tmp + "/photo_001.jpg"));
  EXPECT_GT(file["size"].asInt(), 0);
  EXPECT_GT(file["lastModifiedDate"].asDouble(), 1e12);
  EXPECT_EQ(plat::readImageSize(tmp + "/photo_001.jpg")->width, 640u);
  EXPECT_EQ(capture->pickerController(), nullptr);

  exec("Capture", "captureImage", {Dictionary{}}, "cancelled");
  ASSERT_TRUE(plat::UIDriver::shared().cancelPicker());
  runUntilIdle();
  auto cancelled = only();
  EXPECT_EQ(cancelled.status, 9);
  EXPECT_EQ(cancelled.message, Value(Dictionary{{"code", 3}}));

  exec("Capture", "captureVideo", {Dictionary{{"duration", 2}}}, "movie");
  ASSERT_TRUE(plat::UIDriver::shared().recordVideo(5));
  runUntilIdle();
  auto movie = only();
  ASSERT_EQ(movie.status, 1);
  EXPECT_NEAR(plat::readMovieInfo(movie.message.at(0)["fullPath"].asString())->duration, 2.0, 1e-2);

  plat::SimulatedCamera::setAvailable(true, false);
  exec("Capture", "captureVideo", {Dictionary{}});
  EXPECT_EQ(only().message, Value(Dictionary{{"code", 20}}));
  EXPECT_TRUE(log_->contains("Capture.captureVideo: video mode not available."));
}

TEST_F(Capture, SupportedModesGoToThePageScript) {
  const std::string head = "try{harbor.require('harbor/exec').nativeEvalAndFetch(function(){";
  exec("Capture", "getMediaModes", {});
  ASSERT_EQ(engine->scripts.size(), 1u);
  EXPECT_NE(engine->scripts[0].find(
                "navigator.device.capture.setSupportedModes({\"image\":null,\"video\":null,\"audio\":null});"),
            std::string::npos)
      << engine->scripts[0];
  engine->scripts.clear();
  plat::SimulatedCamera::setAvailable(true);
  exec("Capture", "getMediaModes", {});
  ASSERT_EQ(engine->scripts.size(), 1u);
  EXPECT_NE(engine->scripts[0].find("{\"image\":[{\"height\":0,\"width\":0,\"type\":\"image/jpeg\"},{\"height\":0,"
                                    "\"width\":0,\"type\":\"image/png\"}],\"video\":[{\"height\":0,\"width\":0,"
                                    "\"type\":\"video/quicktime\"}],\"audio\":null}"),
            std::string::npos);
  engine->scripts.clear();
}

TEST_F(Capture, FormatDataOfGeneratedFiles) {
  ASSERT_TRUE(plat::testing::writeToneWAV(tmp + "/a.wav", 1.5));
  auto image = plat::UIImage::imageWithCGImage(plat::CGImageCreateBlank(33, 17));
  const plat::Data png = plat::UIImagePNGRepresentation(*image);
  writeFile(tmp + "/a.png", std::string(png.begin(), png.end()));
  ASSERT_TRUE(plat::writeMovieFile(tmp + "/a.mp4", 2.5, 320, 240));
  writeFile(tmp + "/a.txt", "text");
  // Stored 40 x 30, shown turned a quarter (Exif orientation 6) or half a turn (3): the size is
  // the one the picture shows at.
  for (int exif : {6, 3}) {
    const plat::Data jpeg = plat::testing::JpegWithExifOrientation(40, 30, exif);
    writeFile(tmp + "/turned" + std::to_string(exif) + ".jpg", std::string(jpeg.begin(), jpeg.end()));
  }
  struct Case {
    const char* file;
    const char* type;
    double duration, width, height, bitrate;
  };
  for (const Case& c : {Case{"a.wav", "audio/wav", 1.5, 0, 0, 128000}, Case{"a.png", "image/png", 0, 33, 17, 0},
                        Case{"turned6.jpg", "image/jpeg", 0, 30, 40, 0}, Case{"turned3.jpg", "image/jpeg", 0, 40, 30, 0},
                        Case{"a.mp4", "video/mp4", 2.5, 320, 240, 0}, Case{"a.txt", "text/plain", 0, 0, 0, 0}}) {
    exec("Capture", "getFormatData", {tmp + "/" + c.file, c.type});
    auto answer = only();
    ASSERT_EQ(answer.status, 1) << c.file;
    EXPECT_TRUE(answer.message["codecs"].isNull());
    EXPECT_NEAR(answer.message["duration"].asDouble(), c.duration, 1e-3) << c.file;
    EXPECT_EQ(answer.message["width"].asDouble(), c.width) << c.file;
    EXPECT_EQ(answer.message["height"].asDouble(), c.height) << c.file;
    EXPECT_NEAR(answer.message["bitrate"].asDouble(), c.bitrate, 1000) << c.file;
  }
}

TEST_F(Capture, RecorderScreenFormatsTheElapsedTime) {
  for (auto [seconds, text] : std::vector<std::pair<int, const char*>>{{0, "0:00"}, {59, "0:59"}, {60, "1:00"}, {3661, "61:01"}})
    EXPECT_EQ(harbor::HBRAudioRecorderViewController::formatTime(seconds), text);
}

TEST_F(Capture, ATimedRecordingStopsByItselfAndAnswersOnceOnDone) {
  writeFile(tmp + "/audio_001.wav", "an earlier take");
  exec("Capture", "captureAudio", {Dictionary{{"duration", 5}}}, "audio");
  auto screen = capture->recorderScreen();
  ASSERT_TRUE(screen);
  EXPECT_TRUE(capture->inUse());
  exec("Capture", "captureAudio", {Dictionary{}}, "second");
  EXPECT_EQ(only().message, Value(Dictionary{{"code", 1}}));  // busy

  screen->processButton();
  plat::dispatch::GlobalQueue::shared().waitIdle();
  waitForMain(5);
  ASSERT_TRUE(screen->recorder()->isRecording());
  EXPECT_FALSE(screen->isDoneEnabled());
  EXPECT_TRUE(screen->isRecordingBandShown());
  advance(2.6);
  EXPECT_EQ(screen->timerText(), "0:02");
  advance(2.5);
  EXPECT_FALSE(screen->recorder()->isRecording());
  EXPECT_TRUE(screen->isDoneEnabled());
  EXPECT_TRUE(takeCallbacks().empty());  // nothing until Done
  advance(0.5);
  auto posts = plat::UIAccessibilityRecorder::posted();
  ASSERT_FALSE(posts.empty());
  EXPECT_EQ(posts.back().notification, plat::UIAccessibilityAnnouncementNotification);

  screen->dismissAudioView();
  screen->dismissAudioView();
  runUntilIdle();
  auto answer = only();
  EXPECT_EQ(answer.callbackId, "audio");
  ASSERT_EQ(answer.status, 1);
  EXPECT_EQ(answer.message.at(0)["type"], Value("audio/wav"));
  EXPECT_EQ(answer.message.at(0)["name"], Value("audio_002.wav"));
  EXPECT_NEAR(plat::readWAVInfo(tmp + "/audio_002.wav")->duration, 5.0, 1e-3);
  EXPECT_EQ(readFile(tmp + "/audio_001.wav"), "an earlier take");
  EXPECT_FALSE(capture->inUse());
}

TEST_F(Capture, LeavingOrRefusingTheRecorderScreen) {
  exec("Capture", "captureAudio", {Dictionary{{"duration", Value::null()}}}, "left");
  capture->recorderScreen()->dismissAudioView();
  runUntilIdle();
  EXPECT_EQ(only().message, Value(Dictionary{{"code", 3}}));
  EXPECT_FALSE(capture->inUse());

  plat::AVAudioSession::sharedInstance()->setRecordPermissionGranted(false);
  exec("Capture", "captureAudio", {Dictionary{}}, "refused");
  auto screen = capture->recorderScreen();
  screen->processButton();
  plat::dispatch::GlobalQueue::shared().waitIdle();
  waitForMain(5);
  auto refused = only();
  EXPECT_EQ(refused.callbackId, "refused");
  EXPECT_EQ(refused.status, 9);
  EXPECT_EQ(refused.message, Value(Dictionary{{"code", 0}}));
  EXPECT_TRUE(log_->contains("Error creating audio session, microphone permission denied."));
  EXPECT_TRUE(screen->isClosed());
  EXPECT_FALSE(capture->inUse());
}

TEST_F(Capture, WithTheFilePluginAPhotoHasItsTypeAndLocalURL) {
  harbor::registerFilePlugin();
  ASSERT_TRUE(createPlugin("HBRFile", "File"));
  plat::SimulatedCamera::setAvailable(true);
  exec("Capture", "captureImage", {Dictionary{}}, "photo");
  ASSERT_TRUE(plat::UIDriver::shared().takePicture());
  runUntilIdle();
  auto photo = only();
  ASSERT_EQ(photo.status, 1);
  EXPECT_EQ(photo.message.at(0)["type"], Value("image/jpeg"));
  EXPECT_EQ(photo.message.at(0)["localURL"].stringOr("").rfind("hbrfile://localhost/", 0), 0u)
      << photo.message.at(0)["localURL"].stringOr("");
}

// A page names any path it likes; only regular files of the sandbox home and the bundle are
// read, and nothing can hold the main thread.
TEST_F(Capture, FormatDataStaysInsideTheApplicationsFoldersAndReadsOnlyRegularFiles) {
  auto image = plat::UIImage::imageWithCGImage(plat::CGImageCreateBlank(33, 17));
  const plat::Data png = plat::UIImagePNGRepresentation(*image);
  const std::string outside = home() + "/../outside-" + std::to_string(::getpid()) + ".png";
  writeFile(outside, std::string(png.begin(), png.end()));
  std::filesystem::create_symlink(outside, tmp + "/link.png");
  std::filesystem::create_directories(tmp + "/folder.png");
  const std::string fifo = tmp + "/pipe.png";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string path;
    int status;
    int code;  // for refusals
  };
  const std::vector<Case> cases = {
      {"/etc/passwd", 9, 2},    {outside, 9, 2},         {tmp + "/link.png", 9, 2}, {"link.png", 9, 2},
      {fifo, 9, 2},             {tmp + "/folder.png", 9, 2}, {"/dev/stdin", 9, 2},
      {tmp + "/missing.png", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    // Should the plugin ever open the FIFO, this opens the other end after a generous bound so
    // that the test fails instead of hanging.
    std::atomic<bool> answered{false};
    std::atomic<bool> rescued{false};
    std::thread rescue([&] {
      for (int i = 0; i < 200 && !answered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (answered) return;
      rescued = true;
      int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    });
    exec("Capture", "getFormatData", {c.path, "image/png"});
    answered = true;
    rescue.join();
    EXPECT_FALSE(rescued);
    auto answer = only();
    EXPECT_EQ(answer.status, c.status);
    if (c.status == 9) {
      EXPECT_EQ(answer.message, Value(Dictionary{{"code", c.code}}));
    }
  }
  EXPECT_TRUE(log_->contains("Capture.getFormatData: refusing '/etc/passwd': it lies outside the application's folders"));
  EXPECT_TRUE(log_->contains("it is not a regular file"));
  std::remove(outside.c_str());
}

// Every request gets exactly one answer, also when the camera or the recorder is already up.
TEST_F(Capture, EveryRequestIsAnsweredOnceWhileAScreenIsUp) {
  plat::SimulatedCamera::setAvailable(true);
  exec("Capture", "captureImage", {Dictionary{}}, "first");
  exec("Capture", "captureImage", {Dictionary{}}, "second");
  auto busy = only();
  EXPECT_EQ(busy.callbackId, "second");
  EXPECT_EQ(busy.message, Value(Dictionary{{"code", 1}}));
  exec("Capture", "captureAudio", {Dictionary{}}, "audio");
  EXPECT_EQ(only().message, Value(Dictionary{{"code", 1}}));
  EXPECT_FALSE(capture->inUse());
  ASSERT_TRUE(plat::UIDriver::shared().takePicture());
  runUntilIdle();
  auto photo = only();
  EXPECT_EQ(photo.callbackId, "first");
  EXPECT_EQ(photo.status, 1);

  for (const char* id : {"v1", "v2", "v3"}) exec("Capture", "captureVideo", {Dictionary{}}, id);
  auto refused = takeCallbacks();
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(refused[0].callbackId, "v2");
  EXPECT_EQ(refused[1].callbackId, "v3");
  ASSERT_TRUE(plat::UIDriver::shared().recordVideo(1));
  runUntilIdle();
  auto movie = only();
  EXPECT_EQ(movie.callbackId, "v1");
  EXPECT_EQ(movie.status, 1);

  // The recorder screen up: the camera cannot show, and says so.
  exec("Capture", "captureAudio", {Dictionary{}}, "audio");
  exec("Capture", "captureImage", {Dictionary{}}, "image");
  auto noCamera = only();
  EXPECT_EQ(noCamera.callbackId, "image");
  EXPECT_EQ(noCamera.message, Value(Dictionary{{"code", 1}}));
  EXPECT_EQ(capture->pickerController(), nullptr);
  capture->recorderScreen()->dismissAudioView();
  runUntilIdle();
  EXPECT_EQ(only().callbackId, "audio");
  EXPECT_TRUE(log_->contains("Capture: the camera could not be shown."));
}

TEST_F(Capture, AudioRequestsTheRecorderCannotServeAreRefusedAtOnce) {
  struct Case {
    Value options;
    bool microphone;
    int code;
  };
  for (const Case& c : {Case{Dictionary{{"duration", -5}}, true, 2}, Case{Dictionary{{"duration", "-0.5"}}, true, 2},
                        Case{Dictionary{}, false, 20}}) {
    SCOPED_TRACE(c.code);
    plat::AudioInput::setAvailable(c.microphone);
    exec("Capture", "captureAudio", {c.options}, "refused");
    auto answer = only();
    EXPECT_EQ(answer.status, 9);
    EXPECT_EQ(answer.message, Value(Dictionary{{"code", c.code}}));
    EXPECT_FALSE(capture->inUse());
    plat::AudioInput::setAvailable(true);
  }
  // And the next request is served, not "busy".
  exec("Capture", "captureAudio", {Dictionary{}}, "served");
  ASSERT_TRUE(capture->recorderScreen());
  EXPECT_TRUE(takeCallbacks().empty());
  // Done before any take: code 3, and no empty recording left behind.
  capture->recorderScreen()->dismissAudioView();
  runUntilIdle();
  EXPECT_EQ(only().message, Value(Dictionary{{"code", 3}}));
  EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "a file was left in " << tmp;
}

TEST_F(Capture, TheOlderPickerCallbackHandsItsEditingInfoOn) {
  auto picker = std::make_shared<harbor::HBRImagePicker>();
  picker->callbackId = "older";
  plat::UIImagePickerMediaInfo editingInfo;
  editingInfo.originalImage = plat::SimulatedTestPicture(64, 48);
  capture->imagePickerControllerDidFinishPickingImageEditingInfo(*picker, editingInfo.originalImage, editingInfo);
  runUntilIdle();
  auto answer = only();
  EXPECT_EQ(answer.callbackId, "older");
  ASSERT_EQ(answer.status, 1);
  EXPECT_EQ(plat::readImageSize(answer.message.at(0)["fullPath"].asString())->width, 64u);
}

namespace {

// A screen controller that says which ways it turns, as the container's view controller does.
class TurningController : public plat::UIViewController, public harbor::HBRScreenOrientationDelegate {
 public:
  explicit TurningController(unsigned long mask) : mask_(mask) {}
  unsigned long supportedInterfaceOrientations() override { return mask_; }
  bool shouldAutorotateToInterfaceOrientation(plat::UIInterfaceOrientation) override { return true; }
  bool shouldAutorotate() override { return true; }

 private:
  unsigned long mask_;
};

}  // namespace

// What a person (and a screen reader) finds on the recorder screen, its orientations and the
// status bar it asks for, with the plugin's images and texts in the bundle.
TEST_F(Capture, RecorderScreenViewsTextsAndAppearance) {
  const std::string resources = bundlePath() + "/HBRCapture.bundle";
  std::filesystem::create_directories(resources + "/en.lproj");
  writeFile(resources + "/en.lproj/Localizable.strings",
            "\"recorded time in minutes and seconds\" = \"time recorded\";\n"
            "\"toggle audio recording\" = \"starts and stops audio recording\";\n");
  struct Image {
    const char* name;
    std::size_t width, height;
  };
  for (const Image& i : {Image{"microphone", 320, 240}, Image{"microphone-568h", 320, 330}, Image{"controls_bg", 320, 100},
                         Image{"recording_bg", 320, 60}, Image{"record_button", 80, 70}, Image{"stop_button", 80, 70}}) {
    const plat::Data png = plat::UIImagePNGRepresentation(*plat::UIImage::imageWithCGImage(plat::CGImageCreateBlank(i.width, i.height)));
    writeFile(resources + "/" + i.name + ".png", std::string(png.begin(), png.end()));
  }
  struct Case {
    double width, height;
    const char* microphone;
    double microphoneHeight;
  };
  for (const Case& c : {Case{375, 667, "HBRCapture.bundle/microphone", 240}, Case{320, 568, "HBRCapture.bundle/microphone-568h", 330},
                        Case{568, 320, "HBRCapture.bundle/microphone-568h", 330}}) {
    SCOPED_TRACE(c.microphone + std::to_string(int(c.width)));
    plat::UIScreen::mainScreen().setBounds(plat::CGRectMake(0, 0, c.width, c.height));
    EXPECT_EQ(harbor::HBRAudioRecorderViewController::microphoneImageName(), c.microphone);
    // An application that sets the bar's look itself: the screen must give back the style it
    // found (with controller-based looks, the controller beneath takes over when it closes).
    writeInfoPlist(Dictionary{{"CFBundleIdentifier", "org.harbor.tests"}, {"UIViewControllerBasedStatusBarAppearance", false}});
    auto app = plat::UIApplication::sharedApplication();
    app->setStatusBarStyle(plat::UIStatusBarStyleLightContent);
    exec("Capture", "captureAudio", {Dictionary{}}, "audio");
    runUntilIdle();
    auto screen = capture->recorderScreen();
    ASSERT_TRUE(screen);
    EXPECT_EQ(app->statusBarStyle(), plat::UIStatusBarStyleDefault);  // the screen's own, while it shows
    EXPECT_EQ(screen->resolveImageResource("HBRCapture.bundle/x"), "HBRCapture.bundle/x");

    auto label = screen->timerLabel();
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), std::optional<std::string>("0:00"));
    EXPECT_EQ(label->accessibilityHint(), std::optional<std::string>("time recorded"));
    EXPECT_TRUE(label->accessibilityTraits() & plat::UIAccessibilityTraitUpdatesFrequently);
    EXPECT_FALSE(label->accessibilityTraits() & plat::UIAccessibilityTraitStaticText);
    EXPECT_EQ(label->textAlignment(), plat::NSTextAlignmentCenter);
    EXPECT_EQ(label->frame().size.height, 60);

    auto button = screen->recordButton();
    ASSERT_TRUE(button);
    EXPECT_EQ(button->accessibilityLabel(), std::optional<std::string>("starts and stops audio recording"));
    const double width = plat::UIScreen::mainScreen().applicationFrame().size.width;
    EXPECT_EQ(button->frame().origin.x, (width - 80) / 2);
    EXPECT_EQ(button->frame().origin.y, c.microphoneHeight + (100 - 70) / 2.0);
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(screen->rightBarButtonItem(), screen->doneButton());
    EXPECT_EQ(screen->doneButton()->systemItem(), plat::UIBarButtonItem::Done);
    for (const auto& band : screen->view()->subviews()) {
      if (band != button) {
        EXPECT_TRUE(band->accessibilityElementsHidden());
      }
    }

    // Pressed as a person would: the button starts a take, the stop image shows, Done waits.
    ASSERT_TRUE(plat::UIDriver::shared().tapScreenButton("Record"));
    plat::dispatch::GlobalQueue::shared().waitIdle();
    waitForMain(5);
    EXPECT_TRUE(screen->showsStopImage());
    EXPECT_FALSE(screen->doneButton()->isEnabled());
    advance(1.1);
    EXPECT_EQ(label->text(), std::optional<std::string>("0:01"));
    ASSERT_TRUE(plat::UIDriver::shared().tapScreenButton("Stop"));
    runUntilIdle();
    EXPECT_FALSE(screen->showsStopImage());
    screen->doneButton()->tap();
    runUntilIdle();
    EXPECT_EQ(only().status, 1);
    EXPECT_EQ(app->statusBarStyle(), plat::UIStatusBarStyleLightContent);  // given back
  }
  plat::UIScreen::mainScreen().reset();
}

TEST_F(Capture, RecorderScreenTurnsUpsideDownOnlyWithThePlugin) {
  struct Case {
    unsigned long presenter;
    unsigned long expected;
  };
  for (const Case& c : {Case{plat::UIInterfaceOrientationMaskAll, plat::UIInterfaceOrientationMaskPortrait |
                                                                        plat::UIInterfaceOrientationMaskPortraitUpsideDown},
                        Case{plat::UIInterfaceOrientationMaskAllButUpsideDown, plat::UIInterfaceOrientationMaskPortrait}}) {
    auto presenter = std::make_shared<TurningController>(c.presenter);
    auto plugin = create<harbor::HBRCapture>("HBRCapture", "Capture" + std::to_string(c.presenter), presenter);
    ASSERT_TRUE(plugin);
    auto screen = std::make_shared<harbor::HBRAudioRecorderViewController>();
    screen->initWithCommand(plugin, std::nullopt, std::string("x"));
    harbor::HBRAudioNavigationController navigation(screen);
    EXPECT_EQ(screen->supportedInterfaceOrientations(), c.expected);
    EXPECT_EQ(navigation.supportedInterfaceOrientations(), c.expected);
  }
}

TEST_F(Capture, TheCameraScreenAsksForItsStatusBarAndStartsAMediaSession) {
  plat::SimulatedCamera::setAvailable(true);
  exec("Capture", "captureImage", {Dictionary{}}, "photo");
  auto picker = capture->pickerController();
  ASSERT_TRUE(picker);
  EXPECT_EQ(picker->accessibilityTraits(), plat::UIAccessibilityTraitStartsMediaSession);
  runUntilIdle();
  EXPECT_TRUE(plat::UIApplication::sharedApplication()->isStatusBarHidden());
  ASSERT_TRUE(plat::UIDriver::shared().cancelPicker());
  runUntilIdle();
  EXPECT_EQ(only().message, Value(Dictionary{{"code", 3}}));
}
