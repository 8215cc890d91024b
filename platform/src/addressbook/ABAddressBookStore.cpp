#include "ABAddressBookStore.h"

#include <map>

#include "plat/addressbook/ABAddressBook.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"

namespace plat {
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
  int rc = sqlite3_open_v2(path.c_str(), &store->db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    if (error) *error = store->storeError("cannot open the address book at " + path);
    return nullptr;
  }
  sqlite3_busy_timeout(store->db_, 5000);
  // Write-ahead journal: a transaction is whole or absent after a crash at any point, and a
  // commit reported to the caller survives the process being killed (it is in the journal, one
  // sync per commit). AUTOINCREMENT keeps removed ids from coming back.
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
  std::lock_guard<std::mutex> lock(mutex_);
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
  }
  if (rc != SQLITE_DONE) {
    if (error) *error = storeError("cannot read the address book");
    return false;
  }
  return true;
}

std::int64_t ABAddressBookStore::dataVersion() {
  Statement st(db_, "PRAGMA data_version");
  if (!st || sqlite3_step(st.get()) != SQLITE_ROW) return -1;
  return sqlite3_column_int64(st.get(), 0);
}

bool ABAddressBookStore::readAllPeople(std::vector<std::shared_ptr<ABRecord>>& people, const Builder& build,
                                       NSError* error) {
  std::lock_guard<std::mutex> cacheLock(cacheMutex_);
  std::int64_t version;
  std::uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    version = dataVersion();
    generation = generation_;
  }
  if (!cacheValid_ || version < 0 || version != cacheDataVersion_ || generation != cacheGeneration_) {
    std::vector<Row> rows;
    if (!readAll(rows, error)) return false;
    cache_.clear();
    cache_.reserve(rows.size());
    for (const auto& row : rows) cache_.push_back(build(row));
    cacheValid_ = version >= 0;
    cacheDataVersion_ = version;
    cacheGeneration_ = generation;
  }
  people = cache_;
  return true;
}

std::optional<ABAddressBookStore::Row> ABAddressBookStore::readOne(std::int32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement st(db_, "SELECT data, image IS NOT NULL FROM people WHERE id = ?");
  if (!st) return std::nullopt;
  sqlite3_bind_int(st.get(), 1, id);
  if (sqlite3_step(st.get()) != SQLITE_ROW) return std::nullopt;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
  return Row{id, std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 0))),
             sqlite3_column_int(st.get(), 1) != 0};
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
  std::vector<std::pair<std::int32_t*, std::int32_t>> assigned;
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
        assigned.emplace_back(w.assignedId, static_cast<std::int32_t>(sqlite3_last_insert_rowid(db_)));
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
  ++generation_;
  // Ids are handed out only once the transaction stands.
  for (auto& [target, id] : assigned)
    if (target) *target = id;
  return true;
}

}  // namespace plat
