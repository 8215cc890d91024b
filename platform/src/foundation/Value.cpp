#include "plat/foundation/Value.h"

#include <functional>
#include <string_view>

#include "plat/foundation/JSON.h"

namespace plat {

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  entries_.reserve(entries.size());
  for (const auto& e : entries) set(e.first, e.second);
}

namespace {
std::size_t hashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }
}  // namespace

std::size_t Dictionary::indexOf(std::string_view key, std::size_t hash) const {
  if (index_.empty()) {
    for (std::size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].first == key) return i;
    return kNoEntry;
  }
  std::size_t mask = index_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const Slot& s = index_[slot];
    if (s.position == kNoEntry) return kNoEntry;
    if (s.hash == hash && entries_[s.position].first == key) return s.position;
  }
}

void Dictionary::addToIndex(std::size_t position, std::size_t hash) {
  if (index_.empty() && entries_.size() <= kIndexFrom) return;
  // At most half full, so probes stay short and always meet a free slot.
  if (entries_.size() * 2 > index_.size()) {
    rebuildIndex();
    return;
  }
  std::size_t mask = index_.size() - 1;
  std::size_t slot = hash & mask;
  while (index_[slot].position != kNoEntry) slot = (slot + 1) & mask;
  index_[slot] = Slot{hash, position};
}

void Dictionary::rebuildIndex() {
  index_.clear();
  if (entries_.size() <= kIndexFrom) return;
  std::size_t capacity = 16;
  while (capacity < entries_.size() * 4) capacity *= 2;
  index_.assign(capacity, Slot{0, kNoEntry});
  std::size_t mask = capacity - 1;
  for (std::size_t position = 0; position < entries_.size(); ++position) {
    std::size_t hash = hashOf(entries_[position].first);
    std::size_t slot = hash & mask;
    while (index_[slot].position != kNoEntry) slot = (slot + 1) & mask;
    index_[slot] = Slot{hash, position};
  }
}

const Value* Dictionary::find(std::string_view key) const {
  std::size_t position = indexOf(key, index_.empty() ? 0 : hashOf(key));
  return position == kNoEntry ? nullptr : &entries_[position].second;
}

Value* Dictionary::find(std::string_view key) {
  std::size_t position = indexOf(key, index_.empty() ? 0 : hashOf(key));
  return position == kNoEntry ? nullptr : &entries_[position].second;
}

const Value& Dictionary::get(std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : absentValue();
}

Value& Dictionary::slotFor(std::string_view key, std::string* owned) {
  bool indexed = !index_.empty() || entries_.size() >= kIndexFrom;
  std::size_t hash = indexed ? hashOf(key) : 0;
  std::size_t position = indexOf(key, hash);
  if (position != kNoEntry) return entries_[position].second;
  entries_.emplace_back(owned ? std::move(*owned) : std::string(key), Value());
  addToIndex(entries_.size() - 1, hash);
  return entries_.back().second;
}

void Dictionary::set(std::string key, Value value) {
  std::string_view view = key;
  // The view is read before the key is moved into a new entry.
  slotFor(view, &key) = std::move(value);
}

bool Dictionary::erase(std::string_view key) {
  std::size_t position = indexOf(key, index_.empty() ? 0 : hashOf(key));
  if (position == kNoEntry) return false;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
  // Every later entry moved down one place; erasing is rare enough to re-index whole.
  if (!index_.empty()) rebuildIndex();
  return true;
}

Value& Dictionary::operator[](std::string_view key) { return slotFor(key, nullptr); }

bool Dictionary::operator==(const Dictionary& other) const { return entries_ == other.entries_; }

const Value& absentValue() {
  static const Value absent;
  return absent;
}

bool Value::asBool() const {
  switch (type()) {
    case Type::Bool: return std::get<bool>(v_);
    case Type::Int: return std::get<std::int64_t>(v_) != 0;
    case Type::UInt: return std::get<std::uint64_t>(v_) != 0;
    case Type::Double: return std::get<double>(v_) != 0.0;
    default: return false;
  }
}

std::int64_t Value::asInt() const {
  switch (type()) {
    case Type::Bool: return std::get<bool>(v_) ? 1 : 0;
    case Type::Int: return std::get<std::int64_t>(v_);
    case Type::UInt: return static_cast<std::int64_t>(std::get<std::uint64_t>(v_));
    case Type::Double: {
      double d = std::get<double>(v_);
      // Out-of-range doubles saturate instead of invoking undefined behaviour.
      if (!(d == d)) return 0;
      if (d >= 9.2233720368547758e18) return INT64_MAX;
      if (d <= -9.2233720368547758e18) return INT64_MIN;
      return static_cast<std::int64_t>(d);
    }
    default: return 0;
  }
}

std::uint64_t Value::asUInt() const {
  switch (type()) {
    case Type::UInt: return std::get<std::uint64_t>(v_);
    case Type::Double: {
      double d = std::get<double>(v_);
      if (!(d > 0)) return 0;
      if (d >= 1.8446744073709552e19) return UINT64_MAX;
      return static_cast<std::uint64_t>(d);
    }
    default: return static_cast<std::uint64_t>(asInt());
  }
}

double Value::asDouble() const {
  switch (type()) {
    case Type::Bool: return std::get<bool>(v_) ? 1.0 : 0.0;
    case Type::Int: return static_cast<double>(std::get<std::int64_t>(v_));
    case Type::UInt: return static_cast<double>(std::get<std::uint64_t>(v_));
    case Type::Double: return std::get<double>(v_);
    default: return 0.0;
  }
}

std::string Value::stringOr(std::string_view fallback) const {
  return isString() ? asString() : std::string(fallback);
}

const Value& Value::operator[](std::string_view key) const {
  return isDictionary() ? asDictionary().get(key) : absentValue();
}

const Value& Value::at(std::size_t index) const {
  if (!isArray() || index >= asArray().size()) return absentValue();
  return asArray()[index];
}

std::string Value::description() const {
  switch (type()) {
    case Type::Absent: return "(absent)";
    case Type::Null: return "<null>";
    case Type::String: return asString();
    case Type::Data: return "<" + std::to_string(asData().size()) + " bytes>";
    default: {
      auto text = json::write(*this, {.allowFragments = true, .dataAsBase64 = true});
      return text ? *text : std::string("<unprintable>");
    }
  }
}

}  // namespace plat
