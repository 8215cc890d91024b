// Uploads and downloads through the page's commands against a real server on 127.0.0.1.
#include <gtest/gtest.h>
#include <dirent.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include "FileTransferPlugin.h"
#include "HBRFileTransfer.h"
#include "HTTPTestServer.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/foundation/FileFaults.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSURL.h"
#include "plat/uikit/UIApplication.h"
#include "support/FilePluginTest.h"

using namespace harbor;
using harbor::testing::HTTPTestServer;
using harbor::testing::PageCallback;
using plat::Array;
using plat::Dictionary;
using plat::Value;

namespace {

class FileTransfer : public harbor::testing::FilePluginTest {
 protected:
  void SetUp() override {
    FilePluginTest::SetUp();
    registerFileTransferPlugin();
    transfer = create<HBRFileTransfer>("HBRFileTransfer", "FileTransfer", viewController);
    ASSERT_TRUE(transfer);
    ASSERT_TRUE(server.ok());
  }
  // Sends the command, then gathers its answers up to the final one (bounded in time).
  std::vector<PageCallback> run(const std::string& action, const Array& arguments, const std::string& id = "t1") {
    gathered.clear();
    exec("FileTransfer", action, arguments, id);
    return finish(id);
  }
  // Bounded in real time, not in turns: a large body's progress wakes the loop many times.
  std::vector<PageCallback> finish(const std::string& id) {
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         std::chrono::steady_clock::now() < deadline;) {
      for (auto& callback : takeCallbacks()) gathered.push_back(callback);
      for (const auto& c : gathered)
        if (c.callbackId == id && !c.keepCallback) {
          std::vector<PageCallback> mine;
          for (const auto& g : gathered)
            if (g.callbackId == id) mine.push_back(g);
          return mine;
        }
      waitForMain(0.05);
    }
    ADD_FAILURE() << "no final answer for " << id;
    return {};
  }
  // After the transfer ended: no late answers, no temporary files beside the target.
  void expectQuietAndTidy(const std::string& folder) {
    transfer->queue()->waitUntilAllOperationsAreFinished();
    runUntilIdle();
    for (const auto& c : takeCallbacks()) ADD_FAILURE() << "late answer to " << c.callbackId;
    if (DIR* dir = ::opendir(folder.c_str())) {
      while (dirent* entry = ::readdir(dir))
        EXPECT_FALSE(plat::isInterruptedWriteName(entry->d_name)) << "left behind: " << entry->d_name;
      ::closedir(dir);
    }
    EXPECT_EQ(transfer->activeTransfers().size(), 0u);
  }
  static std::string generated(std::size_t n) {
    std::string s(n, ' ');
    for (std::size_t i = 0; i < n; ++i) s[i] = HTTPTestServer::generatedByte(i);
    return s;
  }

  std::shared_ptr<HBRFileTransfer> transfer;
  HTTPTestServer server;
  std::vector<PageCallback> gathered;
};

}  // namespace

TEST_F(FileTransfer, DownloadWithAndWithoutLengthReplacesTheTargetWhole) {
  HTTPTestServer::Response sized;
  sized.generatedLength = 300000;
  server.route("/sized", sized);
  // Without a length, the rest of the body waits until the page has heard the HEAD request's
  // length, so the test sees both phases whatever the order of the threads.
  std::promise<void> heardLength;
  std::shared_future<void> lengthHeard = heardLength.get_future().share();
  HTTPTestServer::Response open = sized;
  open.closeDelimited = true;
  open.pauseAfter = 1000;
  open.pause = [lengthHeard] { lengthHeard.wait_for(std::chrono::seconds(10)); };
  server.route("/open", [open](const HTTPTestServer::Request& r) {
    return r.method == "HEAD" ? HTTPTestServer::reply(200, "", {{"Content-Length", "300000"}}) : open;
  });
  writeFile(documents("dl/old.bin"), "old");

  auto answers = run("download", Array{server.url("/sized"), documents("dl/old.bin"), false, "d1"});
  ASSERT_GE(answers.size(), 2u);
  for (std::size_t i = 0; i + 1 < answers.size(); ++i) {
    EXPECT_TRUE(answers[i].keepCallback);
    EXPECT_EQ(answers[i].message["lengthComputable"], Value(true));
    EXPECT_EQ(answers[i].message["total"], Value(std::int64_t{300000}));
  }
  EXPECT_EQ(answers[answers.size() - 2].message["loaded"], Value(std::int64_t{300000}));
  EXPECT_EQ(answers.back().status, 1);
  EXPECT_EQ(answers.back().message["name"], Value("old.bin"));
  EXPECT_EQ(answers.back().message["fullPath"], Value("/dl/old.bin"));
  EXPECT_EQ(readFile(documents("dl/old.bin")), generated(300000));
  expectQuietAndTidy(documents("dl"));

  gathered.clear();
  exec("FileTransfer", "download", Array{server.url("/open"), documents("dl/old.bin"), false, "d2"}, "d2");
  bool computable = false;
  for (int i = 0; i < 200 && !computable; ++i) {
    waitForMain(0.05);
    for (auto& c : takeCallbacks()) {
      gathered.push_back(c);
      computable = computable || (c.keepCallback && c.message["lengthComputable"] == Value(true));
    }
  }
  EXPECT_TRUE(computable) << "the HEAD request gave the length";
  for (const auto& c : gathered) EXPECT_TRUE(c.keepCallback && c.message["total"] == Value(std::int64_t{300000}));
  heardLength.set_value();
  answers = finish("d2");
  ASSERT_GE(answers.size(), 2u);
  EXPECT_EQ(answers[answers.size() - 2].message["loaded"], Value(std::int64_t{300000}));
  EXPECT_EQ(answers.back().status, 1);
  EXPECT_EQ(readFile(documents("dl/old.bin")), generated(300000));
  expectQuietAndTidy(documents("dl"));

  bool sawHead = false;
  for (const auto& r : server.requests())
    if (r.method == "HEAD") {
      sawHead = true;
      EXPECT_EQ(r.target, "/open");
      EXPECT_EQ(r.header("Accept-Encoding"), std::optional<std::string>("identity"));
    }
  EXPECT_TRUE(sawHead);
}

TEST_F(FileTransfer, FailedDownloadsKeepWhatStoodAtTheTarget) {
  server.route("/missing", HTTPTestServer::reply(404, "gone"));
  server.route("/same", HTTPTestServer::reply(304, ""));
  server.route("/broken", HTTPTestServer::reply(500, "oops"));
  HTTPTestServer::Response cut;
  cut.generatedLength = 500000;
  cut.cutAfter = 1000;
  server.route("/cut", cut);
  writeFile(documents("keep.txt"), "precious");
  struct Case {
    const char* path;
    int status, code, http;
    std::optional<std::string> body;
  } cases[] = {{"/missing", 9, 1, 404, "gone"}, {"/same", 9, 5, 304, ""}, {"/broken", 9, 3, 500, "oops"},
               {"/cut", 9, 3, 200, std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto answers = run("download", Array{server.url(c.path), documents("keep.txt"), false, "k"});
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers.back().status, c.status);
    EXPECT_EQ(answers.back().message["code"], Value(std::int64_t{c.code}));
    EXPECT_EQ(answers.back().message["http_status"], Value(std::int64_t{c.http}));
    if (c.body) {
      EXPECT_EQ(answers.back().message["body"], Value(*c.body));
    }
    EXPECT_EQ(readFile(documents("keep.txt")), "precious");
    expectQuietAndTidy(inHome("Documents"));
  }

  plat::FileFaultPlan full;
  full.diskFullAfterBytes = 10000;
  HTTPTestServer::Response big;
  big.generatedLength = 400000;
  server.route("/big", big);
  {
    plat::ScopedFileFaults faults(full);
    auto answers = run("download", Array{server.url("/big"), documents("keep.txt"), false, "full"}, "full");
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers.back().status, 6);
    EXPECT_EQ(answers.back().message["code"], Value(std::int64_t{1}));
    EXPECT_EQ(answers.back().message["body"], Value("Could not write to target file"));
  }
  EXPECT_EQ(readFile(documents("keep.txt")), "precious");
  expectQuietAndTidy(inHome("Documents"));

  // Outside every file system, or a folder that links out of one.
  ASSERT_EQ(::symlink("/", documents("out").c_str()), 0);
  for (const std::string& target : {std::string("/etc/harbor-never"), documents("out/tmp/harbor-never")}) {
    auto answers = run("download", Array{server.url("/big"), target, false, "o"}, "o");
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers.back().status, 6) << target;
    EXPECT_FALSE(exists("/tmp/harbor-never"));
    expectQuietAndTidy(inHome("Documents"));
  }
}

TEST_F(FileTransfer, AbortResetAndExpiryEndTransfersOnceAndKeepTheTarget) {
  std::promise<void> resume;
  std::shared_future<void> resumed = resume.get_future().share();
  HTTPTestServer::Response slow;
  slow.generatedLength = 3000000;
  slow.pauseAfter = 1000;
  slow.pause = [resumed] { resumed.wait_for(std::chrono::seconds(10)); };
  server.route("/slow", slow);
  writeFile(documents("a.bin"), "before");
  writeFile(documents("b.bin"), "kept too");
  // Waits until every named transfer has sent progress (its first data is in).
  auto waitStarted = [&](std::set<std::string> ids) {
    for (int i = 0; i < 200 && !ids.empty(); ++i) {
      waitForMain(0.05);
      for (auto& c : takeCallbacks()) {
        gathered.push_back(c);
        if (c.keepCallback) ids.erase(c.callbackId);
      }
    }
    EXPECT_TRUE(ids.empty());
  };
  // Two transfers under one object id, and one without any.
  exec("FileTransfer", "download", Array{server.url("/slow"), documents("a.bin"), false, "job"}, "first");
  exec("FileTransfer", "download", Array{server.url("/slow"), documents("b.bin"), false, "job"}, "second");
  exec("FileTransfer", "download", Array{server.url("/slow"), documents("c.bin"), false}, "anonymous");
  waitStarted({"first", "second", "anonymous"});
  exec("FileTransfer", "abort", Array{"job"}, "abortcb");
  exec("FileTransfer", "abort", Array{"nobody"}, "abortcb");
  auto answers = finish("second");
  EXPECT_EQ(answers.back().status, 9);
  EXPECT_EQ(answers.back().message["code"], Value(std::int64_t{4}));
  EXPECT_EQ(transfer->activeTransfers().size(), 2u) << "the first transfer of the id runs on";

  transfer->onReset();
  EXPECT_TRUE(transfer->activeTransfers().empty());
  exec("FileTransfer", "download", Array{server.url("/slow"), documents("d.bin"), false, "late"}, "late");
  waitStarted({"late"});
  EXPECT_EQ(plat::UIApplication::sharedApplication()->expireBackgroundTasks(), 1u);
  resume.set_value();
  expectQuietAndTidy(inHome("Documents"));
  for (const auto& c : gathered) {
    EXPECT_NE(c.callbackId, "abortcb");
    EXPECT_TRUE(c.callbackId == "second" || c.keepCallback) << "reset and expiry answer nothing: " << c.callbackId;
  }
  EXPECT_EQ(readFile(documents("a.bin")), "before");
  EXPECT_EQ(readFile(documents("b.bin")), "kept too");
  EXPECT_FALSE(exists(documents("c.bin")));
  EXPECT_FALSE(exists(documents("d.bin")));
  EXPECT_EQ(plat::UIApplication::sharedApplication()->backgroundTaskCount(), 0u);
}

TEST_F(FileTransfer, UploadSendsTheExactMultipartForm) {
  server.route("/up", [](const HTTPTestServer::Request&) { return HTTPTestServer::reply(201, "thanks", {{"X-Reply", "1"}}); });
  writeFile(documents("photo.jpg"), "JPEGDATA");
  Dictionary params{{"name", Value("a\"b\r\nc")}, {"n", Value(std::int64_t{42})}, {"none", Value::null()},
                    {"__cookie", Value("session=1")}};
  Dictionary headers{{"X-List", Value(Array{Value("a"), Value("b")})}, {"X-Null", Value::null()},
                     {"X-Evil", Value("x\r\nInjected: 1")}};
  for (bool chunked : {true, false}) {
    SCOPED_TRACE(chunked);
    auto answers = run("upload", Array{documents("photo.jpg"), server.url("/up"), Value(), Value(), Value(), params,
                                       false, chunked, headers, "u1"});
    ASSERT_FALSE(answers.empty());
    const auto& last = answers.back();
    EXPECT_EQ(last.status, 1);
    EXPECT_EQ(last.message["responseCode"], Value(std::int64_t{201}));
    EXPECT_EQ(last.message["response"], Value("thanks"));
    EXPECT_EQ(last.message["headers"]["X-Reply"], Value("1"));
    const std::string b = "+++++org.harbor.formBoundary";
    std::string body = "--" + b + "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\na\"b\r\nc\r\n" + "--" + b +
                       "\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n42\r\n" + "--" + b +
                       "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"image.jpg\"\r\n"
                       "Content-Type: image/jpeg\r\nContent-Length: 8\r\n\r\nJPEGDATA\r\n--" + b + "--\r\n";
    EXPECT_EQ(last.message["bytesSent"], Value(static_cast<std::int64_t>(body.size() + 6)));
    auto seen = server.requests().back();
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.body, body);
    EXPECT_EQ(seen.header("Content-Length"), std::optional<std::string>(std::to_string(body.size())));
    EXPECT_EQ(seen.header("Content-Type"), std::optional<std::string>("multipart/form-data; boundary=" + b));
    EXPECT_EQ(seen.header("Cookie"), std::optional<std::string>("session=1"));
    EXPECT_EQ(seen.header("X-List"), std::optional<std::string>("a,b"));
    EXPECT_EQ(seen.header("X-Null"), std::optional<std::string>("null"));
    EXPECT_EQ(seen.header("X-Requested-With"), std::optional<std::string>("XMLHttpRequest"));
    EXPECT_EQ(seen.head.find("Injected"), std::string::npos);
    EXPECT_FALSE(seen.header("X-Evil"));
    expectQuietAndTidy(inHome("Documents"));
  }

  // Quotes and line breaks in the names are escaped; a page Content-Type sends the bare bytes.
  auto answers = run("upload", Array{"data:text/plain;base64,YWJj", server.url("/up"), "k\"ey", "x\r\n.txt", "text/plain",
                                     Value(), false, true, Dictionary{{"Content-Type", Value("text/plain")}}, "u2"});
  EXPECT_EQ(answers.back().status, 1);
  EXPECT_EQ(server.requests().back().body, "abc");
  answers = run("upload", Array{"data:;base64,", server.url("/up"), "k\"ey", "x\r\n.txt", "text/plain"});
  EXPECT_NE(server.requests().back().body.find("name=\"k%22ey\"; filename=\"x%0D%0A.txt\""), std::string::npos);
}

TEST_F(FileTransfer, UploadRefusalsComeAtOnce) {
  writeFile(documents("f.txt"), "x");
  struct Case {
    Array arguments;
    int code;
  } cases[] = {
      {Array{"data:text/plain;base64", server.url("/up")}, 2},
      {Array{documents("f.txt"), "::not a url"}, 2},
      {Array{documents("nothing.txt"), server.url("/up")}, 1},
      {Array{"/etc/hostname", server.url("/up")}, 1},
      {Array{documents("f.txt"), server.url("/up"), Value(), Value(), Value(), Value(), Value(), Value(), Value(),
             "m", "GET /x HTTP/1.1\r\nX:"},
       3},
  };
  for (const auto& c : cases) {
    auto answers = run("upload", c.arguments);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].status, 9);
    EXPECT_EQ(answers[0].message["code"], Value(std::int64_t{c.code})) << answers[0].message.description();
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(FileTransfer, SelfSignedServersNeedTrustAllHosts) {
  HTTPTestServer tls(HTTPTestServer::Scheme::HTTPS);
  tls.route("/f", HTTPTestServer::reply(200, "secure"));
  auto refused = run("download", Array{tls.url("/f"), documents("s.txt"), false, "s"});
  EXPECT_EQ(refused.back().status, 9);
  EXPECT_EQ(refused.back().message["code"], Value(std::int64_t{3}));
  auto allowed = run("download", Array{tls.url("/f"), documents("s.txt"), true, "s"});
  EXPECT_EQ(allowed.back().status, 1);
  EXPECT_EQ(readFile(documents("s.txt")), "secure");
}

// Nothing outside the sandbox home and the bundle is read as a download's source, and nothing
// is made or changed for a target outside a file system the page may change: not the target,
// not its folders, not inside the bundle.
TEST_F(FileTransfer, DownloadsStayInsideTheSandbox) {
  HTTPTestServer::Response small;
  small.generatedLength = 100;
  server.route("/small", small);
  writeFile(documents("own.txt"), "the page's own");
  std::string outside = inHome("../outside-the-sandbox");
  writeFile(outside + "/secret.txt", "not for pages");
  ASSERT_EQ(::symlink((outside + "/secret.txt").c_str(), documents("secret-link").c_str()), 0);
  ASSERT_EQ(::symlink(outside.c_str(), documents("out").c_str()), 0);
  writeFile(inBundle("www/page.txt"), "page");

  struct Case {
    std::string source, target;
    int status, code;
  } refused[] = {
      // Local sources outside: plainly, through a link, in capitals.
      {"file:///etc/hostname", fileURL("temporary", "/copy.txt"), 9, 1},
      {"file://" + outside + "/secret.txt", fileURL("temporary", "/copy.txt"), 9, 1},
      {"file://" + documents("secret-link"), fileURL("temporary", "/copy.txt"), 9, 1},
      {"FILE://" + outside + "/secret.txt", fileURL("temporary", "/copy.txt"), 9, 1},
      // Targets in the read-only bundle, however named.
      {server.url("/small"), fileURL("bundle", "/www/page.txt"), 6, 1},
      {server.url("/small"), fileURL("bundle", "/www/new/x.txt"), 6, 1},
      {server.url("/small"), inBundle("www/x.txt"), 6, 1},
      {server.url("/small"), "file://" + inBundle("www/made/x.txt"), 6, 1},
      // Targets outside, whose folders would be made first.
      {server.url("/small"), "file://" + outside + "/made/deeper/x.txt", 6, 1},
      {server.url("/small"), "file://" + documents("out/made/deeper/x.txt"), 6, 1},
      {server.url("/small"), documents("out/made2/x.txt"), 6, 1},
      {server.url("/small"), "file://" + documents("new/../../../outside-the-sandbox/made3/x.txt"), 6, 1},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.source + " -> " + c.target);
    auto answers = run("download", Array{c.source, c.target, false, "r"}, "r");
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers.back().status, c.status);
    EXPECT_EQ(answers.back().message["code"], Value(std::int64_t{c.code}));
    expectQuietAndTidy(inHome("tmp"));
  }
  EXPECT_FALSE(exists(inHome("tmp/copy.txt")));
  EXPECT_EQ(readFile(inBundle("www/page.txt")), "page");
  for (const char* made : {"www/new", "www/x.txt", "www/made"}) EXPECT_FALSE(exists(inBundle(made))) << made;
  for (const char* made : {"made", "made2", "made3"}) EXPECT_FALSE(exists(outside + "/" + made)) << made;
  EXPECT_EQ(readFile(outside + "/secret.txt"), "not for pages");

  // A file of the sandbox itself may be downloaded, also from the bundle.
  auto own = run("download", Array{"file://" + documents("own.txt"), fileURL("temporary", "/own.txt"), false, "o"}, "o");
  EXPECT_EQ(own.back().status, 1);
  EXPECT_EQ(readFile(inHome("tmp/own.txt")), "the page's own");
  auto page = run("download", Array{"file://" + inBundle("www/page.txt"), fileURL("temporary", "/page.txt"), false, "p"}, "p");
  EXPECT_EQ(page.back().status, 1);
  EXPECT_EQ(readFile(inHome("tmp/page.txt")), "page");
  std::filesystem::remove_all(outside);
}

TEST_F(FileTransfer, AMimeTypeCannotAddHeaderLinesToTheFilePart) {
  server.route("/up", [](const HTTPTestServer::Request&) { return HTTPTestServer::reply(200, "ok"); });
  auto answers = run("upload", Array{"data:;base64,YWJj", server.url("/up"), "file", "a.txt",
                                     "text/plain\r\nX-Other: 1\nX-More: 2"});
  ASSERT_FALSE(answers.empty());
  EXPECT_EQ(answers.back().status, 1);
  const std::string body = server.requests().back().body;
  EXPECT_NE(body.find("Content-Type: text/plain%0D%0AX-Other: 1%0AX-More: 2\r\nContent-Length: 3\r\n\r\nabc"),
            std::string::npos)
      << body;
  EXPECT_EQ(body.find("\r\nX-Other"), std::string::npos) << body;
  EXPECT_EQ(body.find("\nX-More"), std::string::npos) << body;
}

// A target that names no file of the sandbox (a relative path, a folder, nothing at all) gets
// exactly one answer as soon as the response comes, the error of a target that cannot be
// created; nothing is made anywhere, also not beside the process's working folder.
TEST_F(FileTransfer, AnUnusableTargetGetsOneAnswerAtOnce) {
  HTTPTestServer::Response small;
  small.generatedLength = 100;
  server.route("/small", small);
  writeFile(documents("kept.txt"), "kept");
  const std::vector<std::string> targets = {
      "relative.bin",
      "x/y.bin",
      "./x.bin",
      "../x.bin",
      ".",
      "..",
      "",
      "file:rel.bin",
      "file:x/y.bin",
      "file:",
      "file:.",
      "file:..",
      "file:./x.bin",
      "file:../x.bin",
      "C:\\x.bin",
      "~/x.bin",
      "hbrfile:rel.bin",
      "hbrfile://localhost/persistent/",
      "hbrfile://localhost/persistent",
      "hbrfile://localhost/nosuch/x.bin",
      "hbrfile://localhost/persistent/../../x.bin",
      "/",
      "//",
      "/.",
      "/..",
      "file:///",
      "file://" + documents(""),
      "file://" + documents("new/."),
      "file://" + documents("new/.."),
      "file://" + documents("a/./b.bin"),
      documents("kept.txt/under-a-file.bin"),
      // Folders by name: a file named after the folder would be made in their place.
      inHome("tmp") + "/slash/",
      inHome("Documents") + "/slash//",
      "file://" + inHome("Documents") + "/slash/",
      fileURL("persistent", "/slash/"),
      fileURL("persistent", "/slash/?x=1"),
      fileURL("temporary", "/slash/"),
  };
  for (const auto& target : targets) {
    SCOPED_TRACE("target \"" + target + "\"");
    log_->clear();
    auto answers = run("download", Array{server.url("/small"), target, false, "u"}, "u");
    ASSERT_FALSE(answers.empty());
    std::size_t finals = 0;
    for (const auto& a : answers) finals += a.keepCallback ? 0 : 1;
    EXPECT_EQ(finals, 1u);
    EXPECT_EQ(answers.back().status, 6);
    EXPECT_EQ(answers.back().message["code"], Value(std::int64_t{1}));
    EXPECT_TRUE(answers.back().message["body"].asString().rfind("Could not create", 0) == 0)
        << answers.back().message.description();
    expectQuietAndTidy(inHome("Documents"));
  }
  for (const char* made : {"relative.bin", "x", "x.bin", "rel.bin", "C:\\x.bin", "~"})
    EXPECT_FALSE(exists(made)) << made << " beside the working folder";
  EXPECT_EQ(readFile(documents("kept.txt")), "kept");
  EXPECT_FALSE(exists(documents("new")));
  EXPECT_FALSE(exists(documents("a")));
  EXPECT_FALSE(exists(documents("slash")));
  EXPECT_FALSE(exists(inHome("tmp/slash")));
}

// A download changes its target as the File plugin's writes do: through a link to the file it
// names, keeping that file's permissions, its backup-exclusion mark and its other names; a new
// file gets 0644 as getFile makes it; a pipe is refused and stays a pipe.
TEST_F(FileTransfer, ADownloadChangesItsTargetAsAWriteDoes) {
  HTTPTestServer::Response body;
  body.generatedLength = 5000;
  server.route("/body", body);
  const std::string downloaded = generated(5000);
  auto statOf = [](const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
  };
  auto excluded = [](const std::string& path) {
    auto value = plat::NSURL::fileURLWithPath(path)->resourceValue(plat::NSURLIsExcludedFromBackupKey);
    return value && value->asBool();
  };

  // Permissions and the mark.
  writeFile(documents("own.bin"), "old");
  ASSERT_EQ(::chmod(documents("own.bin").c_str(), 0640), 0);
  ASSERT_TRUE(plat::NSURL::fileURLWithPath(documents("own.bin"))->setResourceValue(Value(true),
                                                                                   plat::NSURLIsExcludedFromBackupKey));
  // A link inside the sandbox, and a file with a second name.
  writeFile(documents("real.bin"), "old");
  ASSERT_EQ(::symlink("real.bin", documents("link.bin").c_str()), 0);
  writeFile(documents("twice.bin"), "old");
  ASSERT_EQ(::link(documents("twice.bin").c_str(), inHome("Library/twice-again.bin").c_str()), 0);
  ino_t twice = statOf(documents("twice.bin")).st_ino;

  for (const char* name : {"own.bin", "link.bin", "twice.bin", "new.bin"}) {
    SCOPED_TRACE(name);
    std::string target = fileURL("persistent", std::string("/") + name);
    auto answers = run("download", Array{server.url("/body"), target, false, "d"}, "d");
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers.back().status, 1) << answers.back().message.description();
    EXPECT_EQ(answers.back().message["fullPath"], Value(std::string("/") + name));
    expectQuietAndTidy(inHome("Documents"));
  }
  EXPECT_EQ(readFile(documents("own.bin")), downloaded);
  EXPECT_EQ(statOf(documents("own.bin")).st_mode & 07777, 0640u);
  EXPECT_TRUE(excluded(documents("own.bin"))) << "the backup-exclusion mark stays";
  EXPECT_TRUE(S_ISLNK(statOf(documents("link.bin")).st_mode)) << "the link stays a link";
  EXPECT_EQ(readFile(documents("real.bin")), downloaded);
  EXPECT_EQ(readFile(documents("twice.bin")), downloaded);
  EXPECT_EQ(readFile(inHome("Library/twice-again.bin")), downloaded) << "the other name sees the download";
  EXPECT_EQ(statOf(documents("twice.bin")).st_ino, twice);
  EXPECT_EQ(statOf(documents("new.bin")).st_mode & 07777, 0644u) << "as the File plugin makes a file";

  // Written through a link only where the file it names may be written: not outside the
  // sandbox, not in the bundle, and never into a pipe.
  std::string outside = inHome("../outside-the-sandbox");
  writeFile(outside + "/secret.txt", "not for pages");
  writeFile(inBundle("www/page.txt"), "page");
  ASSERT_EQ(::symlink((outside + "/secret.txt").c_str(), documents("out-link").c_str()), 0);
  ASSERT_EQ(::symlink((outside + "/none.txt").c_str(), documents("dangling-out").c_str()), 0);
  ASSERT_EQ(::symlink(inBundle("www/page.txt").c_str(), documents("bundle-link").c_str()), 0);
  ASSERT_EQ(::mkfifo(documents("pipe").c_str(), 0644), 0);
  for (const char* name : {"out-link", "dangling-out", "bundle-link", "pipe"}) {
    SCOPED_TRACE(name);
    auto answers = run("download", Array{server.url("/body"), documents(name), false, "p"}, "p");
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers.back().status, 6);
    EXPECT_EQ(answers.back().message["body"], Value("Could not create target file"));
    expectQuietAndTidy(inHome("Documents"));
  }
  EXPECT_EQ(readFile(outside + "/secret.txt"), "not for pages");
  EXPECT_FALSE(exists(outside + "/none.txt"));
  EXPECT_EQ(readFile(inBundle("www/page.txt")), "page");
  EXPECT_TRUE(S_ISLNK(statOf(documents("out-link")).st_mode));
  EXPECT_TRUE(S_ISFIFO(statOf(documents("pipe")).st_mode));
  std::filesystem::remove_all(outside);
}

// A photo of the library is uploaded with its bytes, named by the library's own URL or by the
// File plugin's: the library's file system reads it, as readAsArrayBuffer does.
TEST_F(FileTransfer, APhotoFromTheLibraryUploadsByBothURLForms) {
  server.route("/up", [](const HTTPTestServer::Request&) { return HTTPTestServer::reply(200, "ok"); });
  std::string photo = generated(70000);
  auto asset = plat::SimulatedPhotoLibrary::addAsset(plat::Data(photo.begin(), photo.end()), "JPG", 1000.0);
  ASSERT_TRUE(asset);
  std::string library = asset->absoluteString();
  std::string local = "hbrfile://localhost/assets-library" + library.substr(std::string("assets-library:/").size());
  for (const auto& source : {library, local}) {
    for (bool chunked : {true, false}) {
      SCOPED_TRACE(source + (chunked ? ", chunked" : ", whole"));
      auto answers = run("upload", Array{source, server.url("/up"), "file", "photo.jpg", "image/jpeg", Value(), false,
                                         chunked, Value(), "p"});
      ASSERT_FALSE(answers.empty());
      EXPECT_EQ(answers.back().status, 1) << answers.back().message.description();
      EXPECT_EQ(answers.back().message["responseCode"], Value(std::int64_t{200}));
      ASSERT_FALSE(server.requests().empty());
      const std::string body = server.requests().back().body;
      EXPECT_NE(body.find("Content-Length: 70000\r\n\r\n" + photo + "\r\n--"), std::string::npos)
          << "the photo's bytes, whole, in the file part";
      expectQuietAndTidy(inHome("tmp"));
    }
  }
  // A photo that is not in the library is still no file.
  auto missing = run("upload", Array{"assets-library://asset/asset.JPG?id=00000000-0000-0000-0000-000000000000&ext=JPG",
                                     server.url("/up")});
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0].status, 9);
  EXPECT_EQ(missing[0].message["code"], Value(std::int64_t{1}));
}

// A photo or film of the library is read a piece at a time as the body goes out, in either mode,
// as a file of a folder is: a large one arrives byte for byte, and one larger than any memory
// (a sparse terabyte) goes out until the page aborts it, where it was once read whole first
// and refused as not found.
TEST_F(FileTransfer, ALibraryAssetOfAnySizeIsUploadedAPieceAtATime) {
  server.route("/up", [](const HTTPTestServer::Request&) { return HTTPTestServer::reply(200, "ok"); });
  constexpr std::size_t kLarge = 24u << 20;  // more than the server keeps of a body
  std::string photo(kLarge, ' ');
  for (std::size_t i = 0; i < kLarge; ++i) photo[i] = static_cast<char>((i * 2654435761u) >> 13);
  auto large = plat::SimulatedPhotoLibrary::addAsset(plat::Data(photo.begin(), photo.end()), "JPG");
  auto film = plat::SimulatedPhotoLibrary::addAsset(plat::Data(16, 'm'), "MOV");
  ASSERT_TRUE(large && film);
  constexpr std::uint64_t kFilm = std::uint64_t{1} << 40;
  std::string filmFile = plat::SimulatedPhotoLibrary::folderPath() + "/" + film->query()->substr(3, 36) + ".MOV";
  ASSERT_EQ(::truncate(filmFile.c_str(), static_cast<off_t>(kFilm)), 0) << filmFile;
  const std::string b = "+++++org.harbor.formBoundary";
  auto before = [&](std::uint64_t length) {
    return "--" + b + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"photo.jpg\"\r\n"
           "Content-Type: image/jpeg\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
  };
  const std::string after = "\r\n--" + b + "--\r\n";
  auto upload = [&](const plat::NSURLPtr& asset, bool chunked, const std::string& id) {
    exec("FileTransfer", "upload", Array{asset->absoluteString(), server.url("/up"), "file", "photo.jpg", "image/jpeg",
                                         Value(), false, chunked, Value(), id}, id);
  };

  for (bool chunked : {true, false}) {
    SCOPED_TRACE(chunked ? "chunked" : "whole");
    gathered.clear();
    upload(large, chunked, "large");
    auto answers = finish("large");
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers.back().status, 1) << answers.back().message.description();
    std::uint64_t total = before(kLarge).size() + kLarge + after.size();
    EXPECT_EQ(answers.front().message["total"], Value(static_cast<std::int64_t>(total)));
    ASSERT_FALSE(server.requests().empty());
    auto seen = server.requests().back();
    EXPECT_EQ(seen.header("Content-Length"), std::optional<std::string>(std::to_string(total)));
    EXPECT_EQ(seen.bodyLength, total);
    EXPECT_EQ(seen.bodyHash, HTTPTestServer::hash(after, HTTPTestServer::hash(photo, HTTPTestServer::hash(before(kLarge)))))
        << "the photo's bytes, whole and in order, in the file part";
    expectQuietAndTidy(inHome("tmp"));

    // The terabyte goes out until the page stops it.
    gathered.clear();
    upload(film, chunked, "film");
    std::optional<Value> progress;
    std::optional<PageCallback> ended;
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         std::chrono::steady_clock::now() < deadline && !ended &&
         !(progress && (*progress)["loaded"].asInt() >= (16 << 20));) {
      waitForMain(0.05);
      for (auto& c : takeCallbacks()) {
        gathered.push_back(c);
        if (c.callbackId == "film" && c.keepCallback) progress = c.message;
        if (c.callbackId == "film" && !c.keepCallback) ended = c;
      }
    }
    ASSERT_FALSE(ended) << "ended before it was aborted: " << ended->message.description();
    ASSERT_TRUE(progress);
    EXPECT_GE((*progress)["loaded"].asInt(), 16 << 20);
    EXPECT_EQ((*progress)["total"], Value(static_cast<std::int64_t>(before(kFilm).size() + kFilm + after.size())));
    // The upload goes on meanwhile: progress it sends waits on the main loop when the abort
    // comes, and must still reach the page before the abort's answer, never after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    exec("FileTransfer", "abort", Array{"film"}, "abortcb");
    auto aborted = finish("film");
    ASSERT_FALSE(aborted.empty());
    EXPECT_EQ(aborted.back().status, 9) << "the abort's answer is the last";
    EXPECT_EQ(aborted.back().message["code"], Value(std::int64_t{4}));
    EXPECT_EQ(std::count_if(aborted.begin(), aborted.end(), [](const PageCallback& c) { return !c.keepCallback; }), 1);
    expectQuietAndTidy(inHome("tmp"));
  }
}

// A download makes its file and the folders it lacks as a page's write would: what the umask
// leaves of 0666 and 0777.
TEST_F(FileTransfer, ADownloadMakesItsFileAndFoldersUnderTheUmask) {
  HTTPTestServer::Response body;
  body.generatedLength = 100;
  server.route("/body", body);
  for (mode_t mask : {mode_t{077}, mode_t{002}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    plat::testing::ScopedUmask umask(mask);
    std::filesystem::remove_all(documents("made"));
    auto answers = run("download", Array{server.url("/body"), documents("made/deeper/new.bin"), false, "d"}, "d");
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers.back().status, 1) << answers.back().message.description();
    auto mode = [](const std::string& path) {
      struct stat st {};
      ::lstat(path.c_str(), &st);
      return st.st_mode & 07777;
    };
    EXPECT_EQ(mode(documents("made/deeper/new.bin")), 0666 & ~mask);
    EXPECT_EQ(mode(documents("made/deeper")), 0777 & ~mask);
    EXPECT_EQ(mode(documents("made")), 0777 & ~mask);
    expectQuietAndTidy(documents("made/deeper"));
  }
}
