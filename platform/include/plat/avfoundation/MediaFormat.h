#pragma once
// The facts of image and movie files read from their headers, without decoding them: the pixel
// size of a PNG, JPEG or GIF (and a JPEG's Exif orientation), and the length and picture size of
// an MP4 / QuickTime movie. And a writer of small movie files (the headers of a movie without
// pictures) for the simulated camera.
#include <string>

#include "plat/foundation/Result.h"

namespace plat {

struct ImageSize {
  unsigned width = 0;  // of the stored picture
  unsigned height = 0;
  // The Exif orientation a JPEG states (1 to 8; 1 for PNG, GIF and a JPEG without one). From
  // 5 on the picture shows turned a quarter, its width and height swapped.
  int orientation = 1;
  bool sideways() const { return orientation >= 5; }
};

struct MovieInfo {
  double duration = 0;  // seconds
  bool hasVideoTrack = false;
  double width = 0;     // of the first video track
  double height = 0;
};

Result<ImageSize> readImageSize(const std::string& path);
// Fails for anything that is not an ISO media file with a movie header.
Result<MovieInfo> readMovieInfo(const std::string& path);
// Writes an MP4 file of that length with one video track of that size; false when it cannot.
bool writeMovieFile(const std::string& path, double duration, unsigned width, unsigned height);

}  // namespace plat
