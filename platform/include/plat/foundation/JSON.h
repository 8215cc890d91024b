#pragma once
// JSON reader and writer for plat::Value. The reader builds values straight from the parser's
// events; the writer refuses what JSON cannot hold (NaN, infinities, bytes) instead of writing
// something silently wrong. Both replace invalid UTF-8 with U+FFFD.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/Result.h"
#include "plat/foundation/Value.h"

namespace plat::json {

struct ReadOptions {
  // Accept a bare scalar ("3", "\"x\"", "null") as the whole text.
  bool allowFragments = false;
  // Refuse a text of more values than this (containers count; 0: no bound): a short text may
  // hold many values, each far larger once read.
  std::size_t maxValues = 0;
};

struct WriteOptions {
  // Two-space indentation and " : " between key and value.
  bool pretty = false;
  // Accept a scalar as the top-level value.
  bool allowFragments = false;
  // Write bytes as Base64 strings instead of refusing them (for log descriptions only).
  bool dataAsBase64 = false;
};

// Containers nested deeper than this are refused by the reader, so that hostile input cannot
// exhaust the stack of whoever walks the value afterwards; the writer refuses them too, so
// whatever it writes reads back.
inline constexpr std::size_t kMaxDepth = 512;

Result<Value> parse(std::string_view text, ReadOptions options = {});
Result<std::string> write(const Value& value, WriteOptions options = {});

// The texts of the elements of the array that text holds, each as it stands in text (blanks around
// it left out), found by the array's own brackets, commas and strings without reading the
// elements: an array whose elements cannot all be read (one nested too deeply, one that is no
// JSON) is still cut into its elements, so that each can be read on its own. Nothing when text
// holds no array whose brackets and strings close. Linear in the text, whatever its depth.
std::optional<std::vector<std::string_view>> arrayElementTexts(std::string_view text);

// Appends the JSON string literal of text (quotes included) to out.
void appendQuoted(std::string& out, std::string_view text);
// The length of what appendQuoted appends for text, without writing it.
std::size_t quotedLength(std::string_view text);

}  // namespace plat::json
