#include "plat/avfoundation/MediaFormat.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "plat/imageio/ImageMetadata.h"

namespace plat {
namespace {

std::uint32_t be32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
std::uint64_t be64(const unsigned char* p) { return static_cast<std::uint64_t>(be32(p)) << 32 | be32(p + 4); }
unsigned be16(const unsigned char* p) { return static_cast<unsigned>(p[0]) << 8 | p[1]; }

// Movie headers are small; a file whose "moov" box is larger than this is not read.
constexpr std::uint64_t kMaxMovieHeader = 16u << 20;

std::vector<unsigned char> readPrefix(const std::string& path, std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes(limit);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return bytes;
}

struct Box {
  std::string type;
  const unsigned char* body;
  std::size_t size;
};

// The boxes directly inside [data, data + size); stops at the first malformed one.
std::vector<Box> boxes(const unsigned char* data, std::size_t size) {
  std::vector<Box> out;
  std::size_t at = 0;
  while (size - at >= 8) {
    std::uint64_t length = be32(data + at);
    std::size_t header = 8;
    if (length == 1) {
      if (size - at < 16) break;
      length = be64(data + at + 8);
      header = 16;
    } else if (length == 0) {
      length = size - at;
    }
    if (length < header || length > size - at) break;
    out.push_back({std::string(reinterpret_cast<const char*>(data + at + 4), 4), data + at + header,
                   static_cast<std::size_t>(length) - header});
    at += static_cast<std::size_t>(length);
  }
  return out;
}

const Box* find(const std::vector<Box>& list, const char* type) {
  for (const auto& box : list)
    if (box.type == type) return &box;
  return nullptr;
}

}  // namespace

Result<ImageSize> readImageSize(const std::string& path) {
  auto bytes = readPrefix(path, 256 * 1024);
  const unsigned char* p = bytes.data();
  if (bytes.size() >= 24 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0 && std::memcmp(p + 12, "IHDR", 4) == 0)
    return ImageSize{be32(p + 16), be32(p + 20)};
  if (bytes.size() >= 10 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0))
    return ImageSize{static_cast<unsigned>(p[6] | p[7] << 8), static_cast<unsigned>(p[8] | p[9] << 8)};
  if (bytes.size() >= 4 && p[0] == 0xFF && p[1] == 0xD8) {
    // Walk the JPEG segments to the first start of frame, noting the first Exif segment's
    // orientation on the way.
    std::size_t at = 2;
    int orientation = 0;
    while (at + 9 < bytes.size()) {
      if (p[at] != 0xFF) return Failure{"damaged JPEG: " + path};
      const unsigned marker = p[at + 1];
      if (marker == 0xFF) {
        ++at;
        continue;
      }
      const unsigned length = be16(p + at + 2);
      const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
      if (startOfFrame) return ImageSize{be16(p + at + 7), be16(p + at + 5), orientation ? orientation : 1};
      if (length < 2) return Failure{"damaged JPEG: " + path};
      if (marker == 0xE1 && orientation == 0 && at + 2 + length <= bytes.size() && length >= 8 &&
          std::memcmp(p + at + 4, "Exif\0\0", 6) == 0)
        orientation = CGImagePropertyOrientationOfExifSegment(p + at + 4, length - 2);
      at += 2 + length;
    }
    return Failure{"no picture size in the first 256 KiB: " + path};
  }
  return Failure{"not a PNG, JPEG or GIF image: " + path};
}

Result<MovieInfo> readMovieInfo(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Failure{"cannot open " + path};
  // Find the movie box among the top-level boxes without reading the media data.
  std::vector<unsigned char> moov;
  while (true) {
    unsigned char head[16];
    if (!in.read(reinterpret_cast<char*>(head), 8)) break;
    std::uint64_t length = be32(head);
    std::uint64_t header = 8;
    if (length == 1) {
      if (!in.read(reinterpret_cast<char*>(head + 8), 8)) break;
      length = be64(head + 8);
      header = 16;
    }
    if (length != 0 && length < header) break;
    if (std::memcmp(head + 4, "moov", 4) == 0) {
      if (length == 0 || length - header > kMaxMovieHeader) return Failure{"movie header too large: " + path};
      moov.resize(static_cast<std::size_t>(length - header));
      if (!in.read(reinterpret_cast<char*>(moov.data()), static_cast<std::streamsize>(moov.size())))
        return Failure{"truncated movie header: " + path};
      break;
    }
    if (length == 0) break;
    in.seekg(static_cast<std::streamoff>(length - header), std::ios::cur);
  }
  if (moov.empty()) return Failure{"no movie header: " + path};
  auto inside = boxes(moov.data(), moov.size());
  const Box* mvhd = find(inside, "mvhd");
  if (!mvhd || mvhd->size < 20) return Failure{"no movie header: " + path};
  MovieInfo info;
  const unsigned char* m = mvhd->body;
  if (m[0] == 1 && mvhd->size >= 32) {
    const std::uint32_t timescale = be32(m + 20);
    if (timescale) info.duration = static_cast<double>(be64(m + 24)) / timescale;
  } else {
    const std::uint32_t timescale = be32(m + 12);
    if (timescale) info.duration = static_cast<double>(be32(m + 16)) / timescale;
  }
  for (const auto& box : inside) {
    if (box.type != "trak") continue;
    auto track = boxes(box.body, box.size);
    const Box* tkhd = find(track, "tkhd");
    const Box* mdia = find(track, "mdia");
    if (!tkhd || !mdia) continue;
    auto media = boxes(mdia->body, mdia->size);
    const Box* hdlr = find(media, "hdlr");
    if (!hdlr || hdlr->size < 12 || std::memcmp(hdlr->body + 8, "vide", 4) != 0) continue;
    const std::size_t sizeAt = tkhd->body[0] == 1 ? 88 : 76;
    if (tkhd->size < sizeAt + 8) continue;
    info.hasVideoTrack = true;
    info.width = be32(tkhd->body + sizeAt) / 65536.0;
    info.height = be32(tkhd->body + sizeAt + 4) / 65536.0;
    break;
  }
  return info;
}

namespace {

void put32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xff);
}
std::string box(const char* type, const std::string& body) {
  std::string out;
  put32(out, static_cast<std::uint32_t>(body.size() + 8));
  out += type;
  return out + body;
}

}  // namespace

bool writeMovieFile(const std::string& path, double duration, unsigned width, unsigned height) {
  const std::uint32_t timescale = 600;
  const auto units = static_cast<std::uint32_t>(duration * timescale + 0.5);
  const std::string matrix = std::string("\x00\x01\x00\x00", 4) + std::string(12, '\0') +
                             std::string("\x00\x01\x00\x00", 4) + std::string(12, '\0') +
                             std::string("\x40\x00\x00\x00", 4);
  std::string mvhd(4, '\0');  // version 0, no flags
  put32(mvhd, 0);
  put32(mvhd, 0);
  put32(mvhd, timescale);
  put32(mvhd, units);
  put32(mvhd, 0x00010000);  // rate 1.0
  mvhd += std::string("\x01\x00", 2) + std::string(10, '\0') + matrix + std::string(24, '\0');
  put32(mvhd, 2);  // next track id
  std::string tkhd("\x00\x00\x00\x03", 4);  // enabled, in movie
  put32(tkhd, 0);
  put32(tkhd, 0);
  put32(tkhd, 1);  // track id
  put32(tkhd, 0);
  put32(tkhd, units);
  tkhd += std::string(16, '\0') + matrix;
  put32(tkhd, width << 16);
  put32(tkhd, height << 16);
  std::string mdhd(4, '\0');
  put32(mdhd, 0);
  put32(mdhd, 0);
  put32(mdhd, timescale);
  put32(mdhd, units);
  mdhd += std::string("\x55\xc4\x00\x00", 4);  // language "und"
  std::string hdlr(8, '\0');
  hdlr += "vide";
  hdlr += std::string(12, '\0') + "VideoHandler" + std::string(1, '\0');
  const std::string moov =
      box("moov", box("mvhd", mvhd) + box("trak", box("tkhd", tkhd) + box("mdia", box("mdhd", mdhd) + box("hdlr", hdlr))));
  const std::string ftyp = box("ftyp", std::string("isom") + std::string("\x00\x00\x02\x00", 4) + "isommp41");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << ftyp << box("mdat", "") << moov;
  return static_cast<bool>(out);
}

}  // namespace plat
