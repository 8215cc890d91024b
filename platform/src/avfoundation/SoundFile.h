#pragma once
// libsndfile behind a small surface: the facts of a sound file or of sound bytes in memory, the
// samples at a position, and the power a meter shows for them.
#include <string>
#include <vector>

#include "plat/foundation/Result.h"
#include "plat/foundation/Value.h"

namespace plat::sound {

struct Info {
  double duration = 0;  // seconds
  int channels = 0;
  int sampleRate = 0;
  std::string format;   // "WAV", "MP3", ...
  double bitRate = 0;   // bits per second over the whole file
};

Result<Info> readInfo(const std::string& path);
Result<Info> readInfo(const Data& bytes);

// Up to `frames` interleaved frames from `startFrame` on (fewer at the end of the file).
std::vector<float> readFrames(const std::string& path, long long startFrame, long long frames);

// Average (RMS) and peak power in decibels of full scale of each channel of interleaved
// samples, scaled by gain; the meter's silence for channels without signal.
void meterPower(const std::vector<float>& samples, std::size_t channels, float gain, std::vector<float>& average,
                std::vector<float>& peak);

}  // namespace plat::sound
