#pragma once
// One address-book person seen as the page's contact: a dictionary in the W3C contact shape
// ("id", "name", "phoneNumbers", ...). Converts both ways and decides whether the person matches
// a search text.
//
// A field dictionary (calcReturnFields) maps each requested top-level field to the array of its
// requested sub-fields (object fields such as "name" or "phoneNumbers") or to null (plain fields
// such as "nickname"). A field is requested when its name is a key.
//
// Threads: whichever thread owns the record (the plugin uses it on the main thread).
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "plat/addressbook/ABAddressBook.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Result.h"
#include "plat/foundation/Value.h"

namespace harbor {

using HBRFieldDictionary = plat::Dictionary;

class HBRContact : public plat::Object {
 public:
  // Reads the bytes of a photo URL ("photos"[0].value, already re-escaped).
  using PhotoReader = std::function<plat::Result<plat::Data>(const std::string& url)>;

  // A new, empty person, not in any address book yet.
  HBRContact();
  explicit HBRContact(plat::ABRecordRef record);
  static std::shared_ptr<HBRContact> initFromABRecord(plat::ABRecordRef record) {
    return std::make_shared<HBRContact>(std::move(record));
  }

  const plat::ABRecordRef& record() const { return record_; }
  void setRecord(plat::ABRecordRef record) { record_ = std::move(record); }
  const std::optional<HBRFieldDictionary>& returnFields() const { return returnFields_; }
  void setReturnFields(std::optional<HBRFieldDictionary> fields) { returnFields_ = std::move(fields); }
  // How photo URLs are read; the default reads local files of the sandbox home and bundle only.
  void setPhotoReader(PhotoReader reader) { photoReader_ = std::move(reader); }

  // --- Tables ---
  // Address-book property to the W3C name ("nickname" ... "urls").
  static const std::map<plat::ABPropertyID, std::string>& defaultABtoW3C();
  // W3C name to an address-book property (integer), a dictionary key (text) or null.
  static const plat::Dictionary& defaultW3CtoAB();
  static const std::set<std::string>& defaultW3CtoNull();
  // Object field to its sub-fields, in order.
  static const plat::Dictionary& defaultObjectAndProperties();
  static const HBRFieldDictionary& defaultFields();
  // Field names (an array) to a field dictionary; nothing for anything else or when nothing valid
  // is asked for.
  static std::optional<HBRFieldDictionary> calcReturnFields(const plat::Value& fieldsArray);
  static bool needsConversion(const std::string& w3cName) { return w3cName == "type"; }
  // The page's type to an address-book label (letter case ignored; other texts are custom
  // labels); nothing for null or a value that is not text.
  static std::optional<std::string> convertContactTypeToPropertyLabel(const plat::Value& type);
  // A label to the page's type (exact comparison); nothing for no label.
  static std::optional<std::string> convertPropertyLabelToContactType(const std::optional<std::string>& label);
  static bool isValidW3ContactType(const plat::Value& type);

  // --- Writing ---
  // The URL that setFromContactDict reads the photo from (the first photo's "value", decoded and
  // escaped again), or nothing when the contact names no photo.
  static std::optional<std::string> photoURLOf(const plat::Value& contact);
  // Applies a page contact; false when it is not a dictionary, its birthday is a number that is
  // no date (NaN, an infinity, past a page Date's range), or the image could not be stored or
  // removed. Other values that cannot be stored are logged and skipped.
  bool setFromContactDict(const plat::Value& contact, bool isUpdate);
  bool setValueForPropertyInRecordAsUpdate(const plat::Value& value, plat::ABPropertyID property, plat::ABRecord& record,
                                           bool isUpdate);
  bool removeProperty(plat::ABPropertyID property, plat::ABRecord& record);
  bool addToMultiValue(plat::ABMultiValue& multiValue, const plat::Value& entry);
  plat::ABMultiValue allocStringMultiValueFromArray(const plat::Array& entries);
  bool setValueForPropertyInRecord(const plat::ABMultiValue& multiValue, plat::ABPropertyID property,
                                   plat::ABRecord& record);
  bool setMultiValueStrings(const plat::Array& entries, plat::ABPropertyID property, plat::ABRecord& record,
                            bool isUpdate);
  plat::ABMultiValue allocDictMultiValueFromArray(const plat::Array& entries, plat::ABPropertyID property);
  std::optional<plat::Dictionary> translateW3Dict(const plat::Value& entry, plat::ABPropertyID property);
  bool setMultiValueDictionary(const plat::Array& entries, plat::ABPropertyID property, plat::ABRecord& record,
                               bool isUpdate);

  // --- Reading ---
  // The page contact with the requested fields; nothing when the record is not a person.
  std::optional<plat::Dictionary> toDictionary(const std::optional<HBRFieldDictionary>& withFields);
  // Milliseconds since 1970 of a date property, or nothing.
  std::optional<double> getDateAsNumber(plat::ABPropertyID property) const;
  std::optional<plat::Value> extractName() const;
  std::optional<plat::Value> extractMultiValue(const std::string& field) const;
  std::optional<plat::Value> extractAddresses() const;
  std::optional<plat::Value> extractIms() const;
  std::optional<plat::Value> extractOrganizations() const;
  std::optional<plat::Value> extractPhotos() const;

  // --- Searching ---
  bool foundValue(const plat::Value& testValue, const std::optional<HBRFieldDictionary>& searchFields) const;
  static bool valueForKeyIsArray(const HBRFieldDictionary& dict, const std::string& key);
  static bool valueForKeyIsNumber(const plat::Dictionary& dict, const std::string& key);
  bool testStringValue(const std::string& testValue, const std::string& w3cProperty) const;
  bool testDateValue(const std::string& testValue, const std::string& w3cProperty) const;
  bool searchContactFieldsForMVStringProperty(const plat::Array& fields, plat::ABPropertyID property,
                                              const std::string& testValue) const;
  bool testMultiValueStrings(const std::string& testValue, plat::ABPropertyID property,
                             const std::optional<std::string>& type) const;
  std::vector<std::string> valuesForProperty(plat::ABPropertyID property) const;
  std::vector<std::string> labelsForProperty(plat::ABPropertyID property) const;
  bool searchContactFieldsForMVDictionaryProperty(const plat::Array& fields, plat::ABPropertyID property,
                                                  const std::string& testValue) const;

 private:
  bool isRequested(const std::string& field) const;
  plat::Array requestedSubFields(const std::string& field) const;
  plat::Value stringOrNull(plat::ABPropertyID property) const;

  plat::ABRecordRef record_;
  std::optional<HBRFieldDictionary> returnFields_;
  PhotoReader photoReader_;
};

}  // namespace harbor
