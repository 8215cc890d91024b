#include "plat/foundation/Value.h"

#include "plat/foundation/JSON.h"

namespace plat {

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  entries_.reserve(entries.size());
  for (const auto& e : entries) set(e.first, e.second);
}

const Value* Dictionary::find(std::string_view key) const {
  for (const auto& e : entries_)
    if (e.first == key) return &e.second;
  return nullptr;
}

Value* Dictionary::find(std::string_view key) {
  for (auto& e : entries_)
    if (e.first == key) return &e.second;
  return nullptr;
}

const Value& Dictionary::get(std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : absentValue();
}

void Dictionary::set(std::string key, Value value) {
  if (Value* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

bool Dictionary::erase(std::string_view key) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->first == key) {
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

Value& Dictionary::operator[](std::string_view key) {
  if (Value* existing = find(key)) return *existing;
  entries_.emplace_back(std::string(key), Value());
  return entries_.back().second;
}

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
