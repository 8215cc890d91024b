#pragma once
// JavaScriptCore behind RAII: one global context, script values kept alive by handles, native
// functions written as std::function, and conversion between script values and plat::Value.
//
// Threads: a context and every JSValue taken from it belong to the thread that created the
// context (the main thread in the container). Handles may outlive their context; they then
// read as undefined and release nothing.
//
// Conversion rules, script to plat::Value: undefined (and functions, symbols) -> absent, null ->
// null, booleans -> Bool, numbers -> Int when integral and within int64 (except -0), else Double,
// strings -> String (lone surrogates become U+FFFD), ArrayBuffer and typed arrays -> Data (the
// view's bytes), arrays -> Array (holes and undefined -> null), dates -> their ISO text, other
// objects -> Dictionary of their own enumerable properties in script order (undefined values
// skipped). Cycles, nesting deeper than plat::json::kMaxDepth, more than 2^22 values or 256 MiB of
// text in all (a sparse array of length 2^32-1, or one long string met over and over, costs a
// page nothing), BigInts and throwing getters are errors, never crashes. (A page's script message
// reaches the host by WebKit's rules instead: plat/web/ScriptMessageBody.h.) plat::Value to script: absent -> undefined, Data -> a new
// ArrayBuffer, the rest as expected; integers beyond 2^53 lose precision as script numbers do.
#include <JavaScriptCore/JavaScript.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/Result.h"
#include "plat/foundation/Value.h"

namespace plat {

class JSContext;
class JSValue;

using JSValueList = std::vector<JSValue>;

namespace detail {
struct JSContextState;
}

// Thrown by a native function to throw a script Error with this message at its caller. Any
// other exception leaving a native function is turned into an Error as well; none crosses
// into JavaScriptCore.
class JSError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a script threw.
struct JSException {
  std::string message;    // the thrown value as text, e.g. "TypeError: x is not a function"
  std::string sourceURL;  // where it was thrown, when the engine knows
  int line = 0;           // 1-based; 0 when unknown
  std::string stack;      // the engine's stack text, when there is one

  // "page.js:3: TypeError: ...", "line 3: TypeError: ..." without a URL, or the bare message.
  std::string description() const;
};

// A script value, protected from garbage collection while any handle to it exists.
class JSValue {
 public:
  JSValue() noexcept;  // undefined, of no context
  JSValue(const JSValue& other);
  JSValue(JSValue&& other) noexcept;
  JSValue& operator=(const JSValue& other);
  JSValue& operator=(JSValue&& other) noexcept;
  ~JSValue();

  // True while the value belongs to a live context.
  bool isValid() const;
  bool isUndefined() const;
  bool isNull() const;
  bool isBoolean() const;
  bool isNumber() const;
  bool isString() const;
  bool isObject() const;
  bool isArray() const;
  bool isFunction() const;
  bool isArrayBuffer() const;
  // A typed array view (Uint8Array, Float64Array...), not a bare ArrayBuffer.
  bool isTypedArray() const;

  // The script's own conversions (String(v), Number(v), Boolean(v)). toString gives "" when the
  // conversion throws (a symbol, a throwing toString).
  std::string toString() const;
  // String(v) as the script holds it, UTF-16 code units unchanged (lone surrogates and NULs
  // kept); nothing when the conversion throws.
  std::optional<std::u16string> toUTF16() const;
  double toNumber() const;
  bool toBool() const;
  // See the conversion rules above.
  Result<Value> toValue() const;
  // JSON.stringify of the value; an error when it throws (cycles) or gives undefined.
  Result<std::string> toJSON(unsigned indent = 0) const;

  // Property access. A missing property, a non-object or a throwing getter give undefined;
  // setters report false when the value is not an object or the assignment threw.
  JSValue property(std::string_view name) const;
  bool setProperty(std::string_view name, const JSValue& value) const;
  bool setProperty(std::string_view name, const Value& value) const;
  bool hasProperty(std::string_view name) const;
  bool deleteProperty(std::string_view name) const;
  JSValue at(unsigned index) const;
  bool setAt(unsigned index, const JSValue& value) const;
  // Own enumerable property names, in script order.
  std::vector<std::string> propertyNames() const;

  // Calls the value as a function. thisObject undefined means the global object. The error
  // text is the exception's description; `exception` receives the details when given.
  Result<JSValue> call(const JSValueList& arguments = {}, const JSValue& thisObject = JSValue(),
                       JSException* exception = nullptr) const;
  Result<JSValue> callWithArguments(const Array& arguments, JSException* exception = nullptr) const;
  Result<JSValue> construct(const JSValueList& arguments = {}, JSException* exception = nullptr) const;

  bool strictEquals(const JSValue& other) const;

  // The owning context, or null once it is gone.
  JSContext* context() const;
  // The raw value for the C API; valid while this handle lives.
  JSValueRef ref() const { return value_; }
  JSContextRef contextRef() const;

 private:
  friend class JSContext;
  friend struct detail::JSContextState;
  JSValue(std::shared_ptr<detail::JSContextState> state, JSValueRef value);
  JSContextRef liveContext() const;
  JSObjectRef object() const;

  std::shared_ptr<detail::JSContextState> state_;
  JSValueRef value_ = nullptr;
};

// One global context (its own virtual machine) and the entry points to it.
class JSContext {
 public:
  // The simple form: arguments and result as plain values. An argument that cannot be
  // converted makes the call throw a TypeError before the function runs.
  using NativeFunction = std::function<Value(const Array& arguments)>;
  // The full form, for functions that take or return script objects (callbacks, handles).
  using NativeCallback =
      std::function<JSValue(JSContext& context, const JSValue& thisObject, const JSValueList& arguments)>;

  JSContext();
  ~JSContext();
  JSContext(const JSContext&) = delete;
  JSContext& operator=(const JSContext&) = delete;

  // Runs script in the global scope. The result is the completion value; the error text is the
  // exception's description (with source and line when the engine gives them).
  Result<JSValue> evaluate(std::string_view script, std::string_view sourceURL = {}, int startingLine = 1,
                           JSException* exception = nullptr);
  // Checks syntax without running anything; the error describes the first syntax error.
  Result<bool> checkSyntax(std::string_view script, std::string_view sourceURL = {}, int startingLine = 1);

  JSValue globalObject();
  JSValue undefined();
  JSValue null();
  JSValue makeValue(const Value& value);
  JSValue makeString(std::string_view utf8);
  // A script string of exactly these UTF-16 code units.
  JSValue makeStringUTF16(std::u16string_view units);
  JSValue makeNumber(double number);
  JSValue makeBool(bool value);
  JSValue makeObject();
  JSValue makeArray(const JSValueList& elements = {});
  JSValue makeError(std::string_view message);
  // A function object (typeof "function", with call/apply/bind) running the native code.
  JSValue makeFunction(std::string_view name, NativeFunction function);
  JSValue makeFunction(std::string_view name, NativeCallback callback);
  // JSON.parse; an error when the text is not JSON.
  Result<JSValue> parseJSON(std::string_view json);

  // The value at a dotted path from the global object ("harbor.require"); undefined when some
  // part is missing.
  JSValue valueAtPath(std::string_view path);
  // Sets the value at a dotted path, creating missing intermediate objects ("a.b.c" creates a
  // and a.b). An error when an intermediate value exists and is not an object.
  Result<JSValue> setValueAtPath(std::string_view path, const JSValue& value);
  Result<JSValue> setValueAtPath(std::string_view path, const Value& value);
  // makeFunction named after the path's last part, then setValueAtPath.
  Result<JSValue> defineFunction(std::string_view path, NativeFunction function);
  Result<JSValue> defineFunction(std::string_view path, NativeCallback callback);

  // Runs a full garbage collection now (tests use it to prove that handles keep values).
  void garbageCollect();

  // Process-wide, from any thread: the process is ending, so script in every context stops. A
  // script that is running (a page's `while (true) {}` included) is stopped once it has run
  // for kStopCheckSeconds of processor time, and so is any script started afterwards; the
  // call that ran it fails. Nothing undoes it but the test surface below.
  static constexpr double kStopCheckSeconds = 0.1;
  static void stopAllScripts();
  static bool scriptsStopped();
  // Test surface: scripts run unhindered again.
  static void resetStopAllScripts();

  JSGlobalContextRef ref() const;

 private:
  JSValue wrap(JSValueRef value);
  std::shared_ptr<detail::JSContextState> state_;
};

}  // namespace plat
