#pragma once
// The SQLite side of the address book: one connection per database file, shared by every book of
// the process and guarded by one mutex, so books on different threads never interleave a
// transaction.
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Value.h"

namespace plat {

class ABRecord;

class ABAddressBookStore {
 public:
  struct Row {
    std::int32_t id;
    std::string data;
    bool hasImage;
  };
  // A change to write in one transaction.
  struct Write {
    enum class Kind { Insert, Update, Delete } kind;
    std::int32_t id = -1;              // Update, Delete
    std::string data;                  // Insert, Update
    bool writeImage = false;           // Insert, Update: replace the image column
    std::optional<Data> image;         // the new image, or none
    std::int32_t* assignedId = nullptr;  // Insert: receives the new id
  };

  // The open store of that file (opened, and its table made, on first use); nothing with an
  // error when the file cannot be opened.
  static std::shared_ptr<ABAddressBookStore> open(const std::string& path, NSError* error);
  ~ABAddressBookStore();

  bool readAll(std::vector<Row>& rows, NSError* error);
  // Every person, built from the rows by `build` once per change of the file (by any process)
  // and shared by the books that read it: never change them, copy them.
  using Builder = std::function<std::shared_ptr<ABRecord>(const Row& row)>;
  bool readAllPeople(std::vector<std::shared_ptr<ABRecord>>& people, const Builder& build, NSError* error);
  std::optional<Row> readOne(std::int32_t id);
  std::optional<Data> readImage(std::int32_t id);
  // All or nothing.
  bool apply(const std::vector<Write>& writes, NSError* error);

 private:
  ABAddressBookStore() = default;
  bool exec(const char* sql, NSError* error);
  NSError storeError(const std::string& what) const;

  std::int64_t dataVersion();

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  // Own commits; SQLite's data_version counts only other connections'.
  std::uint64_t generation_ = 0;
  std::mutex cacheMutex_;
  std::vector<std::shared_ptr<ABRecord>> cache_;
  bool cacheValid_ = false;
  std::uint64_t cacheGeneration_ = 0;
  std::int64_t cacheDataVersion_ = -1;
};

}  // namespace plat
