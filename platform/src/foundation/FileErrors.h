#pragma once
// The file manager's errors, for the platform's other file code (not part of the interface).
#include <string>

#include "plat/foundation/NSError.h"

namespace plat::detail {

// "The file “<name>” couldn’t be saved because <reason for err>." with the file manager's code
// for err (NSFileWriteOutOfSpaceError for a full disk, ...) and userInfo {"NSFilePath",
// "NSPOSIXErrorCode"}. Nothing without an error to fill.
void failSaving(NSError* error, const std::string& path, int err);
// The same with a reason of the caller's ("it is not a regular file") and the code for err.
void failSavingBecause(NSError* error, const std::string& path, int err, const std::string& reason);

}  // namespace plat::detail
