#pragma once
// Web storage backup: keeps copies of the page's localStorage and WebSQL databases, and repairs
// older storage layouts at start-up, under the preference "BackupWebStorage":
//  - "cloud" (the default): at start-up older copies move back into Library/WebKit/LocalStorage
//    and the user default "WebKitStoreWebDataForBackup" becomes YES;
//  - "local": the plugin copies the databases from Library/Caches into Documents/Backups (a
//    folder excluded from the device backup) whenever the application resigns active or
//    terminates, and copies them back whenever a page starts loading;
//  - anything else: no copies; at start-up older copies move back into Library/Caches, and
//    "WebKitStoreWebDataForBackup" becomes NO ("local" does the same at start-up).
//
// Every copy is a safe copy: the destination is either the new whole item or the old whole
// item, never a mixture, and never gone, even when the process is killed part-way (the copy is
// made beside the destination and renamed into place; the start-up repair tidies what a stop
// left there). Backup and restore passes (and the start-up repair) run one at a time under one
// process-wide lock, because the backup may run on the global queue while a page load restores
// on the main thread. A failed copy is always logged with its reason.
//
// Threads: notifications, restore and the synchronous backup on the main thread; the backup on
// resign runs on the global queue inside a background task.
#include <memory>
#include <string>
#include <vector>

#include "HBRPlugin.h"
#include "plat/foundation/NSError.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace harbor {

inline constexpr char kHBRLocalStorageErrorDomain[] = "kHBRLocalStorageErrorDomain";
inline constexpr long kHBRLocalStorageFileOperationError = 1;
inline constexpr char kHBRBackupWebStorageSetting[] = "BackupWebStorage";
inline constexpr char kHBRStoreWebDataForBackupKey[] = "WebKitStoreWebDataForBackup";

// One live item (file or folder) and the path of its copy.
class HBRBackupInfo : public plat::Object {
 public:
  std::string original;
  std::string backup;
  std::string label;

  // Whether original has something newer than backup.
  bool shouldBackup() const;
  // Whether backup has something newer than original.
  bool shouldRestore() const;

  // Whether item a is newer than item b. a missing: no. Unless both are folders: the file test.
  // Both folders: yes at the first entry below a (in enumeration order) that is newer than its
  // counterpart below b.
  bool item(const std::string& a, const std::string& b) const;
  // Whether file a's modification date is later than b's; a missing b counts as older, a
  // missing a as not newer.
  bool file(const std::string& a, const std::string& b) const;
};

using HBRBackupInfoPtr = std::shared_ptr<HBRBackupInfo>;

class HBRLocalStorage : public HBRPlugin {
 public:
  HBRLocalStorage();

  // The three pairs (localStorage database, WebSQL main database, WebSQL databases folder) of
  // target folder T and backup folder B. With the nests switches the items sit in
  // "WebKit/LocalStorage" of T or B; with rename the copies take the ".appdata.db" names.
  static std::vector<HBRBackupInfoPtr> createBackupInfoWithTargetDir(const std::string& targetDir,
                                                                     const std::string& backupDir, bool targetDirNests,
                                                                     bool backupDirNests, bool rename);
  // The plugin's own pairs: Library/Caches -> Documents/Backups (renamed). Creates the backup
  // folder and marks it excluded from the device backup unless cloud is set.
  static std::vector<HBRBackupInfoPtr> createBackupInfoWithCloudBackup(bool cloudBackup);
  // Sets the exclusion mark; logs "Error excluding %@ from backup %@" and answers false on failure.
  static bool addSkipBackupAttributeToItemAtURL(const plat::NSURLPtr& url, bool skip);

  // Copies source over destination safely:
  //  - a missing source fails with kHBRLocalStorageErrorDomain code 1 "%@ file does not exist.";
  //  - the destination's missing parent folders are made;
  //  - the copy is made beside the destination and replaces it only once whole
  //    (NSFileManager::replaceItemAtPathWithCopyOfItemAtPath), keeping the source's dates; on
  //    failure, or when the file manager's copies are cancelled, the destination is as it was.
  // Errors of the file operations come out through error.
  static bool copyFrom(const std::string& source, const std::string& destination, plat::NSError* error = nullptr,
                       plat::NSFileManager& fileManager = plat::NSFileManager::defaultManager());

  // The start-up repair: recoverInterruptedCopies, then the two steps below, in order. Ignores
  // every file error.
  static void fixupDatabaseLocationsWithBackupType(const std::string& backupType);
  // Tidies what a stop in the middle of a copy left beside the live items and their copies:
  // unfinished copies are removed, an old item set aside is put back where its place is empty.
  static void recoverInterruptedCopies();
  // Points the web database locations in the application's preferences file (in the sandbox
  // home's Library/Preferences) back into the sandbox home when they lead elsewhere; logs "Fix
  // applied for database locations?: %@". Nothing when the bundle identifier is missing or
  // could not be a file name.
  static void verifyAndFixDatabaseLocations();
  // The dictionary part of the above; true when something was changed.
  static bool verifyAndFixDatabaseLocationsWithAppPlistDict(plat::Dictionary& appPlistDict,
                                                            const std::string& containerPath,
                                                            plat::NSFileManager& fileManager);
  // Moves copies left by an earlier storage mode back to where this mode keeps the databases,
  // and deletes them once they are no longer needed (see the top of this file).
  static void restoreLegacyDatabaseLocationsWithBackupType(const std::string& backupType);

  void pluginInitialize() override;
  void onAppTerminate() override;
  void onReset() override;
  // Backs up on resign: at once when the application exits on suspend, else on the global
  // queue inside a background task when the device multitasks. When the task expires, the copy
  // in progress is cancelled and its destination left as it was.
  void onResignActive();

  // Page actions (also run without a command). One string result per copied pair: "Backed up:
  // %@" / "Restored: %@" with status OK, or the error text with status Error; nothing when no
  // pair needed copying. Results go without keep-callback, so the page hears only the first.
  void backup(const HBRInvokedUrlCommandPtr& command);
  void restore(const HBRInvokedUrlCommandPtr& command);

  bool shouldBackup() const;
  bool shouldRestore() const;
  const std::vector<HBRBackupInfoPtr>& backupInfo() const { return backupInfo_; }

 protected:
  // A fresh file manager for one background backup, whose copies the expiry cancels. Tests
  // return one that lets them expire the task in the middle of a copy.
  virtual std::shared_ptr<plat::NSFileManager> makeBackgroundFileManager();

 private:
  enum class Direction { Backup, Restore };
  void copyPass(Direction direction, const HBRInvokedUrlCommandPtr& command, plat::NSFileManager& fileManager);

  std::vector<HBRBackupInfoPtr> backupInfo_;
};

}  // namespace harbor
