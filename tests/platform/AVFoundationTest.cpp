// Playing files and streams, and recording, on the manual clock, over files the tests write.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "LoopbackServer.h"
#include "plat/audiotoolbox/WAVFile.h"
#include "plat/avfoundation/AVAudioPlayer.h"
#include "plat/avfoundation/AVAudioRecorder.h"
#include "plat/avfoundation/AVAudioSession.h"
#include "plat/avfoundation/AVPlayer.h"
#include "plat/avfoundation/MediaActivity.h"
#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/testing/SandboxTest.h"
#include "plat/testing/SoundFiles.h"

using namespace plat;

namespace {

struct Finishes : AVAudioPlayerDelegate, AVAudioRecorderDelegate {
  std::vector<bool> played, recorded;
  std::vector<std::string> encodeErrors;
  void audioPlayerDidFinishPlaying(AVAudioPlayer&, bool ok) override { played.push_back(ok); }
  void audioRecorderDidFinishRecording(AVAudioRecorder&, bool ok) override { recorded.push_back(ok); }
  void audioRecorderEncodeErrorDidOccur(AVAudioRecorder&, const NSError& e) override {
    encodeErrors.push_back(e.localizedDescription);
  }
};

}  // namespace

class AVFoundation : public plat::testing::SandboxTest {
 protected:
  std::string tone(const std::string& name, double seconds) {
    const std::string path = inHome(name);
    EXPECT_TRUE(plat::testing::writeToneWAV(path, seconds));
    return path;
  }
  AVAudioPlayerPtr player(const std::string& path) {
    auto p = std::make_shared<AVAudioPlayer>();
    NSError error;
    EXPECT_TRUE(p->initWithContentsOfURL(NSURL::fileURLWithPath(path), &error)) << error.localizedDescription;
    p->setDelegate(finishes);
    return p;
  }
  std::shared_ptr<Finishes> finishes = std::make_shared<Finishes>();
};

TEST_F(AVFoundation, PlayerRunsOnTheClockAndFinishesAfterEveryLoop) {
  struct Case {
    const char* name;
    long loops;
    float rate;
    bool enableRate;
    double expectedSeconds;  // of clock until the finish
  };
  for (const Case& c : {Case{"once", 0, 1, false, 4.2}, Case{"three passes", 2, 1, false, 12.6},
                        Case{"double rate", 0, 2, true, 2.1}, Case{"rate without enableRate", 0, 2, false, 4.2}}) {
    SCOPED_TRACE(c.name);
    finishes->played.clear();
    auto p = player(tone("tone.wav", 4.2));
    EXPECT_NEAR(p->duration(), 4.2, 1e-9);
    p->setNumberOfLoops(c.loops);
    p->setEnableRate(c.enableRate);
    p->setRate(c.rate);
    ASSERT_TRUE(p->play());
    advance(c.expectedSeconds - 0.01);
    EXPECT_TRUE(p->isPlaying());
    EXPECT_TRUE(finishes->played.empty());
    advance(0.02);
    EXPECT_FALSE(p->isPlaying());
    EXPECT_EQ(finishes->played, std::vector<bool>{true});
    EXPECT_EQ(p->currentTime(), 0);
  }
}

TEST_F(AVFoundation, PlayerPausesSeeksAndStopsWithoutFinishing) {
  auto p = player(tone("tone.wav", 4.0));
  p->play();
  advance(1.5);
  EXPECT_NEAR(p->currentTime(), 1.5, 1e-6);
  p->pause();
  advance(10);
  EXPECT_NEAR(p->currentTime(), 1.5, 1e-6);
  EXPECT_TRUE(finishes->played.empty());
  p->play();
  p->setCurrentTime(3.5);
  advance(0.25);
  EXPECT_NEAR(p->currentTime(), 3.75, 1e-6);
  p->stop();
  advance(10);
  EXPECT_TRUE(finishes->played.empty());
  EXPECT_NEAR(p->currentTime(), 3.75, 1e-6);
  p->setCurrentTime(99);
  EXPECT_EQ(p->currentTime(), 4.0);
  p->setVolume(7);
  EXPECT_EQ(p->volume(), 1.0f);
  auto kinds = MediaActivity::events();
  ASSERT_EQ(kinds.size(), 4u);
  EXPECT_EQ(kinds[0].kind, "play");
  EXPECT_EQ(kinds[1].kind, "pause");
  EXPECT_EQ(kinds[3].kind, "stop");
}

TEST_F(AVFoundation, PlayerMetersTheSamplesAtItsPosition) {
  auto p = player(tone("tone.wav", 1.0));
  p->setMeteringEnabled(true);
  p->updateMeters();
  // A sine at half of full scale: its RMS is 0.5/sqrt(2), about -9 dB; its peak -6 dB.
  EXPECT_NEAR(p->averagePowerForChannel(0), -9.03, 0.1);
  EXPECT_NEAR(p->peakPowerForChannel(0), -6.02, 0.1);
  p->setVolume(0);
  p->updateMeters();
  EXPECT_EQ(p->averagePowerForChannel(0), kAVAudioMeterSilence);
  EXPECT_EQ(p->averagePowerForChannel(1), kAVAudioMeterSilence);
}

TEST_F(AVFoundation, PlayerRefusesWhatIsNoSound) {
  writeFile(inHome("notes.wav"), "this is text, not sound");
  for (auto url : {NSURL::fileURLWithPath(inHome("notes.wav")), NSURL::fileURLWithPath(inHome("missing.wav")),
                   NSURL::URLWithString("http://127.0.0.1/x.wav")}) {
    AVAudioPlayer p;
    NSError error;
    EXPECT_FALSE(p.initWithContentsOfURL(url, &error)) << url->absoluteString();
    EXPECT_FALSE(error.localizedDescription.empty());
  }
}

TEST_F(AVFoundation, RecorderWritesAWholeWAVOfTheClockTime) {
  const std::string path = inHome("Documents/take.wav");
  auto recorder = std::make_shared<AVAudioRecorder>();
  ASSERT_TRUE(recorder->initWithURL(NSURL::fileURLWithPath(path), {}));
  recorder->setDelegate(finishes);
  recorder->setMeteringEnabled(true);
  ASSERT_TRUE(recorder->record());
  advance(1.0);
  recorder->updateMeters();
  EXPECT_NEAR(recorder->averagePowerForChannel(0), -9.03, 0.1);
  EXPECT_NEAR(recorder->currentTime(), 1.0, 1e-9);
  EXPECT_FALSE(exists(path));  // only whole recordings become the file
  advance(1.0);
  recorder->stop();
  EXPECT_TRUE(finishes->recorded.empty());  // on a later turn
  runUntilIdle();
  EXPECT_EQ(finishes->recorded, std::vector<bool>{true});
  auto info = readWAVInfo(path);
  ASSERT_TRUE(info.ok()) << info.error();
  EXPECT_NEAR(info->duration, 2.0, 1e-4);
  EXPECT_EQ(info->sampleRate, 44100u);
  EXPECT_EQ(info->channels, 1u);
  EXPECT_FALSE(exists(AVAudioRecorder::recordingPathFor(path)));
}

TEST_F(AVFoundation, RecorderStopsByItselfAfterTheDuration) {
  const std::string path = inHome("tmp/timed.wav");
  auto recorder = std::make_shared<AVAudioRecorder>();
  ASSERT_TRUE(recorder->initWithURL(NSURL::fileURLWithPath(path), {{AVSampleRateKey, 8000}}));
  recorder->setDelegate(finishes);
  ASSERT_TRUE(recorder->recordForDuration(5));
  advance(4.99);
  EXPECT_TRUE(recorder->isRecording());
  advance(0.02);
  EXPECT_FALSE(recorder->isRecording());
  EXPECT_EQ(finishes->recorded, std::vector<bool>{true});
  EXPECT_NEAR(readWAVInfo(path)->duration, 5.0, 1e-3);
}

TEST_F(AVFoundation, ADroppedRecorderLeavesAValidWAVAndNoCallback) {
  const std::string path = inHome("tmp/dropped.wav");
  ASSERT_TRUE(plat::testing::writeToneWAV(path, 9.0));  // an earlier recording
  {
    auto recorder = std::make_shared<AVAudioRecorder>();
    ASSERT_TRUE(recorder->initWithURL(NSURL::fileURLWithPath(path), {}));
    recorder->setDelegate(finishes);
    recorder->record();
    advance(0.5);
    recorder->stop();
    recorder->record();
    advance(1.25);
    EXPECT_NEAR(readWAVInfo(path)->duration, 0.5, 1e-3);
  }
  runUntilIdle();
  EXPECT_EQ(finishes->recorded, std::vector<bool>{true});  // the first take's only
  auto info = readWAVInfo(path);
  ASSERT_TRUE(info.ok());
  EXPECT_NEAR(info->duration, 1.25, 1e-3);
}

TEST_F(AVFoundation, RecorderRefusesWhatItCannotWrite) {
  for (const std::string& target : {inHome("tmp/x.mp3"), inHome("no/such/folder/x.wav"), std::string("http://h/x.wav")}) {
    AVAudioRecorder recorder;
    NSError error;
    auto url = target.rfind("http", 0) == 0 ? NSURL::URLWithString(target) : NSURL::fileURLWithPath(target);
    EXPECT_FALSE(recorder.initWithURL(url, {}, &error)) << target;
    EXPECT_FALSE(error.localizedDescription.empty());
  }
  AVAudioRecorder upper;
  EXPECT_TRUE(upper.initWithURL(NSURL::fileURLWithPath(inHome("tmp/X.WAV")), {}));
}

TEST_F(AVFoundation, PermissionIsAnsweredOffTheMainThread) {
  auto session = AVAudioSession::sharedInstance();
  for (bool granted : {true, false}) {
    session->setRecordPermissionGranted(granted);
    std::atomic<int> answer{-1};
    std::atomic<bool> onMain{true};
    session->requestRecordPermission([&](bool ok) {
      onMain = isMainThread();
      answer = ok;
    });
    dispatch::GlobalQueue::shared().waitIdle();
    EXPECT_EQ(answer.load(), granted ? 1 : 0);
    EXPECT_FALSE(onMain.load());
  }
  NSError error;
  EXPECT_FALSE(session->setCategory("loud", &error));
  session->setActivationFailure("the line is busy");
  EXPECT_FALSE(session->setActive(true, &error));
  EXPECT_EQ(error.localizedDescription, "the line is busy");
}

TEST_F(AVFoundation, StreamBecomesReadyPlaysToItsEndAndFailsOnErrors) {
  harbor::testing::LoopbackServer server;
  ASSERT_TRUE(server.ok());
  ASSERT_TRUE(plat::testing::writeToneWAV(inHome("s.wav"), 3.0));
  server.route("/s.wav", {200, "audio/wav", readFile(inHome("s.wav")), {}, false});
  server.route("/gone.wav", {404, "text/plain", "gone", {}, false});

  auto item = AVPlayerItem::playerItemWithURL(NSURL::URLWithString(server.url("/s.wav")));
  auto player = AVPlayer::playerWithPlayerItem(item);
  EXPECT_EQ(item->status(), AVPlayerItemStatus::Unknown);
  EXPECT_EQ(item->asset()->duration().timescale, 0);
  bool sought = true;
  player->seekToTime(CMTimeMakeWithSeconds(1, 1000), kCMTimeZero, kCMTimeZero, [&](bool f) { sought = f; });
  runUntilIdle();
  EXPECT_FALSE(sought);
  int ends = 0;
  auto observer = std::make_shared<int>();
  NSNotificationCenter::defaultCenter().addObserver(observer, AVPlayerItemDidPlayToEndTimeNotification, item,
                                                    [&](const NSNotification&) { ++ends; });
  player->play();
  for (int i = 0; i < 200 && item->status() == AVPlayerItemStatus::Unknown; ++i) waitForMain(0.05);
  ASSERT_EQ(item->status(), AVPlayerItemStatus::ReadyToPlay);
  EXPECT_NEAR(CMTimeGetSeconds(item->asset()->duration()), 3.0, 1e-3);
  advance(2.99);
  EXPECT_EQ(ends, 0);
  EXPECT_NEAR(CMTimeGetSeconds(player->currentTime()), 2.99, 1e-3);
  advance(0.02);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(player->rate(), 0);

  auto gone = AVPlayerItem::playerItemWithURL(NSURL::URLWithString(server.url("/gone.wav")));
  for (int i = 0; i < 200 && gone->status() == AVPlayerItemStatus::Unknown; ++i) waitForMain(0.05);
  EXPECT_EQ(gone->status(), AVPlayerItemStatus::Failed);
  ASSERT_TRUE(gone->error());
}
