#pragma once
// Pictures with an Exif orientation, as cameras write them, for tests that follow a picture's
// orientation from the bytes to what a person sees.
//
// The picture is four flat quadrants, as stored: red top left, green top right, blue bottom
// left, yellow bottom right. Its JPEG's Exif segment is written here byte by byte (a TIFF header
// and one IFD0 entry, "Orientation"), not by the library under test, so a reader is checked
// against the Exif standard rather than against our own writer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "plat/foundation/Value.h"
#include "plat/uikit/UIImage.h"

namespace plat::testing {

enum Quadrant { kRed = 0, kGreen = 1, kBlue = 2, kYellow = 3, kNoQuadrant = -1 };
inline constexpr std::uint8_t kQuadrantColours[4][3] = {{230, 30, 30}, {30, 200, 30}, {30, 30, 230}, {230, 220, 30}};

// The quadrant picture, upright, stored width x height.
std::shared_ptr<UIImage> QuadrantPicture(std::size_t width, std::size_t height);

// The Exif segment (marker, length, "Exif\0\0", TIFF block) stating `exifOrientation`, in
// big-endian ("MM") or little-endian ("II") byte order.
Data ExifOrientationSegment(int exifOrientation, bool bigEndian = true);

// A JPEG of the quadrant picture as stored (width x height) with the segment of
// ExifOrientationSegment right after the start marker, as cameras place it.
Data JpegWithExifOrientation(std::size_t width, std::size_t height, int exifOrientation, bool bigEndian = true);

// Which quadrant shows at each displayed corner (top left, top right, bottom left, bottom
// right) of a picture stored as above under each Exif orientation 1 to 8, from the standard's
// definitions of where the stored 0th row and 0th column go.
std::array<Quadrant, 4> DisplayedCorners(int exifOrientation);

// The quadrants at the displayed corners of an image (drawn upright, sampled a tenth in from
// each corner); kNoQuadrant where the colour is none of the four.
std::array<Quadrant, 4> CornersOf(const UIImage& image);

// The Exif orientation a JPEG's bytes state, read with libexif directly; 0 without an Exif
// segment or an "Orientation" entry.
int ExifOrientationOf(const Data& jpeg);

// The stored size a JPEG's frame header gives (width, height); zeros when there is none.
std::array<std::size_t, 2> JpegFrameSize(const Data& jpeg);

}  // namespace plat::testing
