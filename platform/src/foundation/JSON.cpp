#include "plat/foundation/JSON.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>

#include "plat/foundation/Strings.h"

namespace plat::json {
namespace {

// Builds a Value from nlohmann's SAX events without an intermediate DOM.
class ValueBuilder : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit ValueBuilder(std::size_t maxValues) : valuesLeft_(maxValues ? maxValues : SIZE_MAX) {}
  Value root;
  std::string errorText;

  bool null() override { return add(Value::null()); }
  bool boolean(bool v) override { return add(v); }
  bool number_integer(number_integer_t v) override { return add(static_cast<std::int64_t>(v)); }
  bool number_unsigned(number_unsigned_t v) override {
    // Unsigned only where the value does not fit a signed integer, like the platform's numbers.
    if (v <= static_cast<number_unsigned_t>(INT64_MAX)) return add(static_cast<std::int64_t>(v));
    return add(static_cast<std::uint64_t>(v));
  }
  bool number_float(number_float_t v, const string_t&) override { return add(static_cast<double>(v)); }
  bool string(string_t& v) override { return add(std::move(v)); }
  bool binary(binary_t&) override { return fail("binary values are not JSON"); }
  bool start_object(std::size_t) override { return open(Dictionary()); }
  bool key(string_t& k) override {
    stack_.back().key = std::move(k);
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(Array()); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override {
    if (errorText.empty()) errorText = ex.what();
    (void)position;
    return false;
  }

 private:
  struct Frame {
    Value container;
    std::string key;
  };
  std::vector<Frame> stack_;
  std::size_t valuesLeft_;

  bool count() {
    if (valuesLeft_ == 0) return fail("JSON text holds too many values");
    --valuesLeft_;
    return true;
  }
  bool fail(std::string text) {
    errorText = std::move(text);
    return false;
  }
  bool add(Value v) {
    if (!v.isArray() && !v.isDictionary() && !count()) return false;
    if (stack_.empty()) {
      root = std::move(v);
      return true;
    }
    Frame& top = stack_.back();
    if (top.container.isArray())
      top.container.asArray().push_back(std::move(v));
    else
      top.container.asDictionary().set(std::move(top.key), std::move(v));
    return true;
  }
  bool open(Value container) {
    if (stack_.size() >= kMaxDepth) return fail("JSON nested deeper than " + std::to_string(kMaxDepth) + " levels");
    if (!count()) return false;
    stack_.push_back(Frame{std::move(container), {}});
    return true;
  }
  bool close() {
    Value done = std::move(stack_.back().container);
    stack_.pop_back();
    return add(std::move(done));
  }
};

void appendNumber(std::string& out, double d) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d);
  out.append(buf, res.ptr);
}

template <class I>
void appendInteger(std::string& out, I i) {
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, res.ptr);
}

class Writer {
 public:
  explicit Writer(const WriteOptions& o) : options_(o) {}
  std::string out;
  std::string errorText;

  bool write(const Value& v, int depth) {
    // What the reader would refuse is not written either: every text written reads back.
    if ((v.isArray() || v.isDictionary()) && depth >= static_cast<int>(kMaxDepth))
      return fail("JSON nested deeper than " + std::to_string(kMaxDepth) + " levels");
    switch (v.type()) {
      case Value::Type::Absent:
      case Value::Type::Null: out += "null"; return true;
      case Value::Type::Bool: out += v.asBool() ? "true" : "false"; return true;
      case Value::Type::Int: appendInteger(out, v.asInt()); return true;
      case Value::Type::UInt: appendInteger(out, v.asUInt()); return true;
      case Value::Type::Double: {
        double d = v.asDouble();
        if (std::isnan(d)) return fail("Invalid number value (NaN) in JSON write");
        if (std::isinf(d)) return fail("Invalid number value (infinite) in JSON write");
        appendNumber(out, d);
        return true;
      }
      case Value::Type::String: appendQuoted(out, v.asString()); return true;
      case Value::Type::Data:
        if (!options_.dataAsBase64) return fail("Invalid type in JSON write (bytes)");
        appendQuoted(out, base64Encode(v.asData()));
        return true;
      case Value::Type::Array: {
        const Array& a = v.asArray();
        out += '[';
        for (std::size_t i = 0; i < a.size(); ++i) {
          if (i) out += ',';
          newline(depth + 1);
          if (!write(a[i], depth + 1)) return false;
        }
        if (!a.empty()) newline(depth);
        out += ']';
        return true;
      }
      case Value::Type::Dictionary: {
        const Dictionary& d = v.asDictionary();
        out += '{';
        bool first = true;
        for (const auto& [key, item] : d) {
          if (!first) out += ',';
          first = false;
          newline(depth + 1);
          appendQuoted(out, key);
          out += options_.pretty ? " : " : ":";
          if (!write(item, depth + 1)) return false;
        }
        if (!d.empty()) newline(depth);
        out += '}';
        return true;
      }
    }
    return fail("unknown value type");
  }

 private:
  const WriteOptions& options_;
  bool fail(std::string text) {
    errorText = std::move(text);
    return false;
  }
  void newline(int depth) {
    if (!options_.pretty) return;
    out += '\n';
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
  }
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of the \uXXXX escape at text[at] (which holds the backslash); -1 if none is there.
long escapedUnit(std::string_view text, std::size_t at) {
  if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
  long unit = 0;
  for (std::size_t i = at + 2; i < at + 6; ++i) {
    int digit = hexDigit(text[i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// Script engines write a string holding half a surrogate pair (a cut emoji) as a lone \uD83D
// escape, which the parser refuses, and with it the whole text. Such escapes become \uFFFD, as
// the engines themselves turn lone surrogates into U+FFFD elsewhere. Nothing is copied unless
// there is one.
std::optional<std::string> withLoneSurrogatesReplaced(std::string_view text) {
  std::optional<std::string> out;
  std::size_t copied = 0;
  for (std::size_t i = text.find('\\'); i != std::string_view::npos && i < text.size();
       i = text.find('\\', i)) {
    long unit = escapedUnit(text, i);
    if (unit < 0xD800 || unit > 0xDFFF) {
      i += 2;  // any other escape, \\ included, is two characters at least
      continue;
    }
    long next = unit <= 0xDBFF ? escapedUnit(text, i + 6) : -1;
    if (next >= 0xDC00 && next <= 0xDFFF) {
      i += 12;
      continue;
    }
    if (!out) out.emplace();
    out->append(text.substr(copied, i - copied));
    out->append("\\ufffd");
    i += 6;
    copied = i;
  }
  if (out) out->append(text.substr(copied));
  return out;
}

// Counts what a quoted text would append, for quotedLength.
struct LengthOnly {
  std::size_t length = 0;
  std::size_t size() const { return length; }
  void reserve(std::size_t) {}
  void append(const char*, std::size_t count) { length += count; }
  LengthOnly& operator+=(char) { return ++length, *this; }
  LengthOnly& operator+=(const char* text) { return length += std::strlen(text), *this; }
};

// The one place that knows how a text is quoted: appendQuoted writes it, quotedLength counts it.
template <class Out>
void quote(Out& out, std::string_view text) {
  static const char* hex = "0123456789abcdef";
  std::string repaired;
  if (!isValidUTF8(text)) {
    repaired = sanitizeUTF8(text);
    text = repaired;
  }
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  // Characters that need no escape are copied in runs, not one at a time, and the runs are
  // found eight bytes at a time: a word with no control character, quote, backslash or 0xE2
  // (the lead byte of U+2028 and U+2029) is copied as it is.
  constexpr std::uint64_t ones = 0x0101010101010101ULL;
  constexpr std::uint64_t highs = 0x8080808080808080ULL;
  auto hasZero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
  auto hasByte = [&](std::uint64_t v, unsigned char b) { return hasZero(v ^ (ones * b)); };
  auto hasBelow0x20 = [](std::uint64_t v) { return (v - ones * 0x20) & ~v & highs; };
  auto plain = [](unsigned char c) { return c >= 0x20 && c != '"' && c != '\\' && c != 0xE2; };
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::size_t run = i;
    while (run + 8 <= text.size()) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + run, 8);
      if (hasBelow0x20(word) | hasByte(word, '"') | hasByte(word, '\\') | hasByte(word, 0xE2)) break;
      run += 8;
    }
    while (run < text.size() && plain(static_cast<unsigned char>(text[run]))) ++run;
    if (run > i) {
      out.append(text.data() + i, run - i);
      i = run;
      if (i == text.size()) break;
    }
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      case '\b': out += "\\b"; continue;
      case '\f': out += "\\f"; continue;
      default: break;
    }
    if (c < 0x20) {
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      // U+2028 and U+2029 end a line in older script engines; keep them out of script literals.
      out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

}  // namespace

void appendQuoted(std::string& out, std::string_view text) { quote(out, text); }

std::size_t quotedLength(std::string_view text) {
  LengthOnly counted;
  quote(counted, text);
  return counted.length;
}

Result<Value> parse(std::string_view text, ReadOptions options) {
  std::string repaired;
  if (!isValidUTF8(text)) {
    repaired = sanitizeUTF8(text);
    text = repaired;
  }
  if (auto replaced = withLoneSurrogatesReplaced(text)) {
    repaired = std::move(*replaced);
    text = repaired;
  }
  ValueBuilder builder(options.maxValues);
  bool ok = nlohmann::json::sax_parse(text.begin(), text.end(), &builder, nlohmann::json::input_format_t::json,
                                      /*strict=*/true, /*ignore_comments=*/false);
  if (!ok) return Failure{builder.errorText.empty() ? "JSON text could not be parsed" : builder.errorText};
  if (!options.allowFragments && !builder.root.isArray() && !builder.root.isDictionary())
    return Failure{"JSON text did not start with array or object and option to allow fragments not set"};
  return std::move(builder.root);
}

std::optional<std::vector<std::string_view>> arrayElementTexts(std::string_view text) {
  auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  auto trimmed = [&](std::size_t from, std::size_t to) {
    while (from < to && isBlank(text[from])) ++from;
    while (to > from && isBlank(text[to - 1])) --to;
    return text.substr(from, to - from);
  };
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && isBlank(text[i])) ++i;
  if (i == n || text[i] != '[') return std::nullopt;
  ++i;
  std::vector<std::string_view> elements;
  std::size_t start = i;
  std::size_t depth = 0;
  bool inString = false;
  for (; i < n; ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      ++depth;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    } else if (c == ',' && depth == 0) {
      elements.push_back(trimmed(start, i));
      start = i + 1;
    } else if (c == ']' && depth == 0) {
      std::string_view last = trimmed(start, i);
      if (!last.empty() || !elements.empty()) elements.push_back(last);
      for (++i; i < n; ++i)
        if (!isBlank(text[i])) return std::nullopt;
      return elements;
    } else if (c == '}' && depth == 0) {
      return std::nullopt;
    }
  }
  return std::nullopt;  // the array never closes
}

Result<std::string> write(const Value& value, WriteOptions options) {
  if (!options.allowFragments && !value.isArray() && !value.isDictionary())
    return Failure{"Invalid top-level type in JSON write"};
  Writer w(options);
  if (!w.write(value, 0)) return Failure{w.errorText};
  return std::move(w.out);
}

}  // namespace plat::json
