// Person records and multi-values, and their storage form.
#include <cmath>
#include <string>

#include "ABAddressBookStore.h"
#include "plat/addressbook/ABAddressBook.h"

namespace plat {
namespace {

NSError refusal(const std::string& what) { return NSError{kABErrorDomain, kABOperationNotPermittedByStoreError, what, {}}; }

bool isDictionaryOfTexts(const Value& value) {
  if (!value.isDictionary()) return false;
  for (const auto& [key, item] : value.asDictionary())
    if (!item.isString()) return false;
  return true;
}

}  // namespace

ABPropertyType ABPersonGetTypeOfProperty(ABPropertyID property) {
  switch (property) {
    case kABPersonFirstNameProperty:
    case kABPersonLastNameProperty:
    case kABPersonMiddleNameProperty:
    case kABPersonPrefixProperty:
    case kABPersonSuffixProperty:
    case kABPersonNicknameProperty:
    case kABPersonOrganizationProperty:
    case kABPersonJobTitleProperty:
    case kABPersonDepartmentProperty:
    case kABPersonNoteProperty:
      return ABPropertyType::String;
    case kABPersonBirthdayProperty:
      return ABPropertyType::DateTime;
    case kABPersonPhoneProperty:
    case kABPersonEmailProperty:
    case kABPersonURLProperty:
      return ABPropertyType::MultiString;
    case kABPersonAddressProperty:
    case kABPersonInstantMessageProperty:
      return ABPropertyType::MultiDictionary;
    default:
      return ABPropertyType::Invalid;
  }
}

// --- ABMultiValue ---

long ABMultiValue::indexForIdentifier(ABMultiValueIdentifier identifier) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].identifier == identifier) return static_cast<long>(i);
  return -1;
}

bool ABMultiValue::accepts(const Value& value) const {
  return type_ == ABPropertyType::MultiString ? value.isString() : isDictionaryOfTexts(value);
}

bool ABMultiValue::addValueAndLabel(const Value& value, std::optional<std::string> label,
                                    ABMultiValueIdentifier* outIdentifier) {
  if (!accepts(value)) return false;
  ABMultiValueIdentifier id = nextIdentifier_++;
  entries_.push_back(Entry{id, std::move(label), value});
  if (outIdentifier) *outIdentifier = id;
  return true;
}

bool ABMultiValue::replaceValueAtIndex(const Value& value, std::size_t index) {
  if (index >= entries_.size() || !accepts(value)) return false;
  entries_[index].value = value;
  return true;
}

bool ABMultiValue::replaceLabelAtIndex(std::optional<std::string> label, std::size_t index) {
  if (index >= entries_.size()) return false;
  entries_[index].label = std::move(label);
  return true;
}

bool ABMultiValue::removeValueAndLabelAtIndex(std::size_t index) {
  if (index >= entries_.size()) return false;
  entries_.erase(entries_.begin() + static_cast<long>(index));
  return true;
}

Value ABMultiValue::toStoredValue() const {
  Array entries;
  entries.reserve(entries_.size());
  for (const auto& e : entries_)
    entries.emplace_back(Array{e.identifier, e.label ? Value(*e.label) : Value::null(), e.value});
  return Dictionary{{"next", nextIdentifier_}, {"entries", std::move(entries)}};
}

std::optional<ABMultiValue> ABMultiValue::fromStoredValue(const Value& stored, ABPropertyType type) {
  if (!stored["entries"].isArray()) return std::nullopt;
  ABMultiValue mv(type);
  mv.nextIdentifier_ = static_cast<ABMultiValueIdentifier>(stored["next"].asInt());
  for (const auto& e : stored["entries"].asArray()) {
    if (!e.isArray() || e.asArray().size() != 3 || !mv.accepts(e.at(2))) continue;
    auto id = static_cast<ABMultiValueIdentifier>(e.at(0).asInt());
    mv.entries_.push_back(Entry{id, e.at(1).isString() ? std::optional(e.at(1).asString()) : std::nullopt, e.at(2)});
    if (id >= mv.nextIdentifier_) mv.nextIdentifier_ = id + 1;
  }
  return mv;
}

// --- ABRecord ---

ABRecordRef ABPersonCreate() { return std::make_shared<ABRecord>(); }

std::optional<ABPropertyValue> ABRecord::copyValue(ABPropertyID property) const {
  auto it = values_.find(property);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> ABRecord::copyString(ABPropertyID property) const {
  auto it = values_.find(property);
  if (it == values_.end() || !std::holds_alternative<std::string>(it->second)) return std::nullopt;
  return std::get<std::string>(it->second);
}

bool ABRecord::setValue(ABPropertyID property, const ABPropertyValue& value, NSError* error) {
  ABPropertyType type = ABPersonGetTypeOfProperty(property);
  bool fits = false;
  switch (type) {
    case ABPropertyType::String:
      fits = std::holds_alternative<std::string>(value);
      break;
    case ABPropertyType::DateTime:
      // A date is a point in time: NaN and the infinities are none, and no store can hold them.
      fits = std::holds_alternative<ABDate>(value) && std::isfinite(std::get<ABDate>(value).secondsSince1970);
      break;
    case ABPropertyType::MultiString:
    case ABPropertyType::MultiDictionary:
      fits = std::holds_alternative<ABMultiValue>(value) && std::get<ABMultiValue>(value).propertyType() == type;
      break;
    case ABPropertyType::Invalid:
      break;
  }
  if (!fits) {
    if (error) *error = refusal("the value does not suit property " + std::to_string(property));
    return false;
  }
  values_[property] = value;
  changed_ = true;
  return true;
}

bool ABRecord::removeValue(ABPropertyID property, NSError* error) {
  if (ABPersonGetTypeOfProperty(property) == ABPropertyType::Invalid) {
    if (error) *error = refusal("no property " + std::to_string(property));
    return false;
  }
  if (values_.erase(property)) changed_ = true;
  return true;
}

std::optional<std::string> ABRecord::copyCompositeName() const {
  std::string name;
  for (ABPropertyID p : {kABPersonPrefixProperty, kABPersonFirstNameProperty, kABPersonMiddleNameProperty,
                         kABPersonLastNameProperty, kABPersonSuffixProperty}) {
    auto part = copyString(p);
    if (!part || part->empty()) continue;
    if (!name.empty()) name += ' ';
    name += *part;
  }
  if (name.empty()) {
    auto organization = copyString(kABPersonOrganizationProperty);
    if (organization && !organization->empty()) return organization;
    return std::nullopt;
  }
  return name;
}

bool ABRecord::hasImageData() const { return hasImage_; }

std::optional<Data> ABRecord::copyImageData() const {
  if (!hasImage_) return std::nullopt;
  if (!imageLoaded_) {
    image_ = store_ ? store_->readImage(id_) : std::nullopt;
    imageLoaded_ = true;
  }
  return image_;
}

bool ABRecord::setImageData(const Data& data, NSError* error) {
  if (data.empty()) {
    if (error) *error = refusal("an image needs data");
    return false;
  }
  image_ = data;
  imageLoaded_ = true;
  hasImage_ = true;
  imageChanged_ = changed_ = true;
  return true;
}

bool ABRecord::removeImageData(NSError* error) {
  image_.reset();
  imageLoaded_ = true;
  if (hasImage_) imageChanged_ = changed_ = true;
  hasImage_ = false;
  return true;
}

ABRecordRef ABRecord::clone() const {
  auto copy = std::make_shared<ABRecord>();
  copy->id_ = id_;
  copy->values_ = values_;
  copy->image_ = image_;
  copy->imageLoaded_ = imageLoaded_;
  copy->hasImage_ = hasImage_;
  copy->changed_ = changed_;
  copy->imageChanged_ = imageChanged_;
  copy->store_ = store_;
  return copy;
}

ABRecordRef ABRecord::storedCopy(std::shared_ptr<ABAddressBookStore> store) const {
  auto copy = std::make_shared<ABRecord>();
  copy->id_ = id_;
  copy->values_ = values_;
  copy->hasImage_ = hasImage_;
  copy->imageLoaded_ = !hasImage_;
  copy->store_ = std::move(store);
  return copy;
}

Value ABRecord::toStoredValue() const {
  Dictionary stored;
  for (const auto& [property, value] : values_) {
    Value v;
    if (auto* text = std::get_if<std::string>(&value))
      v = *text;
    else if (auto* date = std::get_if<ABDate>(&value))
      v = Dictionary{{"date", date->secondsSince1970}};
    else
      v = std::get<ABMultiValue>(value).toStoredValue();
    stored.set(std::to_string(property), std::move(v));
  }
  return stored;
}

// A record as the store holds it. Unreadable properties are skipped rather than losing the
// whole person.
ABRecordRef makeStoredRecord(ABRecordID id, const Value& stored, bool hasImage,
                             std::shared_ptr<ABAddressBookStore> store) {
  auto record = std::make_shared<ABRecord>();
  record->id_ = id;
  record->hasImage_ = hasImage;
  record->imageLoaded_ = !hasImage;
  record->store_ = std::move(store);
  if (!stored.isDictionary()) return record;
  for (const auto& [key, value] : stored.asDictionary()) {
    ABPropertyID property = static_cast<ABPropertyID>(std::atoi(key.c_str()));
    switch (ABPersonGetTypeOfProperty(property)) {
      case ABPropertyType::String:
        if (value.isString()) record->values_[property] = value.asString();
        break;
      case ABPropertyType::DateTime:
        if (value["date"].isNumber()) record->values_[property] = ABDate{value["date"].asDouble()};
        break;
      case ABPropertyType::MultiString:
      case ABPropertyType::MultiDictionary:
        if (auto mv = ABMultiValue::fromStoredValue(value, ABPersonGetTypeOfProperty(property)))
          record->values_[property] = std::move(*mv);
        break;
      case ABPropertyType::Invalid:
        break;
    }
  }
  return record;
}

}  // namespace plat
