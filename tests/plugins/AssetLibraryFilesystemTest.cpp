// The photo library as a read-only file system, through the File plugin's page actions: reads
// with clamped ranges, metadata, entries without asking the library, the refusals, copies out of
// the library, and a user who refused access.
#include <gtest/gtest.h>

#include <string>

#include "HBRAssetLibraryFilesystem.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/foundation/FileFaults.h"
#include "plat/foundation/Strings.h"
#include "support/FilePluginTest.h"

using namespace harbor;
using harbor::testing::expectCode;
using harbor::testing::kFileError;
using harbor::testing::kFileIOError;
using harbor::testing::kFileMalformed;
using harbor::testing::kFileOK;
using plat::Array;
using plat::Dictionary;
using plat::Value;

namespace {


class AssetLibraryFilesystem : public harbor::testing::FilePluginTest {
 protected:
  void SetUp() override {
    FilePluginTest::SetUp();
    bytes = "JPEGDATA-0123456789";
    auto url = plat::SimulatedPhotoLibrary::addAsset(plat::Data(bytes.begin(), bytes.end()), "JPG", 1000.0);
    ASSERT_TRUE(url);
    libraryURL = url->absoluteString();
    // "assets-library://asset/asset.JPG?id=...": the same asset under the File plugin's scheme.
    localURL = "hbrfile://localhost/assets-library" + libraryURL.substr(std::string("assets-library:/").size());
  }

  std::string bytes;
  std::string libraryURL;
  std::string localURL;
};

TEST_F(AssetLibraryFilesystem, BothSchemesNameTheSameAsset) {
  auto library = HBRFilesystemURL::fileSystemURLWithString(libraryURL);
  auto local = HBRFilesystemURL::fileSystemURLWithString(localURL);
  EXPECT_EQ(library->fileSystemName(), "assets-library");
  EXPECT_EQ(library->fullPath(), local->fullPath());
  EXPECT_TRUE(plat::startsWith(*library->fullPath(), "/asset/asset.JPG?id="));
  EXPECT_EQ(HBRAssetLibraryFilesystem::assetLibraryURLForLocalURL(local)->absoluteString(), libraryURL);
  for (const auto& url : {libraryURL, localURL}) {
    auto text = call("readAsText", Array{url, "UTF-8", 0, -1});
    EXPECT_EQ(text.message, Value(bytes)) << url;
  }
  auto entry = call("resolveLocalFileSystemURI", Array{libraryURL});
  EXPECT_EQ(entry.status, kFileOK);
  EXPECT_EQ(entry.message["filesystemName"], Value("assets-library"));
  EXPECT_EQ(entry.message["nativeURL"], Value(libraryURL));
  EXPECT_TRUE(plat::startsWith(entry.message["name"].asString(), "asset.JPG?id="));
  auto path = call("_getLocalFilesystemPath", Array{libraryURL});
  EXPECT_EQ(path.message, Value("/asset.JPG"));
}

TEST_F(AssetLibraryFilesystem, ReadsClampTheirRange) {
  struct Case {
    std::int64_t start, end;
    std::string expected;
  } cases[] = {
      {0, -1, bytes},
      {0, 4, "JPEG"},
      {4, 8, "DATA"},
      {9, 50, "0123456789"},
      {100, 50, ""},                     // start past the end, end below it: to the end, which is nothing
      {15, 5, "6789"},                   // end below start reads to the end
      {-5, 4, "JPEG"},                   // a negative start reads from the beginning
      {-1000000000000, -1, bytes},
      {0, std::int64_t{1} << 60, bytes},  // a huge end sizes nothing
  };
  for (const auto& c : cases) {
    auto answer = call("readAsText", Array{localURL, "UTF-8", c.start, c.end});
    EXPECT_EQ(answer.status, kFileOK) << c.start << ".." << c.end;
    EXPECT_EQ(answer.message, Value(c.expected)) << c.start << ".." << c.end;
  }
  auto dataURL = call("readAsDataURL", Array{libraryURL, 0, 4});
  EXPECT_EQ(dataURL.message, Value("data:image/jpeg;base64,SlBFRw=="));
}

TEST_F(AssetLibraryFilesystem, MissingAssetsResolveButDoNotRead) {
  std::string missing = "assets-library://asset/asset.JPG?id=00000000-0000-0000-0000-000000000000&ext=JPG";
  EXPECT_EQ(call("resolveLocalFileSystemURI", Array{missing}).status, kFileOK);
  expectCode(call("readAsArrayBuffer", Array{missing, 0, -1}), kFileIOError, 1);
  expectCode(call("getFileMetadata", Array{missing}), kFileIOError, 1);
}

TEST_F(AssetLibraryFilesystem, Metadata) {
  auto metadata = call("getFileMetadata", Array{localURL});
  EXPECT_EQ(metadata.status, kFileOK);
  EXPECT_EQ(metadata.message["size"].asInt(), static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(metadata.message["type"], Value("image/jpeg"));
  EXPECT_TRUE(plat::endsWith(metadata.message["name"].asString(), ".JPG"));
  EXPECT_TRUE(plat::startsWith(metadata.message["fullPath"].asString(), "/asset/asset.JPG?id="));
  EXPECT_DOUBLE_EQ(metadata.message["lastModifiedDate"].asDouble(), (978307200.0 + 1000.0) * 1000.0);
}

TEST_F(AssetLibraryFilesystem, EverythingThatChangesOrListsIsRefused) {
  auto readEntries = call("readEntries", Array{localURL});
  EXPECT_EQ(readEntries.status, kFileMalformed);
  EXPECT_EQ(readEntries.message, Value("readEntries not supported for assets-library URLs."));
  auto getFile = call("getFile", Array{localURL, "x", Dictionary{{"create", true}}});
  EXPECT_EQ(getFile.status, kFileMalformed);
  EXPECT_EQ(getFile.message, Value("getFile not supported for assets-library URLs."));
  auto removeAll = call("removeRecursively", Array{localURL});
  EXPECT_EQ(removeAll.status, kFileMalformed);
  EXPECT_EQ(removeAll.message, Value("removeRecursively not supported for assets-library URLs."));
  expectCode(call("getParent", Array{localURL}), kFileIOError, 4);
  expectCode(call("remove", Array{localURL}), kFileIOError, 9);
  expectCode(call("write", Array{localURL, "x", 0}), kFileIOError, 6);
  expectCode(call("truncate", Array{localURL, 0}), kFileIOError, 6);
  EXPECT_EQ(call("setMetadata", Array{localURL, Dictionary{{"com.apple.MobileBackup", 1}}}).status, kFileError);
  writeFile(documents("a.txt"), "a");
  expectCode(call("copyTo", Array{fileURL("persistent", "/a.txt"), "hbrfile://localhost/assets-library/", "a.txt"}),
             kFileIOError, 9);
  // Nothing changed in the library.
  EXPECT_EQ(call("readAsText", Array{localURL, "UTF-8", 0, -1}).message, Value(bytes));
}

TEST_F(AssetLibraryFilesystem, CopiesOutOfTheLibrary) {
  for (const char* action : {"copyTo", "moveTo"}) {
    std::string name = std::string(action) + ".jpg";
    auto answer = call(action, Array{localURL, fileURL("persistent", "/"), name});
    EXPECT_EQ(answer.status, kFileOK) << action;
    EXPECT_EQ(answer.message["fullPath"], Value("/" + name));
    EXPECT_EQ(readFile(documents(name)), bytes);
  }
  EXPECT_EQ(call("readAsText", Array{localURL, "UTF-8", 0, -1}).message, Value(bytes)) << "a move leaves the photo";
  // A copy whose write fails answers ABORT_ERR and leaves no file.
  plat::FileFaultPlan denied;
  denied.denyChanges = true;
  denied.onlyInside = inHome("Documents");
  plat::ScopedFileFaults faults(denied);
  expectCode(call("copyTo", Array{localURL, fileURL("persistent", "/"), "denied.jpg"}), kFileIOError, 3);
  EXPECT_FALSE(exists(documents("denied.jpg")));
}

TEST_F(AssetLibraryFilesystem, RefusedAccess) {
  plat::SimulatedPhotoLibrary::setAuthorizationStatus(plat::ALAuthorizationStatus::Denied);
  log_->clear();
  expectCode(call("readAsArrayBuffer", Array{localURL, 0, -1}), kFileIOError, 2);
  EXPECT_TRUE(log_->contains("Error: "));
  auto metadata = call("getFileMetadata", Array{localURL});
  EXPECT_EQ(metadata.status, kFileIOError);
  EXPECT_TRUE(metadata.message.isString());
  EXPECT_FALSE(metadata.message.asString().empty());
}

}  // namespace
