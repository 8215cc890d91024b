// The File plugin: its registry under each preference, the shared file service, and every page
// action end to end through the command queue on real files in a sandbox.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>

#include "HBRLocalFilesystem.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/FileFaults.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Strings.h"
#include "support/FilePluginTest.h"

using namespace harbor;
using harbor::testing::expectCode;
using harbor::testing::kFileError;
using harbor::testing::kFileIOError;
using harbor::testing::kFileMalformed;
using harbor::testing::kFileOK;
using harbor::testing::PageCallback;
using plat::Array;
using plat::Dictionary;
using plat::Value;

namespace {


class File : public harbor::testing::FilePluginTest {
 protected:
  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const auto& fs : file->fileSystems()) out.push_back(fs->name());
    return out;
  }
  std::string rootOf(const std::string& name) {
    auto local = std::dynamic_pointer_cast<HBRLocalFilesystem>(file->fileSystemByName(name));
    return local ? local->fsRoot() : "<none>";
  }
  bool excludedFromBackup(const std::string& path) {
    auto value = plat::NSURL::fileURLWithPath(path)->resourceValue(plat::NSURLIsExcludedFromBackupKey);
    return value && value->asBool();
  }
  std::string persistent(const std::string& fullPath) { return fileURL("persistent", fullPath); }
};

// --- Registry ---

TEST_F(File, RegistryByDefault) {
  EXPECT_EQ(names(), (std::vector<std::string>{"temporary", "persistent", "assets-library", "library",
                                                "library-nosync", "documents", "documents-nosync", "cache", "bundle",
                                                "root"}));
  EXPECT_EQ(rootOf("temporary"), inHome("tmp"));
  EXPECT_EQ(rootOf("persistent"), inHome("Documents"));
  EXPECT_FALSE(exists(inHome("Library/files"))) << "compatibility creates nothing";
  EXPECT_EQ(rootOf("root"), home()) << "the whole disk is never a page's";
  EXPECT_EQ(rootOf("bundle"), bundlePath());
  for (const char* nosync : {"Library/NoCloud", "Documents/NoCloud"}) {
    EXPECT_TRUE(exists(inHome(nosync))) << nosync;
    EXPECT_TRUE(excludedFromBackup(inHome(nosync))) << nosync;
  }
  EXPECT_EQ(HBRFile::filePlugin(), file);
  EXPECT_FALSE(log_->contains("Unrecognized")) << "a clean start logs nothing error-looking";
}

TEST_F(File, RegistryUnderEachPreference) {
  struct Case {
    const char* location;
    const char* extras;
    std::vector<std::string> names;
    const char* persistentRoot;
    const char* unrecognized;
  } cases[] = {
      {"library", "", {"temporary", "persistent", "assets-library"}, "Library/files", ""},
      {"Compatibility", "Documents,cache", {"temporary", "persistent", "assets-library", "documents", "cache"},
       "Documents", nullptr},
      {"library", "documents, cache", {"temporary", "persistent", "assets-library", "documents"}, "Library/files",
       " cache"},
      {"compatibility", "cache,cache,nowhere,cache", {"temporary", "persistent", "assets-library", "cache"},
       "Documents", "nowhere"},
  };
  for (const auto& c : cases) {
    log_->clear();
    makePlugin(Dictionary{{"iospersistentfilelocation", c.location}, {"iosextrafilesystems", c.extras}});
    EXPECT_EQ(names(), c.names) << c.location << " " << c.extras;
    EXPECT_EQ(rootOf("persistent"), inHome(c.persistentRoot));
    EXPECT_TRUE(exists(inHome(c.persistentRoot)));
    if (c.unrecognized) {
      EXPECT_TRUE(log_->contains(std::string("Unrecognized extra filesystem identifier: ") + c.unrecognized))
          << c.extras;
    }
  }
}

TEST_F(File, AnyOtherPersistentLocationStopsStartUp) {
  auto reason = assertionOf([&] { makePlugin(Dictionary{{"iospersistentfilelocation", "cloud"}}); });
  EXPECT_EQ(reason,
            "File plugin configuration error: Please set iosPersistentFileLocation in config.xml to one of "
            "\"library\" (for new applications) or \"compatibility\" (for compatibility with previous versions)");
}

TEST_F(File, UnmakeableFoldersAreLeftOut) {
  plat::FileFaultPlan denied;
  denied.denyChanges = true;
  denied.onlyInside = inHome("Library");
  plat::ScopedFileFaults faults(denied);
  makePlugin(Dictionary{{"iospersistentfilelocation", "library"}, {"iosextrafilesystems", "cache"}});
  EXPECT_EQ(names(), (std::vector<std::string>{"temporary", "assets-library", "cache"}));
  EXPECT_TRUE(log_->contains("Unable to create library directory: "));
}

// --- Shared file service ---

TEST_F(File, LocalPathsMapToTheShortestFullPath) {
  struct Case {
    std::string path;
    const char* fileSystem;
    const char* fullPath;
  } cases[] = {
      {documents("NoCloud/x.txt"), "documents-nosync", "/x.txt"},
      {inHome("Documents"), "persistent", ""},
      {documents("a b/c.txt"), "persistent", "/a b/c.txt"},
      {inHome("Library/Caches/c"), "cache", "/c"},
      {inHome("Media/DCIM/x.JPG"), "root", "/Media/DCIM/x.JPG"},
  };
  for (const auto& c : cases) {
    auto url = file->fileSystemURLforLocalPath(c.path);
    ASSERT_TRUE(url) << c.path;
    EXPECT_EQ(url->fileSystemName(), c.fileSystem) << c.path;
    EXPECT_EQ(url->fullPath(), c.fullPath) << c.path;
  }
  EXPECT_FALSE(file->fileSystemURLforLocalPath("/etc/hosts")) << "outside the sandbox home";
  // file: URLs go the same way, their links resolved; others are parsed as they are.
  ASSERT_EQ(::symlink(documents("").c_str(), inHome("tmp/docs").c_str()), 0);
  auto viaLink = file->fileSystemURLforArg("file://" + inHome("tmp/docs/n.txt"));
  EXPECT_EQ(viaLink->fileSystemName(), "persistent");
  EXPECT_EQ(viaLink->fullPath(), "/n.txt");
  EXPECT_FALSE(file->fileSystemURLforArg("file:///etc/hosts")->fileSystemName());
  EXPECT_EQ(file->fileSystemURLforArg("hbrfile://localhost/temporary/a")->fullPath(), "/a");
}

TEST_F(File, SharedServiceLookups) {
  // How the other plugins reach the service.
  EXPECT_EQ(std::dynamic_pointer_cast<HBRFile>(controller->delegate()->getCommandInstance("File")), file);
  writeFile(documents("notes/a.css"), "body{}");
  auto url = HBRFilesystemURL::fileSystemURLWithString(persistent("/notes/a.css"));
  EXPECT_EQ(file->filesystemForURL(url), file->fileSystemByName("persistent"));
  EXPECT_FALSE(file->filesystemForURL(HBRFilesystemURL::fileSystemURLWithString("hbrfile://localhost/nope/a")));
  EXPECT_FALSE(file->filesystemForURL(nullptr));
  EXPECT_EQ(file->filesystemPathForURL(url), documents("notes/a.css"));
  EXPECT_EQ(file->makeEntryForLocalURL(url).value_or(Dictionary{})["isFile"], Value(true));
  EXPECT_FALSE(file->makeEntryForLocalURL(HBRFilesystemURL::fileSystemURLWithString(persistent("/none"))));
  auto entry = file->makeEntryForURL(plat::NSURL::fileURLWithPath(documents("notes")));
  ASSERT_TRUE(entry);
  EXPECT_EQ((*entry)["fullPath"], Value("/notes/"));
  EXPECT_EQ((*entry)["filesystemName"], Value("persistent"));
  EXPECT_EQ(file->getDirectoryEntry(documents("notes"), true).value_or(Dictionary{})["name"], Value("notes"));
  EXPECT_EQ(HBRFile::getMimeTypeFromPath("x/a.css"), "text/css");
  EXPECT_GT(HBRFile::checkFreeDiskSpace(documents("")).value_or(0), 0u);
  EXPECT_FALSE(HBRFile::checkFreeDiskSpace(documents("missing/folder")));
}

TEST_F(File, EncodePath) {
  EXPECT_EQ(HBRFile::encodePath("hbrfile://localhost/persistent/a%20b.txt"), "hbrfile://localhost/persistent/a%20b.txt");
  EXPECT_EQ(HBRFile::encodePath("hbrfile://localhost/persistent/a b.txt"), "hbrfile://localhost/persistent/a%20b.txt");
  EXPECT_EQ(HBRFile::encodePath("hbrfile://localhost/persistent/%C3%BC"), "hbrfile://localhost/persistent/%C3%BC");
  // A "#" of a name stays a name; a "%" stays a "%".
  EXPECT_EQ(HBRFile::encodePath("hbrfile://localhost/persistent/a%23b"), "hbrfile://localhost/persistent/a%23b");
  EXPECT_EQ(HBRFile::encodePath("hbrfile://localhost/persistent/100%25"), "hbrfile://localhost/persistent/100%25");
  EXPECT_EQ(HBRFile::encodePath("assets-library://asset/asset.JPG?id=1&ext=JPG"),
            "assets-library://asset/asset.JPG?id=1&ext=JPG");
  EXPECT_FALSE(HBRFile::encodePath("hbrfile://localhost/persistent/%FF"));
  EXPECT_FALSE(HBRFile::encodePath("hbrfile://localhost/persistent/%zz"));
}

TEST_F(File, FileSystemsForwardToTheDelegatesURLTransformer) {
  writeFile(documents("t.txt"), "t");
  controller->delegate()->setUrlTransformer([](const std::string& url) { return url + "?seen"; });
  auto entry = file->makeEntryForPath("/t.txt", "persistent", false);
  ASSERT_TRUE(entry);
  EXPECT_TRUE(plat::endsWith((*entry)["nativeURL"].asString(), "/Documents/t.txt?seen"));
  controller->delegate()->setUrlTransformer(nullptr);
  EXPECT_TRUE(plat::endsWith(file->makeEntryForPath("/t.txt", "persistent", false)->get("nativeURL").asString(),
                             "/Documents/t.txt"));
}

// --- Page actions ---

TEST_F(File, RequestFileSystem) {
  auto temporary = call("requestFileSystem", Array{0, 0});
  EXPECT_EQ(temporary.status, kFileOK);
  EXPECT_EQ(temporary.message["name"], Value("temporary"));
  EXPECT_EQ(temporary.message["root"]["fullPath"], Value("/"));
  EXPECT_EQ(temporary.message["root"]["name"], Value("/"));
  EXPECT_EQ(temporary.message["root"]["isDirectory"], Value(true));
  EXPECT_EQ(call("requestFileSystem", Array{1, 1024}).message["name"], Value("persistent"));
  for (int type : {99, -1, 10}) {
    log_->clear();
    expectCode(call("requestFileSystem", Array{type, 0}), kFileError, 1);
    EXPECT_TRUE(log_->contains("No filesystem of type requested"));
  }
  // More than the disk holds, and a negative size taken unsigned.
  expectCode(call("requestFileSystem", Array{1, std::int64_t{1} << 62}), kFileIOError, 10);
  expectCode(call("requestFileSystem", Array{1, -1}), kFileIOError, 10);

  auto all = call("requestAllFileSystems");
  ASSERT_TRUE(all.message.isArray());
  ASSERT_EQ(all.message.asArray().size(), names().size());
  EXPECT_EQ(all.message.at(2)["filesystemName"], Value("assets-library"));
}

TEST_F(File, RequestAllPaths) {
  auto paths = call("requestAllPaths").message;
  auto url = [](const std::string& path) { return Value("file://" + path + "/"); };
  EXPECT_EQ(paths["applicationDirectory"], url(bundlePath()));
  EXPECT_EQ(paths["applicationStorageDirectory"], url(home()));
  EXPECT_EQ(paths["dataDirectory"], url(inHome("Library/NoCloud")));
  EXPECT_EQ(paths["syncedDataDirectory"], url(inHome("Library/Cloud")));
  EXPECT_EQ(paths["documentsDirectory"], url(inHome("Documents")));
  EXPECT_EQ(paths["cacheDirectory"], url(inHome("Library/Caches")));
  EXPECT_EQ(paths["tempDirectory"], url(inHome("tmp")));
  EXPECT_TRUE(excludedFromBackup(inHome("Library/NoCloud")));
  EXPECT_FALSE(excludedFromBackup(inHome("Library/Cloud")));
}

TEST_F(File, GetFileAndDirectory) {
  auto created = call("getFile", Array{persistent("/"), "a.txt", Dictionary{{"create", true}, {"exclusive", true}}});
  EXPECT_EQ(created.status, kFileOK);
  EXPECT_EQ(created.message["fullPath"], Value("/a.txt"));
  EXPECT_TRUE(exists(documents("a.txt")));
  expectCode(call("getFile", Array{persistent("/"), "a.txt", Dictionary{{"create", true}, {"exclusive", true}}}), kFileIOError,
             12);
  EXPECT_EQ(call("getFile", Array{persistent("/"), "a.txt", Dictionary{{"create", "yes"}}}).status, kFileOK);
  expectCode(call("getFile", Array{persistent("/"), "b.txt", Dictionary{{"create", "yes"}}}), kFileIOError, 1);

  // Two arguments ask for an existing directory.
  expectCode(call("getDirectory", Array{persistent("/"), "d"}), kFileIOError, 1);
  auto dir = call("getDirectory", Array{persistent("/"), "d", Dictionary{{"create", true}}});
  EXPECT_EQ(dir.message["fullPath"], Value("/d/"));
  EXPECT_EQ(call("getDirectory", Array{persistent("/"), "d"}).status, kFileOK);
  expectCode(call("getDirectory", Array{persistent("/"), "a.txt"}), kFileIOError, 11);
  expectCode(call("getFile", Array{persistent("/"), "d"}), kFileIOError, 11);
  expectCode(call("getFile", Array{persistent("/"), "x:y", Dictionary{{"create", true}}}), kFileIOError, 5);
  // No path, and the options still land at their own position.
  expectCode(call("getDirectory", Array{persistent("/")}), kFileIOError, 5);
  // "../../x" from the root stays in the root.
  EXPECT_EQ(call("getFile", Array{persistent("/d"), "../../x", Dictionary{{"create", true}}}).message["fullPath"],
            Value("/x"));
  EXPECT_TRUE(exists(documents("x")));

  auto parent = call("getParent", Array{persistent("/d/")});
  EXPECT_EQ(parent.message["fullPath"], Value("/"));
  auto entry = call("resolveLocalFileSystemURI", Array{persistent("/d")});
  EXPECT_EQ(entry.message["isDirectory"], Value(true));
  expectCode(call("resolveLocalFileSystemURI", Array{persistent("/none")}), kFileIOError, 1);
  for (const char* unusable : {"hbrfile://localhost/nope/a", "hbrfile://localhost/", "%FF", "http://x/"}) {
    expectCode(call("resolveLocalFileSystemURI", Array{unusable}), kFileError, 5);
  }
}

TEST_F(File, Removal) {
  writeFile(documents("full/.hidden"), "h");
  writeFile(documents("f.txt"), "f");
  expectCode(call("remove", Array{persistent("/full")}), kFileIOError, 9);
  EXPECT_EQ(call("removeRecursively", Array{persistent("/full")}).status, kFileOK);
  EXPECT_FALSE(exists(documents("full")));
  EXPECT_EQ(call("remove", Array{persistent("/f.txt")}).status, kFileOK);
  expectCode(call("remove", Array{persistent("/f.txt")}), kFileIOError, 1);
  writeFile(documents("keep.txt"), "k");
  for (const char* action : {"remove", "removeRecursively"}) {
    for (const char* root : {"hbrfile://localhost/persistent/", "hbrfile://localhost/persistent"}) {
      expectCode(call(action, Array{root}), kFileIOError, 6);
    }
  }
  EXPECT_TRUE(exists(documents("keep.txt")));
}

TEST_F(File, CopyAndMove) {
  writeFile(documents("tree/a.txt"), "a");
  writeFile(documents("tree/sub/b.txt"), "b");
  writeFile(documents("f.txt"), "f");
  auto copied = call("copyTo", Array{persistent("/tree"), persistent("/"), "tree-copy"});
  EXPECT_EQ(copied.message["fullPath"], Value("/tree-copy/"));
  EXPECT_EQ(readFile(documents("tree-copy/sub/b.txt")), "b");
  // The name defaults to the source's own; into another file system.
  EXPECT_EQ(call("copyTo", Array{persistent("/f.txt"), fileURL("temporary", "/")}).message["fullPath"],
            Value("/f.txt"));
  EXPECT_EQ(readFile(inHome("tmp/f.txt")), "f");
  expectCode(call("copyTo", Array{persistent("/f.txt"), persistent("/"), "f.txt"}), kFileIOError, 9);
  expectCode(call("copyTo", Array{persistent("/tree"), persistent("/tree/sub"), "inner"}), kFileIOError, 9);
  // A sibling whose name only begins like the source is no copy into itself.
  writeFile(documents("treex/keep"), "k");
  EXPECT_EQ(call("copyTo", Array{persistent("/tree"), persistent("/treex"), "copy"}).status, kFileOK);
  EXPECT_EQ(readFile(documents("treex/copy/a.txt")), "a");

  auto moved = call("moveTo", Array{persistent("/tree"), fileURL("temporary", "/"), "moved"});
  EXPECT_EQ(moved.message["filesystemName"], Value("temporary"));
  EXPECT_EQ(readFile(inHome("tmp/moved/sub/b.txt")), "b");
  EXPECT_FALSE(exists(documents("tree")));

  expectCode(call("copyTo", Array{persistent("/f.txt"), persistent("/"), "a:b"}), kFileIOError, 5);
  expectCode(call("copyTo", Array{persistent("/f.txt"), persistent("/"), Value::null()}), kFileIOError, 5);
  expectCode(call("copyTo", Array{persistent("/f.txt")}), kFileIOError, 1);
  expectCode(call("moveTo", Array{Value::null(), persistent("/")}), kFileIOError, 1);
  expectCode(call("copyTo", Array{persistent("/none"), persistent("/"), "n"}), kFileIOError, 1);
}

TEST_F(File, MoveAcrossDevices) {
  // A folder of our own on another file system (tmpfs), registered as a file system.
  struct stat home {}, shm {};
  if (::stat(documents("").c_str(), &home) != 0 || ::stat("/dev/shm", &shm) != 0 || home.st_dev == shm.st_dev) {
    GTEST_SKIP() << "no second device";
  }
  std::string pattern = "/dev/shm/harbor-file-test-XXXXXX";
  ASSERT_TRUE(::mkdtemp(pattern.data()));
  auto other = std::make_shared<HBRLocalFilesystem>();
  other->initWithName("other", pattern);
  file->registerFilesystem(other);
  writeFile(documents("tree/a.txt"), "a");
  writeFile(documents("f.bin"), std::string(100000, 'z'));
  EXPECT_EQ(call("moveTo", Array{persistent("/tree"), fileURL("other", "/"), "tree"}).status, kFileOK);
  EXPECT_EQ(call("moveTo", Array{persistent("/f.bin"), fileURL("other", "/"), "f.bin"}).status, kFileOK);
  EXPECT_EQ(call("copyTo", Array{fileURL("other", "/f.bin"), persistent("/"), "back.bin"}).status, kFileOK);
  EXPECT_FALSE(exists(documents("tree")));
  EXPECT_EQ(readFile(pattern + "/tree/a.txt"), "a");
  EXPECT_EQ(readFile(documents("back.bin")).size(), 100000u);
  plat::NSFileManager::defaultManager().removeItemAtPath(pattern);
}

TEST_F(File, Reads) {
  writeFile(documents("digits.txt"), "0123456789");
  struct Case {
    std::int64_t start, end;
    const char* text;
  } ranges[] = {{0, -1, "0123456789"}, {4, 8, "4567"}, {4, -1, "456789"}, {8, 100, "89"}, {20, -1, ""}, {-5, 3, "012"}};
  for (const auto& r : ranges) {
    auto answer = call("readAsText", Array{persistent("/digits.txt"), "utf-8", r.start, r.end});
    EXPECT_EQ(answer.status, kFileOK);
    EXPECT_EQ(answer.message, Value(r.text)) << r.start << ".." << r.end;
  }
  auto data = call("readAsDataURL", Array{persistent("/digits.txt"), 0, 3});
  EXPECT_EQ(data.message, Value("data:text/plain;base64,MDEy"));
  auto buffer = call("readAsArrayBuffer", Array{persistent("/digits.txt"), 2, 4});
  EXPECT_EQ(buffer.message["HBRType"], Value("ArrayBuffer"));
  EXPECT_EQ(buffer.message["data"], Value("MjM="));

  // Every byte value comes back as the character of that number.
  writeFile(documents("bytes.bin"), std::string("\x00\x41\x7f\x80\xe9\xff", 6));
  auto binary = call("readAsBinaryString", Array{persistent("/bytes.bin"), 0, -1});
  EXPECT_EQ(binary.message, Value(std::string("\0A\x7f\xc2\x80\xc3\xa9\xc3\xbf", 9)));
  expectCode(call("readAsText", Array{persistent("/bytes.bin"), "UTF-8", 0, -1}), kFileIOError, 5);
  writeFile(documents("u.txt"), "\xc3\xbc");
  // A slice that cuts a character.
  expectCode(call("readAsText", Array{persistent("/u.txt"), "UTF-8", 0, 1}), kFileIOError, 5);

  log_->clear();
  expectCode(call("readAsText", Array{persistent("/digits.txt"), "latin1", 0, -1}), kFileIOError, 5);
  EXPECT_TRUE(log_->contains("Only UTF-8 encodings are currently supported by readAsText"));
  for (const char* action : {"readAsDataURL", "readAsArrayBuffer", "readAsBinaryString"}) {
    expectCode(call(action, Array{persistent("/none.txt"), 0, -1}), kFileIOError, 1);
  }
  expectCode(call("readAsText", Array{persistent("/none.txt"), "UTF-8", 0, -1}), kFileIOError, 1);
}

// A page names any range of any file, and its truncate makes a terabyte at no cost: a read whose
// answer would pass the bridge's bound (its JSON text, escapes and Base64 counted) is refused
// with NOT_READABLE_ERR, and says why, before its bytes are held; reads within it answer as ever.
TEST_F(File, ReadsWhoseAnswerWouldPassTheBridgesBoundAreRefused) {
  constexpr std::int64_t kMiB = 1 << 20;
  std::string huge = persistent("/huge.bin");
  std::string zeros = persistent("/zeros.bin");
  std::string binary = persistent("/binary.bin");
  writeFile(documents("huge.bin"), "");
  writeFile(documents("zeros.bin"), "");
  writeFile(documents("binary.bin"), "\xff");
  ASSERT_EQ(call("truncate", Array{huge, std::int64_t{1} << 40}).status, kFileOK);
  // Six characters of JSON for each zero byte ("\u0000"): past the bound long before the end.
  ASSERT_EQ(call("truncate", Array{zeros, 48 * kMiB}).status, kFileOK);
  ASSERT_EQ(call("truncate", Array{binary, 48 * kMiB}).status, kFileOK);
  constexpr int kRefused = 4;  // NOT_READABLE_ERR
  struct Case {
    const char* action;
    Array arguments;
    int code;  // 0: answered
    std::size_t length = 0;
  } cases[] = {
      {"readAsText", {huge, "UTF-8", 0, -1}, kRefused},
      {"readAsDataURL", {huge, 0, -1}, kRefused},
      {"readAsArrayBuffer", {huge, 0, -1}, kRefused},
      {"readAsBinaryString", {huge, 0, -1}, kRefused},
      // Base64 takes four characters for three bytes: 193 MiB is past the bound, 4 MiB is not.
      {"readAsArrayBuffer", {huge, 0, 193 * kMiB}, kRefused},
      {"readAsDataURL", {huge, 0, 193 * kMiB}, kRefused},
      {"readAsArrayBuffer", {huge, 0, 4 * kMiB}, 0, 4 * kMiB},
      {"readAsText", {zeros, "UTF-8", 0, -1}, kRefused},
      {"readAsBinaryString", {zeros, 0, -1}, kRefused},
      {"readAsText", {zeros, "UTF-8", 0, kMiB}, 0, kMiB},
      {"readAsText", {huge, "UTF-8", std::int64_t{1} << 39, (std::int64_t{1} << 39) + 16}, 0, 16},
      // Bytes that are no text are told as such, as soon as they are met.
      {"readAsText", {binary, "UTF-8", 0, -1}, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.action) + " of " + c.arguments[0].asString() + " to " +
                 std::to_string(c.arguments[c.arguments.size() - 1].asInt()));
    log_->clear();
    auto answer = call(c.action, c.arguments);
    if (c.code) {
      expectCode(answer, kFileIOError, c.code);
      if (c.code == kRefused) {
        EXPECT_TRUE(log_->contains("File: " + std::string(c.action) + " of " + c.arguments[0].asString() +
                                   " refused: its answer would pass the bridge's bound of 268435456 bytes"));
      }
      continue;
    }
    EXPECT_EQ(answer.status, kFileOK);
    const Value& message = answer.message.isDictionary() ? answer.message["data"] : answer.message;
    std::size_t length = answer.message.isDictionary() ? plat::base64Decode(message.asString())->size()
                                                       : message.asString().size();
    EXPECT_EQ(length, c.length);
  }
}

// A text is read a piece at a time (a MiB) and checked as UTF-8 as each piece comes in: a
// character cut by a piece's end is whole in the answer, and bytes that are no UTF-8 are found
// wherever they lie, at a piece's end or the file's.
TEST_F(File, TextIsCheckedAsUTF8AcrossTheReadsPieces) {
  constexpr std::size_t kPiece = 1 << 20;
  struct Case {
    std::size_t before;  // plain characters before the bytes
    std::string bytes;
    bool text;  // answered as text, else ENCODING_ERR
  } cases[] = {
      {kPiece - 1, "\xc3\xa9z", true},          // é across the pieces
      {kPiece - 1, "\xf0\x9f\x98\x80", true},   // an emoji cut after its first byte
      {kPiece - 2, "\xf0\x9f\x98\x80", true},   //   after its second
      {kPiece - 3, "\xf0\x9f\x98\x80z", true},  //   after its third
      {kPiece - 1, "\xe2\x80\xa8", true},       // U+2028, whose escape takes all three
      {kPiece - 1, "\xc3z", false},             // a lead byte with nothing to follow it
      {kPiece, "\x80", false},                  // a lone continuation after the cut
      {kPiece - 1, "\xed\xa0\x80", false},      // a surrogate across the pieces
      {kPiece + 5, "\xe2\x80", false},          // a character cut by the file's end
      {kPiece - 2, "\xe2\x80\xa8\xa8", false},  // one continuation too many
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " then " + std::to_string(c.bytes.size()) + " bytes");
    std::string content = std::string(c.before, 'a') + c.bytes;
    writeFile(documents("pieces.txt"), content);
    auto answer = call("readAsText", Array{persistent("/pieces.txt"), "UTF-8", 0, -1});
    if (!c.text) {
      expectCode(answer, kFileIOError, 5);
      continue;
    }
    EXPECT_EQ(answer.status, kFileOK);
    EXPECT_TRUE(answer.message == Value(content)) << "the text whole";
  }
}

TEST_F(File, WritesAndTruncation) {
  writeFile(documents("w.txt"), "0123456789");
  auto written = call("write", Array{persistent("/w.txt"), "abc", 2});
  EXPECT_EQ(written.status, kFileOK);
  EXPECT_EQ(written.message.asInt(), 3);
  EXPECT_EQ(readFile(documents("w.txt")), "01abc");
  EXPECT_EQ(call("write", Array{persistent("/w.txt"), "", 1}).message.asInt(), 0);
  EXPECT_EQ(readFile(documents("w.txt")), "0");
  EXPECT_EQ(call("write", Array{persistent("/w.txt"), arrayBufferWrapper(plat::Data{0xff, 0x00, 0x41}), 1}).message.asInt(), 3);
  EXPECT_EQ(readFile(documents("w.txt")), std::string("0\xff\x00\x41", 4));
  EXPECT_EQ(call("write", Array{persistent("/new.txt"), "ü", 0}).message.asInt(), 2);
  EXPECT_EQ(readFile(documents("new.txt")), "ü");
  auto invalid = call("write", Array{persistent("/w.txt"), 42, 1});
  EXPECT_EQ(invalid.status, kFileError);
  EXPECT_EQ(invalid.message, Value("Invalid parameter type"));

  EXPECT_EQ(call("truncate", Array{persistent("/new.txt"), 1}).message.asInt(), 1);
  EXPECT_EQ(readFile(documents("new.txt")), "\xc3");
  expectCode(call("truncate", Array{persistent("/none.txt"), 0}), kFileIOError, 1);
  EXPECT_FALSE(exists(documents("none.txt")));

  // A full disk: the write says so, and the file is as it was (whole or not at all).
  plat::FileFaultPlan plan;
  plan.diskFullAfterBytes = 2;
  plat::ScopedFileFaults faults(plan);
  expectCode(call("write", Array{persistent("/w.txt"), "abcdef", 1}), kFileError, 10);
  EXPECT_EQ(readFile(documents("w.txt")), "0") << "as the refused data left it, cut at 1";
}

// Runs writeNumber(0), writeNumber(1), ... in a child process without end, and kills it (SIGKILL)
// at a random moment after the first has finished.
void killWhileWriting(const std::function<void(unsigned)>& writeNumber) {
  static std::random_device random;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    for (unsigned i = 0;; ++i) {
      writeNumber(i);
      if (i == 0 && ::write(ready[1], "w", 1) != 1) ::_exit(1);
    }
  }
  ::close(ready[1]);
  char signal = 0;
  EXPECT_EQ(::read(ready[0], &signal, 1), 1) << "the child wrote once";
  ::close(ready[0]);
  ::usleep(random() % 20000);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
}

// A stop at any moment of a whole write (the write action at position 0) leaves the old file or
// the new one, never a cut or empty one: a child process rewrites a file in a loop and is killed.
TEST_F(File, AKillDuringAWholeWriteLeavesAWholeFile) {
  std::string a(256 * 1024, 'a');
  std::string b(300 * 1024, 'b');
  writeFile(documents("doc.txt"), a);
  auto fileSystem = file->fileSystemByName("persistent");
  auto url = HBRFilesystemURL::fileSystemURLWithString(persistent("/doc.txt"));
  plat::Data bytesA(a.begin(), a.end());
  plat::Data bytesB(b.begin(), b.end());
  for (int round = 0; round < 5; ++round) {
    ASSERT_NO_FATAL_FAILURE(killWhileWriting([&](unsigned i) { fileSystem->writeToFileAtURL(url, i % 2 ? bytesB : bytesA, false); }));
    std::string content = readFile(documents("doc.txt"));
    EXPECT_TRUE(content == a || content == b) << "round " << round << ": " << content.size() << " bytes";
  }
}

// A write at any position has one outcome: on the file that every link names, the
// permissions kept, a pipe refused and left a pipe, and in a folder that takes no new file
// refused (the file left as it was) rather than made without a way back.
TEST_F(File, AWriteIsTheSameAtEveryPosition) {
  const std::string old = "0123456789";
  struct Position {
    std::int64_t at;
    std::string expected;
  } positions[] = {{0, "new"}, {1, "0new"}, {3, "012new"}, {10, old + "new"}};
  auto inode = [](const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
  };
  ASSERT_EQ(::mkfifo(documents("pipe").c_str(), 0644), 0);
  writeFile(documents("locked/f.txt"), old);
  for (const auto& p : positions) {
    SCOPED_TRACE("position " + std::to_string(p.at));
    // A file with a second name elsewhere in the sandbox, and permissions of its own.
    std::filesystem::remove(documents("linked.txt"));
    std::filesystem::remove(inHome("Library/other-name.txt"));
    writeFile(documents("linked.txt"), old);
    ASSERT_EQ(::chmod(documents("linked.txt").c_str(), 0640), 0);
    ASSERT_EQ(::link(documents("linked.txt").c_str(), inHome("Library/other-name.txt").c_str()), 0);
    auto before = inode(documents("linked.txt"));
    EXPECT_EQ(call("write", Array{persistent("/linked.txt"), "new", p.at}).message.asInt(), 3);
    EXPECT_EQ(readFile(documents("linked.txt")), p.expected);
    EXPECT_EQ(readFile(inHome("Library/other-name.txt")), p.expected) << "the other name sees the write";
    EXPECT_EQ(inode(documents("linked.txt")).st_ino, before.st_ino);
    EXPECT_EQ(inode(documents("linked.txt")).st_nlink, 2u);
    EXPECT_EQ(inode(documents("linked.txt")).st_mode & 07777, 0640u);

    // A pipe is no file to write: refused, and still a pipe.
    expectCode(call("write", Array{persistent("/pipe"), "new", p.at}), kFileError, 9);
    EXPECT_TRUE(S_ISFIFO(inode(documents("pipe")).st_mode));

    // A folder that takes no new file: no write can be kept whole there, at any position.
    plat::FileFaultPlan plan;
    plan.foldersReadOnly = true;
    plan.onlyInside = documents("locked");
    plat::ScopedFileFaults faults(plan);
    log_->clear();
    expectCode(call("write", Array{persistent("/locked/f.txt"), "new", p.at}), kFileError, 9);
    EXPECT_EQ(readFile(documents("locked/f.txt")), old);
    EXPECT_TRUE(log_->contains("File: /locked/f.txt was not written: ")) << "the refusal says why";
  }
  EXPECT_EQ(plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(documents("locked"))->size(), 1u);
  // A new file is made as getFile makes one.
  EXPECT_EQ(call("write", Array{persistent("/made.txt"), "new", 0}).status, kFileOK);
  EXPECT_EQ(inode(documents("made.txt")).st_mode & 07777, 0644u);
}

// A stop at any moment of a write that changes a file in place (one that keeps the file's
// beginning, or of a file with a second name) is undone by the next start's sweep: the file is
// the old one or the new one, under both names.
TEST_F(File, AKillDuringAWriteInPlaceIsUndoneByTheNextStart) {
  std::string a(200 * 1024, 'a');
  writeFile(documents("both.txt"), a);
  ASSERT_EQ(::link(documents("both.txt").c_str(), inHome("Library/both-again.txt").c_str()), 0);
  auto fileSystem = file->fileSystemByName("persistent");
  auto url = HBRFilesystemURL::fileSystemURLWithString(persistent("/both.txt"));
  plat::Data b(300 * 1024, 'b');
  plat::Data c(100 * 1024, 'c');
  std::string withB = std::string(a, 0, 1000) + std::string(b.begin(), b.end());
  std::string withC = std::string(a, 0, 1000) + std::string(c.begin(), c.end());
  for (int round = 0; round < 5; ++round) {
    ASSERT_NO_FATAL_FAILURE(killWhileWriting([&](unsigned i) { fileSystem->writeToFileAtURLAtPosition(url, i % 2 ? c : b, 1000); }));
    plat::sweepInterruptedWrites(home());
    std::string content = readFile(documents("both.txt"));
    EXPECT_TRUE(content == withB || content == withC) << "round " << round << ": " << content.size() << " bytes";
    EXPECT_EQ(readFile(inHome("Library/both-again.txt")), content);
  }
  auto names = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(documents("")).value_or(
      std::vector<std::string>{});
  for (const auto& name : names) EXPECT_FALSE(plat::isInterruptedWriteName(name)) << name;
}

TEST_F(File, MetadataAndEntries) {
  writeFile(documents("dir/.hidden"), "h");
  writeFile(documents("dir/f.txt"), "12345");
  ASSERT_EQ(::mkdir(documents("dir/sub").c_str(), 0755), 0);
  setModificationDate(documents("dir/f.txt"), 50.0);
  auto metadata = call("getFileMetadata", Array{persistent("/dir/f.txt")});
  EXPECT_EQ(metadata.message["size"].asInt(), 5);
  EXPECT_EQ(metadata.message["name"], Value("f.txt"));
  EXPECT_DOUBLE_EQ(metadata.message["lastModifiedDate"].asDouble(), (978307200.0 + 50.0) * 1000.0);
  expectCode(call("getFileMetadata", Array{persistent("/dir/none")}), kFileError, 1);

  auto entries = call("readEntries", Array{persistent("/dir")});
  ASSERT_TRUE(entries.message.isArray());
  std::vector<std::string> listed;
  for (const auto& entry : entries.message.asArray()) listed.push_back(entry["fullPath"].asString());
  EXPECT_EQ(listed, (std::vector<std::string>{"/dir/.hidden", "/dir/f.txt", "/dir/sub/"}));
  expectCode(call("readEntries", Array{persistent("/dir/f.txt")}), kFileIOError, 1);

  EXPECT_EQ(call("setMetadata", Array{persistent("/dir/f.txt"), Dictionary{{"com.apple.MobileBackup", 1}}}).status,
            kFileOK);
  EXPECT_TRUE(excludedFromBackup(documents("dir/f.txt")));
  EXPECT_EQ(call("setMetadata", Array{persistent("/dir/f.txt")}).status, kFileError);
}

TEST_F(File, PathQueries) {
  writeFile(documents("f.txt"), "f");
  struct Case {
    const char* action;
    std::string path;
    int answer;
  } cases[] = {
      {"testFileExists", documents("f.txt"), 1},
      {"testFileExists", documents(""), 1},
      {"testFileExists", documents("none"), 0},
      {"testFileExists", persistent("/f.txt"), 0},
      {"testFileExists", "/etc/hosts", 0},
      {"testFileExists", documents("../../../../../../etc/hosts"), 0},
      {"testDirectoryExists", documents(""), 1},
      {"testDirectoryExists", documents("f.txt"), 0},
      {"testDirectoryExists", bundlePath(), 1},
      {"testDirectoryExists", "/etc", 0},
  };
  for (const auto& c : cases) {
    auto answer = call(c.action, Array{c.path});
    EXPECT_EQ(answer.status, kFileOK);
    EXPECT_EQ(answer.message.asInt(), c.answer) << c.action << " " << c.path;
  }
  auto free = call("getFreeDiskSpace");
  ASSERT_TRUE(free.message.isString());
  EXPECT_FALSE(free.message.asString().empty());
  EXPECT_EQ(free.message.asString().find_first_not_of("0123456789"), std::string::npos);

  EXPECT_EQ(call("_getLocalFilesystemPath", Array{persistent("/f.txt")}).message, Value(documents("f.txt")));
  auto none = call("_getLocalFilesystemPath", Array{"hbrfile://localhost/nope/f.txt"});
  EXPECT_EQ(none.status, kFileError);
  EXPECT_EQ(none.message, Value("Cannot resolve URL to a file"));
}

// A URL that names no registered file system, and an action called without arguments.
TEST_F(File, NoFileSystemAndNoArguments) {
  std::string nowhere = "hbrfile://localhost/nope/a.txt";
  struct Case {
    const char* action;
    Array arguments;
    int status;
    int code;  // -1: no message
  } cases[] = {
      // Every action answers, as hbrfile loading answers 404: a page's writer would otherwise
      // wait for ever.
      {"getFile", {nowhere, "x"}, kFileIOError, 1},
      {"getDirectory", {nowhere, "x"}, kFileIOError, 1},
      {"getParent", {nowhere}, kFileIOError, 1},
      {"setMetadata", {nowhere, Dictionary{}}, kFileIOError, 1},
      {"remove", {nowhere}, kFileIOError, 1},
      {"removeRecursively", {nowhere}, kFileIOError, 1},
      {"readEntries", {nowhere}, kFileIOError, 1},
      {"truncate", {nowhere, 0}, kFileIOError, 1},
      {"write", {nowhere, "x", 0}, kFileIOError, 1},
      {"write", {nowhere, "x", 3}, kFileIOError, 1},
      {"write", {"hbrfile://localhost/nosuch/x.txt", "x", 0}, kFileIOError, 1},
      {"readAsText", {nowhere, "UTF-8", 0, -1}, kFileIOError, 1},
      {"readAsDataURL", {nowhere, 0, -1}, kFileIOError, 1},
      {"readAsArrayBuffer", {nowhere, 0, -1}, kFileIOError, 1},
      {"readAsBinaryString", {nowhere, 0, -1}, kFileIOError, 1},
      {"getFileMetadata", {nowhere}, kFileIOError, 1},
      {"copyTo", {nowhere, persistent("/"), "c"}, kFileIOError, 1},
      {"moveTo", {persistent("/"), nowhere, "c"}, kFileIOError, 1},
      {"resolveLocalFileSystemURI", {nowhere}, kFileError, 5},
  };
  for (const auto& c : cases) {
    auto answer = call(c.action, c.arguments);
    EXPECT_EQ(answer.status, c.status) << c.action;
    if (c.code < 0) {
      EXPECT_TRUE(answer.message.isNil()) << c.action << " " << answer.message.description();
    } else {
      EXPECT_EQ(answer.message.asInt(), c.code) << c.action;
    }
  }
  for (const char* action : {"getFile", "getDirectory", "getParent", "setMetadata", "remove", "removeRecursively",
                             "copyTo", "moveTo", "getFileMetadata", "readEntries", "readAsText", "readAsDataURL",
                             "readAsArrayBuffer", "readAsBinaryString", "truncate", "write"}) {
    expectCode(call(action), kFileIOError, 1);
  }
  expectCode(call("resolveLocalFileSystemURI"), kFileError, 5);
  EXPECT_EQ(call("testFileExists").message.asInt(), 0);
}

// The application bundle is read-only: every change is refused with NO_MODIFICATION_ALLOWED_ERR
// and changes nothing, while reading and copying out of it go on as before.
TEST_F(File, TheBundleIsReadOnly) {
  writeFile(inBundle("www/page.txt"), "page");
  writeFile(inBundle("www/dir/inner.txt"), "inner");
  writeFile(documents("mine.txt"), "mine");
  auto bundle = [](const std::string& fullPath) { return fileURL("bundle", fullPath); };
  struct Case {
    const char* action;
    Array arguments;
  } changes[] = {
      {"write", {bundle("/www/page.txt"), "changed", 0}},
      {"write", {bundle("/www/page.txt"), "more", 4}},
      {"write", {bundle("/www/new.txt"), "new", 0}},
      {"truncate", {bundle("/www/page.txt"), 1}},
      {"remove", {bundle("/www/page.txt")}},
      {"removeRecursively", {bundle("/www/dir")}},
      {"removeRecursively", {bundle("/www")}},
      {"moveTo", {bundle("/www/page.txt"), persistent("/"), "moved.txt"}},
      {"moveTo", {persistent("/mine.txt"), bundle("/www"), "mine.txt"}},
      {"copyTo", {persistent("/mine.txt"), bundle("/www"), "mine.txt"}},
      {"copyTo", {bundle("/www/page.txt"), bundle("/www"), "copy.txt"}},
      {"getFile", {bundle("/www"), "made.txt", Dictionary{{"create", 1}}}},
      {"getDirectory", {bundle("/www"), "made", Dictionary{{"create", 1}}}},
      {"setMetadata", {bundle("/www/page.txt"), Dictionary{{"com.apple.MobileBackup", 1}}}},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(std::string(c.action) + " " + Value(c.arguments).description());
    expectCode(call(c.action, c.arguments), kFileIOError, 6);
  }
  EXPECT_EQ(readFile(inBundle("www/page.txt")), "page");
  EXPECT_EQ(readFile(inBundle("www/dir/inner.txt")), "inner");
  EXPECT_EQ(readFile(documents("mine.txt")), "mine");
  for (const char* made : {"www/new.txt", "www/mine.txt", "www/copy.txt", "www/made.txt", "www/made"})
    EXPECT_FALSE(exists(inBundle(made))) << made;
  EXPECT_FALSE(exists(documents("moved.txt")));
  EXPECT_FALSE(excludedFromBackup(inBundle("www/page.txt")));

  // Reading, looking up and copying out still work.
  EXPECT_EQ(call("readAsText", Array{bundle("/www/page.txt"), "UTF-8", 0, -1}).message, Value("page"));
  EXPECT_EQ(call("getFile", Array{bundle("/www"), "page.txt", Dictionary{{"create", 1}}}).status, kFileOK);
  EXPECT_EQ(call("readEntries", Array{bundle("/www/dir")}).status, kFileOK);
  EXPECT_EQ(call("copyTo", Array{bundle("/www/page.txt"), persistent("/"), "copied.txt"}).status, kFileOK);
  EXPECT_EQ(readFile(documents("copied.txt")), "page");
}

// A whole write (position 0) keeps what a write elsewhere in the file keeps: the mark that
// excludes the file from backup, and a link inside the root stays a link to the file it names.
TEST_F(File, AWriteAtPositionZeroKeepsTheMarkAndTheLink) {
  for (bool attributes : {true, false}) {
    SCOPED_TRACE(attributes ? "extended attributes" : "no extended attributes: the home's record");
    std::optional<plat::ScopedFileFaults> faults;
    plat::FileFaultPlan plan;
    plan.noExtendedAttributes = true;
    if (!attributes) faults.emplace(plan);
    for (int position : {0, 2}) {
      SCOPED_TRACE("position " + std::to_string(position));
      writeFile(documents("marked.txt"), "old text");
      ASSERT_EQ(call("setMetadata", Array{persistent("/marked.txt"), Dictionary{{"com.apple.MobileBackup", 1}}}).status,
                kFileOK);
      ASSERT_TRUE(excludedFromBackup(documents("marked.txt")));
      EXPECT_EQ(call("write", Array{persistent("/marked.txt"), "new", position}).status, kFileOK);
      EXPECT_EQ(readFile(documents("marked.txt")), position == 0 ? "new" : "olnew");
      EXPECT_TRUE(excludedFromBackup(documents("marked.txt")));

      writeFile(documents("target.txt"), "target");
      std::filesystem::remove(documents("link.txt"));
      std::filesystem::create_symlink("target.txt", documents("link.txt"));
      EXPECT_EQ(call("write", Array{persistent("/link.txt"), "through", position}).status, kFileOK);
      EXPECT_TRUE(std::filesystem::is_symlink(documents("link.txt")));
      EXPECT_EQ(readFile(documents("target.txt")), position == 0 ? "through" : "tathrough");
      std::filesystem::remove(documents("marked.txt"));
    }
  }
}

// Two writes sent in one turn to a file that does not exist yet run at once on the background
// queue. Both answer with their lengths, so both must be in the file, in one order or the other:
// "A" x 10 at 0 then "B" x 10 at 10, or the "B"s first (a new file holds its bytes alone) and
// then the "A"s over them from 0.
TEST_F(File, TwoWritesSentTogetherToANewFileBothLand) {
  const std::string a(10, 'A'), b(10, 'B');
  for (int attempt = 0; attempt < 60; ++attempt) {
    SCOPED_TRACE("attempt " + std::to_string(attempt));
    std::string name = "/race" + std::to_string(attempt) + ".txt";
    Array first{"w1", "File", "write", Array{persistent(name), a, 0}};
    Array second{"w2", "File", "write", Array{persistent(name), b, 10}};
    auto batch = plat::json::write(Value(Array{Value(first), Value(second)}));
    ASSERT_TRUE(batch.ok());
    controller->commandQueue()->enqueueCommandBatch(*batch);
    controller->commandQueue()->executePending();
    std::vector<PageCallback> answers;
    for (int round = 0; round < 50 && answers.size() < 2; ++round) {
      plat::dispatch::GlobalQueue::shared().waitIdle();
      runUntilIdle();
      for (auto& answer : takeCallbacks()) answers.push_back(answer);
    }
    ASSERT_EQ(answers.size(), 2u);
    for (const auto& answer : answers) {
      EXPECT_EQ(answer.status, kFileOK) << answer.callbackId;
      EXPECT_EQ(answer.message, Value(std::int64_t{10})) << answer.callbackId;
    }
    std::string content = readFile(documents(name.substr(1)));
    EXPECT_TRUE(content == a + b || content == a) << content;
  }
  auto names = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(documents(""));
  ASSERT_TRUE(names);
  for (const auto& name : *names)
    EXPECT_FALSE(plat::isInterruptedWriteName(name)) << "left beside the files: " << name;
}

// Every file and folder a page makes takes its permissions from the umask, as open(2) with 0666
// and mkdir(2) with 0777 would: by a write, getFile, getDirectory, a copy out of the photo
// library. What it already had stays.
TEST_F(File, EveryFileAndFolderAPageMakesFollowsTheUmask) {
  std::string photo = "JPEGDATA";
  auto asset = plat::SimulatedPhotoLibrary::addAsset(plat::Data(photo.begin(), photo.end()), "JPG", 1000.0);
  ASSERT_TRUE(asset);
  for (mode_t mask : {mode_t{077}, mode_t{022}, mode_t{002}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    plat::testing::ScopedUmask umask(mask);
    std::filesystem::remove_all(documents("made"));
    ASSERT_EQ(::mkdir(documents("made").c_str(), 0700), 0);
    EXPECT_EQ(call("write", Array{persistent("/made/written.txt"), "w", 0}).status, kFileOK);
    EXPECT_EQ(call("write", Array{persistent("/made/at3.txt"), "w", 3}).status, kFileOK);
    EXPECT_EQ(call("getFile", Array{persistent("/made"), "got.txt", Dictionary{{"create", true}}}).status, kFileOK);
    EXPECT_EQ(call("getDirectory", Array{persistent("/made"), "dir", Dictionary{{"create", true}}}).status, kFileOK);
    EXPECT_EQ(call("copyTo", Array{asset->absoluteString(), persistent("/made/"), "photo.jpg"}).status, kFileOK);
    auto mode = [&](const std::string& name) {
      struct stat st {};
      ::lstat(documents("made/" + name).c_str(), &st);
      return st.st_mode & 07777;
    };
    for (const char* name : {"written.txt", "at3.txt", "got.txt", "photo.jpg"})
      EXPECT_EQ(mode(name), 0666 & ~mask) << name;
    EXPECT_EQ(mode("dir"), 0777 & ~mask);
    EXPECT_EQ(mode(""), 0700u) << "the folder that stood there keeps its own";
  }
}

}  // namespace
