#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "HBRBuiltInPlugins.h"
#include "HBRLocalStorage.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSBundle.h"
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

// Stops copies part-way (after failAfter bytes), the way a full disk would.
class StoppingFileManager : public plat::NSFileManager {
 public:
  std::uint64_t failAfter = 0;

  bool shouldProceedCopying(const std::string& item, std::uint64_t bytesCopied, plat::NSError* error) override {
    if (bytesCopied < failAfter) return NSFileManager::shouldProceedCopying(item, bytesCopied, error);
    if (error) *error = plat::NSError{"NSCocoaErrorDomain", 640, "the disk is full", plat::Value()};
    return false;
  }
};

// Holds the first copy in the middle of its file until its copies are cancelled, and says when
// it got there: so a test can let the background time run out exactly then.
class PausingFileManager : public plat::NSFileManager {
 public:
  std::promise<void> midCopy;

  bool shouldProceedCopying(const std::string& item, std::uint64_t bytesCopied, plat::NSError* error) override {
    if (bytesCopied > 0 && !paused_) {
      paused_ = true;
      midCopy.set_value();
      for (int i = 0; i < 10000 && !copiesCancelled(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return NSFileManager::shouldProceedCopying(item, bytesCopied, error);
  }

 private:
  bool paused_ = false;
};

class PausedBackupStorage : public HBRLocalStorage {
 public:
  std::shared_ptr<PausingFileManager> fileManager = std::make_shared<PausingFileManager>();

 protected:
  std::shared_ptr<plat::NSFileManager> makeBackgroundFileManager() override { return fileManager; }
};

class HBRLocalStorageTest : public plat::testing::SandboxTest {
 protected:
  void TearDown() override {
    plugin.reset();
    SandboxTest::TearDown();
  }

  template <class Plugin = HBRLocalStorage>
  std::shared_ptr<Plugin> makePlugin(const char* mode = "local") {
    delegate = std::make_shared<RecordingDelegate>();
    delegate->settingsDict.set("backupwebstorage", mode);
    auto p = std::make_shared<Plugin>();
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
  // Hidden names in a folder: what an unfinished copy would leave.
  std::vector<std::string> hiddenIn(const std::string& folder) {
    std::vector<std::string> out;
    for (const std::string& name :
         plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(folder).value_or(std::vector<std::string>{}))
      if (name[0] == '.') out.push_back(name);
    return out;
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
    ASSERT_EQ(pairs.size(), 6u);
    EXPECT_EQ(pairs[0]->label, "localStorage database");
    EXPECT_EQ(pairs[1]->label, "websql main database");
    EXPECT_EQ(pairs[2]->label, "websql databases");
    EXPECT_EQ(pairs[3]->label, "WebKit localStorage");
    EXPECT_EQ(pairs[4]->label, "WebKit databases");
    EXPECT_EQ(pairs[5]->label, "WebKit cookies");
    EXPECT_EQ(pairs[0]->original, c.original0);
    EXPECT_EQ(pairs[2]->backup, c.backup2);
  }
  plugin = makePlugin();
  const auto& own = plugin->backupInfo();
  ASSERT_EQ(own.size(), 6u);
  EXPECT_EQ(own[0]->original, caches("file__0.localstorage"));
  EXPECT_EQ(own[0]->backup, backups("localstorage.appdata.db"));
  EXPECT_EQ(own[1]->original, caches("Databases.db"));
  EXPECT_EQ(own[1]->backup, backups("websqlmain.appdata.db"));
  EXPECT_EQ(own[2]->original, caches("file__0"));
  EXPECT_EQ(own[2]->backup, backups("websqldbs.appdata.db"));
  // The WebKit engine's files, in the same folders.
  EXPECT_EQ(own[3]->original, caches("localstorage"));
  EXPECT_EQ(own[3]->backup, backups("webkitlocalstorage.appdata.db"));
  EXPECT_EQ(own[4]->original, caches("databases"));
  EXPECT_EQ(own[4]->backup, backups("webkitdatabases.appdata.db"));
  EXPECT_EQ(own[5]->original, caches("cookies"));
  EXPECT_EQ(own[5]->backup, backups("webkitcookies.appdata.db"));
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

TEST_F(HBRLocalStorageTest, AnExpiredTaskIsEndedOnceAndItsCopyLeavesTheOldBackup) {
  plugin = makePlugin();
  writeFile(backups("websqlmain.appdata.db"), "old copy");
  setModificationDate(backups("websqlmain.appdata.db"), 600000000);
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
  // Out of time: the process may end any moment, so no copy is begun (one under way stops).
  EXPECT_EQ(readFile(backups("websqlmain.appdata.db")), "old copy");
  EXPECT_TRUE(hiddenIn(inHome("Documents/Backups")).empty());
  EXPECT_EQ(app->backgroundTaskCount(), 1u);
  app->endBackgroundTask(other);

  // A task that does not expire copies.
  plugin->onResignActive();
  EXPECT_EQ(queue.drain(), 1u);
  EXPECT_EQ(readFile(backups("websqlmain.appdata.db")), "main");

  // A plugin gone before its background block runs copies nothing, and still ends its task.
  writeFile(caches("file__0.localstorage"), "ls");
  plugin->onResignActive();
  plugin.reset();
  EXPECT_EQ(queue.drain(), 1u);
  EXPECT_FALSE(exists(backups("localstorage.appdata.db")));
  EXPECT_EQ(app->backgroundTaskCount(), 0u);
}

TEST_F(HBRLocalStorageTest, TimeRunningOutStopsTheCopyUnderWayAndKeepsTheOldBackup) {
  auto paused = makePlugin<PausedBackupStorage>();
  plugin = paused;
  writeFile(backups("localstorage.appdata.db"), "old copy");
  setModificationDate(backups("localstorage.appdata.db"), 600000000);
  writeFile(caches("file__0.localstorage"), std::string(512 * 1024, 'n'));
  auto app = plat::UIApplication::sharedApplication();
  auto& queue = plat::dispatch::GlobalQueue::shared();
  queue.hold();
  plugin->onResignActive();
  std::thread worker([&] { queue.drain(); });
  paused->fileManager->midCopy.get_future().wait();
  // The expiry returns only once the copy has stopped and tidied up.
  EXPECT_EQ(app->expireBackgroundTasks(), 1u);
  EXPECT_EQ(readFile(backups("localstorage.appdata.db")), "old copy");
  EXPECT_EQ(modificationDate(backups("localstorage.appdata.db")), 600000000);
  EXPECT_TRUE(hiddenIn(inHome("Documents/Backups")).empty());
  EXPECT_TRUE(log_->contains("Error in HBRLocalStorage (localStorage database) backup: "));
  EXPECT_TRUE(log_->contains("was cancelled."));
  worker.join();
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

TEST_F(HBRLocalStorageTest, ASafeCopyStoppedPartWayLeavesTheDestinationAsItWas) {
  std::string big(200 * 1024, 'x');
  struct Case {
    const char* name;
    bool folder;          // the items are folders (the WebSQL databases) or files
    bool destinationExists;
  };
  const Case cases[] = {{"file over file", false, true}, {"folder over folder", true, true},
                        {"file where nothing was", false, false}, {"folder where nothing was", true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = inHome(std::string("Documents/") + (c.folder ? "f" : "p") + (c.destinationExists ? "1" : "0"));
    std::string source = folder + "/live", destination = folder + "/backups/copy";
    std::string sourceFile = c.folder ? source + "/db/1.db" : source;
    std::string destinationFile = c.folder ? destination + "/db/1.db" : destination;
    writeFile(sourceFile, "new" + big);
    if (c.destinationExists) writeFile(destinationFile, "old");
    for (std::uint64_t failAfter : {std::uint64_t{0}, std::uint64_t{64 * 1024}}) {
      StoppingFileManager stopping;
      stopping.failAfter = failAfter;
      plat::NSError error;
      EXPECT_FALSE(HBRLocalStorage::copyFrom(source, destination, &error, stopping));
      EXPECT_EQ(error.localizedDescription, "the disk is full") << "the copy's own error is reported";
      EXPECT_EQ(readFile(destinationFile), c.destinationExists ? "old" : "<missing>");
      EXPECT_TRUE(hiddenIn(folder + "/backups").empty());
    }
    plat::NSError error;
    ASSERT_TRUE(HBRLocalStorage::copyFrom(source, destination, &error)) << error.description();
    EXPECT_EQ(readFile(destinationFile), "new" + big);
    EXPECT_EQ(modificationDate(destinationFile), modificationDate(sourceFile));
    EXPECT_TRUE(hiddenIn(folder + "/backups").empty());
  }
  EXPECT_TRUE(leftoversInTmp().empty()) << "nothing is set aside where termination would empty it";
}

TEST_F(HBRLocalStorageTest, AFailedBackupIsLoggedEvenWithoutACallback) {
  plugin = makePlugin();
  makePipe(caches("file__0.localstorage"));
  log_->clear();
  plugin->backup(nullptr);
  EXPECT_TRUE(log_->contains("Error in HBRLocalStorage (localStorage database) backup: "));
  EXPECT_TRUE(delegate->sent().empty());
}

TEST_F(HBRLocalStorageTest, StartUpRepairTidiesWhatAStopLeftBehind) {
  // Killed while backing up the localStorage file: the old copy is whole, the new one cut off.
  writeFile(backups("localstorage.appdata.db"), "whole old copy");
  std::string cutOff = plat::partialCopyPathFor(backups("localstorage.appdata.db"));
  writeFile(cutOff, "cut o");
  // Killed while restoring the WebSQL folder, between setting the old one aside and renaming
  // the new one in.
  std::string aside = plat::setAsidePathFor(caches("file__0"));
  writeFile(aside + "/1.db", "live databases");
  writeFile(plat::partialCopyPathFor(caches("file__0")) + "/1.db", "restored databases");

  HBRLocalStorage::fixupDatabaseLocationsWithBackupType("local");
  EXPECT_EQ(readFile(backups("localstorage.appdata.db")), "whole old copy");
  EXPECT_EQ(readFile(caches("file__0/1.db")), "live databases");
  EXPECT_TRUE(hiddenIn(inHome("Documents/Backups")).empty());
  EXPECT_TRUE(hiddenIn(inHome("Library/Caches")).empty());
  EXPECT_TRUE(log_->contains("Removed an unfinished webstorage copy: '" + cutOff + "'."));
  EXPECT_TRUE(log_->contains("Put back webstorage set aside by an unfinished copy: '" + aside + "'."));

  // The page-load restore that was cut off now runs again, whole.
  plugin = makePlugin();
  writeFile(backups("websqldbs.appdata.db/1.db"), "restored databases");
  setModificationDate(backups("websqldbs.appdata.db/1.db"), modificationDate(caches("file__0/1.db")) + 10);
  plugin->onReset();
  EXPECT_EQ(readFile(caches("file__0/1.db")), "restored databases");
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

TEST_F(HBRLocalStorageTest, TheRepairReadsTheSandboxHomesPreferencesWhereverTheBundleIs) {
  // The bundle sits outside the sandbox home, with somebody's preferences file beside it.
  std::string elsewhere = home() + "-elsewhere";
  std::string app = elsewhere + "/Apps/Harbor.app";
  writeFile(app + "/Info.plist", "");
  ASSERT_TRUE(
      plat::plist::writeToFile(plat::Dictionary{{"CFBundleIdentifier", kBundleIdentifier}}, app + "/Info.plist"));
  plat::NSBundle::setMainBundlePath(app);
  std::string beside = elsewhere + "/Apps/Library/Preferences/org.harbor.tests.plist";
  writeFile(beside, "");
  ASSERT_TRUE(plat::plist::writeToFile(plat::Dictionary{{"WebDatabaseDirectory", "/somewhere/else"}}, beside));
  setModificationDate(beside, 600000000);
  std::string prefs = inHome("Library/Preferences/org.harbor.tests.plist");
  ASSERT_TRUE(
      plat::plist::writeToFile(plat::Dictionary{{"WebDatabaseDirectory", "/old/container/Library/Caches"}}, prefs));

  HBRLocalStorage::verifyAndFixDatabaseLocations();
  EXPECT_EQ((*plat::plist::readFromFile(prefs))["WebDatabaseDirectory"], plat::Value(home() + "/Library/Caches"));
  EXPECT_EQ(modificationDate(beside), 600000000) << "a file outside the sandbox is neither read nor written";
  EXPECT_EQ((*plat::plist::readFromFile(beside))["WebDatabaseDirectory"], plat::Value("/somewhere/else"));

  // An identifier that would climb out of Library/Preferences names no file at all.
  std::string victim = home() + "-victim";
  ASSERT_TRUE(plat::plist::writeToFile(plat::Dictionary{{"WebDatabaseDirectory", "/x"}}, victim + ".plist"));
  writeInfoPlist(plat::Dictionary{{"CFBundleIdentifier", "../../../" + plat::lastPathComponent(victim)}});
  ASSERT_EQ(plat::stringByStandardizingPath(inHome("Library/Preferences/../../../" + plat::lastPathComponent(victim))),
            victim);
  HBRLocalStorage::verifyAndFixDatabaseLocations();
  EXPECT_EQ((*plat::plist::readFromFile(victim + ".plist"))["WebDatabaseDirectory"], plat::Value("/x"));
  plat::NSFileManager::defaultManager().removeItemAtPath(victim + ".plist");
  plat::NSFileManager::defaultManager().removeItemAtPath(elsewhere);
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
