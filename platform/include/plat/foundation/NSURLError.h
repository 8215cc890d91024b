#pragma once
// Errors of the URL loading system: the domain, the codes the platform uses and their
// descriptions as the platform words them.
#include <string_view>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURL.h"

namespace plat {

inline constexpr char NSURLErrorDomain[] = "NSURLErrorDomain";
// userInfo keys of URL errors.
inline constexpr char NSURLErrorFailingURLStringErrorKey[] = "NSErrorFailingURLStringKey";

enum NSURLErrorCode : long {
  NSURLErrorUnknown = -1,
  NSURLErrorCancelled = -999,
  NSURLErrorBadURL = -1000,
  NSURLErrorTimedOut = -1001,
  NSURLErrorUnsupportedURL = -1002,
  NSURLErrorCannotFindHost = -1003,
  NSURLErrorCannotConnectToHost = -1004,
  NSURLErrorNetworkConnectionLost = -1005,
  NSURLErrorHTTPTooManyRedirects = -1007,
  NSURLErrorResourceUnavailable = -1008,
  NSURLErrorNotConnectedToInternet = -1009,
  NSURLErrorBadServerResponse = -1011,
  NSURLErrorCannotDecodeRawData = -1015,
  NSURLErrorFileDoesNotExist = -1100,
  NSURLErrorFileIsDirectory = -1101,
  NSURLErrorNoPermissionsToReadFile = -1102,
  NSURLErrorDataLengthExceedsMaximum = -1103,
  NSURLErrorSecureConnectionFailed = -1200,
  NSURLErrorServerCertificateUntrusted = -1202,
};

// The platform's description of a URL error code ("cancelled", "unsupported URL", ...).
std::string_view NSURLErrorDescription(long code);
// An error of NSURLErrorDomain with that code, its description, and the failing URL in userInfo
// when one is given.
NSError NSURLErrorWithCode(long code, const NSURLPtr& failingURL = nullptr);

}  // namespace plat
