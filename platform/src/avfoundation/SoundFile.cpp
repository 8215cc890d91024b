#include "SoundFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "plat/avfoundation/AVAudioPlayer.h"

namespace plat::sound {
namespace {

std::string formatName(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV: return "WAV";
    case SF_FORMAT_AIFF: return "AIFF";
    case SF_FORMAT_AU: return "AU";
    case SF_FORMAT_FLAC: return "FLAC";
    case SF_FORMAT_OGG: return "OGG";
    case SF_FORMAT_MPEG: return "MP3";
    case SF_FORMAT_CAF: return "CAF";
    default: return "audio";
  }
}

Result<Info> infoOf(SNDFILE* file, const SF_INFO& sf, double byteCount) {
  if (!file) return Failure{sf_strerror(nullptr)};
  sf_close(file);
  if (sf.samplerate <= 0 || sf.channels <= 0) return Failure{"no sound in the file"};
  Info info;
  info.channels = sf.channels;
  info.sampleRate = sf.samplerate;
  info.duration = static_cast<double>(sf.frames) / sf.samplerate;
  info.format = formatName(sf.format);
  if (info.duration > 0) info.bitRate = std::round(byteCount * 8 / info.duration);
  return info;
}

// Sound bytes in memory, read through libsndfile's virtual I/O.
struct MemoryReader {
  const Data* bytes;
  sf_count_t offset = 0;
};

sf_count_t memLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryReader*>(user)->bytes->size()); }
sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
  auto* r = static_cast<MemoryReader*>(user);
  const sf_count_t size = static_cast<sf_count_t>(r->bytes->size());
  sf_count_t target = whence == SEEK_SET ? offset : whence == SEEK_CUR ? r->offset + offset : size + offset;
  r->offset = std::clamp<sf_count_t>(target, 0, size);
  return r->offset;
}
sf_count_t memRead(void* ptr, sf_count_t count, void* user) {
  auto* r = static_cast<MemoryReader*>(user);
  const sf_count_t n = std::min(count, static_cast<sf_count_t>(r->bytes->size()) - r->offset);
  if (n <= 0) return 0;
  std::memcpy(ptr, r->bytes->data() + r->offset, static_cast<std::size_t>(n));
  r->offset += n;
  return n;
}
sf_count_t memWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t memTell(void* user) { return static_cast<MemoryReader*>(user)->offset; }

}  // namespace

Result<Info> readInfo(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return Failure{"no file at " + path};
  const auto size = std::filesystem::file_size(path, ec);
  SF_INFO sf{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sf);
  if (!file) return Failure{std::string(sf_strerror(nullptr)) + ": " + path};
  return infoOf(file, sf, ec ? 0.0 : static_cast<double>(size));
}

Result<Info> readInfo(const Data& bytes) {
  SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
  MemoryReader reader{&bytes};
  SF_INFO sf{};
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &sf, &reader);
  if (!file) return Failure{sf_strerror(nullptr)};
  return infoOf(file, sf, static_cast<double>(bytes.size()));
}

std::vector<float> readFrames(const std::string& path, long long startFrame, long long frames) {
  SF_INFO sf{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sf);
  if (!file) return {};
  std::vector<float> samples;
  if (frames > 0 && sf.channels > 0 && sf_seek(file, startFrame, SEEK_SET) >= 0) {
    samples.resize(static_cast<std::size_t>(frames) * static_cast<std::size_t>(sf.channels));
    const sf_count_t got = sf_readf_float(file, samples.data(), frames);
    samples.resize(static_cast<std::size_t>(std::max<sf_count_t>(got, 0)) * static_cast<std::size_t>(sf.channels));
  }
  sf_close(file);
  return samples;
}

void meterPower(const std::vector<float>& samples, std::size_t channels, float gain, std::vector<float>& average,
                std::vector<float>& peak) {
  average.assign(channels, kAVAudioMeterSilence);
  peak.assign(channels, kAVAudioMeterSilence);
  if (channels == 0) return;
  const std::size_t frames = samples.size() / channels;
  if (frames == 0) return;
  auto toDecibels = [](double level) {
    return level <= 0 ? kAVAudioMeterSilence
                      : std::max(kAVAudioMeterSilence, static_cast<float>(20.0 * std::log10(level)));
  };
  for (std::size_t c = 0; c < channels; ++c) {
    double sumSquares = 0, maxLevel = 0;
    for (std::size_t f = 0; f < frames; ++f) {
      const double s = std::fabs(static_cast<double>(samples[f * channels + c]) * gain);
      sumSquares += s * s;
      maxLevel = std::max(maxLevel, s);
    }
    average[c] = toDecibels(std::sqrt(sumSquares / static_cast<double>(frames)));
    peak[c] = toDecibels(maxLevel);
  }
}

}  // namespace plat::sound
