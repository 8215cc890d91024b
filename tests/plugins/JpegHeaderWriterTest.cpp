// The EXIF header writer: segments are read back with a small TIFF reader, so a misplaced offset
// or a short entry shows up as a wrong value rather than as a different hex string.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "HBRJpegHeaderWriter.h"

using harbor::HBRJpegHeaderWriter;
using plat::Data;
using plat::Dictionary;
using plat::Value;

namespace {

Data bytesOfHex(const std::string& hex) {
  Data out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::uint32_t be16(const Data& d, std::size_t at) { return std::uint32_t{d.at(at)} << 8 | d.at(at + 1); }
std::uint32_t be32(const Data& d, std::size_t at) { return be16(d, at) << 16 | be16(d, at + 2); }

struct Entry {
  std::uint32_t tag = 0, type = 0, count = 0;
  Data value;  // the value's bytes, wherever they stand
};

// Reads one IFD of a TIFF block (offsets from the block's start) the way an image reader does.
std::vector<Entry> readIFD(const Data& tiff, std::uint32_t offset, std::uint32_t* next = nullptr) {
  static const int sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  std::vector<Entry> entries;
  std::uint32_t n = be16(tiff, offset);
  for (std::uint32_t i = 0; i < n; ++i) {
    std::size_t at = offset + 2 + 12 * i;
    Entry e{be16(tiff, at), be16(tiff, at + 2), be32(tiff, at + 4), {}};
    std::size_t length = std::size_t(sizes[e.type]) * e.count;
    std::size_t from = length > 4 ? be32(tiff, at + 8) : at + 8;
    EXPECT_LE(from + length, tiff.size()) << "tag " << std::hex << e.tag;
    if (from + length > tiff.size()) continue;
    e.value.assign(tiff.begin() + from, tiff.begin() + from + length);
    entries.push_back(e);
  }
  if (next) *next = be32(tiff, offset + 2 + 12 * n);
  return entries;
}

struct ParsedSegment {
  std::vector<Entry> ifd0, exif;
};

// Checks the APP1 framing and reads both IFDs, following the ExifOffset entry.
ParsedSegment parseSegment(const std::string& hex) {
  ParsedSegment out;
  Data seg = bytesOfHex(hex);
  EXPECT_EQ(hex.size(), seg.size() * 2);
  if (seg.size() < 18) {
    ADD_FAILURE() << "segment too short";
    return out;
  }
  EXPECT_EQ(seg[0], 0xff);
  EXPECT_EQ(seg[1], 0xe1);
  EXPECT_EQ(be16(seg, 2), seg.size() - 2);
  EXPECT_EQ(std::string(seg.begin() + 4, seg.begin() + 10), std::string("Exif\0\0", 6));
  Data tiff(seg.begin() + 10, seg.end());
  EXPECT_EQ(be32(tiff, 0), 0x4d4d002au);
  EXPECT_EQ(be32(tiff, 4), 8u);
  std::uint32_t next = 1;
  out.ifd0 = readIFD(tiff, 8, &next);
  EXPECT_EQ(next, 0u);
  std::uint32_t exifOffset = 0;
  for (const auto& e : out.ifd0) {
    if (e.tag == 0x8769) exifOffset = be32(e.value, 0);
  }
  EXPECT_NE(exifOffset, 0u);
  if (exifOffset) out.exif = readIFD(tiff, exifOffset, &next);
  EXPECT_EQ(next, 0u);
  for (const auto* ifd : {&out.ifd0, &out.exif}) {
    for (std::size_t i = 1; i < ifd->size(); ++i) EXPECT_LT((*ifd)[i - 1].tag, (*ifd)[i].tag);
  }
  return out;
}

const Entry* find(const std::vector<Entry>& entries, std::uint32_t tag) {
  for (const auto& e : entries) {
    if (e.tag == tag) return &e;
  }
  return nullptr;
}

std::string text(const Data& d) { return std::string(d.begin(), d.end()); }

class JpegHeaderWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    writer = std::make_shared<HBRJpegHeaderWriter>();
    writer->init();
  }
  std::string segmentFor(Dictionary tiff, Dictionary exif = {}) {
    auto hex = writer->createExifAPP1(Dictionary{{"{TIFF}", std::move(tiff)}, {"{Exif}", std::move(exif)}});
    EXPECT_TRUE(hex.has_value());
    return hex.value_or("");
  }
  std::shared_ptr<HBRJpegHeaderWriter> writer;
};

TEST_F(JpegHeaderWriter, ValueTextsByType) {
  const auto& ifd0 = writer->IFD0TagFormatDict();
  const auto& sub = writer->SubIFDTagFormatDict();
  EXPECT_EQ(writer->createIFDElement("Make", ifd0, Value("Canon")), "010f000200000005");
  EXPECT_EQ(writer->createIFDElementDataWithFormat(ifd0.at("Make"), Value("Canon")), "43616e6f6e");
  EXPECT_EQ(writer->createIFDElement("Model", ifd0, Value("X")), "0110000200000001");
  EXPECT_EQ(writer->createIFDElementDataWithFormat(ifd0.at("Model"), Value("X")), "58000000");
  EXPECT_EQ(writer->createIFDElementDataWithFormat(ifd0.at("XResolution"), Value(72)), "0000004800000001");
  EXPECT_EQ(writer->createIFDElementDataWithFormat(sub.at("ColorSpace"), Value(1)), "00010000");
  EXPECT_EQ(writer->createIFDElementDataWithFormat(sub.at("PixelXDimension"), Value(3000)), "00000bb8");
  EXPECT_EQ(writer->createIFDElement("Unknown", ifd0, Value(1)), std::nullopt);
  std::string entries;
  writer->appendExifOffsetTagTo(entries, 0x44);
  EXPECT_EQ(entries, "876900040000000100000044");
}

TEST_F(JpegHeaderWriter, SegmentReadsBackEveryValue) {
  std::string hex = segmentFor(
      Dictionary{{"Model", "X"},
                 {"Make", "Canon"},
                 {"XResolution", 72},
                 {"YResolution", 72.5},
                 {"DateTime", "2024:05:06 07:08:09"},
                 {"Software", "Harbor 4"},
                 {"NotATag", "ignored"}},
      Dictionary{{"PixelXDimension", 3000}, {"ColorSpace", 1}, {"DateTimeOriginal", "2024:05:06 07:08:09"}});
  ParsedSegment seg = parseSegment(hex);
  ASSERT_EQ(seg.ifd0.size(), 7u);  // six values and the link to the Exif IFD
  EXPECT_EQ(text(find(seg.ifd0, 0x010f)->value), "Canon");
  EXPECT_EQ(text(find(seg.ifd0, 0x0110)->value), "X");
  EXPECT_EQ(text(find(seg.ifd0, 0x0131)->value), "Harbor 4");
  const Entry* date = find(seg.ifd0, 0x0132);
  ASSERT_NE(date, nullptr);
  EXPECT_EQ(date->count, 20u);
  EXPECT_EQ(text(date->value), std::string("2024:05:06 07:08:09\0", 20));
  const Entry* x = find(seg.ifd0, 0x011a);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(be32(x->value, 0), 72u);
  EXPECT_EQ(be32(x->value, 4), 1u);
  const Entry* y = find(seg.ifd0, 0x011b);
  ASSERT_NE(y, nullptr);
  EXPECT_EQ(be32(y->value, 0), 145u);
  EXPECT_EQ(be32(y->value, 4), 2u);

  ASSERT_EQ(seg.exif.size(), 3u);
  EXPECT_EQ(be32(find(seg.exif, 0xa002)->value, 0), 3000u);
  EXPECT_EQ(be16(find(seg.exif, 0xa001)->value, 0), 1u);
  EXPECT_EQ(text(find(seg.exif, 0x9003)->value), std::string("2024:05:06 07:08:09\0", 20));
}

TEST_F(JpegHeaderWriter, EmptyMetadataStillLinksAnEmptyExifIFD) {
  auto hex = writer->createExifAPP1(Dictionary{});
  ASSERT_TRUE(hex);
  ParsedSegment seg = parseSegment(*hex);
  EXPECT_EQ(seg.ifd0.size(), 1u);
  EXPECT_TRUE(seg.exif.empty());
}

// Values that do not fit their field are left out; everything else still reads back in place.
TEST_F(JpegHeaderWriter, UnwritableValuesAreLeftOutWithoutShiftingOthers) {
  struct Case {
    const char* key;
    Value value;
    bool tiff;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {"ColorSpace", 70000, false},         {"ColorSpace", -1, false},
      {"ColorSpace", "1", false},           {"Flash", nan, false},
      {"PixelXDimension", 1LL << 33, false}, {"PixelYDimension", -5, false},
      {"XResolution", -1.5, true},          {"XResolution", inf, true},
      {"XResolution", nan, true},           {"YResolution", 1e12, true},
      {"Make", 42, true},                   {"DateTime", Value::null(), true},
      {"WhiteBalance", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " = " + c.value.description());
    Dictionary tiff{{"Model", "Phone"}}, exif{{"SceneType", 1}};
    (c.tiff ? tiff : exif).set(c.key, c.value);
    ParsedSegment seg = parseSegment(segmentFor(tiff, exif));
    EXPECT_EQ(seg.ifd0.size(), 2u);
    EXPECT_EQ(seg.exif.size(), 1u);
    ASSERT_NE(find(seg.ifd0, 0x0110), nullptr);
    EXPECT_EQ(text(find(seg.ifd0, 0x0110)->value), "Phone");
    ASSERT_NE(find(seg.exif, 0xa301), nullptr);
    EXPECT_EQ(be16(find(seg.exif, 0xa301)->value, 0), 1u);
  }
}

TEST_F(JpegHeaderWriter, FixedLengthDatesAreFittedToTheirCount) {
  for (const std::string date : {"", "2024", "2024:05:06 07:08:09 and much more text"}) {
    SCOPED_TRACE(date);
    ParsedSegment seg = parseSegment(segmentFor(Dictionary{{"DateTime", date}}));
    const Entry* e = find(seg.ifd0, 0x0132);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->value.size(), 20u);
    std::string expected = date.substr(0, 19);
    expected.resize(20, '\0');
    EXPECT_EQ(text(e->value), expected);
  }
}

TEST_F(JpegHeaderWriter, SegmentBeyondItsLengthFieldIsRefused) {
  auto hex = writer->createExifAPP1(Dictionary{{"{TIFF}", Dictionary{{"Make", std::string(70000, 'a')}}}});
  EXPECT_FALSE(hex.has_value());
  // Just under the limit still fits.
  auto fits = writer->createExifAPP1(Dictionary{{"{TIFF}", Dictionary{{"Make", std::string(65000, 'a')}}}});
  ASSERT_TRUE(fits.has_value());
  EXPECT_EQ(text(find(parseSegment(*fits).ifd0, 0x010f)->value).size(), 65000u);
}

TEST_F(JpegHeaderWriter, ContinuedFractions) {
  struct Case {
    double value;
    std::int64_t num, den;
  };
  for (const Case& c : std::vector<Case>{{72, 72, 1}, {72.5, 145, 2}, {0.1, 1, 10}, {1.0 / 3, 1, 3},
                                         {-2.5, -5, 2}, {3.14159292035, 355, 113}, {0, 0, 1}}) {
    SCOPED_TRACE(c.value);
    std::int64_t num = 0, den = 0;
    ASSERT_TRUE(HBRJpegHeaderWriter::decimalToRational(c.value, num, den));
    EXPECT_EQ(num, c.num);
    EXPECT_EQ(den, c.den);
  }
  // Fractions whose exact form needs more than 32 bits take the closest one that fits.
  std::int64_t num = 0, den = 0;
  ASSERT_TRUE(HBRJpegHeaderWriter::decimalToRational(M_PI, num, den));
  EXPECT_LE(den, 0xffffffffLL);
  EXPECT_NEAR(double(num) / double(den), M_PI, 1e-9);
  for (double bad : {std::nan(""), double(INFINITY), 1e10}) EXPECT_FALSE(HBRJpegHeaderWriter::decimalToRational(bad, num, den));

  std::vector<std::int64_t> list;
  HBRJpegHeaderWriter::continuedFraction(0.1, list, 8);
  EXPECT_LE(list.size(), 9u);
  EXPECT_EQ(list.front(), 0);
  EXPECT_EQ(list.at(1), 10);
  EXPECT_TRUE(HBRJpegHeaderWriter::expandContinuedFraction({3, 7, 15, 1}, num, den));
  EXPECT_EQ(num, 355);
  EXPECT_EQ(den, 113);
  EXPECT_FALSE(HBRJpegHeaderWriter::expandContinuedFraction({}, num, den));
  EXPECT_EQ(HBRJpegHeaderWriter::formatFractionList({3, 7, 15, 1}), "[3; 7, 15, 1]");
}

TEST_F(JpegHeaderWriter, NumberFormatting) {
  EXPECT_EQ(HBRJpegHeaderWriter::formatRationalWithNumerator(145, 2, false), "0000009100000002");
  // A negative fraction keeps its sign whichever part carried it.
  EXPECT_EQ(HBRJpegHeaderWriter::formatRationalWithNumerator(-3, 2, true), "fffffffd00000002");
  EXPECT_EQ(HBRJpegHeaderWriter::formatRationalWithNumerator(3, -2, true), "fffffffd00000002");
  EXPECT_EQ(HBRJpegHeaderWriter::formatRationalWithNumerator(-3, -2, true), "0000000300000002");
  EXPECT_EQ(HBRJpegHeaderWriter::formattedHexStringFromDecimalNumber(255, 4), "00ff");
  EXPECT_EQ(HBRJpegHeaderWriter::formatNumberWithLeadingZeroes(5, 4), "0005");
  std::int64_t whole = 0;
  double rest = 0;
  HBRJpegHeaderWriter::splitDouble(-2.75, whole, rest);
  EXPECT_EQ(whole, -2);
  EXPECT_DOUBLE_EQ(rest, -0.75);
  EXPECT_EQ(HBRJpegHeaderWriter::hexStringFromData({0xff, 0xd8, 0xff}), "ffd8");
  EXPECT_EQ(HBRJpegHeaderWriter::hexStringFromData({0xff}), "ff");
  EXPECT_EQ(HBRJpegHeaderWriter::hexStringFromData({}), "");
  EXPECT_EQ(HBRJpegHeaderWriter::numericFromHexString("ffe1"), 0xffe1u);
  EXPECT_EQ(HBRJpegHeaderWriter::numericFromHexString("zz"), 0u);
  EXPECT_EQ(HBRJpegHeaderWriter::numericFromHexString(""), 0u);
}

// A small JPEG skeleton: SOI, the given header segments, SOS with a few scan bytes, EOI.
Data jpegWith(std::vector<Data> segments, Data scan = {0x12, 0xff, 0x00, 0xff, 0xe1, 0x34}) {
  Data out{0xff, 0xd8};
  for (auto& s : segments) out.insert(out.end(), s.begin(), s.end());
  Data sos{0xff, 0xda, 0x00, 0x04, 0x01, 0x02};
  out.insert(out.end(), sos.begin(), sos.end());
  out.insert(out.end(), scan.begin(), scan.end());
  out.insert(out.end(), {0xff, 0xd9});
  return out;
}

Data segmentBytes(std::uint8_t marker, Data payload) {
  Data out{0xff, marker, static_cast<std::uint8_t>((payload.size() + 2) >> 8),
           static_cast<std::uint8_t>(payload.size() + 2)};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

TEST_F(JpegHeaderWriter, SpliceReplacesTheAPP1Run) {
  const std::string blockHex = "ffe10006aabbccdd";
  const Data block = bytesOfHex(blockHex);
  const Data app0 = segmentBytes(0xe0, {'J', 'F', 'I', 'F', 0, 1, 2});  // odd length: APP1 lands at an odd offset
  const Data oldExif = segmentBytes(0xe1, {'E', 'x', 'i', 'f', 0, 0, 1, 2, 3});
  const Data dqt = segmentBytes(0xdb, {0x00, 0xff, 0xe1, 0x00, 0x02});  // holds an FF E1 pair
  const Data laterApp1 = segmentBytes(0xe1, {9, 9});
  struct Case {
    const char* name;
    Data in, expected;
  };
  const std::vector<Case> cases = {
      {"no APP1", jpegWith({app0, dqt}), jpegWith({app0, dqt})},
      {"one APP1", jpegWith({oldExif, dqt}), jpegWith({block, dqt})},
      {"after APP0", jpegWith({app0, oldExif, dqt}), jpegWith({app0, block, dqt})},
      {"two in a row", jpegWith({oldExif, oldExif, dqt}), jpegWith({block, block, dqt})},
      {"only the first run", jpegWith({oldExif, dqt, laterApp1}), jpegWith({block, dqt, laterApp1})},
      {"marker pair inside a table", jpegWith({dqt}), jpegWith({dqt})},
      {"marker pair in the scan", jpegWith({}), jpegWith({})},
      {"nothing after SOI", Data{0xff, 0xd8}, Data{0xff, 0xd8}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto out = writer->spliceExifBlockIntoJpeg(c.in, blockHex);
    ASSERT_TRUE(out.ok()) << out.error();
    EXPECT_EQ(*out, c.expected);
  }
}

TEST_F(JpegHeaderWriter, SpliceRefusesBrokenInputAndMakesNothing) {
  const std::string blockHex = "ffe10006aabbccdd";
  Data overrun = jpegWith({});
  overrun.resize(2);
  overrun.insert(overrun.end(), {0xff, 0xe1, 0x40, 0x00, 1, 2, 3});
  struct Case {
    const char* name;
    Data jpeg;
    std::string block;
  };
  const std::vector<Case> cases = {
      {"APP1 runs past the end", overrun, blockHex},
      {"marker without length", Data{0xff, 0xd8, 0xff, 0xe1}, blockHex},
      {"marker with a short length byte", Data{0xff, 0xd8, 0xff, 0xe1, 0x00}, blockHex},
      {"length below two", Data{0xff, 0xd8, 0xff, 0xe1, 0x00, 0x01}, blockHex},
      {"other segment past the end", Data{0xff, 0xd8, 0xff, 0xdb, 0x00, 0x09, 1}, blockHex},
      {"not a JPEG", Data{0x89, 'P', 'N', 'G'}, blockHex},
      {"empty data", Data{}, blockHex},
      {"odd hex", jpegWith({}), "ffe10006aabbccd"},
      {"not hex", jpegWith({}), "ffe10006aabbccxx"},
      {"not APP1", jpegWith({}), "ffe00006aabbccdd"},
      {"length field disagrees", jpegWith({}), "ffe10009aabbccdd"},
      {"empty block", jpegWith({}), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto out = writer->spliceExifBlockIntoJpeg(c.jpeg, c.block);
    EXPECT_FALSE(out.ok());
    if (!out.ok()) {
      EXPECT_FALSE(out.error().empty());
    }
  }
}

TEST_F(JpegHeaderWriter, SplicedSegmentReadsBack) {
  std::string hex = segmentFor(Dictionary{{"Make", "Canon"}}, Dictionary{{"ColorSpace", 1}});
  auto out = writer->spliceExifBlockIntoJpeg(jpegWith({segmentBytes(0xe1, {1, 2, 3})}), hex);
  ASSERT_TRUE(out.ok());
  Data segment(out->begin() + 2, out->begin() + 2 + static_cast<std::ptrdiff_t>(hex.size() / 2));
  ParsedSegment seg = parseSegment(hex);
  EXPECT_EQ(segment, bytesOfHex(hex));
  EXPECT_EQ(text(find(seg.ifd0, 0x010f)->value), "Canon");
}

}  // namespace

namespace {

// Every truncation and every single-byte change of a small JPEG header either splices into a
// whole file or is refused; nothing is read outside the input (the sanitizer build checks).
TEST_F(JpegHeaderWriter, SpliceSurvivesEveryCutAndEveryChangedByte) {
  const std::string hex = segmentFor(Dictionary{{"Make", "Canon"}});
  const Data jpeg = jpegWith({segmentBytes(0xe0, {'J', 'F', 'I', 'F', 0}), segmentBytes(0xe1, {1, 2, 3, 4}),
                              segmentBytes(0xdb, {0, 1, 2})});
  auto check = [&](const Data& input) {
    auto out = writer->spliceExifBlockIntoJpeg(input, hex);
    if (out.ok()) {
      // The output is the input with whole segments swapped: never shorter than what was kept.
      EXPECT_GE(out->size() + 64, input.size());
      EXPECT_EQ((*out)[0], 0xff);
      EXPECT_EQ((*out)[1], 0xd8);
    }
  };
  for (std::size_t n = 0; n <= jpeg.size(); ++n) check(Data(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(n)));
  for (std::size_t i = 0; i < jpeg.size(); ++i) {
    for (std::uint8_t b : {0x00, 0x01, 0x7f, 0xd8, 0xda, 0xe1, 0xff}) {
      Data changed = jpeg;
      changed[i] = b;
      check(changed);
    }
  }
}

}  // namespace
