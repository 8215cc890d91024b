#pragma once
// Builds an EXIF APP1 segment from an image-metadata dictionary ("{TIFF}" and "{Exif}"
// dictionaries) and splices such a segment into JPEG bytes.
//
// Fields are assembled as lower-case hexadecimal text, two digits per byte, and become bytes only
// when spliced. All numbers are big-endian ("MM" TIFF header); offsets count from the start of the
// TIFF header. Metadata may come from a picture file, so every value is checked: a value that
// cannot be written in its field's type is left out rather than written half, and a segment that
// would not fit the 16-bit segment length is refused.
#include <plat/foundation/Object.h>
#include <plat/foundation/Result.h>
#include <plat/foundation/Value.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harbor {

// One tag table entry: the tag as four hex digits, the TIFF field type, the component count (0:
// taken from the value's length) and an optional terminator appended to ASCII values.
struct HBRExifTagFormat {
  std::string tag;
  int type = 0;
  std::uint32_t count = 0;
  std::optional<std::string> terminator;
};
using HBRExifFormatDict = std::map<std::string, HBRExifTagFormat, std::less<>>;

class HBRJpegHeaderWriter : public plat::Object {
 public:
  // Fills the two tag tables.
  void init();

  const HBRExifFormatDict& IFD0TagFormatDict() const { return ifd0Formats_; }
  const HBRExifFormatDict& SubIFDTagFormatDict() const { return subIfdFormats_; }

  // Hex text of the APP1 segment for the metadata's "{TIFF}" and "{Exif}" dictionaries (either may
  // be missing). None when the segment would exceed the 65535 bytes its length field can state.
  std::optional<std::string> createExifAPP1(const plat::Dictionary& metadata) const;

  // The JPEG with each APP1 segment of the first run of APP1 segments in its header replaced by
  // the given segment; unchanged when it has none. Fails, and nothing is made, when the segment
  // text is not a whole APP1 segment or the JPEG's header segments are cut short or malformed.
  plat::Result<plat::Data> spliceExifBlockIntoJpeg(const plat::Data& jpeg, std::string_view exifBlock) const;

  // Hex text of one IFD: count, entries (in tag order), no-next-IFD, data area. currentDataOffset
  // comes in as the offset this IFD is counted from and goes out as the end of its data area.
  std::string createExifIFDFromDict(const plat::Dictionary& values, const HBRExifFormatDict& formats,
                                    bool isIFD0, std::uint32_t& currentDataOffset) const;

  // Entry head (tag, type, count) for key, or none when the table has no entry for it.
  std::optional<std::string> createIFDElement(std::string_view key, const HBRExifFormatDict& formats,
                                              const plat::Value& value) const;
  // The value's field text in the entry's type, or none when the type is not one this writer
  // handles or the value does not fit it.
  std::optional<std::string> createIFDElementDataWithFormat(const HBRExifTagFormat& format,
                                                            const plat::Value& value) const;
  // Appends the IFD0 entry that points at the Exif sub-IFD.
  void appendExifOffsetTagTo(std::string& entries, std::uint32_t offset) const;

  // Number helpers.
  static std::string formattedHexStringFromDecimalNumber(std::uint64_t number, int places);
  static std::string formatNumberWithLeadingZeroes(std::int64_t number, int places);
  // Nearest fraction by a continued fraction of at most 9 terms whose parts fit 32 bits. False
  // for values that have none (NaN, infinities, magnitudes beyond 32 bits).
  static bool decimalToRational(double value, std::int64_t& numerator, std::int64_t& denominator);
  // As above for values >= 0; also returns the formatted unsigned RATIONAL, or none.
  static std::optional<std::string> decimalToUnsignedRational(double value, std::uint64_t& numerator,
                                                              std::uint64_t& denominator);
  // Appends the continued-fraction terms of value to list: the integer part, then the terms of
  // 1 / remainder while the remainder is not 0 and the list has at most `horizon` terms. Stops
  // early when a term would not fit 32 bits (the remainder is then rounding noise).
  static void continuedFraction(double value, std::vector<std::int64_t>& list, int horizon);
  // Folds the terms back into a fraction; false when the list is empty or a part leaves 32 bits.
  static bool expandContinuedFraction(const std::vector<std::int64_t>& list, std::int64_t& numerator,
                                      std::int64_t& denominator);
  static std::string formatFractionList(const std::vector<std::int64_t>& list);
  // "%08lx%08lx"; the signed form gives the denominator the numerator's sign.
  static std::string formatRationalWithNumerator(std::int64_t numerator, std::int64_t denominator, bool asSigned);
  // Integer part truncated toward zero, and the remainder.
  static void splitDouble(double value, std::int64_t& intComponent, double& floatRemainder);
  // The first two bytes as hex (fewer when the data is shorter).
  static std::string hexStringFromData(const plat::Data& data);
  // Hex text to a number; 0 for text that is not hex or does not fit 64 bits.
  static std::uint64_t numericFromHexString(std::string_view hex);

  static int bytesPerComponent(int type);

 private:
  HBRExifFormatDict ifd0Formats_;
  HBRExifFormatDict subIfdFormats_;
};

}  // namespace harbor
