#include "plat/audiotoolbox/WAVFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace plat {
namespace {

std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

}  // namespace

Result<WAVInfo> readWAVInfo(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Failure{"cannot open " + path};
  in.seekg(0, std::ios::end);
  const std::uint64_t fileSize = static_cast<std::uint64_t>(in.tellg());
  in.seekg(0);

  unsigned char header[12];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header) || std::memcmp(header, "RIFF", 4) != 0 ||
      std::memcmp(header + 8, "WAVE", 4) != 0)
    return Failure{"not a RIFF/WAVE file: " + path};

  WAVInfo info;
  std::uint32_t byteRate = 0;
  bool haveFormat = false;
  std::uint64_t offset = 12;
  // Every chunk moves the offset forward by at least its 8-byte header, so this ends.
  while (offset + 8 <= fileSize) {
    unsigned char chunk[8];
    in.seekg(static_cast<std::streamoff>(offset));
    if (!in.read(reinterpret_cast<char*>(chunk), sizeof chunk)) break;
    const std::uint64_t size = le32(chunk + 4);
    const std::uint64_t body = offset + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      unsigned char fmt[16];
      if (size < sizeof fmt || !in.read(reinterpret_cast<char*>(fmt), sizeof fmt))
        return Failure{"short format chunk in " + path};
      info.channels = le16(fmt + 2);
      info.sampleRate = le32(fmt + 4);
      byteRate = le32(fmt + 8);
      info.bitsPerSample = le16(fmt + 14);
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) return Failure{"data before format in " + path};
      if (byteRate == 0) return Failure{"zero byte rate in " + path};
      std::uint64_t present = std::min<std::uint64_t>(size, fileSize - body);
      info.duration = static_cast<double>(present) / byteRate;
      return info;
    }
    offset = body + size + (size & 1);  // chunks are padded to an even length
  }
  return Failure{"no data chunk in " + path};
}

}  // namespace plat
