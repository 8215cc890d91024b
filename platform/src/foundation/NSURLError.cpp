#include "plat/foundation/NSURLError.h"

namespace plat {

std::string_view NSURLErrorDescription(long code) {
  switch (code) {
    case NSURLErrorCancelled: return "cancelled";
    case NSURLErrorBadURL: return "bad URL";
    case NSURLErrorTimedOut: return "The request timed out.";
    case NSURLErrorUnsupportedURL: return "unsupported URL";
    case NSURLErrorCannotFindHost: return "A server with the specified hostname could not be found.";
    case NSURLErrorCannotConnectToHost: return "Could not connect to the server.";
    case NSURLErrorNetworkConnectionLost: return "The network connection was lost.";
    case NSURLErrorHTTPTooManyRedirects: return "too many HTTP redirects";
    case NSURLErrorResourceUnavailable: return "The requested resource is unavailable.";
    case NSURLErrorNotConnectedToInternet: return "The Internet connection appears to be offline.";
    case NSURLErrorBadServerResponse: return "bad server response";
    case NSURLErrorCannotDecodeRawData: return "cannot decode raw data";
    case NSURLErrorFileDoesNotExist: return "The requested URL was not found on this server.";
    case NSURLErrorFileIsDirectory: return "file is directory";
    case NSURLErrorNoPermissionsToReadFile: return "You do not have permission to access the requested resource.";
    case NSURLErrorDataLengthExceedsMaximum: return "resource exceeds maximum size";
    case NSURLErrorSecureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case NSURLErrorServerCertificateUntrusted:
      return "The certificate for this server is invalid. You might be connecting to a server that is pretending "
             "to be the server, which could put your confidential information at risk.";
    default: return "unknown error";
  }
}

NSError NSURLErrorWithCode(long code, const NSURLPtr& failingURL) {
  NSError error{NSURLErrorDomain, code, std::string(NSURLErrorDescription(code)), Value()};
  if (failingURL) error.userInfo = Dictionary{{NSURLErrorFailingURLStringErrorKey, failingURL->absoluteString()}};
  return error;
}

}  // namespace plat
