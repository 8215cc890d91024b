#pragma once
// The SQLite side of the address book: one connection per database file, shared by every book of
// the process and guarded by one mutex, so books on different threads never interleave a
// transaction.
//
// The store keeps the people it has built from the file (shared, never changed: books copy a
// person before they hand it out). Its own commits change only the people they wrote, in the
// same step as the commit; a commit by any other connection (another process) is seen through
// SQLite's data_version and makes the store read the file again when next asked for everyone.
#include <sqlite3.h>

#include <atomic>
#include <map>
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
  // A change to write in one transaction.
  struct Write {
    enum class Kind { Insert, Update, Delete } kind;
    std::int32_t id = -1;              // Update, Delete
    std::string data;                  // Insert, Update
    bool writeImage = false;           // Insert, Update: replace the image column
    std::optional<Data> image;         // the new image, or none
    std::int32_t* assignedId = nullptr;  // Insert: receives the new id
    // Insert, Update: the person as it is now stored (no image bytes, no pending changes), kept
    // by the store once the transaction stands; an Insert's gets its id then. Never changed after.
    std::shared_ptr<ABRecord> stored;
  };

  // The open store of that file (opened, and its table made, on first use); nothing with an
  // error when the file cannot be opened.
  static std::shared_ptr<ABAddressBookStore> open(const std::string& path, NSError* error);
  ~ABAddressBookStore();

  // Every person in id order, shared: never change them, copy them. Read from the file only when
  // the store does not hold them yet or another connection has changed the file since.
  bool readAllPeople(std::vector<std::shared_ptr<ABRecord>>& people, NSError* error);
  // The person with that id, shared as above, or nothing. Reads that row alone when the store
  // does not hold everyone.
  std::shared_ptr<ABRecord> readPerson(std::int32_t id);
  std::optional<Data> readImage(std::int32_t id);
  // All or nothing. An update of a row that is gone (removed by another book or process) fails
  // the whole transaction; removing a row that is gone already does not.
  bool apply(const std::vector<Write>& writes, NSError* error);

  // Rows read from any address-book file by this process: what tests measure a change by.
  static std::uint64_t rowsRead() { return rowsRead_.load(); }

 private:
  struct Row {
    std::int32_t id;
    std::string data;
    bool hasImage;
  };

  ABAddressBookStore() = default;
  bool exec(const char* sql, NSError* error);
  NSError storeError(const std::string& what) const;
  // The mutex is held for all of these.
  std::int64_t dataVersion();
  bool readAll(std::vector<Row>& rows, NSError* error);
  std::optional<Row> readOne(std::int32_t id);
  std::shared_ptr<ABRecord> build(const Row& row);
  // Whether people_ is the file as it stands (drops it when another connection changed the file).
  bool peopleAreCurrent();
  void changePeople(const std::vector<Write>& writes);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::weak_ptr<ABAddressBookStore> self_;  // for the people it builds, to read images later
  // The people of the file as of data_version peopleVersion_ (own commits do not change it).
  std::map<std::int32_t, std::shared_ptr<ABRecord>> people_;
  bool peopleValid_ = false;
  std::int64_t peopleVersion_ = -1;

  static inline std::atomic<std::uint64_t> rowsRead_{0};
};

}  // namespace plat
