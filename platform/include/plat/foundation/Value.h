#pragma once
// The one value type that crosses the bridge and fills property lists, JSON and preferences:
// null, bool, signed and unsigned integers, double, string (UTF-8), data (bytes), array and
// ordered dictionary. "Absent" (no value at all) is distinct from null.
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace plat {

class Value;
using Data = std::vector<std::uint8_t>;
using Array = std::vector<Value>;

// Insertion-ordered dictionary with string keys. Setting an existing key replaces the value in
// place, so the order is that of first insertion.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;
  Dictionary() = default;
  Dictionary(std::initializer_list<Entry> entries);

  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  // The value under key, or an absent value.
  const Value& get(std::string_view key) const;
  void set(std::string key, Value value);
  bool erase(std::string_view key);
  // Inserts an absent value when the key is missing.
  Value& operator[](std::string_view key);

  // Defined after Value: clang instantiates the vector's members at once, and Value must be
  // complete by then.
  using const_iterator = std::vector<Entry>::const_iterator;
  using iterator = std::vector<Entry>::iterator;
  std::size_t size() const;
  bool empty() const;
  void reserve(std::size_t n);
  const_iterator begin() const;
  const_iterator end() const;
  iterator begin();
  iterator end();
  // Same entries in the same order.
  bool operator==(const Dictionary& other) const;

 private:
  // Lookups are hashed once a dictionary has more than a few entries: config.xml, or a page's
  // JSON, may hold a hundred thousand keys, and scanning for each would make reading them
  // quadratic. The index holds positions in entries_ (kNoEntry marks a free slot), so copies
  // and moves keep it valid, and each key's hash, so that a probe rarely has to look at an
  // entry. Keys must not be changed through the iterators.
  static constexpr std::size_t kIndexFrom = 8;
  static constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);
  struct Slot {
    std::size_t hash;
    std::size_t position;
  };
  std::size_t indexOf(std::string_view key, std::size_t hash) const;
  // The value under key, added absent when missing (its key taken from *owned when given).
  Value& slotFor(std::string_view key, std::string* owned);
  void addToIndex(std::size_t position, std::size_t hash);
  void rebuildIndex();

  std::vector<Entry> entries_;
  std::vector<Slot> index_;  // empty while the dictionary is small
};

class Value {
 public:
  enum class Type { Absent, Null, Bool, Int, UInt, Double, String, Data, Array, Dictionary };
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  struct AbsentTag {
    bool operator==(const AbsentTag&) const = default;
  };

  Value() = default;  // absent
  static Value null() { return Value(NullTag{}); }

  Value(NullTag) : v_(NullTag{}) {}
  Value(bool b) : v_(b) {}
  template <std::signed_integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>)
  Value(T i) : v_(static_cast<std::int64_t>(i)) {}
  template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>)
  Value(T u) : v_(static_cast<std::uint64_t>(u)) {}
  Value(double d) : v_(d) {}
  Value(float f) : v_(static_cast<double>(f)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(plat::Data d) : v_(std::move(d)) {}
  Value(plat::Array a) : v_(std::move(a)) {}
  Value(plat::Dictionary d) : v_(std::move(d)) {}

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isAbsent() const { return type() == Type::Absent; }
  bool isNull() const { return type() == Type::Null; }
  // Absent or null: "nothing there" for most readers.
  bool isNil() const { return isAbsent() || isNull(); }
  bool isBool() const { return type() == Type::Bool; }
  bool isInteger() const { return type() == Type::Int || type() == Type::UInt; }
  bool isDouble() const { return type() == Type::Double; }
  // A boxed number in the platform's sense: booleans are numbers too.
  bool isNumber() const { return isBool() || isInteger() || isDouble(); }
  bool isString() const { return type() == Type::String; }
  bool isData() const { return type() == Type::Data; }
  bool isArray() const { return type() == Type::Array; }
  bool isDictionary() const { return type() == Type::Dictionary; }

  // Numeric readers convert between the number kinds (and from bool); 0 for anything else.
  bool asBool() const;
  std::int64_t asInt() const;
  std::uint64_t asUInt() const;
  double asDouble() const;

  // Typed accessors; they must only be called when the type matches (checked in debug builds).
  const std::string& asString() const { return std::get<std::string>(v_); }
  std::string& asString() { return std::get<std::string>(v_); }
  const plat::Data& asData() const { return std::get<plat::Data>(v_); }
  const plat::Array& asArray() const { return std::get<plat::Array>(v_); }
  plat::Array& asArray() { return std::get<plat::Array>(v_); }
  const plat::Dictionary& asDictionary() const { return std::get<plat::Dictionary>(v_); }
  plat::Dictionary& asDictionary() { return std::get<plat::Dictionary>(v_); }

  // The string, or fallback when this is not a string.
  std::string stringOr(std::string_view fallback = {}) const;

  // Lenient lookups: an absent value when this is not a dictionary/array or the entry is missing.
  const Value& operator[](std::string_view key) const;
  const Value& at(std::size_t index) const;

  bool operator==(const Value& other) const { return v_ == other.v_; }

  // A short readable description for logs ("<null>", strings unquoted, containers as JSON-ish).
  std::string description() const;

 private:
  std::variant<AbsentTag, NullTag, bool, std::int64_t, std::uint64_t, double, std::string,
               plat::Data, plat::Array, plat::Dictionary>
      v_;
};

inline std::size_t Dictionary::size() const { return entries_.size(); }
inline bool Dictionary::empty() const { return entries_.empty(); }
inline void Dictionary::reserve(std::size_t n) { entries_.reserve(n); }
inline Dictionary::const_iterator Dictionary::begin() const { return entries_.begin(); }
inline Dictionary::const_iterator Dictionary::end() const { return entries_.end(); }
inline Dictionary::iterator Dictionary::begin() { return entries_.begin(); }
inline Dictionary::iterator Dictionary::end() { return entries_.end(); }

// A shared absent value, handy for returning references to "nothing".
const Value& absentValue();

}  // namespace plat
