#pragma once
// Image metadata as the image I/O services present it: a dictionary with one dictionary per
// block ("{Exif}", "{GPS}", "{TIFF}"), read from a JPEG's Exif segment and merged back into one
// (libexif). What a merge writes:
//   "{GPS}": "LatitudeRef" "N"/"S", "Latitude" degrees >= 0, "LongitudeRef" "E"/"W", "Longitude",
//            "AltitudeRef" "0" above / "1" below sea level, "Altitude" metres >= 0,
//            "TimeStamp" "HH:mm:ss.SSSSSS", "DateStamp" "yyyy:MM:dd" (UTC)
//   "{Exif}": "DateTimeOriginal", "DateTimeDigitized" ("yyyy:MM:dd HH:mm:ss"), "PixelXDimension",
//            "PixelYDimension", "ColorSpace", "Flash", "WhiteBalance", "ExposureMode"
//   "{TIFF}": "Make", "Model", "Software", "DateTime", "Orientation"
// Other keys are kept where they already stood in the picture and otherwise left out.
//
// Bytes come from files and pages: anything that is not a whole JPEG header gives a failure,
// never a crash, and a merge never writes into the bytes it reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "plat/foundation/Result.h"
#include "plat/foundation/Value.h"

namespace plat {

inline constexpr char kCGImagePropertyExifDictionary[] = "{Exif}";
inline constexpr char kCGImagePropertyGPSDictionary[] = "{GPS}";
inline constexpr char kCGImagePropertyTIFFDictionary[] = "{TIFF}";
inline constexpr char kCGImagePropertyGPSLatitude[] = "Latitude";
inline constexpr char kCGImagePropertyGPSLatitudeRef[] = "LatitudeRef";
inline constexpr char kCGImagePropertyGPSLongitude[] = "Longitude";
inline constexpr char kCGImagePropertyGPSLongitudeRef[] = "LongitudeRef";
inline constexpr char kCGImagePropertyGPSAltitude[] = "Altitude";
inline constexpr char kCGImagePropertyGPSAltitudeRef[] = "AltitudeRef";
inline constexpr char kCGImagePropertyGPSTimeStamp[] = "TimeStamp";
inline constexpr char kCGImagePropertyGPSDateStamp[] = "DateStamp";

// The metadata of a JPEG; an empty dictionary when it has no Exif segment. Fails when the bytes
// are not a JPEG.
Result<Dictionary> CGImageSourceCopyProperties(const Data& jpeg);

// The Exif "Orientation" (1 to 8) stated by the contents of a JPEG's Exif segment (the bytes
// after its length field, from "Exif\0\0" on); 1 when they state none or another value.
int CGImagePropertyOrientationOfExifSegment(const std::uint8_t* bytes, std::size_t size);

// A new JPEG: the picture's own bytes with one Exif segment holding its old Exif data overlaid by
// `metadata`, in place of the Exif segment it had (or after its JFIF segment, or right after the
// start marker). Fails when the bytes are not a JPEG whose header segments are whole.
Result<Data> CGImageDestinationCopyJPEGWithMetadata(const Data& jpeg, const Dictionary& metadata);

}  // namespace plat
