#include "WebKitValues.h"

#include <cmath>

#include "plat/foundation/JSON.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLError.h"

namespace plat::web {

std::string takeString(char* text) {
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

std::optional<Value> valueOf(JSCValue* value) {
  if (!value || jsc_value_is_undefined(value)) return Value();
  if (jsc_value_is_null(value)) return Value::null();
  if (jsc_value_is_function(value)) return std::nullopt;
  if (jsc_value_is_boolean(value)) return Value(static_cast<bool>(jsc_value_to_boolean(value)));
  if (jsc_value_is_string(value)) {
    // WebKit gives no text at all for a string with a lone surrogate; JSON gives the rest of it.
    std::string text = takeString(jsc_value_to_string(value));
    if (!text.empty()) return Value(std::move(text));
  }
  if (jsc_value_is_number(value)) {
    double number = jsc_value_to_double(value);
    if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 9007199254740992.0 &&
        !(number == 0 && std::signbit(number)))
      return Value(static_cast<std::int64_t>(number));
    return Value(number);
  }
  std::string json = takeString(jsc_value_to_json(value, 0));
  if (json.empty()) return std::nullopt;
  // A date's JSON is a string, a string's itself.
  auto parsed = json::parse(json, {.allowFragments = true});
  if (!parsed) return std::nullopt;
  return std::move(*parsed);
}

NSError errorOf(const GError* error, const std::string& uri) {
  NSURLPtr url = NSURL::URLWithString(uri);
  long code = NSURLErrorUnknown;
  if (error->domain == WEBKIT_NETWORK_ERROR) {
    switch (error->code) {
      case WEBKIT_NETWORK_ERROR_CANCELLED: code = NSURLErrorCancelled; break;
      case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST: code = NSURLErrorFileDoesNotExist; break;
      case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL: code = NSURLErrorUnsupportedURL; break;
      case WEBKIT_NETWORK_ERROR_TRANSPORT: code = NSURLErrorNetworkConnectionLost; break;
      default: code = NSURLErrorUnknown; break;
    }
  } else if (error->domain == WEBKIT_POLICY_ERROR) {
    code = error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE ? NSURLErrorCancelled
                                                                                    : NSURLErrorUnsupportedURL;
  } else if (error->domain == G_RESOLVER_ERROR) {
    code = NSURLErrorCannotFindHost;
  } else if (error->domain == G_TLS_ERROR) {
    code = NSURLErrorServerCertificateUntrusted;
  } else if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CANCELLED: code = NSURLErrorCancelled; break;
      case G_IO_ERROR_TIMED_OUT: code = NSURLErrorTimedOut; break;
      case G_IO_ERROR_CONNECTION_REFUSED: code = NSURLErrorCannotConnectToHost; break;
      case G_IO_ERROR_HOST_NOT_FOUND: code = NSURLErrorCannotFindHost; break;
      case G_IO_ERROR_NETWORK_UNREACHABLE:
      case G_IO_ERROR_HOST_UNREACHABLE: code = NSURLErrorNotConnectedToInternet; break;
      case G_IO_ERROR_NOT_FOUND: code = NSURLErrorFileDoesNotExist; break;
      case G_IO_ERROR_PERMISSION_DENIED: code = NSURLErrorNoPermissionsToReadFile; break;
      default: code = NSURLErrorUnknown; break;
    }
  }
  return NSURLErrorWithCode(code, url);
}

WebNavigationType navigationTypeOf(WebKitNavigationType type) {
  switch (type) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED: return WebNavigationType::LinkClicked;
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED: return WebNavigationType::FormSubmitted;
    case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD: return WebNavigationType::BackForward;
    case WEBKIT_NAVIGATION_TYPE_RELOAD: return WebNavigationType::Reload;
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED: return WebNavigationType::FormResubmitted;
    case WEBKIT_NAVIGATION_TYPE_OTHER: return WebNavigationType::Other;
  }
  return WebNavigationType::Other;
}

}  // namespace plat::web
