// The web storage backup on data a page wrote, in each engine: with "BackupWebStorage" "local"
// the page's localStorage survives the system purging Library/Caches between two launches.
#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "HBRAppDelegate.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSFileManager.h"

namespace harbor::testing {
namespace {

class WebStorageBackupEndToEndTest : public EngineTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    writeFile(inBundle("www/index.html"),
              page("var seen = localStorage.getItem('saved');"
                   "localStorage.setItem('saved', 'written by launch ' + (Number(localStorage.launches || 0) + 1));"
                   "localStorage.launches = Number(localStorage.launches || 0) + 1;"));
    writeConfig(std::string("<preference name=\"BackupWebStorage\" value=\"local\"/>"
                            "<feature name=\"LocalStorage\"><param name=\"ios-package\" value=\"HBRLocalStorage\"/></feature>"
                            "<preference name=\"HarborWebViewEngine\" value=\"") +
                GetParam() + "\"/>");
  }
  void TearDown() override {
    appDelegate.reset();
    EngineTest::TearDown();
  }

  // Launches the application and answers what its page saw of the earlier launch.
  std::string launch() {
    plat::UIApplication::resetSharedApplication();
    appDelegate = std::make_shared<HBRAppDelegate>();
    appDelegate->init();
    if (!plat::UIApplication::sharedApplication()->launchWithDelegate(appDelegate)) return "<no launch>";
    runUntilIdle();
    std::string out = "<no answer>";
    appDelegate->viewController()->webViewEngine()->evaluateJavaScript(
        "String(seen) + ' / ' + localStorage.launches",
        [&](const plat::Value& v, const std::optional<plat::NSError>& e) { out = e ? "error" : v.stringOr(""); });
    runUntilIdle();
    return out;
  }

  // The application terminates: the storage plugin backs up in a background task.
  void terminate() {
    plat::UIApplication::sharedApplication()->terminate();
    ASSERT_TRUE(plat::dispatch::GlobalQueue::shared().waitIdle());
    runUntilIdle();
    appDelegate.reset();
    plat::UIApplication::resetSharedApplication();
    runUntilIdle();
  }

  std::shared_ptr<HBRAppDelegate> appDelegate;
};

TEST_P(WebStorageBackupEndToEndTest, APurgedDatabaseComesBackFromTheBackupAtTheNextLaunch) {
  std::string live = inHome("Library/Caches/file__0.localstorage");
  EXPECT_EQ(launch(), "null / 1");
  EXPECT_TRUE(exists(live)) << "the page's storage is where the backup looks";
  terminate();
  EXPECT_TRUE(exists(inHome("Documents/Backups/localstorage.appdata.db")));

  // The system purges its caches while the application is not running.
  ASSERT_TRUE(plat::NSFileManager::defaultManager().removeItemAtPath(live));
  EXPECT_EQ(launch(), "written by launch 1 / 2");
  EXPECT_TRUE(log_->contains("Restored: localStorage database"));
  terminate();

  // Without a purge the live database simply goes on.
  EXPECT_EQ(launch(), "written by launch 2 / 3");
  EXPECT_FALSE(log_->contains("Web storage")) << "nothing was unreadable";
}

INSTANTIATE_TEST_SUITE_P(BothEngines, WebStorageBackupEndToEndTest,
                         ::testing::Values("HBRUIWebViewEngine", "HBRWKWebViewEngine"));

}  // namespace
}  // namespace harbor::testing
