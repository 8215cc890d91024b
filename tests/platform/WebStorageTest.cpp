// Web storage of the headless page engine: what pages see of localStorage and sessionStorage,
// and what lands in the database files the container's backup copies.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>

#include "LoopbackServer.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIWebView.h"
#include "plat/web/WebStorage.h"

using namespace plat;

class WebStorageTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    writeFile(inHome("www/index.html"), "<p>page</p>");
    writeFile(inHome("www/other.html"), "<p>other</p>");
  }
  void TearDown() override {
    view_.reset();
    runUntilIdle();
    SandboxTest::TearDown();
  }

  // A fresh view (as after a restart of the application once the old one is gone) on the URL.
  void open(const std::string& url) {
    view_.reset();
    runUntilIdle();
    view_ = std::make_shared<UIWebView>();
    view_->initWithFrame(CGRectMake(0, 0, 320, 480));
    view_->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(url)));
    runUntilIdle();
  }
  void openPage(const std::string& name = "index.html") { open("file://" + inHome("www/" + name)); }
  std::string eval(const std::string& script) { return view_->stringByEvaluatingJavaScriptFromString(script); }
  std::string live() { return inHome("Library/Caches/file__0.localstorage"); }

  UIWebViewPtr view_;
};

TEST_F(WebStorageTest, BothStoragesBehaveAsPagesExpect) {
  openPage();
  struct Case {
    std::string script;
    std::string expected;
  } cases[] = {
      {"s.setItem('n', 1); s.setItem('u', undefined); s.setItem('o', {}); s.setItem(7, null);"
       "[typeof s.getItem('n'), s.getItem('n'), s.getItem('u'), s.getItem('o'), s.getItem('7')].join()",
       "string,1,undefined,[object Object],null"},
      {"s.getItem('missing') === null && s.key(99) === null && s.key(-1) === null", "true"},
      {"s.clear(); s.setItem('b', 'x'); s.setItem('a', 'y'); s.setItem('b', 'z');"
       "var k = []; for (var i = 0; i < s.length; i++) k.push(s.key(i)); k.join()",
       "b,a"},
      {"s.setItem('c', 1); s.removeItem('b'); s.removeItem('nothing');"
       "[s.length, s.key(0), s.key(1), s.getItem('b')].join()",
       "2,a,c,"},
      {"s.n = 5; s['x y'] = 'v'; [s.n, typeof s.n, s.getItem('x y'), 'n' in s, 'zz' in s, s.zz].join()",
       "5,string,v,true,false,"},
      {"delete s.n; [s.getItem('n'), 'n' in s].join()", ",false"},
      {"s.clear(); s.q = 1; s.r = 2; Object.keys(s).join() + '|' + JSON.stringify(s)", "q,r|{\"q\":\"1\",\"r\":\"2\"}"},
      {"s.setItem('getItem', 'shadow'); s.setItem('length', 'long');"
       "[typeof s.getItem, s.getItem('getItem'), s.length, s.getItem('length')].join()",
       "function,shadow,4,long"},
      {"s.clear(); s.length + '|' + Object.keys(s).length", "0|0"},
      {"try { s.setItem('k'); 'no' } catch (e) { e.name }", "TypeError"},
      {"try { s.getItem(); 'no' } catch (e) { e.name }", "TypeError"},
      {"s instanceof Storage && Object.prototype.toString.call(s) === '[object Storage]'", "true"},
      {"try { new Storage(); 'no' } catch (e) { e.name }", "TypeError"},
      {"try { Storage.prototype.getItem.call({}, 'a'); 'no' } catch (e) { e.name }", "TypeError"},
  };
  for (const char* kind : {"localStorage", "sessionStorage"}) {
    SCOPED_TRACE(kind);
    eval(std::string("var s = ") + kind + "; s.clear();");
    for (const Case& c : cases) EXPECT_EQ(eval(c.script), c.expected) << c.script;
  }
  eval("localStorage.setItem('only', 'local')");
  EXPECT_EQ(eval("String(sessionStorage.getItem('only'))"), "null") << "the two are apart";
  EXPECT_EQ(eval("localStorage === window.localStorage"), "true");
}

TEST_F(WebStorageTest, ValuesRoundTripWholeAcrossRestarts) {
  openPage();
  eval("var nul = 'a\\u0000b', lone = 'x\\ud800y\\udc00', big = new Array(1024 * 1024 + 1).join('\\u00e9');"
       "localStorage.setItem('nul', nul); localStorage.setItem(lone, lone); localStorage.setItem('big', big);"
       "localStorage.setItem('gone', 'soon'); localStorage.removeItem('gone');"
       "sessionStorage.setItem('session', 'only this run');");
  EXPECT_TRUE(exists(live())) << "file pages keep their storage where the backup looks";

  openPage("other.html");
  EXPECT_EQ(eval("var lone = 'x\\ud800y\\udc00';"
                 "[localStorage.getItem('nul') === 'a\\u0000b', localStorage.getItem(lone) === lone,"
                 " localStorage.getItem('big').length, localStorage.getItem('big').charAt(5),"
                 " localStorage.getItem('gone'), localStorage.length, localStorage.key(1) === lone,"
                 " sessionStorage.getItem('session')].join()"),
            "true,true,1048576,\xC3\xA9,,3,true,");
  EXPECT_FALSE(log_->contains("Web storage"));
}

TEST_F(WebStorageTest, TheFolderFollowsTheBackupChoiceOfTheStartUp) {
  NSUserDefaults::standardUserDefaults()->setBool(true, "WebKitStoreWebDataForBackup");
  openPage();
  eval("localStorage.v = 'nested'");
  EXPECT_TRUE(exists(inHome("Library/WebKit/LocalStorage/file__0.localstorage")));
  EXPECT_FALSE(exists(live()));
}

TEST_F(WebStorageTest, PastTheQuotaNothingIsStored) {
  openPage();
  // 5 MiB counts UTF-16 units twice: 2.5 M units in all, keys included.
  EXPECT_EQ(eval("var mb = new Array(1024 * 1024 + 1).join('m');"
                 "localStorage.a = mb; localStorage.b = mb; localStorage.small = 'kept';"
                 "var outcome = [];"
                 "try { localStorage.setItem('c', mb); outcome.push('stored') } catch (e) { outcome.push(e.name, e.code, e instanceof DOMException) }"
                 "try { localStorage.small = mb; outcome.push('stored') } catch (e) { outcome.push(e.name) }"
                 "outcome.push(localStorage.length, localStorage.small, localStorage.getItem('c'));"
                 "localStorage.removeItem('b'); localStorage.setItem('c', mb); outcome.push(localStorage.length);"
                 "outcome.join()"),
            "QuotaExceededError,22,true,QuotaExceededError,3,kept,,3");
  EXPECT_EQ(eval("try { sessionStorage.a = mb; sessionStorage.b = mb; sessionStorage.c = mb; 'stored' } catch (e) { e.name }"),
            "QuotaExceededError");
  openPage();
  EXPECT_EQ(eval("[localStorage.length, localStorage.small, localStorage.getItem('b'), localStorage.c.length].join()"),
            "3,kept,,1048576");
}

TEST_F(WebStorageTest, AnUnreadableDatabaseIsSetAsideAndThePageStartsEmpty) {
  struct Case {
    const char* name;
    std::string contents;
    const char* reason;
  } cases[] = {
      {"not a database", std::string(4096, 'x'), "file is not a database"},
      {"a cut database", "SQLite format 3", "file is not a database"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    view_.reset();
    runUntilIdle();
    NSFileManager::defaultManager().removeItemAtPath(live() + ".unreadable");
    writeFile(live(), c.contents);
    log_->clear();
    openPage();
    EXPECT_EQ(eval("localStorage.length"), "0");
    eval("localStorage.fresh = 'yes'");
    EXPECT_TRUE(log_->contains("Web storage: " + live() + " cannot be read (" + c.reason + "); it is kept as " + live() +
                               ".unreadable and the page starts with empty storage."))
        << ::testing::PrintToString(log_->lines());
    EXPECT_EQ(readFile(live() + ".unreadable"), c.contents) << "set aside, never deleted";
    openPage();
    EXPECT_EQ(eval("localStorage.fresh"), "yes");
  }
  // A second unreadable file does not replace the first one set aside.
  view_.reset();
  runUntilIdle();
  writeFile(live(), "again");
  openPage();
  EXPECT_EQ(eval("localStorage.length"), "0");
  EXPECT_EQ(readFile(live() + ".unreadable-2"), "again");
}

TEST_F(WebStorageTest, ADatabaseLockedByAnotherProcessIsLeftAlone) {
  openPage();
  eval("localStorage.before = 'stored'");
  view_.reset();
  runUntilIdle();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(live().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; INSERT INTO ItemTable VALUES (x'6b00', x'7600');", nullptr, nullptr, nullptr),
            SQLITE_OK);
  openPage();
  EXPECT_EQ(eval("localStorage.length + ',' + (localStorage.during = 'memory')"), "0,memory");
  EXPECT_TRUE(log_->contains("Web storage: " + live() + " is locked (database is locked); the page's storage is kept in "
                             "memory for this run and the file is left as it is."));
  EXPECT_FALSE(exists(live() + ".unreadable"));
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  view_.reset();
  runUntilIdle();
  openPage();
  EXPECT_EQ(eval("[localStorage.before, localStorage.k, localStorage.during].join()"), "stored,v,");
}

TEST_F(WebStorageTest, AReplacedOrRemovedFileIsNoticed) {
  openPage();
  eval("localStorage.v = 'first'");
  std::string saved = readFile(live());
  eval("localStorage.v = 'second'; localStorage.w = 'kept'");

  // The backup restores an older copy over the open database, then the next page loads.
  ASSERT_TRUE(NSFileManager::defaultManager().removeItemAtPath(live()));
  writeFile(live(), saved);
  view_->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString("file://" + inHome("www/other.html"))));
  runUntilIdle();
  EXPECT_EQ(eval("[localStorage.v, localStorage.length].join()"), "first,1");

  // The system purges its caches under a running page: the next change writes everything back.
  ASSERT_TRUE(NSFileManager::defaultManager().removeItemAtPath(inHome("Library/Caches")));
  eval("localStorage.x = 'after'");
  openPage();
  EXPECT_EQ(eval("[localStorage.v, localStorage.x].join()"), "first,after");
}

TEST_F(WebStorageTest, EachOriginHasItsOwnAreaAndOpaqueOnesHaveNone) {
  struct Case {
    const char* url;
    std::optional<std::string> identifier;
  } cases[] = {
      {"file:///var/www/index.html", "file__0"},
      {"file://localhost/other/page.html", "file__0"},
      {"http://Example.com/a", "http_example.com_0"},
      {"http://example.com:80/a", "http_example.com_0"},
      {"https://example.com:8443/", "https_example.com_8443"},
      {"hbrfile://localhost/persistent/x.html", "hbrfile_localhost_0"},
      {"http://[::1]:8080/", "http_%3A%3A1_8080"},
      {"about:blank", std::nullopt},
      {"data:text/html,hi", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(web::webStorageOriginIdentifier(NSURL::URLWithString(c.url)), c.identifier) << c.url;

  view_ = std::make_shared<UIWebView>();
  view_->initWithFrame(CGRectMake(0, 0, 320, 480));
  view_->loadHTMLString("<p>x</p>", nullptr);
  runUntilIdle();
  EXPECT_EQ(eval("try { localStorage; 'no' } catch (e) { e.name + ' ' + e.code }"), "SecurityError 18");
  EXPECT_EQ(eval("try { sessionStorage; 'no' } catch (e) { e.name }"), "SecurityError");

  harbor::testing::LoopbackServer server;
  if (!server.ok()) GTEST_SKIP() << "no loopback socket";
  server.route("/index.html", {200, "text/html", "<p>served</p>", {}, false});
  view_->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/index.html"))));
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (eval("document.URL") != server.url("/index.html") && std::chrono::steady_clock::now() < until) waitForMain(0.2);
  eval("localStorage.site = 'http'");
  std::string port = server.url("").substr(server.url("").rfind(':') + 1);
  EXPECT_TRUE(exists(inHome("Library/Caches/http_127.0.0.1_" + port + ".localstorage")));
  openPage();
  EXPECT_EQ(eval("String(localStorage.site)"), "undefined") << "the file origin's area is another one";
}
