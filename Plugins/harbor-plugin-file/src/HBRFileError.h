#pragma once
// The FileError codes of the W3C file system interfaces, with which the File plugin answers
// failures: the whole message of the failure result is the bare code. INVALID_STATE_ERR is
// never sent.
#include <cstdint>

#include "HBRPluginResult.h"

namespace harbor {

enum HBRFileError : std::int32_t {
  NOT_FOUND_ERR = 1,
  SECURITY_ERR = 2,
  ABORT_ERR = 3,
  NOT_READABLE_ERR = 4,
  ENCODING_ERR = 5,
  NO_MODIFICATION_ALLOWED_ERR = 6,
  INVALID_STATE_ERR = 7,
  SYNTAX_ERR = 8,
  INVALID_MODIFICATION_ERR = 9,
  QUOTA_EXCEEDED_ERR = 10,
  TYPE_MISMATCH_ERR = 11,
  PATH_EXISTS_ERR = 12,
};

// A failure answer: the status (IOException for most, Error for some) with the bare code.
inline HBRPluginResultPtr fileErrorResult(HBRCommandStatus status, HBRFileError code) {
  return HBRPluginResult::resultWithStatusMessageAsInt(status, code);
}

}  // namespace harbor
