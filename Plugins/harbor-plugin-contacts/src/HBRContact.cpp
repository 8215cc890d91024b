#include "HBRContact.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "HBRContactPhotoLoader.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/StringFolding.h"
#include "plat/foundation/Strings.h"

namespace harbor {

using plat::ABMultiValue;
using plat::ABPropertyID;
using plat::ABPropertyType;
using plat::ABRecord;
using plat::Array;
using plat::Dictionary;
using plat::Value;

namespace {

// The furthest a page Date reaches from 1970, either way: 100,000,000 days.
constexpr double kMaxDateMilliseconds = 8.64e15;

// The property a W3C name maps to, or nothing when it maps to a dictionary key or to null.
std::optional<ABPropertyID> propertyOf(const std::string& w3cName) {
  const Value& v = HBRContact::defaultW3CtoAB().get(w3cName);
  if (!v.isInteger()) return std::nullopt;
  return static_cast<ABPropertyID>(v.asInt());
}

// The dictionary key a W3C sub-field maps to, or nothing.
std::optional<std::string> keyOf(const std::string& w3cName) {
  const Value& v = HBRContact::defaultW3CtoAB().get(w3cName);
  if (!v.isString()) return std::nullopt;
  return v.asString();
}

Value textOrNull(const std::optional<std::string>& text) { return text ? Value(*text) : Value::null(); }

bool isEmptyText(const Value& v) { return v.isString() && v.asString().empty(); }

const ABMultiValue* multiValueOf(const ABRecord& record, ABPropertyID property) {
  auto it = record.values().find(property);
  if (it == record.values().end()) return nullptr;
  return std::get_if<ABMultiValue>(&it->second);
}

// A search text's integer value as the platform reads one: leading spaces, a sign, then digits;
// 0 when there are none.
long long integerValueOf(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) {
    if (!out.empty()) out += ' ';
    out += p;
  }
  return out;
}

// Search texts fold case and accents everywhere, except the composite name, which folds case
// only.
bool matches(std::string_view haystack, std::string_view needle) { return plat::containsFolded(haystack, needle); }

}  // namespace

HBRContact::HBRContact() : record_(plat::ABPersonCreate()), photoReader_(readContactPhoto) {}

HBRContact::HBRContact(plat::ABRecordRef record) : record_(std::move(record)), photoReader_(readContactPhoto) {}

// --- Tables ---

const Dictionary& HBRContact::defaultW3CtoAB() {
  static const Dictionary table{
      {"nickname", plat::kABPersonNicknameProperty},
      {"givenName", plat::kABPersonFirstNameProperty},
      {"familyName", plat::kABPersonLastNameProperty},
      {"middleName", plat::kABPersonMiddleNameProperty},
      {"honorificPrefix", plat::kABPersonPrefixProperty},
      {"honorificSuffix", plat::kABPersonSuffixProperty},
      {"phoneNumbers", plat::kABPersonPhoneProperty},
      {"addresses", plat::kABPersonAddressProperty},
      {"streetAddress", plat::kABPersonAddressStreetKey},
      {"locality", plat::kABPersonAddressCityKey},
      {"region", plat::kABPersonAddressStateKey},
      {"postalCode", plat::kABPersonAddressZIPKey},
      {"country", plat::kABPersonAddressCountryKey},
      {"emails", plat::kABPersonEmailProperty},
      {"ims", plat::kABPersonInstantMessageProperty},
      {"organizations", plat::kABPersonOrganizationProperty},
      {"name", plat::kABPersonOrganizationProperty},
      {"title", plat::kABPersonJobTitleProperty},
      {"department", plat::kABPersonDepartmentProperty},
      {"birthday", plat::kABPersonBirthdayProperty},
      {"note", plat::kABPersonNoteProperty},
      {"urls", plat::kABPersonURLProperty},
      {"value", plat::kABPersonInstantMessageUsernameKey},
      {"type", plat::kABPersonInstantMessageServiceKey},
      {"pref", Value::null()},
      {"id", Value::null()},
  };
  return table;
}

const std::map<ABPropertyID, std::string>& HBRContact::defaultABtoW3C() {
  static const std::map<ABPropertyID, std::string> table = [] {
    std::map<ABPropertyID, std::string> reverse;
    for (const auto& [name, target] : defaultW3CtoAB()) {
      if (name == "value") break;  // the rows after "urls" have no reverse
      if (target.isInteger()) reverse.emplace(static_cast<ABPropertyID>(target.asInt()), name);
    }
    return reverse;
  }();
  return table;
}

const std::set<std::string>& HBRContact::defaultW3CtoNull() {
  static const std::set<std::string> names{"displayName", "categories", "formatted"};
  return names;
}

const Dictionary& HBRContact::defaultObjectAndProperties() {
  static const Dictionary table{
      {"name", Array{"givenName", "familyName", "middleName", "honorificPrefix", "honorificSuffix", "formatted"}},
      {"addresses", Array{"streetAddress", "locality", "region", "postalCode", "country"}},
      {"organizations", Array{"name", "title", "department"}},
      {"phoneNumbers", Array{"type", "value", "pref"}},
      {"emails", Array{"type", "value", "pref"}},
      {"photos", Array{"type", "value", "pref"}},
      {"urls", Array{"type", "value", "pref"}},
      {"ims", Array{"value", "type"}},
  };
  return table;
}

const HBRFieldDictionary& HBRContact::defaultFields() {
  static const HBRFieldDictionary fields = [] {
    HBRFieldDictionary all;
    for (const auto& [field, subFields] : defaultObjectAndProperties()) all.set(field, subFields);
    all.set("nickname", Value::null());
    all.set("birthday", Value::null());
    all.set("note", Value::null());
    return all;
  }();
  return fields;
}

std::optional<HBRFieldDictionary> HBRContact::calcReturnFields(const Value& fieldsArray) {
  if (!fieldsArray.isArray()) return std::nullopt;
  const Array& names = fieldsArray.asArray();
  if (names.size() == 1 && names[0] == Value("*")) return defaultFields();

  auto isKnown = [](const std::string& name) {
    return defaultW3CtoAB().contains(name) || defaultW3CtoNull().count(name) != 0;
  };
  HBRFieldDictionary result;
  for (const auto& item : names) {
    std::string text;
    if (item.isString())
      text = item.asString();
    else if (item.isNumber() && !item.isBool())
      text = item.description();
    else
      continue;
    auto dot = text.find('.');
    std::string field = text.substr(0, dot);
    if (defaultObjectAndProperties().contains(field)) {
      if (dot == std::string::npos) {
        result.set(field, defaultObjectAndProperties().get(field));
        continue;
      }
      std::string subField = text.substr(dot + 1);
      if (!isKnown(subField)) {
        plat::NSLogf("Contacts.find -- request for invalid property ignored: %s.%s", field.c_str(), subField.c_str());
        continue;
      }
      Value& list = result[field];
      if (!list.isArray()) list = Array{};
      list.asArray().push_back(subField);
    } else if (isKnown(field)) {
      result.set(field, Value::null());
    }
  }
  if (result.empty()) return std::nullopt;
  return result;
}

std::optional<std::string> HBRContact::convertContactTypeToPropertyLabel(const Value& type) {
  if (!type.isString()) return std::nullopt;
  static const std::pair<const char*, const char*> labels[] = {
      {"work", plat::kABWorkLabel},
      {"home", plat::kABHomeLabel},
      {"other", plat::kABOtherLabel},
      {"mobile", plat::kABPersonPhoneMobileLabel},
      {"pager", plat::kABPersonPhonePagerLabel},
      {"aim", plat::kABPersonInstantMessageServiceAIM},
      {"icq", plat::kABPersonInstantMessageServiceICQ},
      {"msn", plat::kABPersonInstantMessageServiceMSN},
      {"yahoo", plat::kABPersonInstantMessageServiceYahoo},
      {"profile", plat::kABPersonHomePageLabel},
  };
  for (const auto& [name, label] : labels)
    if (plat::equalsIgnoringCaseASCII(type.asString(), name)) return std::string(label);
  return type.asString();
}

std::optional<std::string> HBRContact::convertPropertyLabelToContactType(const std::optional<std::string>& label) {
  if (!label) return std::nullopt;
  static const std::pair<const char*, const char*> types[] = {
      {plat::kABPersonPhoneMobileLabel, "mobile"},
      {plat::kABPersonPhoneHomeFAXLabel, "fax"},
      {plat::kABPersonPhoneWorkFAXLabel, "fax"},
      {plat::kABPersonPhonePagerLabel, "pager"},
      {plat::kABHomeLabel, "home"},
      {plat::kABWorkLabel, "work"},
      {plat::kABOtherLabel, "other"},
      {plat::kABPersonInstantMessageServiceAIM, "aim"},
      {plat::kABPersonInstantMessageServiceICQ, "icq"},
      {plat::kABPersonInstantMessageServiceJabber, "other"},
      {plat::kABPersonInstantMessageServiceMSN, "msn"},
      {plat::kABPersonInstantMessageServiceYahoo, "yahoo"},
      {plat::kABPersonHomePageLabel, "profile"},
  };
  for (const auto& [known, type] : types)
    if (*label == known) return std::string(type);
  return label;
}

bool HBRContact::isValidW3ContactType(const Value& type) {
  if (!type.isString()) return false;
  for (const char* name : {"work", "home", "other", "mobile", "pager", "aim", "icq", "msn", "yahoo"})
    if (plat::equalsIgnoringCaseASCII(type.asString(), name)) return true;
  return false;
}

// --- Writing ---

bool HBRContact::setFromContactDict(const Value& contact, bool isUpdate) {
  if (!contact.isDictionary() || !record_) return false;
  ABRecord& record = *record_;
  bool ok = true;

  const Value& name = contact["name"];
  if (name.isDictionary()) {
    for (const auto& sub : defaultObjectAndProperties().get("name").asArray()) {
      if (sub.asString() == "formatted") continue;
      if (auto property = propertyOf(sub.asString()))
        setValueForPropertyInRecordAsUpdate(name[sub.asString()], *property, record, isUpdate);
    }
  }

  const Value& nickname = contact["nickname"];
  if (!nickname.isNil())
    setValueForPropertyInRecordAsUpdate(nickname, plat::kABPersonNicknameProperty, record, isUpdate);
  else if (!name.isDictionary())
    setValueForPropertyInRecordAsUpdate(contact["displayName"], plat::kABPersonNicknameProperty, record, isUpdate);

  static const std::pair<const char*, ABPropertyID> strings[] = {{"phoneNumbers", plat::kABPersonPhoneProperty},
                                                                 {"emails", plat::kABPersonEmailProperty},
                                                                 {"urls", plat::kABPersonURLProperty}};
  for (const auto& [field, property] : strings)
    if (contact[field].isArray()) setMultiValueStrings(contact[field].asArray(), property, record, isUpdate);
  static const std::pair<const char*, ABPropertyID> dictionaries[] = {
      {"addresses", plat::kABPersonAddressProperty}, {"ims", plat::kABPersonInstantMessageProperty}};
  for (const auto& [field, property] : dictionaries)
    if (contact[field].isArray()) setMultiValueDictionary(contact[field].asArray(), property, record, isUpdate);

  const Value& organizations = contact["organizations"];
  if (organizations.isArray()) {
    static const std::pair<const char*, ABPropertyID> parts[] = {{"name", plat::kABPersonOrganizationProperty},
                                                                 {"title", plat::kABPersonJobTitleProperty},
                                                                 {"department", plat::kABPersonDepartmentProperty}};
    if (organizations.asArray().empty()) {
      for (const auto& [field, property] : parts) setValueForPropertyInRecordAsUpdate("", property, record, isUpdate);
    } else if (organizations.at(0).isDictionary()) {
      for (const auto& [field, property] : parts)
        setValueForPropertyInRecordAsUpdate(organizations.at(0)[field], property, record, isUpdate);
    }
  }

  const Value& birthday = contact["birthday"];
  if (birthday.isNumber() && !birthday.isBool()) {
    // NaN, the infinities and numbers past a page Date's range are no date: the save fails and
    // the stored contact stays as it was.
    double ms = birthday.asDouble();
    if (!(std::fabs(ms) <= kMaxDateMilliseconds)) {
      plat::NSLog("HBRContact: the birthday is not a date: " + Value(ms).description());
      return false;
    }
    plat::ABDate date{ms / 1000.0};
    if (!record.setValue(plat::kABPersonBirthdayProperty, date))
      plat::NSLogf("error setting %d property", plat::kABPersonBirthdayProperty);
  } else if (birthday.isString()) {
    setValueForPropertyInRecordAsUpdate(birthday, plat::kABPersonBirthdayProperty, record, isUpdate);
  }

  setValueForPropertyInRecordAsUpdate(contact["note"], plat::kABPersonNoteProperty, record, isUpdate);

  const Value& photos = contact["photos"];
  if (photos.isArray()) {
    const Value& first = photos.at(0);
    const bool empty = photos.asArray().empty() || (first["value"].isString() && first["value"].asString().empty());
    if (empty) {
      if (isUpdate && !record.removeImageData()) ok = false;
    } else if (auto url = photoURLOf(contact)) {
      auto data = photoReader_ ? photoReader_(*url) : plat::Result<plat::Data>(plat::Failure{""});
      if (!data.ok()) {
        plat::NSLogf("error setting contact image: %s", data.error().c_str());
      } else if (!data->empty()) {
        plat::NSError error;
        if (!record.setImageData(*data, &error)) {
          plat::NSLogf("error setting contact image: %s", error.localizedDescription.c_str());
          ok = false;
        }
      }
    }
  }
  return ok;
}

std::optional<std::string> HBRContact::photoURLOf(const Value& contact) {
  const Value& value = contact["photos"].at(0)["value"];
  if (!value.isString() || value.asString().empty()) return std::nullopt;
  const std::string& given = value.asString();
  return plat::percentEscape(plat::percentDecode(given).value_or(given), ":/?#[]@!$&'()*+,;=");
}

bool HBRContact::setValueForPropertyInRecordAsUpdate(const Value& value, ABPropertyID property, ABRecord& record,
                                                     bool isUpdate) {
  if (value.isNil()) return true;
  bool stored;
  if (isUpdate && isEmptyText(value))
    stored = record.removeValue(property);
  else
    stored = value.isString() && record.setValue(property, value.asString());
  if (!stored) plat::NSLogf("error setting %d property", property);
  return stored;
}

bool HBRContact::removeProperty(ABPropertyID property, ABRecord& record) {
  plat::NSError error;
  if (record.removeValue(property, &error)) return true;
  plat::NSLogf("Unable to remove property %d: %s", property, error.description().c_str());
  return false;
}

bool HBRContact::addToMultiValue(ABMultiValue& multiValue, const Value& entry) {
  const Value& value = entry["value"];
  if (value.isNil()) return false;
  auto label = convertContactTypeToPropertyLabel(entry["type"]);
  if (multiValue.addValueAndLabel(value, label)) return true;
  plat::NSLogf("Error setting Value: %s and label: %s", value.description().c_str(),
               label ? label->c_str() : "(null)");
  return false;
}

ABMultiValue HBRContact::allocStringMultiValueFromArray(const Array& entries) {
  ABMultiValue multiValue(ABPropertyType::MultiString);
  for (const auto& entry : entries) addToMultiValue(multiValue, entry);
  return multiValue;
}

bool HBRContact::setValueForPropertyInRecord(const ABMultiValue& multiValue, ABPropertyID property, ABRecord& record) {
  if (record.setValue(property, multiValue)) return true;
  plat::NSLogf("Error setting value for property: %d", property);
  return false;
}

bool HBRContact::setMultiValueStrings(const Array& entries, ABPropertyID property, ABRecord& record, bool isUpdate) {
  const ABMultiValue* stored = multiValueOf(record, property);
  if (!isUpdate || !stored)
    return setValueForPropertyInRecord(allocStringMultiValueFromArray(entries), property, record);
  if (entries.empty()) return removeProperty(property, record);

  ABMultiValue copy = *stored;
  for (const auto& entry : entries) {
    const Value& value = entry["value"];
    if (value.isNil()) continue;
    const Value& id = entry["id"];
    long index = id.isNumber() && !id.isBool() && id.asDouble() >= 0
                     ? copy.indexForIdentifier(static_cast<plat::ABMultiValueIdentifier>(id.asInt()))
                     : -1;
    if (index < 0) {
      addToMultiValue(copy, entry);
    } else if (isEmptyText(value)) {
      copy.removeValueAndLabelAtIndex(static_cast<std::size_t>(index));
    } else {
      auto i = static_cast<std::size_t>(index);
      if (copy.valueAtIndex(i) != value && !copy.replaceValueAtIndex(value, i))
        plat::NSLogf("Error setting Value: %s and label: %s", value.description().c_str(), "(null)");
      auto label = convertContactTypeToPropertyLabel(entry["type"]);
      if (copy.labelAtIndex(i) != label) copy.replaceLabelAtIndex(label, i);
    }
  }
  return setValueForPropertyInRecord(copy, property, record);
}

std::optional<Dictionary> HBRContact::translateW3Dict(const Value& entry, ABPropertyID property) {
  auto w3cName = defaultABtoW3C().find(property);
  if (w3cName == defaultABtoW3C().end()) return std::nullopt;
  const bool isIm = property == plat::kABPersonInstantMessageProperty;
  Dictionary translated;
  for (const auto& sub : defaultObjectAndProperties().get(w3cName->second).asArray()) {
    const std::string& name = sub.asString();
    const Value& value = entry[name];
    auto key = keyOf(name);
    if (value.isNil() || !key) continue;
    if (needsConversion(name)) {
      auto label = convertContactTypeToPropertyLabel(value);
      if (!label) continue;
      translated.set(*key, isIm && *label == plat::kABOtherLabel ? std::string() : *label);
    } else if (value.isString()) {
      translated.set(*key, value);
    }
  }
  if (translated.empty()) return std::nullopt;
  return translated;
}

ABMultiValue HBRContact::allocDictMultiValueFromArray(const Array& entries, ABPropertyID property) {
  ABMultiValue multiValue(ABPropertyType::MultiDictionary);
  const bool isIm = property == plat::kABPersonInstantMessageProperty;
  for (const auto& entry : entries) {
    auto translated = translateW3Dict(entry, property);
    if (!translated) continue;
    // An instant-messaging entry's type is its service, inside the dictionary.
    auto label = isIm ? std::nullopt : convertContactTypeToPropertyLabel(entry["type"]);
    multiValue.addValueAndLabel(*translated, label.value_or(plat::kABOtherLabel));
  }
  return multiValue;
}

bool HBRContact::setMultiValueDictionary(const Array& entries, ABPropertyID property, ABRecord& record,
                                         bool isUpdate) {
  const ABMultiValue* stored = multiValueOf(record, property);
  if (!isUpdate || !stored)
    return setValueForPropertyInRecord(allocDictMultiValueFromArray(entries, property), property, record);
  if (entries.empty()) return removeProperty(property, record);

  auto w3cName = defaultABtoW3C().find(property);
  if (w3cName == defaultABtoW3C().end()) return false;
  const Array& subFields = defaultObjectAndProperties().get(w3cName->second).asArray();
  const bool isIm = property == plat::kABPersonInstantMessageProperty;

  ABMultiValue copy = *stored;
  for (const auto& entry : entries) {
    const Value& id = entry["id"];
    long index = id.isNumber() && !id.isBool() && id.asDouble() >= 0
                     ? copy.indexForIdentifier(static_cast<plat::ABMultiValueIdentifier>(id.asInt()))
                     : -1;
    if (index < 0) {
      if (auto translated = translateW3Dict(entry, property)) {
        auto label = isIm ? std::nullopt : convertContactTypeToPropertyLabel(entry["type"]);
        copy.addValueAndLabel(*translated, label.value_or(plat::kABOtherLabel));
      }
      continue;
    }
    auto i = static_cast<std::size_t>(index);
    bool labelReplaced = false;
    const Value& type = entry["type"];
    if (type.isString() && !type.asString().empty()) {
      auto label = convertContactTypeToPropertyLabel(type);
      if (copy.labelAtIndex(i) != label) {
        copy.replaceLabelAtIndex(label, i);
        labelReplaced = true;
      }
    }
    const Value& old = copy.valueAtIndex(i);
    Dictionary updated;
    for (const auto& sub : subFields) {
      const std::string& name = sub.asString();
      auto key = keyOf(name);
      if (!key) continue;
      const Value& value = entry[name];
      if (value.isAbsent()) {
        if (const Value* kept = old.asDictionary().find(*key)) updated.set(*key, *kept);
      } else if (value.isString() && !value.asString().empty()) {
        if (needsConversion(name))
          updated.set(*key, convertContactTypeToPropertyLabel(value).value_or(""));
        else
          updated.set(*key, value);
      }
    }
    if (!updated.empty())
      copy.replaceValueAtIndex(updated, i);
    else if (!labelReplaced)
      copy.removeValueAndLabelAtIndex(i);
  }
  return setValueForPropertyInRecord(copy, property, record);
}

// --- Reading ---

bool HBRContact::isRequested(const std::string& field) const {
  return returnFields_ && returnFields_->contains(field);
}

Array HBRContact::requestedSubFields(const std::string& field) const {
  if (!returnFields_) return {};
  const Value& list = returnFields_->get(field);
  return list.isArray() ? list.asArray() : Array{};
}

Value HBRContact::stringOrNull(ABPropertyID property) const { return textOrNull(record_->copyString(property)); }

std::optional<Dictionary> HBRContact::toDictionary(const std::optional<HBRFieldDictionary>& withFields) {
  if (!record_ || record_->recordType() != plat::ABRecordType::Person) return std::nullopt;
  returnFields_ = withFields;
  Dictionary result;
  result.set("id", record_->recordID());
  if (!withFields) return result;

  if (isRequested("displayName")) result.set("displayName", Value::null());
  if (isRequested("nickname")) result.set("nickname", stringOrNull(plat::kABPersonNicknameProperty));
  auto name = extractName();
  if (name) result.set("name", *name);
  if (isRequested("displayName") && (!name || (*name)["formatted"].isNil())) {
    auto display = record_->copyCompositeName();
    if (!display) display = record_->copyString(plat::kABPersonNicknameProperty);
    result.set("displayName", display.value_or(""));
  }
  for (const char* field : {"phoneNumbers", "emails", "urls"})
    if (auto v = extractMultiValue(field)) result.set(field, *v);
  if (auto v = extractAddresses()) result.set("addresses", *v);
  if (auto v = extractIms()) result.set("ims", *v);
  if (auto v = extractOrganizations()) result.set("organizations", *v);
  if (isRequested("birthday")) {
    if (auto ms = getDateAsNumber(plat::kABPersonBirthdayProperty)) result.set("birthday", *ms);
  }
  if (isRequested("note")) result.set("note", stringOrNull(plat::kABPersonNoteProperty));
  if (isRequested("photos")) result.set("photos", extractPhotos().value_or(Value::null()));
  return result;
}

std::optional<double> HBRContact::getDateAsNumber(ABPropertyID property) const {
  auto value = record_->copyValue(property);
  if (!value || !std::holds_alternative<plat::ABDate>(*value)) return std::nullopt;
  return std::get<plat::ABDate>(*value).secondsSince1970 * 1000.0;
}

std::optional<Value> HBRContact::extractName() const {
  if (!isRequested("name")) return std::nullopt;
  Dictionary name;
  for (const auto& sub : requestedSubFields("name")) {
    const std::string& field = sub.asString();
    if (field == "formatted") {
      name.set(field, textOrNull(record_->copyCompositeName()));
    } else {
      auto property = propertyOf(field);
      name.set(field, property ? stringOrNull(*property) : Value::null());
    }
  }
  return Value(std::move(name));
}

std::optional<Value> HBRContact::extractMultiValue(const std::string& field) const {
  if (!isRequested(field)) return std::nullopt;
  auto property = propertyOf(field);
  const ABMultiValue* values = property ? multiValueOf(*record_, *property) : nullptr;
  if (!values || values->count() == 0) return Value::null();
  Array subs = requestedSubFields(field);
  auto wants = [&](const char* name) { return std::find(subs.begin(), subs.end(), Value(name)) != subs.end(); };
  Array entries;
  for (const auto& e : values->entries()) {
    Dictionary entry;
    if (wants("type")) entry.set("type", textOrNull(convertPropertyLabelToContactType(e.label)));
    if (wants("value")) entry.set("value", e.value.isString() ? e.value : Value::null());
    if (wants("pref")) entry.set("pref", false);
    entry.set("id", static_cast<std::uint64_t>(e.identifier));
    entries.emplace_back(std::move(entry));
  }
  return Value(std::move(entries));
}

std::optional<Value> HBRContact::extractAddresses() const {
  if (!isRequested("addresses")) return std::nullopt;
  const ABMultiValue* values = multiValueOf(*record_, plat::kABPersonAddressProperty);
  if (!values || values->count() == 0) return Value::null();
  Array entries;
  for (const auto& e : values->entries()) {
    Dictionary entry;
    entry.set("id", static_cast<std::uint64_t>(e.identifier));
    entry.set("type", textOrNull(convertPropertyLabelToContactType(e.label)));
    entry.set("pref", "false");
    for (const auto& sub : requestedSubFields("addresses")) {
      const std::string& field = sub.asString();
      // The entry's own keys are set above and are no address parts.
      if (field == "id" || field == "type" || field == "pref") continue;
      auto key = keyOf(field);
      const Value& part = key ? e.value[*key] : plat::absentValue();
      entry.set(field, part.isString() ? part : Value::null());
    }
    entries.emplace_back(std::move(entry));
  }
  return Value(std::move(entries));
}

std::optional<Value> HBRContact::extractIms() const {
  if (!isRequested("ims")) return std::nullopt;
  const ABMultiValue* values = multiValueOf(*record_, plat::kABPersonInstantMessageProperty);
  if (!values || values->count() == 0) return Value::null();
  Array subs = requestedSubFields("ims");
  auto wants = [&](const char* name) { return std::find(subs.begin(), subs.end(), Value(name)) != subs.end(); };
  Array entries;
  for (const auto& e : values->entries()) {
    Dictionary entry;
    if (wants("value")) {
      const Value& user = e.value[plat::kABPersonInstantMessageUsernameKey];
      entry.set("value", user.isString() ? user : Value::null());
    }
    if (wants("type")) {
      const Value& service = e.value[plat::kABPersonInstantMessageServiceKey];
      entry.set("type", service.isString() ? textOrNull(convertPropertyLabelToContactType(service.asString()))
                                           : Value::null());
    }
    entry.set("id", static_cast<std::uint64_t>(e.identifier));
    entries.emplace_back(std::move(entry));
  }
  return Value(std::move(entries));
}

std::optional<Value> HBRContact::extractOrganizations() const {
  if (!isRequested("organizations")) return std::nullopt;
  Dictionary organization;
  bool any = false;
  for (const auto& sub : requestedSubFields("organizations")) {
    const std::string& field = sub.asString();
    auto property = propertyOf(field);
    Value value = property ? stringOrNull(*property) : Value::null();
    any = any || !value.isNull();
    organization.set(field, std::move(value));
  }
  if (!any) return Value::null();
  organization.set("pref", "false");
  organization.set("type", Value::null());
  return Value(Array{Value(std::move(organization))});
}

std::optional<Value> HBRContact::extractPhotos() const {
  if (!isRequested("photos") || !record_->hasImageData()) return std::nullopt;
  auto data = record_->copyImageData();
  if (!data) return std::nullopt;
  std::string folder = plat::stringByStandardizingPath(plat::NSTemporaryDirectory());
  std::string path = plat::format("%s/contact_photo_%ld", folder.c_str(), static_cast<long>(record_->recordID()));
  std::string_view bytes(reinterpret_cast<const char*>(data->data()), data->size());
  if (!plat::writeFileContentsAtomically(path, bytes)) return std::nullopt;
  return Value(Array{Value(Dictionary{{"value", path}, {"type", "url"}, {"pref", "false"}})});
}

// --- Searching ---

bool HBRContact::valueForKeyIsArray(const HBRFieldDictionary& dict, const std::string& key) {
  return dict.get(key).isArray();
}

bool HBRContact::valueForKeyIsNumber(const Dictionary& dict, const std::string& key) {
  const Value& v = dict.get(key);
  return v.isNumber() && !v.isBool();
}

bool HBRContact::foundValue(const Value& testValue, const std::optional<HBRFieldDictionary>& searchFields) const {
  if (!testValue.isString() || testValue.asString().empty() || !record_) return false;
  const std::string& text = testValue.asString();
  long long asNumber = integerValueOf(text);
  if (asNumber != 0 && asNumber == record_->recordID()) return true;
  if (!searchFields) return false;
  const HBRFieldDictionary& fields = *searchFields;

  if (fields.contains("nickname") && testStringValue(text, "nickname")) return true;
  if (valueForKeyIsArray(fields, "name")) {
    for (const auto& sub : fields.get("name").asArray()) {
      if (sub.asString() == "formatted") {
        auto composite = record_->copyCompositeName();
        if (composite && !composite->empty() && plat::containsFolded(*composite, text, {true, false})) return true;
      } else if (testStringValue(text, sub.asString())) {
        return true;
      }
    }
  }
  if (valueForKeyIsArray(fields, "phoneNumbers") &&
      searchContactFieldsForMVStringProperty(fields.get("phoneNumbers").asArray(), plat::kABPersonPhoneProperty, text))
    return true;
  if (valueForKeyIsArray(fields, "emails") &&
      searchContactFieldsForMVStringProperty(fields.get("emails").asArray(), plat::kABPersonEmailProperty, text))
    return true;
  if (valueForKeyIsArray(fields, "addresses") &&
      searchContactFieldsForMVDictionaryProperty(fields.get("addresses").asArray(), plat::kABPersonAddressProperty,
                                                 text))
    return true;
  if (valueForKeyIsArray(fields, "ims") &&
      searchContactFieldsForMVDictionaryProperty(fields.get("ims").asArray(), plat::kABPersonInstantMessageProperty,
                                                 text))
    return true;
  if (valueForKeyIsArray(fields, "organizations")) {
    for (const auto& sub : fields.get("organizations").asArray())
      if (testStringValue(text, sub.asString())) return true;
  }
  if (fields.contains("note") && testStringValue(text, "note")) return true;
  if (fields.contains("birthday") && testDateValue(text, "birthday")) return true;
  if (valueForKeyIsArray(fields, "urls") &&
      searchContactFieldsForMVStringProperty(fields.get("urls").asArray(), plat::kABPersonURLProperty, text))
    return true;
  return false;
}

bool HBRContact::testStringValue(const std::string& testValue, const std::string& w3cProperty) const {
  auto property = propertyOf(w3cProperty);
  if (!property || plat::ABPersonGetTypeOfProperty(*property) != ABPropertyType::String) return false;
  auto value = record_->copyString(*property);
  return value && !value->empty() && matches(*value, testValue);
}

bool HBRContact::testDateValue(const std::string& testValue, const std::string& w3cProperty) const {
  auto property = propertyOf(w3cProperty);
  if (!property || plat::ABPersonGetTypeOfProperty(*property) != ABPropertyType::DateTime) return false;
  auto ms = getDateAsNumber(*property);
  // A date past a page Date's range (stored by hand, or by an older version) has no text here;
  // casting it to time_t would overflow.
  if (!ms || !(std::fabs(*ms) <= kMaxDateMilliseconds)) return false;
  // The date as the platform describes one: "2001-05-17 00:00:00 +0000".
  std::time_t seconds = static_cast<std::time_t>(*ms / 1000.0);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
  return matches(text, testValue);
}

bool HBRContact::searchContactFieldsForMVStringProperty(const Array& fields, ABPropertyID property,
                                                        const std::string& testValue) const {
  if (plat::ABPersonGetTypeOfProperty(property) != ABPropertyType::MultiString) return false;
  for (const auto& sub : fields) {
    if (sub == Value("type")) {
      if (!isValidW3ContactType(Value(testValue))) continue;
      auto label = convertContactTypeToPropertyLabel(Value(testValue));
      if (label && matches(joined(labelsForProperty(property)), *label)) return true;
    } else if (sub == Value("value")) {
      if (matches(joined(valuesForProperty(property)), testValue)) return true;
    }
  }
  return false;
}

bool HBRContact::testMultiValueStrings(const std::string& testValue, ABPropertyID property,
                                       const std::optional<std::string>& type) const {
  const ABMultiValue* values = multiValueOf(*record_, property);
  if (!values) return false;
  auto label = type ? convertContactTypeToPropertyLabel(Value(*type)) : std::nullopt;
  for (const auto& e : values->entries()) {
    if (label && e.label != label) continue;
    if (e.value.isString() && matches(e.value.asString(), testValue)) return true;
  }
  return false;
}

std::vector<std::string> HBRContact::valuesForProperty(ABPropertyID property) const {
  std::vector<std::string> values;
  if (const ABMultiValue* mv = multiValueOf(*record_, property))
    for (const auto& e : mv->entries())
      if (e.value.isString()) values.push_back(e.value.asString());
  return values;
}

std::vector<std::string> HBRContact::labelsForProperty(ABPropertyID property) const {
  std::vector<std::string> labels;
  if (const ABMultiValue* mv = multiValueOf(*record_, property))
    for (const auto& e : mv->entries())
      if (e.label) labels.push_back(*e.label);
  return labels;
}

bool HBRContact::searchContactFieldsForMVDictionaryProperty(const Array& fields, ABPropertyID property,
                                                            const std::string& testValue) const {
  const ABMultiValue* values = multiValueOf(*record_, property);
  if (!values) return false;
  const bool validType = isValidW3ContactType(Value(testValue));
  auto label = convertContactTypeToPropertyLabel(Value(testValue));
  for (const auto& e : values->entries()) {
    for (const auto& sub : fields) {
      if (!sub.isString()) continue;
      auto key = keyOf(sub.asString());
      if (!key) continue;
      const Value& stored = e.value[*key];
      if (!stored.isString()) continue;
      if (sub.asString() == "type") {
        if (validType && label && matches(stored.asString(), *label)) return true;
      } else if (matches(stored.asString(), testValue)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace harbor
