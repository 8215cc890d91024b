#include "plat/imageio/ImageMetadata.h"

#include <libexif/exif-data.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace plat {
namespace {

constexpr unsigned char kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};

// Where the header segments of a JPEG stand: each marker's offset and its whole length (marker
// included), up to the start of the scan.
struct Segment {
  std::size_t offset;
  std::size_t length;
  std::uint8_t marker;
};

Result<std::vector<Segment>> headerSegments(const Data& jpeg) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return Failure{"not a JPEG"};
  std::vector<Segment> segments;
  std::size_t pos = 2;
  while (true) {
    if (pos + 4 > jpeg.size() || jpeg[pos] != 0xFF) return Failure{"the JPEG header is cut short or malformed"};
    std::uint8_t marker = jpeg[pos + 1];
    // Fill bytes before a marker.
    if (marker == 0xFF) {
      ++pos;
      continue;
    }
    std::size_t length = (std::size_t{jpeg[pos + 2]} << 8 | jpeg[pos + 3]) + 2;
    if (length < 4 || pos + length > jpeg.size()) return Failure{"a JPEG header segment is cut short"};
    segments.push_back({pos, length, marker});
    if (marker == 0xDA) return segments;  // start of scan: the picture data follows
    pos += length;
  }
}

bool isExifSegment(const Data& jpeg, const Segment& s) {
  return s.marker == 0xE1 && s.length >= 4 + sizeof kExifHeader &&
         std::memcmp(&jpeg[s.offset + 4], kExifHeader, sizeof kExifHeader) == 0;
}

struct ExifDataDeleter {
  void operator()(ExifData* d) const { exif_data_unref(d); }
};
using ExifDataPtr = std::unique_ptr<ExifData, ExifDataDeleter>;

// The Exif data of the picture, or none when it has no Exif segment.
ExifDataPtr loadExif(const Data& jpeg, const std::vector<Segment>& segments) {
  for (const auto& s : segments) {
    if (!isExifSegment(jpeg, s)) continue;
    ExifDataPtr data(exif_data_new());
    if (!data) return nullptr;
    // Unknown tags stay as they were; the picture's own makers' notes are not parsed.
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_load_data(data.get(), &jpeg[s.offset + 4], static_cast<unsigned int>(s.length - 4));
    return data;
  }
  return nullptr;
}

// One key the merge writes: its block, name, place and type.
struct Field {
  const char* block;
  const char* key;
  ExifIfd ifd;
  int tag;  // the GPS tags are plain numbers in the library's header
  ExifFormat format;
  unsigned components;  // 0: an ASCII text of any length
};

constexpr Field kFields[] = {
    {kCGImagePropertyGPSDictionary, kCGImagePropertyGPSLatitudeRef, EXIF_IFD_GPS, EXIF_TAG_GPS_LATITUDE_REF,
     EXIF_FORMAT_ASCII, 2},
    {kCGImagePropertyGPSDictionary, kCGImagePropertyGPSLatitude, EXIF_IFD_GPS, EXIF_TAG_GPS_LATITUDE,
     EXIF_FORMAT_RATIONAL, 3},
    {kCGImagePropertyGPSDictionary, kCGImagePropertyGPSLongitudeRef, EXIF_IFD_GPS, EXIF_TAG_GPS_LONGITUDE_REF,
     EXIF_FORMAT_ASCII, 2},
    {kCGImagePropertyGPSDictionary, kCGImagePropertyGPSLongitude, EXIF_IFD_GPS, EXIF_TAG_GPS_LONGITUDE,
     EXIF_FORMAT_RATIONAL, 3},
    {kCGImagePropertyGPSDictionary, kCGImagePropertyGPSAltitudeRef, EXIF_IFD_GPS, EXIF_TAG_GPS_ALTITUDE_REF,
     EXIF_FORMAT_BYTE, 1},
    {kCGImagePropertyGPSDictionary, kCGImagePropertyGPSAltitude, EXIF_IFD_GPS, EXIF_TAG_GPS_ALTITUDE,
     EXIF_FORMAT_RATIONAL, 1},
    {kCGImagePropertyGPSDictionary, kCGImagePropertyGPSTimeStamp, EXIF_IFD_GPS, EXIF_TAG_GPS_TIME_STAMP,
     EXIF_FORMAT_RATIONAL, 3},
    {kCGImagePropertyGPSDictionary, kCGImagePropertyGPSDateStamp, EXIF_IFD_GPS, EXIF_TAG_GPS_DATE_STAMP,
     EXIF_FORMAT_ASCII, 11},
    {kCGImagePropertyExifDictionary, "DateTimeOriginal", EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL,
     EXIF_FORMAT_ASCII, 20},
    {kCGImagePropertyExifDictionary, "DateTimeDigitized", EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_DIGITIZED,
     EXIF_FORMAT_ASCII, 20},
    {kCGImagePropertyExifDictionary, "PixelXDimension", EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION,
     EXIF_FORMAT_LONG, 1},
    {kCGImagePropertyExifDictionary, "PixelYDimension", EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION,
     EXIF_FORMAT_LONG, 1},
    {kCGImagePropertyExifDictionary, "ColorSpace", EXIF_IFD_EXIF, EXIF_TAG_COLOR_SPACE, EXIF_FORMAT_SHORT, 1},
    {kCGImagePropertyExifDictionary, "Flash", EXIF_IFD_EXIF, EXIF_TAG_FLASH, EXIF_FORMAT_SHORT, 1},
    {kCGImagePropertyExifDictionary, "WhiteBalance", EXIF_IFD_EXIF, EXIF_TAG_WHITE_BALANCE, EXIF_FORMAT_SHORT, 1},
    {kCGImagePropertyExifDictionary, "ExposureMode", EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_MODE, EXIF_FORMAT_SHORT, 1},
    {kCGImagePropertyTIFFDictionary, "Make", EXIF_IFD_0, EXIF_TAG_MAKE, EXIF_FORMAT_ASCII, 0},
    {kCGImagePropertyTIFFDictionary, "Model", EXIF_IFD_0, EXIF_TAG_MODEL, EXIF_FORMAT_ASCII, 0},
    {kCGImagePropertyTIFFDictionary, "Software", EXIF_IFD_0, EXIF_TAG_SOFTWARE, EXIF_FORMAT_ASCII, 0},
    {kCGImagePropertyTIFFDictionary, "DateTime", EXIF_IFD_0, EXIF_TAG_DATE_TIME, EXIF_FORMAT_ASCII, 20},
    {kCGImagePropertyTIFFDictionary, "Orientation", EXIF_IFD_0, EXIF_TAG_ORIENTATION, EXIF_FORMAT_SHORT, 1},
};

// Degrees, minutes and seconds (to a ten-thousandth), as GPS coordinates are written.
void toDegreesMinutesSeconds(double value, ExifRational out[3]) {
  double degrees = std::floor(value);
  double minutesWhole = (value - degrees) * 60;
  double minutes = std::floor(minutesWhole);
  double seconds = (minutesWhole - minutes) * 60;
  out[0] = {static_cast<ExifLong>(degrees), 1};
  out[1] = {static_cast<ExifLong>(minutes), 1};
  out[2] = {static_cast<ExifLong>(std::llround(seconds * 10000)), 10000};
}

// "HH:mm:ss.SSSSSS" into three rationals, the seconds to the microsecond.
bool parseTimeStamp(const std::string& text, ExifRational out[3]) {
  unsigned h = 0, m = 0;
  double s = 0;
  if (std::sscanf(text.c_str(), "%u:%u:%lf", &h, &m, &s) != 3 || h > 23 || m > 59 || !(s >= 0 && s < 61))
    return false;
  out[0] = {h, 1};
  out[1] = {m, 1};
  out[2] = {static_cast<ExifLong>(std::llround(s * 1000000)), 1000000};
  return true;
}

// The value as the entry's bytes; none when it cannot be written in that type.
std::optional<Data> encodeField(const Field& field, const Value& value, ExifByteOrder order) {
  Data bytes;
  switch (field.format) {
    case EXIF_FORMAT_ASCII: {
      if (!value.isString()) return std::nullopt;
      std::string text = value.asString();
      if (field.components != 0) text.resize(field.components - 1, ' ');
      // The text and its terminator must fit a segment.
      if (text.size() > 4096) return std::nullopt;
      bytes.assign(text.begin(), text.end());
      bytes.push_back(0);
      return bytes;
    }
    case EXIF_FORMAT_BYTE: {
      long n = value.isString() ? std::strtol(value.asString().c_str(), nullptr, 10) : value.asInt();
      if (!value.isString() && !value.isNumber()) return std::nullopt;
      bytes.push_back(static_cast<std::uint8_t>(n == 0 ? 0 : 1));
      return bytes;
    }
    case EXIF_FORMAT_SHORT:
    case EXIF_FORMAT_LONG: {
      if (!value.isNumber()) return std::nullopt;
      double d = value.asDouble();
      double max = field.format == EXIF_FORMAT_SHORT ? 65535.0 : 4294967295.0;
      if (!(d >= 0 && d <= max)) return std::nullopt;
      bytes.resize(exif_format_get_size(field.format));
      if (field.format == EXIF_FORMAT_SHORT)
        exif_set_short(bytes.data(), order, static_cast<ExifShort>(d));
      else
        exif_set_long(bytes.data(), order, static_cast<ExifLong>(d));
      return bytes;
    }
    case EXIF_FORMAT_RATIONAL: {
      ExifRational parts[3];
      if (field.tag == EXIF_TAG_GPS_TIME_STAMP) {
        if (!value.isString() || !parseTimeStamp(value.asString(), parts)) return std::nullopt;
      } else {
        if (!value.isNumber()) return std::nullopt;
        double d = value.asDouble();
        if (!(d >= 0 && d < 4294967295.0 / 10000)) return std::nullopt;
        if (field.components == 3) {
          if (d > 180) return std::nullopt;
          toDegreesMinutesSeconds(d, parts);
        } else {
          parts[0] = {static_cast<ExifLong>(std::llround(d * 10000)), 10000};
        }
      }
      bytes.resize(8 * field.components);
      for (unsigned i = 0; i < field.components; ++i) exif_set_rational(&bytes[8 * i], order, parts[i]);
      return bytes;
    }
    default:
      return std::nullopt;
  }
}

void setEntry(ExifData* exif, ExifIfd ifd, ExifTag tag, ExifFormat format, const Data& bytes) {
  ExifContent* content = exif->ifd[ifd];
  if (ExifEntry* old = exif_content_get_entry(content, tag)) exif_content_remove_entry(content, old);
  ExifMem* mem = exif_mem_new_default();
  ExifEntry* entry = exif_entry_new_mem(mem);
  if (entry) {
    entry->data = static_cast<unsigned char*>(exif_mem_alloc(mem, static_cast<ExifLong>(bytes.size())));
    if (entry->data) {
      std::memcpy(entry->data, bytes.data(), bytes.size());
      entry->size = static_cast<unsigned int>(bytes.size());
      entry->tag = tag;
      entry->format = format;
      entry->components = bytes.size() / exif_format_get_size(format);
      exif_content_add_entry(content, entry);
    }
    exif_entry_unref(entry);
  }
  exif_mem_unref(mem);
}

std::string trimmedText(const ExifEntry* e) {
  std::string text(reinterpret_cast<const char*>(e->data), e->size);
  while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
  return text;
}

double rationalValue(ExifRational r) { return r.denominator == 0 ? 0.0 : double(r.numerator) / r.denominator; }

std::optional<Value> decodeField(const Field& field, const ExifEntry* e, ExifByteOrder order) {
  if (e->format != field.format || !e->data) return std::nullopt;
  std::size_t unit = exif_format_get_size(e->format);
  if (unit == 0 || e->size < unit * std::max<unsigned>(1, field.components == 0 ? 1 : field.components))
    return std::nullopt;
  switch (field.format) {
    case EXIF_FORMAT_ASCII:
      return Value(trimmedText(e));
    case EXIF_FORMAT_BYTE:
      return Value(std::to_string(e->data[0]));
    case EXIF_FORMAT_SHORT:
      return Value(static_cast<std::int64_t>(exif_get_short(e->data, order)));
    case EXIF_FORMAT_LONG:
      return Value(static_cast<std::int64_t>(exif_get_long(e->data, order)));
    case EXIF_FORMAT_RATIONAL: {
      if (field.components == 1) return Value(rationalValue(exif_get_rational(e->data, order)));
      double parts[3];
      for (int i = 0; i < 3; ++i) parts[i] = rationalValue(exif_get_rational(e->data + 8 * i, order));
      if (field.tag == EXIF_TAG_GPS_TIME_STAMP) {
        char text[32];
        std::snprintf(text, sizeof text, "%02d:%02d:%09.6f", static_cast<int>(parts[0]), static_cast<int>(parts[1]),
                      parts[2]);
        return Value(std::string(text));
      }
      return Value(parts[0] + parts[1] / 60 + parts[2] / 3600);
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

Result<Dictionary> CGImageSourceCopyProperties(const Data& jpeg) {
  auto segments = headerSegments(jpeg);
  if (!segments) return Failure{segments.error()};
  Dictionary properties;
  ExifDataPtr exif = loadExif(jpeg, *segments);
  if (!exif) return properties;
  ExifByteOrder order = exif_data_get_byte_order(exif.get());
  for (const auto& field : kFields) {
    ExifEntry* e = exif_content_get_entry(exif->ifd[field.ifd], static_cast<ExifTag>(field.tag));
    if (!e) continue;
    auto value = decodeField(field, e, order);
    if (!value) continue;
    Value& block = properties[field.block];
    if (!block.isDictionary()) block = Value(Dictionary{});
    block.asDictionary().set(field.key, std::move(*value));
  }
  return properties;
}

int CGImagePropertyOrientationOfExifSegment(const std::uint8_t* bytes, std::size_t size) {
  if (!bytes || size < sizeof kExifHeader || std::memcmp(bytes, kExifHeader, sizeof kExifHeader) != 0 ||
      size > 0xFFFF)
    return 1;
  ExifDataPtr exif(exif_data_new());
  if (!exif) return 1;
  exif_data_load_data(exif.get(), bytes, static_cast<unsigned int>(size));
  const ExifEntry* e = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (!e || e->format != EXIF_FORMAT_SHORT || !e->data || e->size < 2) return 1;
  const int value = exif_get_short(e->data, exif_data_get_byte_order(exif.get()));
  return value >= 1 && value <= 8 ? value : 1;
}

Result<Data> CGImageDestinationCopyJPEGWithMetadata(const Data& jpeg, const Dictionary& metadata) {
  auto segments = headerSegments(jpeg);
  if (!segments) return Failure{segments.error()};
  ExifDataPtr exif = loadExif(jpeg, *segments);
  if (!exif) {
    exif.reset(exif_data_new());
    if (!exif) return Failure{"no memory for the metadata"};
    exif_data_set_byte_order(exif.get(), EXIF_BYTE_ORDER_MOTOROLA);
  }
  // Written as given: the library's own fix-ups would add entries no one asked for.
  exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  ExifByteOrder order = exif_data_get_byte_order(exif.get());
  bool wroteGPS = false;
  for (const auto& field : kFields) {
    const Value& block = metadata.get(field.block);
    if (!block.isDictionary()) continue;
    const Value& value = block.asDictionary().get(field.key);
    if (value.isNil()) continue;
    auto bytes = encodeField(field, value, order);
    if (!bytes) continue;
    setEntry(exif.get(), field.ifd, static_cast<ExifTag>(field.tag), field.format, *bytes);
    wroteGPS = wroteGPS || field.ifd == EXIF_IFD_GPS;
  }
  if (wroteGPS) setEntry(exif.get(), EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_VERSION_ID), EXIF_FORMAT_BYTE, Data{2, 2, 0, 0});

  unsigned char* saved = nullptr;
  unsigned int savedSize = 0;
  exif_data_save_data(exif.get(), &saved, &savedSize);
  std::unique_ptr<unsigned char, void (*)(void*)> savedOwner(saved, std::free);
  if (!saved || savedSize == 0) return Failure{"the metadata could not be written"};
  if (savedSize + 2 > 0xFFFF) return Failure{"the metadata is too large for a JPEG segment"};

  // Where the segment goes: in place of the old Exif segment, else after the JFIF segment, else
  // right after the start marker.
  std::size_t insertAt = 2;
  std::optional<Segment> replaced;
  for (const auto& s : *segments) {
    if (isExifSegment(jpeg, s)) {
      replaced = s;
      break;
    }
  }
  if (replaced) {
    insertAt = replaced->offset;
  } else if (segments->front().marker == 0xE0) {
    insertAt = segments->front().offset + segments->front().length;
  }
  Data out;
  out.reserve(jpeg.size() + savedSize + 4);
  out.insert(out.end(), jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(insertAt));
  std::size_t length = savedSize + 2;
  out.push_back(0xFF);
  out.push_back(0xE1);
  out.push_back(static_cast<std::uint8_t>(length >> 8));
  out.push_back(static_cast<std::uint8_t>(length & 0xFF));
  out.insert(out.end(), saved, saved + savedSize);
  std::size_t resumeAt = replaced ? replaced->offset + replaced->length : insertAt;
  out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(resumeAt), jpeg.end());
  return out;
}

}  // namespace plat
