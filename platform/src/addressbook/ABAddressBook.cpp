// Address books over the store, and the access the user grants.
#include "plat/addressbook/ABAddressBook.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "ABAddressBookStore.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/NSPathUtilities.h"

namespace plat {

namespace {

struct AccessState {
  std::mutex mutex;
  ABAuthorizationStatus status = ABAuthorizationStatus::NotDetermined;
  SimulatedAddressBookAccess::Answer answer = SimulatedAddressBookAccess::Answer::Grant;
  std::function<void(SimulatedAddressBookAccess::Answer)> observer;
  std::size_t prompts = 0;
};

AccessState& access() {
  static auto* state = new AccessState();
  return *state;
}

NSError userRefusal() {
  return NSError{kABErrorDomain, kABOperationNotPermittedByUserError, "access to the address book is not allowed", {}};
}

// The record as its row holds it. A record that cannot be written fails the save: writing
// less than the record holds would replace a stored person with an emptier one.
Result<std::string> storedText(const ABRecord& record) { return json::write(record.toStoredValue()); }

}  // namespace

std::string ABAddressBookDatabasePath() {
  return stringByAppendingPathComponent(NSHomeDirectory(), "Library/AddressBook/AddressBook.sqlitedb");
}

ABAuthorizationStatus ABAddressBookGetAuthorizationStatus() {
  std::lock_guard<std::mutex> lock(access().mutex);
  return access().status;
}

void ABAddressBookRequestAccessWithCompletion(const ABAddressBookRef& book, ABAccessCompletion completion) {
  // The device answers from a queue of its own, never the caller's thread.
  std::thread([completion = std::move(completion)] {
    std::optional<NSError> error;
    bool granted = false;
    std::function<void(SimulatedAddressBookAccess::Answer)> observer;
    SimulatedAddressBookAccess::Answer answer{};
    bool prompted = false;
    {
      auto& state = access();
      std::lock_guard<std::mutex> lock(state.mutex);
      if (state.status == ABAuthorizationStatus::NotDetermined) {
        prompted = true;
        ++state.prompts;
        answer = state.answer;
        observer = state.observer;
        if (answer == SimulatedAddressBookAccess::Answer::Fail)
          error = NSError{kABErrorDomain, kABOperationNotPermittedByStoreError, "the access request failed", {}};
        else
          state.status = answer == SimulatedAddressBookAccess::Answer::Grant ? ABAuthorizationStatus::Authorized
                                                                             : ABAuthorizationStatus::Denied;
      }
      granted = state.status == ABAuthorizationStatus::Authorized;
    }
    if (prompted && observer) observer(answer);
    completion(granted && !error, error);
  }).detach();
}

void SimulatedAddressBookAccess::setAuthorizationStatus(ABAuthorizationStatus status) {
  std::lock_guard<std::mutex> lock(access().mutex);
  access().status = status;
}

void SimulatedAddressBookAccess::setAnswer(Answer answer) {
  std::lock_guard<std::mutex> lock(access().mutex);
  access().answer = answer;
}

void SimulatedAddressBookAccess::setPromptObserver(std::function<void(Answer answer)> observer) {
  std::lock_guard<std::mutex> lock(access().mutex);
  access().observer = std::move(observer);
}

std::size_t SimulatedAddressBookAccess::promptCount() {
  std::lock_guard<std::mutex> lock(access().mutex);
  return access().prompts;
}

void SimulatedAddressBookAccess::reset() {
  std::lock_guard<std::mutex> lock(access().mutex);
  access().status = ABAuthorizationStatus::NotDetermined;
  access().answer = Answer::Grant;
  access().observer = nullptr;
  access().prompts = 0;
}

// --- ABAddressBook ---

ABAddressBookRef ABAddressBook::createWithOptions(NSError* error) {
  auto status = ABAddressBookGetAuthorizationStatus();
  if (status == ABAuthorizationStatus::Denied || status == ABAuthorizationStatus::Restricted) {
    if (error) *error = userRefusal();
    return nullptr;
  }
  auto store = ABAddressBookStore::open(ABAddressBookDatabasePath(), error);
  if (!store) return nullptr;
  auto book = std::make_shared<ABAddressBook>();
  book->store_ = std::move(store);
  return book;
}

namespace {

// Until the user allows it a book shows nobody from the store.
bool readable() { return ABAddressBookGetAuthorizationStatus() == ABAuthorizationStatus::Authorized; }

}  // namespace

void ABAddressBook::loadAll() {
  if (loadedAll_ || !readable()) return;
  std::vector<ABRecordRef> stored;
  if (!store_->readAllPeople(stored, nullptr)) return;
  for (const auto& prototype : stored) {
    // What the book holds already, or has removed, stays as the book has it.
    if (removed_.count(prototype->id_)) continue;
    auto [it, added] = people_.try_emplace(prototype->id_);
    if (added) it->second = prototype->clone();
  }
  loadedAll_ = true;
}

std::vector<ABRecordRef> ABAddressBook::copyArrayOfAllPeople() {
  loadAll();
  std::vector<ABRecordRef> people;
  people.reserve(people_.size() + added_.size());
  for (const auto& [id, record] : people_) people.push_back(record);
  // Added but not saved: after the stored ones, in the order they were added.
  people.insert(people.end(), added_.begin(), added_.end());
  return people;
}

std::size_t ABAddressBook::getPersonCount() {
  loadAll();
  return people_.size() + added_.size();
}

ABRecordRef ABAddressBook::getPersonWithRecordID(ABRecordID id) {
  auto it = people_.find(id);
  if (it != people_.end()) return it->second;
  if (loadedAll_ || removed_.count(id) || !readable()) return nullptr;
  auto prototype = store_->readPerson(id);
  if (!prototype) return nullptr;
  return people_.emplace(id, prototype->clone()).first->second;
}

bool ABAddressBook::addRecord(const ABRecordRef& record, NSError* error) {
  if (!record || record->id_ != kABRecordInvalidID ||
      std::find(added_.begin(), added_.end(), record) != added_.end()) {
    if (error) *error = NSError{kABErrorDomain, kABOperationNotPermittedByStoreError, "the record is in a book", {}};
    return false;
  }
  added_.push_back(record);
  return true;
}

bool ABAddressBook::removeRecord(const ABRecordRef& record, NSError* error) {
  if (!record) return false;
  auto added = std::find(added_.begin(), added_.end(), record);
  if (added != added_.end()) {
    added_.erase(added);
    return true;
  }
  // Only a person this book handed out: those are the ones it holds.
  auto it = people_.find(record->id_);
  if (it == people_.end() || it->second != record) {
    if (error) *error = NSError{kABErrorDomain, kABOperationNotPermittedByStoreError, "the record is not in this book", {}};
    return false;
  }
  people_.erase(it);
  removed_.emplace(record->id_, record);
  return true;
}

bool ABAddressBook::hasUnsavedChanges() const {
  if (!added_.empty() || !removed_.empty()) return true;
  return std::any_of(people_.begin(), people_.end(), [](const auto& p) { return p.second->changed_; });
}

bool ABAddressBook::save(NSError* error) {
  if (ABAddressBookGetAuthorizationStatus() != ABAuthorizationStatus::Authorized) {
    if (error) *error = userRefusal();
    return false;
  }
  using Write = ABAddressBookStore::Write;
  std::vector<Write> writes;
  std::vector<ABRecordID> newIds(added_.size(), kABRecordInvalidID);
  for (const auto& [id, record] : removed_) writes.push_back(Write{Write::Kind::Delete, id, {}, false, {}, nullptr, {}});
  auto unwritable = [&](const Result<std::string>& text) {
    if (text.ok()) return false;
    if (error) *error = NSError{kABErrorDomain, kABOperationNotPermittedByStoreError,
                                "a record cannot be stored: " + text.error(), {}};
    return true;
  };
  for (const auto& [id, record] : people_) {
    if (!record->changed_) continue;
    auto text = storedText(*record);
    if (unwritable(text)) return false;
    writes.push_back(Write{Write::Kind::Update, id, std::move(*text), record->imageChanged_,
                           record->imageChanged_ ? record->image_ : std::nullopt, nullptr, record->storedCopy(store_)});
  }
  for (std::size_t i = 0; i < added_.size(); ++i) {
    const auto& record = added_[i];
    auto text = storedText(*record);
    if (unwritable(text)) return false;
    writes.push_back(Write{Write::Kind::Insert, kABRecordInvalidID, std::move(*text), record->hasImage_, record->image_,
                           &newIds[i], record->storedCopy(store_)});
  }
  if (writes.empty()) return true;
  if (!store_->apply(writes, error)) return false;

  for (const auto& [id, record] : people_) record->changed_ = record->imageChanged_ = false;
  for (std::size_t i = 0; i < added_.size(); ++i) {
    auto& record = added_[i];
    record->id_ = newIds[i];
    record->changed_ = record->imageChanged_ = false;
    record->store_ = store_;
    people_[record->id_] = record;
  }
  added_.clear();
  removed_.clear();
  return true;
}

void ABAddressBook::revert() {
  people_.clear();
  added_.clear();
  removed_.clear();
  loadedAll_ = false;
}

std::uint64_t ABAddressBookStoredRowsRead() { return ABAddressBookStore::rowsRead(); }

}  // namespace plat
