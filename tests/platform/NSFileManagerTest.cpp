#include <gtest/gtest.h>
#include <sys/stat.h>

#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/testing/SandboxTest.h"

using namespace plat;

class NSFileManagerTest : public plat::testing::SandboxTest {
 protected:
  NSFileManager& fm = NSFileManager::defaultManager();

  // a/, a/b.txt, a/sub/, a/sub/c.txt, a/sub/deeper/, a/z.txt with distinct sub-second dates.
  std::string makeTree() {
    std::string root = inHome("Documents/a");
    writeFile(root + "/z.txt", "z");
    writeFile(root + "/b.txt", "b");
    writeFile(root + "/sub/c.txt", "c");
    EXPECT_TRUE(fm.createDirectoryAtPath(root + "/sub/deeper", false));
    setModificationDate(root + "/b.txt", 700000000.125);
    setModificationDate(root + "/sub/c.txt", 700000001.5);
    setModificationDate(root + "/sub/deeper", 700000002.75);
    setModificationDate(root + "/sub", 700000003.25);
    setModificationDate(root, 700000004.5);
    return root;
  }
};

TEST_F(NSFileManagerTest, ModificationDatesKeepFractionsOfASecond) {
  std::string file = inHome("tmp/f");
  writeFile(file, "x");
  for (double date : {700000000.0, 700000000.25, 123.000001, 800000000.999}) {
    setModificationDate(file, date);
    EXPECT_NEAR(modificationDate(file), date, 1e-6) << date;
  }
  auto attributes = fm.attributesOfItemAtPath(file);
  ASSERT_TRUE(attributes);
  EXPECT_EQ(attributes->type, NSFileType::Regular);
  EXPECT_EQ(attributes->size, 1u);
}

TEST_F(NSFileManagerTest, EnumerationIsStableAndDepthFirst) {
  std::string root = makeTree();
  ASSERT_EQ(::symlink(".", (root + "/sub/loop").c_str()), 0);
  std::vector<std::string> expected = {"b.txt", "sub", "sub/c.txt", "sub/deeper", "sub/loop", "z.txt"};
  EXPECT_EQ(fm.enumeratorAtPath(root), expected) << "a link is listed, not followed";
  EXPECT_EQ(fm.contentsOfDirectoryAtPath(root).value_or(std::vector<std::string>{}),
            (std::vector<std::string>{"b.txt", "sub", "z.txt"}));
  NSError error;
  EXPECT_FALSE(fm.subpathsOfDirectoryAtPath(inHome("missing"), &error));
  EXPECT_EQ(error.code, NSFileReadNoSuchFileError);
  EXPECT_TRUE(fm.enumeratorAtPath(root + "/b.txt").empty());
}

TEST_F(NSFileManagerTest, CopyPreservesContentsAndEveryDate) {
  std::string root = makeTree();
  std::string copy = inHome("Documents/copy");
  NSError error;
  ASSERT_TRUE(fm.copyItemAtPath(root, copy, &error)) << error.description();
  EXPECT_EQ(fm.enumeratorAtPath(copy), fm.enumeratorAtPath(root));
  EXPECT_EQ(readFile(copy + "/sub/c.txt"), "c");
  for (const std::string& sub : fm.enumeratorAtPath(root))
    EXPECT_EQ(modificationDate(copy + "/" + sub), modificationDate(root + "/" + sub)) << sub;
  EXPECT_EQ(modificationDate(copy), modificationDate(root));
}

TEST_F(NSFileManagerTest, CopyRefusesAnExistingDestinationAndTouchesNothing) {
  writeFile(inHome("tmp/src"), "new");
  writeFile(inHome("tmp/dst"), "old");
  NSError error;
  EXPECT_FALSE(fm.copyItemAtPath(inHome("tmp/src"), inHome("tmp/dst"), &error));
  EXPECT_EQ(error.domain, NSCocoaErrorDomain);
  EXPECT_EQ(error.code, NSFileWriteFileExistsError);
  EXPECT_NE(error.localizedDescription.find("same name already exists"), std::string::npos);
  EXPECT_EQ(readFile(inHome("tmp/dst")), "old");

  EXPECT_FALSE(fm.copyItemAtPath(inHome("tmp/none"), inHome("tmp/x"), &error));
  EXPECT_EQ(error.code, NSFileReadNoSuchFileError);
  EXPECT_EQ(error.userInfo[NSFilePathErrorKey], Value(inHome("tmp/none")));
  EXPECT_FALSE(fm.copyItemAtPath(inHome("tmp/src"), inHome("tmp/no/such/folder/x"), &error));
  EXPECT_EQ(error.code, NSFileNoSuchFileError);
}

TEST_F(NSFileManagerTest, ACopyThatFailsPartWayLeavesNoDestination) {
  std::string root = makeTree();
  // A pipe cannot be copied (reading it could block forever): the copy fails after the
  // earlier entries were copied, and takes them away again.
  ASSERT_EQ(::mkfifo((root + "/sub/pipe").c_str(), 0600), 0);
  NSError error;
  EXPECT_FALSE(fm.copyItemAtPath(root, inHome("Documents/copy"), &error));
  EXPECT_EQ(error.code, NSFileReadUnknownError);
  EXPECT_FALSE(exists(inHome("Documents/copy")));
  EXPECT_FALSE(fm.copyItemAtPath(root, root + "/sub/inside", &error)) << "a folder into itself";
  EXPECT_FALSE(exists(root + "/sub/inside"));
}

TEST_F(NSFileManagerTest, CreatesRemovesAndMoves) {
  NSError error;
  EXPECT_TRUE(fm.createDirectoryAtPath(inHome("x/y/z"), true, &error));
  EXPECT_TRUE(fm.createDirectoryAtPath(inHome("x/y/z"), true)) << "existing folder with intermediates";
  EXPECT_FALSE(fm.createDirectoryAtPath(inHome("x/y/z"), false, &error));
  EXPECT_EQ(error.code, NSFileWriteFileExistsError);
  EXPECT_FALSE(fm.createDirectoryAtPath(inHome("p/q"), false, &error));
  EXPECT_EQ(error.code, NSFileNoSuchFileError);
  writeFile(inHome("x/file"), "f");
  EXPECT_FALSE(fm.createDirectoryAtPath(inHome("x/file/sub"), true, &error)) << "a file in the way";

  EXPECT_TRUE(fm.moveItemAtPath(inHome("x/file"), inHome("x/y/moved"), &error));
  EXPECT_EQ(readFile(inHome("x/y/moved")), "f");
  writeFile(inHome("x/other"), "o");
  EXPECT_FALSE(fm.moveItemAtPath(inHome("x/other"), inHome("x/y/moved"), &error));
  EXPECT_EQ(readFile(inHome("x/y/moved")), "f");

  EXPECT_TRUE(fm.removeItemAtPath(inHome("x"), &error));
  EXPECT_FALSE(exists(inHome("x")));
  EXPECT_FALSE(fm.removeItemAtPath(inHome("x"), &error));
  EXPECT_EQ(error.code, NSFileNoSuchFileError);
}

TEST_F(NSFileManagerTest, AtomicWritesReplaceWholeFilesAndLeaveNothingBehind) {
  std::string file = inHome("Library/Preferences/p.plist");
  writeFile(file, "first");
  ::chmod(file.c_str(), 0640);
  ASSERT_TRUE(writeFileContentsAtomically(file, "second"));
  EXPECT_EQ(readFile(file), "second");
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replaced file's permissions are kept";
  EXPECT_EQ(fm.contentsOfDirectoryAtPath(inHome("Library/Preferences"))->size(), 1u);
  NSError error;
  EXPECT_FALSE(writeFileContentsAtomically(inHome("no/folder/f"), "x", &error));
  EXPECT_FALSE(readFileContents(inHome("Documents"), &error)) << "a folder is not a file";
  ASSERT_EQ(::mkfifo(inHome("tmp/pipe").c_str(), 0600), 0);
  EXPECT_FALSE(readFileContents(inHome("tmp/pipe"))) << "a pipe is refused, not waited on";
  EXPECT_TRUE(fm.createFileAtPath(inHome("tmp/bytes"), Data{0, 1, 2}));
  EXPECT_EQ(fm.contentsAtPath(inHome("tmp/bytes")).value_or(Data{}), (Data{0, 1, 2}));
}
