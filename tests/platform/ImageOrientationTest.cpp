// A picture's Exif orientation, from the bytes a camera wrote to what a person sees: read into
// an image's orientation (the bitmap as stored, the size as displayed), written back into the
// JPEG of a turned image, dropped only where the format cannot carry it (PNG), and read from the
// header alone for a file's displayed size. The test JPEGs carry Exif segments written byte by
// byte (plat/testing/OrientedPictures.h), in both byte orders.
#include <gtest/gtest.h>

#include <string>

#include "plat/avfoundation/MediaFormat.h"
#include "plat/imageio/ImageMetadata.h"
#include "plat/testing/OrientedPictures.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIImage.h"

using namespace plat;
using namespace plat::testing;

namespace {

// The image orientation each Exif value stands for, as the platform documents them.
UIImageOrientation expectedOrientation(int exif) {
  switch (exif) {
    case 2: return UIImageOrientationUpMirrored;
    case 3: return UIImageOrientationDown;
    case 4: return UIImageOrientationDownMirrored;
    case 5: return UIImageOrientationLeftMirrored;
    case 6: return UIImageOrientationRight;
    case 7: return UIImageOrientationRightMirrored;
    case 8: return UIImageOrientationLeft;
    default: return UIImageOrientationUp;
  }
}

bool hasExifSegment(const Data& jpeg) {
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xE1) return true;
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return false;  // the scan: no header segment follows
  }
  return false;
}

TEST(ImageOrientation, ImageFromDataTakesItsExifOrientation) {
  for (int exif = 1; exif <= 8; ++exif) {
    for (bool bigEndian : {true, false}) {
      SCOPED_TRACE("Exif orientation " + std::to_string(exif) + (bigEndian ? " MM" : " II"));
      auto image = UIImage::imageWithData(JpegWithExifOrientation(40, 30, exif, bigEndian));
      ASSERT_TRUE(image);
      EXPECT_EQ(image->imageOrientation(), expectedOrientation(exif));
      // The bitmap stays as stored; the size is the displayed one.
      EXPECT_EQ(image->CGImage()->width, 40u);
      EXPECT_EQ(image->CGImage()->height, 30u);
      EXPECT_EQ(image->size(), exif >= 5 ? (CGSize{30, 40}) : (CGSize{40, 30}));
      EXPECT_EQ(CornersOf(*image), DisplayedCorners(exif));
    }
  }
}

TEST(ImageOrientation, APictureWithoutAnOrientationShowsAsStored) {
  Data plain = UIImageJPEGRepresentation(*QuadrantPicture(40, 30), 0.9);
  Data png = UIImagePNGRepresentation(*QuadrantPicture(40, 30));
  struct Case {
    const char* name;
    Data bytes;
  };
  const Case cases[] = {
      {"JPEG without an Exif segment", plain},
      {"Exif orientation 0", JpegWithExifOrientation(40, 30, 0)},
      {"Exif orientation 9", JpegWithExifOrientation(40, 30, 9)},
      {"Exif orientation 65535", JpegWithExifOrientation(40, 30, 65535, false)},
      {"PNG", png},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = UIImage::imageWithData(c.bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->imageOrientation(), UIImageOrientationUp);
    EXPECT_EQ(image->size(), (CGSize{40, 30}));
    EXPECT_EQ(CornersOf(*image), DisplayedCorners(1));
  }
}

// The example a user met: a 400 x 300 JPEG tagged "rotated 90 degrees" shows 300 x 400.
TEST(ImageOrientation, ATurnedCameraPictureShowsUpright) {
  Data jpeg = JpegWithExifOrientation(400, 300, 6);
  ASSERT_EQ(ExifOrientationOf(jpeg), 6) << "the test data is what a camera writes";
  auto image = UIImage::imageWithData(jpeg);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->imageOrientation(), UIImageOrientationRight);
  EXPECT_EQ(image->size(), (CGSize{300, 400}));
  EXPECT_EQ(CornersOf(*image), (std::array<Quadrant, 4>{kBlue, kRed, kYellow, kGreen}));
}

TEST(ImageOrientation, JpegOfATurnedImageKeepsItsPixelsAndStatesTheTurn) {
  auto upright = QuadrantPicture(40, 30);
  for (int exif = 1; exif <= 8; ++exif) {
    SCOPED_TRACE("Exif orientation " + std::to_string(exif));
    auto image = UIImage::imageWithCGImage(upright->CGImage(), 1.0, expectedOrientation(exif));
    ASSERT_TRUE(image);
    Data jpeg = UIImageJPEGRepresentation(*image, 0.9);
    ASSERT_FALSE(jpeg.empty());
    // The stored pixels, not a redrawn picture.
    EXPECT_EQ(JpegFrameSize(jpeg), (std::array<std::size_t, 2>{40, 30}));
    if (exif == 1) {
      EXPECT_FALSE(hasExifSegment(jpeg)) << "an upright image needs no Exif segment";
    } else {
      EXPECT_EQ(ExifOrientationOf(jpeg), exif);
    }
    auto decoded = UIImage::imageWithData(jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->imageOrientation(), image->imageOrientation());
    EXPECT_EQ(CornersOf(*decoded), DisplayedCorners(exif));
  }
}

// PNG has no orientation here: a turned image is written drawn upright, so it still shows right.
TEST(ImageOrientation, PngOfATurnedImageIsDrawnUpright) {
  auto image = UIImage::imageWithData(JpegWithExifOrientation(40, 30, 8));
  ASSERT_TRUE(image);
  auto decoded = UIImage::imageWithData(UIImagePNGRepresentation(*image));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->imageOrientation(), UIImageOrientationUp);
  EXPECT_EQ(decoded->CGImage()->width, 30u);
  EXPECT_EQ(decoded->CGImage()->height, 40u);
  EXPECT_EQ(CornersOf(*decoded), DisplayedCorners(8));
}

TEST(ImageOrientation, ExifValuesMapBothWays) {
  for (int exif = 1; exif <= 8; ++exif) {
    EXPECT_EQ(UIImageOrientationFromExif(exif), expectedOrientation(exif));
    EXPECT_EQ(ExifOrientationFromUIImageOrientation(expectedOrientation(exif)), exif);
  }
  for (long other : {0L, 9L, -1L, 1L << 40}) EXPECT_EQ(UIImageOrientationFromExif(other), UIImageOrientationUp);
}

// The segment reader takes bytes from files: a cut or damaged segment states nothing.
TEST(ImageOrientation, ASegmentThatIsCutOrDamagedStatesNoOrientation) {
  Data segment = ExifOrientationSegment(6);
  const std::uint8_t* contents = segment.data() + 4;  // after the marker and the length
  const std::size_t size = segment.size() - 4;
  EXPECT_EQ(CGImagePropertyOrientationOfExifSegment(contents, size), 6);
  for (std::size_t n = 0; n < size; ++n) {
    const int value = CGImagePropertyOrientationOfExifSegment(contents, n);
    EXPECT_TRUE(value == 1 || value == 6) << n;
  }
  for (std::size_t i = 0; i < size; ++i) {
    Data changed(contents, contents + size);
    changed[i] ^= 0xA5;
    const int value = CGImagePropertyOrientationOfExifSegment(changed.data(), changed.size());
    EXPECT_TRUE(value >= 1 && value <= 8) << i;
  }
  EXPECT_EQ(CGImagePropertyOrientationOfExifSegment(nullptr, 0), 1);
}

class ImageFileOrientation : public SandboxTest {};

// The header alone gives the stored size and the orientation, so a caller can tell the
// displayed size without decoding.
TEST_F(ImageFileOrientation, HeaderGivesTheStoredSizeAndTheOrientation) {
  struct Case {
    const char* name;
    Data bytes;
    int orientation;
  };
  const Case cases[] = {
      {"turned a quarter", JpegWithExifOrientation(40, 30, 6), 6},
      {"little-endian Exif, half a turn", JpegWithExifOrientation(40, 30, 3, false), 3},
      {"transposed", JpegWithExifOrientation(40, 30, 5), 5},
      {"no Exif segment", UIImageJPEGRepresentation(*QuadrantPicture(40, 30), 0.9), 1},
      {"a value outside 1 to 8", JpegWithExifOrientation(40, 30, 12), 1},
      {"PNG", UIImagePNGRepresentation(*QuadrantPicture(40, 30)), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = inHome("tmp/picture");
    writeFile(path, std::string(c.bytes.begin(), c.bytes.end()));
    auto size = readImageSize(path);
    ASSERT_TRUE(size) << size.error();
    EXPECT_EQ(size->width, 40u);
    EXPECT_EQ(size->height, 30u);
    EXPECT_EQ(size->orientation, c.orientation);
    EXPECT_EQ(size->sideways(), c.orientation >= 5);
  }
}

}  // namespace
