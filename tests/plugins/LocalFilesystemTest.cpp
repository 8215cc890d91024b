// The local file system: path mapping and confinement to its root, entries, lookups, reads,
// writes, removals, copies and moves on real files in a sandbox.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "HBRLocalFilesystem.h"
#include "plat/foundation/FileFaults.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/testing/SandboxTest.h"

using namespace harbor;
using plat::Dictionary;
using plat::Value;

namespace {

std::string text(const plat::Data& data) { return std::string(data.begin(), data.end()); }
plat::Data bytes(std::string_view s) { return plat::Data(s.begin(), s.end()); }

class LocalFilesystem : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    root_ = inHome("Documents/fsroot");
    ASSERT_TRUE(plat::NSFileManager::defaultManager().createDirectoryAtPath(root_, true));
    fs_ = std::make_shared<HBRLocalFilesystem>();
    fs_->initWithName("persistent", root_);
  }

  HBRFilesystemURLPtr url(const std::string& fullPath) {
    return HBRFilesystemURL::fileSystemURLWithString("hbrfile://localhost/persistent" + fullPath);
  }
  std::string local(const std::string& relative) { return root_ + "/" + relative; }
  static void expectError(const HBRPluginResultPtr& result, HBRCommandStatus status, int code) {
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status(), status);
    EXPECT_EQ(result->message(), Value(code));
  }
  HBRPluginResultPtr copyOrMove(const std::string& dest, const std::string& name, const std::string& src, bool copy,
                                HBRFileSystemPtr srcFs = nullptr) {
    HBRPluginResultPtr answer;
    fs_->copyFileToURL(url(dest), name, srcFs ? srcFs : fs_, url(src), copy,
                       [&](HBRPluginResultPtr r) { answer = std::move(r); });
    return answer;
  }
  struct Read {
    std::optional<plat::Data> data;
    std::optional<std::string> mime;
    int error = -1;
  };
  Read read(const std::string& fullPath, std::int64_t start, std::int64_t end) {
    Read r;
    fs_->readFileAtURL(url(fullPath), start, end, [&](auto data, auto mime, std::int32_t error) {
      r = Read{std::move(data), std::move(mime), error};
    });
    return r;
  }

  std::string root_;
  HBRLocalFilesystemPtr fs_;
};

// --- Paths ---

TEST(LocalFilesystemPaths, NormalizePath) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"/a/b/../../c", "/c"}, {"/../x", "/x"}, {"../../x", "x"}, {"/a/./b", "/a/./b"},
               {"/a/b/..", "/a"},      {"/", "/"},       {"", ""},          {"a/../../b/../c", "c"}};
  for (const auto& c : cases) EXPECT_EQ(HBRLocalFilesystem::normalizePath(c.in), c.out) << c.in;
}

TEST(LocalFilesystemPaths, CanCopyMove) {
  EXPECT_TRUE(HBRLocalFilesystem::canCopyMoveSrc("/a/dir", "/a/dir-backup"));
  EXPECT_FALSE(HBRLocalFilesystem::canCopyMoveSrc("/a/dir", "/a/dir/backup"));
  // Only a "/" boundary makes the destination lie inside the source.
  EXPECT_TRUE(HBRLocalFilesystem::canCopyMoveSrc("/a/dir", "/a/dirx/copy"));
  EXPECT_TRUE(HBRLocalFilesystem::canCopyMoveSrc("/a/dir", "/b/a/dir/copy"));
  EXPECT_FALSE(HBRLocalFilesystem::canCopyMoveSrc("/a/dir", "/a/dir"));
  EXPECT_FALSE(HBRLocalFilesystem::canCopyMoveSrc("/a/dir", "/a/dir/x/y"));
  EXPECT_TRUE(HBRLocalFilesystem::canCopyMoveSrc("/a/dir", "/b/other"));
}

TEST(LocalFilesystemPaths, MimeTypes) {
  EXPECT_EQ(HBRLocalFilesystem::getMimeTypeFromPath("/x/a.jpg"), "image/jpeg");
  EXPECT_EQ(HBRLocalFilesystem::getMimeTypeFromPath("/x/a.wave"), "audio/wav");
  EXPECT_EQ(HBRLocalFilesystem::getMimeTypeFromPath("/x/a.mycss"), "text/css");
  EXPECT_EQ(HBRLocalFilesystem::getMimeTypeFromPath("/x/a.qqq"), std::nullopt);
  EXPECT_EQ(HBRLocalFilesystem::getMimeTypeFromPath("/x/noext"), std::nullopt);
  EXPECT_EQ(HBRLocalFilesystem::getMimeTypeFromPath(std::nullopt), std::nullopt);
}

TEST_F(LocalFilesystem, MapsFullPathsInsideTheRoot) {
  EXPECT_EQ(fs_->filesystemPathForFullPath("/a.txt"), local("a.txt"));
  EXPECT_EQ(fs_->filesystemPathForFullPath("/dir/"), local("dir"));
  EXPECT_EQ(fs_->filesystemPathForFullPath("/a.jpg?x=1"), local("a.jpg"));
  EXPECT_EQ(fs_->filesystemPathForFullPath(""), root_);
  EXPECT_EQ(fs_->fullPathForFileSystemPath(local("d/a.txt")), "/d/a.txt");
  EXPECT_EQ(fs_->fullPathForFileSystemPath(root_), "");
  EXPECT_EQ(fs_->fullPathForFileSystemPath(root_ + "x/a"), std::nullopt) << "a sibling sharing the root's prefix";
  EXPECT_EQ(fs_->fullPathForFileSystemPath("/elsewhere/a"), std::nullopt);
  auto made = fs_->URLforFilesystemPath(local("a b/ü.txt"));
  ASSERT_TRUE(made);
  EXPECT_EQ(made->url()->absoluteString(), "hbrfile://localhost/persistent/a%20b/%C3%BC.txt");
  EXPECT_EQ(made->fullPath(), "/a b/ü.txt");
}

TEST_F(LocalFilesystem, RootFileSystemFullPathsKeepTheirSlash) {
  auto whole = std::make_shared<HBRLocalFilesystem>();
  whole->initWithName("root", "/");
  EXPECT_EQ(whole->fullPathForFileSystemPath("/etc/hosts"), "/etc/hosts");
  EXPECT_EQ(whole->URLforFullPath("etc")->fullPath(), "/etc");
}

TEST_F(LocalFilesystem, RefusesPathsThatLeaveTheRoot) {
  writeFile(inHome("Documents/secret.txt"), "secret");
  ASSERT_EQ(::symlink(inHome("Documents").c_str(), local("out").c_str()), 0);
  ASSERT_EQ(::mkdir(local("in").c_str(), 0755), 0);
  ASSERT_EQ(::symlink(local("in").c_str(), local("inlink").c_str()), 0);
  const char* escapes[] = {"/../secret.txt", "/a/../../secret.txt", "/..", "/out/secret.txt", "/out"};
  for (const char* p : escapes) EXPECT_EQ(fs_->filesystemPathForFullPath(p), std::nullopt) << p;
  EXPECT_EQ(fs_->filesystemPathForFullPath(std::string("/a\0b", 4)), std::nullopt);
  EXPECT_EQ(fs_->filesystemPathForFullPath("/inlink/new.txt"), local("inlink/new.txt"));
  auto created = fs_->getFileForURL(url("/"), "out/new.txt", Dictionary{{"create", true}});
  expectError(created, HBRCommandStatus::IOException, ENCODING_ERR);
  EXPECT_FALSE(exists(inHome("Documents/new.txt")));
}

// A name longer than the file system takes names nothing that can exist: refused as unusable,
// the same answer whatever the operation, while a name at the limit works.
TEST_F(LocalFilesystem, NamesPastTheSystemsLimitAreRefused) {
  std::string atLimit(NAME_MAX, 'n'), over(NAME_MAX + 2, 'n');
  EXPECT_EQ(fs_->filesystemPathForFullPath("/" + atLimit), local(atLimit));
  const std::string refused[] = {"/" + over, "/dir/" + over, "/" + over + "/x.txt",
                                 std::string("/") + std::string(PATH_MAX, 'd').replace(100, 1, "/")};
  for (const std::string& fullPath : refused) {
    EXPECT_EQ(fs_->filesystemPathForFullPath(fullPath), std::nullopt) << fullPath.size();
  }
  expectError(fs_->getFileForURL(url("/"), over, Dictionary{{"create", true}}), HBRCommandStatus::IOException,
              ENCODING_ERR);
  expectError(fs_->writeToFileAtURL(url("/" + over), bytes("x"), false), HBRCommandStatus::IOException, ENCODING_ERR);
  expectError(fs_->writeToFileAtURL(url("/" + over), bytes("x"), true), HBRCommandStatus::IOException, ENCODING_ERR);
  EXPECT_EQ(fs_->getFileForURL(url("/"), atLimit, Dictionary{{"create", true}})->status(), HBRCommandStatus::OK);
  EXPECT_TRUE(exists(local(atLimit)));
}

TEST_F(LocalFilesystem, EveryOperationRefusesAnEscapingURL) {
  writeFile(inHome("Documents/secret.txt"), "secret");
  // %2F decodes to "/", so the path climbs out of the root unless refused.
  auto escaping = HBRFilesystemURL::fileSystemURLWithString("hbrfile://localhost/persistent/x%2F..%2F..%2Fsecret.txt");
  ASSERT_EQ(escaping->fullPath(), "/x/../../secret.txt");
  auto status = HBRCommandStatus::IOException;
  expectError(fs_->entryForLocalURI(escaping), status, ENCODING_ERR);
  expectError(fs_->removeFileAtURL(escaping), status, ENCODING_ERR);
  expectError(fs_->recursiveRemoveFileAtURL(escaping), status, ENCODING_ERR);
  expectError(fs_->truncateFileAtURL(escaping, 0), status, ENCODING_ERR);
  expectError(fs_->writeToFileAtURL(escaping, bytes("x"), false), status, ENCODING_ERR);
  expectError(fs_->setMetadataForURL(escaping, Dictionary{{"com.apple.MobileBackup", 1}}), status, ENCODING_ERR);
  expectError(fs_->readEntriesAtURL(escaping), status, ENCODING_ERR);
  HBRPluginResultPtr metadata;
  fs_->getFileMetadataForURL(escaping, [&](HBRPluginResultPtr r) { metadata = r; });
  expectError(metadata, status, ENCODING_ERR);
  Read r;
  fs_->readFileAtURL(escaping, 0, -1, [&](auto data, auto, std::int32_t error) { r = Read{data, {}, error}; });
  EXPECT_FALSE(r.data);
  EXPECT_EQ(r.error, ENCODING_ERR);
  EXPECT_EQ(fs_->makeEntryForLocalURL(escaping), std::nullopt);
  EXPECT_EQ(readFile(inHome("Documents/secret.txt")), "secret");

  writeFile(local("a.txt"), "a");
  expectError(copyOrMove("", "../secret.txt", "/a.txt", true), status, ENCODING_ERR);
  expectError(copyOrMove("", "../moved.txt", "/a.txt", false), status, ENCODING_ERR);
  EXPECT_FALSE(exists(inHome("Documents/moved.txt")));
  EXPECT_EQ(readFile(inHome("Documents/secret.txt")), "secret");
}

// A link as the last component that points out of the root, its target not there yet: no
// operation may create, append, cut or mark anything through it.
TEST_F(LocalFilesystem, DanglingLinksOutOfTheRootCreateNothing) {
  std::string outside = inHome("Documents/outside");
  ASSERT_EQ(::symlink((outside + "/new").c_str(), local("dangling").c_str()), 0);
  ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
  writeFile(inHome("Documents/victim.txt"), "victim");
  ASSERT_EQ(::symlink(inHome("Documents/victim.txt").c_str(), local("existing").c_str()), 0);
  // A chain: an inside link to a link that leads out.
  ASSERT_EQ(::symlink(local("dangling").c_str(), local("chain").c_str()), 0);
  auto io = HBRCommandStatus::IOException;
  for (const char* name : {"dangling", "chain"}) {
    std::string full = std::string("/") + name;
    expectError(fs_->getFileForURL(url("/"), name, Dictionary{{"create", true}}), io, ENCODING_ERR);
    expectError(fs_->getFileForURL(url("/"), name, Dictionary{{"create", true}, {"getDir", true}}), io, ENCODING_ERR);
    expectError(fs_->writeToFileAtURL(url(full), bytes("x"), true), io, ENCODING_ERR);
    expectError(fs_->writeToFileAtURL(url(full), bytes("x"), false), io, ENCODING_ERR);
    expectError(fs_->truncateFileAtURL(url(full), 0), io, ENCODING_ERR);
    writeFile(local("src.txt"), "s");
    expectError(copyOrMove("/", name, "/src.txt", true), io, ENCODING_ERR);
    expectError(copyOrMove("/", name, "/src.txt", false), io, ENCODING_ERR);
    EXPECT_FALSE(exists(outside + "/new")) << name;
  }
  expectError(fs_->writeToFileAtURL(url("/existing"), bytes("x"), true), io, ENCODING_ERR);
  expectError(fs_->truncateFileAtURL(url("/existing"), 0), io, ENCODING_ERR);
  expectError(fs_->setMetadataForURL(url("/existing"), Dictionary{{"com.apple.MobileBackup", 1}}), io, ENCODING_ERR);
  EXPECT_EQ(readFile(inHome("Documents/victim.txt")), "victim");
  auto marked = plat::NSURL::fileURLWithPath(inHome("Documents/victim.txt"))
                    ->resourceValue(plat::NSURLIsExcludedFromBackupKey);
  EXPECT_EQ(marked.value_or(Value()), Value(false));
  // A link inside the root to a name not there yet is fine: it stays inside.
  ASSERT_EQ(::symlink(local("later.txt").c_str(), local("inside").c_str()), 0);
  EXPECT_EQ(fs_->writeToFileAtURL(url("/inside"), bytes("in"), true)->status(), HBRCommandStatus::OK);
  EXPECT_EQ(readFile(local("later.txt")), "in");
}

// --- Entries ---

TEST_F(LocalFilesystem, MakesEntries) {
  ASSERT_EQ(::mkdir(local("d").c_str(), 0755), 0);
  auto dir = fs_->makeEntryForPath("/d", true);
  EXPECT_EQ(dir, (Dictionary{{"isFile", false},
                             {"isDirectory", true},
                             {"fullPath", "/d/"},
                             {"name", "d"},
                             {"filesystemName", "persistent"},
                             {"nativeURL", "file://" + local("d") + "/"}}));
  auto file = fs_->makeEntryForPath("/d/p.jpg?id=3", false);
  EXPECT_EQ(file.get("name"), Value("p.jpg"));
  EXPECT_EQ(file.get("fullPath"), Value("/d/p.jpg?id=3"));
  EXPECT_EQ(fs_->makeEntryForPath("/", true).get("name"), Value("/"));

  fs_->setUrlTransformer([](const plat::NSURLPtr&) { return plat::NSURL::URLWithString("https://cdn/x"); });
  EXPECT_EQ(fs_->makeEntryForPath("/d", true).get("nativeURL"), Value("https://cdn/x"));
}

TEST_F(LocalFilesystem, EntryForLocalURI) {
  writeFile(local("a.txt"), "a");
  auto found = fs_->entryForLocalURI(url("/a.txt"));
  EXPECT_EQ(found->status(), HBRCommandStatus::OK);
  EXPECT_EQ(found->message()["isFile"], Value(true));
  expectError(fs_->entryForLocalURI(url("/missing.txt")), HBRCommandStatus::IOException, NOT_FOUND_ERR);
}

// --- getFile / getDirectory ---

TEST_F(LocalFilesystem, GetFileCases) {
  writeFile(local("d/exists.txt"), "x");
  struct Case {
    const char* name;
    const char* dir;
    std::optional<std::string> path;
    Dictionary options;
    int status;
    Value messageOrCode;  // the full path on success, the error code otherwise
  };
  const Case cases[] = {
      {"climbs only to the root", "/", "../../x", {{"create", true}}, 1, "/x"},
      {"exclusive on existing", "/d", "exists.txt", {{"create", true}, {"exclusive", true}}, 6, Value(int(PATH_EXISTS_ERR))},
      {"exclusive on new", "/d", "new.txt", {{"create", true}, {"exclusive", true}}, 1, "/d/new.txt"},
      {"create as a string is no", "/d", "other.txt", {{"create", "true"}}, 6, Value(int(NOT_FOUND_ERR))},
      {"directory asked for a file", "/d", "exists.txt", {{"getDir", true}}, 6, Value(int(TYPE_MISMATCH_ERR))},
      {"file asked for a directory", "/", "d", {}, 6, Value(int(TYPE_MISMATCH_ERR))},
      {"colon", "/d", "a:b", {{"create", true}}, 6, Value(int(ENCODING_ERR))},
      {"missing path", "/d", std::nullopt, {}, 6, Value(int(ENCODING_ERR))},
      {"missing entry", "/d", "nothing", {}, 6, Value(int(NOT_FOUND_ERR))},
      {"new directory", "/d", "/sub/", {{"create", true}, {"getDir", true}}, 1, "/d/sub/"},
      {"no missing parents", "/d", "p/q", {{"create", true}, {"getDir", true}}, 6, Value(int(ABORT_ERR))},
  };
  for (const auto& c : cases) {
    auto result = fs_->getFileForURL(url(c.dir), c.path, c.options);
    EXPECT_EQ(static_cast<int>(result->status()), c.status) << c.name;
    if (c.status == 1) {
      EXPECT_EQ(result->message()["fullPath"], c.messageOrCode) << c.name;
    } else {
      EXPECT_EQ(result->message(), c.messageOrCode) << c.name;
    }
  }
  EXPECT_TRUE(exists(local("x")));
  EXPECT_FALSE(exists(inHome("Documents/x")));
  EXPECT_EQ(readFile(local("d/exists.txt")), "x");
  EXPECT_FALSE(exists(local("d/other.txt")));
  EXPECT_TRUE(log_->contains("error creating directory: "));
}

TEST_F(LocalFilesystem, GetParent) {
  writeFile(local("d/a.txt"), "a");
  auto parent = fs_->getParentForURL(url("/d/a.txt"));
  EXPECT_EQ(parent->message()["fullPath"], Value("/d/"));
  auto ofRoot = fs_->getParentForURL(url(""));
  EXPECT_EQ(ofRoot->status(), HBRCommandStatus::OK);
  EXPECT_EQ(ofRoot->message()["isDirectory"], Value(true));
  expectError(fs_->getParentForURL(url("/gone/a.txt")), HBRCommandStatus::IOException, NOT_FOUND_ERR);
}

// --- Removal ---

TEST_F(LocalFilesystem, Removal) {
  writeFile(local("d/.hidden"), "h");
  writeFile(local("f.txt"), "f");
  ASSERT_EQ(::mkdir(local("empty").c_str(), 0755), 0);
  expectError(fs_->removeFileAtURL(url("/d")), HBRCommandStatus::IOException, INVALID_MODIFICATION_ERR);
  EXPECT_TRUE(exists(local("d/.hidden")));
  expectError(fs_->removeFileAtURL(url("/nothing")), HBRCommandStatus::IOException, NOT_FOUND_ERR);
  EXPECT_EQ(fs_->removeFileAtURL(url("/f.txt"))->status(), HBRCommandStatus::OK);
  EXPECT_EQ(fs_->removeFileAtURL(url("/empty"))->status(), HBRCommandStatus::OK);
  EXPECT_EQ(fs_->recursiveRemoveFileAtURL(url("/d"))->status(), HBRCommandStatus::OK);
  EXPECT_FALSE(exists(local("d")));
  expectError(fs_->recursiveRemoveFileAtURL(url("/nothing")), HBRCommandStatus::IOException, NOT_FOUND_ERR);
  EXPECT_TRUE(log_->contains("error removing filesystem entry at "));
}

TEST_F(LocalFilesystem, NeverRemovesItsRoot) {
  writeFile(local("keep.txt"), "k");
  for (const char* fullPath : {"", "/", "/."}) {
    auto u = std::make_shared<HBRFilesystemURL>();
    u->setFullPath(std::string(fullPath));
    expectError(fs_->recursiveRemoveFileAtURL(u), HBRCommandStatus::IOException, NO_MODIFICATION_ALLOWED_ERR);
    expectError(fs_->removeFileAtURL(u), HBRCommandStatus::IOException, NO_MODIFICATION_ALLOWED_ERR);
  }
  EXPECT_EQ(readFile(local("keep.txt")), "k");
}

// --- Listing, reading, writing ---

TEST_F(LocalFilesystem, ReadEntries) {
  writeFile(local("d/.hidden"), "h");
  writeFile(local("d/sub/x"), "x");
  auto result = fs_->readEntriesAtURL(url("/d"));
  ASSERT_EQ(result->status(), HBRCommandStatus::OK);
  const auto& list = result->message().asArray();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["fullPath"], Value("/d/.hidden"));
  EXPECT_EQ(list[1]["fullPath"], Value("/d/sub/"));
  EXPECT_EQ(list[1]["isDirectory"], Value(true));
  ASSERT_EQ(::mkdir(local("e").c_str(), 0755), 0);
  EXPECT_TRUE(fs_->readEntriesAtURL(url("/e"))->message().asArray().empty());
  expectError(fs_->readEntriesAtURL(url("/d/.hidden")), HBRCommandStatus::IOException, NOT_FOUND_ERR);
}

TEST_F(LocalFilesystem, ReadRanges) {
  writeFile(local("ten.txt"), "0123456789");
  struct Case {
    std::int64_t start, end;
    const char* expected;
  } cases[] = {{4, 8, "4567"}, {4, -1, "456789"}, {0, -1, "0123456789"}, {-3, 2, "01"},
               {8, 4, ""},     {20, -1, ""},      {0, 1LL << 60, "0123456789"}};
  for (const auto& c : cases) {
    auto r = read("/ten.txt", c.start, c.end);
    ASSERT_TRUE(r.data) << c.start << ".." << c.end;
    EXPECT_EQ(text(*r.data), c.expected) << c.start << ".." << c.end;
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(r.mime, "text/plain");
  }
  auto missing = read("/none.qqq", 0, -1);
  EXPECT_FALSE(missing.data);
  EXPECT_EQ(missing.error, 1);
  EXPECT_EQ(missing.mime, "*/*");
  ASSERT_EQ(::mkdir(local("dir").c_str(), 0755), 0);
  EXPECT_EQ(read("/dir", 0, -1).error, 1);
  ASSERT_EQ(::mkfifo(local("pipe").c_str(), 0644), 0);
  EXPECT_EQ(read("/pipe", 0, -1).error, 1) << "a pipe must not block the read";
}

// A whole read of more than the runner can hold (other plugins read an upload's source whole)
// is refused with NOT_READABLE_ERR, and says why; the runner does not abort. The same file is
// read a piece at a time as far as one asks.
TEST_F(LocalFilesystem, AReadLargerThanMemoryIsRefused) {
  writeFile(local("huge.bin"), "x");
  ASSERT_EQ(::truncate(local("huge.bin").c_str(), off_t{1} << 40), 0);
  auto whole = read("/huge.bin", 0, -1);
  EXPECT_FALSE(whole.data);
  EXPECT_EQ(whole.error, NOT_READABLE_ERR);
  EXPECT_TRUE(log_->contains("File: a read of 1099511627776 bytes was refused: not enough memory"));

  HBRFileReaderPtr reader;
  fs_->openFileAtURL(url("/huge.bin"), 1, (std::int64_t{1} << 40) - 1,
                     [&](HBRFileReaderPtr r, std::optional<std::string>, std::int32_t error) {
                       EXPECT_EQ(error, 0);
                       reader = std::move(r);
                     });
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->length(), (std::uint64_t{1} << 40) - 2);
  std::uint8_t bytes[4] = {1, 1, 1, 1};
  EXPECT_EQ(reader->read(reader->length() - 2, bytes, sizeof bytes), 2);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(reader->read(reader->length(), bytes, sizeof bytes), 0);
}

TEST_F(LocalFilesystem, Truncate) {
  writeFile(local("t.txt"), "0123456789");
  auto cut = fs_->truncateFileAtURL(url("/t.txt"), 4);
  EXPECT_EQ(cut->status(), HBRCommandStatus::OK);
  EXPECT_EQ(cut->message(), Value(4u));
  EXPECT_EQ(readFile(local("t.txt")), "0123");
  EXPECT_EQ(fs_->truncateFileAtURL(url("/t.txt"), 6)->message(), Value(6u));
  EXPECT_EQ(readFile(local("t.txt")), std::string("0123\0\0", 6));
  expectError(fs_->truncateFileAtURL(url("/none.txt"), 3), HBRCommandStatus::IOException, NOT_FOUND_ERR);
  EXPECT_FALSE(exists(local("none.txt")));
}

TEST_F(LocalFilesystem, Write) {
  EXPECT_EQ(fs_->writeToFileAtURL(url("/w.txt"), bytes("hello"), false)->message(), Value(5u));
  EXPECT_EQ(fs_->writeToFileAtURL(url("/w.txt"), bytes(" you"), true)->message(), Value(4u));
  EXPECT_EQ(readFile(local("w.txt")), "hello you");
  EXPECT_EQ(fs_->writeToFileAtURL(url("/w.txt"), bytes("bye"), false)->message(), Value(3u));
  EXPECT_EQ(readFile(local("w.txt")), "bye");
  EXPECT_EQ(fs_->writeToFileAtURL(url("/a.txt"), bytes("a"), true)->message(), Value(1u));

  auto zero = fs_->writeToFileAtURL(url("/zero.txt"), {}, false);
  EXPECT_EQ(zero->status(), HBRCommandStatus::OK);
  EXPECT_EQ(zero->message(), Value(0));
  EXPECT_FALSE(exists(local("zero.txt")));

  writeFile(local("d/keep"), "k");
  for (bool append : {false, true}) {
    expectError(fs_->writeToFileAtURL(url("/d"), bytes("x"), append), HBRCommandStatus::Error,
                INVALID_MODIFICATION_ERR);
  }
  EXPECT_EQ(readFile(local("d/keep")), "k");
  expectError(fs_->writeToFileAtURL(url("/missing/dir/f"), bytes("x"), true), HBRCommandStatus::Error,
              INVALID_MODIFICATION_ERR);
}

// --- Copy and move ---

TEST_F(LocalFilesystem, CopyAndMoveRules) {
  writeFile(local("src/a.txt"), "a");
  writeFile(local("f.txt"), "f");
  writeFile(local("g.txt"), "g");
  ASSERT_EQ(::mkdir(local("existing").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(local("empty").c_str(), 0755), 0);
  writeFile(local("full/x"), "x");
  auto io = HBRCommandStatus::IOException;
  expectError(copyOrMove("/", "existing", "/src", true), io, PATH_EXISTS_ERR);
  expectError(copyOrMove("/", "g.txt", "/f.txt", true), io, PATH_EXISTS_ERR);
  expectError(copyOrMove("/src", "inner", "/src", true), io, INVALID_MODIFICATION_ERR);
  expectError(copyOrMove("/", "f.txt", "/f.txt", true), io, INVALID_MODIFICATION_ERR);
  expectError(copyOrMove("/", "g.txt", "/src", false), io, INVALID_MODIFICATION_ERR);
  expectError(copyOrMove("/", "existing", "/f.txt", false), io, INVALID_MODIFICATION_ERR);
  expectError(copyOrMove("/", "full", "/src", false), io, INVALID_MODIFICATION_ERR);
  expectError(copyOrMove("/nowhere", "x", "/f.txt", true), io, NOT_FOUND_ERR);
  expectError(copyOrMove("/", "x", "/nothing", true), io, NOT_FOUND_ERR);
  EXPECT_EQ(readFile(local("g.txt")), "g");
  EXPECT_TRUE(exists(local("full/x")));

  auto copied = copyOrMove("/", "src-backup", "/src", true);
  EXPECT_EQ(copied->status(), HBRCommandStatus::OK);
  EXPECT_EQ(copied->message()["fullPath"], Value("/src-backup/"));
  EXPECT_EQ(readFile(local("src-backup/a.txt")), "a");

  auto moved = copyOrMove("/", "empty", "/src", false);
  EXPECT_EQ(moved->status(), HBRCommandStatus::OK);
  EXPECT_EQ(readFile(local("empty/a.txt")), "a");
  EXPECT_FALSE(exists(local("src")));

  auto replaced = copyOrMove("/", "g.txt", "/f.txt", false);
  EXPECT_EQ(replaced->status(), HBRCommandStatus::OK);
  EXPECT_EQ(replaced->message()["isFile"], Value(true));
  EXPECT_EQ(readFile(local("g.txt")), "f");
  EXPECT_FALSE(exists(local("f.txt")));
  auto names = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(root_);
  ASSERT_TRUE(names);
  for (const auto& name : *names) {
    EXPECT_EQ(name.find(".hbr-replaced"), std::string::npos) << "nothing set aside is left behind";
  }
}

// A file manager that fails chosen calls with a chosen platform error.
struct FailingManager : plat::NSFileManager {
  long moveError = 0;   // fails every move of the named source
  std::string moveSource;
  std::string killOnMoveOf;
  long removeError = 0;
  bool throwOnRemove = false;
  long copyError = 0;
  long attributesError = 0;
  std::optional<plat::NSFileAttributes> attributesOfItemAtPath(const std::string& p, plat::NSError* e) override {
    if (attributesError) {
      fail(attributesError, e);
      return std::nullopt;
    }
    return NSFileManager::attributesOfItemAtPath(p, e);
  }
  bool moveItemAtPath(const std::string& s, const std::string& d, plat::NSError* e) override {
    if (killOnMoveOf == s) ::raise(SIGKILL);  // a stop at exactly this moment (in a child process)
    if (moveError && s == moveSource) return fail(moveError, e);
    return NSFileManager::moveItemAtPath(s, d, e);
  }
  bool removeItemAtPath(const std::string& p, plat::NSError* e) override {
    if (throwOnRemove) throw std::runtime_error("removal raised");
    if (removeError) return fail(removeError, e);
    return NSFileManager::removeItemAtPath(p, e);
  }
  bool copyItemAtPath(const std::string& s, const std::string& d, plat::NSError* e) override {
    if (copyError) return fail(copyError, e);
    return NSFileManager::copyItemAtPath(s, d, e);
  }
  static bool fail(long code, plat::NSError* e) {
    if (e) *e = plat::NSError{plat::NSCocoaErrorDomain, code, "failed on purpose", {}};
    return false;
  }
};

class ManagedFilesystem : public HBRLocalFilesystem {
 public:
  FailingManager manager;

 protected:
  plat::NSFileManager& fileManager() override { return manager; }
};

class LocalFilesystemFailures : public LocalFilesystem {
 protected:
  void SetUp() override {
    LocalFilesystem::SetUp();
    managed_ = std::make_shared<ManagedFilesystem>();
    managed_->initWithName("persistent", root_);
    fs_ = managed_;
  }
  std::shared_ptr<ManagedFilesystem> managed_;
};

TEST_F(LocalFilesystemFailures, FailedMoveKeepsTheReplacedEntry) {
  writeFile(local("f.txt"), "f");
  writeFile(local("g.txt"), "g");
  managed_->manager.moveError = plat::NSFileWriteOutOfSpaceError;
  managed_->manager.moveSource = local("f.txt");
  expectError(copyOrMove("/", "g.txt", "/f.txt", false), HBRCommandStatus::IOException, QUOTA_EXCEEDED_ERR);
  EXPECT_EQ(readFile(local("g.txt")), "g");
  EXPECT_EQ(readFile(local("f.txt")), "f");
}

// A move over an entry sets that entry aside first. Stopped between the two renames, the next
// start's sweep puts it back: the page finds the state before the move, nothing lost.
TEST_F(LocalFilesystemFailures, AMoveStoppedHalfWayIsUndoneByTheNextStart) {
  for (bool folders : {false, true}) {
    SCOPED_TRACE(folders ? "a folder over an empty folder" : "a file over a file");
    std::string src = folders ? "srcdir" : "f.txt", dest = folders ? "destdir" : "g.txt";
    std::filesystem::remove_all(local(src));
    std::filesystem::remove_all(local(dest));
    if (folders) {
      writeFile(local(src + "/inner.txt"), "moved");
      ASSERT_TRUE(std::filesystem::create_directory(local(dest)));
    } else {
      writeFile(local(src), "f");
      writeFile(local(dest), "g");
    }
    managed_->manager.killOnMoveOf = local(src);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      copyOrMove("/", dest, "/" + src, false);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped between the renames";
    EXPECT_FALSE(exists(local(dest))) << "the stop came after the entry was set aside";

    auto swept = plat::sweepInterruptedWrites(root_);
    ASSERT_EQ(swept.size(), 1u);
    EXPECT_EQ(swept[0].action, plat::NSSweptLeftoverAction::PutBack);
    if (folders) {
      EXPECT_TRUE(std::filesystem::is_directory(local(dest)));
      EXPECT_EQ(readFile(local(src + "/inner.txt")), "moved");
    } else {
      EXPECT_EQ(readFile(local(dest)), "g");
      EXPECT_EQ(readFile(local(src)), "f");
    }
    managed_->manager.killOnMoveOf.clear();
  }
}

TEST_F(LocalFilesystemFailures, CopyErrorCodes) {
  writeFile(local("f.txt"), "f");
  struct Case {
    long platform;
    int code;
  } cases[] = {{256, NOT_READABLE_ERR}, {263, NOT_READABLE_ERR}, {640, QUOTA_EXCEEDED_ERR},
               {513, NO_MODIFICATION_ALLOWED_ERR}, {4, INVALID_MODIFICATION_ERR}};
  for (const auto& c : cases) {
    managed_->manager.copyError = c.platform;
    expectError(copyOrMove("/", "copy.txt", "/f.txt", true), HBRCommandStatus::IOException, c.code);
  }
}

TEST_F(LocalFilesystemFailures, RemoveErrorCodes) {
  writeFile(local("f.txt"), "f");
  struct Case {
    long platform;
    int code;
  } cases[] = {{4, NOT_FOUND_ERR}, {513, NO_MODIFICATION_ALLOWED_ERR}, {512, ABORT_ERR}};
  for (const auto& c : cases) {
    managed_->manager.removeError = c.platform;
    expectError(fs_->removeFileAtURL(url("/f.txt")), HBRCommandStatus::IOException, c.code);
  }
  managed_->manager.removeError = 0;
  managed_->manager.throwOnRemove = true;
  expectError(fs_->recursiveRemoveFileAtURL(url("/f.txt")), HBRCommandStatus::Error, SYNTAX_ERR);
  EXPECT_TRUE(exists(local("f.txt")));
}

// A file system of another kind, like the photo library: the bytes are read through it.
class ByteSource : public HBRFileSystem {
 public:
  std::optional<plat::Data> bytes;
  int error = 0;
  HBRPluginResultPtr entryForLocalURI(const HBRFilesystemURLPtr&) override { return nullptr; }
  HBRPluginResultPtr getFileForURL(const HBRFilesystemURLPtr&, const std::optional<std::string>&,
                                   const Dictionary&) override { return nullptr; }
  HBRPluginResultPtr getParentForURL(const HBRFilesystemURLPtr&) override { return nullptr; }
  HBRPluginResultPtr setMetadataForURL(const HBRFilesystemURLPtr&, const Dictionary&) override { return nullptr; }
  HBRPluginResultPtr removeFileAtURL(const HBRFilesystemURLPtr&) override { return nullptr; }
  HBRPluginResultPtr recursiveRemoveFileAtURL(const HBRFilesystemURLPtr&) override { return nullptr; }
  HBRPluginResultPtr readEntriesAtURL(const HBRFilesystemURLPtr&) override { return nullptr; }
  HBRPluginResultPtr truncateFileAtURL(const HBRFilesystemURLPtr&, std::uint64_t) override { return nullptr; }
  HBRPluginResultPtr writeToFileAtURL(const HBRFilesystemURLPtr&, const plat::Data&, bool) override { return nullptr; }
  void copyFileToURL(const HBRFilesystemURLPtr&, const std::optional<std::string>&, const HBRFileSystemPtr&,
                     const HBRFilesystemURLPtr&, bool, HBRResultCallback) override {}
  void readFileAtURL(const HBRFilesystemURLPtr&, std::int64_t, std::int64_t, HBRReadCallback callback) override {
    callback(bytes, "image/jpeg", error);
  }
  void getFileMetadataForURL(const HBRFilesystemURLPtr&, HBRResultCallback) override {}
  std::optional<Dictionary> makeEntryForLocalURL(const HBRFilesystemURLPtr&) override { return std::nullopt; }
  Dictionary makeEntryForPath(const std::string&, bool) override { return {}; }
  std::string name() const override { return "assets-library"; }
  void setName(std::string) override {}
  HBRURLTransformer urlTransformer() const override { return nullptr; }
  void setUrlTransformer(HBRURLTransformer) override {}
};

TEST_F(LocalFilesystem, CopyFromAnotherKindOfFileSystem) {
  auto source = std::make_shared<ByteSource>();
  source->bytes = bytes("jpeg bytes");
  writeFile(local("p.jpg"), "old");
  auto result = copyOrMove("/", "p.jpg", "/asset", false, source);
  EXPECT_EQ(result->status(), HBRCommandStatus::OK);
  EXPECT_EQ(result->message()["fullPath"], Value("/p.jpg"));
  EXPECT_EQ(readFile(local("p.jpg")), "jpeg bytes");

  source->bytes.reset();
  source->error = NOT_FOUND_ERR;
  expectError(copyOrMove("/", "q.jpg", "/asset", true, source), HBRCommandStatus::IOException, NOT_FOUND_ERR);
  EXPECT_FALSE(exists(local("q.jpg")));
}

// --- Metadata ---

TEST_F(LocalFilesystem, Metadata) {
  writeFile(local("m.txt"), "12345");
  setModificationDate(local("m.txt"), 100.5);
  HBRPluginResultPtr result;
  fs_->getFileMetadataForURL(url("/m.txt"), [&](HBRPluginResultPtr r) { result = r; });
  ASSERT_EQ(result->status(), HBRCommandStatus::OK);
  EXPECT_EQ(result->message()["size"], Value(5u));
  EXPECT_EQ(result->message()["name"], Value("m.txt"));
  EXPECT_EQ(result->message()["fullPath"], Value("/m.txt"));
  EXPECT_EQ(result->message()["type"], Value(""));
  EXPECT_DOUBLE_EQ(result->message()["lastModifiedDate"].asDouble(), (978307200.0 + 100.5) * 1000.0);

  fs_->getFileMetadataForURL(url("/none"), [&](HBRPluginResultPtr r) { result = r; });
  expectError(result, HBRCommandStatus::Error, NOT_FOUND_ERR);
  EXPECT_TRUE(log_->contains("error getting metadata: "));
}

// --- Failures of the platform underneath ---

TEST_F(LocalFilesystem, WritesOnAFullDisk) {
  writeFile(local("w.txt"), "old");
  plat::FileFaultPlan diskFull;
  diskFull.diskFullAfterBytes = 4;
  {
    plat::ScopedFileFaults faults(diskFull);
    // Replacing is whole or nothing.
    expectError(fs_->writeToFileAtURL(url("/w.txt"), bytes("brand new"), false), HBRCommandStatus::Error,
                QUOTA_EXCEEDED_ERR);
    EXPECT_EQ(readFile(local("w.txt")), "old");
  }
  {
    plat::ScopedFileFaults faults(diskFull);
    // Appending too: the write says it failed, and the file is as it was.
    expectError(fs_->writeToFileAtURL(url("/w.txt"), bytes("0123456789"), true), HBRCommandStatus::Error,
                QUOTA_EXCEEDED_ERR);
    EXPECT_EQ(readFile(local("w.txt")), "old");
  }
  for (std::uint64_t room : {0u, 30u, 60u, 75u}) {
    SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
    // Wherever the disk fills up (the undo record, the bytes past the old end), nothing changed.
    plat::FileFaultPlan filling;
    filling.diskFullAfterBytes = room;
    plat::ScopedFileFaults faults(filling);
    expectError(fs_->writeToFileAtURL(url("/w.txt"), bytes(std::string(40, 'x')), true), HBRCommandStatus::Error,
                QUOTA_EXCEEDED_ERR);
    EXPECT_EQ(readFile(local("w.txt")), "old");
  }
  plat::FileFaultPlan denied;
  denied.denyChanges = true;
  plat::ScopedFileFaults faults(denied);
  expectError(fs_->writeToFileAtURL(url("/w.txt"), bytes("x"), true), HBRCommandStatus::Error,
              INVALID_MODIFICATION_ERR);
  expectError(fs_->writeToFileAtURL(url("/w.txt"), bytes("x"), false), HBRCommandStatus::Error,
              INVALID_MODIFICATION_ERR);
  EXPECT_EQ(readFile(local("w.txt")), "old");
  EXPECT_EQ(plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(root_)->size(), 1u) << "no temporaries left";
}

TEST_F(LocalFilesystem, ErrorPathsOfThePlatform) {
  writeFile(local("f.txt"), "0123456789");
  // A URL without a full path names nothing to write.
  auto noPath = HBRFilesystemURL::fileSystemURLWithString("hbrfile://localhost/");
  expectError(fs_->writeToFileAtURL(noPath, bytes("x"), true), HBRCommandStatus::Error, NOT_FOUND_ERR);

  plat::FileFaultPlan denied;
  denied.denyChanges = true;
  plat::ScopedFileFaults faults(denied);
  // A file that exists but cannot be opened for writing is not cut.
  expectError(fs_->truncateFileAtURL(url("/f.txt"), 2), HBRCommandStatus::IOException, INVALID_MODIFICATION_ERR);
  EXPECT_EQ(readFile(local("f.txt")), "0123456789");
  // The mark for backup cannot be set.
  auto marked = fs_->setMetadataForURL(url("/f.txt"), Dictionary{{"com.apple.MobileBackup", 1}});
  EXPECT_EQ(marked->status(), HBRCommandStatus::Error);
  EXPECT_TRUE(marked->message().isAbsent());
  // Photo bytes that cannot be written answer ABORT_ERR and leave nothing.
  auto source = std::make_shared<ByteSource>();
  source->bytes = bytes("jpeg bytes");
  expectError(copyOrMove("/", "p.jpg", "/asset", true, source), HBRCommandStatus::IOException, ABORT_ERR);
  EXPECT_FALSE(exists(local("p.jpg")));
}

TEST_F(LocalFilesystemFailures, MetadataWhenThePlatformFails) {
  writeFile(local("m.txt"), "m");
  managed_->manager.attributesError = plat::NSFileReadUnknownError;
  HBRPluginResultPtr result;
  fs_->getFileMetadataForURL(url("/m.txt"), [&](HBRPluginResultPtr r) { result = r; });
  expectError(result, HBRCommandStatus::Error, ABORT_ERR);
  managed_->manager.attributesError = plat::NSFileReadNoSuchFileError;
  fs_->getFileMetadataForURL(url("/m.txt"), [&](HBRPluginResultPtr r) { result = r; });
  expectError(result, HBRCommandStatus::Error, NOT_FOUND_ERR);
}

TEST_F(LocalFilesystem, SetMetadata) {
  writeFile(local("b.txt"), "b");
  EXPECT_EQ(fs_->setMetadataForURL(url("/b.txt"), Dictionary{{"com.apple.MobileBackup", 1}})->status(),
            HBRCommandStatus::OK);
  auto value = plat::NSURL::fileURLWithPath(local("b.txt"))->resourceValue(plat::NSURLIsExcludedFromBackupKey);
  ASSERT_TRUE(value);
  EXPECT_TRUE(value->asBool());
  for (const Dictionary& wrong : {Dictionary{{"com.apple.MobileBackup", "yes"}}, Dictionary{}}) {
    auto answer = fs_->setMetadataForURL(url("/b.txt"), wrong);
    EXPECT_EQ(answer->status(), HBRCommandStatus::Error);
    EXPECT_TRUE(answer->message().isAbsent());
  }
}

}  // namespace
