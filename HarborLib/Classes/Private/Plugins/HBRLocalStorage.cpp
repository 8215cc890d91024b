#include "HBRLocalStorage.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "HBRPreferences.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSUUID.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/foundation/PropertyList.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/web/WebStorage.h"

namespace harbor {
namespace {

constexpr char kWillResignActiveNotification[] = "UIApplicationWillResignActiveNotification";
constexpr char kNestedFolder[] = "WebKit/LocalStorage";

// One pass of copies at a time, whichever thread runs it.
std::mutex& passMutex() {
  static std::mutex m;
  return m;
}

using plat::stringByAppendingPathComponent;

std::string userFolder(plat::NSSearchPathDirectory directory) {
  auto paths = plat::NSSearchPathForDirectoriesInDomains(directory, plat::NSUserDomainMask, true);
  return paths.empty() ? std::string() : paths.front();
}

bool itemExists(plat::NSFileManager& fm, const std::string& path) {
  // A dangling link is still something standing at the path.
  return fm.fileExistsAtPath(path) || fm.attributesOfItemAtPath(path).has_value();
}

bool isFolder(plat::NSFileManager& fm, const std::string& path) {
  bool folder = false;
  return fm.fileExistsAtPath(path, &folder) && folder;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// HBRBackupInfo

bool HBRBackupInfo::shouldBackup() const { return item(original, backup); }

bool HBRBackupInfo::shouldRestore() const { return item(backup, original); }

bool HBRBackupInfo::file(const std::string& a, const std::string& b) const {
  auto& fm = plat::NSFileManager::defaultManager();
  auto attributesA = fm.attributesOfItemAtPath(a);
  auto attributesB = fm.attributesOfItemAtPath(b);
  if (!attributesA && !attributesB) return false;
  if (!attributesB) return true;
  if (!attributesA) return false;
  return attributesA->modificationDate > attributesB->modificationDate;
}

bool HBRBackupInfo::item(const std::string& a, const std::string& b) const {
  auto& fm = plat::NSFileManager::defaultManager();
  if (!fm.fileExistsAtPath(a)) return false;
  if (!isFolder(fm, a) || !isFolder(fm, b)) return file(a, b);
  for (const std::string& sub : fm.enumeratorAtPath(a)) {
    if (file(stringByAppendingPathComponent(a, sub), stringByAppendingPathComponent(b, sub))) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// HBRLocalStorage: the pairs and the safe copy

HBRLocalStorage::HBRLocalStorage() {
  registerAction("backup", &HBRLocalStorage::backup);
  registerAction("restore", &HBRLocalStorage::restore);
}

std::vector<HBRBackupInfoPtr> HBRLocalStorage::createBackupInfoWithTargetDir(const std::string& targetDir,
                                                                             const std::string& backupDir,
                                                                             bool targetDirNests, bool backupDirNests,
                                                                             bool rename) {
  std::string target = targetDirNests ? stringByAppendingPathComponent(targetDir, kNestedFolder) : targetDir;
  std::string backups = backupDirNests ? stringByAppendingPathComponent(backupDir, kNestedFolder) : backupDir;
  struct Entry {
    const char* label;
    const char* name;
    const char* renamed;
  };
  static const Entry entries[] = {
      {"localStorage database", "file__0.localstorage", "localstorage.appdata.db"},
      {"websql main database", "Databases.db", "websqlmain.appdata.db"},
      {"websql databases", "file__0", "websqldbs.appdata.db"},
      // What the WebKit page engine writes in the same folder: localStorage as SQLite in
      // write-ahead mode (the folder keeps "file__0.localstorage" with its "-wal" and "-shm",
      // copied together), and IndexedDB ("indexeddb/v1/file__0/<hash>/IndexedDB.sqlite3").
      {"WebKit localStorage", "localstorage", "webkitlocalstorage.appdata.db"},
      {"WebKit databases", "databases", "webkitdatabases.appdata.db"},
      // And its cookies ("cookies/cookies.sqlite").
      {"WebKit cookies", "cookies", "webkitcookies.appdata.db"},
  };
  std::vector<HBRBackupInfoPtr> out;
  for (const Entry& e : entries) {
    auto info = std::make_shared<HBRBackupInfo>();
    info->label = e.label;
    info->original = stringByAppendingPathComponent(target, e.name);
    info->backup = stringByAppendingPathComponent(backups, rename ? e.renamed : e.name);
    out.push_back(std::move(info));
  }
  return out;
}

std::vector<HBRBackupInfoPtr> HBRLocalStorage::createBackupInfoWithCloudBackup(bool cloudBackup) {
  std::string caches = userFolder(plat::NSCachesDirectory);
  std::string backups = stringByAppendingPathComponent(userFolder(plat::NSDocumentDirectory), "Backups");
  plat::NSFileManager::defaultManager().createDirectoryAtPath(backups, true);
  addSkipBackupAttributeToItemAtURL(plat::NSURL::fileURLWithPath(backups, true), !cloudBackup);
  return createBackupInfoWithTargetDir(caches, backups, false, false, true);
}

bool HBRLocalStorage::addSkipBackupAttributeToItemAtURL(const plat::NSURLPtr& url, bool skip) {
  plat::NSError error;
  if (url && url->setResourceValue(plat::Value(skip), plat::NSURLIsExcludedFromBackupKey, &error)) return true;
  plat::NSLogf("Error excluding %s from backup %s", url ? url->lastPathComponent().c_str() : "(null)",
               error.description().c_str());
  return false;
}

bool HBRLocalStorage::copyFrom(const std::string& source, const std::string& destination, plat::NSError* error,
                               plat::NSFileManager& fm) {
  if (!itemExists(fm, source)) {
    if (error) {
      *error = plat::NSError{kHBRLocalStorageErrorDomain, kHBRLocalStorageFileOperationError,
                             plat::format("%s file does not exist.", source.c_str()), plat::Value()};
    }
    return false;
  }
  if (!fm.createDirectoryAtPath(plat::stringByDeletingLastPathComponent(destination), true, error)) return false;
  // The copy is made beside the destination and only then takes its place, so a stop at any
  // moment leaves the old copy or the new one under the name, never a cut-off file that would
  // look newest to the next pass.
  return fm.replaceItemAtPathWithCopyOfItemAtPath(destination, source, error);
}

void HBRLocalStorage::recoverInterruptedCopies() {
  std::string library = userFolder(plat::NSLibraryDirectory);
  std::string documents = userFolder(plat::NSDocumentDirectory);
  // Every folder that one of the layouts copies into.
  std::vector<std::string> folders = {stringByAppendingPathComponent(library, "Caches"),
                                      stringByAppendingPathComponent(documents, "Backups"),
                                      stringByAppendingPathComponent(library, kNestedFolder)};
  std::lock_guard<std::mutex> lock(passMutex());
  for (const std::string& folder : folders) {
    for (const plat::NSInterruptedCopy& left : plat::recoverInterruptedCopies(folder)) {
      switch (left.action) {
        case plat::NSInterruptedCopyAction::PutBackSetAside:
          plat::NSLogf("Put back webstorage set aside by an unfinished copy: '%s'.", left.path.c_str());
          break;
        case plat::NSInterruptedCopyAction::RemovedPartialCopy:
          plat::NSLogf("Removed an unfinished webstorage copy: '%s'.", left.path.c_str());
          break;
        case plat::NSInterruptedCopyAction::RemovedSetAside:
          plat::NSLogf("Removed webstorage set aside by a finished copy: '%s'.", left.path.c_str());
          break;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Start-up repair

void HBRLocalStorage::fixupDatabaseLocationsWithBackupType(const std::string& backupType) {
  recoverInterruptedCopies();
  verifyAndFixDatabaseLocations();
  restoreLegacyDatabaseLocationsWithBackupType(backupType);
}

void HBRLocalStorage::verifyAndFixDatabaseLocations() {
  auto identifier = plat::NSBundle::mainBundle()->bundleIdentifier();
  if (!identifier) return;
  if (!plat::isValidBundleIdentifier(*identifier)) {
    plat::NSLog("HBRLocalStorage: the bundle identifier cannot name a preferences file; "
                "database locations not checked");
    return;
  }
  // The application's container is its sandbox home: the bundle need not sit inside it here,
  // and a file beside the bundle belongs to somebody else.
  std::string containerPath = plat::NSHomeDirectory();
  std::string plistPath =
      stringByAppendingPathComponent(containerPath, plat::format("Library/Preferences/%s.plist", identifier->c_str()));
  auto contents = plat::plist::readFromFile(plistPath);
  if (!contents || !contents->isDictionary()) return;
  plat::Dictionary& dict = contents->asDictionary();
  if (!verifyAndFixDatabaseLocationsWithAppPlistDict(dict, containerPath, plat::NSFileManager::defaultManager()))
    return;
  bool written = plat::plist::writeToFile(*contents, plistPath);
  plat::NSUserDefaults::standardUserDefaults()->synchronize();
  plat::NSLogf("Fix applied for database locations?: %s", written ? "YES" : "NO");
}

bool HBRLocalStorage::verifyAndFixDatabaseLocationsWithAppPlistDict(plat::Dictionary& appPlistDict,
                                                                    const std::string& containerPath,
                                                                    plat::NSFileManager& fm) {
  bool changed = false;
  for (const char* key : {"WebKitLocalStorageDatabasePathPreferenceKey", "WebDatabaseDirectory"}) {
    const plat::Value* value = appPlistDict.find(key);
    if (!value) continue;
    // Inside the container means below its folder, not merely sharing its first characters.
    if (value->isString() && plat::pathIsInsideFolder(value->asString(), containerPath)) continue;
    std::string caches = stringByAppendingPathComponent(containerPath, "Library/Caches");
    std::string fixed = fm.fileExistsAtPath(caches) ? caches : stringByAppendingPathComponent(containerPath, "Library/WebKit");
    appPlistDict.set(key, fixed);
    changed = true;
  }
  return changed;
}

void HBRLocalStorage::restoreLegacyDatabaseLocationsWithBackupType(const std::string& backupType) {
  std::string library = userFolder(plat::NSLibraryDirectory);
  std::string documents = userFolder(plat::NSDocumentDirectory);
  std::vector<HBRBackupInfoPtr> pairs;
  if (backupType == "cloud") {
    pairs = createBackupInfoWithTargetDir(library, stringByAppendingPathComponent(documents, "Backups"), true, false,
                                          true);
    auto caches = createBackupInfoWithTargetDir(library, stringByAppendingPathComponent(library, "Caches"), true,
                                                false, false);
    pairs.insert(pairs.end(), caches.begin(), caches.end());
  } else {
    pairs = createBackupInfoWithTargetDir(stringByAppendingPathComponent(library, "Caches"), library, false, true,
                                          false);
  }

  auto& fm = plat::NSFileManager::defaultManager();
  {
    std::lock_guard<std::mutex> lock(passMutex());
    std::lock_guard<std::recursive_mutex> files(plat::web::webStorageFilesMutex());
    for (const auto& info : pairs) {
      if (!itemExists(fm, info->backup)) continue;
      if (info->shouldRestore()) {
        plat::NSLogf("Restoring old webstorage backup. From: '%s' To: '%s'.", info->backup.c_str(),
                     info->original.c_str());
        plat::NSError error;
        if (!copyFrom(info->backup, info->original, &error)) {
          // The old copy is the newest data there is: it stays until a restore succeeds.
          plat::NSLogf("Keeping old webstorage backup: '%s' (restore failed: %s).", info->backup.c_str(),
                       error.localizedDescription.c_str());
          continue;
        }
      }
      plat::NSLogf("Removing old webstorage backup: '%s'.", info->backup.c_str());
      fm.removeItemAtPath(info->backup);
    }
  }
  plat::NSUserDefaults::standardUserDefaults()->setBool(backupType == "cloud", kHBRStoreWebDataForBackupKey);
}

// ---------------------------------------------------------------------------------------------
// The plugin

void HBRLocalStorage::pluginInitialize() {
  std::weak_ptr<HBRLocalStorage> weak = weakSelf<HBRLocalStorage>();
  plat::NSNotificationCenter::defaultCenter().addObserver(shared_from_this(), kWillResignActiveNotification, nullptr,
                                                          [weak](const plat::NSNotification&) {
                                                            if (auto self = weak.lock()) self->onResignActive();
                                                          });
  bool cloud = false;
  if (auto delegate = commandDelegate()) {
    const plat::Value& mode = harborSettingForKey(delegate->settings(), kHBRBackupWebStorageSetting);
    cloud = mode.isString() && mode.asString() == "cloud";
  }
  backupInfo_ = createBackupInfoWithCloudBackup(cloud);
}

void HBRLocalStorage::onAppTerminate() { onResignActive(); }

void HBRLocalStorage::onReset() { restore(nullptr); }

void HBRLocalStorage::onResignActive() {
  const plat::Value& exits = plat::NSBundle::mainBundle()->objectForInfoDictionaryKey("UIApplicationExitsOnSuspend");
  bool exitsOnSuspend = exits.isString() ? HBRBoolValueOfText(exits.asString()) : exits.asBool();
  if (exitsOnSuspend) {
    backup(nullptr);
    return;
  }
  if (!plat::UIDevice::currentDevice()->isMultitaskingSupported()) return;

  std::weak_ptr<plat::UIApplication> weakApp = plat::UIApplication::sharedApplication();
  // Whichever ends the task first (the backup or the expiry) marks it invalid for the other.
  auto task = std::make_shared<std::atomic<plat::UIBackgroundTaskIdentifier>>(plat::UIBackgroundTaskInvalid);
  auto endTask = [weakApp, task] {
    plat::UIBackgroundTaskIdentifier id = task->exchange(plat::UIBackgroundTaskInvalid);
    if (id == plat::UIBackgroundTaskInvalid) return;
    if (auto app = weakApp.lock()) app->endBackgroundTask(id);
  };
  // When time runs out (at termination the process ends right after), the copy in progress
  // stops and leaves its destination as it was, instead of being cut off wherever it stands;
  // the expiry waits for it to have stopped, so that it does not end with the process.
  struct Run {
    std::shared_ptr<plat::NSFileManager> fileManager;
    std::mutex mutex;
    std::condition_variable stopped;
    bool copying = false;
  };
  auto run = std::make_shared<Run>();
  run->fileManager = makeBackgroundFileManager();
  auto expire = [endTask, run] {
    run->fileManager->cancelCopies();
    {
      std::unique_lock<std::mutex> lock(run->mutex);
      run->stopped.wait_for(lock, std::chrono::seconds(2), [&] { return !run->copying; });
    }
    endTask();
    plat::NSLog("Background task to backup WebSQL/LocalStorage expired.");
  };
  task->store(plat::UIApplication::sharedApplication()->beginBackgroundTaskWithExpirationHandler(expire));
  std::weak_ptr<HBRLocalStorage> weak = weakSelf<HBRLocalStorage>();
  auto block = [weak, endTask, run] {
    auto self = weak.lock();
    bool copying = false;
    {
      std::lock_guard<std::mutex> lock(run->mutex);
      copying = run->copying = self && !run->fileManager->copiesCancelled();
    }
    if (copying) {
      self->copyPass(Direction::Backup, nullptr, *run->fileManager);
      std::lock_guard<std::mutex> lock(run->mutex);
      run->copying = false;
      run->stopped.notify_all();
    }
    endTask();
  };
  if (auto delegate = commandDelegate())
    delegate->runInBackground(block);
  else
    plat::dispatch::GlobalQueue::shared().async(block);
}

std::shared_ptr<plat::NSFileManager> HBRLocalStorage::makeBackgroundFileManager() {
  return std::make_shared<plat::NSFileManager>();
}

void HBRLocalStorage::backup(const HBRInvokedUrlCommandPtr& command) {
  copyPass(Direction::Backup, command, plat::NSFileManager::defaultManager());
}

void HBRLocalStorage::restore(const HBRInvokedUrlCommandPtr& command) {
  copyPass(Direction::Restore, command, plat::NSFileManager::defaultManager());
}

void HBRLocalStorage::copyPass(Direction direction, const HBRInvokedUrlCommandPtr& command,
                               plat::NSFileManager& fileManager) {
  bool backingUp = direction == Direction::Backup;
  std::optional<std::string> callbackId = command ? command->callbackId() : std::nullopt;
  std::vector<HBRPluginResultPtr> results;
  {
    std::lock_guard<std::mutex> lock(passMutex());
    // The page engine writes its databases under this lock: a copy never catches a transaction
    // half-written.
    std::lock_guard<std::recursive_mutex> files(plat::web::webStorageFilesMutex());
    for (const auto& info : backupInfo_) {
      if (!(backingUp ? info->shouldBackup() : info->shouldRestore())) continue;
      plat::NSError error;
      bool ok = backingUp ? copyFrom(info->original, info->backup, &error, fileManager)
                          : copyFrom(info->backup, info->original, &error, fileManager);
      std::string message;
      if (ok)
        message = plat::format(backingUp ? "Backed up: %s" : "Restored: %s", info->label.c_str());
      else
        message = plat::format(backingUp ? "Error in HBRLocalStorage (%s) backup: %s"
                                         : "Error in HBRLocalStorage (%s) restore: %s",
                               info->label.c_str(), error.localizedDescription.c_str());
      // A failure is always logged: a backup that silently did not happen is data the user
      // believes safe.
      if (!ok || !backingUp || callbackId) plat::NSLog(message);
      if (callbackId) {
        results.push_back(HBRPluginResult::resultWithStatusMessageAsString(
            ok ? HBRCommandStatus::OK : HBRCommandStatus::Error, std::move(message)));
      }
    }
  }
  // Sent after the pass, so that nothing the page does in answer can wait on the pass's lock.
  auto delegate = commandDelegate();
  if (!delegate) return;
  for (const auto& result : results) delegate->sendPluginResult(result, callbackId);
}

bool HBRLocalStorage::shouldBackup() const {
  for (const auto& info : backupInfo_)
    if (info->shouldBackup()) return true;
  return false;
}

bool HBRLocalStorage::shouldRestore() const {
  for (const auto& info : backupInfo_)
    if (info->shouldRestore()) return true;
  return false;
}

}  // namespace harbor
