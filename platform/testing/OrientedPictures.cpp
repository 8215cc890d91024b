#include "plat/testing/OrientedPictures.h"

#include <libexif/exif-data.h>

#include <cmath>
#include <cstdlib>

#include "plat/uikit/UIGraphics.h"

namespace plat::testing {

std::shared_ptr<UIImage> QuadrantPicture(std::size_t width, std::size_t height) {
  auto bitmap = std::make_shared<CGImage>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->rgba.resize(width * height * 4);
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      const auto& c = kQuadrantColours[(y * 2 / height) * 2 + (x * 2 / width)];
      std::uint8_t* p = &bitmap->rgba[(y * width + x) * 4];
      p[0] = c[0], p[1] = c[1], p[2] = c[2], p[3] = 255;
    }
  }
  return UIImage::imageWithCGImage(bitmap);
}

Data ExifOrientationSegment(int exifOrientation, bool bigEndian) {
  Data tiff;
  auto u16 = [&](unsigned v) {
    if (bigEndian) {
      tiff.push_back(static_cast<std::uint8_t>(v >> 8)), tiff.push_back(static_cast<std::uint8_t>(v));
    } else {
      tiff.push_back(static_cast<std::uint8_t>(v)), tiff.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  };
  auto u32 = [&](unsigned v) {
    if (bigEndian) {
      u16(v >> 16), u16(v & 0xFFFF);
    } else {
      u16(v & 0xFFFF), u16(v >> 16);
    }
  };
  tiff.push_back(bigEndian ? 'M' : 'I');
  tiff.push_back(bigEndian ? 'M' : 'I');
  u16(42);
  u32(8);       // IFD0 follows the header
  u16(1);       // one entry
  u16(0x0112);  // Orientation
  u16(3);       // SHORT
  u32(1);       // one value, held in the entry's first two bytes
  u16(static_cast<unsigned>(exifOrientation));
  u16(0);
  u32(0);  // no next IFD
  Data segment{0xFF, 0xE1};
  const std::size_t length = 2 + 6 + tiff.size();
  segment.push_back(static_cast<std::uint8_t>(length >> 8));
  segment.push_back(static_cast<std::uint8_t>(length & 0xFF));
  for (char c : std::string("Exif\0\0", 6)) segment.push_back(static_cast<std::uint8_t>(c));
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  return segment;
}

Data JpegWithExifOrientation(std::size_t width, std::size_t height, int exifOrientation, bool bigEndian) {
  Data plain = UIImageJPEGRepresentation(*QuadrantPicture(width, height), 0.9);
  if (plain.size() < 2) return {};
  Data segment = ExifOrientationSegment(exifOrientation, bigEndian);
  Data out(plain.begin(), plain.begin() + 2);
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), plain.begin() + 2, plain.end());
  return out;
}

std::array<Quadrant, 4> DisplayedCorners(int exifOrientation) {
  // Corners in the order top left, top right, bottom left, bottom right.
  switch (exifOrientation) {
    case 2: return {kGreen, kRed, kYellow, kBlue};    // 0th row top, 0th column right: mirrored
    case 3: return {kYellow, kBlue, kGreen, kRed};    // 0th row bottom, 0th column right: half a turn
    case 4: return {kBlue, kYellow, kRed, kGreen};    // 0th row bottom, 0th column left: flipped
    case 5: return {kRed, kBlue, kGreen, kYellow};    // 0th row left, 0th column top: transposed
    case 6: return {kBlue, kRed, kYellow, kGreen};    // 0th row right, 0th column top: a quarter clockwise
    case 7: return {kYellow, kGreen, kBlue, kRed};    // 0th row right, 0th column bottom
    case 8: return {kGreen, kYellow, kRed, kBlue};    // 0th row left, 0th column bottom: a quarter anticlockwise
    default: return {kRed, kGreen, kBlue, kYellow};   // 1: as stored
  }
}

std::array<Quadrant, 4> CornersOf(const UIImage& image) {
  const CGSize size = image.size();
  std::array<Quadrant, 4> corners{kNoQuadrant, kNoQuadrant, kNoQuadrant, kNoQuadrant};
  UIGraphicsBeginImageContext(size);
  image.drawInRect({{0, 0}, size});
  auto drawn = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  if (!drawn || !drawn->CGImage()) return corners;
  const CGImage& bitmap = *drawn->CGImage();
  const double at[4][2] = {{0.1, 0.1}, {0.9, 0.1}, {0.1, 0.9}, {0.9, 0.9}};
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t* p = bitmap.pixel(static_cast<std::size_t>(at[i][0] * double(bitmap.width)),
                                         static_cast<std::size_t>(at[i][1] * double(bitmap.height)));
    for (int q = 0; q < 4; ++q) {
      bool near = true;
      for (int k = 0; k < 3; ++k) near = near && std::abs(int(p[k]) - int(kQuadrantColours[q][k])) <= 40;
      if (near) corners[i] = static_cast<Quadrant>(q);
    }
  }
  return corners;
}

int ExifOrientationOf(const Data& jpeg) {
  ExifData* exif = exif_data_new_from_data(jpeg.data(), static_cast<unsigned int>(jpeg.size()));
  if (!exif) return 0;
  int value = 0;
  if (ExifEntry* e = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION); e && e->size >= 2)
    value = exif_get_short(e->data, exif_data_get_byte_order(exif));
  exif_data_unref(exif);
  return value;
}

std::array<std::size_t, 2> JpegFrameSize(const Data& jpeg) {
  std::size_t at = 2;
  while (at + 9 < jpeg.size() && jpeg[at] == 0xFF) {
    const unsigned marker = jpeg[at + 1];
    const std::size_t length = std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    if (marker >= 0xC0 && marker <= 0xC3)
      return {std::size_t{jpeg[at + 7]} << 8 | jpeg[at + 8], std::size_t{jpeg[at + 5]} << 8 | jpeg[at + 6]};
    at += 2 + length;
  }
  return {0, 0};
}

}  // namespace plat::testing
