#include <gtest/gtest.h>
#include <sys/stat.h>

#include <mutex>

#include "HBRBuiltInPlugins.h"
#include "HBRLocalStorage.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/foundation/PropertyList.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"

using namespace harbor;

namespace {

// Collects what the plugin sends to the page; background work goes to the global queue.
class RecordingDelegate : public HBRCommandDelegate {
 public:
  struct Sent {
    HBRCommandStatus status;
    std::string message;
    std::string callbackId;
    bool keepCallback;
  };

  plat::Dictionary settingsDict;

  std::vector<Sent> sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }

  std::optional<std::string> pathForResource(const std::string&) override { return std::nullopt; }
  plat::ObjectPtr getCommandInstance(const std::string&) override { return nullptr; }
  void sendPluginResult(const HBRPluginResultPtr& result, const std::optional<std::string>& callbackId) override {
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.push_back({result->status(), result->message().stringOr(), callbackId.value_or("<none>"),
                     result->keepCallback()});
  }
  void evalJs(const std::string&) override {}
  void evalJsScheduledOnRunLoop(const std::string&, bool) override {}
  void runInBackground(std::function<void()> block) override {
    plat::dispatch::GlobalQueue::shared().async(std::move(block));
  }
  std::string userAgent() override { return {}; }
  const plat::Dictionary& settings() override { return settingsDict; }
  UrlTransformer urlTransformer() override { return nullptr; }
  void setUrlTransformer(UrlTransformer) override {}

 private:
  std::mutex mutex_;
  std::vector<Sent> sent_;
};

// Fails chosen operations, the way a full disk or a busy file would.
class FaultyFileManager : public plat::NSFileManager {
 public:
  std::string failRemoveOf;        // removes part of this folder, then fails
  std::string failCopyTo;          // copies to this destination fail after leaving a partial item
  int failuresLeft = 1;

  bool removeItemAtPath(const std::string& path, plat::NSError* error) override {
    if (path == failRemoveOf && failuresLeft > 0) {
      --failuresLeft;
      auto names = contentsOfDirectoryAtPath(path);
      if (names && !names->empty()) NSFileManager::removeItemAtPath(path + "/" + names->front(), nullptr);
      if (error) *error = plat::NSError{"NSCocoaErrorDomain", 513, "removal stopped half-way", plat::Value()};
      return false;
    }
    return NSFileManager::removeItemAtPath(path, error);
  }

  bool copyItemAtPath(const std::string& source, const std::string& destination, plat::NSError* error) override {
    if (destination == failCopyTo && failuresLeft > 0) {
      --failuresLeft;
      plat::writeFileContentsAtomically(destination, "partial");
      if (error) *error = plat::NSError{"NSCocoaErrorDomain", 640, "the disk is full", plat::Value()};
      return false;
    }
    return NSFileManager::copyItemAtPath(source, destination, error);
  }
};

class HBRLocalStorageTest : public plat::testing::SandboxTest {
 protected:
  void TearDown() override {
    plugin.reset();
    SandboxTest::TearDown();
  }

  std::shared_ptr<HBRLocalStorage> makePlugin(const char* mode = "local") {
    delegate = std::make_shared<RecordingDelegate>();
    delegate->settingsDict.set("backupwebstorage", mode);
    auto p = std::make_shared<HBRLocalStorage>();
    p->initWithWebViewEngine(nullptr);
    p->setCommandDelegate(delegate);
    p->pluginInitialize();
    return p;
  }

  static HBRInvokedUrlCommandPtr command(std::optional<std::string> callbackId, const char* action = "backup") {
    return std::make_shared<HBRInvokedUrlCommand>(plat::Array{}, std::move(callbackId), "LocalStorage", action);
  }

  std::string caches(const char* name) { return inHome(std::string("Library/Caches/") + name); }
  std::string backups(const char* name) { return inHome(std::string("Documents/Backups/") + name); }
  std::vector<std::string> leftoversInTmp() {
    return plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(inHome("tmp")).value_or(
        std::vector<std::string>{});
  }
  void makePipe(const std::string& path) {
    writeFile(path, "");
    plat::NSFileManager::defaultManager().removeItemAtPath(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  }

  std::shared_ptr<RecordingDelegate> delegate;
  std::shared_ptr<HBRLocalStorage> plugin;
};

}  // namespace

TEST_F(HBRLocalStorageTest, BuildsThePairsForEveryLayout) {
  struct Case {
    bool targetNests, backupNests, rename;
    const char* original0;
    const char* backup2;
  };
  const Case cases[] = {
      {false, false, false, "/T/file__0.localstorage", "/B/file__0"},
      {false, false, true, "/T/file__0.localstorage", "/B/websqldbs.appdata.db"},
      {true, false, true, "/T/WebKit/LocalStorage/file__0.localstorage", "/B/websqldbs.appdata.db"},
      {false, true, false, "/T/file__0.localstorage", "/B/WebKit/LocalStorage/file__0"},
  };
  for (const auto& c : cases) {
    auto pairs = HBRLocalStorage::createBackupInfoWithTargetDir("/T", "/B/", c.targetNests, c.backupNests, c.rename);
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0]->label, "localStorage database");
    EXPECT_EQ(pairs[1]->label, "websql main database");
    EXPECT_EQ(pairs[2]->label, "websql databases");
    EXPECT_EQ(pairs[0]->original, c.original0);
    EXPECT_EQ(pairs[2]->backup, c.backup2);
  }
  plugin = makePlugin();
  const auto& own = plugin->backupInfo();
  ASSERT_EQ(own.size(), 3u);
  EXPECT_EQ(own[0]->original, caches("file__0.localstorage"));
  EXPECT_EQ(own[0]->backup, backups("localstorage.appdata.db"));
  EXPECT_EQ(own[1]->original, caches("Databases.db"));
  EXPECT_EQ(own[1]->backup, backups("websqlmain.appdata.db"));
  EXPECT_EQ(own[2]->original, caches("file__0"));
  EXPECT_EQ(own[2]->backup, backups("websqldbs.appdata.db"));
}

TEST_F(HBRLocalStorageTest, NothingToCopyMeansNoResultNoLogAndNoFiles) {
  plugin = makePlugin();
  log_->clear();
  plugin->backup(command("LocalStorage1"));
  plugin->restore(command("LocalStorage2", "restore"));
  EXPECT_TRUE(delegate->sent().empty());
  EXPECT_TRUE(log_->lines().empty());
  EXPECT_TRUE(plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(inHome("Documents/Backups"))->empty());

  writeFile(caches("Databases.db"), "live");
  writeFile(backups("websqlmain.appdata.db"), "newer copy");
  setModificationDate(caches("Databases.db"), 700000000);
  setModificationDate(backups("websqlmain.appdata.db"), 700000100);
  plugin->backup(command("LocalStorage3"));
  EXPECT_TRUE(delegate->sent().empty());
  EXPECT_EQ(readFile(backups("websqlmain.appdata.db")), "newer copy");
}

TEST_F(HBRLocalStorageTest, BackupCopiesKeepDatesSoASecondBackupCopiesNothing) {
  plugin = makePlugin();
  writeFile(caches("file__0.localstorage"), "ls");
  writeFile(caches("file__0/http_localhost_0/0000000000000001.db"), "sql");
  setModificationDate(caches("file__0.localstorage"), 700000000.5);
  plugin->backup(command("LocalStorage1"));
  auto sent = delegate->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].message, "Backed up: localStorage database");
  EXPECT_EQ(sent[0].status, HBRCommandStatus::OK);
  EXPECT_EQ(sent[0].callbackId, "LocalStorage1");
  EXPECT_FALSE(sent[0].keepCallback);
  EXPECT_EQ(sent[1].message, "Backed up: websql databases");
  EXPECT_EQ(readFile(backups("websqldbs.appdata.db/http_localhost_0/0000000000000001.db")), "sql");
  EXPECT_EQ(modificationDate(backups("localstorage.appdata.db")), 700000000.5);
  EXPECT_TRUE(log_->contains("Backed up: websql databases"));

  EXPECT_FALSE(plugin->shouldBackup());
  EXPECT_FALSE(plugin->shouldRestore());
  plugin->backup(command("LocalStorage2"));
  EXPECT_EQ(delegate->sent().size(), 2u) << "nothing new to copy";
  EXPECT_TRUE(leftoversInTmp().empty());
}

TEST_F(HBRLocalStorageTest, OneNewerFileInTheFolderCopiesTheWholeFolder) {
  plugin = makePlugin();
  writeFile(caches("file__0/a.db"), "a1");
  writeFile(caches("file__0/b.db"), "b1");
  plugin->backup(nullptr);
  writeFile(backups("websqldbs.appdata.db/stale-only-in-copy.db"), "x");
  writeFile(caches("file__0/b.db"), "b2");
  setModificationDate(caches("file__0/b.db"), modificationDate(backups("websqldbs.appdata.db/b.db")) + 10);
  EXPECT_TRUE(plugin->backupInfo()[2]->shouldBackup());
  plugin->backup(command("LocalStorage1"));
  ASSERT_EQ(delegate->sent().size(), 1u);
  EXPECT_EQ(delegate->sent()[0].message, "Backed up: websql databases");
  EXPECT_EQ(readFile(backups("websqldbs.appdata.db/b.db")), "b2");
  EXPECT_EQ(readFile(backups("websqldbs.appdata.db/a.db")), "a1");
  EXPECT_FALSE(exists(backups("websqldbs.appdata.db/stale-only-in-copy.db"))) << "the copy is the folder as it is";
}

TEST_F(HBRLocalStorageTest, AFailedCopyKeepsTheOldDestinationAndTheNextPairStillRuns) {
  plugin = makePlugin();
  // The first pair cannot be copied: its live item is a pipe.
  makePipe(caches("file__0.localstorage"));
  writeFile(backups("localstorage.appdata.db"), "old copy");
  setModificationDate(backups("localstorage.appdata.db"), 600000000);
  // The third pair fails half-way through its folder.
  writeFile(caches("file__0/a.db"), "new a");
  makePipe(caches("file__0/b.pipe"));
  writeFile(backups("websqldbs.appdata.db/a.db"), "old a");
  setModificationDate(backups("websqldbs.appdata.db/a.db"), 600000000);
  writeFile(caches("Databases.db"), "main");

  plugin->backup(command("LocalStorage1"));
  auto sent = delegate->sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].status, HBRCommandStatus::Error);
  EXPECT_TRUE(sent[0].message.starts_with("Error in HBRLocalStorage (localStorage database) backup: ")) << sent[0].message;
  EXPECT_EQ(sent[1].status, HBRCommandStatus::OK);
  EXPECT_EQ(sent[1].message, "Backed up: websql main database");
  EXPECT_EQ(sent[2].status, HBRCommandStatus::Error);
  EXPECT_TRUE(sent[2].message.starts_with("Error in HBRLocalStorage (websql databases) backup: "));

  EXPECT_EQ(readFile(backups("localstorage.appdata.db")), "old copy");
  EXPECT_EQ(modificationDate(backups("localstorage.appdata.db")), 600000000);
  EXPECT_EQ(readFile(backups("websqldbs.appdata.db/a.db")), "old a");
  EXPECT_EQ(readFile(backups("websqlmain.appdata.db")), "main");
  EXPECT_TRUE(leftoversInTmp().empty()) << "the copies set aside are gone once the old items are back";
}

TEST_F(HBRLocalStorageTest, ResultsGoOnlyToACallbackAndRestoreAlwaysLogs) {
  plugin = makePlugin();
  writeFile(caches("Databases.db"), "main");
  log_->clear();
  plugin->backup(command(std::nullopt));
  EXPECT_TRUE(delegate->sent().empty());
  EXPECT_TRUE(log_->lines().empty()) << "a backup without callback is silent";
  EXPECT_EQ(readFile(backups("websqlmain.appdata.db")), "main");

  writeFile(backups("websqlmain.appdata.db"), "restored");
  setModificationDate(backups("websqlmain.appdata.db"), modificationDate(caches("Databases.db")) + 5);
  plugin->onReset();
  EXPECT_TRUE(log_->contains("Restored: websql main database"));
  EXPECT_TRUE(delegate->sent().empty());
  EXPECT_EQ(readFile(caches("Databases.db")), "restored");
}

TEST_F(HBRLocalStorageTest, PageActionsAreRegistered) {
  plugin = makePlugin();
  writeFile(backups("websqlmain.appdata.db"), "copy");
  EXPECT_TRUE(plugin->respondsToAction("backup"));
  EXPECT_TRUE(plugin->performAction("restore", command("LocalStorage9", "restore")));
  ASSERT_EQ(delegate->sent().size(), 1u);
  EXPECT_EQ(delegate->sent()[0].message, "Restored: websql main database");

  plat::ClassRegistry registry;
  HBRRegisterBuiltInPlugins(registry);
  EXPECT_NE(std::dynamic_pointer_cast<HBRLocalStorage>(registry.create("HBRLocalStorage")), nullptr);
}

TEST_F(HBRLocalStorageTest, ResigningBacksUpAtOnceWhenTheAppExitsOnSuspend) {
  writeInfoPlist(plat::Dictionary{{"CFBundleIdentifier", kBundleIdentifier}, {"UIApplicationExitsOnSuspend", true}});
  plugin = makePlugin();
  writeFile(caches("Databases.db"), "main");
  plat::dispatch::GlobalQueue::shared().hold();
  plat::NSNotificationCenter::defaultCenter().post("UIApplicationWillResignActiveNotification");
  EXPECT_EQ(readFile(backups("websqlmain.appdata.db")), "main");
  EXPECT_EQ(plat::dispatch::GlobalQueue::shared().heldCount(), 0u);
  EXPECT_EQ(plat::UIApplication::sharedApplication()->backgroundTaskCount(), 0u);
}

TEST_F(HBRLocalStorageTest, ResigningBacksUpInABackgroundTask) {
  plugin = makePlugin();
  writeFile(caches("Databases.db"), "main");
  auto app = plat::UIApplication::sharedApplication();
  auto& queue = plat::dispatch::GlobalQueue::shared();
  queue.hold();
  plat::NSNotificationCenter::defaultCenter().post("UIApplicationWillResignActiveNotification");
  EXPECT_EQ(app->backgroundTaskCount(), 1u);
  EXPECT_FALSE(exists(backups("websqlmain.appdata.db"))) << "not on the calling thread";
  EXPECT_EQ(queue.drain(), 1u);
  EXPECT_EQ(readFile(backups("websqlmain.appdata.db")), "main");
  EXPECT_EQ(app->backgroundTaskCount(), 0u);

  // Terminating does the same.
  writeFile(caches("file__0.localstorage"), "ls");
  plat::NSNotificationCenter::defaultCenter().post("UIApplicationWillTerminateNotification");
  EXPECT_EQ(queue.drain(), 1u);
  EXPECT_EQ(readFile(backups("localstorage.appdata.db")), "ls");

  plat::UIDevice::currentDevice()->setMultitaskingSupported(false);
  plat::NSNotificationCenter::defaultCenter().post("UIApplicationWillResignActiveNotification");
  EXPECT_EQ(queue.heldCount(), 0u);
  EXPECT_EQ(app->backgroundTaskCount(), 0u);
}

TEST_F(HBRLocalStorageTest, AnExpiredTaskIsEndedOnceAndTheBackupStillFinishes) {
  plugin = makePlugin();
  writeFile(caches("Databases.db"), "main");
  auto app = plat::UIApplication::sharedApplication();
  auto& queue = plat::dispatch::GlobalQueue::shared();
  queue.hold();
  plugin->onResignActive();
  EXPECT_EQ(app->expireBackgroundTasks(), 1u);
  EXPECT_TRUE(log_->contains("Background task to backup WebSQL/LocalStorage expired."));
  EXPECT_EQ(app->backgroundTaskCount(), 0u);
  // A task begun meanwhile must not be ended by the late block.
  auto other = app->beginBackgroundTaskWithExpirationHandler(nullptr);
  EXPECT_EQ(queue.drain(), 1u);
  EXPECT_EQ(readFile(backups("websqlmain.appdata.db")), "main");
  EXPECT_EQ(app->backgroundTaskCount(), 1u);
  app->endBackgroundTask(other);

  // A plugin gone before its background block runs copies nothing, and still ends its task.
  writeFile(caches("file__0.localstorage"), "ls");
  plugin->onResignActive();
  plugin.reset();
  EXPECT_EQ(queue.drain(), 1u);
  EXPECT_FALSE(exists(backups("localstorage.appdata.db")));
  EXPECT_EQ(app->backgroundTaskCount(), 0u);
}

TEST_F(HBRLocalStorageTest, SafeCopyReportsAMissingSource) {
  plat::NSError error;
  EXPECT_FALSE(HBRLocalStorage::copyFrom(inHome("none"), inHome("dst"), &error));
  EXPECT_EQ(error.domain, "kHBRLocalStorageErrorDomain");
  EXPECT_EQ(error.code, 1);
  EXPECT_EQ(error.localizedDescription, inHome("none") + " file does not exist.");
  EXPECT_FALSE(exists(inHome("dst")));
}

TEST_F(HBRLocalStorageTest, SafeCopyPutsBackADestinationWhoseRemovalStoppedHalfWay) {
  writeFile(inHome("src/x.db"), "new");
  writeFile(inHome("dst/a.db"), "old a");
  writeFile(inHome("dst/b.db"), "old b");
  auto fm = std::make_shared<FaultyFileManager>();
  fm->failRemoveOf = inHome("dst");
  plat::NSError error;
  EXPECT_FALSE(HBRLocalStorage::copyFrom(inHome("src"), inHome("dst"), &error, *fm));
  EXPECT_EQ(error.localizedDescription, "removal stopped half-way");
  EXPECT_EQ(readFile(inHome("dst/a.db")), "old a");
  EXPECT_EQ(readFile(inHome("dst/b.db")), "old b");
  EXPECT_TRUE(leftoversInTmp().empty());
}

TEST_F(HBRLocalStorageTest, SafeCopyClearsAPartialDestinationBeforePuttingTheOldOneBack) {
  writeFile(inHome("src"), "new");
  writeFile(inHome("dst"), "old");
  auto fm = std::make_shared<FaultyFileManager>();
  fm->failCopyTo = inHome("dst");
  plat::NSError error;
  EXPECT_FALSE(HBRLocalStorage::copyFrom(inHome("src"), inHome("dst"), &error, *fm));
  EXPECT_EQ(error.localizedDescription, "the disk is full") << "the copy's own error is reported";
  EXPECT_EQ(readFile(inHome("dst")), "old");
  EXPECT_TRUE(leftoversInTmp().empty());

  // When the old item cannot be put back, its copy stays and the log says where.
  fm->failCopyTo = inHome("dst");
  fm->failuresLeft = 2;
  EXPECT_FALSE(HBRLocalStorage::copyFrom(inHome("src"), inHome("dst"), &error, *fm));
  auto left = leftoversInTmp();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left[0].ends_with(".bak"));
  EXPECT_EQ(readFile(inHome("tmp/" + left[0])), "old");
  EXPECT_TRUE(log_->contains(inHome("tmp/" + left[0])));

  // Where nothing stood before, a failed copy leaves nothing either.
  fm->failCopyTo = inHome("fresh/dst");
  fm->failuresLeft = 1;
  EXPECT_FALSE(HBRLocalStorage::copyFrom(inHome("src"), inHome("fresh/dst"), &error, *fm));
  EXPECT_FALSE(exists(inHome("fresh/dst")));
}

TEST_F(HBRLocalStorageTest, StartUpRepairInCloudModeMovesNewerCopiesHome) {
  std::string live = inHome("Library/WebKit/LocalStorage/file__0.localstorage");
  writeFile(live, "older live");
  writeFile(backups("localstorage.appdata.db"), "newer copy");
  setModificationDate(live, 700000000);
  setModificationDate(backups("localstorage.appdata.db"), 700000500);
  writeFile(caches("Databases.db"), "stale cache copy");
  writeFile(inHome("Library/WebKit/LocalStorage/Databases.db"), "live main");
  setModificationDate(caches("Databases.db"), 600000000);

  HBRLocalStorage::fixupDatabaseLocationsWithBackupType("cloud");
  EXPECT_EQ(readFile(live), "newer copy");
  EXPECT_FALSE(exists(backups("localstorage.appdata.db")));
  EXPECT_TRUE(log_->contains("Restoring old webstorage backup. From: '" + backups("localstorage.appdata.db") +
                             "' To: '" + live + "'."));
  EXPECT_EQ(readFile(inHome("Library/WebKit/LocalStorage/Databases.db")), "live main") << "older copy not restored";
  EXPECT_FALSE(exists(caches("Databases.db"))) << "but removed";
  EXPECT_TRUE(log_->contains("Removing old webstorage backup: '" + caches("Databases.db") + "'."));
  EXPECT_TRUE(plat::NSUserDefaults::standardUserDefaults()->boolForKey("WebKitStoreWebDataForBackup"));
}

TEST_F(HBRLocalStorageTest, StartUpRepairInOtherModesMovesCopiesIntoCaches) {
  writeFile(inHome("Library/WebKit/LocalStorage/file__0/a.db"), "from webkit");
  HBRLocalStorage::fixupDatabaseLocationsWithBackupType("local");
  EXPECT_EQ(readFile(caches("file__0/a.db")), "from webkit");
  EXPECT_FALSE(exists(inHome("Library/WebKit/LocalStorage/file__0")));
  auto defaults = plat::NSUserDefaults::standardUserDefaults();
  EXPECT_EQ(defaults->objectForKey("WebKitStoreWebDataForBackup"), plat::Value(false));
}

TEST_F(HBRLocalStorageTest, StartUpRepairKeepsACopyItCouldNotRestore) {
  std::string legacy = inHome("Library/WebKit/LocalStorage/file__0");
  writeFile(legacy + "/a.db", "only copy");
  makePipe(legacy + "/b.pipe");
  HBRLocalStorage::fixupDatabaseLocationsWithBackupType("none");
  EXPECT_EQ(readFile(legacy + "/a.db"), "only copy");
  EXPECT_FALSE(exists(caches("file__0")));
  EXPECT_FALSE(log_->contains("Removing old webstorage backup: '" + legacy + "'."));
  EXPECT_TRUE(log_->contains("Keeping old webstorage backup: '" + legacy + "'"));
}

TEST_F(HBRLocalStorageTest, DatabaseLocationsOutsideTheContainerArePointedBack) {
  std::string prefs = inHome("Library/Preferences/org.harbor.tests.plist");
  ASSERT_TRUE(plat::plist::writeToFile(
      plat::Dictionary{{"WebKitLocalStorageDatabasePathPreferenceKey", "/var/mobile/Applications/OLD/Library/Caches"},
                       {"WebDatabaseDirectory", home() + "/Library/Caches"},
                       {"Other", 1}},
      prefs));
  auto defaults = plat::NSUserDefaults::standardUserDefaults();
  HBRLocalStorage::verifyAndFixDatabaseLocations();
  auto fixed = plat::plist::readFromFile(prefs);
  ASSERT_TRUE(fixed);
  EXPECT_EQ((*fixed)["WebKitLocalStorageDatabasePathPreferenceKey"], plat::Value(home() + "/Library/Caches"));
  EXPECT_EQ((*fixed)["Other"], plat::Value(1));
  EXPECT_TRUE(log_->contains("Fix applied for database locations?: YES"));
  EXPECT_EQ(defaults->objectForKey("WebKitLocalStorageDatabasePathPreferenceKey"),
            plat::Value(home() + "/Library/Caches"))
      << "the defaults read the repaired file";

  // Already inside: the file is not written again.
  setModificationDate(prefs, 600000000);
  log_->clear();
  HBRLocalStorage::verifyAndFixDatabaseLocations();
  EXPECT_EQ(modificationDate(prefs), 600000000);
  EXPECT_FALSE(log_->contains("Fix applied"));
}

TEST_F(HBRLocalStorageTest, WithoutCachesTheWebKitFolderIsChosen) {
  plat::Dictionary dict{{"WebDatabaseDirectory", "/elsewhere"}, {"WebKitLocalStorageDatabasePathPreferenceKey", 7}};
  EXPECT_TRUE(HBRLocalStorage::verifyAndFixDatabaseLocationsWithAppPlistDict(dict, inHome("Documents"),
                                                                            plat::NSFileManager::defaultManager()));
  EXPECT_EQ(dict.get("WebDatabaseDirectory"), plat::Value(inHome("Documents/Library/WebKit")));
  EXPECT_EQ(dict.get("WebKitLocalStorageDatabasePathPreferenceKey"), plat::Value(inHome("Documents/Library/WebKit")));
  plat::Dictionary prefixOnly{{"WebDatabaseDirectory", home() + "-other/Library/Caches"}};
  EXPECT_TRUE(HBRLocalStorage::verifyAndFixDatabaseLocationsWithAppPlistDict(prefixOnly, home(),
                                                                            plat::NSFileManager::defaultManager()));
  plat::Dictionary none;
  EXPECT_FALSE(HBRLocalStorage::verifyAndFixDatabaseLocationsWithAppPlistDict(none, home(),
                                                                             plat::NSFileManager::defaultManager()));
  EXPECT_TRUE(none.empty());
}

TEST_F(HBRLocalStorageTest, TheBackupFolderIsExcludedUnlessBackingUpToTheCloud) {
  auto folder = plat::NSURL::fileURLWithPath(inHome("Documents/Backups"), true);
  plugin = makePlugin("local");
  auto excluded = folder->resourceValue(plat::NSURLIsExcludedFromBackupKey);
  if (!excluded) GTEST_SKIP() << "no extended attributes here";
  EXPECT_EQ(*excluded, plat::Value(true));
  plugin = makePlugin("cloud");
  EXPECT_EQ(folder->resourceValue(plat::NSURLIsExcludedFromBackupKey).value_or(plat::Value()), plat::Value(false));
  EXPECT_FALSE(HBRLocalStorage::addSkipBackupAttributeToItemAtURL(
      plat::NSURL::fileURLWithPath(inHome("missing"), false), true));
  EXPECT_TRUE(log_->contains("Error excluding missing from backup Error Domain=NSCocoaErrorDomain"));
}
