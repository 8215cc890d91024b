#include <gtest/gtest.h>

#include "plat/foundation/NSPathUtilities.h"
#include "plat/testing/SandboxTest.h"

using namespace plat;

TEST(PathUtilities, ComponentsAndExtensions) {
  struct Case {
    const char* path;
    const char* last;
    const char* extension;
    const char* deletingLast;
    const char* deletingExtension;
  };
  const Case cases[] = {
      {"/a/b.txt", "b.txt", "txt", "/a", "/a/b"},
      {"/a/b/", "b", "", "/a", "/a/b"},
      {"/a", "a", "", "/", "/a"},
      {"/", "/", "", "/", "/"},
      {"", "", "", "", ""},
      {"a", "a", "", "", "a"},
      {"a/b.tar.gz", "b.tar.gz", "gz", "a", "a/b.tar"},
      {"a/.profile", ".profile", "", "a", "a/.profile"},
      {"a/b.", "b.", "", "a", "a/b."},
      {"//a//b", "b", "", "//a", "//a//b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lastPathComponent(c.path), c.last) << c.path;
    EXPECT_EQ(pathExtension(c.path), c.extension) << c.path;
    EXPECT_EQ(stringByDeletingLastPathComponent(c.path), c.deletingLast) << c.path;
    EXPECT_EQ(stringByDeletingPathExtension(c.path), c.deletingExtension) << c.path;
  }
}

TEST(PathUtilities, Appending) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"a", "b", "a/b"},     {"a/", "/b", "a/b"}, {"", "b", "b"},       {"/", "b", "/b"},
      {"/a", "", "/a"},      {"/a", "b/", "/a/b"}, {"/a", "b//c", "/a/b/c"}, {"/a//", "b", "/a/b"},
  };
  for (const auto& [path, component, expected] : cases)
    EXPECT_EQ(stringByAppendingPathComponent(path, component), expected) << path << " + " << component;
  EXPECT_EQ(stringByAppendingPathExtension("a/b", "bak"), "a/b.bak");
  EXPECT_EQ(pathComponents("/a//b/"), (std::vector<std::string>{"/", "a", "b"}));
}

TEST(PathUtilities, StandardizingResolvesDotsOnlyWhereItCan) {
  const std::pair<const char*, const char*> cases[] = {
      {"/a/./b//c/", "/a/b/c"}, {"/a/b/../c", "/a/c"}, {"/../..", "/"},  {"/a/..", "/"},
      {"a/../b", "b"},          {"../a", "../a"},      {"../../a", "../../a"}, {"./a", "a"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(stringByStandardizingPath(in), out) << in;
  EXPECT_TRUE(pathIsInsideFolder("/r/a/b", "/r"));
  EXPECT_TRUE(pathIsInsideFolder("/r", "/r/"));
  EXPECT_FALSE(pathIsInsideFolder("/r/../x", "/r"));
  EXPECT_FALSE(pathIsInsideFolder("/rx", "/r"));
  EXPECT_FALSE(pathIsInsideFolder("r/a", "/r"));
}

class SandboxHomeTest : public plat::testing::SandboxTest {};

TEST_F(SandboxHomeTest, StandardFoldersLiveInTheHome) {
  EXPECT_EQ(NSHomeDirectory(), home());
  EXPECT_EQ(NSTemporaryDirectory(), home() + "/tmp/");
  const std::pair<NSSearchPathDirectory, const char*> cases[] = {
      {NSDocumentDirectory, "/Documents"},
      {NSLibraryDirectory, "/Library"},
      {NSCachesDirectory, "/Library/Caches"},
      {NSApplicationSupportDirectory, "/Library/Application Support"},
  };
  for (const auto& [directory, suffix] : cases) {
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(directory, NSUserDomainMask, true),
              std::vector<std::string>{home() + suffix});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(directory, NSUserDomainMask, false),
              std::vector<std::string>{std::string("~") + suffix});
  }
  EXPECT_TRUE(NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSSystemDomainMask, true).empty());
  EXPECT_EQ(stringByStandardizingPath("~/Documents/../tmp"), home() + "/tmp");
  for (const char* folder : {"Documents", "Library/Caches", "Library/Preferences", "tmp"})
    EXPECT_TRUE(exists(inHome(folder))) << folder;
}
