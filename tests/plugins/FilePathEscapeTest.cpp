// Paths that try to leave a file system's root, sent through every page action and through an
// hbrfile load: dot segments plain and escaped, escaped slashes, NUL bytes, links pointing out
// (dangling ones too), and folders whose names only begin like a root. Nothing outside a root
// may be read, written, created, marked or removed, and no answer may succeed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLConnection.h"
#include "support/FilePluginTest.h"

using namespace harbor;
using plat::Array;
using plat::Dictionary;
using plat::Value;

namespace {

constexpr char kSecret[] = "the secret";

class FilePathEscape : public harbor::testing::FilePluginTest {
 protected:
  void SetUp() override {
    FilePluginTest::SetUp();
    // Roots: tmp, Documents and Library/Caches; no "root" file system over the whole home.
    makePlugin(Dictionary{{"iosextrafilesystems", "cache"}});
    outside_ = plat::stringByDeletingLastPathComponent(home());
    for (const std::string& secret : secrets()) writeFile(secret, kSecret);
    std::string target = inHome("Library/secret.txt");
    link("out", inHome("Library"));                            // a folder outside
    link("out-file", target);                                  // a file outside
    link("dangling", inHome("Library/created-through-link"));  // nothing there yet
    link("dangling-dir", inHome("Library/no-such-folder/x"));
    link("chain", documents("dangling"));                      // a link to a link that leads out
    writeFile(documents("inside.txt"), "inside");
    before_ = snapshot();
  }

  std::vector<std::string> secrets() const {
    return {outside_ + "/secret.txt", inHome("secret.txt"), inHome("Library/secret.txt"),
            inHome("Documents-evil/secret.txt"), inHome("Library/Caches-evil/secret.txt"), inHome("tmpx/secret.txt")};
  }
  void link(const std::string& name, const std::string& target) {
    ASSERT_EQ(::symlink(target.c_str(), documents(name).c_str()), 0) << name;
  }
  // Every item outside the three roots, with its contents; preference files may change.
  std::map<std::string, std::string> snapshot() {
    std::map<std::string, std::string> items;
    auto& fm = plat::NSFileManager::defaultManager();
    for (const auto& relative : fm.enumeratorAtPath(outside_)) {
      std::string path = outside_ + "/" + relative;
      bool skipped = false;
      for (const char* root : {"tmp", "Documents", "Library/Caches", "Library/Preferences"}) {
        if (plat::pathIsInsideFolder(path, inHome(root))) skipped = true;
      }
      if (skipped) continue;
      bool isDirectory = false;
      fm.fileExistsAtPath(path, &isDirectory);
      items[relative] = isDirectory ? "<folder>" : readFile(path);
    }
    return items;
  }

  std::string outside_;
  std::map<std::string, std::string> before_;
};

// Each escaping URL, as a page could write it.
std::vector<std::string> escapingURLs(const std::string& home, const std::string& outside) {
  std::string p = "hbrfile://localhost/persistent";
  std::string c = "hbrfile://localhost/cache";
  return {
      p + "/../Library/secret.txt",
      p + "/%2e%2e/Library/secret.txt",
      p + "/a/%2E%2E/%2E%2E/Library/secret.txt",
      p + "/..%2FLibrary%2Fsecret.txt",
      p + "/%2F..%2F..%2Fsecret.txt",
      p + "/x%2F..%2F..%2F..%2Fsecret.txt",
      p + "/inside.txt%00/../../secret.txt",
      p + "/%00",
      p + "/out/secret.txt",
      p + "/out-file",
      p + "/dangling",
      p + "/dangling-dir",
      p + "/chain",
      p + "/../Documents-evil/secret.txt",
      c + "/../Caches-evil/secret.txt",
      c + "/%2e%2e%2fCaches-evil%2fsecret.txt",
      "hbrfile://localhost/temporary/../tmpx/secret.txt",
      "hbrfile://localhost/temporary/%2e%2e/%2e%2e/secret.txt",
      "file://" + home + "/Documents-evil/secret.txt",
      "file://" + home + "/Library/Caches-evil/secret.txt",
      "file://" + home + "/Documents/out/secret.txt",
      "file://" + home + "/Documents/../secret.txt",
      "file://" + outside + "/secret.txt",
      "file:///etc/passwd",
  };
}

TEST_F(FilePathEscape, NothingOutsideARootIsReachedThroughAnyAction) {
  std::string inside = fileURL("persistent", "/");
  int tried = 0;
  for (const std::string& url : escapingURLs(home(), outside_)) {
    std::vector<std::pair<std::string, Array>> calls = {
        {"resolveLocalFileSystemURI", {url}},
        {"getFile", {url, "x.txt", Dictionary{{"create", true}}}},
        {"getDirectory", {url, "d", Dictionary{{"create", true}}}},
        {"getParent", {url}},
        {"setMetadata", {url, Dictionary{{"com.apple.MobileBackup", 1}}}},
        {"getFileMetadata", {url}},
        {"readEntries", {url}},
        {"readAsText", {url, "UTF-8", 0, -1}},
        {"readAsDataURL", {url, 0, -1}},
        {"readAsArrayBuffer", {url, 0, -1}},
        {"readAsBinaryString", {url, 0, -1}},
        {"write", {url, "overwritten", 0}},
        {"write", {url, "appended", 3}},
        {"truncate", {url, 0}},
        {"copyTo", {url, inside, "stolen.txt"}},
        {"copyTo", {fileURL("persistent", "/inside.txt"), url, "planted.txt"}},
        {"moveTo", {url, inside, "moved.txt"}},
        {"moveTo", {fileURL("persistent", "/inside.txt"), url, "planted.txt"}},
        {"_getLocalFilesystemPath", {url}},
        {"remove", {url}},
        {"removeRecursively", {url}},
    };
    for (const auto& [action, arguments] : calls) {
      auto answer = call(action, arguments);
      ++tried;
      if (action == "getParent" && answer.status == harbor::testing::kFileOK) {
        // The parent of a link that stands inside the root is that root's folder, and fine.
        EXPECT_EQ(answer.message["nativeURL"], Value("file://" + documents("") + "/")) << url;
        continue;
      }
      EXPECT_NE(answer.status, harbor::testing::kFileOK) << action << " " << url << " -> " << answer.message.description();
      EXPECT_EQ(answer.message.description().find(kSecret), std::string::npos) << action << " " << url;
    }
    auto request = plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString(url));
    if (request->URL() && request->URL()->scheme() == "hbrfile") {
      bool done = false;
      long status = 0;
      plat::NSURLConnection::sendAsynchronousRequest(
          request, [&](const plat::NSURLResponsePtr& r, const plat::Data&, const std::optional<plat::NSError>&) {
            auto http = std::dynamic_pointer_cast<plat::NSHTTPURLResponse>(r);
            status = http ? http->statusCode() : -1;
            done = true;
          });
      runUntilIdle();
      EXPECT_TRUE(done) << url;
      EXPECT_EQ(status, 404) << url;
    }
  }
  EXPECT_GT(tried, 400);
  EXPECT_EQ(snapshot(), before_) << "something outside the roots changed";
  for (const std::string& secret : secrets()) EXPECT_EQ(readFile(secret), kSecret) << secret;
  auto marked = plat::NSURL::fileURLWithPath(inHome("Library/secret.txt"))
                    ->resourceValue(plat::NSURLIsExcludedFromBackupKey);
  EXPECT_EQ(marked.value_or(Value()), Value(false));
  EXPECT_EQ(readFile(documents("inside.txt")), "inside");
}

// Relative paths given to getFile climb no higher than the root they start from.
TEST_F(FilePathEscape, RelativePathsStayInTheirRoot) {
  for (const char* path : {"../../secret.txt", "a/../../../secret.txt", "/../secret.txt", "./../secret.txt"}) {
    auto answer = call("getFile", Array{fileURL("persistent", "/"), path, Dictionary{{"create", true}}});
    EXPECT_EQ(answer.status, harbor::testing::kFileOK) << path;
    EXPECT_TRUE(plat::pathIsInsideFolder(call("_getLocalFilesystemPath",
                                              Array{fileURL("persistent", answer.message["fullPath"].asString())})
                                             .message.asString(),
                                         documents("")))
        << path;
  }
  EXPECT_EQ(snapshot(), before_);
}

}  // namespace
