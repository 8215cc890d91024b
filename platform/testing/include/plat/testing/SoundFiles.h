#pragma once
// Sound files that tests write for themselves: a sine tone as 16-bit PCM WAV.
#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <string>

namespace plat::testing {

// Writes `seconds` of a tone of `frequency` Hz at `amplitude` of full scale; true when written.
inline bool writeToneWAV(const std::string& path, double seconds, int sampleRate = 8000, int channels = 1,
                         double amplitude = 0.5, double frequency = 440) {
  const auto frames = static_cast<std::uint32_t>(std::llround(seconds * sampleRate));
  const std::uint32_t dataBytes = frames * static_cast<std::uint32_t>(channels) * 2;
  std::string out;
  auto u32 = [&out](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  auto u16 = [&out](std::uint16_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>(v >> 8);
  };
  out += "RIFF";
  u32(36 + dataBytes);
  out += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(static_cast<std::uint16_t>(channels));
  u32(static_cast<std::uint32_t>(sampleRate));
  u32(static_cast<std::uint32_t>(sampleRate * channels * 2));
  u16(static_cast<std::uint16_t>(channels * 2));
  u16(16);
  out += "data";
  u32(dataBytes);
  for (std::uint32_t f = 0; f < frames; ++f) {
    const double s = amplitude * std::sin(2 * std::numbers::pi * frequency * f / sampleRate);
    const auto v = static_cast<std::int16_t>(std::lround(s * 32767));
    for (int c = 0; c < channels; ++c) u16(static_cast<std::uint16_t>(v));
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(file);
}

}  // namespace plat::testing
