// The file layer's platform pieces: the fault seam tests use in place of a full disk or a
// refusing volume, the free space of a volume, exclusion from backup without user attributes,
// a sandbox home reached through a link, and atomic writes of names at the length limit.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "plat/foundation/FileFaults.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURL.h"
#include "plat/testing/SandboxTest.h"

namespace plat {
namespace {

FileFaultPlan diskFullAfter(std::uint64_t bytes) {
  FileFaultPlan plan;
  plan.diskFullAfterBytes = bytes;
  return plan;
}

class FileFaults : public testing::SandboxTest {
 protected:
  NSFileManager& fm() { return NSFileManager::defaultManager(); }
};

TEST_F(FileFaults, DiskFullCutsWritesAtTheLimit) {
  std::string path = inHome("Documents/big.bin");
  std::string bytes(100, 'x');
  {
    ScopedFileFaults faults(diskFullAfter(40));
    // An atomic write that does not fit leaves nothing behind, not even its temporary file.
    NSError error;
    EXPECT_FALSE(writeFileContentsAtomically(path, bytes, &error));
    EXPECT_EQ(error.code, NSFileWriteOutOfSpaceError);
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(fm().contentsOfDirectoryAtPath(inHome("Documents"))->size(), 0u);
  }
  {
    // The write that crosses the limit is cut short; the next one meets a full disk.
    ScopedFileFaults faults(diskFullAfter(40));
    int fd = fileio::open(path, O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fileio::write(fd, bytes.data(), 30), 30);
    EXPECT_EQ(fileio::write(fd, bytes.data(), 30), 10);
    EXPECT_EQ(fileio::write(fd, bytes.data(), 30), -1);
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
    EXPECT_EQ(readFile(path).size(), 40u);
  }
  // Without a plan, writes go through.
  EXPECT_TRUE(writeFileContentsAtomically(path, bytes));
  EXPECT_EQ(readFile(path), bytes);
}

TEST_F(FileFaults, DeniedChangesRefuseEveryKindOfChange) {
  writeFile(inHome("Documents/a.txt"), "keep");
  writeFile(inHome("tmp/t.txt"), "other");
  FileFaultPlan plan;
  plan.denyChanges = true;
  plan.onlyInside = inHome("Documents");
  ScopedFileFaults faults(plan);
  NSError error;
  EXPECT_FALSE(writeFileContentsAtomically(inHome("Documents/a.txt"), "new", &error));
  EXPECT_EQ(error.code, NSFileWriteNoPermissionError);
  EXPECT_FALSE(fm().createDirectoryAtPath(inHome("Documents/d"), false, &error));
  EXPECT_EQ(error.code, NSFileWriteNoPermissionError);
  EXPECT_FALSE(fm().removeItemAtPath(inHome("Documents/a.txt"), &error));
  EXPECT_EQ(error.code, NSFileWriteNoPermissionError);
  EXPECT_FALSE(fm().copyItemAtPath(inHome("tmp/t.txt"), inHome("Documents/t.txt"), &error));
  EXPECT_FALSE(fm().moveItemAtPath(inHome("Documents/a.txt"), inHome("tmp/a.txt"), &error));
  int fd = fileio::open(inHome("Documents/a.txt"), O_RDONLY);
  EXPECT_GE(fd, 0) << "reading is no change";
  if (fd >= 0) ::close(fd);
  EXPECT_EQ(readFile(inHome("Documents/a.txt")), "keep");
  // Outside the folder the plan names, nothing is refused.
  EXPECT_TRUE(writeFileContentsAtomically(inHome("tmp/t.txt"), "changed"));
  EXPECT_EQ(readFile(inHome("tmp/t.txt")), "changed");
}

// As on a disk, bytes written over bytes a file already has take no new space.
TEST_F(FileFaults, AFullDiskCountsOnlyNewSpace) {
  std::string path = inHome("Documents/f.bin");
  writeFile(path, std::string(100, 'o'));
  std::string bytes(100, 'x');
  ScopedFileFaults faults(diskFullAfter(10));
  int fd = fileio::open(path, O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(fileio::pwriteAll(fd, bytes.data(), 100, 0)) << "all over existing bytes";
  EXPECT_EQ(fileio::pwrite(fd, bytes.data(), 30, 90), 20) << "10 existing, then the 10 new bytes left";
  EXPECT_EQ(fileio::pwrite(fd, bytes.data(), 1, 110), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_TRUE(fileio::pwriteAll(fd, bytes.data(), 50, 20)) << "overwriting still goes";
  ::close(fd);
  EXPECT_EQ(readFile(path), std::string(110, 'x'));
}

// A folder that keeps its entries: no name is made, renamed or removed in it, while its files
// may still be written; other folders are untouched.
TEST_F(FileFaults, FoldersReadOnlyKeepTheirEntries) {
  std::string locked = inHome("Documents/locked");
  writeFile(locked + "/f.txt", "f");
  writeFile(inHome("tmp/free.txt"), "t");
  FileFaultPlan plan;
  plan.foldersReadOnly = true;
  plan.onlyInside = locked;
  ScopedFileFaults faults(plan);
  auto opened = [](int fd) {
    if (fd >= 0) ::close(fd);
    return fd >= 0;
  };
  std::string temporary = locked + "/.hbr-XXXXXX";
  EXPECT_EQ(fileio::mkstemp(temporary), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_FALSE(opened(fileio::open(locked + "/new.txt", O_WRONLY | O_CREAT, 0644)));
  EXPECT_TRUE(opened(fileio::open(locked + "/f.txt", O_WRONLY | O_CREAT, 0644))) << "it is there already";
  EXPECT_TRUE(opened(fileio::open(locked + "/f.txt", O_RDWR)));
  EXPECT_EQ(fileio::mkdir(locked + "/d", 0755), -1);
  EXPECT_EQ(fileio::symlink("f.txt", locked + "/l"), -1);
  EXPECT_EQ(fileio::rename(locked + "/f.txt", locked + "/g.txt"), -1);
  EXPECT_EQ(fileio::rename(inHome("tmp/free.txt"), locked + "/free.txt"), -1);
  EXPECT_EQ(fileio::renameNoReplace(inHome("tmp/free.txt"), locked + "/free.txt"), -1);
  EXPECT_EQ(fileio::unlink(locked + "/f.txt"), -1);
  EXPECT_EQ(readFile(locked + "/f.txt"), "f");
  EXPECT_EQ(fm().contentsOfDirectoryAtPath(locked)->size(), 1u);
  EXPECT_TRUE(opened(fileio::open(inHome("tmp/new.txt"), O_WRONLY | O_CREAT, 0644)));
  EXPECT_EQ(fileio::rename(inHome("tmp/new.txt"), inHome("tmp/renamed.txt")), 0);
  // A rename that takes only a free name: an existing one is refused and both files stay.
  EXPECT_EQ(fileio::renameNoReplace(inHome("tmp/renamed.txt"), inHome("tmp/free.txt")), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(readFile(inHome("tmp/free.txt")), "t");
  EXPECT_EQ(fileio::renameNoReplace(inHome("tmp/renamed.txt"), inHome("tmp/taken.txt")), 0);
  EXPECT_FALSE(exists(inHome("tmp/renamed.txt")));
}

// A process that stops after exactly so many bytes: the write that crosses the line is cut there.
TEST_F(FileFaults, AStopAfterSoManyBytes) {
  std::string path = inHome("Documents/stopped.bin");
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileFaultPlan plan;
    plan.stopAfterBytes = 25;
    setFileFaultPlan(plan);
    int fd = fileio::open(path, O_WRONLY | O_CREAT, 0644);
    std::string bytes(10, 's');
    for (int i = 0; i < 10; ++i) fileio::writeAll(fd, bytes.data(), bytes.size());
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(readFile(path), std::string(25, 's'));
}

TEST_F(FileFaults, FreeSpaceOfAVolume) {
  auto attributes = fm().attributesOfFileSystemForPath(inHome("Documents"));
  ASSERT_TRUE(attributes);
  EXPECT_GT(attributes->size, 0u);
  EXPECT_LE(attributes->freeSize, attributes->size);
  NSError error;
  EXPECT_FALSE(fm().attributesOfFileSystemForPath(inHome("missing/folder"), &error));
  EXPECT_EQ(error.code, NSFileReadNoSuchFileError);
}

TEST_F(FileFaults, ExclusionFromBackupWithoutUserAttributes) {
  writeFile(inHome("Documents/a.txt"), "a");
  writeFile(inHome("Documents/b.txt"), "b");
  auto a = NSURL::fileURLWithPath(inHome("Documents/a.txt"));
  auto b = NSURL::fileURLWithPath(inHome("Documents/b.txt"));
  FileFaultPlan plan;
  plan.noExtendedAttributes = true;
  ScopedFileFaults faults(plan);
  EXPECT_TRUE(a->setResourceValue(Value(true), NSURLIsExcludedFromBackupKey));
  EXPECT_TRUE(b->setResourceValue(Value(true), NSURLIsExcludedFromBackupKey));
  EXPECT_TRUE(b->setResourceValue(Value(false), NSURLIsExcludedFromBackupKey));
  EXPECT_EQ(a->resourceValue(NSURLIsExcludedFromBackupKey).value_or(Value()), Value(true));
  EXPECT_EQ(b->resourceValue(NSURLIsExcludedFromBackupKey).value_or(Value()), Value(false));
  // The record names the marked item by its real path, and only it.
  EXPECT_EQ(readFile(NSURLBackupExclusionRecordPath()), inHome("Documents/a.txt") + "\n");
  NSError error;
  auto missing = NSURL::fileURLWithPath(inHome("Documents/none.txt"));
  EXPECT_FALSE(missing->setResourceValue(Value(true), NSURLIsExcludedFromBackupKey, &error));
  EXPECT_EQ(error.code, NSFileNoSuchFileError);
}

TEST_F(FileFaults, HomeReachedThroughALinkIsResolved) {
  std::string link = inHome("Documents/home-link");
  ASSERT_EQ(::symlink(home().c_str(), link.c_str()), 0);
  setHomeDirectory(link);
  EXPECT_EQ(NSHomeDirectory(), home());
  EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true).front(),
            inHome("Documents"));
}

TEST_F(FileFaults, AtomicWritesOfNamesAtTheLengthLimit) {
  for (std::size_t length : {248u, 250u, 255u}) {
    std::string path = inHome("Documents/" + std::string(length - 4, 'n') + ".txt");
    NSError error;
    EXPECT_TRUE(writeFileContentsAtomically(path, "whole", &error)) << length << ": " << error.description();
    EXPECT_TRUE(writeFileContentsAtomically(path, "again", &error)) << length << ": " << error.description();
    EXPECT_EQ(readFile(path), "again");
  }
}

}  // namespace
}  // namespace plat
