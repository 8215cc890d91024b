#include "WebKitValues.h"

#include <cmath>
#include <memory>

#include "plat/foundation/JSON.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLError.h"
#include "plat/web/BoundedJSON.h"
#include "plat/web/ScriptMessageBody.h"

namespace plat::web {

std::string takeString(char* text) {
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

namespace {

// The host's copies of page values live in a context of WebKit's own, where no page script runs;
// they are read there by the function of plat/web/BoundedJSON.h.

struct Unref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using JSCValueRef = std::unique_ptr<JSCValue, Unref>;

// The function for the context, made once: WebKit makes its copies in one context for the life of
// the process, and every round trip of the bridge reads a value in it. Both are held for the
// life of the process (the context, so that no other takes its address).
JSCValue* readableFunction(JSCContext* context) {
  static JSCContext* madeIn = nullptr;
  static JSCValue* function = nullptr;
  if (context != madeIn) {
    if (function) g_object_unref(function);
    function = makeBoundedJSONReader(context, true);
    if (madeIn) g_object_unref(madeIn);
    madeIn = static_cast<JSCContext*>(g_object_ref(context));
  }
  return function;
}

// The reason the readable function gave, as the host hears it.
std::string reasonOf(const std::string& code) {
  if (code == "values") return UnreadableBody::kTooManyValues;
  if (code == "text") return UnreadableBody::kTooMuchText;
  return UnreadableBody::kTooDeep;
}

// The most JSON text a value within the bounds makes: its text as the reader counts it, and at
// most 40 bytes more for each value (quotes, a key, a number, punctuation: a typed array's element
// "4194303":-1.2345678901234567e-308, takes 35).
constexpr std::size_t kMaxJSONBytes = ScriptMessageBodyReader::kMaxTextBytes + 40 * ScriptMessageBodyReader::kMaxValues;

// A JSON text of WebKit's, read where it lies and freed; nothing past kMaxJSONBytes, which only a
// reader that counted less than JSON writes would let through.
std::optional<Value> parseTaken(char* text, std::optional<UnreadableBody>* unreadable = nullptr) {
  std::string_view json = text ? std::string_view(text) : std::string_view();
  std::optional<Value> out;
  if (json.size() > kMaxJSONBytes) {
    if (unreadable) *unreadable = UnreadableBody{UnreadableBody::kTooMuchText, {}};
  } else if (auto parsed = json::parse(json, {.allowFragments = true})) {
    out = std::move(*parsed);
  }
  g_free(text);
  return out;
}

// The value's JSON text (a string: the string itself, well formed); nothing past the bounds, and
// then why, when asked.
JSCValueRef readable(JSCValue* value, std::optional<UnreadableBody>* unreadable) {
  JSCContext* context = jsc_value_get_context(value);
  JSCValue* function = readableFunction(context);
  JSCValueRef text(function ? jsc_value_function_call(function, JSC_TYPE_VALUE, value, G_TYPE_NONE) : nullptr);
  jsc_context_clear_exception(context);
  if (text && jsc_value_is_string(text.get())) return text;
  if (text && unreadable && jsc_value_is_object(text.get())) {
    JSCValueRef why(jsc_value_object_get_property(text.get(), "why"));
    JSCValueRef head(jsc_value_object_get_property(text.get(), "head"));
    std::optional<Value> headValue = head && jsc_value_is_string(head.get()) ? parseTaken(jsc_value_to_string(head.get()))
                                                                            : std::nullopt;
    *unreadable = UnreadableBody{reasonOf(why ? takeString(jsc_value_to_string(why.get())) : std::string()),
                                 headValue && headValue->isArray() ? std::move(headValue->asArray()) : Array()};
  }
  return nullptr;
}

}  // namespace

Value numberValue(double number) {
  if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 9007199254740992.0 &&
      !(number == 0 && std::signbit(number)))
    return Value(static_cast<std::int64_t>(number));
  return Value(number);
}

std::optional<Value> valueOf(JSCValue* value, std::optional<UnreadableBody>* unreadable) {
  if (!value || jsc_value_is_undefined(value)) return Value();
  if (jsc_value_is_null(value)) return Value::null();
  if (jsc_value_is_function(value)) return std::nullopt;
  if (jsc_value_is_boolean(value)) return Value(static_cast<bool>(jsc_value_to_boolean(value)));
  if (jsc_value_is_number(value)) return numberValue(jsc_value_to_double(value));
  JSCValueRef text = readable(value, unreadable);
  if (!text) return std::nullopt;
  if (jsc_value_is_string(value)) {
    // The text itself, well formed (WebKit's conversion stops at a lone surrogate, and a C string
    // at a NUL), held to the bound.
    GBytes* bytes = jsc_value_to_string_as_bytes(text.get());
    gsize size = 0;
    const char* data = bytes ? static_cast<const char*>(g_bytes_get_data(bytes, &size)) : nullptr;
    std::optional<Value> out;
    if (size <= ScriptMessageBodyReader::kMaxTextBytes)
      out = Value(std::string(data ? data : "", size));
    else if (unreadable)
      *unreadable = UnreadableBody{UnreadableBody::kTooMuchText, {}};
    if (bytes) g_bytes_unref(bytes);
    return out;
  }
  // A date's JSON is a string.
  return parseTaken(jsc_value_to_string(text.get()), unreadable);
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
