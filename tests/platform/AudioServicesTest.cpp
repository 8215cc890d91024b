// WAV header reading and system sounds: what is recorded, and when completions run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "plat/audiotoolbox/AudioServices.h"
#include "plat/audiotoolbox/WAVFile.h"
#include "plat/testing/PlatformTest.h"

using namespace plat;
namespace fs = std::filesystem;

namespace {

std::string le32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}
std::string le16(std::uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }

std::string fmtChunk(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  std::uint32_t byteRate = rate * channels * bits / 8;
  return "fmt " + le32(16) + le16(1) + le16(channels) + le32(rate) + le32(byteRate) +
         le16(static_cast<std::uint16_t>(channels * bits / 8)) + le16(bits);
}

std::string riff(const std::string& chunks) {
  return "RIFF" + le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

std::string dataChunk(std::uint32_t claimed, std::size_t present) {
  return "data" + le32(claimed) + std::string(present, '\0');
}

class TempFiles {
 public:
  TempFiles() {
    dir_ = fs::temp_directory_path() / ("harbor-wav-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  ~TempFiles() { fs::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& bytes) {
    auto p = dir_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }

 private:
  fs::path dir_;
};

}  // namespace

TEST(WAVFile, LengthComesFromTheHeader) {
  TempFiles files;
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<double> duration;
  };
  const Case cases[] = {
      {"mono 8 kHz, half a second", riff(fmtChunk(1, 8000, 16) + dataChunk(8000, 8000)), 0.5},
      {"stereo 44.1 kHz, one second", riff(fmtChunk(2, 44100, 16) + dataChunk(176400, 176400)), 1.0},
      {"odd-sized chunk before the data is padded",
       riff(fmtChunk(1, 8000, 8) + "LIST" + le32(3) + "abc" + std::string(1, '\0') + dataChunk(4000, 4000)), 0.5},
      {"data size larger than the file counts what is there", riff(fmtChunk(1, 8000, 8) + dataChunk(0xFFFFFFFF, 800)),
       0.1},
      {"not RIFF", "RIFX" + le32(4) + "WAVE", std::nullopt},
      {"RIFF but not WAVE", riff("").replace(8, 4, "AVI "), std::nullopt},
      {"data before format", riff(dataChunk(10, 10) + fmtChunk(1, 8000, 8)), std::nullopt},
      {"zero byte rate", riff(fmtChunk(0, 8000, 16) + dataChunk(10, 10)), std::nullopt},
      {"short format chunk", riff("fmt " + le32(4) + "abcd" + dataChunk(10, 10)), std::nullopt},
      {"no data chunk", riff(fmtChunk(1, 8000, 8)), std::nullopt},
      {"empty file", "", std::nullopt},
      {"chunk size running past the end", riff(fmtChunk(1, 8000, 8) + "junk" + le32(0xFFFFFFF0)), std::nullopt},
  };
  for (const auto& c : cases) {
    auto info = readWAVInfo(files.write("case.wav", c.bytes));
    ASSERT_EQ(info.ok(), c.duration.has_value()) << c.name;
    if (c.duration) {
      EXPECT_DOUBLE_EQ(info->duration, *c.duration) << c.name;
    } else {
      EXPECT_FALSE(info.error().empty()) << c.name;
    }
  }
  EXPECT_FALSE(readWAVInfo("/nonexistent/beep.wav").ok());
}

class SystemSounds : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    SystemSoundRecorder::reset();
    quarter = files.write("quarter.wav", riff(fmtChunk(1, 8000, 8) + dataChunk(2000, 2000)));
  }
  void TearDown() override {
    SystemSoundRecorder::reset();
    PlatformTest::TearDown();
  }
  TempFiles files;
  std::string quarter;
};

namespace {
std::vector<std::pair<SystemSoundID, std::intptr_t>> completions;
void recordCompletion(SystemSoundID id, void* data) {
  completions.emplace_back(id, reinterpret_cast<std::intptr_t>(data));
}
}  // namespace

TEST_F(SystemSounds, PlaysAreRecordedAndCompleteAfterTheSoundsLength) {
  completions.clear();
  SystemSoundID id = 0;
  ASSERT_EQ(AudioServicesCreateSystemSoundID(quarter, &id), kAudioServicesNoError);
  EXPECT_NE(id, kSystemSoundID_Vibrate);
  ASSERT_EQ(AudioServicesAddSystemSoundCompletion(id, nullptr, &recordCompletion, reinterpret_cast<void*>(7)),
            kAudioServicesNoError);
  EXPECT_NE(AudioServicesAddSystemSoundCompletion(id, nullptr, &recordCompletion, nullptr), kAudioServicesNoError)
      << "one completion per sound";

  double start = clock_->now();
  AudioServicesPlaySystemSound(id);
  auto played = SystemSoundRecorder::played();
  ASSERT_EQ(played.size(), 1u);
  EXPECT_EQ(played[0].filePath, quarter);
  EXPECT_DOUBLE_EQ(played[0].startTime, start);
  EXPECT_DOUBLE_EQ(played[0].duration, 0.25);

  advance(0.2);
  EXPECT_TRUE(completions.empty());
  advance(0.05);
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_EQ(completions[0], std::make_pair(id, std::intptr_t{7}));
}

TEST_F(SystemSounds, DisposingOrRemovingTheCompletionCancelsPendingOnes) {
  completions.clear();
  SystemSoundID a = 0, b = 0;
  ASSERT_EQ(AudioServicesCreateSystemSoundID(quarter, &a), kAudioServicesNoError);
  ASSERT_EQ(AudioServicesCreateSystemSoundID(quarter, &b), kAudioServicesNoError);
  EXPECT_EQ(SystemSoundRecorder::soundCount(), 2u);
  AudioServicesAddSystemSoundCompletion(a, nullptr, &recordCompletion, nullptr);
  AudioServicesAddSystemSoundCompletion(b, nullptr, &recordCompletion, nullptr);
  AudioServicesPlaySystemSound(a);
  AudioServicesPlaySystemSound(b);
  EXPECT_EQ(AudioServicesDisposeSystemSoundID(a), kAudioServicesNoError);
  AudioServicesRemoveSystemSoundCompletion(b);
  // Registered again: plays before the registration do not call the new completion.
  AudioServicesAddSystemSoundCompletion(b, nullptr, &recordCompletion, nullptr);
  advance(1);
  EXPECT_TRUE(completions.empty());
  EXPECT_EQ(SystemSoundRecorder::soundCount(), 1u);
  EXPECT_NE(AudioServicesDisposeSystemSoundID(a), kAudioServicesNoError) << "already gone";
  AudioServicesPlaySystemSound(a);
  EXPECT_EQ(SystemSoundRecorder::played().size(), 2u) << "a disposed sound plays nothing";
}

TEST_F(SystemSounds, UnreadableFilesMakeNoSound) {
  SystemSoundID id = 12345;
  EXPECT_NE(AudioServicesCreateSystemSoundID("/nonexistent.wav", &id), kAudioServicesNoError);
  EXPECT_EQ(id, 12345u);
  EXPECT_NE(AudioServicesCreateSystemSoundID(files.write("text.wav", "hello"), &id), kAudioServicesNoError);
  EXPECT_NE(AudioServicesCreateSystemSoundID(quarter, nullptr), kAudioServicesNoError);
  EXPECT_EQ(SystemSoundRecorder::soundCount(), 0u);
}

TEST_F(SystemSounds, TheObserverHearsEachPlayOutsideTheLock) {
  SystemSoundID id = 0;
  ASSERT_EQ(AudioServicesCreateSystemSoundID(quarter, &id), kAudioServicesNoError);
  std::vector<std::string> heard;
  SystemSoundRecorder::setObserver([&](const PlayedSystemSound& play) {
    // Reading the record from here must not deadlock.
    heard.push_back((play.filePath.empty() ? std::string("vibrate") : play.filePath) + " " +
                    std::to_string(SystemSoundRecorder::played().size()));
  });
  AudioServicesPlaySystemSound(id);
  AudioServicesPlaySystemSound(kSystemSoundID_Vibrate);
  AudioServicesPlaySystemSound(id + 100);  // unknown: nothing played, nothing heard
  EXPECT_EQ(heard, (std::vector<std::string>{quarter + " 1", "vibrate 2"}));

  SystemSoundRecorder::reset();
  AudioServicesPlaySystemSound(kSystemSoundID_Vibrate);
  EXPECT_EQ(heard.size(), 2u) << "reset forgets the observer";
}

TEST_F(SystemSounds, TheVibrationIsAlwaysThere) {
  completions.clear();
  AudioServicesPlaySystemSound(kSystemSoundID_Vibrate);
  AudioServicesAddSystemSoundCompletion(kSystemSoundID_Vibrate, nullptr, &recordCompletion, nullptr);
  AudioServicesDisposeSystemSoundID(kSystemSoundID_Vibrate);
  AudioServicesPlaySystemSound(kSystemSoundID_Vibrate);
  auto played = SystemSoundRecorder::played();
  ASSERT_EQ(played.size(), 2u);
  EXPECT_EQ(played[1].soundID, kSystemSoundID_Vibrate);
  EXPECT_TRUE(played[1].filePath.empty());
  advance(kSystemSoundVibrationDuration);
  EXPECT_EQ(completions.size(), 1u);
}
