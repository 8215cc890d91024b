// The one rule for changing a page's file where it stands (FileWrites.h): the same outcome at
// every position, through links, keeping the file's permissions, attributes and hard links,
// whole or not at all on a full disk, and after a stop at any byte once the sweep has run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "plat/foundation/FileFaults.h"
#include "plat/foundation/FileWrites.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/testing/SandboxTest.h"

namespace plat {
namespace {

constexpr std::uint64_t kAtEnd = kFileWriteAtEnd;
constexpr char kAttribute[] = "user.harbor.test";

class FileWrites : public testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    folder_ = inHome("Documents/w");
    ASSERT_TRUE(NSFileManager::defaultManager().createDirectoryAtPath(folder_, true));
    ASSERT_TRUE(NSFileManager::defaultManager().createDirectoryAtPath(inHome("Library/elsewhere"), true));
  }
  std::string at(const std::string& name) const { return folder_ + "/" + name; }
  static struct stat statOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
  }
  static std::optional<std::string> attribute(const std::string& path) {
    char value[64];
    ssize_t n = ::getxattr(path.c_str(), kAttribute, value, sizeof value);
    if (n < 0) return std::nullopt;
    return std::string(value, static_cast<std::size_t>(n));
  }
  // Names in the folder that are not the files a test made: temporaries or records left behind.
  std::vector<std::string> leftovers(const std::vector<std::string>& mine) {
    std::vector<std::string> found;
    for (const auto& name : NSFileManager::defaultManager().contentsOfDirectoryAtPath(folder_).value_or(
             std::vector<std::string>{}))
      if (std::find(mine.begin(), mine.end(), name) == mine.end()) found.push_back(name);
    return found;
  }
  // A regular file with the permissions 0640 and, where the file system keeps them, an
  // extended attribute; with links > 1, more names for it (in another folder).
  bool attributesKept_ = false;
  void makeFile(const std::string& path, const std::string& contents, int links) {
    ::unlink(path.c_str());
    writeFile(path, contents);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    attributesKept_ = ::setxattr(path.c_str(), kAttribute, "kept", 4, 0) == 0;
    for (int i = 1; i < links; ++i) {
      std::string other = inHome("Library/elsewhere/link" + std::to_string(i));
      ::unlink(other.c_str());
      ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    }
  }

  std::string folder_;
};

std::string withZeros(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '0') c = '\0';
  return out;
}

TEST_F(FileWrites, TheSameOutcomeAtEveryPosition) {
  struct Case {
    std::optional<std::string> old;  // nothing: no file
    std::uint64_t position;
    std::string bytes;
    std::optional<std::string> expected;  // nothing: still no file
  };
  const std::vector<Case> cases = {
      {std::nullopt, 0, "new", "new"},
      {std::nullopt, 5, "new", "new"},
      {std::nullopt, kAtEnd, "new", "new"},
      {std::nullopt, 0, "", std::nullopt},
      {"ABCDEFGHIJ", 0, "abc", "abc"},
      {"ABCDEFGHIJ", 2, "abc", "ABabc"},
      {"ABCDEFGHIJ", 9, "abc", "ABCDEFGHIabc"},
      {"ABCDEFGHIJ", 10, "abc", "ABCDEFGHIJabc"},
      {"ABCDEFGHIJ", kAtEnd, "abc", "ABCDEFGHIJabc"},
      {"ABCD", 6, "x", "ABCD" + withZeros("00") + "x"},
      {"ABCDEFGHIJ", 4, "", "ABCD"},
      {"ABCDEFGHIJ", 0, "", ""},
      {"ABCD", 6, "", "ABCD" + withZeros("00")},
      {"", 0, "abc", "abc"},
  };
  for (int links : {1, 3}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.old ? "\"" + *c.old + "\"" : "no file") + " at " +
                   (c.position == kAtEnd ? "the end" : std::to_string(c.position)) + ", \"" + c.bytes + "\", " +
                   std::to_string(links) + " names");
      if (!c.old && links > 1) continue;
      std::string path = at("f.txt");
      ::unlink(path.c_str());
      if (c.old) makeFile(path, *c.old, links);
      ino_t inode = statOf(path).st_ino;
      NSError error;
      ASSERT_TRUE(writeFileContentsAtPosition(path, c.position, c.bytes, &error)) << error.description();
      if (!c.expected) {
        EXPECT_FALSE(exists(path));
        continue;
      }
      EXPECT_EQ(readFile(path), *c.expected);
      if (!c.old) {
        EXPECT_EQ(statOf(path).st_mode & 07777, 0644u) << "a new file";
      } else {
        EXPECT_EQ(statOf(path).st_mode & 07777, 0640u);
        if (attributesKept_) {
          EXPECT_EQ(attribute(path), "kept");
        }
      }
      for (int i = 1; i < links; ++i) {
        std::string other = inHome("Library/elsewhere/link" + std::to_string(i));
        EXPECT_EQ(readFile(other), *c.expected) << "every name shows the new contents";
        EXPECT_EQ(statOf(other).st_ino, statOf(path).st_ino);
        EXPECT_EQ(statOf(path).st_nlink, static_cast<nlink_t>(links));
      }
      if (links > 1) {
        EXPECT_EQ(statOf(path).st_ino, inode) << "the same file";
      }
      EXPECT_EQ(leftovers({"f.txt"}), std::vector<std::string>{});
    }
  }
}

TEST_F(FileWrites, TheLocationFollowsLinksToTheFileTheyName) {
  writeFile(at("real.txt"), "real");
  ASSERT_EQ(::symlink("real.txt", at("one").c_str()), 0);
  ASSERT_EQ(::symlink(at("one").c_str(), at("two").c_str()), 0);
  ASSERT_EQ(::symlink("not-yet.txt", at("dangling").c_str()), 0);
  ASSERT_EQ(::symlink("loop-b", at("loop-a").c_str()), 0);
  ASSERT_EQ(::symlink("loop-a", at("loop-b").c_str()), 0);
  ASSERT_EQ(::symlink(folder_.c_str(), inHome("Documents/folder-link").c_str()), 0);
  struct Case {
    std::string path;
    std::optional<std::string> location;
  } cases[] = {
      {at("real.txt"), at("real.txt")},
      {at("two"), at("real.txt")},
      {at("dangling"), at("not-yet.txt")},
      {inHome("Documents/folder-link/one"), at("real.txt")},
      {inHome("Documents/folder-link/new.txt"), at("new.txt")},
      {at("sub/../real.txt"), at("real.txt")},
      {at("loop-a"), std::nullopt},
      {"relative.bin", std::nullopt},
      {"x/y.bin", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(fileWriteLocation(c.path), c.location) << c.path;

  // Written through the links: they stay links, and the file they name changes.
  auto location = fileWriteLocation(at("two"));
  ASSERT_TRUE(location);
  ASSERT_TRUE(writeFileContentsAtPosition(*location, 0, "through"));
  EXPECT_TRUE(S_ISLNK(statOf(at("two")).st_mode));
  EXPECT_EQ(readFile(at("real.txt")), "through");
  ASSERT_TRUE(writeFileContentsAtPosition(*fileWriteLocation(at("dangling")), 0, "made"));
  EXPECT_EQ(readFile(at("not-yet.txt")), "made");
}

TEST_F(FileWrites, AnythingButARegularFileIsRefusedAndLeftAsItIs) {
  ASSERT_EQ(::mkdir(at("folder").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0644), 0);
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address {};
  address.sun_family = AF_UNIX;
  std::string socketPath = at("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  struct Kind {
    const char* name;
    bool (*is)(mode_t);
    const char* why;
  } kinds[] = {{"folder", [](mode_t m) { return S_ISDIR(m); }, "it is a folder"},
               {"fifo", [](mode_t m) { return S_ISFIFO(m); }, "it is not a regular file"},
               {"socket", [](mode_t m) { return S_ISSOCK(m); }, "it is not a regular file"}};
  for (const auto& kind : kinds) {
    for (std::uint64_t position : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{3}, kAtEnd}) {
      SCOPED_TRACE(std::string(kind.name) + " at " + std::to_string(position));
      NSError error;
      EXPECT_FALSE(writeFileContentsAtPosition(at(kind.name), position, "x", &error));
      EXPECT_NE(error.localizedDescription.find(kind.why), std::string::npos) << error.localizedDescription;
      EXPECT_TRUE(kind.is(statOf(at(kind.name)).st_mode));
    }
    StagedFileContents staged;
    EXPECT_FALSE(staged.begin(at(kind.name))) << kind.name;
  }
  ::close(sock);
  EXPECT_EQ(leftovers({"folder", "fifo", "socket"}), std::vector<std::string>{});

  // What became a pipe while a download was under way is refused too, and nothing is left.
  StagedFileContents staged;
  ASSERT_TRUE(staged.begin(at("late")));
  ASSERT_TRUE(staged.append("abc", 3));
  ASSERT_EQ(::mkfifo(at("late").c_str(), 0644), 0);
  EXPECT_FALSE(staged.commit());
  EXPECT_TRUE(S_ISFIFO(statOf(at("late")).st_mode));
  EXPECT_EQ(leftovers({"folder", "fifo", "socket", "late"}), std::vector<std::string>{});
}

// Without a file beside it, a write could not be kept whole: refused at every position. A cut
// alone is one system call and needs none.
TEST_F(FileWrites, AFolderThatTakesNoNewFileRefusesEveryWrite) {
  for (int links : {1, 2}) {
    makeFile(at("f.txt"), "ABCDEFGHIJ", links);
    FileFaultPlan plan;
    plan.foldersReadOnly = true;
    plan.onlyInside = folder_;
    ScopedFileFaults faults(plan);
    for (std::uint64_t position : {std::uint64_t{0}, std::uint64_t{3}, std::uint64_t{10}, kAtEnd}) {
      SCOPED_TRACE(std::to_string(links) + " names, at " + std::to_string(position));
      NSError error;
      EXPECT_FALSE(writeFileContentsAtPosition(at("f.txt"), position, "abc", &error));
      EXPECT_EQ(error.code, NSFileWriteNoPermissionError);
      EXPECT_NE(error.localizedDescription.find("no file can be made beside it"), std::string::npos)
          << error.localizedDescription;
      EXPECT_EQ(readFile(at("f.txt")), "ABCDEFGHIJ");
    }
    EXPECT_FALSE(writeFileContentsAtPosition(at("new.txt"), 0, "abc"));
    EXPECT_FALSE(exists(at("new.txt")));
    EXPECT_TRUE(writeFileContentsAtPosition(at("f.txt"), 4, ""));
    EXPECT_EQ(readFile(at("f.txt")), "ABCD");
    EXPECT_EQ(leftovers({"f.txt"}), std::vector<std::string>{});
  }
}

TEST_F(FileWrites, AFullDiskLeavesTheFileAsItWas) {
  const std::string old = "ABCDEFGHIJKLMNOPQRST";
  const std::string bytes(30, 'x');
  for (int links : {1, 2}) {
    for (std::uint64_t position : {std::uint64_t{0}, std::uint64_t{5}, std::uint64_t{18}, kAtEnd}) {
      std::string expected = old.substr(0, position == kAtEnd ? old.size() : position) + bytes;
      // From no room at all to room for everything, one byte more each time.
      bool succeeded = false;
      for (std::uint64_t room = 0; !succeeded && room < 400; ++room) {
        SCOPED_TRACE(std::to_string(links) + " names, at " + std::to_string(position) + ", room for " +
                     std::to_string(room));
        makeFile(at("f.txt"), old, links);
        FileFaultPlan plan;
        plan.diskFullAfterBytes = room;
        ScopedFileFaults faults(plan);
        NSError error;
        succeeded = writeFileContentsAtPosition(at("f.txt"), position, bytes, &error);
        if (succeeded) {
          EXPECT_EQ(readFile(at("f.txt")), expected);
        } else {
          EXPECT_EQ(error.code, NSFileWriteOutOfSpaceError) << error.description();
          EXPECT_EQ(readFile(at("f.txt")), old);
        }
        EXPECT_EQ(leftovers({"f.txt"}), std::vector<std::string>{});
      }
      EXPECT_TRUE(succeeded);
    }
  }
}

// A child process stops itself (SIGKILL) after exactly so many bytes of its writes, at every
// byte in turn; the next start's sweep then finds the file as it was or as the write made it,
// under every name, and nothing left beside it.
TEST_F(FileWrites, AStopAtAnyByteIsUndoneByTheNextStart) {
  const std::string old = "ABCDEFGHIJKLMNOPQRST";
  const std::string bytes(24, 'x');
  struct Case {
    const char* what;
    int links;
    std::uint64_t position;
  } cases[] = {{"a whole write", 1, 0}, {"a whole write of a file with two names", 2, 0},
               {"a write that keeps the beginning", 1, 6}, {"an append", 2, kAtEnd}};
  for (const auto& c : cases) {
    std::string expected = old.substr(0, c.position == kAtEnd ? old.size() : c.position) + bytes;
    bool finished = false;
    int undone = 0;
    for (std::uint64_t stop = 0; !finished && stop < 400; ++stop) {
      SCOPED_TRACE(std::string(c.what) + ", stopped after " + std::to_string(stop) + " bytes");
      makeFile(at("f.txt"), old, c.links);
      pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        FileFaultPlan plan;
        plan.stopAfterBytes = stop;
        setFileFaultPlan(plan);
        bool ok = writeFileContentsAtPosition(at("f.txt"), c.position, bytes);
        ::_exit(ok ? 0 : 1);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      finished = WIFEXITED(status);
      if (finished) {
        EXPECT_EQ(WEXITSTATUS(status), 0);
      }
      for (const auto& left : sweepInterruptedWrites(home())) {
        if (left.action != NSSweptLeftoverAction::Undone) continue;
        ++undone;
        EXPECT_EQ(left.file, at("f.txt"));
      }
      std::string now = readFile(at("f.txt"));
      EXPECT_TRUE(now == old || now == expected) << now;
      if (finished) {
        EXPECT_EQ(now, expected);
      }
      for (int i = 1; i < c.links; ++i) EXPECT_EQ(readFile(inHome("Library/elsewhere/link1")), now);
      EXPECT_EQ(statOf(at("f.txt")).st_mode & 07777, 0640u);
      EXPECT_EQ(leftovers({"f.txt"}), std::vector<std::string>{});
    }
    EXPECT_TRUE(finished) << c.what;
    // The whole write of a file with one name is a rename; the others change the file itself,
    // and a stop in the middle of that is undone by the sweep.
    if (c.links > 1 || c.position != 0) {
      EXPECT_GT(undone, 0) << c.what;
    }
  }
}

// Records the sweep must not apply: one cut short while it was written, and one whose file was
// replaced since (its inode is not the record's).
TEST_F(FileWrites, TheSweepAppliesOnlyAWholeRecordToItsOwnFile) {
  const std::string old = "ABCDEFGHIJ";
  for (bool replaced : {false, true}) {
    // The record is written first (a header, the name and the bytes kept), then the file: a stop
    // after 30 bytes is inside the record, one after 80 is inside the change of the file.
    for (std::uint64_t stop : {std::uint64_t{30}, std::uint64_t{80}}) {
      makeFile(at("f.txt"), old, 2);
      pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        FileFaultPlan plan;
        plan.stopAfterBytes = stop;
        setFileFaultPlan(plan);
        writeFileContentsAtPosition(at("f.txt"), 2, std::string(40, 'y'));
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status)) << "stopped after " << stop;
      if (replaced) {
        ASSERT_EQ(::unlink(at("f.txt").c_str()), 0);
        writeFile(at("f.txt"), "a new file of the user's");
      }
      auto swept = sweepInterruptedWrites(home());
      ASSERT_EQ(swept.size(), 1u);
      EXPECT_TRUE(isUndoRecordName(lastPathComponent(swept[0].path)));
      bool applies = stop == 80 && !replaced;
      EXPECT_EQ(swept[0].action, applies ? NSSweptLeftoverAction::Undone : NSSweptLeftoverAction::Removed)
          << "stopped after " << stop << (replaced ? ", file replaced" : "");
      EXPECT_EQ(readFile(at("f.txt")), replaced ? "a new file of the user's" : old);
      EXPECT_EQ(leftovers({"f.txt"}), std::vector<std::string>{});
    }
  }
}

TEST_F(FileWrites, StagedContentsGoInPlaceByTheSameRule) {
  struct Case {
    const char* what;
    int links;  // 0: no file yet
  } cases[] = {{"a new file", 0}, {"a file with one name", 1}, {"a file with three names", 3}};
  std::string contents(200000, 'd');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ::unlink(at("t.bin").c_str());
    if (c.links > 0) makeFile(at("t.bin"), "old", c.links);
    ino_t inode = statOf(at("t.bin")).st_ino;
    StagedFileContents staged;
    ASSERT_TRUE(staged.begin(at("t.bin")));
    for (std::size_t i = 0; i < contents.size(); i += 50000) ASSERT_TRUE(staged.append(contents.data() + i, 50000));
    EXPECT_EQ(readFile(at("t.bin")), c.links ? "old" : "<missing>") << "nothing changes before the commit";
    ASSERT_TRUE(staged.commit());
    EXPECT_EQ(readFile(at("t.bin")), contents);
    EXPECT_EQ(statOf(at("t.bin")).st_mode & 07777, c.links ? 0640u : 0644u);
    if (c.links && attributesKept_) {
      EXPECT_EQ(attribute(at("t.bin")), "kept");
    }
    if (c.links > 1) {
      EXPECT_EQ(statOf(at("t.bin")).st_ino, inode);
      EXPECT_EQ(readFile(inHome("Library/elsewhere/link2")), contents);
    }
    EXPECT_EQ(leftovers({"t.bin"}), std::vector<std::string>{});
  }
  // Discarded, or dropped unfinished: nothing changes and nothing stays.
  {
    StagedFileContents staged;
    ASSERT_TRUE(staged.begin(at("t.bin")));
    ASSERT_TRUE(staged.append("partial", 7));
  }
  StagedFileContents staged;
  ASSERT_TRUE(staged.begin(at("t.bin")));
  staged.discard();
  EXPECT_FALSE(staged.commit());
  EXPECT_EQ(readFile(at("t.bin")), contents);
  EXPECT_EQ(leftovers({"t.bin"}), std::vector<std::string>{});
}

// The writer that a test holds at its first write, on its own thread.
thread_local bool tHoldAtFirstWrite = false;

// Two writers of a path where no file stands yet: one is held at its first write (its new
// contents half made beside the file) while the other runs whole and makes the file. Every
// write that answered success is then in the file, as if one had come after the other.
TEST_F(FileWrites, WritersOfANewFileTakeTurns) {
  using Writer = std::function<bool(const std::string&)>;
  auto write = [](std::uint64_t position, std::string bytes) -> Writer {
    return [=](const std::string& path) {
      NSError error;
      bool ok = writeFileContentsAtPosition(path, position, bytes, &error);
      EXPECT_TRUE(ok) << error.description();
      return ok;
    };
  };
  auto download = [](std::string bytes) -> Writer {
    return [=](const std::string& path) {
      StagedFileContents staged;
      return staged.begin(path) && staged.append(bytes.data(), bytes.size()) && staged.commit();
    };
  };
  const std::string a(10, 'A'), b(10, 'B'), d(20, 'D');
  struct Case {
    const char* what;
    Writer held, other;
    std::string expected;
  } cases[] = {
      {"a write at 10 held while one at 0 makes the file", write(10, b), write(0, a), a + b},
      {"a write at 0 held while one at 10 makes the file", write(0, a), write(10, b), a},
      {"two appends", write(kAtEnd, "first;"), write(kAtEnd, "second;"), "second;first;"},
      {"a write held while a download makes the file", write(10, b), download(d), d.substr(0, 10) + b},
      {"a download held while a write makes the file", download(d), write(10, b), d},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = at("new.txt");
    ::unlink(path.c_str());
    std::promise<void> reached, go;
    std::shared_future<void> released = go.get_future().share();
    FileFaultPlan plan;
    plan.beforeWrite = [&reached, released] {
      if (!tHoldAtFirstWrite) return;
      tHoldAtFirstWrite = false;
      reached.set_value();
      released.wait_for(std::chrono::seconds(30));
    };
    ScopedFileFaults faults(plan);
    bool heldOk = false;
    std::thread held([&] {
      tHoldAtFirstWrite = true;
      heldOk = c.held(path);
    });
    bool heldThere = reached.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    EXPECT_TRUE(heldThere) << "the held writer reached its first write";
    bool otherOk = heldThere && c.other(path);
    go.set_value();
    held.join();
    EXPECT_TRUE(heldOk);
    EXPECT_TRUE(otherOk);
    EXPECT_EQ(readFile(path), c.expected);
    EXPECT_EQ(leftovers({"new.txt"}), std::vector<std::string>{});
  }
}

// A new file gets what the umask leaves of 0666, and a new folder of 0777, as open(2) and
// mkdir(2) make them, whichever way it is made; an existing file keeps its own permissions.
TEST_F(FileWrites, NewFilesAndFoldersFollowTheUmask) {
  auto& files = NSFileManager::defaultManager();
  for (mode_t mask : {mode_t{077}, mode_t{027}, mode_t{022}, mode_t{002}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    std::filesystem::remove_all(folder_);
    ASSERT_TRUE(files.createDirectoryAtPath(folder_, true));
    testing::ScopedUmask umask(mask);
    const mode_t file = 0666 & ~mask, folder = 0777 & ~mask;
    EXPECT_EQ(newFileMode(), file);
    ASSERT_TRUE(writeFileContentsAtPosition(at("at0.txt"), 0, "w"));
    ASSERT_TRUE(writeFileContentsAtPosition(at("at5.txt"), 5, "w"));
    ASSERT_TRUE(writeFileContentsAtPosition(at("end.txt"), kAtEnd, "w"));
    StagedFileContents staged;
    ASSERT_TRUE(staged.begin(at("download.bin")) && staged.append("d", 1) && staged.commit());
    ASSERT_TRUE(writeFileContentsAtomically(at("whole.plist"), "p"));
    ASSERT_TRUE(files.createDirectoryAtPath(at("one"), false));
    ASSERT_TRUE(files.createDirectoryAtPath(at("two/deep"), true));
    for (const char* name : {"at0.txt", "at5.txt", "end.txt", "download.bin", "whole.plist"})
      EXPECT_EQ(statOf(at(name)).st_mode & 07777, file) << name;
    for (const char* name : {"one", "two", "two/deep"}) EXPECT_EQ(statOf(at(name)).st_mode & 07777, folder) << name;

    writeFile(at("own.txt"), "old");
    ASSERT_EQ(::chmod(at("own.txt").c_str(), 0640), 0);
    ASSERT_TRUE(writeFileContentsAtPosition(at("own.txt"), 0, "new"));
    ASSERT_TRUE(writeFileContentsAtomically(at("own.txt"), "newer"));
    EXPECT_EQ(statOf(at("own.txt")).st_mode & 07777, 0640u);
  }
}

}  // namespace
}  // namespace plat
