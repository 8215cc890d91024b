// Arbitrary bytes as a JPEG: the EXIF header writer's splice and the platform's metadata merge
// must give a clear failure or a JPEG that still starts like one, never read or write out of
// bounds; a merged picture must read back with the position it was given. The same bytes as an
// Exif segment's contents state an orientation from 1 to 8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "HBRJpegHeaderWriter.h"
#include "plat/imageio/ImageMetadata.h"

namespace {

const harbor::HBRJpegHeaderWriter& writer() {
  static auto* w = [] {
    auto* made = new harbor::HBRJpegHeaderWriter();
    made->init();
    return made;
  }();
  return *w;
}

const std::string& segment() {
  static const std::string text = *writer().createExifAPP1(plat::Dictionary{
      {"{TIFF}", plat::Value(plat::Dictionary{{"Make", plat::Value("Harbor")}, {"XResolution", plat::Value(72)}})},
      {"{Exif}", plat::Value(plat::Dictionary{{"ColorSpace", plat::Value(1)}, {"PixelXDimension", plat::Value(640)}})},
  });
  return text;
}

const plat::Dictionary& position() {
  static const plat::Dictionary metadata{
      {"{GPS}", plat::Value(plat::Dictionary{{"LatitudeRef", plat::Value("N")},
                                             {"Latitude", plat::Value(47.5)},
                                             {"DateStamp", plat::Value("2026:12:07")}})}};
  return metadata;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  plat::Data jpeg(bytes, bytes + size);

  auto spliced = writer().spliceExifBlockIntoJpeg(jpeg, segment());
  if (spliced && (spliced->size() < 2 || (*spliced)[0] != 0xFF || (*spliced)[1] != 0xD8)) std::abort();

  const int orientation = plat::CGImagePropertyOrientationOfExifSegment(bytes, size);
  if (orientation < 1 || orientation > 8) std::abort();
  plat::CGImageSourceCopyProperties(jpeg);
  auto merged = plat::CGImageDestinationCopyJPEGWithMetadata(jpeg, position());
  if (merged) {
    auto properties = plat::CGImageSourceCopyProperties(*merged);
    if (!properties) std::abort();
    if ((*properties)["{GPS}"]["LatitudeRef"].stringOr() != "N") std::abort();
  }
  return 0;
}
