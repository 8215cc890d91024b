#pragma once
// Reads the bytes of a contact photo URL that the page gave. Local files are read only from the
// sandbox home and the application bundle, so a page cannot copy other files into the address
// book; other URLs go through the platform's URL loading, bounded in time and size, and only off
// the main thread (the loading reports on the main thread, which must not wait for itself).
#include <cstddef>
#include <string>

#include "plat/foundation/Result.h"
#include "plat/foundation/Value.h"

namespace harbor {

inline constexpr std::size_t kHBRContactPhotoMaxBytes = 10 * 1024 * 1024;
inline constexpr double kHBRContactPhotoTimeout = 30;

// Any thread (network URLs: not the main one).
plat::Result<plat::Data> readContactPhoto(const std::string& url);

}  // namespace harbor
