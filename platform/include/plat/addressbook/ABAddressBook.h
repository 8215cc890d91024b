#pragma once
// The device's address book: person records with single-value properties (texts, dates) and
// multi-value properties (entries with a stable identifier, a label and a text or dictionary
// value), a person image, and a composite name. Records live in one SQLite database in the
// sandbox home ("Library/AddressBook/AddressBook.sqlitedb").
//
// An address book is one view of the store: it reads a person when first asked for it (everyone
// when asked for all) and keeps what it read; changes made to its records, and records added or
// removed, stay in the book until save(), which writes them in one transaction (all or nothing,
// also across a SIGKILL: SQLite's journal keeps either the old or the new state) and touches only
// the people it changes. Record ids start at 1 and are never given out again, also after the
// record is removed.
//
// Access is the user's to grant: creating a book fails while access is denied or restricted, and
// requestAccess asks the user (the simulated prompt of SimulatedAddressBookAccess) once, answering
// on a thread other than the main one, as the device does.
//
// Threads: one book and its records are used by one thread at a time; different books may be
// used on different threads at once (the store serialises its writes).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

using ABRecordID = std::int32_t;
using ABPropertyID = std::int32_t;
using ABMultiValueIdentifier = std::int32_t;
inline constexpr ABRecordID kABRecordInvalidID = -1;
inline constexpr ABMultiValueIdentifier kABMultiValueInvalidIdentifier = -1;

enum class ABRecordType { Person, Group };

enum class ABPropertyType { Invalid, String, DateTime, MultiString, MultiDictionary };

// Person properties.
inline constexpr ABPropertyID kABPersonFirstNameProperty = 0;
inline constexpr ABPropertyID kABPersonLastNameProperty = 1;
inline constexpr ABPropertyID kABPersonMiddleNameProperty = 2;
inline constexpr ABPropertyID kABPersonPrefixProperty = 3;
inline constexpr ABPropertyID kABPersonSuffixProperty = 4;
inline constexpr ABPropertyID kABPersonNicknameProperty = 5;
inline constexpr ABPropertyID kABPersonOrganizationProperty = 6;
inline constexpr ABPropertyID kABPersonJobTitleProperty = 7;
inline constexpr ABPropertyID kABPersonDepartmentProperty = 8;
inline constexpr ABPropertyID kABPersonNoteProperty = 9;
inline constexpr ABPropertyID kABPersonBirthdayProperty = 10;
inline constexpr ABPropertyID kABPersonPhoneProperty = 11;
inline constexpr ABPropertyID kABPersonEmailProperty = 12;
inline constexpr ABPropertyID kABPersonURLProperty = 13;
inline constexpr ABPropertyID kABPersonAddressProperty = 14;
inline constexpr ABPropertyID kABPersonInstantMessageProperty = 15;

// Labels of multi-value entries.
inline constexpr char kABHomeLabel[] = "_$Home$_";
inline constexpr char kABWorkLabel[] = "_$Work$_";
inline constexpr char kABOtherLabel[] = "_$Other$_";
inline constexpr char kABPersonPhoneMobileLabel[] = "_$Mobile$_";
inline constexpr char kABPersonPhoneMainLabel[] = "_$Main$_";
inline constexpr char kABPersonPhoneHomeFAXLabel[] = "_$HomeFAX$_";
inline constexpr char kABPersonPhoneWorkFAXLabel[] = "_$WorkFAX$_";
inline constexpr char kABPersonPhonePagerLabel[] = "_$Pager$_";
inline constexpr char kABPersonHomePageLabel[] = "_$HomePage$_";

// Keys of an address entry's dictionary.
inline constexpr char kABPersonAddressStreetKey[] = "Street";
inline constexpr char kABPersonAddressCityKey[] = "City";
inline constexpr char kABPersonAddressStateKey[] = "State";
inline constexpr char kABPersonAddressZIPKey[] = "ZIP";
inline constexpr char kABPersonAddressCountryKey[] = "Country";
// Keys and services of an instant-messaging entry's dictionary.
inline constexpr char kABPersonInstantMessageServiceKey[] = "service";
inline constexpr char kABPersonInstantMessageUsernameKey[] = "username";
inline constexpr char kABPersonInstantMessageServiceAIM[] = "AIM";
inline constexpr char kABPersonInstantMessageServiceICQ[] = "ICQ";
inline constexpr char kABPersonInstantMessageServiceJabber[] = "Jabber";
inline constexpr char kABPersonInstantMessageServiceMSN[] = "MSN";
inline constexpr char kABPersonInstantMessageServiceYahoo[] = "Yahoo";

inline constexpr char kABErrorDomain[] = "ABAddressBookErrorDomain";
inline constexpr long kABOperationNotPermittedByStoreError = 0;
inline constexpr long kABOperationNotPermittedByUserError = 1;

// What kind of value a person property holds; Invalid for an unknown property.
ABPropertyType ABPersonGetTypeOfProperty(ABPropertyID property);

// A point in time, as seconds since 1970-01-01 00:00:00 UTC.
struct ABDate {
  double secondsSince1970 = 0;
  bool operator==(const ABDate&) const = default;
};

// An ordered list of entries, each with an identifier unique within the value (never given to a
// second entry, also after removal), an optional label and a value: a text for multi-string
// properties, a dictionary of texts for multi-dictionary ones. A plain value type: copy it to
// change it, then store the copy in the record.
class ABMultiValue {
 public:
  struct Entry {
    ABMultiValueIdentifier identifier;
    std::optional<std::string> label;
    Value value;
    bool operator==(const Entry&) const = default;
  };

  explicit ABMultiValue(ABPropertyType type = ABPropertyType::MultiString) : type_(type) {}

  ABPropertyType propertyType() const { return type_; }
  std::size_t count() const { return entries_.size(); }
  const std::vector<Entry>& entries() const { return entries_; }
  const Value& valueAtIndex(std::size_t index) const { return entries_.at(index).value; }
  const std::optional<std::string>& labelAtIndex(std::size_t index) const { return entries_.at(index).label; }
  ABMultiValueIdentifier identifierAtIndex(std::size_t index) const { return entries_.at(index).identifier; }
  // -1 when no entry has it.
  long indexForIdentifier(ABMultiValueIdentifier identifier) const;

  // False (and nothing changes) when the value does not suit the property type: a text for
  // multi-string values, a dictionary of texts for multi-dictionary ones.
  bool addValueAndLabel(const Value& value, std::optional<std::string> label,
                        ABMultiValueIdentifier* outIdentifier = nullptr);
  bool replaceValueAtIndex(const Value& value, std::size_t index);
  bool replaceLabelAtIndex(std::optional<std::string> label, std::size_t index);
  bool removeValueAndLabelAtIndex(std::size_t index);

  bool operator==(const ABMultiValue&) const = default;

  // Storage form.
  Value toStoredValue() const;
  static std::optional<ABMultiValue> fromStoredValue(const Value& stored, ABPropertyType type);

 private:
  bool accepts(const Value& value) const;

  ABPropertyType type_;
  std::vector<Entry> entries_;
  ABMultiValueIdentifier nextIdentifier_ = 0;
};

using ABPropertyValue = std::variant<std::string, ABDate, ABMultiValue>;

class ABAddressBookStore;
class ABRecord;
using ABRecordRef = std::shared_ptr<ABRecord>;

// A person. A new one (ABPersonCreate) belongs to no book and has no id until a book that it was
// added to is saved.
class ABRecord : public Object {
 public:
  ABRecordID recordID() const { return id_; }
  ABRecordType recordType() const { return ABRecordType::Person; }

  std::optional<ABPropertyValue> copyValue(ABPropertyID property) const;
  // Refused (false, with an error) for an unknown property, a value of the wrong kind or a date
  // that is not finite.
  bool setValue(ABPropertyID property, const ABPropertyValue& value, NSError* error = nullptr);
  bool removeValue(ABPropertyID property, NSError* error = nullptr);
  // The text of a text property, or nothing.
  std::optional<std::string> copyString(ABPropertyID property) const;
  const std::map<ABPropertyID, ABPropertyValue>& values() const { return values_; }

  // "Prefix First Middle Last Suffix" of the parts there are; else the organisation; else nothing.
  std::optional<std::string> copyCompositeName() const;

  bool hasImageData() const;
  // The image bytes (read from the store on first use), or nothing.
  std::optional<Data> copyImageData() const;
  // Refused for empty data.
  bool setImageData(const Data& data, NSError* error = nullptr);
  bool removeImageData(NSError* error = nullptr);

  // Storage form of the properties (not the image).
  Value toStoredValue() const;

 private:
  friend class ABAddressBook;
  friend class ABAddressBookStore;
  friend ABRecordRef ABPersonCreate();
  friend ABRecordRef makeStoredRecord(ABRecordID id, const Value& stored, bool hasImage,
                                      std::shared_ptr<ABAddressBookStore> store);
  // A book's own copy of a person the store shares.
  ABRecordRef clone() const;
  // The person as the store keeps it once saved: no pending changes and no image bytes (read
  // from the store when wanted).
  ABRecordRef storedCopy(std::shared_ptr<ABAddressBookStore> store) const;

  ABRecordID id_ = kABRecordInvalidID;
  std::map<ABPropertyID, ABPropertyValue> values_;
  // The image: not loaded yet (lazy), loaded, or none.
  mutable std::optional<Data> image_;
  mutable bool imageLoaded_ = true;
  bool hasImage_ = false;
  bool changed_ = false;
  bool imageChanged_ = false;
  std::shared_ptr<ABAddressBookStore> store_;  // for reading the image later
};

ABRecordRef ABPersonCreate();

enum class ABAuthorizationStatus { NotDetermined, Restricted, Denied, Authorized };

class ABAddressBook;
using ABAddressBookRef = std::shared_ptr<ABAddressBook>;

class ABAddressBook : public Object {
 public:
  // Any thread. Nothing (with the error) when access is denied or restricted, or the store cannot
  // be opened. A book can be created before access is asked for; its reads are then empty until
  // access is granted (as on the device).
  static ABAddressBookRef createWithOptions(NSError* error = nullptr);

  // Every person, in record id order (those added and not saved yet after them).
  std::vector<ABRecordRef> copyArrayOfAllPeople();
  std::size_t getPersonCount();
  ABRecordRef getPersonWithRecordID(ABRecordID id);

  bool addRecord(const ABRecordRef& record, NSError* error = nullptr);
  bool removeRecord(const ABRecordRef& record, NSError* error = nullptr);
  bool hasUnsavedChanges() const;
  // Writes every change since the last save in one transaction; on failure nothing is written
  // and the changes stay pending. A changed person that another book or process has removed
  // since fails the save.
  bool save(NSError* error = nullptr);
  // Forgets unsaved changes and reads the store again.
  void revert();

  ABAddressBook() = default;

 private:
  // Reads everyone the book does not hold yet; from then on the book asks the store no more.
  void loadAll();

  std::shared_ptr<ABAddressBookStore> store_;
  bool loadedAll_ = false;
  // The people the book has read (its own copies) and those it added and saved.
  std::map<ABRecordID, ABRecordRef> people_;
  std::vector<ABRecordRef> added_;
  std::map<ABRecordID, ABRecordRef> removed_;
};

// The platform's free functions, as callers spell them, over the classes above.
inline ABAddressBookRef ABAddressBookCreateWithOptions(NSError* error = nullptr) {
  return ABAddressBook::createWithOptions(error);
}
ABAuthorizationStatus ABAddressBookGetAuthorizationStatus();
// Asks the user for access once (while not determined; otherwise answers at once from the
// status). The completion runs once, on a thread other than the main one, with whether access is
// granted, or with an error when the request itself failed.
using ABAccessCompletion = std::function<void(bool granted, const std::optional<NSError>& error)>;
void ABAddressBookRequestAccessWithCompletion(const ABAddressBookRef& book, ABAccessCompletion completion);

// Where the address book lives in the sandbox home.
std::string ABAddressBookDatabasePath();

// The test and runner side of the access prompt: the status starts not determined and the user
// grants the first request.
class SimulatedAddressBookAccess {
 public:
  enum class Answer { Grant, Deny, Fail };
  static void setAuthorizationStatus(ABAuthorizationStatus status);
  // How the user answers the next prompts (Fail: the request fails with a platform error).
  static void setAnswer(Answer answer);
  // Told of each prompt as it is answered (on the answering thread); the runner logs them.
  static void setPromptObserver(std::function<void(Answer answer)> observer);
  static std::size_t promptCount();
  static void reset();
};

// Rows this process has read from address-book files: what a change costs, for tests.
std::uint64_t ABAddressBookStoredRowsRead();

}  // namespace plat
