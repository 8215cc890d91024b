#pragma once
// Reading the length of a RIFF/WAVE file from its header, without decoding it.
#include <string>

#include "plat/foundation/Result.h"

namespace plat {

struct WAVInfo {
  unsigned channels = 0;
  unsigned sampleRate = 0;
  unsigned bitsPerSample = 0;
  double duration = 0;  // seconds
};

// The format and length of a WAV file. Fails for anything that is not a readable RIFF/WAVE file
// with a "fmt " chunk before its "data" chunk and a non-zero byte rate. A data chunk that claims
// more bytes than the file holds (as streaming writers leave it) counts what is there.
Result<WAVInfo> readWAVInfo(const std::string& path);

}  // namespace plat
