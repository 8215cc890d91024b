// What pages get of the page engine, in each engine through the whole container: with
// "BackupWebStorage" "local" the page's localStorage survives the system purging Library/Caches
// between two launches, and the page reads its own files with XMLHttpRequest and fetch.
#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "HBRAppDelegate.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSFileManager.h"

namespace harbor::testing {
namespace {

class PageServicesEndToEndTest : public EngineTest, public ::testing::WithParamInterface<const char*> {
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

TEST_P(PageServicesEndToEndTest, APurgedDatabaseComesBackFromTheBackupAtTheNextLaunch) {
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

TEST_P(PageServicesEndToEndTest, ThePageReadsItsOwnFilesWithXMLHttpRequestAndFetch) {
  writeFile(inBundle("www/data/greeting.txt"), "hello from the bundle");
  writeFile(inBundle("www/index.html"),
            page("var seen = [];"
                 "var x = new XMLHttpRequest(); x.open('GET', 'data/greeting.txt');"
                 "x.onload = function () { seen.push('xhr ' + x.status + ' ' + x.responseText); }; x.send();"
                 "fetch('data/greeting.txt').then(function (r) { return r.text(); })"
                 "  .then(function (t) { seen.push('fetch ' + t); });"
                 "fetch('../outside.txt').then(function (r) { return r.text(); })"
                 "  .then(function (t) { seen.push('outside read ' + t); }, function (e) { seen.push('outside ' + e.name); });"));
  writeFile(inBundle("outside.txt"), "beyond the page's folder");
  plat::UIApplication::resetSharedApplication();
  appDelegate = std::make_shared<HBRAppDelegate>();
  appDelegate->init();
  ASSERT_TRUE(plat::UIApplication::sharedApplication()->launchWithDelegate(appDelegate));
  runUntilIdle();
  std::string out;
  appDelegate->viewController()->webViewEngine()->evaluateJavaScript(
      "seen.sort().join(' | ')", [&](const plat::Value& v, const std::optional<plat::NSError>& e) { out = v.stringOr(""); });
  runUntilIdle();
  std::string outside = std::string(GetParam()) == "HBRWKWebViewEngine"
                            ? "outside TypeError"  // read access is the page's folder only
                            : "outside read beyond the page's folder";
  EXPECT_EQ(out, "fetch hello from the bundle | " + outside + " | xhr 200 hello from the bundle");
}

INSTANTIATE_TEST_SUITE_P(BothEngines, PageServicesEndToEndTest,
                         ::testing::Values("HBRUIWebViewEngine", "HBRWKWebViewEngine"));

}  // namespace
}  // namespace harbor::testing
