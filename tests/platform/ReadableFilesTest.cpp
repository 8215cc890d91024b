// Which files a page may read: the rule both the WebKit engine and its extension apply.
#include "plat/web/ReadableFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "plat/foundation/NSURL.h"
#include "plat/testing/SandboxTest.h"

namespace {

namespace fs = std::filesystem;
using plat::web::readable::mayReadFile;

class ReadableFilesTest : public plat::testing::SandboxTest {
 protected:
  std::string url(const std::string& path) { return plat::NSURL::fileURLWithPath(path)->absoluteString(); }
  std::string real(const std::string& path) { return fs::canonical(path).string(); }
};

TEST_F(ReadableFilesTest, APageReadsInsideItsRootsAndNothingElse) {
  std::string outside = (fs::path(home()).parent_path() / "outside.txt").string();
  writeFile(outside, "secret");
  writeFile(inBundle("www/index.html"), "page");
  writeFile(inBundle("www/error.html"), "error page");
  writeFile(inHome("Documents/note.txt"), "note");
  fs::create_symlink(outside, inHome("Documents/out-link.txt"));
  fs::create_symlink(inHome("Documents/note.txt"), inBundle("www/in-link.txt"));
  std::vector<std::string> roots = {real(home()), real(inBundle(""))};
  std::string www = url(inBundle("www"));
  const struct {
    std::string uri;
    bool readable;
  } cases[] = {
      {url(inBundle("www/index.html")), true},
      {url(inHome("Documents/note.txt")), true},
      {url(inBundle("www/in-link.txt")), true},               // a link that stays inside
      {url(inBundle("www/error.html")) + "?error=Failed%20to%20load", true},  // the query is no part of the file
      {url(inBundle("www/error.html")) + "#top", true},
      {url(inBundle("www/missing.html")), true},              // inside, though nothing is there
      {url(outside), false},
      {url(inHome("Documents/out-link.txt")), false},         // a link out
      {www + "/../../" + fs::relative(outside, inBundle("")).string(), false},
      {www + "/%2e%2e/%2e%2e/" + fs::relative(outside, inBundle("")).string(), false},
      {"file:///etc/passwd", false},
      {"file://elsewhere" + real(inBundle("www/index.html")), false},  // another machine's file
      {"file://localhost" + real(inBundle("www/index.html")), true},
      {"http://example.com/x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(mayReadFile(c.uri, roots, std::nullopt), c.readable) << c.uri;

  // A read-access folder narrows the roots; "" reads nothing.
  std::optional<std::string> access = inBundle("www");
  EXPECT_TRUE(mayReadFile(url(inBundle("www/index.html")), roots, access));
  EXPECT_FALSE(mayReadFile(url(inHome("Documents/note.txt")), roots, access));
  EXPECT_FALSE(mayReadFile(url(inBundle("www/index.html")), roots, std::string()));
  EXPECT_FALSE(mayReadFile(url(inBundle("www/index.html")), {}, std::nullopt)) << "without roots nothing is read";
}

}  // namespace
