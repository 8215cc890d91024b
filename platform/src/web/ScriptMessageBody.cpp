#include "plat/web/ScriptMessageBody.h"

#include <JavaScriptCore/JavaScript.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "plat/foundation/JSON.h"
#include "plat/foundation/Strings.h"

// An ES Proxy's target (null for anything else): exported by the library, though its header
// (JSObjectRefPrivate.h) is not installed.
extern "C" JS_EXPORT JSObjectRef JSObjectGetProxyTarget(JSObjectRef object);

namespace plat::web {

// The built-ins the reader calls, as the context had them before any page script ran.
struct ScriptMessageBodyReader::Builtins {
  JSValue objectToString, objectKeys, dateToISOString, regExpSource, booleanValueOf, numberValueOf, stringValueOf,
      bigIntValueOf, symbolValueOf, dataViewByteLength;
  JSValue math, json, reflect, atomics, intl, global;
  bool ok = false;
};

namespace {

constexpr char kBuiltinsScript[] = R"JS((function () {
  'use strict';
  function getter(o, name) { var d = Object.getOwnPropertyDescriptor(o, name); return d ? d.get : null; }
  return [Object.prototype.toString, Object.keys, Date.prototype.toISOString, getter(RegExp.prototype, 'source'),
          Boolean.prototype.valueOf, Number.prototype.valueOf, String.prototype.valueOf,
          typeof BigInt === 'function' ? BigInt.prototype.valueOf : null, Symbol.prototype.valueOf,
          getter(DataView.prototype, 'byteLength'),
          Math, JSON, Reflect, typeof Atomics === 'object' ? Atomics : null, typeof Intl === 'object' ? Intl : null,
          globalThis];
})())JS";

std::u16string_view unitsOf(JSStringRef string) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(JSStringGetCharactersPtr(string)), JSStringGetLength(string));
}

std::string utf8Of(JSStringRef string) { return utf8FromUTF16(unitsOf(string)); }

// A text of the body: as the host reads it (a lone surrogate U+FFFD), and its bytes as JSON
// writes it inside a container, counted from the page's own units (a lone surrogate \udXXX).
struct Text {
  std::string utf8;
  std::size_t jsonBytes = 0;
};
Text textOf(std::u16string_view units) { return {utf8FromUTF16(units), ScriptMessageBodyReader::jsonTextBytes(units)}; }

// String(value) of a value known to be a string, as a text of the body.
Text textOf(JSContextRef ctx, JSValueRef value) {
  JSStringRef s = JSValueToStringCopy(ctx, value, nullptr);
  if (!s) return {};
  Text out = textOf(unitsOf(s));
  JSStringRelease(s);
  return out;
}

// String(value) of a value known to be a string.
std::string stringOf(JSContextRef ctx, JSValueRef value) { return textOf(ctx, value).utf8; }

// What WebKit's page side makes of a body before the message leaves the page: a graph (objects
// keep their identity, so cycles and shared parts stay as they were), with the page's getters
// read once and everything that is not copied left out.
struct Copy {
  enum class Kind : std::uint8_t { Undefined, Null, Bool, Number, String, Array, Object, Elements };
  struct Node {
    Kind kind = Kind::Undefined;
    bool boolean = false;
    double number = 0;
    std::uint32_t index = 0;  // String: into texts; Array, Object: into containers; Elements: into elements
  };
  struct Container {
    std::vector<std::uint32_t> items;
    std::vector<Text> keys;  // an object's, one per item; none for an array
  };
  std::vector<Node> nodes;
  std::vector<Text> texts;
  std::vector<Container> containers;
  std::vector<std::vector<double>> elements;  // a typed array's element values
};

// Makes the copy. Objects met again are not copied again; containers below the depth the host
// can read are not looked into.
class Copier {
 public:
  Copier(JSContextRef ctx, const ScriptMessageBodyReader::Builtins& builtins) : ctx_(ctx), b_(builtins) {}
  ~Copier() {
    for (JSObjectRef kept : kept_) JSValueUnprotect(ctx_, kept);
  }

  bool notSent = false;   // WebKit would send no message
  bool tooDeep = false;   // a container below the depth the host reads
  bool tooLarge = false;  // more values than kMaxValues, or more text than kMaxTextBytes
  const char* why = nullptr;  // the first bound passed
  Copy copy;

  std::uint32_t take(JSValueRef v, std::size_t depth) {
    if (stopped() || !room(1)) return 0;
    switch (JSValueGetType(ctx_, v)) {
      case kJSTypeUndefined:
      case kJSTypeBigInt:  // as undefined: null in an array, left out of an object
        return add({Copy::Kind::Undefined});
      case kJSTypeNull:
        return add({Copy::Kind::Null});
      case kJSTypeBoolean:
        return add({Copy::Kind::Bool, JSValueToBoolean(ctx_, v)});
      case kJSTypeNumber:
        return add({Copy::Kind::Number, false, JSValueToNumber(ctx_, v, nullptr)});
      case kJSTypeString:
        return text(textOf(ctx_, v), depth);
      case kJSTypeSymbol:
        notSent = true;
        return 0;
      case kJSTypeObject:
        return object(v, depth);
    }
    notSent = true;
    return 0;
  }

 private:
  JSContextRef ctx_;
  const ScriptMessageBodyReader::Builtins& b_;
  std::unordered_map<JSObjectRef, std::uint32_t> seen_;
  std::vector<JSObjectRef> kept_;  // protected while the copy is made: a getter may drop the last reference
  std::size_t values_ = 0;         // nodes and typed arrays' elements
  std::size_t textBytes_ = 0;      // of texts and keys

  bool stopped() const { return notSent || tooLarge; }

  std::uint32_t add(Copy::Node node) {
    ++values_;
    copy.nodes.push_back(node);
    return static_cast<std::uint32_t>(copy.nodes.size() - 1);
  }
  // A text at depth (0: the whole body), counted as the bounds count it.
  std::uint32_t text(Text s, std::size_t depth) {
    if (!textRoom(depth > 0 ? s.jsonBytes : s.utf8.size())) return 0;
    copy.texts.push_back(std::move(s));
    return add({Copy::Kind::String, false, 0, static_cast<std::uint32_t>(copy.texts.size() - 1)});
  }
  std::uint32_t container(Copy::Kind kind) {
    copy.containers.emplace_back();
    return add({kind, false, 0, static_cast<std::uint32_t>(copy.containers.size() - 1)});
  }
  // A container whose contents are looked into: remembered, so that meeting it again (a cycle,
  // a shared part) refers to the same node.
  std::uint32_t remembered(JSObjectRef o, Copy::Kind kind) {
    std::uint32_t n = container(kind);
    seen_.emplace(o, n);
    JSValueProtect(ctx_, o);
    kept_.push_back(o);
    return n;
  }

  // fn.call(thisObject); false when it throws (a brand check that fails, an invalid date).
  bool call(const JSValue& fn, JSObjectRef thisObject, JSValueRef* result = nullptr) {
    if (!fn.isObject()) return false;
    JSValueRef exception = nullptr;
    JSValueRef r = JSObjectCallAsFunction(ctx_, JSValueToObject(ctx_, fn.ref(), nullptr), thisObject, 0, nullptr, &exception);
    if (exception || !r) return false;
    if (result) *result = r;
    return true;
  }
  bool same(JSObjectRef o, const JSValue& builtin) const {
    return builtin.isObject() && JSValueIsStrictEqual(ctx_, o, builtin.ref());
  }

  std::uint32_t object(JSValueRef v, std::size_t depth) {
    JSObjectRef o = JSValueToObject(ctx_, v, nullptr);
    if (!o) {
      notSent = true;
      return 0;
    }
    if (auto it = seen_.find(o); it != seen_.end()) return it->second;
    if (JSObjectIsFunction(ctx_, o) || JSObjectGetProxyTarget(o) || same(o, b_.global)) {
      notSent = true;
      return 0;
    }
    if (JSValueIsArray(ctx_, v)) return array(o, depth);
    if (JSValueIsDate(ctx_, v)) {
      JSValueRef iso = nullptr;
      if (call(b_.dateToISOString, o, &iso) && JSValueIsString(ctx_, iso)) return text(textOf(ctx_, iso), depth);
      return add({Copy::Kind::Null});  // an invalid date
    }
    JSTypedArrayType typed = JSValueGetTypedArrayType(ctx_, v, nullptr);
    if (typed == kJSTypedArrayTypeArrayBuffer) return container(Copy::Kind::Object);
    if (typed != kJSTypedArrayTypeNone) return elements(o, typed);

    JSValueRef tagValue = nullptr;
    if (!call(b_.objectToString, o, &tagValue)) {
      notSent = true;
      return 0;
    }
    std::string tag = stringOf(ctx_, tagValue);  // "[object Tag]"
    tag = tag.size() > 9 ? tag.substr(8, tag.size() - 9) : std::string();
    if (tag == "Object" || tag == "Map" || tag == "Set") return plain(o, depth);
    if (tag == "Error" || tag == "ArrayBuffer" || tag == "SharedArrayBuffer") return container(Copy::Kind::Object);
    if ((tag == "RegExp" && call(b_.regExpSource, o)) || (tag == "Number" && call(b_.numberValueOf, o)) ||
        (tag == "Boolean" && call(b_.booleanValueOf, o)) || (tag == "BigInt" && call(b_.bigIntValueOf, o)) ||
        (tag == "DataView" && call(b_.dataViewByteLength, o)))
      return container(Copy::Kind::Object);
    JSValueRef primitive = nullptr;
    if (tag == "String" && call(b_.stringValueOf, o, &primitive)) return characters(o, primitive, depth);
    if ((tag == "Symbol" && call(b_.symbolValueOf, o)) || same(o, b_.math) || same(o, b_.json) || same(o, b_.reflect) ||
        same(o, b_.atomics) || same(o, b_.intl) || tag == "Arguments" || tag == "Promise" || tag == "WeakMap" ||
        tag == "WeakSet" || tag == "WeakRef" || tag == "FinalizationRegistry" || tag == "Generator" ||
        tag == "AsyncGenerator" || endsWith(tag, " Iterator") || startsWith(tag, "Intl.")) {
      notSent = true;
      return 0;
    }
    return plain(o, depth);
  }

  // Whether count more values fit; a page makes an array of any length, and refers to one string
  // or typed array any number of times, at no cost.
  bool room(double count) {
    if (count <= static_cast<double>(ScriptMessageBodyReader::kMaxValues - std::min(values_, ScriptMessageBodyReader::kMaxValues)))
      return true;
    return passed(UnreadableBody::kTooManyValues);
  }
  bool textRoom(std::size_t bytes) {
    if (bytes <= ScriptMessageBodyReader::kMaxTextBytes - textBytes_) {
      textBytes_ += bytes;
      return true;
    }
    return passed(UnreadableBody::kTooMuchText);
  }
  bool passed(const char* reason) {
    tooLarge = true;
    if (!why) why = reason;
    return false;
  }

  // A container past the depth the host reads.
  bool beyondDepth(std::size_t depth) {
    if (depth < json::kMaxDepth) return false;
    tooDeep = true;
    if (!why) why = UnreadableBody::kTooDeep;
    return true;
  }
  // An array's "length", 0 when it is not a number of at least 0.
  double lengthOf(JSObjectRef o, JSValueRef* exception) {
    JSStringRef name = JSStringCreateWithUTF8CString("length");
    JSValueRef value = JSObjectGetProperty(ctx_, o, name, exception);
    JSStringRelease(name);
    double length = value ? JSValueToNumber(ctx_, value, nullptr) : 0;
    return length >= 0 ? length : 0;
  }

  // Reads an item of container c, got with exception, and adds it; false when the walk stops
  // (a getter threw, or a bound was passed), the item not added.
  bool addPart(std::uint32_t c, JSValueRef item, JSValueRef exception, std::size_t depth) {
    if (exception) {
      notSent = true;
      return false;
    }
    std::uint32_t child = take(item, depth + 1);
    if (stopped()) return false;
    copy.containers[c].items.push_back(child);
    return true;
  }

  std::uint32_t array(JSObjectRef o, std::size_t depth) {
    if (beyondDepth(depth)) return 0;
    JSValueRef exception = nullptr;
    double length = lengthOf(o, &exception);
    if (exception) {
      notSent = true;
      return 0;
    }
    if (!room(length)) return 0;
    std::uint32_t n = remembered(o, Copy::Kind::Array);
    std::uint32_t c = copy.nodes[n].index;
    for (unsigned i = 0; i < static_cast<unsigned>(length); ++i) {
      JSValueRef item = JSObjectGetPropertyAtIndex(ctx_, o, i, &exception);
      if (!addPart(c, item, exception, depth)) return n;
    }
    return n;
  }

  std::uint32_t plain(JSObjectRef o, std::size_t depth) {
    if (beyondDepth(depth)) return 0;
    JSValueRef exception = nullptr;
    JSValueRef argument = o;
    JSObjectRef keysFunction = b_.objectKeys.isObject() ? JSValueToObject(ctx_, b_.objectKeys.ref(), nullptr) : nullptr;
    JSValueRef keys = keysFunction ? JSObjectCallAsFunction(ctx_, keysFunction, nullptr, 1, &argument, &exception) : nullptr;
    JSObjectRef keyArray = keys && !exception ? JSValueToObject(ctx_, keys, nullptr) : nullptr;
    if (!keyArray) {
      notSent = true;
      return 0;
    }
    double count = lengthOf(keyArray, nullptr);
    if (!room(count)) return 0;
    std::uint32_t n = remembered(o, Copy::Kind::Object);
    std::uint32_t c = copy.nodes[n].index;
    for (unsigned i = 0; i < static_cast<unsigned>(count); ++i) {
      JSStringRef key = JSValueToStringCopy(ctx_, JSObjectGetPropertyAtIndex(ctx_, keyArray, i, nullptr), nullptr);
      if (!key) continue;
      JSValueRef item = JSObjectGetProperty(ctx_, o, key, &exception);
      Text name = textOf(unitsOf(key));
      JSStringRelease(key);
      if (!textRoom(name.jsonBytes) || !addPart(c, item, exception, depth)) return n;
      copy.containers[c].keys.push_back(std::move(name));
    }
    return n;
  }

  // A String object: its characters by index, each one UTF-16 unit (half of a pair is a lone
  // surrogate).
  std::uint32_t characters(JSObjectRef o, JSValueRef primitive, std::size_t depth) {
    if (beyondDepth(depth)) return 0;
    JSStringRef s = JSValueToStringCopy(ctx_, primitive, nullptr);
    if (!s) return container(Copy::Kind::Object);
    std::u16string units(reinterpret_cast<const char16_t*>(JSStringGetCharactersPtr(s)), JSStringGetLength(s));
    JSStringRelease(s);
    if (!room(static_cast<double>(units.size()))) return 0;
    std::uint32_t n = remembered(o, Copy::Kind::Object);
    std::uint32_t c = copy.nodes[n].index;
    for (std::size_t i = 0; i < units.size(); ++i) {
      std::uint32_t child = text(textOf(std::u16string_view(&units[i], 1)), depth + 1);
      if (stopped()) return n;
      copy.containers[c].items.push_back(child);
      std::string index = std::to_string(i);
      copy.containers[c].keys.push_back({index, index.size()});
    }
    return n;
  }

  // A typed array's elements, read from its bytes; a BigInt64Array's are BigInts, which JSON
  // leaves out.
  std::uint32_t elements(JSObjectRef o, JSTypedArrayType type) {
    std::vector<double> values;
    if (type != kJSTypedArrayTypeBigInt64Array && type != kJSTypedArrayTypeBigUint64Array) {
      std::size_t length = JSObjectGetTypedArrayLength(ctx_, o, nullptr);
      if (!room(static_cast<double>(length))) return 0;
      const auto* bytes = static_cast<const unsigned char*>(JSObjectGetTypedArrayBytesPtr(ctx_, o, nullptr));
      if (bytes) bytes += JSObjectGetTypedArrayByteOffset(ctx_, o, nullptr);
      values_ += length;
      values.reserve(bytes ? length : 0);
      for (std::size_t i = 0; bytes && i < length; ++i) values.push_back(element(type, bytes, i));
    }
    copy.elements.push_back(std::move(values));
    return add({Copy::Kind::Elements, false, 0, static_cast<std::uint32_t>(copy.elements.size() - 1)});
  }

  template <class T>
  static double at(const unsigned char* bytes, std::size_t i) {
    T v;
    std::memcpy(&v, bytes + i * sizeof(T), sizeof(T));
    return static_cast<double>(v);
  }
  static double element(JSTypedArrayType type, const unsigned char* bytes, std::size_t i) {
    switch (type) {
      case kJSTypedArrayTypeInt8Array: return at<std::int8_t>(bytes, i);
      case kJSTypedArrayTypeInt16Array: return at<std::int16_t>(bytes, i);
      case kJSTypedArrayTypeInt32Array: return at<std::int32_t>(bytes, i);
      case kJSTypedArrayTypeUint8Array:
      case kJSTypedArrayTypeUint8ClampedArray: return at<std::uint8_t>(bytes, i);
      case kJSTypedArrayTypeUint16Array: return at<std::uint16_t>(bytes, i);
      case kJSTypedArrayTypeUint32Array: return at<std::uint32_t>(bytes, i);
      case kJSTypedArrayTypeFloat32Array: return at<float>(bytes, i);
      case kJSTypedArrayTypeFloat64Array: return at<double>(bytes, i);
      default: return 0;
    }
  }
};

// The host's reading of the copy, as JSON.stringify and the platform's JSON reader make it.
class HostReading {
 public:
  HostReading(JSContextRef ctx, const Copy& copy) : ctx_(ctx), copy_(copy), onPath_(copy.nodes.size(), false) {}

  const char* why = nullptr;  // why the body could not be read

  // A number inside the body, as the host reads it.
  Value element(double d) const { return number(d); }

  // The whole body: a number, a string or nothing as itself; a container as JSON carries it,
  // absent when JSON cannot.
  Value body(std::uint32_t root) {
    const Copy::Node& node = copy_.nodes[root];
    switch (node.kind) {
      case Copy::Kind::Undefined: return Value();
      case Copy::Kind::Number: return bodyNumber(node.number);
      default: {
        std::optional<Value> v = read(root, 0);
        return v ? std::move(*v) : Value();
      }
    }
  }

 private:
  JSContextRef ctx_;
  const Copy& copy_;
  std::vector<bool> onPath_;  // the containers being read, for cycles
  std::size_t count_ = 0;
  std::size_t textBytes_ = 0;  // a part met again is read again, its texts with it

  bool textRoom(std::size_t bytes) {
    if (bytes > ScriptMessageBodyReader::kMaxTextBytes - textBytes_) return failed(UnreadableBody::kTooMuchText);
    textBytes_ += bytes;
    return true;
  }
  bool failed(const char* reason) {
    if (!why) why = reason;
    return false;
  }

  // A number that is the whole body, as WebKit's engine converts one.
  static Value bodyNumber(double d) {
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9007199254740992.0 && !(d == 0 && std::signbit(d)))
      return Value(static_cast<std::int64_t>(d));
    return Value(d);
  }

  // A number inside the body: what its JSON text reads as.
  Value number(double d) const {
    if (!std::isfinite(d)) return Value::null();
    if (d == std::trunc(d) && std::fabs(d) < 9007199254740992.0) return Value(static_cast<std::int64_t>(d));
    JSStringRef s = JSValueToStringCopy(ctx_, JSValueMakeNumber(ctx_, d), nullptr);
    if (!s) return Value(d);
    std::string textForm = utf8Of(s);
    JSStringRelease(s);
    auto parsed = json::parse(textForm, {.allowFragments = true});
    return parsed ? std::move(*parsed) : Value(d);
  }

  // Absent for undefined; nothing when JSON cannot carry the part (a cycle, too deep, too many).
  std::optional<Value> read(std::uint32_t n, std::size_t depth) {
    if (++count_ > ScriptMessageBodyReader::kMaxValues) return failed(UnreadableBody::kTooManyValues), std::nullopt;
    const Copy::Node& node = copy_.nodes[n];
    switch (node.kind) {
      case Copy::Kind::Undefined: return Value();
      case Copy::Kind::Null: return Value::null();
      case Copy::Kind::Bool: return Value(node.boolean);
      case Copy::Kind::Number: return number(node.number);
      case Copy::Kind::String: {
        const Text& s = copy_.texts[node.index];
        if (!textRoom(depth > 0 ? s.jsonBytes : s.utf8.size())) return std::nullopt;
        return Value(s.utf8);
      }
      case Copy::Kind::Elements: {
        if (depth >= json::kMaxDepth) return failed(UnreadableBody::kTooDeep), std::nullopt;
        const std::vector<double>& values = copy_.elements[node.index];
        count_ += values.size();
        if (count_ > ScriptMessageBodyReader::kMaxValues) return failed(UnreadableBody::kTooManyValues), std::nullopt;
        Dictionary out;
        out.reserve(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) out.set(std::to_string(i), number(values[i]));
        return Value(std::move(out));
      }
      case Copy::Kind::Array:
      case Copy::Kind::Object: {
        if (depth >= json::kMaxDepth || onPath_[n]) return failed(UnreadableBody::kTooDeep), std::nullopt;
        onPath_[n] = true;
        std::optional<Value> out = node.kind == Copy::Kind::Array ? array(copy_.containers[node.index], depth)
                                                                 : object(copy_.containers[node.index], depth);
        onPath_[n] = false;
        return out;
      }
    }
    return std::nullopt;
  }

  std::optional<Value> array(const Copy::Container& c, std::size_t depth) {
    Array out;
    out.reserve(c.items.size());
    for (std::uint32_t item : c.items) {
      std::optional<Value> v = read(item, depth + 1);
      if (!v) return std::nullopt;
      out.push_back(v->isAbsent() ? Value::null() : std::move(*v));
    }
    return Value(std::move(out));
  }

  std::optional<Value> object(const Copy::Container& c, std::size_t depth) {
    Dictionary out;
    out.reserve(c.items.size());
    for (std::size_t i = 0; i < c.items.size(); ++i) {
      std::optional<Value> v = read(c.items[i], depth + 1);
      if (!v) return std::nullopt;
      // WebKit's host makes the object anew, and a "__proto__" key sets its prototype there.
      if (v->isAbsent() || c.keys[i].utf8 == "__proto__") continue;
      if (!textRoom(c.keys[i].jsonBytes)) return std::nullopt;
      out.set(c.keys[i].utf8, std::move(*v));
    }
    return Value(std::move(out));
  }
};

// What the host could read of an array body it cannot read whole: its first scalar elements.
Array headOf(JSContextRef ctx, const Copy& copy, std::uint32_t root) {
  Array head;
  if (root >= copy.nodes.size() || copy.nodes[root].kind != Copy::Kind::Array) return head;
  for (std::uint32_t item : copy.containers[copy.nodes[root].index].items) {
    if (head.size() == UnreadableBody::kHeadElements) break;
    const Copy::Node& node = copy.nodes[item];
    if (node.kind == Copy::Kind::Undefined || node.kind == Copy::Kind::Null)
      head.push_back(Value::null());
    else if (node.kind == Copy::Kind::Bool)
      head.emplace_back(node.boolean);
    else if (node.kind == Copy::Kind::Number)
      head.push_back(HostReading(ctx, copy).element(node.number));
    else if (node.kind == Copy::Kind::String && copy.texts[node.index].utf8.size() <= UnreadableBody::kHeadTextBytes)
      head.emplace_back(copy.texts[node.index].utf8);
    else
      break;
  }
  return head;
}

}  // namespace

std::size_t ScriptMessageBodyReader::jsonTextBytes(std::u16string_view text) {
  auto surrogate = [](char16_t c, char16_t first) { return (c & 0xFC00) == first; };
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == '"' || c == '\\' || c == '\b' || c == '\f' || c == '\n' || c == '\r' || c == '\t')
      bytes += 2;
    else if (c < 0x20)
      bytes += 6;  // \u00XX
    else if (c < 0x80)
      bytes += 1;
    else if (c < 0x800)
      bytes += 2;
    else if (surrogate(c, 0xD800) && i + 1 < text.size() && surrogate(text[i + 1], 0xDC00))
      bytes += 4, ++i;
    else if ((c & 0xF800) == 0xD800)
      bytes += 6;  // a lone surrogate: \udXXX
    else
      bytes += 3;
  }
  return bytes;
}

ScriptMessageBodyReader::ScriptMessageBodyReader(JSContext& context) : builtins_(std::make_unique<Builtins>()) {
  auto list = context.evaluate(kBuiltinsScript, "harbor-script-message.js");
  if (!list || !list->isArray()) return;
  JSValue* slots[] = {&builtins_->objectToString, &builtins_->objectKeys,     &builtins_->dateToISOString,
                      &builtins_->regExpSource,   &builtins_->booleanValueOf, &builtins_->numberValueOf,
                      &builtins_->stringValueOf,  &builtins_->bigIntValueOf,  &builtins_->symbolValueOf,
                      &builtins_->dataViewByteLength, &builtins_->math,       &builtins_->json,
                      &builtins_->reflect,        &builtins_->atomics,        &builtins_->intl,
                      &builtins_->global};
  for (unsigned i = 0; i < std::size(slots); ++i) *slots[i] = list->at(i);
  builtins_->ok = builtins_->objectToString.isFunction() && builtins_->objectKeys.isFunction();
}

ScriptMessageBodyReader::~ScriptMessageBodyReader() = default;

std::optional<Value> ScriptMessageBodyReader::read(const JSValue& body, std::optional<UnreadableBody>* unreadable) {
  JSContextRef ctx = body.contextRef();
  if (!ctx || !builtins_->ok) return Value();
  Copier copier(ctx, *builtins_);
  std::uint32_t root = copier.take(body.ref(), 0);
  if (copier.notSent) return std::nullopt;
  const char* why = copier.why;
  Value read;
  if (!why) {
    HostReading reading(ctx, copier.copy);
    read = reading.body(root);
    why = reading.why;
  }
  if (why && unreadable) *unreadable = UnreadableBody{why, headOf(ctx, copier.copy, root)};
  return read;
}

}  // namespace plat::web
