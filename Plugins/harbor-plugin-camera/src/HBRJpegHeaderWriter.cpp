#include "HBRJpegHeaderWriter.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

namespace harbor {
namespace {

constexpr std::uint32_t kMaxSegmentLength = 0xffff;
constexpr std::int64_t kMax32 = 0xffffffffLL;
// The APP1 length field counts itself (2), "Exif\0\0" (6) and the TIFF header (8).
constexpr std::uint32_t kApp1Overhead = 16;

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::uint8_t hexNibble(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  return static_cast<std::uint8_t>(c - 'A' + 10);
}

std::string hexOfBytes(std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 0xf]);
  }
  return out;
}

// An integer field value: the number truncated toward zero when it lies in [0, max]. Metadata
// numbers arrive as integers or doubles; anything else (text, NaN, out of range) has no value.
std::optional<std::uint64_t> unsignedField(const plat::Value& value, std::uint64_t max) {
  if (value.isInteger()) {
    if (value.type() == plat::Value::Type::Int && value.asInt() < 0) return std::nullopt;
    std::uint64_t u = value.asUInt();
    return u <= max ? std::optional(u) : std::nullopt;
  }
  if (value.isDouble()) {
    double d = std::trunc(value.asDouble());
    if (!std::isfinite(d) || d < 0 || d > static_cast<double>(max)) return std::nullopt;
    return static_cast<std::uint64_t>(d);
  }
  return std::nullopt;
}

struct PendingEntry {
  std::string tag;
  std::string head;
  std::string value;
};

}  // namespace

void HBRJpegHeaderWriter::init() {
  ifd0Formats_ = {
      {"DateTime", {"0132", 2, 20, "00"}},
      {"Make", {"010f", 2, 0, std::nullopt}},
      {"Model", {"0110", 2, 0, std::nullopt}},
      {"Software", {"0131", 2, 0, std::nullopt}},
      {"XResolution", {"011a", 5, 1, std::nullopt}},
      {"YResolution", {"011b", 5, 1, std::nullopt}},
  };
  subIfdFormats_ = {
      {"ColorSpace", {"a001", 3, 1, std::nullopt}},
      {"DateTimeDigitized", {"9004", 2, 20, "00"}},
      {"DateTimeOriginal", {"9003", 2, 20, "00"}},
      {"ExposureMode", {"a402", 3, 1, std::nullopt}},
      {"ExposureProgram", {"8822", 3, 1, std::nullopt}},
      {"Flash", {"9209", 3, 1, std::nullopt}},
      {"FocalLenIn35mmFilm", {"a405", 3, 1, std::nullopt}},
      {"MeteringMode", {"9207", 3, 1, std::nullopt}},
      {"PixelXDimension", {"a002", 4, 1, std::nullopt}},
      {"PixelYDimension", {"a003", 4, 1, std::nullopt}},
      {"SceneType", {"a301", 3, 1, std::nullopt}},
      {"SensingMethod", {"a217", 3, 1, std::nullopt}},
      {"WhiteBalance", {"a403", 3, 1, std::nullopt}},
  };
}

int HBRJpegHeaderWriter::bytesPerComponent(int type) {
  static constexpr int sizes[] = {1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type >= 1 && type <= 12 ? sizes[type - 1] : 0;
}

std::optional<std::string> HBRJpegHeaderWriter::createExifAPP1(const plat::Dictionary& metadata) const {
  static const plat::Dictionary empty;
  const plat::Value& tiff = metadata.get("{TIFF}");
  const plat::Value& exif = metadata.get("{Exif}");
  std::uint32_t offset = 0;
  std::string ifd0 = createExifIFDFromDict(tiff.isDictionary() ? tiff.asDictionary() : empty, ifd0Formats_,
                                           true, offset);
  std::string subIfd = createExifIFDFromDict(exif.isDictionary() ? exif.asDictionary() : empty,
                                             subIfdFormats_, false, offset);
  std::uint64_t length = ifd0.size() / 2 + subIfd.size() / 2 + kApp1Overhead;
  if (length > kMaxSegmentLength) return std::nullopt;
  return "ffe1" + formattedHexStringFromDecimalNumber(length, 4) + "457869660000" + "4d4d002a" + "00000008" +
         ifd0 + subIfd;
}

std::string HBRJpegHeaderWriter::createExifIFDFromDict(const plat::Dictionary& values,
                                                       const HBRExifFormatDict& formats, bool isIFD0,
                                                       std::uint32_t& currentDataOffset) const {
  std::vector<PendingEntry> pending;
  for (const auto& [key, value] : values) {
    auto format = formats.find(key);
    if (format == formats.end()) continue;
    auto head = createIFDElement(key, formats, value);
    auto data = createIFDElementDataWithFormat(format->second, value);
    // An entry without its value would be four bytes short and shift every entry after it.
    if (!head || !data) continue;
    pending.push_back({format->second.tag, std::move(*head), std::move(*data)});
  }
  // TIFF readers may binary-search an IFD, so its entries go in ascending tag order.
  std::stable_sort(pending.begin(), pending.end(),
                   [](const PendingEntry& a, const PendingEntry& b) { return a.tag < b.tag; });

  auto n = static_cast<std::uint32_t>(pending.size());
  std::uint32_t dataOffset = currentDataOffset + (isIFD0 ? 12 * n + 26 : 12 * n + 6);
  std::string entries;
  std::string dataArea;
  for (const auto& entry : pending) {
    entries += entry.head;
    if (entry.value.size() > 8) {
      entries += formattedHexStringFromDecimalNumber(dataOffset, 8);
      dataArea += entry.value;
      dataOffset += static_cast<std::uint32_t>(entry.value.size() / 2);
    } else {
      entries += entry.value;
    }
  }
  std::uint32_t count = n;
  if (isIFD0) {
    // The sub-IFD follows this IFD's data area.
    appendExifOffsetTagTo(entries, dataOffset);
    ++count;
  }
  currentDataOffset = dataOffset;
  return formattedHexStringFromDecimalNumber(count, 4) + entries + "00000000" + dataArea;
}

std::optional<std::string> HBRJpegHeaderWriter::createIFDElement(std::string_view key,
                                                                 const HBRExifFormatDict& formats,
                                                                 const plat::Value& value) const {
  auto found = formats.find(key);
  if (found == formats.end()) return std::nullopt;
  const HBRExifTagFormat& format = found->second;
  std::uint64_t count = format.count;
  if (count == 0) {
    std::uint64_t length = value.isString() ? value.asString().size() : value.description().size();
    count = static_cast<std::uint64_t>(bytesPerComponent(format.type)) * length;
  }
  return format.tag + formatNumberWithLeadingZeroes(format.type, 4) + formattedHexStringFromDecimalNumber(count, 8);
}

std::optional<std::string> HBRJpegHeaderWriter::createIFDElementDataWithFormat(const HBRExifTagFormat& format,
                                                                               const plat::Value& value) const {
  switch (format.type) {
    case 2: {
      if (!value.isString()) return std::nullopt;
      std::string_view text = value.asString();
      std::string terminator = format.terminator.value_or("");
      std::string hex;
      if (format.count > 0) {
        // A fixed-length field (the dates) holds exactly `count` bytes, so a reader taking the
        // count never reads past the text or meets an offset where it expects characters.
        std::size_t room = format.count - std::min<std::size_t>(format.count, terminator.size() / 2);
        hex = hexOfBytes(text.substr(0, std::min(room, text.size()))) + terminator;
        hex.resize(std::size_t{format.count} * 2, '0');
      } else {
        hex = hexOfBytes(text) + terminator;
      }
      if (hex.size() < 8) hex.resize(8, '0');
      return hex;
    }
    case 3: {
      auto n = unsignedField(value, 0xffff);
      if (!n) return std::nullopt;
      return formattedHexStringFromDecimalNumber(*n, 4) + "0000";
    }
    case 4: {
      auto n = unsignedField(value, 0xffffffffULL);
      if (!n) return std::nullopt;
      return formattedHexStringFromDecimalNumber(*n, 8);
    }
    case 5: {
      if (!value.isNumber() || value.isBool()) return std::nullopt;
      if (value.isInteger()) {
        auto n = unsignedField(value, 0xffffffffULL);
        if (!n) return std::nullopt;
        return formattedHexStringFromDecimalNumber(*n, 8) + "00000001";
      }
      std::uint64_t numerator = 0, denominator = 0;
      return decimalToUnsignedRational(value.asDouble(), numerator, denominator);
    }
    default:
      return std::nullopt;
  }
}

void HBRJpegHeaderWriter::appendExifOffsetTagTo(std::string& entries, std::uint32_t offset) const {
  entries += "8769" + formatNumberWithLeadingZeroes(4, 4) + formattedHexStringFromDecimalNumber(1, 8) +
             formattedHexStringFromDecimalNumber(offset, 8);
}

plat::Result<plat::Data> HBRJpegHeaderWriter::spliceExifBlockIntoJpeg(const plat::Data& jpeg,
                                                                     std::string_view exifBlock) const {
  if (exifBlock.size() % 2 != 0 || !std::all_of(exifBlock.begin(), exifBlock.end(), isHexDigit)) {
    return plat::Failure{"the EXIF segment is not hexadecimal text"};
  }
  plat::Data segment;
  segment.reserve(exifBlock.size() / 2);
  for (std::size_t i = 0; i < exifBlock.size(); i += 2) {
    segment.push_back(static_cast<std::uint8_t>(hexNibble(exifBlock[i]) << 4 | hexNibble(exifBlock[i + 1])));
  }
  if (segment.size() < 4 || segment[0] != 0xff || segment[1] != 0xe1 ||
      (std::size_t{segment[2]} << 8 | segment[3]) != segment.size() - 2) {
    return plat::Failure{"the EXIF segment is not a whole APP1 segment"};
  }
  if (jpeg.size() < 2 || jpeg[0] != 0xff || jpeg[1] != 0xd8) {
    return plat::Failure{"the data is not a JPEG image"};
  }

  // Walk the header's marker segments rather than every byte pair: a pair FF E1 inside another
  // segment (a thumbnail, a table) is not a marker.
  plat::Data out(jpeg.begin(), jpeg.begin() + 2);
  out.reserve(jpeg.size() + segment.size());
  std::size_t pos = 2;
  bool replaced = false;
  auto copyRest = [&] { out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(pos), jpeg.end()); };
  while (pos < jpeg.size()) {
    if (jpeg.size() - pos < 2 || jpeg[pos] != 0xff) {
      copyRest();
      return out;
    }
    std::uint8_t marker = jpeg[pos + 1];
    if (marker == 0xff) {  // fill byte before a marker
      out.push_back(0xff);
      ++pos;
      continue;
    }
    bool standalone = marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7);
    if (marker != 0xe1 && (replaced || marker == 0xda || marker == 0xd9)) {
      // Past the APP1 run, or at the image data: the rest is kept as it stands.
      copyRest();
      return out;
    }
    if (standalone) {
      out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(pos),
                 jpeg.begin() + static_cast<std::ptrdiff_t>(pos + 2));
      pos += 2;
      continue;
    }
    if (jpeg.size() - pos < 4) return plat::Failure{"the JPEG header is cut short"};
    std::size_t length = std::size_t{jpeg[pos + 2]} << 8 | jpeg[pos + 3];
    if (length < 2 || length > jpeg.size() - pos - 2) {
      return plat::Failure{"a JPEG header segment runs past the end of the data"};
    }
    if (marker == 0xe1) {
      out.insert(out.end(), segment.begin(), segment.end());
      replaced = true;
    } else {
      out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(pos),
                 jpeg.begin() + static_cast<std::ptrdiff_t>(pos + 2 + length));
    }
    pos += 2 + length;
  }
  return out;
}

std::string HBRJpegHeaderWriter::formattedHexStringFromDecimalNumber(std::uint64_t number, int places) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*" PRIx64, places, number);
  return buffer;
}

std::string HBRJpegHeaderWriter::formatNumberWithLeadingZeroes(std::int64_t number, int places) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*" PRId64, places, number);
  return buffer;
}

void HBRJpegHeaderWriter::splitDouble(double value, std::int64_t& intComponent, double& floatRemainder) {
  double whole = std::trunc(value);
  intComponent = static_cast<std::int64_t>(whole);
  floatRemainder = value - whole;
}

void HBRJpegHeaderWriter::continuedFraction(double value, std::vector<std::int64_t>& list, int horizon) {
  if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(kMax32)) return;
  std::int64_t whole = 0;
  double remainder = 0;
  splitDouble(value, whole, remainder);
  list.push_back(whole);
  while (remainder != 0 && list.size() <= static_cast<std::size_t>(horizon)) {
    double next = 1.0 / remainder;
    // A term beyond 32 bits comes from rounding noise and could not be written anyway.
    if (!std::isfinite(next) || std::fabs(next) > static_cast<double>(kMax32)) break;
    splitDouble(next, whole, remainder);
    list.push_back(whole);
  }
}

bool HBRJpegHeaderWriter::expandContinuedFraction(const std::vector<std::int64_t>& list, std::int64_t& numerator,
                                                  std::int64_t& denominator) {
  if (list.empty()) return false;
  std::int64_t num = list.back();
  std::int64_t den = 1;
  for (auto it = list.rbegin() + 1; it != list.rend(); ++it) {
    std::int64_t product = 0, sum = 0;
    if (__builtin_mul_overflow(*it, num, &product) || __builtin_add_overflow(product, den, &sum)) return false;
    den = num;
    num = sum;
    if (num > kMax32 || num < -kMax32) return false;
  }
  if (den == 0) return false;
  if (den < 0) {
    num = -num;
    den = -den;
  }
  if (num > kMax32 || num < -kMax32 || den > kMax32) return false;
  numerator = num;
  denominator = den;
  return true;
}

bool HBRJpegHeaderWriter::decimalToRational(double value, std::int64_t& numerator, std::int64_t& denominator) {
  std::vector<std::int64_t> list;
  continuedFraction(value, list, 8);
  // The longest prefix whose fraction fits 32 bits is the closest one that can be written.
  for (std::size_t n = list.size(); n > 0; --n) {
    std::vector<std::int64_t> prefix(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(n));
    if (expandContinuedFraction(prefix, numerator, denominator)) return true;
  }
  return false;
}

std::optional<std::string> HBRJpegHeaderWriter::decimalToUnsignedRational(double value, std::uint64_t& numerator,
                                                                          std::uint64_t& denominator) {
  if (!(value >= 0)) return std::nullopt;
  std::int64_t num = 0, den = 0;
  if (!decimalToRational(value, num, den)) return std::nullopt;
  numerator = static_cast<std::uint64_t>(num);
  denominator = static_cast<std::uint64_t>(den);
  return formatRationalWithNumerator(num, den, false);
}

std::string HBRJpegHeaderWriter::formatFractionList(const std::vector<std::int64_t>& list) {
  std::string out = "[";
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i == 1) out += "; ";
    else if (i > 1) out += ", ";
    out += std::to_string(list[i]);
  }
  return out + "]";
}

std::string HBRJpegHeaderWriter::formatRationalWithNumerator(std::int64_t numerator, std::int64_t denominator,
                                                             bool asSigned) {
  if (asSigned) {
    // The sign goes on the numerator alone; a negative denominator as well would cancel it.
    bool negative = (numerator < 0) != (denominator < 0);
    std::int64_t num = numerator < 0 ? -numerator : numerator;
    std::int64_t den = denominator < 0 ? -denominator : denominator;
    if (negative) num = -num;
    return formattedHexStringFromDecimalNumber(static_cast<std::uint32_t>(num), 8) +
           formattedHexStringFromDecimalNumber(static_cast<std::uint32_t>(den), 8);
  }
  return formattedHexStringFromDecimalNumber(static_cast<std::uint32_t>(numerator), 8) +
         formattedHexStringFromDecimalNumber(static_cast<std::uint32_t>(denominator), 8);
}

std::string HBRJpegHeaderWriter::hexStringFromData(const plat::Data& data) {
  std::string_view bytes(reinterpret_cast<const char*>(data.data()), std::min<std::size_t>(data.size(), 2));
  return hexOfBytes(bytes);
}

std::uint64_t HBRJpegHeaderWriter::numericFromHexString(std::string_view hex) {
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
  if (ec != std::errc() || end != hex.data() + hex.size() || hex.empty()) return 0;
  return value;
}

}  // namespace harbor
