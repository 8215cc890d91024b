// Image metadata merged into a JPEG and read back: one Exif segment in the right place, values
// kept across merges, values that cannot be written left out, and bad bytes refused.
#include <gtest/gtest.h>

#include "plat/imageio/ImageMetadata.h"
#include "plat/uikit/UIImage.h"
#include "plat/uikit/UIImagePickerController.h"

namespace plat {
namespace {

// The markers of the JPEG's header segments, in order, up to the start of the scan.
std::vector<std::uint8_t> markers(const Data& jpeg) {
  std::vector<std::uint8_t> found;
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF) {
    found.push_back(jpeg[pos + 1]);
    if (jpeg[pos + 1] == 0xDA) break;
    pos += 2 + (std::size_t{jpeg[pos + 2]} << 8 | jpeg[pos + 3]);
  }
  return found;
}

Data picture() { return UIImageJPEGRepresentation(*SimulatedTestPicture(40, 30), 0.8); }

TEST(ImageMetadata, MergeWritesOneExifSegmentThatReadsBack) {
  Dictionary metadata{
      {kCGImagePropertyGPSDictionary, Value(Dictionary{{"LatitudeRef", Value("S")},
                                                       {"Latitude", Value(33.8568)},
                                                       {"LongitudeRef", Value("E")},
                                                       {"Longitude", Value(151.2153)},
                                                       {"AltitudeRef", Value("1")},
                                                       {"Altitude", Value(12.5)},
                                                       {"TimeStamp", Value("10:00:00.250000")},
                                                       {"DateStamp", Value("2026:12:07")}})},
      {kCGImagePropertyExifDictionary, Value(Dictionary{{"DateTimeOriginal", Value("2026:12:07 11:00:00")},
                                                        {"PixelXDimension", Value(40)}})}};
  Data original = picture();
  auto merged = CGImageDestinationCopyJPEGWithMetadata(original, metadata);
  ASSERT_TRUE(merged) << merged.error();
  // After the JFIF segment, before everything else; the picture itself untouched.
  auto found = markers(*merged);
  ASSERT_GE(found.size(), 3u);
  EXPECT_EQ(found[0], 0xE0);
  EXPECT_EQ(found[1], 0xE1);
  EXPECT_EQ(std::count(found.begin(), found.end(), 0xE1), 1);
  auto decoded = UIImage::imageWithData(*merged);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->size(), (CGSize{40, 30}));

  auto properties = CGImageSourceCopyProperties(*merged);
  ASSERT_TRUE(properties) << properties.error();
  const Value& gps = (*properties)[kCGImagePropertyGPSDictionary];
  EXPECT_EQ(gps["LatitudeRef"].stringOr(), "S");
  EXPECT_NEAR(gps["Latitude"].asDouble(), 33.8568, 1e-6);
  EXPECT_NEAR(gps["Longitude"].asDouble(), 151.2153, 1e-6);
  EXPECT_EQ(gps["AltitudeRef"].stringOr(), "1");
  EXPECT_NEAR(gps["Altitude"].asDouble(), 12.5, 1e-9);
  EXPECT_EQ(gps["TimeStamp"].stringOr(), "10:00:00.250000");
  EXPECT_EQ(gps["DateStamp"].stringOr(), "2026:12:07");
  EXPECT_EQ((*properties)[kCGImagePropertyExifDictionary]["PixelXDimension"].asInt(), 40);

  // A second merge replaces the segment and keeps what the first one wrote.
  auto again = CGImageDestinationCopyJPEGWithMetadata(
      *merged, Dictionary{{kCGImagePropertyGPSDictionary, Value(Dictionary{{"LatitudeRef", Value("N")}})}});
  ASSERT_TRUE(again);
  found = markers(*again);
  EXPECT_EQ(std::count(found.begin(), found.end(), 0xE1), 1);
  properties = CGImageSourceCopyProperties(*again);
  ASSERT_TRUE(properties);
  EXPECT_EQ((*properties)[kCGImagePropertyGPSDictionary]["LatitudeRef"].stringOr(), "N");
  EXPECT_EQ((*properties)[kCGImagePropertyGPSDictionary]["DateStamp"].stringOr(), "2026:12:07");
  EXPECT_EQ((*properties)[kCGImagePropertyExifDictionary]["DateTimeOriginal"].stringOr(), "2026:12:07 11:00:00");
  // The bytes given are left as they were.
  EXPECT_EQ(original, picture());
}

TEST(ImageMetadata, ValuesThatDoNotFitAreLeftOut) {
  Dictionary metadata{{kCGImagePropertyGPSDictionary, Value(Dictionary{{"Latitude", Value("north")},
                                                                       {"Longitude", Value(400.0)},
                                                                       {"Altitude", Value(-5.0)},
                                                                       {"TimeStamp", Value("25:99:00")},
                                                                       {"DateStamp", Value("2026:12:07")}})},
                      {kCGImagePropertyExifDictionary, Value(Dictionary{{"PixelXDimension", Value(-1)}})}};
  auto merged = CGImageDestinationCopyJPEGWithMetadata(picture(), metadata);
  ASSERT_TRUE(merged);
  auto properties = CGImageSourceCopyProperties(*merged);
  ASSERT_TRUE(properties);
  const Value& gps = (*properties)[kCGImagePropertyGPSDictionary];
  for (const char* key : {"Latitude", "Longitude", "Altitude", "TimeStamp"}) EXPECT_TRUE(gps[key].isAbsent()) << key;
  EXPECT_EQ(gps["DateStamp"].stringOr(), "2026:12:07");
  EXPECT_TRUE((*properties)[kCGImagePropertyExifDictionary]["PixelXDimension"].isAbsent());
}

TEST(ImageMetadata, BadBytesAreRefused) {
  Data jpeg = picture();
  Data cut(jpeg.begin(), jpeg.begin() + 10);  // inside the JFIF segment
  const Data cases[] = {{}, {0xFF}, {0xFF, 0xD8}, {'G', 'I', 'F', '8', '9', 'a'}, cut, {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01}};
  Dictionary metadata{{kCGImagePropertyGPSDictionary, Value(Dictionary{{"LatitudeRef", Value("N")}})}};
  for (const auto& bytes : cases) {
    EXPECT_FALSE(CGImageDestinationCopyJPEGWithMetadata(bytes, metadata)) << bytes.size();
    EXPECT_FALSE(CGImageSourceCopyProperties(bytes)) << bytes.size();
  }
  // A JPEG without metadata reads as an empty dictionary.
  auto properties = CGImageSourceCopyProperties(jpeg);
  ASSERT_TRUE(properties);
  EXPECT_TRUE(properties->empty());
}

}  // namespace
}  // namespace plat
