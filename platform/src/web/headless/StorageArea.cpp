#include "StorageArea.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/web/WebStorage.h"

namespace plat::web {
namespace {

using Entries = std::vector<std::pair<std::u16string, std::u16string>>;

std::size_t bytesOf(const std::u16string& key, const std::u16string& value) { return 2 * (key.size() + value.size()); }

// Keys and values are stored as UTF-16LE blobs, as the device's web view stores its values: a
// script string may hold lone surrogates and NULs, which text columns would not keep.
std::string blobOf(const std::u16string& text) {
  std::string bytes(text.size() * 2, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return bytes;
}

std::u16string textOfColumn(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_TEXT) {
    auto* units = static_cast<const char16_t*>(sqlite3_column_text16(statement, column));
    return std::u16string(units, static_cast<std::size_t>(sqlite3_column_bytes16(statement, column)) / 2);
  }
  auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(statement, column));
  std::size_t size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column)) / 2;
  std::u16string text(size, u'\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return text;
}

bool isLockedCode(int code) {
  int primary = code & 0xFF;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// SQLite takes a file shorter than one page for an empty database and writes over it; whatever
// such a file holds must be set aside like any other unreadable file.
bool looksLikeADatabase(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return true;  // missing (created) or unopenable (SQLite says why)
  char header[16] = {};
  std::size_t got = std::fread(header, 1, sizeof header, file);
  std::fclose(file);
  return got == 0 || (got == sizeof header && std::memcmp(header, "SQLite format 3", sizeof header) == 0);
}

// Moves an unreadable database (and its journal) to a free name beside it; never deletes it.
std::optional<std::string> setAside(const std::string& path) {
  for (int n = 1; n <= 100; ++n) {
    std::string aside = path + ".unreadable" + (n == 1 ? std::string() : "-" + std::to_string(n));
    if (exists(aside) || exists(aside + "-journal")) continue;
    if (::rename(path.c_str(), aside.c_str()) != 0) return std::nullopt;
    if (exists(path + "-journal")) ::rename((path + "-journal").c_str(), (aside + "-journal").c_str());
    return aside;
  }
  return std::nullopt;
}

}  // namespace

// One open localStorage database. Every change is one statement in autocommit mode, so SQLite
// makes each its own transaction: a stop at any moment leaves the old value or the new one. The
// rollback journal (not a write-ahead log) keeps every committed change in the database file
// itself, which is the one file the backup copies.
class StorageArea::Database {
 public:
  enum class Problem { None, Unreadable, Locked };

  ~Database() {
    std::lock_guard<std::recursive_mutex> files(webStorageFilesMutex());
    for (sqlite3_stmt* s : {upsert_, remove_, clear_}) sqlite3_finalize(s);
    sqlite3_close_v2(db_);
  }

  // Opens the database at path and reads its entries in the order their keys were first set.
  static std::unique_ptr<Database> open(const std::string& path, Entries& entries, Problem& problem,
                                        std::string& reason) {
    if (!looksLikeADatabase(path)) {
      problem = Problem::Unreadable;
      reason = "file is not a database";
      return nullptr;
    }
    auto database = std::unique_ptr<Database>(new Database);
    int code = database->connect(path);
    if (code == SQLITE_OK) {
      sqlite3_stmt* check = nullptr;
      code = sqlite3_prepare_v2(database->db_, "PRAGMA quick_check", -1, &check, nullptr);
      if (code == SQLITE_OK) {
        code = sqlite3_step(check);
        if (code == SQLITE_ROW) {
          const char* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
          code = verdict && std::string_view(verdict) == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
          if (code != SQLITE_OK) reason = std::string("the integrity check failed: ") + (verdict ? verdict : "");
        }
      }
      sqlite3_finalize(check);
    }
    if (code == SQLITE_OK) code = database->prepare();
    if (code == SQLITE_OK) code = database->read(entries);
    if (code != SQLITE_OK) {
      problem = isLockedCode(code) ? Problem::Locked : Problem::Unreadable;
      if (reason.empty()) reason = database->db_ ? sqlite3_errmsg(database->db_) : sqlite3_errstr(code);
      return nullptr;
    }
    problem = Problem::None;
    return database;
  }

  // A new database at path (none may stand there) holding the entries, written in one
  // transaction.
  static std::unique_ptr<Database> create(const std::string& path, const Entries& entries, std::string& reason) {
    NSFileManager::defaultManager().createDirectoryAtPath(stringByDeletingLastPathComponent(path), true);
    auto database = std::unique_ptr<Database>(new Database);
    int code = database->connect(path);
    if (code == SQLITE_OK) code = database->prepare();
    if (code == SQLITE_OK && !entries.empty()) {
      code = sqlite3_exec(database->db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      for (std::size_t i = 0; code == SQLITE_OK && i < entries.size(); ++i)
        code = database->upsert(entries[i].first, entries[i].second);
      if (code == SQLITE_OK) code = sqlite3_exec(database->db_, "COMMIT", nullptr, nullptr, nullptr);
      if (code != SQLITE_OK) sqlite3_exec(database->db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    if (code != SQLITE_OK) {
      reason = database->db_ ? sqlite3_errmsg(database->db_) : sqlite3_errstr(code);
      return nullptr;
    }
    return database;
  }

  int upsert(const std::u16string& key, const std::u16string& value) {
    return run(upsert_, {blobOf(key), blobOf(value)});
  }
  int remove(const std::u16string& key) { return run(remove_, {blobOf(key)}); }
  int clear() { return run(clear_, {}); }

  int errorCode() const { return sqlite3_extended_errcode(db_); }
  std::string errorMessage() const { return sqlite3_errmsg(db_); }

  // Whether the file at the path is still the one this connection has open.
  bool isCurrent(const struct stat& st) const { return st.st_dev == device_ && st.st_ino == inode_; }

 private:
  Database() = default;

  int connect(const std::string& path) {
    int code = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                               nullptr);
    if (code != SQLITE_OK) return code;
    sqlite3_extended_result_codes(db_, 1);
    // Another process holding the file is waited for a moment, not for ever: the page is waiting.
    sqlite3_busy_timeout(db_, 200);
    code = sqlite3_exec(db_, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) return code;
    code = sqlite3_exec(db_, "CREATE TABLE IF NOT EXISTS ItemTable (key BLOB NOT NULL PRIMARY KEY, value BLOB NOT NULL)",
                        nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) return code;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return SQLITE_CANTOPEN;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    return SQLITE_OK;
  }

  int prepare() {
    int code = sqlite3_prepare_v2(db_,
                                  "INSERT INTO ItemTable (key, value) VALUES (?1, ?2) "
                                  "ON CONFLICT (key) DO UPDATE SET value = excluded.value",
                                  -1, &upsert_, nullptr);
    if (code == SQLITE_OK) code = sqlite3_prepare_v2(db_, "DELETE FROM ItemTable WHERE key = ?1", -1, &remove_, nullptr);
    if (code == SQLITE_OK) code = sqlite3_prepare_v2(db_, "DELETE FROM ItemTable", -1, &clear_, nullptr);
    return code;
  }

  int read(Entries& entries) {
    sqlite3_stmt* select = nullptr;
    int code = sqlite3_prepare_v2(db_, "SELECT key, value FROM ItemTable ORDER BY rowid", -1, &select, nullptr);
    std::map<std::u16string, bool> seen;
    while (code == SQLITE_OK || code == SQLITE_ROW) {
      code = sqlite3_step(select);
      if (code != SQLITE_ROW) break;
      if (sqlite3_column_type(select, 0) == SQLITE_NULL || sqlite3_column_type(select, 1) == SQLITE_NULL) continue;
      std::u16string key = textOfColumn(select, 0);
      if (seen.emplace(key, true).second) entries.emplace_back(std::move(key), textOfColumn(select, 1));
    }
    sqlite3_finalize(select);
    return code == SQLITE_DONE ? SQLITE_OK : code;
  }

  int run(sqlite3_stmt* statement, std::initializer_list<std::string> blobs) {
    int index = 1;
    for (const std::string& blob : blobs)
      sqlite3_bind_blob64(statement, index++, blob.data(), blob.size(), SQLITE_TRANSIENT);
    int code = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return code == SQLITE_DONE ? SQLITE_OK : code;
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* upsert_ = nullptr;
  sqlite3_stmt* remove_ = nullptr;
  sqlite3_stmt* clear_ = nullptr;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

StorageArea::StorageArea() = default;
StorageArea::~StorageArea() = default;

std::shared_ptr<StorageArea> StorageArea::localArea(const std::string& path) {
  assert(isMainThread() && "web storage is used on the main thread");
  static std::map<std::string, std::weak_ptr<StorageArea>> open;
  std::erase_if(open, [](const auto& entry) { return entry.second.expired(); });
  if (auto area = open[path].lock()) return area;
  auto area = std::make_shared<StorageArea>();
  area->path_ = path;
  area->openDatabase();
  open[path] = area;
  return area;
}

void StorageArea::adopt(Entries entries) {
  entries_ = std::move(entries);
  index_.clear();
  usedBytes_ = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    index_[entries_[i].first] = i;
    usedBytes_ += bytesOf(entries_[i].first, entries_[i].second);
  }
}

void StorageArea::openDatabase() {
  std::lock_guard<std::recursive_mutex> files(webStorageFilesMutex());
  Entries entries;
  Database::Problem problem = Database::Problem::None;
  std::string reason;
  NSFileManager::defaultManager().createDirectoryAtPath(stringByDeletingLastPathComponent(path_), true);
  database_ = Database::open(path_, entries, problem, reason);
  if (database_) {
    adopt(std::move(entries));
    return;
  }
  adopt({});
  if (problem == Database::Problem::Locked) {
    NSLog("Web storage: " + path_ + " is locked (" + reason +
          "); the page's storage is kept in memory for this run and the file is left as it is.");
    path_.clear();
    return;
  }
  std::optional<std::string> aside = setAside(path_);
  if (!aside) {
    NSLog("Web storage: " + path_ + " cannot be read (" + reason +
          ") nor set aside; the page's storage is kept in memory for this run.");
    path_.clear();
    return;
  }
  NSLog("Web storage: " + path_ + " cannot be read (" + reason + "); it is kept as " + *aside +
        " and the page starts with empty storage.");
  std::string failure;
  database_ = Database::create(path_, {}, failure);
  if (!database_) NSLog("Web storage: cannot create " + path_ + " (" + failure + ").");
}

void StorageArea::refresh() {
  std::lock_guard<std::recursive_mutex> files(webStorageFilesMutex());
  if (path_.empty()) return;
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) {
    // Gone (the system purged its caches): what the page holds is all there is; keep it.
    database_.reset();
    std::string failure;
    database_ = Database::create(path_, entries_, failure);
    if (!database_) NSLog("Web storage: cannot create " + path_ + " (" + failure + ").");
    return;
  }
  if (database_ && database_->isCurrent(st)) return;
  // Replaced (a backup was restored over it): the file on disk is what the page should see.
  database_.reset();
  openDatabase();
}

const std::u16string* StorageArea::getItem(const std::u16string& key) const {
  auto it = index_.find(key);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

const std::u16string* StorageArea::key(std::size_t index) const {
  return index < entries_.size() ? &entries_[index].first : nullptr;
}

std::vector<std::u16string> StorageArea::keys() const {
  std::vector<std::u16string> out;
  out.reserve(entries_.size());
  for (const auto& entry : entries_) out.push_back(entry.first);
  return out;
}

std::optional<StorageArea::Refusal> StorageArea::writeRefusal(const char* what) {
  if (!database_) return Refusal{"UnknownError", "The storage database cannot be written."};
  int code = database_->errorCode();
  std::string reason = database_->errorMessage();
  NSLog("Web storage: could not " + std::string(what) + " in " + path_ + " (" + reason + ").");
  if ((code & 0xFF) == SQLITE_FULL) return Refusal{"QuotaExceededError", "The quota has been exceeded."};
  return Refusal{"UnknownError", "The storage could not be written: " + reason};
}

std::optional<StorageArea::Refusal> StorageArea::setItem(const std::u16string& key, const std::u16string& value) {
  std::lock_guard<std::recursive_mutex> files(webStorageFilesMutex());
  refresh();
  auto it = index_.find(key);
  const std::u16string* old = it == index_.end() ? nullptr : &entries_[it->second].second;
  if (old && *old == value) return std::nullopt;
  std::size_t used = usedBytes_ - (old ? bytesOf(key, *old) : 0) + bytesOf(key, value);
  // A store already over the quota (filled elsewhere) may still shrink.
  if (used > kWebStorageQuotaBytes && used > usedBytes_)
    return Refusal{"QuotaExceededError", "The quota has been exceeded."};
  if (!path_.empty() && (!database_ || database_->upsert(key, value) != SQLITE_OK)) return writeRefusal("store a value");
  usedBytes_ = used;
  if (old) {
    entries_[it->second].second = value;
  } else {
    index_[key] = entries_.size();
    entries_.emplace_back(key, value);
  }
  return std::nullopt;
}

std::optional<StorageArea::Refusal> StorageArea::removeItem(const std::u16string& key) {
  std::lock_guard<std::recursive_mutex> files(webStorageFilesMutex());
  refresh();
  auto it = index_.find(key);
  if (it == index_.end()) return std::nullopt;
  if (!path_.empty() && (!database_ || database_->remove(key) != SQLITE_OK)) return writeRefusal("remove a value");
  std::size_t position = it->second;
  usedBytes_ -= bytesOf(key, entries_[position].second);
  index_.erase(it);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
  for (std::size_t i = position; i < entries_.size(); ++i) index_[entries_[i].first] = i;
  return std::nullopt;
}

std::optional<StorageArea::Refusal> StorageArea::clear() {
  std::lock_guard<std::recursive_mutex> files(webStorageFilesMutex());
  refresh();
  if (entries_.empty()) return std::nullopt;
  if (!path_.empty() && (!database_ || database_->clear() != SQLITE_OK)) return writeRefusal("clear the storage");
  adopt({});
  return std::nullopt;
}

}  // namespace plat::web
