#include "plat/foundation/Strings.h"
#include "plat/web/JSContext.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include "plat/foundation/JSON.h"

// JavaScriptCore's watchdog: exported by the library, though its header is not installed. The
// callback runs on the script's thread each time a script has run for `limit` seconds of
// processor time; returning true ends that script with an uncatchable termination.
extern "C" {
typedef bool (*JSShouldTerminateCallback)(JSContextRef ctx, void* context);
JS_EXPORT void JSContextGroupSetExecutionTimeLimit(JSContextGroupRef group, double limit,
                                                   JSShouldTerminateCallback callback, void* context);
}

namespace plat {

namespace detail {

struct NativeFunctionData;

// What the context and its handles share. The context clears `ctx` before it releases the
// engine, so handles that outlive it stop touching the engine.
struct JSContextState {
  JSGlobalContextRef ctx = nullptr;
  JSContext* owner = nullptr;

  // Taken before any page script runs, so that a page replacing them cannot change how we
  // convert values. Protected while the context lives.
  JSObjectRef functionPrototype = nullptr;
  JSObjectRef objectKeys = nullptr;
  JSObjectRef objectDefineProperty = nullptr;
  JSObjectRef typeErrorConstructor = nullptr;

  // Finalizers may run on any thread and must not call the engine, but a native function's
  // data may hold handles whose release does. So finalizers only park the data here, and the
  // context's own thread deletes it at its next safe point.
  std::mutex graveyardMutex;
  std::vector<NativeFunctionData*> graveyard;

  void bury(NativeFunctionData* data) {
    std::lock_guard<std::mutex> lock(graveyardMutex);
    graveyard.push_back(data);
  }
  void drainGraveyard();

  // Handles are made only here and by JSContext (JSValue's constructor is private).
  static JSValue handle(const std::shared_ptr<JSContextState>& state, JSValueRef value) {
    return JSValue(state, value);
  }
};

struct NativeFunctionData {
  std::shared_ptr<JSContextState> state;
  JSContext::NativeCallback callback;
};

void JSContextState::drainGraveyard() {
  std::vector<NativeFunctionData*> dead;
  {
    std::lock_guard<std::mutex> lock(graveyardMutex);
    dead.swap(graveyard);
  }
  for (NativeFunctionData* data : dead) delete data;
}

}  // namespace detail

using detail::JSContextState;
using detail::NativeFunctionData;

namespace {

// Arrays longer than this, and conversions producing more values in total, are refused: a page
// can make an array of length 2^32-1 at no cost, and copying its holes would exhaust memory.
constexpr std::size_t kMaxConvertedValues = std::size_t{1} << 22;
// And past this much text in all: one long string met many times over costs a page nothing.
constexpr std::size_t kMaxConvertedTextBytes = std::size_t{1} << 28;

// ---- Text between UTF-8 and the engine's UTF-16 ------------------------------------------------

std::vector<JSChar> utf16FromUTF8(std::string_view s) {
  std::vector<JSChar> out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    auto [cp, n] = decodeUTF8(s, i);
    if (!n) {
      // One replacement per bad byte, as plat::sanitizeUTF8 does.
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<JSChar>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<JSChar>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<JSChar>(cp));
    }
    i += n;
  }
  return out;
}

// Lone surrogates (legal in script strings, not in UTF-8) become U+FFFD; NULs are kept.
std::string utf8FromJSString(JSStringRef string) {
  return utf8FromUTF16(std::u16string_view(reinterpret_cast<const char16_t*>(JSStringGetCharactersPtr(string)),
                                           JSStringGetLength(string)));
}

// An owned JSStringRef.
class JSStr {
 public:
  explicit JSStr(std::string_view utf8) {
    std::vector<JSChar> chars = utf16FromUTF8(utf8);
    ref_ = JSStringCreateWithCharacters(chars.data(), chars.size());
  }
  static JSStr adopt(JSStringRef ref) { return JSStr(ref); }
  JSStr(JSStr&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  JSStr(const JSStr&) = delete;
  JSStr& operator=(const JSStr&) = delete;
  ~JSStr() {
    if (ref_) JSStringRelease(ref_);
  }
  JSStringRef get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }
  std::string utf8() const { return ref_ ? utf8FromJSString(ref_) : std::string(); }

 private:
  explicit JSStr(JSStringRef ref) : ref_(ref) {}
  JSStringRef ref_ = nullptr;
};

JSValueRef makeJSString(JSContextRef ctx, std::string_view utf8) {
  JSStr s(utf8);
  return JSValueMakeString(ctx, s.get());
}

// String(value); nothing when the conversion throws.
std::optional<std::string> stringOf(JSContextRef ctx, JSValueRef value) {
  JSValueRef exception = nullptr;
  JSStringRef s = JSValueToStringCopy(ctx, value, &exception);
  if (!s) return std::nullopt;
  return JSStr::adopt(s).utf8();
}

JSValueRef getProperty(JSContextRef ctx, JSObjectRef object, std::string_view name, JSValueRef* exception) {
  JSStr key(name);
  return JSObjectGetProperty(ctx, object, key.get(), exception);
}

JSException describeException(JSContextRef ctx, JSValueRef thrown) {
  JSException e;
  e.message = stringOf(ctx, thrown).value_or("exception that cannot be converted to text");
  if (JSValueIsObject(ctx, thrown)) {
    JSObjectRef object = JSValueToObject(ctx, thrown, nullptr);
    JSValueRef ignored = nullptr;
    JSValueRef line = getProperty(ctx, object, "line", &ignored);
    if (line && JSValueIsNumber(ctx, line)) {
      double l = JSValueToNumber(ctx, line, nullptr);
      if (l >= 1 && l < 2147483647.0) e.line = static_cast<int>(l);
    }
    JSValueRef url = getProperty(ctx, object, "sourceURL", &ignored);
    if (url && JSValueIsString(ctx, url)) e.sourceURL = stringOf(ctx, url).value_or("");
    JSValueRef stack = getProperty(ctx, object, "stack", &ignored);
    if (stack && JSValueIsString(ctx, stack)) e.stack = stringOf(ctx, stack).value_or("");
  }
  return e;
}

// Reports a thrown value both ways a caller may want it.
Failure failureFrom(JSContextRef ctx, JSValueRef thrown, JSException* out) {
  JSException e = describeException(ctx, thrown);
  Failure f{e.description()};
  if (out) *out = std::move(e);
  return f;
}

JSValueRef makeErrorObject(JSContextState& state, JSContextRef ctx, std::string_view message, bool typeError) {
  JSValueRef text = makeJSString(ctx, message);
  JSValueRef exception = nullptr;
  if (typeError && state.typeErrorConstructor) {
    JSObjectRef e = JSObjectCallAsConstructor(ctx, state.typeErrorConstructor, 1, &text, &exception);
    if (e) return e;
  }
  return JSObjectMakeError(ctx, 1, &text, &exception);
}

// ---- Script values to plat::Value ------------------------------------------------------------

class ToValue {
 public:
  ToValue(JSContextState& state, JSContextRef ctx) : state_(state), ctx_(ctx) {}
  std::string error;

  bool convert(JSValueRef v, Value& out, std::size_t depth) {
    if (++count_ > kMaxConvertedValues) return fail("value too large to convert (more than " +
                                                    std::to_string(kMaxConvertedValues) + " elements)");
    switch (JSValueGetType(ctx_, v)) {
      case kJSTypeUndefined:
      case kJSTypeSymbol:
        out = Value();
        return true;
      case kJSTypeNull:
        out = Value::null();
        return true;
      case kJSTypeBoolean:
        out = JSValueToBoolean(ctx_, v);
        return true;
      case kJSTypeNumber:
        out = number(JSValueToNumber(ctx_, v, nullptr));
        return true;
      case kJSTypeString:
        out = stringOf(ctx_, v).value_or("");
        return counted(out.asString().size());
      case kJSTypeBigInt:
        return fail("a BigInt cannot be converted to a native value");
      case kJSTypeObject:
        return object(v, out, depth);
    }
    return fail("unknown script value type");
  }

  static Value number(double d) {
    // 2^63 is exactly representable; every integral double below it fits an int64.
    if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0 &&
        !(d == 0 && std::signbit(d)))
      return Value(static_cast<std::int64_t>(d));
    return Value(d);
  }

 private:
  JSContextState& state_;
  JSContextRef ctx_;
  std::vector<JSObjectRef> path_;  // the objects being converted, outermost first
  std::size_t count_ = 0;
  std::size_t textBytes_ = 0;

  bool counted(std::size_t bytes) {
    textBytes_ += bytes;
    if (textBytes_ <= kMaxConvertedTextBytes) return true;
    return fail("value too large to convert (more than " + std::to_string(kMaxConvertedTextBytes) + " bytes of text)");
  }

  bool fail(std::string text) {
    if (error.empty()) error = std::move(text);
    return false;
  }
  bool thrown(JSValueRef exception) { return fail(describeException(ctx_, exception).description()); }

  bool object(JSValueRef v, Value& out, std::size_t depth) {
    JSObjectRef obj = JSValueToObject(ctx_, v, nullptr);
    if (!obj) return fail("object could not be read");
    if (JSObjectIsFunction(ctx_, obj)) {
      out = Value();
      return true;
    }
    JSValueRef exception = nullptr;
    JSTypedArrayType typed = JSValueGetTypedArrayType(ctx_, v, &exception);
    if (typed == kJSTypedArrayTypeArrayBuffer) {
      auto* bytes = static_cast<const std::uint8_t*>(JSObjectGetArrayBufferBytesPtr(ctx_, obj, nullptr));
      std::size_t length = JSObjectGetArrayBufferByteLength(ctx_, obj, nullptr);
      out = bytes ? Data(bytes, bytes + length) : Data();  // a detached buffer has no bytes
      return true;
    }
    if (typed != kJSTypedArrayTypeNone) {
      // The pointer is that of the whole buffer; the view starts at its byte offset.
      auto* bytes = static_cast<const std::uint8_t*>(JSObjectGetTypedArrayBytesPtr(ctx_, obj, nullptr));
      std::size_t offset = JSObjectGetTypedArrayByteOffset(ctx_, obj, nullptr);
      std::size_t length = JSObjectGetTypedArrayByteLength(ctx_, obj, nullptr);
      out = bytes ? Data(bytes + offset, bytes + offset + length) : Data();
      return true;
    }
    if (JSValueIsDate(ctx_, v)) {
      // The JSON form: the ISO text, or null for an invalid date.
      JSStringRef json = JSValueCreateJSONString(ctx_, v, 0, nullptr);
      std::string text = json ? JSStr::adopt(json).utf8() : "null";
      out = text.size() >= 2 && text.front() == '"' ? Value(text.substr(1, text.size() - 2)) : Value::null();
      return true;
    }
    if (depth >= json::kMaxDepth) return fail("value nested deeper than " + std::to_string(json::kMaxDepth) + " levels");
    if (std::find(path_.begin(), path_.end(), obj) != path_.end())
      return fail("cyclic structure cannot be converted to a native value");
    path_.push_back(obj);
    bool ok = JSValueIsArray(ctx_, v) ? array(obj, out, depth) : dictionary(obj, out, depth);
    path_.pop_back();
    return ok;
  }

  bool array(JSObjectRef obj, Value& out, std::size_t depth) {
    JSValueRef exception = nullptr;
    JSValueRef lengthValue = getProperty(ctx_, obj, "length", &exception);
    if (exception) return thrown(exception);
    double length = JSValueToNumber(ctx_, lengthValue, nullptr);
    if (!(length >= 0) || length > static_cast<double>(kMaxConvertedValues))
      return fail("array too long to convert (" + std::to_string(static_cast<unsigned long long>(length)) +
                  " elements)");
    // A short array can still be one too many: the whole value is what is too large.
    if (length > static_cast<double>(kMaxConvertedValues - count_))
      return fail("value too large to convert (more than " + std::to_string(kMaxConvertedValues) + " elements)");
    Array items;
    items.reserve(static_cast<std::size_t>(length));
    for (unsigned i = 0; i < static_cast<unsigned>(length); ++i) {
      JSValueRef element = JSObjectGetPropertyAtIndex(ctx_, obj, i, &exception);
      if (exception) return thrown(exception);
      Value item;
      if (!convert(element, item, depth + 1)) return false;
      items.push_back(item.isAbsent() ? Value::null() : std::move(item));
    }
    out = std::move(items);
    return true;
  }

  bool dictionary(JSObjectRef obj, Value& out, std::size_t depth) {
    JSValueRef exception = nullptr;
    JSValueRef argument = obj;
    JSValueRef keys = JSObjectCallAsFunction(ctx_, state_.objectKeys, nullptr, 1, &argument, &exception);
    if (exception) return thrown(exception);
    JSObjectRef keyArray = JSValueToObject(ctx_, keys, nullptr);
    JSValueRef lengthValue = getProperty(ctx_, keyArray, "length", nullptr);
    auto count = static_cast<unsigned>(JSValueToNumber(ctx_, lengthValue, nullptr));
    Dictionary entries;
    entries.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
      JSValueRef keyValue = JSObjectGetPropertyAtIndex(ctx_, keyArray, i, nullptr);
      JSStringRef keyRef = JSValueToStringCopy(ctx_, keyValue, nullptr);
      if (!keyRef) continue;
      JSStr key = JSStr::adopt(keyRef);
      JSValueRef item = JSObjectGetProperty(ctx_, obj, key.get(), &exception);
      if (exception) return thrown(exception);
      Value converted;
      if (!convert(item, converted, depth + 1)) return false;
      if (converted.isAbsent()) continue;
      std::string name = key.utf8();
      if (!counted(name.size())) return false;
      entries.set(std::move(name), std::move(converted));
    }
    out = std::move(entries);
    return true;
  }
};

// ---- plat::Value to script values -------------------------------------------------------------

void freeBytes(void* bytes, void*) { std::free(bytes); }

// Every new object is held in a local (on the stack the collector scans) and filled at once, so
// no intermediate value is ever reachable only from the native heap.
JSValueRef toJS(JSContextState& state, JSContextRef ctx, const Value& v) {
  switch (v.type()) {
    case Value::Type::Absent: return JSValueMakeUndefined(ctx);
    case Value::Type::Null: return JSValueMakeNull(ctx);
    case Value::Type::Bool: return JSValueMakeBoolean(ctx, v.asBool());
    case Value::Type::Int:
    case Value::Type::UInt:
    case Value::Type::Double: return JSValueMakeNumber(ctx, v.asDouble());
    case Value::Type::String: return makeJSString(ctx, v.asString());
    case Value::Type::Data: {
      const Data& d = v.asData();
      void* bytes = std::malloc(d.empty() ? 1 : d.size());
      if (!bytes) return JSValueMakeUndefined(ctx);
      if (!d.empty()) std::memcpy(bytes, d.data(), d.size());
      JSObjectRef buffer = JSObjectMakeArrayBufferWithBytesNoCopy(ctx, bytes, d.size(), freeBytes, nullptr, nullptr);
      if (!buffer) {
        std::free(bytes);
        return JSValueMakeUndefined(ctx);
      }
      return buffer;
    }
    case Value::Type::Array: {
      JSObjectRef array = JSObjectMakeArray(ctx, 0, nullptr, nullptr);
      const Array& items = v.asArray();
      for (std::size_t i = 0; i < items.size(); ++i)
        JSObjectSetPropertyAtIndex(ctx, array, static_cast<unsigned>(i), toJS(state, ctx, items[i]), nullptr);
      return array;
    }
    case Value::Type::Dictionary: {
      JSObjectRef object = JSObjectMake(ctx, nullptr, nullptr);
      for (const auto& [key, item] : v.asDictionary()) {
        JSValueRef value = toJS(state, ctx, item);
        if (key == "__proto__") {
          // A plain assignment would replace the prototype; the data must stay an own property.
          JSObjectRef descriptor = JSObjectMake(ctx, nullptr, nullptr);
          for (const char* flag : {"enumerable", "writable", "configurable"}) {
            JSStr name(flag);
            JSObjectSetProperty(ctx, descriptor, name.get(), JSValueMakeBoolean(ctx, true), kJSPropertyAttributeNone,
                                nullptr);
          }
          JSStr valueName("value");
          JSObjectSetProperty(ctx, descriptor, valueName.get(), value, kJSPropertyAttributeNone, nullptr);
          JSValueRef args[] = {object, makeJSString(ctx, key), descriptor};
          JSObjectCallAsFunction(ctx, state.objectDefineProperty, nullptr, 3, args, nullptr);
          continue;
        }
        JSStr name(key);
        JSObjectSetProperty(ctx, object, name.get(), value, kJSPropertyAttributeNone, nullptr);
      }
      return object;
    }
  }
  return JSValueMakeUndefined(ctx);
}


// ---- Native functions ------------------------------------------------------------------------

// Native code asked for a TypeError (arguments it cannot take), not a plain Error.
struct ArgumentError : JSError {
  using JSError::JSError;
};

JSValueRef callNative(JSContextRef ctx, JSObjectRef function, JSObjectRef thisObject, size_t argumentCount,
                      const JSValueRef arguments[], JSValueRef* exception) {
  auto* data = static_cast<NativeFunctionData*>(JSObjectGetPrivate(function));
  if (!data) return JSValueMakeUndefined(ctx);
  // The function object is on the script's stack, so its data cannot be finalized during the
  // call; the state is copied because the callback may drop the last other reference to it.
  std::shared_ptr<JSContextState> state = data->state;
  if (!state->owner) return JSValueMakeUndefined(ctx);
  JSContext& context = *state->owner;
  std::string message;
  bool typeError = false;
  try {
    JSValueList args;
    args.reserve(argumentCount);
    for (std::size_t i = 0; i < argumentCount; ++i) args.push_back(JSContextState::handle(state, arguments[i]));
    JSValue self = thisObject ? JSContextState::handle(state, thisObject) : context.undefined();
    JSValue result = data->callback(context, self, args);
    // A value of another context (or none) cannot be handed to this one.
    if (!result.ref() || result.context() != &context) return JSValueMakeUndefined(ctx);
    // Unprotected when `result` goes out of scope, but the engine takes the returned value
    // before anything can collect it.
    return result.ref();
  } catch (const ArgumentError& e) {
    message = e.what();
    typeError = true;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "native function failed";
  }
  *exception = makeErrorObject(*state, ctx, message, typeError);
  return JSValueMakeUndefined(ctx);
}

void finalizeNative(JSObjectRef function) {
  auto* data = static_cast<NativeFunctionData*>(JSObjectGetPrivate(function));
  if (data) data->state->bury(data);
}

JSClassRef nativeFunctionClass() {
  // One class for the whole process; it is never released.
  static JSClassRef cls = [] {
    JSClassDefinition definition = kJSClassDefinitionEmpty;
    definition.className = "Function";
    definition.callAsFunction = callNative;
    definition.finalize = finalizeNative;
    return JSClassCreate(&definition);
  }();
  return cls;
}

std::vector<std::string_view> splitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t dot = path.find('.', start);
    if (dot == std::string_view::npos) dot = path.size();
    parts.push_back(path.substr(start, dot - start));
    start = dot + 1;
  }
  return parts;
}

}  // namespace

// ---- JSException -------------------------------------------------------------------------------

std::string JSException::description() const {
  if (line <= 0) return message;
  if (sourceURL.empty()) return "line " + std::to_string(line) + ": " + message;
  return sourceURL + ":" + std::to_string(line) + ": " + message;
}

// ---- JSValue -----------------------------------------------------------------------------------

JSValue::JSValue() noexcept = default;

JSValue::JSValue(std::shared_ptr<JSContextState> state, JSValueRef value) : state_(std::move(state)), value_(value) {
  if (value_ && state_ && state_->ctx) JSValueProtect(state_->ctx, value_);
}

JSValue::JSValue(const JSValue& other) : state_(other.state_), value_(other.value_) {
  if (value_ && state_ && state_->ctx) JSValueProtect(state_->ctx, value_);
}

JSValue::JSValue(JSValue&& other) noexcept
    : state_(std::move(other.state_)), value_(std::exchange(other.value_, nullptr)) {}

JSValue& JSValue::operator=(const JSValue& other) {
  if (this != &other) *this = JSValue(other);
  return *this;
}

JSValue& JSValue::operator=(JSValue&& other) noexcept {
  if (this != &other) {
    if (value_ && state_ && state_->ctx) JSValueUnprotect(state_->ctx, value_);
    state_ = std::move(other.state_);
    value_ = std::exchange(other.value_, nullptr);
  }
  return *this;
}

JSValue::~JSValue() {
  if (value_ && state_ && state_->ctx) JSValueUnprotect(state_->ctx, value_);
}

JSContextRef JSValue::liveContext() const { return value_ && state_ ? state_->ctx : nullptr; }

JSObjectRef JSValue::object() const {
  JSContextRef ctx = liveContext();
  if (!ctx || !JSValueIsObject(ctx, value_)) return nullptr;
  return JSValueToObject(ctx, value_, nullptr);
}

bool JSValue::isValid() const { return liveContext() != nullptr; }

bool JSValue::isUndefined() const {
  JSContextRef ctx = liveContext();
  return !ctx || JSValueIsUndefined(ctx, value_);
}

bool JSValue::isNull() const {
  JSContextRef ctx = liveContext();
  return ctx && JSValueIsNull(ctx, value_);
}

bool JSValue::isBoolean() const {
  JSContextRef ctx = liveContext();
  return ctx && JSValueIsBoolean(ctx, value_);
}

bool JSValue::isNumber() const {
  JSContextRef ctx = liveContext();
  return ctx && JSValueIsNumber(ctx, value_);
}

bool JSValue::isString() const {
  JSContextRef ctx = liveContext();
  return ctx && JSValueIsString(ctx, value_);
}

bool JSValue::isObject() const {
  JSContextRef ctx = liveContext();
  return ctx && JSValueIsObject(ctx, value_);
}

bool JSValue::isArray() const {
  JSContextRef ctx = liveContext();
  return ctx && JSValueIsArray(ctx, value_);
}

bool JSValue::isFunction() const {
  JSObjectRef obj = object();
  return obj && JSObjectIsFunction(liveContext(), obj);
}

bool JSValue::isArrayBuffer() const {
  JSContextRef ctx = liveContext();
  return ctx && JSValueGetTypedArrayType(ctx, value_, nullptr) == kJSTypedArrayTypeArrayBuffer;
}

bool JSValue::isTypedArray() const {
  JSContextRef ctx = liveContext();
  if (!ctx) return false;
  JSTypedArrayType type = JSValueGetTypedArrayType(ctx, value_, nullptr);
  return type != kJSTypedArrayTypeNone && type != kJSTypedArrayTypeArrayBuffer;
}

std::string JSValue::toString() const {
  JSContextRef ctx = liveContext();
  if (!ctx) return "undefined";
  return stringOf(ctx, value_).value_or("");
}

std::optional<std::u16string> JSValue::toUTF16() const {
  JSContextRef ctx = liveContext();
  if (!ctx) return std::nullopt;
  JSValueRef exception = nullptr;
  JSStringRef s = JSValueToStringCopy(ctx, value_, &exception);
  if (!s) return std::nullopt;
  std::u16string out(reinterpret_cast<const char16_t*>(JSStringGetCharactersPtr(s)), JSStringGetLength(s));
  JSStringRelease(s);
  return out;
}

double JSValue::toNumber() const {
  JSContextRef ctx = liveContext();
  if (!ctx) return std::nan("");
  JSValueRef exception = nullptr;
  double d = JSValueToNumber(ctx, value_, &exception);
  return exception ? std::nan("") : d;
}

bool JSValue::toBool() const {
  JSContextRef ctx = liveContext();
  return ctx && JSValueToBoolean(ctx, value_);
}

Result<Value> JSValue::toValue() const {
  JSContextRef ctx = liveContext();
  if (!ctx) return Value();
  ToValue converter(*state_, ctx);
  Value out;
  if (!converter.convert(value_, out, 0)) return Failure{converter.error};
  return out;
}

Result<std::string> JSValue::toJSON(unsigned indent) const {
  JSContextRef ctx = liveContext();
  if (!ctx) return Failure{"value has no JSON form"};
  JSValueRef exception = nullptr;
  JSStringRef json = JSValueCreateJSONString(ctx, value_, indent, &exception);
  if (exception) return failureFrom(ctx, exception, nullptr);
  if (!json) return Failure{"value has no JSON form"};
  return JSStr::adopt(json).utf8();
}

JSValue JSValue::property(std::string_view name) const {
  JSContextRef ctx = liveContext();
  if (!ctx) return JSValue();
  JSObjectRef obj = object();
  JSValueRef exception = nullptr;
  JSValueRef v = obj ? getProperty(ctx, obj, name, &exception) : nullptr;
  return JSContextState::handle(state_, exception || !v ? JSValueMakeUndefined(ctx) : v);
}

bool JSValue::setProperty(std::string_view name, const JSValue& value) const {
  JSObjectRef obj = object();
  if (!obj || value.state_ != state_ || !value.value_) return false;
  JSStr key(name);
  JSValueRef exception = nullptr;
  JSObjectSetProperty(liveContext(), obj, key.get(), value.value_, kJSPropertyAttributeNone, &exception);
  return !exception;
}

bool JSValue::setProperty(std::string_view name, const Value& value) const {
  if (!object()) return false;
  return setProperty(name, state_->owner ? state_->owner->makeValue(value) : JSValue());
}

bool JSValue::hasProperty(std::string_view name) const {
  JSObjectRef obj = object();
  if (!obj) return false;
  JSStr key(name);
  return JSObjectHasProperty(liveContext(), obj, key.get());
}

bool JSValue::deleteProperty(std::string_view name) const {
  JSObjectRef obj = object();
  if (!obj) return false;
  JSStr key(name);
  JSValueRef exception = nullptr;
  bool deleted = JSObjectDeleteProperty(liveContext(), obj, key.get(), &exception);
  return deleted && !exception;
}

JSValue JSValue::at(unsigned index) const {
  JSContextRef ctx = liveContext();
  if (!ctx) return JSValue();
  JSObjectRef obj = object();
  JSValueRef exception = nullptr;
  JSValueRef v = obj ? JSObjectGetPropertyAtIndex(ctx, obj, index, &exception) : nullptr;
  return JSContextState::handle(state_, exception || !v ? JSValueMakeUndefined(ctx) : v);
}

bool JSValue::setAt(unsigned index, const JSValue& value) const {
  JSObjectRef obj = object();
  if (!obj || value.state_ != state_ || !value.value_) return false;
  JSValueRef exception = nullptr;
  JSObjectSetPropertyAtIndex(liveContext(), obj, index, value.value_, &exception);
  return !exception;
}

std::vector<std::string> JSValue::propertyNames() const {
  std::vector<std::string> names;
  JSObjectRef obj = object();
  if (!obj) return names;
  JSContextRef ctx = liveContext();
  JSValueRef argument = obj;
  JSValueRef exception = nullptr;
  JSValueRef keys = JSObjectCallAsFunction(ctx, state_->objectKeys, nullptr, 1, &argument, &exception);
  if (exception || !keys) return names;
  JSValue keyArray = JSContextState::handle(state_, keys);
  auto count = static_cast<unsigned>(keyArray.property("length").toNumber());
  names.reserve(count);
  for (unsigned i = 0; i < count; ++i) names.push_back(keyArray.at(i).toString());
  return names;
}

Result<JSValue> JSValue::call(const JSValueList& arguments, const JSValue& thisObject, JSException* exception) const {
  JSContextRef ctx = liveContext();
  JSObjectRef fn = object();
  if (!fn || !JSObjectIsFunction(ctx, fn)) return Failure{"TypeError: value is not a function"};
  std::vector<JSValueRef> refs;
  refs.reserve(arguments.size());
  for (const JSValue& a : arguments)
    refs.push_back(a.state_ == state_ && a.value_ ? a.value_ : JSValueMakeUndefined(ctx));
  JSObjectRef self = thisObject.state_ == state_ ? thisObject.object() : nullptr;
  JSValueRef thrown = nullptr;
  JSValueRef result = JSObjectCallAsFunction(ctx, fn, self, refs.size(), refs.data(), &thrown);
  if (state_->ctx) state_->drainGraveyard();
  if (thrown) return failureFrom(ctx, thrown, exception);
  return JSContextState::handle(state_, result ? result : JSValueMakeUndefined(ctx));
}

Result<JSValue> JSValue::callWithArguments(const Array& arguments, JSException* exception) const {
  if (!isValid() || !state_->owner) return Failure{"TypeError: value is not a function"};
  JSValueList values;
  values.reserve(arguments.size());
  for (const Value& a : arguments) values.push_back(state_->owner->makeValue(a));
  return call(values, JSValue(), exception);
}

Result<JSValue> JSValue::construct(const JSValueList& arguments, JSException* exception) const {
  JSContextRef ctx = liveContext();
  JSObjectRef fn = object();
  if (!fn || !JSObjectIsConstructor(ctx, fn)) return Failure{"TypeError: value is not a constructor"};
  std::vector<JSValueRef> refs;
  refs.reserve(arguments.size());
  for (const JSValue& a : arguments)
    refs.push_back(a.state_ == state_ && a.value_ ? a.value_ : JSValueMakeUndefined(ctx));
  JSValueRef thrown = nullptr;
  JSObjectRef result = JSObjectCallAsConstructor(ctx, fn, refs.size(), refs.data(), &thrown);
  if (thrown) return failureFrom(ctx, thrown, exception);
  return JSContextState::handle(state_, result ? static_cast<JSValueRef>(result) : JSValueMakeUndefined(ctx));
}

bool JSValue::strictEquals(const JSValue& other) const {
  JSContextRef ctx = liveContext();
  if (!ctx || other.state_ != state_ || !other.value_) return !ctx && !other.liveContext();
  return JSValueIsStrictEqual(ctx, value_, other.value_);
}

JSContext* JSValue::context() const { return liveContext() ? state_->owner : nullptr; }

JSContextRef JSValue::contextRef() const { return liveContext(); }

// ---- JSContext ---------------------------------------------------------------------------------

namespace {

std::atomic<bool> gScriptsStopped{false};

// Asked by the watchdog, so a running script can be stopped from another thread: the main
// thread may be stuck inside a page's endless loop when the stop request comes. The watchdog
// asks once per limit set, so a script allowed to go on sets the limit again.
bool shouldTerminateScript(JSContextRef ctx, void*) {
  if (gScriptsStopped.load(std::memory_order_relaxed)) return true;
  JSContextGroupSetExecutionTimeLimit(JSContextGetGroup(ctx), JSContext::kStopCheckSeconds, shouldTerminateScript,
                                      nullptr);
  return false;
}

}  // namespace

void JSContext::stopAllScripts() { gScriptsStopped.store(true); }
bool JSContext::scriptsStopped() { return gScriptsStopped.load(); }
void JSContext::resetStopAllScripts() { gScriptsStopped.store(false); }

JSContext::JSContext() : state_(std::make_shared<JSContextState>()) {
  JSGlobalContextRef ctx = JSGlobalContextCreate(nullptr);
  JSContextGroupSetExecutionTimeLimit(JSContextGetGroup(ctx), kStopCheckSeconds, shouldTerminateScript, nullptr);
  state_->ctx = ctx;
  state_->owner = this;
  JSObjectRef global = JSContextGetGlobalObject(ctx);
  auto take = [&](JSObjectRef from, const char* name) {
    JSValueRef v = getProperty(ctx, from, name, nullptr);
    JSObjectRef obj = v && JSValueIsObject(ctx, v) ? JSValueToObject(ctx, v, nullptr) : nullptr;
    if (obj) JSValueProtect(ctx, obj);
    return obj;
  };
  JSObjectRef functionConstructor = take(global, "Function");
  state_->functionPrototype = take(functionConstructor, "prototype");
  JSValueUnprotect(ctx, functionConstructor);
  JSObjectRef objectConstructor = take(global, "Object");
  state_->objectKeys = take(objectConstructor, "keys");
  state_->objectDefineProperty = take(objectConstructor, "defineProperty");
  JSValueUnprotect(ctx, objectConstructor);
  state_->typeErrorConstructor = take(global, "TypeError");
}

JSContext::~JSContext() {
  JSGlobalContextRef ctx = state_->ctx;
  for (JSObjectRef kept : {state_->functionPrototype, state_->objectKeys, state_->objectDefineProperty,
                           state_->typeErrorConstructor})
    if (kept) JSValueUnprotect(ctx, kept);
  // From here on, handles that outlive the context (also those inside native functions'
  // captures, deleted below) release nothing.
  state_->owner = nullptr;
  state_->ctx = nullptr;
  JSGlobalContextRelease(ctx);
  state_->drainGraveyard();
}

JSGlobalContextRef JSContext::ref() const { return state_->ctx; }

JSValue JSContext::wrap(JSValueRef value) { return JSContextState::handle(state_, value); }

Result<JSValue> JSContext::evaluate(std::string_view script, std::string_view sourceURL, int startingLine,
                                    JSException* exception) {
  JSGlobalContextRef ctx = state_->ctx;
  JSStr source(script);
  std::optional<JSStr> url;
  if (!sourceURL.empty()) url.emplace(sourceURL);
  JSValueRef thrown = nullptr;
  JSValueRef result = JSEvaluateScript(ctx, source.get(), nullptr, url ? url->get() : nullptr, startingLine, &thrown);
  state_->drainGraveyard();
  if (thrown) return failureFrom(ctx, thrown, exception);
  return wrap(result ? result : JSValueMakeUndefined(ctx));
}

Result<bool> JSContext::checkSyntax(std::string_view script, std::string_view sourceURL, int startingLine) {
  JSStr source(script);
  std::optional<JSStr> url;
  if (!sourceURL.empty()) url.emplace(sourceURL);
  JSValueRef thrown = nullptr;
  bool ok = JSCheckScriptSyntax(state_->ctx, source.get(), url ? url->get() : nullptr, startingLine, &thrown);
  if (thrown) return failureFrom(state_->ctx, thrown, nullptr);
  if (!ok) return Failure{"SyntaxError"};
  return true;
}

JSValue JSContext::globalObject() { return wrap(JSContextGetGlobalObject(state_->ctx)); }
JSValue JSContext::undefined() { return wrap(JSValueMakeUndefined(state_->ctx)); }
JSValue JSContext::null() { return wrap(JSValueMakeNull(state_->ctx)); }
JSValue JSContext::makeValue(const Value& value) { return wrap(toJS(*state_, state_->ctx, value)); }
JSValue JSContext::makeString(std::string_view utf8) { return wrap(makeJSString(state_->ctx, utf8)); }
JSValue JSContext::makeStringUTF16(std::u16string_view units) {
  static_assert(sizeof(JSChar) == sizeof(char16_t));
  JSStringRef s = JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(units.data()), units.size());
  JSValueRef value = JSValueMakeString(state_->ctx, s);
  JSStringRelease(s);
  return wrap(value);
}
JSValue JSContext::makeNumber(double number) { return wrap(JSValueMakeNumber(state_->ctx, number)); }
JSValue JSContext::makeBool(bool value) { return wrap(JSValueMakeBoolean(state_->ctx, value)); }
JSValue JSContext::makeObject() { return wrap(JSObjectMake(state_->ctx, nullptr, nullptr)); }

JSValue JSContext::makeArray(const JSValueList& elements) {
  std::vector<JSValueRef> refs;
  refs.reserve(elements.size());
  for (const JSValue& e : elements)
    refs.push_back(e.context() == this ? e.ref() : JSValueMakeUndefined(state_->ctx));
  return wrap(JSObjectMakeArray(state_->ctx, refs.size(), refs.data(), nullptr));
}

JSValue JSContext::makeError(std::string_view message) {
  return wrap(makeErrorObject(*state_, state_->ctx, message, false));
}

JSValue JSContext::makeFunction(std::string_view name, NativeCallback callback) {
  state_->drainGraveyard();
  JSGlobalContextRef ctx = state_->ctx;
  auto* data = new NativeFunctionData{state_, std::move(callback)};
  JSObjectRef fn = JSObjectMake(ctx, nativeFunctionClass(), data);
  if (!name.empty()) {
    // Before the prototype is set: the engine defines an own property only when the name is not
    // found along the chain, and Function.prototype has a read-only one.
    JSStr key("name");
    JSObjectSetProperty(ctx, fn, key.get(), makeJSString(ctx, name),
                        kJSPropertyAttributeReadOnly | kJSPropertyAttributeDontEnum, nullptr);
  }
  // Gives the object call, apply and bind like any script function.
  if (state_->functionPrototype) JSObjectSetPrototype(ctx, fn, state_->functionPrototype);
  return wrap(fn);
}

JSValue JSContext::makeFunction(std::string_view name, NativeFunction function) {
  return makeFunction(name, NativeCallback([function = std::move(function)](
                                               JSContext& context, const JSValue&, const JSValueList& arguments) {
    Array values;
    values.reserve(arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      Result<Value> v = arguments[i].toValue();
      if (!v) throw ArgumentError("argument " + std::to_string(i + 1) + " cannot be passed to native code: " + v.error());
      values.push_back(std::move(*v));
    }
    return context.makeValue(function(values));
  }));
}

Result<JSValue> JSContext::parseJSON(std::string_view json) {
  JSStr text(json);
  JSValueRef v = JSValueMakeFromJSONString(state_->ctx, text.get());
  if (!v) return Failure{"JSON text could not be parsed"};
  return wrap(v);
}

JSValue JSContext::valueAtPath(std::string_view path) {
  JSValue current = globalObject();
  for (std::string_view part : splitPath(path)) {
    if (!current.isObject()) return undefined();
    current = current.property(part);
  }
  return current;
}

Result<JSValue> JSContext::setValueAtPath(std::string_view path, const JSValue& value) {
  std::vector<std::string_view> parts = splitPath(path);
  for (std::string_view part : parts)
    if (part.empty()) return Failure{"invalid property path \"" + std::string(path) + "\""};
  JSValue current = globalObject();
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    JSValue next = current.property(parts[i]);
    if (next.isUndefined() || next.isNull()) {
      next = makeObject();
      if (!current.setProperty(parts[i], next)) return Failure{"cannot create \"" + std::string(parts[i]) + "\""};
    } else if (!next.isObject()) {
      return Failure{"\"" + std::string(parts[i]) + "\" in \"" + std::string(path) + "\" is not an object"};
    }
    current = std::move(next);
  }
  if (!current.setProperty(parts.back(), value))
    return Failure{"cannot set \"" + std::string(path) + "\""};
  return value;
}

Result<JSValue> JSContext::setValueAtPath(std::string_view path, const Value& value) {
  return setValueAtPath(path, makeValue(value));
}

Result<JSValue> JSContext::defineFunction(std::string_view path, NativeFunction function) {
  std::string_view name = path.substr(path.rfind('.') == std::string_view::npos ? 0 : path.rfind('.') + 1);
  return setValueAtPath(path, makeFunction(name, std::move(function)));
}

Result<JSValue> JSContext::defineFunction(std::string_view path, NativeCallback callback) {
  std::string_view name = path.substr(path.rfind('.') == std::string_view::npos ? 0 : path.rfind('.') + 1);
  return setValueAtPath(path, makeFunction(name, std::move(callback)));
}

void JSContext::garbageCollect() {
  JSGarbageCollect(state_->ctx);
  state_->drainGraveyard();
}

}  // namespace plat
