#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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

namespace {

// Stops every copy once it has written failAfter bytes, as a full disk would; or cancels it
// there, as work that ran out of time does.
class StoppingFileManager : public NSFileManager {
 public:
  std::uint64_t failAfter = UINT64_MAX;
  bool cancelInstead = false;

  bool shouldProceedCopying(const std::string& item, std::uint64_t bytesCopied, NSError* error) override {
    if (bytesCopied >= failAfter) {
      if (cancelInstead) {
        cancelCopies();
      } else {
        if (error) *error = NSError{NSCocoaErrorDomain, NSFileWriteOutOfSpaceError, "the disk is full", Value()};
        return false;
      }
    }
    return NSFileManager::shouldProceedCopying(item, bytesCopied, error);
  }
};

}  // namespace

// The hidden names a copy stages under: nothing of them may stay behind after any outcome.
static std::vector<std::string> hiddenLeftovers(const std::string& folder) {
  std::vector<std::string> out;
  for (const std::string& name : NSFileManager::defaultManager().contentsOfDirectoryAtPath(folder).value_or(
           std::vector<std::string>{}))
    if (name[0] == '.') out.push_back(name);
  return out;
}

TEST_F(NSFileManagerTest, CopiesStoppedPartWayLeaveTheDestinationAsItWas) {
  // What stands at the destination before, and what is copied over it.
  enum Kind { None, File, Folder };
  struct Case {
    Kind before, source;
    bool replace;  // replaceItemAtPathWithCopyOfItemAtPath rather than copyItemAtPath
  };
  const Case cases[] = {
      {None, File, false},  {None, Folder, false}, {None, File, true},     {File, File, true},
      {Folder, Folder, true}, {Folder, File, true},  {File, Folder, true},
  };
  std::string big(300 * 1024, 'n');
  auto make = [&](Kind kind, const std::string& path, const std::string& text) {
    if (kind == File) writeFile(path, text + big);
    if (kind == Folder) {
      writeFile(path + "/one.db", text + big);
      writeFile(path + "/sub/two.db", text);
    }
    if (kind != None) setModificationDate(path, 700000000.25);
  };
  auto describe = [&](const std::string& path) {
    bool folder = false;
    if (!fm.fileExistsAtPath(path, &folder)) return std::string("<none>");
    if (!folder) return readFile(path).substr(0, 3);
    return readFile(path + "/one.db").substr(0, 3) + "+" + readFile(path + "/sub/two.db");
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << n);
    std::string folder = inHome("Documents/case" + std::to_string(n++));
    std::string source = folder + "/source", destination = folder + "/destination";
    make(c.source, source, "new");
    make(c.before, destination, "old");
    std::string before = describe(destination);

    for (std::uint64_t failAfter : {std::uint64_t{0}, std::uint64_t{100 * 1024}}) {
      for (bool cancel : {false, true}) {
        StoppingFileManager stopping;
        stopping.failAfter = failAfter;
        stopping.cancelInstead = cancel;
        NSError error;
        bool copied = c.replace ? stopping.replaceItemAtPathWithCopyOfItemAtPath(destination, source, &error)
                                : stopping.copyItemAtPath(source, destination, &error);
        EXPECT_FALSE(copied);
        EXPECT_EQ(error.code, cancel ? NSUserCancelledError : NSFileWriteOutOfSpaceError);
        EXPECT_EQ(describe(destination), before);
        EXPECT_TRUE(hiddenLeftovers(folder).empty());
      }
    }
    NSError error;
    ASSERT_TRUE(c.replace ? fm.replaceItemAtPathWithCopyOfItemAtPath(destination, source, &error)
                          : fm.copyItemAtPath(source, destination, &error))
        << error.description();
    EXPECT_EQ(describe(destination), describe(source));
    EXPECT_EQ(modificationDate(destination), 700000000.25) << "the source's date is kept";
    EXPECT_TRUE(hiddenLeftovers(folder).empty());
  }
}

TEST_F(NSFileManagerTest, ErrorsOfAStagedCopyNameTheDestination) {
  writeFile(inHome("tmp/src"), "x");
  NSError error;
  EXPECT_FALSE(fm.replaceItemAtPathWithCopyOfItemAtPath(inHome("tmp/no/folder/dst"), inHome("tmp/src"), &error));
  EXPECT_EQ(error.code, NSFileNoSuchFileError);
  EXPECT_EQ(error.userInfo[NSFilePathErrorKey], Value(inHome("tmp/no/folder/dst")));
  EXPECT_NE(error.localizedDescription.find("\xE2\x80\x9C" "dst" "\xE2\x80\x9D"), std::string::npos)
      << error.localizedDescription;
  EXPECT_FALSE(fm.replaceItemAtPathWithCopyOfItemAtPath(inHome("tmp/dst"), inHome("tmp/none"), &error));
  EXPECT_EQ(error.code, NSFileReadNoSuchFileError);
  EXPECT_FALSE(exists(inHome("tmp/dst")));
}

TEST_F(NSFileManagerTest, RecoveryTidiesWhatAStopLeftBehind) {
  std::string folder = inHome("Library/Caches");
  // A stop while copying: the destination is whole, its unfinished copy beside it.
  writeFile(folder + "/a.db", "whole a");
  writeFile(partialCopyPathFor(folder + "/a.db"), "cut o");
  writeFile(partialCopyPathFor(folder + "/fresh.db") + "/inner", "cut off folder");
  // A stop between setting a folder aside and renaming its copy in: only the old one exists.
  writeFile(setAsidePathFor(folder + "/file__0") + "/1.db", "old folder");
  writeFile(partialCopyPathFor(folder + "/file__0") + "/1.db", "whole new copy, never renamed in");
  // A stop after the copy was renamed in but before the old one was removed.
  writeFile(folder + "/b.db/1.db", "new b");
  writeFile(setAsidePathFor(folder + "/b.db") + "/1.db", "old b");
  // Nothing else is touched.
  writeFile(folder + "/.profile", "p");
  writeFile(folder + "/.x.harbor-aside", "no random part, still a name of its own");

  auto done = recoverInterruptedCopies(folder);
  EXPECT_EQ(done.size(), 5u);
  EXPECT_EQ(readFile(folder + "/a.db"), "whole a");
  EXPECT_EQ(readFile(folder + "/file__0/1.db"), "old folder");
  EXPECT_EQ(readFile(folder + "/b.db/1.db"), "new b");
  EXPECT_EQ(hiddenLeftovers(folder), (std::vector<std::string>{".profile", ".x.harbor-aside"}));
  EXPECT_TRUE(recoverInterruptedCopies(folder).empty()) << "a second pass finds nothing";
  EXPECT_TRUE(recoverInterruptedCopies(inHome("missing")).empty());

  // Names too long to carry whole: a partial copy still gets a unique name; a folder that would
  // need setting aside under an unreadable name is not replaced at all.
  std::string longName(NAME_MAX - 4, 'l');
  EXPECT_LE(lastPathComponent(partialCopyPathFor(folder + "/" + longName)).size(), std::size_t{NAME_MAX});
  EXPECT_TRUE(setAsidePathFor(folder + "/" + longName).empty());
  writeFile(folder + "/" + longName + "/1.db", "old");
  writeFile(folder + "/src/1.db", "new");
  NSError error;
  EXPECT_FALSE(fm.replaceItemAtPathWithCopyOfItemAtPath(folder + "/" + longName, folder + "/src", &error));
  EXPECT_EQ(readFile(folder + "/" + longName + "/1.db"), "old");
}

TEST(InterruptedWriteNames, OnlyTheProjectsOwnTemporaries) {
  struct Case {
    std::string name;
    bool ours;
  };
  const std::vector<Case> cases = {
      {".hbr-1Qr2qB", true},
      {".hbr-aaaaaa", true},
      {".download-Zx09ab", true},
      {".a.db.harbor-partial-0123456789AB", true},
      {".file__0.harbor-aside-abcdef012345", true},
      {".hbr-replaced-0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9", true},
      {".take.wav.recording", true},
      {".hbr-undo-AbC123", true},
      // The page's own names, however close.
      {"hbr-1Qr2qB", false},
      {".hbr-1Qr2q", false},
      {".hbr-1Qr2qBx", false},
      {".hbr-1Qr-qB", false},
      {".download-", false},
      {".hbr-undo-AbC12", false},
      {".hbr-undo-AbC1234", false},
      {".hbr-undo-AbC-23", false},
      {".harbor-partial-0123456789AB", false},
      {".a.harbor-partial-0123456789", false},
      {".a.harbor-partial-0123456789AG", false},
      {".x.harbor-aside", false},
      {".hbr-replaced-not-a-uuid", false},
      {".recording", false},
      {"take.wav.recording", false},
      {".localnotifications.json", false},
      {".localnotifications.json-journal", false},
      {".excluded-from-backup", false},
      {".harbor-sandbox-home", false},
      {"AddressBook.sqlitedb-wal", false},
      {"store.json.unreadable", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isInterruptedWriteName(c.name), c.ours) << c.name;
}

TEST_F(NSFileManagerTest, StartUpSweepRemovesOurTemporariesAnywhereInTheHome) {
  // What stops left in several folders, the page's files and the stores' own files beside them.
  writeFile(inHome("Library/files/.hbr-1Qr2qB"), "cut off write");
  writeFile(inHome("Library/files/.hbr-KmY0mQ"), "");
  writeFile(inHome("Library/files/v.txt"), "the page's file");
  writeFile(inHome("Library/.hbr-ffLgwg"), "{\"half\":");
  writeFile(inHome("Library/localnotifications.json"), "{}");
  writeFile(inHome("Library/localnotifications.json-journal"), "a store's own journal");
  writeFile(inHome("Documents/deep/er/.download-Zx09ab"), "half a download");
  writeFile(inHome("Documents/deep/er/.take.wav.recording"), "RIFF");
  writeFile(inHome("Documents/.page-notes"), "a hidden file of the page");
  std::string partial = partialCopyPathFor(inHome("Library/Caches/file__0"));
  writeFile(partial + "/1.db", "unfinished copy");
  // Set aside with nothing in its place: put back. Set aside beside the new item: removed.
  std::string asideAlone = setAsidePathFor(inHome("Documents/Backups/file__0"));
  writeFile(asideAlone + "/1.db", "old folder");
  writeFile(inHome("Documents/Backups/b.db"), "new b");
  std::string asideBeside = setAsidePathFor(inHome("Documents/Backups/b.db"));
  writeFile(asideBeside, "old b");
  // A link out of the home is never followed, and what it points at is never touched.
  std::string outside = inHome("../outside-the-home");
  writeFile(outside + "/.hbr-AAAAAA", "not ours to sweep");
  ASSERT_EQ(::symlink(outside.c_str(), inHome("Documents/link-out").c_str()), 0);

  auto swept = sweepInterruptedWrites(home());
  std::vector<std::string> removed, putBack;
  for (const auto& left : swept) (left.action == NSSweptLeftoverAction::Removed ? removed : putBack).push_back(left.path);
  // In walking order: names in byte order, each folder's leftovers before its subfolders'.
  EXPECT_EQ(removed, (std::vector<std::string>{asideBeside, inHome("Documents/deep/er/.download-Zx09ab"),
                                               inHome("Documents/deep/er/.take.wav.recording"),
                                               inHome("Library/.hbr-ffLgwg"), partial,
                                               inHome("Library/files/.hbr-1Qr2qB"),
                                               inHome("Library/files/.hbr-KmY0mQ")}));
  EXPECT_EQ(putBack, std::vector<std::string>{asideAlone});
  EXPECT_EQ(readFile(inHome("Documents/Backups/file__0/1.db")), "old folder");
  EXPECT_EQ(readFile(inHome("Documents/Backups/b.db")), "new b");
  EXPECT_EQ(readFile(inHome("Library/files/v.txt")), "the page's file");
  EXPECT_EQ(readFile(inHome("Library/localnotifications.json-journal")), "a store's own journal");
  EXPECT_EQ(readFile(inHome("Documents/.page-notes")), "a hidden file of the page");
  EXPECT_EQ(readFile(outside + "/.hbr-AAAAAA"), "not ours to sweep");
  for (const char* folder : {"Library", "Library/files", "Library/Caches", "Documents/Backups", "Documents/deep/er"}) {
    for (const auto& name : hiddenLeftovers(inHome(folder)))
      EXPECT_FALSE(isInterruptedWriteName(name)) << folder << "/" << name;
  }
  EXPECT_TRUE(sweepInterruptedWrites(home()).empty()) << "a second start finds nothing";
  EXPECT_TRUE(sweepInterruptedWrites(inHome("missing")).empty());
  std::filesystem::remove_all(outside);
}
