#include "ABAddressBookStore.h"

#include <map>

#include "plat/addressbook/ABAddressBook.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"

namespace plat {

ABRecordRef makeStoredRecord(ABRecordID id, const Value& stored, bool hasImage,
                             std::shared_ptr<ABAddressBookStore> store);

namespace {

// A prepared statement that finalises itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::mutex& storesMutex() {
  static auto* m = new std::mutex();
  return *m;
}

std::map<std::string, std::weak_ptr<ABAddressBookStore>>& stores() {
  static auto* s = new std::map<std::string, std::weak_ptr<ABAddressBookStore>>();
  return *s;
}

}  // namespace

std::shared_ptr<ABAddressBookStore> ABAddressBookStore::open(const std::string& path, NSError* error) {
  std::lock_guard<std::mutex> lock(storesMutex());
  if (auto existing = stores()[path].lock()) return existing;

  NSError folderError;
  NSFileManager::defaultManager().createDirectoryAtPath(stringByDeletingLastPathComponent(path), true, &folderError);
  std::shared_ptr<ABAddressBookStore> store(new ABAddressBookStore());
  store->self_ = store;
  int rc = sqlite3_open_v2(path.c_str(), &store->db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    if (error) *error = store->storeError("cannot open the address book at " + path);
    return nullptr;
  }
  sqlite3_busy_timeout(store->db_, 5000);
  // Write-ahead journal: a transaction is whole or absent after a crash at any point, and a
  // commit reported to the caller survives the process being killed (it is in the journal, which
  // the system keeps when the process dies). AUTOINCREMENT keeps removed ids from coming back.
  if (!store->exec("PRAGMA journal_mode=WAL", error) || !store->exec("PRAGMA synchronous=NORMAL", error) ||
      !store->exec("CREATE TABLE IF NOT EXISTS people (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                   "data TEXT NOT NULL, image BLOB)",
                   error))
    return nullptr;
  stores()[path] = store;
  // The store of the current home stays open between books: closing it would checkpoint and
  // sync the journal for every action.
  static auto* current = new std::shared_ptr<ABAddressBookStore>();
  *current = store;
  return store;
}

ABAddressBookStore::~ABAddressBookStore() {
  if (db_) sqlite3_close_v2(db_);
}

NSError ABAddressBookStore::storeError(const std::string& what) const {
  return NSError{kABErrorDomain, kABOperationNotPermittedByStoreError,
                 what + (db_ ? std::string(": ") + sqlite3_errmsg(db_) : std::string()), {}};
}

bool ABAddressBookStore::exec(const char* sql, NSError* error) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  if (error) *error = storeError(sql);
  return false;
}

bool ABAddressBookStore::readAll(std::vector<Row>& rows, NSError* error) {
  Statement st(db_, "SELECT id, data, image IS NOT NULL FROM people ORDER BY id");
  if (!st) {
    if (error) *error = storeError("cannot read the address book");
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1));
    rows.push_back(Row{sqlite3_column_int(st.get(), 0),
                       std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 1))),
                       sqlite3_column_int(st.get(), 2) != 0});
    ++rowsRead_;
  }
  if (rc != SQLITE_DONE) {
    if (error) *error = storeError("cannot read the address book");
    return false;
  }
  return true;
}

std::optional<ABAddressBookStore::Row> ABAddressBookStore::readOne(std::int32_t id) {
  Statement st(db_, "SELECT data, image IS NOT NULL FROM people WHERE id = ?");
  if (!st) return std::nullopt;
  sqlite3_bind_int(st.get(), 1, id);
  if (sqlite3_step(st.get()) != SQLITE_ROW) return std::nullopt;
  ++rowsRead_;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
  return Row{id, std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 0))),
             sqlite3_column_int(st.get(), 1) != 0};
}

std::int64_t ABAddressBookStore::dataVersion() {
  Statement st(db_, "PRAGMA data_version");
  if (!st || sqlite3_step(st.get()) != SQLITE_ROW) return -1;
  return sqlite3_column_int64(st.get(), 0);
}

std::shared_ptr<ABRecord> ABAddressBookStore::build(const Row& row) {
  auto stored = json::parse(row.data);
  return makeStoredRecord(row.id, stored.ok() ? *stored : Value(), row.hasImage, self_.lock());
}

bool ABAddressBookStore::peopleAreCurrent() {
  if (!peopleValid_) return false;
  if (dataVersion() == peopleVersion_) return true;
  // Another connection has committed: which people it changed is unknown.
  people_.clear();
  peopleValid_ = false;
  return false;
}

bool ABAddressBookStore::readAllPeople(std::vector<std::shared_ptr<ABRecord>>& people, NSError* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!peopleAreCurrent()) {
    // The version first: a commit between it and the read only makes the next call read again.
    std::int64_t version = dataVersion();
    std::vector<Row> rows;
    if (!readAll(rows, error)) return false;
    people_.clear();
    auto hint = people_.end();
    for (const auto& row : rows) hint = std::next(people_.emplace_hint(hint, row.id, build(row)));
    peopleValid_ = version >= 0;
    peopleVersion_ = version;
  }
  people.reserve(people.size() + people_.size());
  for (const auto& [id, person] : people_) people.push_back(person);
  return true;
}

std::shared_ptr<ABRecord> ABAddressBookStore::readPerson(std::int32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (peopleAreCurrent()) {
    auto it = people_.find(id);
    return it == people_.end() ? nullptr : it->second;
  }
  auto row = readOne(id);
  return row ? build(*row) : nullptr;
}

std::optional<Data> ABAddressBookStore::readImage(std::int32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement st(db_, "SELECT image FROM people WHERE id = ? AND image IS NOT NULL");
  if (!st) return std::nullopt;
  sqlite3_bind_int(st.get(), 1, id);
  if (sqlite3_step(st.get()) != SQLITE_ROW) return std::nullopt;
  const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(st.get(), 0));
  int size = sqlite3_column_bytes(st.get(), 0);
  return Data(bytes, bytes + size);
}

bool ABAddressBookStore::apply(const std::vector<Write>& writes, NSError* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!exec("BEGIN IMMEDIATE", error)) return false;
  // Inside the transaction: whether the people held are the file this transaction changes.
  const bool current = peopleAreCurrent();
  std::vector<std::int32_t> newIds;  // one per Insert, in order
  auto fail = [&](const std::string& what) {
    if (error) *error = storeError(what);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  };
  auto bindImage = [](sqlite3_stmt* st, int index, const std::optional<Data>& image) {
    if (image)
      sqlite3_bind_blob(st, index, image->data(), static_cast<int>(image->size()), SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(st, index);
  };
  for (const auto& w : writes) {
    switch (w.kind) {
      case Write::Kind::Insert: {
        Statement st(db_, "INSERT INTO people (data, image) VALUES (?, ?)");
        if (!st) return fail("cannot add a record");
        sqlite3_bind_text(st.get(), 1, w.data.data(), static_cast<int>(w.data.size()), SQLITE_STATIC);
        bindImage(st.get(), 2, w.writeImage ? w.image : std::nullopt);
        if (sqlite3_step(st.get()) != SQLITE_DONE) return fail("cannot add a record");
        newIds.push_back(static_cast<std::int32_t>(sqlite3_last_insert_rowid(db_)));
        break;
      }
      case Write::Kind::Update: {
        Statement st(db_, w.writeImage ? "UPDATE people SET data = ?, image = ? WHERE id = ?"
                                       : "UPDATE people SET data = ? WHERE id = ?");
        if (!st) return fail("cannot change a record");
        sqlite3_bind_text(st.get(), 1, w.data.data(), static_cast<int>(w.data.size()), SQLITE_STATIC);
        int next = 2;
        if (w.writeImage) bindImage(st.get(), next++, w.image);
        sqlite3_bind_int(st.get(), next, w.id);
        if (sqlite3_step(st.get()) != SQLITE_DONE) return fail("cannot change a record");
        // Saying it was stored would lose the change without a word.
        if (sqlite3_changes(db_) == 0) {
          sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
          if (error)
            *error = NSError{kABErrorDomain, kABOperationNotPermittedByStoreError,
                             "record " + std::to_string(w.id) + " is no longer in the address book", {}};
          return false;
        }
        break;
      }
      case Write::Kind::Delete: {
        Statement st(db_, "DELETE FROM people WHERE id = ?");
        if (!st) return fail("cannot remove a record");
        sqlite3_bind_int(st.get(), 1, w.id);
        if (sqlite3_step(st.get()) != SQLITE_DONE) return fail("cannot remove a record");
        break;
      }
    }
  }
  if (!exec("COMMIT", error)) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  // Ids are handed out only once the transaction stands.
  std::size_t inserted = 0;
  for (const auto& w : writes) {
    if (w.kind != Write::Kind::Insert) continue;
    std::int32_t id = newIds[inserted++];
    if (w.assignedId) *w.assignedId = id;
    if (w.stored) w.stored->id_ = id;
  }
  // Own commits leave data_version as it was, so the people held must change with them.
  if (current) changePeople(writes);
  return true;
}

void ABAddressBookStore::changePeople(const std::vector<Write>& writes) {
  for (const auto& w : writes) {
    std::int32_t id = w.kind == Write::Kind::Insert ? (w.stored ? w.stored->id_ : -1) : w.id;
    if (w.kind == Write::Kind::Delete) {
      people_.erase(id);
    } else if (!w.stored) {
      // Nothing to keep for it: everyone is read again when next wanted.
      people_.clear();
      peopleValid_ = false;
      return;
    } else {
      people_.insert_or_assign(people_.end(), id, w.stored);
    }
  }
}

}  // namespace plat
