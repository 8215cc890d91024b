// The runner and the application's sandbox: which folders it takes for a home, which bundle
// identifiers it refuses, and the web storage surviving the runner being stopped at random
// moments while it copies. The process-level cases run the harbor executable itself.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "HarborRunner.h"
#include "RunnerProcess.h"
#include "SandboxHomeLock.h"
#include "plat/foundation/FileWrites.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/PropertyList.h"
#include "plat/foundation/Strings.h"
#include "plat/testing/SandboxTest.h"

namespace harbor::runner {
namespace {

class RunnerSandbox : public plat::testing::SandboxTest {
 protected:
  // A bundle folder under the test's own folder: Info.plist with the identifier, config.xml
  // backing web storage up locally, and a page that says when it has loaded.
  std::string makeBundle(const std::string& name, const plat::Value& identifier) {
    std::string bundle = inHome(name);
    plat::Dictionary info;
    if (!identifier.isAbsent()) info.set("CFBundleIdentifier", identifier);
    writeFile(bundle + "/Info.plist", "");
    EXPECT_TRUE(plat::plist::writeToFile(plat::Value(info), bundle + "/Info.plist"));
    writeFile(bundle + "/config.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.harbor.stoptest" version="1.0.0">
  <content src="index.html" />
  <preference name="BackupWebStorage" value="local" />
  <feature name="LocalStorage"><param name="ios-package" value="HBRLocalStorage" /></feature>
</widget>
)");
    writeFile(bundle + "/www/harbor.js", readFile(std::string(HARBOR_SOURCE_DIR) + "/www/harbor.js"));
    writeFile(bundle + "/www/index.html",
              "<html><body><script src=\"harbor.js\"></script>"
              "<script>console.log('stoptest: loaded');</script></body></html>");
    return bundle;
  }
};

TEST_F(RunnerSandbox, OnlyItsOwnNewOrEmptyFoldersBecomeHomes) {
  struct Case {
    const char* name;
    std::vector<std::string> files;  // made first (a trailing "/" makes a folder)
    bool taken;
    const char* refusal;
  };
  const Case cases[] = {
      {"missing/deeper", {}, true, ""},
      {"empty", {"empty/"}, true, ""},
      {"made-by-harbor", {"made-by-harbor/.harbor-sandbox-home", "made-by-harbor/Documents/notes.txt"}, true, ""},
      {"made-before-markers",
       {"made-before-markers/Documents/", "made-before-markers/Library/", "made-before-markers/tmp/"},
       true,
       ""},
      {"users-own", {"users-own/notes.txt", "users-own/tmp/keep"}, false,
       "is not a sandbox home: it holds other files (such as \"notes.txt\")"},
      {"made-before-markers-with-photos",
       {"made-before-markers-with-photos/Documents/", "made-before-markers-with-photos/Library/",
        "made-before-markers-with-photos/Media/DCIM/", "made-before-markers-with-photos/tmp/"},
       true,
       ""},
      {"sandbox-folders-missing-one", {"sandbox-folders-missing-one/Documents/", "sandbox-folders-missing-one/tmp/x"},
       false,
       "is not a sandbox home"},
      {"sandbox-and-more",
       {"sandbox-and-more/Documents/", "sandbox-and-more/Library/", "sandbox-and-more/tmp/", "sandbox-and-more/x"},
       false, "is not a sandbox home"},
      {"marker-is-a-folder", {"marker-is-a-folder/.harbor-sandbox-home/", "marker-is-a-folder/tmp/keep"}, false,
       "is not a sandbox home"},
      {"a-file", {"a-file"}, false, "is not a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string root = inHome("homes");
    for (const std::string& file : c.files) {
      if (file.back() == '/')
        ASSERT_TRUE(plat::NSFileManager::defaultManager().createDirectoryAtPath(root + "/" + file, true));
      else
        writeFile(root + "/" + file, "mine");
    }
    std::string home = root + "/" + c.name;
    auto before = plat::NSFileManager::defaultManager().enumeratorAtPath(home);
    auto prepared = prepareSandboxHome(home);
    ASSERT_EQ(prepared.ok(), c.taken) << (prepared ? "" : prepared.error());
    if (c.taken) {
      EXPECT_EQ(*prepared, home);
      EXPECT_TRUE(exists(home + "/.harbor-sandbox-home"));
      for (const char* folder : {"Documents", "Library/Caches", "Library/Preferences", "tmp"})
        EXPECT_TRUE(exists(home + "/" + folder)) << folder;
      auto markerInode = [&] {
        struct stat st {};
        return ::stat((home + "/.harbor-sandbox-home").c_str(), &st) == 0 ? st.st_ino : 0;
      };
      EXPECT_NE(readFile(home + "/.harbor-sandbox-home"), "mine") << "a marker of other words is written anew";
      auto marker = markerInode();
      EXPECT_TRUE(prepareSandboxHome(home)) << "taken again the next time";
      EXPECT_EQ(markerInode(), marker) << "its own marker is left as it is";
    } else {
      EXPECT_NE(prepared.error().find(home + " " + c.refusal), std::string::npos) << prepared.error();
      EXPECT_EQ(plat::NSFileManager::defaultManager().enumeratorAtPath(home), before) << "nothing touched";
    }
  }
}

TEST_F(RunnerSandbox, UnusableBundleIdentifiersAreNamedInTheRefusal) {
  EXPECT_FALSE(bundleIdentifierProblem(plat::Value()));
  EXPECT_FALSE(bundleIdentifierProblem(plat::Value("org.harbor.hello")));
  struct Case {
    plat::Value identifier;
    std::string shown;
  };
  const Case cases[] = {
      {plat::Value(".."), "'..'"},
      {plat::Value("/"), "'/'"},
      {plat::Value(""), "''"},
      {plat::Value("../../../../tmp/victim"), "'../../../../tmp/victim'"},
      {plat::Value(std::string(10000, 'a')), "'" + std::string(64, 'a') + "...'"},
      {plat::Value("a\nb'"), "'a\\nb\\''"},
      {plat::Value(7), "(not a text)"},
  };
  for (const Case& c : cases) {
    auto problem = bundleIdentifierProblem(c.identifier);
    ASSERT_TRUE(problem) << c.shown;
    EXPECT_EQ(problem->rfind("the bundle identifier " + c.shown + " cannot be used: it must be 1 to 200 letters", 0),
              0u)
        << *problem;
  }
}

TEST_F(RunnerSandbox, TheRunnerStopsOnAHostileIdentifierOrAForeignHome) {
  // The identifier climbs from Library/Preferences to a file of the test's own.
  std::string deep = inHome("a/b/c");
  std::string victim = inHome("a/b/c/victim.plist");
  std::string bundle = makeBundle("hostile", plat::Value("../../../victim"));
  ASSERT_EQ(plat::stringByStandardizingPath(deep + "/home/Library/Preferences/../../../victim.plist"), victim);
  {
    RunnerProcess harbor({"--home", deep + "/home", "--run-seconds", "5", "--until", "stoptest: loaded", bundle});
    ASSERT_TRUE(harbor.started());
    EXPECT_EQ(harbor.wait(), 1);
    EXPECT_NE(harbor.log().find("harbor: the bundle identifier '../../../victim' cannot be used"), std::string::npos)
        << harbor.log();
    EXPECT_NE(harbor.log().find("; change CFBundleIdentifier in " + bundle + "/Info.plist\n"), std::string::npos)
        << harbor.log();
  }
  EXPECT_FALSE(exists(victim));
  EXPECT_FALSE(exists(deep + "/home")) << "nothing is made for an application that cannot run";

  // A folder of the user's own, with a tmp folder whose contents must survive.
  std::string own = inHome("own");
  writeFile(own + "/notes.txt", "mine");
  writeFile(own + "/tmp/keep", "mine too");
  std::string good = makeBundle("good", plat::Value("org.harbor.stoptest"));
  RunnerProcess harbor({"--home", own, "--run-seconds", "5", "--until", "stoptest: loaded", good});
  ASSERT_TRUE(harbor.started());
  EXPECT_EQ(harbor.wait(), 1);
  EXPECT_NE(harbor.log().find("harbor: " + own + " is not a sandbox home"), std::string::npos) << harbor.log();
  EXPECT_EQ(readFile(own + "/tmp/keep"), "mine too");
  EXPECT_FALSE(exists(own + "/Documents"));
}

// Web storage contents of one version: every byte depends on the version and the item, so a
// file cut off, mixed or from another version never passes for this one.
std::string storageContents(int version, const std::string& item, std::size_t size) {
  std::string line = plat::format("version %05d of %s\n", version, item.c_str());
  std::string out;
  out.reserve(size);
  while (out.size() < size) out += line;
  out.resize(size);
  return out;
}

TEST_F(RunnerSandbox, WebStorageSurvivesStopsAtRandomMomentsWhileItIsCopied) {
  constexpr int kStops = 24;
  struct Item {
    const char* live;    // in Library/Caches
    const char* backup;  // in Documents/Backups
    std::size_t size;
  };
  const Item items[] = {
      {"file__0.localstorage", "localstorage.appdata.db", 3 << 20},
      {"Databases.db", "websqlmain.appdata.db", 2 << 20},
      {"file__0/http_localhost_0.db", "websqldbs.appdata.db/http_localhost_0.db", 2 << 20},
      {"file__0/http_example_0.db", "websqldbs.appdata.db/http_example_0.db", 1 << 20},
  };
  std::string bundle = makeBundle("bundle", plat::Value("org.harbor.stoptest"));
  std::string home = inHome("sandbox");
  std::string caches = home + "/Library/Caches/", backups = home + "/Documents/Backups/";
  std::vector<std::string> arguments = {"--home", home, "--run-seconds", "20", "--until", "stoptest: loaded", bundle};
  {
    RunnerProcess first(arguments);
    ASSERT_EQ(first.wait(), 0) << first.log();
  }

  unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE(::testing::Message() << "seed " << seed);
  int losses = 0, cutCopies = 0;
  for (int version = 1; version <= kStops; ++version) {
    SCOPED_TRACE(::testing::Message() << "version " << version);
    // The newer version appears on one side: the live side is backed up at termination, the
    // backup side restored when the page starts loading. Dates rise by version, so that the
    // newer side is newer whatever the clock's resolution.
    bool newLive = random() % 2 == 0;
    for (const Item& item : items) {
      std::string path = (newLive ? caches + item.live : backups + item.backup);
      writeFile(path, storageContents(version, item.live, item.size));
      setModificationDate(path, 700000000 + version * 10);
    }

    // Stopped at a random moment after the runner said it started (the restore comes soon after)
    // or that it is terminating (the backup runs then).
    int kind = version % 3;
    bool atStart = random() % 3 == 0 ? newLive : !newLive;
    RunnerProcess stopped(arguments);
    ASSERT_TRUE(stopped.started());
    if (stopped.waitForLine(atStart ? "harbor: running " : "harbor: terminating: ")) {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
      if (kind == 0) {
        stopped.signal(SIGKILL);
      } else if (kind == 1) {
        stopped.signal(SIGTERM);
      } else {
        stopped.signal(SIGINT);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        stopped.signal(SIGINT);
      }
    }
    ASSERT_GE(stopped.wait(), 0) << stopped.log();
    for (const std::string& folder : {caches, backups, caches + "file__0", backups + "websqldbs.appdata.db"})
      for (const std::string& name :
           plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(folder).value_or(std::vector<std::string>{}))
        cutCopies += name.find(".harbor-") != std::string::npos;

    RunnerProcess clean(arguments);
    ASSERT_EQ(clean.wait(), 0) << clean.log();
    bool whole = true;
    for (const Item& item : items) {
      std::string expected = storageContents(version, item.live, item.size);
      bool liveWhole = readFile(caches + item.live) == expected;
      bool backupWhole = readFile(backups + item.backup) == expected;
      EXPECT_TRUE(liveWhole) << item.live;
      EXPECT_TRUE(backupWhole) << item.backup;
      whole = whole && liveWhole && backupWhole;
    }
    losses += whole ? 0 : 1;
    for (const std::string& folder : {caches, backups})
      for (const std::string& name :
           plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(folder).value_or(std::vector<std::string>{}))
        EXPECT_EQ(name.find(".harbor-"), std::string::npos) << name << " left in " << folder;
    if (!whole) std::cout << "stopped run:\n" << stopped.log() << "clean run:\n" << clean.log();
  }
  std::cout << kStops << " stops, " << cutCopies << " cut off in the middle of a copy, " << losses << " losses\n";
  EXPECT_EQ(losses, 0);
}


namespace sweep {

// Every temporary of ours anywhere under the folder (links not followed), relative to it.
std::vector<std::string> temporariesIn(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (plat::isInterruptedWriteName(it->path().filename().string()))
      found.push_back(it->path().lexically_relative(folder).string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// An application whose persistent files live in Library; its pages write there.
constexpr const char* kStopWriterConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.harbor.stopwriter" version="1.0.0">
  <content src="index.html" />
  <preference name="iosPersistentFileLocation" value="library" />
  <feature name="File"><param name="ios-package" value="HBRFile" /><param name="onload" value="true" /></feature>
</widget>
)";

// Runs the writer bundle and kills it (SIGKILL) at a random moment once its page says it is
// writing.
void killWhileWriting(const std::string& home, const std::string& bundle, std::mt19937& random) {
  RunnerProcess killed({"--home", home, "--run-seconds", "60", bundle});
  ASSERT_TRUE(killed.started());
  ASSERT_TRUE(killed.waitForLine("stopwriter: writing")) << killed.log();
  std::this_thread::sleep_for(std::chrono::microseconds(random() % 200000));
  killed.signal(SIGKILL);
  ASSERT_EQ(killed.wait(), 128 + SIGKILL);
}

}  // namespace sweep

TEST_F(RunnerSandbox, TheNextStartRemovesWhatWritesStoppedByAKillLeftBehind) {
  constexpr int kStops = 8;
  // A page that replaces a file of its persistent file system whole, again and again, with
  // a few MiB each time: a kill at a random moment mostly lands in the middle of a write.
  std::string bundle = makeBundle("writer", plat::Value("org.harbor.stopwriter"));
  writeFile(bundle + "/config.xml", sweep::kStopWriterConfig);
  writeFile(bundle + "/www/index.html", R"(<html><body><script src="harbor.js"></script><script>
var exec = harbor.require('harbor/exec');
var text = new Array(4 << 20).join('w');
var count = 0;
function next() {
  if (++count === 2) console.log('stopwriter: writing');
  exec(next, function (e) { console.log('stopwriter: failed ' + e); }, 'File', 'write',
       ['hbrfile://localhost/persistent/v.txt', text, 0]);
}
document.addEventListener('deviceready', next);
</script></body></html>)");
  // The same application with a page that writes nothing, for the start after each kill.
  std::string reader = makeBundle("reader", plat::Value("org.harbor.stopwriter"));
  std::string home = inHome("sandbox");
  std::vector<std::string> readerRun = {"--home", home, "--run-seconds", "30", "--until", "stoptest: loaded", reader};
  {
    RunnerProcess first(readerRun);
    ASSERT_EQ(first.wait(), 0) << first.log();
  }

  unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE(::testing::Message() << "seed " << seed);
  int leftByKills = 0;
  for (int stop = 1; stop <= kStops; ++stop) {
    SCOPED_TRACE(::testing::Message() << "stop " << stop);
    ASSERT_NO_FATAL_FAILURE(sweep::killWhileWriting(home, bundle, random));
    leftByKills += static_cast<int>(sweep::temporariesIn(home).size());
    // What a kill elsewhere leaves: beside a store in Library, a download, a copy.
    writeFile(home + "/Library/.hbr-ffLgwg", "{\"half");
    writeFile(home + "/Documents/a/.download-Zx09ab", "half a download");
    writeFile(plat::partialCopyPathFor(home + "/Library/Caches/file__0") + "/1.db", "cut off");
    auto left = sweep::temporariesIn(home);

    // The next start removes each one before the page runs, and says so.
    RunnerProcess next(readerRun);
    ASSERT_EQ(next.wait(), 0) << next.log();
    for (const std::string& path : left)
      EXPECT_NE(next.log().find("harbor: removed " + path + ", left by an interrupted write"), std::string::npos)
          << path << "\n" << next.log();
    EXPECT_LT(next.log().find("harbor: removed "), next.log().find("harbor: running ")) << next.log();
    EXPECT_EQ(sweep::temporariesIn(home), std::vector<std::string>{});
    EXPECT_EQ(readFile(home + "/Library/files/v.txt"), std::string((4 << 20) - 1, 'w'))
        << "the file is the old version or the new one, whole";
  }
  // A start with nothing to tidy says nothing about it.
  RunnerProcess quiet(readerRun);
  ASSERT_EQ(quiet.wait(), 0) << quiet.log();
  EXPECT_EQ(quiet.log().find("harbor: removed "), std::string::npos) << quiet.log();
  std::cout << kStops << " kills while writing left " << leftByKills << " temporaries of the page's writes\n";
}

// A home is held by one lock at a time, whatever path names it; a missing one is made for it,
// a file is refused, and a released home is free again.
TEST_F(RunnerSandbox, AHomeIsHeldByOneLockAtATime) {
  std::string home = inHome("homes/held");
  auto held = holdSandboxHome(home);
  ASSERT_TRUE(held) << held.error();
  EXPECT_TRUE(held->held());
  EXPECT_TRUE(plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(home)->empty())
      << "a new home, made and held, is still empty";
  ASSERT_EQ(::symlink(home.c_str(), inHome("homes/link").c_str()), 0);
  const std::string pid = std::to_string(::getpid());
  for (const std::string& path : {home, inHome("homes/link"), inHome("homes/other/../held")}) {
    SCOPED_TRACE(path);
    auto again = holdSandboxHome(path);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error(), "the sandbox home " + path + " is in use: process " + pid +
                                 " holds it (another harbor running on it); only one harbor may run on a home at a "
                                 "time: stop that one first or give --home another folder");
  }
  writeFile(inHome("homes/a-file"), "mine");
  auto file = holdSandboxHome(inHome("homes/a-file"));
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error(), inHome("homes/a-file") + " is not a folder, so it cannot be a sandbox home");
  EXPECT_EQ(readFile(inHome("homes/a-file")), "mine");

  held = SandboxHomeLock();
  auto free = holdSandboxHome(inHome("homes/link"));
  EXPECT_TRUE(free && free->held()) << (free ? "" : free.error());
}

// Two runners on one home: the second stops at once with status 1, names the first, and sweeps
// nothing (a temporary the first is writing stays). Once the first is killed outright, the next
// runner takes the home and tidies what it left.
TEST_F(RunnerSandbox, ASecondRunnerOnAHomeInUseStopsAndNamesTheFirst) {
  std::string bundle = makeBundle("bundle", plat::Value("org.harbor.stoptest"));
  std::string home = inHome("sandbox");
  ASSERT_EQ(::symlink(home.c_str(), inHome("link").c_str()), 0);
  RunnerProcess first({"--home", home, "--run-seconds", "120", bundle});
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(first.waitForLine("stoptest: loaded")) << first.log();
  // What the first has half written at this moment.
  const std::string writing = "Library/.hbr-Wr1t3s";
  writeFile(home + "/" + writing, "half of it");

  for (const std::string& path : {home, inHome("link")}) {
    SCOPED_TRACE(path);
    RunnerProcess second({"--home", path, "--run-seconds", "30", "--until", "stoptest: loaded", bundle});
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.wait(), 1) << second.log();
    EXPECT_NE(second.log().find("harbor: the sandbox home " + path + " is in use: process " +
                                std::to_string(first.pid()) + " holds it"),
              std::string::npos)
        << second.log();
    EXPECT_EQ(second.log().find("harbor: removed"), std::string::npos) << second.log();
    EXPECT_EQ(second.log().find("harbor: running"), std::string::npos) << second.log();
    EXPECT_EQ(readFile(home + "/" + writing), "half of it");
  }

  first.signal(SIGKILL);
  ASSERT_EQ(first.wait(), 128 + SIGKILL);
  RunnerProcess next({"--home", home, "--run-seconds", "30", "--until", "stoptest: loaded", bundle});
  ASSERT_EQ(next.wait(), 0) << next.log();
  EXPECT_NE(next.log().find("harbor: removed " + writing + ", left by an interrupted write"), std::string::npos)
      << next.log();
  // And after a clean stop as well.
  RunnerProcess after({"--home", home, "--run-seconds", "30", "--until", "stoptest: loaded", bundle});
  EXPECT_EQ(after.wait(), 0) << after.log();
}

// A write that keeps the file's beginning changes the file itself: a kill in the middle of it is
// undone by the next start, which says so, and the file is one of the two versions, whole.
TEST_F(RunnerSandbox, TheNextStartUndoesAWriteInPlaceThatAKillCutShort) {
  constexpr int kStops = 4;
  std::string bundle = makeBundle("writer", plat::Value("org.harbor.stopwriter"));
  writeFile(bundle + "/config.xml", sweep::kStopWriterConfig);
  // "x" at 0 first; then, in turn, the file stretched to 32 MiB (one call, which makes the next
  // write keep 32 MiB in its undo record, so a kill mostly lands inside a write) and "a" or "b"
  // written at 1.
  writeFile(bundle + "/www/index.html", R"(<html><body><script src="harbor.js"></script><script>
var exec = harbor.require('harbor/exec');
var url = 'hbrfile://localhost/persistent/v.txt';
var count = 0;
function fail(e) { console.log('stopwriter: failed ' + e); }
function next() {
  if (++count === 3) console.log('stopwriter: writing');
  if (count === 1) return exec(next, fail, 'File', 'write', [url, 'x', 0]);
  if (count % 2 === 0) return exec(next, fail, 'File', 'truncate', [url, 32 << 20]);
  exec(next, fail, 'File', 'write', [url, (count >> 1) % 2 ? 'a' : 'b', 1]);
}
document.addEventListener('deviceready', next);
</script></body></html>)");
  std::string reader = makeBundle("reader", plat::Value("org.harbor.stopwriter"));
  std::string home = inHome("sandbox");
  std::vector<std::string> readerRun = {"--home", home, "--run-seconds", "30", "--until", "stoptest: loaded", reader};
  // Whole: "xa" or "xb" as a write left it, or stretched to 32 MiB with zero bytes.
  auto whole = [](const std::string& text) {
    if (text.size() == 2) return text[0] == 'x' && (text[1] == 'a' || text[1] == 'b');
    return text.size() == (32u << 20) && text[0] == 'x' && (text[1] == 'a' || text[1] == 'b' || text[1] == '\0') &&
           text.find_first_not_of('\0', 2) == std::string::npos;
  };

  unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE(::testing::Message() << "seed " << seed);
  int undone = 0;
  for (int stop = 1; stop <= kStops; ++stop) {
    SCOPED_TRACE(::testing::Message() << "stop " << stop);
    ASSERT_NO_FATAL_FAILURE(sweep::killWhileWriting(home, bundle, random));
    auto left = sweep::temporariesIn(home);

    RunnerProcess next(readerRun);
    ASSERT_EQ(next.wait(), 0) << next.log();
    bool applied = next.log().find("harbor: undid an interrupted write to Library/files/v.txt") != std::string::npos;
    undone += applied ? 1 : 0;
    for (const std::string& path : left) {
      // A whole undo record is applied; one cut short (the file not touched yet) is removed.
      bool removed = next.log().find("harbor: removed " + path + ", left by an interrupted write") != std::string::npos;
      EXPECT_TRUE(removed || (applied && plat::isUndoRecordName(plat::lastPathComponent(path)))) << path << "\n"
                                                                                                  << next.log();
    }
    EXPECT_EQ(sweep::temporariesIn(home), std::vector<std::string>{});
    std::string now = readFile(home + "/Library/files/v.txt");
    EXPECT_TRUE(whole(now)) << "the file is as a write left it: " << now.size() << " bytes, " << now.substr(0, 2);
  }
  std::cout << kStops << " kills while writing in place, " << undone << " writes undone at the next start\n";
}

}  // namespace
}  // namespace harbor::runner
