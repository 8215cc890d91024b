#pragma once
// One storage area: the keys and values of one origin's localStorage or sessionStorage, in the
// order their keys were first set, with the quota. A localStorage area writes every change
// through to its SQLite database before it changes what the page sees, so what the page was
// told is stored is on disk, and a change that could not be stored is not seen either.
//
// Threads: main thread only.
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct sqlite3;

namespace plat::web {

class StorageArea {
 public:
  // Why a change was refused: a DOMException's name and message for the page.
  struct Refusal {
    std::string name;
    std::string message;
  };

  // An area in memory only (sessionStorage).
  StorageArea();
  ~StorageArea();
  StorageArea(const StorageArea&) = delete;
  StorageArea& operator=(const StorageArea&) = delete;

  // The localStorage area kept in the database at path, shared by every document of this
  // process that uses it. A database that cannot be read is set aside and the area starts
  // empty; one that another process holds locked is left alone and the area lives in memory
  // for this run. Either way the log says why.
  static std::shared_ptr<StorageArea> localArea(const std::string& path);

  std::size_t length() const { return entries_.size(); }
  const std::u16string* getItem(const std::u16string& key) const;
  const std::u16string* key(std::size_t index) const;
  std::vector<std::u16string> keys() const;
  std::optional<Refusal> setItem(const std::u16string& key, const std::u16string& value);
  std::optional<Refusal> removeItem(const std::u16string& key);
  std::optional<Refusal> clear();

  // The database file may have been replaced (a restored backup) or removed (a purged cache)
  // since it was opened: takes up the replacement, or writes what the area holds into a new
  // file. Called when a document starts using the area and before every change.
  void refresh();

 private:
  class Database;

  void adopt(std::vector<std::pair<std::u16string, std::u16string>> entries);
  void openDatabase();
  std::optional<Refusal> writeRefusal(const char* what);

  std::vector<std::pair<std::u16string, std::u16string>> entries_;
  std::unordered_map<std::u16string, std::size_t> index_;
  std::size_t usedBytes_ = 0;
  std::string path_;  // empty: memory only
  std::unique_ptr<Database> database_;
};

}  // namespace plat::web
