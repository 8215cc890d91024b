#pragma once
// What the host receives of a page's script message
// (window.webkit.messageHandlers.<name>.postMessage(body)) as the WebKit engine hands it over.
// The headless engine carries its pages' messages by these rules, so that a test on it predicts
// WebKit; tests/webkit/ScriptMessageValuesTest.cpp holds the table measured on real WebKit pages.
//
// In the page, WebKit first copies the body. A body holding something it cannot copy is not sent
// at all, and postMessage returns as usual (the page hears of nothing): a function, a symbol, a
// Proxy, an arguments object, Math, JSON, Reflect, Atomics, Intl or one of its objects, a
// promise, a weak map, set or reference, an iterator or a generator, the global object, or a
// property whose getter throws. (WebKit does the same with DOM objects; the headless engine's
// stand-ins for them are script objects and are copied as such.)
//
// The host then reads the copy as JSON would:
// - numbers in the body: NaN and the infinities become null, -0 becomes 0, the rest what their
//   JSON text reads as (an integer while it fits 64 bits: 2^63 arrives as the unsigned
//   9223372036854776000, the script's own text of it). A body that is itself a number arrives
//   as itself (NaN, -0 and the infinities included), an integer below 2^53.
// - strings: lone surrogates become U+FFFD.
// - undefined and BigInts: null in an array, left out of an object, absent as the body.
// - arrays: their elements by index (holes null); their other properties are dropped.
// - dates: their ISO text (the engine's toISOString, whatever the page did to Date.prototype);
//   null for an invalid date.
// - typed arrays: an object of their elements by index (none of a BigInt64Array); ArrayBuffer,
//   DataView, RegExp, Error and Number, Boolean and BigInt objects: an empty object; a String
//   object: an object of its characters by index. Other properties of theirs are dropped.
// - other objects (plain ones, class instances, Map and Set): their own enumerable properties,
//   each getter read once; a key "__proto__" is dropped. WebKit hands the keys over in an order
//   of its own (a hash table's), not the page's; the headless engine keeps the page's order, so
//   nothing may depend on the order.
// - the body arrives absent when the host cannot read it: when it holds a cycle, when it nests
//   containers deeper than plat::json::kMaxDepth (512), and when it holds more than
//   ScriptMessageBodyReader::kMaxValues values or kMaxTextBytes of text, each part counted as
//   often as it is met (WebKit carries a body of any size; the WebKit engine measures it against
//   the same bounds before reading it). Text inside a container counts as JSON writes it, escapes
//   included (the WebKit engine holds that form: a control character or a lone surrogate takes
//   six bytes); a body that is itself a string counts its UTF-8 bytes. Beyond that depth nothing
//   is looked at, so a function there leaves the body absent rather than unsent. With an absent
//   body the host hears why (UnreadableBody), and of an array body its first elements that are
//   scalars, so that it can tell whose message it could not read (a command's callback id) and
//   answer it.
//
// Threads: the context's (the main thread for pages).
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/Value.h"
#include "plat/web/JSContext.h"

namespace plat::web {

// What the host hears of a body it cannot read.
struct UnreadableBody {
  std::string why;  // one of the reasons below
  // An array body's first elements (at most kHeadElements), as long as each is undefined (read as
  // null), null, a boolean, a number or a string of at most kHeadTextBytes.
  Array head;

  static constexpr std::size_t kHeadElements = 3;
  static constexpr std::size_t kHeadTextBytes = 1024;
  static constexpr char kTooDeep[] = "it nests deeper than 512 levels, or holds itself";
  static constexpr char kTooManyValues[] = "it holds more than 4194304 values";
  static constexpr char kTooMuchText[] = "it holds more than 256 MiB of text";
  bool operator==(const UnreadableBody&) const = default;
};

class ScriptMessageBodyReader {
 public:
  // Values in one body, and bytes of text in it, past which it arrives absent: a page makes an
  // array of length 2^32-1, or one of a long string many times over, at no cost.
  static constexpr std::size_t kMaxValues = std::size_t{1} << 22;
  static constexpr std::size_t kMaxTextBytes = std::size_t{1} << 28;
  // Messages a page may have waiting for the host (posted, not yet run), past which its further
  // ones are dropped in the page, their promise resolved with "dropped": a page posting in a loop
  // sends faster than the container runs what it sends, and both engines hold what waits in the
  // runner.
  static constexpr std::size_t kMaxWaitingMessages = 10000;

  // Takes the script built-ins it relies on from the context now, so that a page replacing
  // them later changes nothing: made before any page script runs.
  explicit ScriptMessageBodyReader(JSContext& context);
  ~ScriptMessageBodyReader();
  ScriptMessageBodyReader(const ScriptMessageBodyReader&) = delete;
  ScriptMessageBodyReader& operator=(const ScriptMessageBodyReader&) = delete;

  // What the host receives of body; nothing when WebKit would not send the message at all. Runs
  // the page's getters (once each), as WebKit's copy does. When the body arrives absent because
  // the host cannot read it, and unreadable is given, it hears why.
  std::optional<Value> read(const JSValue& body, std::optional<UnreadableBody>* unreadable = nullptr);

  // Bytes of a text inside a container as the bounds count them: JSON's escaped form, as
  // JSON.stringify writes it from the page's UTF-16 (a control character and a lone surrogate six
  // bytes). A text that is the whole body counts its UTF-8 bytes (a lone surrogate as U+FFFD).
  static std::size_t jsonTextBytes(std::u16string_view text);

  struct Builtins;  // the reader's own

 private:
  std::unique_ptr<Builtins> builtins_;
};

}  // namespace plat::web
