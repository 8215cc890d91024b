// The media plugin: the status calls the page hears, to the character, for files it plays and
// records, streams from a loopback server, and the faults it must not have.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>

#include "../platform/LoopbackServer.h"
#include "FilePlugin.h"
#include "HBRSound.h"
#include "MediaPlugin.h"
#include "plat/audiotoolbox/WAVFile.h"
#include "plat/avfoundation/AVAudioSession.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/testing/SoundFiles.h"
#include "support/PluginTest.h"

using plat::Array;
using plat::Dictionary;

namespace {

const std::string fn = "harbor.require('harbor-plugin-media.Media').onStatus";

std::string state(const std::string& id, int s) { return fn + "(\"" + id + "\",1," + std::to_string(s) + ");"; }
std::string started(const std::string& id, const std::string& duration) {
  return fn + "(\"" + id + "\",2," + duration + ");\n" + state(id, 2);
}
std::string error(const std::string& id, int code, const std::string& message) {
  return fn + "(\"" + id + "\",9,{\"code\":" + std::to_string(code) + ",\"message\":\"" + message + "\"});";
}

}  // namespace

class Media : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    harbor::registerMediaPlugin();
    sound = create<harbor::HBRSound>("HBRSound", "Media");
    ASSERT_TRUE(sound);
    tmp = plat::stringByStandardizingPath(plat::NSTemporaryDirectory());
    ASSERT_TRUE(plat::testing::writeToneWAV(tmp + "/tone.wav", 4.2));
  }
  void TearDown() override {
    sound->onReset();  // recorders finish on the test's clock
    sound.reset();
    PluginTest::TearDown();
  }
  // Runs the command and whatever it handed to the global queue and the main loop.
  void run(const std::string& action, const Array& arguments) {
    exec("Media", action, arguments);
    settle();
  }
  void settle() {
    for (int i = 0; i < 3; ++i) {
      plat::dispatch::GlobalQueue::shared().waitIdle();
      runUntilIdle();
    }
  }
  // The status calls evaluated since the last call (the bridge's wrapper taken off), and the
  // callbacks apart.
  std::vector<std::string> statuses() {
    static const std::string head = "try{harbor.require('harbor/exec').nativeEvalAndFetch(function(){";
    static const std::string tail = "})}catch(e){console.log('exeption nativeEvalAndFetch : '+e);};";
    std::vector<std::string> out, rest;
    for (const auto& script : engine->scripts) {
      if (script.rfind(head, 0) == 0 && script.size() > head.size() + tail.size())
        out.push_back(script.substr(head.size(), script.size() - head.size() - tail.size()));
      else
        rest.push_back(script);
    }
    engine->scripts = rest;
    return out;
  }
  // Creates the sound on the stream and waits (in real time, bounded) until it has loaded: then
  // a seek goes through without an error.
  bool createLoadedStream(const std::string& id, const std::string& url) {
    run("create", {id, url});
    statuses();
    takeCallbacks();
    return waitUntilStreamLoaded(id);
  }
  bool waitUntilStreamLoaded(const std::string& id) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      waitForMain(0.05);
      run("seekToAudio", {id, 0});
      if (statuses().empty()) return true;
    }
    return false;
  }
  std::shared_ptr<harbor::HBRSound> sound;
  std::string tmp;
};

TEST_F(Media, PlaybackStatusCallsToTheCharacter) {
  run("create", {"a", "tone.wav"});
  ASSERT_EQ(takeCallbacks().size(), 1u);
  EXPECT_TRUE(statuses().empty());
  run("startPlayingAudio", {"a", "tone.wav"});
  EXPECT_EQ(statuses(), std::vector<std::string>{started("a", "4.200")});
  advance(1.5);
  run("pausePlayingAudio", {"a"});
  EXPECT_EQ(statuses(), std::vector<std::string>{state("a", 3)});
  run("getCurrentPositionAudio", {"a"});  // paused: -1, as the page has always heard
  EXPECT_EQ(statuses(), std::vector<std::string>{fn + "(\"a\",3,-1.000);"});
  EXPECT_EQ(takeCallbacks()[0].message.asDouble(), -1.0);
  run("startPlayingAudio", {"a", "tone.wav"});
  statuses();
  run("seekToAudio", {"a", 2500});
  EXPECT_EQ(statuses(), std::vector<std::string>{fn + "(\"a\",3,2.500000);"});
  advance(0.25);
  run("getCurrentPositionAudio", {"a"});
  EXPECT_EQ(statuses(), std::vector<std::string>{fn + "(\"a\",3,2.750);"});
  takeCallbacks();
  run("stopPlayingAudio", {"a"});
  EXPECT_EQ(statuses(), std::vector<std::string>{state("a", 4)});
  advance(10);
  EXPECT_TRUE(statuses().empty());  // a stopped player does not finish again
  EXPECT_TRUE(log_->contains("Stopped playing audio sample 'tone.wav'"));
}

TEST_F(Media, LoopsAndTheEndOfPlayback) {
  struct Case {
    plat::Value loops;
    double passes;
  };
  for (const Case& c : {Case{plat::Value(), 1}, Case{1, 1}, Case{3, 3}}) {
    SCOPED_TRACE(c.passes);
    run("startPlayingAudio", {"a", "tone.wav", c.loops.isAbsent() ? Dictionary{} : Dictionary{{"numberOfLoops", c.loops}}});
    EXPECT_EQ(statuses(), std::vector<std::string>{started("a", "4.200")});
    advance(4.2 * c.passes - 0.01);
    EXPECT_TRUE(statuses().empty());
    advance(0.02);
    EXPECT_EQ(statuses(), std::vector<std::string>{state("a", 4)});
    EXPECT_FALSE(plat::AVAudioSession::sharedInstance()->isActive());
  }
}

TEST_F(Media, SeekingToOrPastTheEndStops) {
  for (int ms : {5000, 4200}) {
    run("startPlayingAudio", {"a", "tone.wav"});
    statuses();
    run("seekToAudio", {"a", ms});
    EXPECT_EQ(statuses(), std::vector<std::string>{fn + "(\"a\",3,0.000);\n" + state("a", 4)});
    advance(10);
    EXPECT_TRUE(statuses().empty());
  }
}

TEST_F(Media, CreateReportsBadSourcesAndStillAnswers) {
  run("create", {"e", ""});
  EXPECT_EQ(statuses(), (std::vector<std::string>{error("e", 1, "invalid media src argument"),
                                                  error("e", 1, "Failed to initialize Media file with path ")}));
  EXPECT_TRUE(takeCallbacks().empty());
  run("create", {"m", "missing.mp3"});
  EXPECT_EQ(statuses(), std::vector<std::string>{error("m", 1, "Cannot use audio file from resource 'missing.mp3'")});
  EXPECT_EQ(takeCallbacks().size(), 1u);
  // Nothing outside the application's folders plays, even when it exists.
  ASSERT_TRUE(plat::testing::writeToneWAV(home() + "/../outside.wav", 1));
  run("create", {"o", home() + "/../outside.wav"});
  EXPECT_EQ(statuses().size(), 1u);
  EXPECT_TRUE(log_->contains("outside the application's folders"));
  std::remove((home() + "/../outside.wav").c_str());
  run("getCurrentPositionAudio", {"nobody"});
  EXPECT_EQ(statuses(), std::vector<std::string>{fn + "(\"nobody\",3,-1.000);"});
}

TEST_F(Media, AMediaIdIsAScriptStringLiteral) {
  const std::string id = "a\");alert(1);//\xE2\x80\xA8";
  run("create", {id, "missing.wav"});
  auto calls = statuses();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].rfind(fn + "(\"a\\\");alert(1);//\\u2028\",9,", 0), 0u) << calls[0];
}

TEST_F(Media, VolumeAndRateReachThePlayer) {
  run("create", {"a", "tone.wav"});
  run("setVolume", {"a"});
  run("setRate", {"a", 2.0});
  run("startPlayingAudio", {"a", "tone.wav"});
  statuses();
  advance(2.09);
  EXPECT_TRUE(statuses().empty());
  advance(0.02);  // 4.2 seconds at double rate
  EXPECT_EQ(statuses(), std::vector<std::string>{state("a", 4)});
  run("setVolume", {"a", 0.25});
  EXPECT_TRUE(statuses().empty());
}

TEST_F(Media, RecordingWritesAWAVAndRefusesOtherExtensions) {
  run("startRecordingAudio", {"r", "take.wav"});
  EXPECT_EQ(statuses(), std::vector<std::string>{state("r", 2)});
  advance(1);
  run("getCurrentAmplitudeAudio", {"r"});
  // The simulated microphone's tone at half scale: about -9 dB.
  EXPECT_EQ(statuses(), std::vector<std::string>{fn + "(\"r\",3,0.594);"});
  auto answers = takeCallbacks();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_NEAR(answers[0].message.asDouble(), 0.594, 1e-3);
  advance(1);
  run("stopRecordingAudio", {"r"});
  EXPECT_EQ(statuses(), std::vector<std::string>{state("r", 4)});
  auto info = plat::readWAVInfo(tmp + "/take.wav");
  ASSERT_TRUE(info.ok()) << info.error();
  EXPECT_NEAR(info->duration, 2.0, 1e-3);

  run("startRecordingAudio", {"x", "x.mp3"});
  EXPECT_EQ(statuses(), (std::vector<std::string>{error("x", 1, "Cannot use audio file from resource 'x.mp3'"),
                                                  error("x", 1, "Could not record audio at 'x.mp3'")}));
  EXPECT_TRUE(log_->contains("Resource for recording must have wav extension"));
  run("startRecordingAudio", {"u", "X.WAV"});
  EXPECT_EQ(statuses(), std::vector<std::string>{state("u", 2)});
}

TEST_F(Media, RefusedMicrophoneAndReleasedRecorders) {
  plat::AVAudioSession::sharedInstance()->setRecordPermissionGranted(false);
  run("startRecordingAudio", {"r", "no.wav"});
  EXPECT_EQ(statuses(), std::vector<std::string>{error("r", 1, "Error creating audio session, microphone permission denied.")});
  plat::AVAudioSession::sharedInstance()->setRecordPermissionGranted(true);

  // Released mid-recording: the take is whole and nobody hears of it again.
  run("startRecordingAudio", {"d", "dropped.wav"});
  statuses();
  advance(0.5);
  run("release", {"d"});
  advance(5);
  EXPECT_TRUE(statuses().empty());
  EXPECT_NEAR(plat::readWAVInfo(tmp + "/dropped.wav")->duration, 0.5, 1e-3);

  // Released mid-playback: no end is reported.
  run("startPlayingAudio", {"p", "tone.wav"});
  statuses();
  run("release", {"p"});
  advance(10);
  EXPECT_TRUE(statuses().empty());
  EXPECT_EQ(sound->soundCount(), 1u);  // the refused "r" stays, as failures leave sounds
}

TEST_F(Media, AmplitudeFollowsTheMetersPower) {
  struct Case {
    float decibels;
    float amplitude;
  };
  for (const Case& c : {Case{-80, 0}, Case{-60.5f, 0}, Case{-60, 0}, Case{-6, 0.7073f}, Case{0, 1}, Case{3, 1}}) {
    EXPECT_NEAR(harbor::HBRSound::amplitudeForPower(c.decibels), c.amplitude, 1e-3) << c.decibels;
  }
}

TEST_F(Media, StreamStatesAgainstALoopbackServer) {
  harbor::testing::LoopbackServer server;
  ASSERT_TRUE(server.ok());
  ASSERT_TRUE(plat::testing::writeToneWAV(tmp + "/s.wav", 3.0));
  server.route("/s.wav", {200, "audio/wav", readFile(tmp + "/s.wav"), {}, false});
  // A stream still loading cannot seek. (Its own server: one that hangs serves nobody else.)
  harbor::testing::LoopbackServer slow;
  slow.route("/slow.wav", {200, "audio/wav", "", {}, true});
  run("create", {"h", slow.url("/slow.wav")});
  statuses();
  EXPECT_EQ(takeCallbacks().size(), 1u);
  run("seekToAudio", {"h", 1000});
  EXPECT_EQ(statuses(), std::vector<std::string>{error(
                            "h", 1,
                            "AVPlayerItem cannot service a seek request with a completion handler until its status is "
                            "AVPlayerItemStatusReadyToPlay.")});
  // The last stream created serves every id.
  const std::string url = server.url("/s.wav");
  run("create", {"s", url});
  statuses();
  EXPECT_EQ(takeCallbacks().size(), 1u);
  // Loaded once a seek goes through quietly; bounded in real time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool ready = false;
  while (!ready && std::chrono::steady_clock::now() < deadline) {
    waitForMain(0.05);
    run("seekToAudio", {"s", 0});
    ready = statuses().empty();
  }
  ASSERT_TRUE(ready);
  run("startPlayingAudio", {"s", url});
  EXPECT_EQ(statuses(), std::vector<std::string>{started("s", "3.000")});
  advance(1);
  run("getCurrentPositionAudio", {"s"});
  EXPECT_EQ(statuses(), std::vector<std::string>{fn + "(\"s\",3,1.000);"});
  takeCallbacks();
  advance(2.01);
  EXPECT_EQ(statuses(), std::vector<std::string>{state("s", 4)});
}

// The file opens in the background; whatever the page sends meanwhile must still apply after
// the start, in the order sent, and a released id must stay released.
TEST_F(Media, CommandsSentRightAfterPlayApplyInOrder) {
  struct Case {
    const char* name;
    plat::Value loops;
    std::vector<std::pair<const char*, Array>> then;
    std::vector<std::string> heard;     // right after the commands
    double until;                       // then the clock moves on this far
    std::vector<std::string> later;     // and this is heard
  };
  const std::vector<Case> cases = {
      {"stop", plat::Value(), {{"stopPlayingAudio", {"a"}}}, {started("a", "4.200"), state("a", 4)}, 10, {}},
      {"pause", plat::Value(), {{"pausePlayingAudio", {"a"}}}, {started("a", "4.200"), state("a", 3)}, 10, {}},
      {"seek", plat::Value(), {{"seekToAudio", {"a", 2500}}}, {started("a", "4.200"), fn + "(\"a\",3,2.500000);"},
       1.71, {state("a", 4)}},
      {"release", 0, {{"release", {"a"}}}, {started("a", "4.200")}, 60, {}},
      {"release then play again", 1, {{"release", {"a"}}, {"startPlayingAudio", {"a", "tone.wav"}}},
       {started("a", "4.200"), started("a", "4.200")}, 4.21, {state("a", 4)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    run("create", {"a", "tone.wav"});
    takeCallbacks();
    plat::dispatch::GlobalQueue::shared().hold();
    exec("Media", "startPlayingAudio",
         {"a", "tone.wav", c.loops.isAbsent() ? Dictionary{} : Dictionary{{"numberOfLoops", c.loops}}});
    for (const auto& [action, arguments] : c.then) exec("Media", action, arguments);
    plat::dispatch::GlobalQueue::shared().release();
    settle();
    EXPECT_EQ(statuses(), c.heard);
    advance(c.until);
    EXPECT_EQ(statuses(), c.later);
    run("release", {"a"});
    advance(60);
    EXPECT_TRUE(statuses().empty());
  }
  EXPECT_EQ(sound->soundCount(), 0u);
}

// A page load in the middle of a start: what the old page sent after it is dropped with it.
TEST_F(Media, ANewPageDropsTheOldPagesWaitingCommands) {
  plat::dispatch::GlobalQueue::shared().hold();
  exec("Media", "startPlayingAudio", {"a", "tone.wav"});
  exec("Media", "startPlayingAudio", {"b", "tone.wav"});
  sound->onReset();
  plat::dispatch::GlobalQueue::shared().release();
  settle();
  EXPECT_TRUE(statuses().empty());
  EXPECT_EQ(sound->soundCount(), 0u);
  advance(10);
  EXPECT_TRUE(statuses().empty());
}

TEST_F(Media, OutOfRangeNumbersAreClampedAndReportedAsPlayed) {
  run("startPlayingAudio", {"a", "tone.wav"});
  statuses();
  // A seek before the start goes to the start, and says so.
  run("seekToAudio", {"a", -5});
  EXPECT_EQ(statuses(), std::vector<std::string>{fn + "(\"a\",3,0.000000);"});
  run("stopPlayingAudio", {"a"});
  statuses();
  // Loop counts far below zero loop until stopped; far above, play on; neither overflows.
  for (double loops : {-9.3e18, -9.2e18, 9.3e18}) {
    SCOPED_TRACE(loops);
    run("startPlayingAudio", {"a", "tone.wav", Dictionary{{"numberOfLoops", loops}}});
    EXPECT_EQ(statuses(), std::vector<std::string>{started("a", "4.200")});
    advance(4.2 * 20);
    EXPECT_TRUE(statuses().empty());
    run("stopPlayingAudio", {"a"});
    EXPECT_EQ(statuses(), std::vector<std::string>{state("a", 4)});
  }
}

// The File plugin (like every plugin) is made and looked up on the main thread only.
TEST_F(Media, FileSystemSourcesAreResolvedOnTheMainThread) {
  harbor::registerFilePlugin();
  ASSERT_TRUE(createPlugin("HBRFile", "File"));
  run("startPlayingAudio", {"f", "hbrfile://localhost/temporary/tone.wav"});
  EXPECT_EQ(statuses(), std::vector<std::string>{started("f", "4.200")});
  EXPECT_EQ(controller->lookupsOffTheMainThread.load(), 0);
}

TEST_F(Media, AStreamThatCannotLoadIsReportedAndStops) {
  // Failed before the page plays it: the error, and nothing runs.
  harbor::testing::LoopbackServer server;
  ASSERT_TRUE(server.ok());
  server.route("/noise.mp3", {200, "audio/mpeg", "this is not a sound", {}, false});
  run("create", {"b", server.url("/noise.mp3")});
  takeCallbacks();
  for (int i = 0; i < 1200 && !log_->contains("Cannot play stream"); ++i) waitForMain(0.05);
  ASSERT_TRUE(log_->contains("Cannot play stream '" + server.url("/noise.mp3") + "'"));
  run("startPlayingAudio", {"b", server.url("/noise.mp3")});
  EXPECT_EQ(statuses(), std::vector<std::string>{error("b", 4, "")});

  // Failing while the page already heard it start: the error, then stopped. (A new id: "b"
  // keeps the source it was first given.)
  auto hanging = std::make_unique<harbor::testing::LoopbackServer>(120);  // it hangs until it goes
  hanging->route("/slow.mp3", {200, "audio/mpeg", "", {}, true});
  const std::string url = hanging->url("/slow.mp3");
  run("create", {"c", url});
  takeCallbacks();
  run("startPlayingAudio", {"c", url});
  EXPECT_EQ(statuses(), std::vector<std::string>{started("c", "0.000")});
  hanging.reset();  // the server goes away mid-load
  std::vector<std::string> heard;
  for (int i = 0; i < 1200 && heard.empty(); ++i) {
    waitForMain(0.05);
    heard = statuses();
  }
  EXPECT_EQ(heard, std::vector<std::string>{error("c", 4, "") + "\n" + state("c", 4)});
  advance(60);
  EXPECT_TRUE(statuses().empty());
}

// The microphone answers on a worker thread; whatever the page sends meanwhile must apply once
// the recording runs, in the order sent: a stop sent at once stops it.
TEST_F(Media, CommandsSentRightAfterRecordApplyInOrder) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, Array>> then;
    std::vector<std::string> heard;  // once the answer has come
    std::optional<double> recorded;  // the take's length, when one was written
  };
  const std::vector<Case> cases = {
      {"stop", {{"stopRecordingAudio", {"r"}}}, {state("r", 2), state("r", 4)}, 0.0},
      {"amplitude", {{"getCurrentAmplitudeAudio", {"r"}}}, {state("r", 2), fn + "(\"r\",3,0.000);"}, std::nullopt},
      {"release", {{"release", {"r"}}}, {state("r", 2)}, 0.0},
      {"stop, record again, stop",
       {{"stopRecordingAudio", {"r"}}, {"startRecordingAudio", {"r", "take.wav"}}, {"stopRecordingAudio", {"r"}}},
       {state("r", 2), state("r", 4), state("r", 2), state("r", 4)},
       0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove((tmp + "/take.wav").c_str());
    plat::dispatch::GlobalQueue::shared().hold();
    exec("Media", "startRecordingAudio", {"r", "take.wav"});
    for (const auto& [action, arguments] : c.then) exec("Media", action, arguments);
    plat::dispatch::GlobalQueue::shared().release();
    settle();
    EXPECT_EQ(statuses(), c.heard);
    takeCallbacks();
    advance(5);
    EXPECT_TRUE(statuses().empty()) << "nothing runs on";
    if (c.recorded) {
      auto info = plat::readWAVInfo(tmp + "/take.wav");
      ASSERT_TRUE(info.ok()) << info.error();
      EXPECT_NEAR(info->duration, *c.recorded, 1e-3);
    }
    run("release", {"r"});
    statuses();
  }
  EXPECT_EQ(sound->soundCount(), 0u);
}

// A rate given to a sound that is stopped or paused is kept for its next start; it starts
// nothing, and so nothing ends later either.
TEST_F(Media, ARateSetWhileStoppedOrPausedStartsNothing) {
  harbor::testing::LoopbackServer server;
  ASSERT_TRUE(server.ok());
  ASSERT_TRUE(plat::testing::writeToneWAV(tmp + "/s.wav", 3.0));
  server.route("/s.wav", {200, "audio/wav", readFile(tmp + "/s.wav"), {}, false});
  const std::string url = server.url("/s.wav");
  struct Case {
    const char* name;
    std::string source;
    double duration;
    const char* halt;
    int halted;        // the state the halt reports
    double remaining;  // what is left to play at the next start (one second was played)
  };
  const Case cases[] = {
      {"file, stopped", "tone.wav", 4.2, "stopPlayingAudio", 4, 4.2},
      {"file, paused", "tone.wav", 4.2, "pausePlayingAudio", 3, 3.2},
      {"stream, stopped", url, 3.0, "stopPlayingAudio", 4, 3.0},
      {"stream, paused", url, 3.0, "pausePlayingAudio", 3, 2.0},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string id = "m" + std::to_string(round++);
    if (c.source == url)
      ASSERT_TRUE(createLoadedStream(id, url));
    else
      run("create", {id, c.source});
    takeCallbacks();
    run("startPlayingAudio", {id, c.source});
    EXPECT_EQ(statuses(), std::vector<std::string>{started(id, harbor::HBRSound::formatSeconds(c.duration, 3))});
    advance(1);
    run(c.halt, {id});
    EXPECT_EQ(statuses(), std::vector<std::string>{state(id, c.halted)});
    run("setRate", {id, 2.0});
    EXPECT_TRUE(statuses().empty());
    advance(10);
    EXPECT_TRUE(statuses().empty()) << "a sound started and ended again";
    // The next start plays at the rate given.
    run("startPlayingAudio", {id, c.source});
    statuses();
    advance(c.remaining / 2 - 0.01);
    EXPECT_TRUE(statuses().empty());
    advance(0.02);
    EXPECT_EQ(statuses(), std::vector<std::string>{state(id, 4)});
    run("release", {id});
    statuses();
  }
}

// A stream told to play while it still loads starts by itself once loaded; a stop that came
// before then must hold.
TEST_F(Media, AStreamStoppedWhileLoadingStaysStopped) {
  harbor::testing::LoopbackServer server(30);
  ASSERT_TRUE(server.ok());
  ASSERT_TRUE(plat::testing::writeToneWAV(tmp + "/s.wav", 3.0));
  auto loaded = std::make_shared<std::atomic<bool>>(false);
  server.route("/late.wav", {200, "audio/wav", readFile(tmp + "/s.wav"), {}, false});
  server.holdUntil("/late.wav", loaded);
  const std::string url = server.url("/late.wav");
  run("create", {"l", url});
  takeCallbacks();
  run("startPlayingAudio", {"l", url});
  EXPECT_EQ(statuses(), std::vector<std::string>{started("l", "0.000")});
  run("stopPlayingAudio", {"l"});
  EXPECT_EQ(statuses(), std::vector<std::string>{state("l", 4)});
  *loaded = true;
  ASSERT_TRUE(waitUntilStreamLoaded("l"));
  advance(10);
  EXPECT_TRUE(statuses().empty()) << "the stopped stream played to its end";
  run("getCurrentPositionAudio", {"l"});
  EXPECT_EQ(statuses(), std::vector<std::string>{fn + "(\"l\",3,0.000);"});
}
