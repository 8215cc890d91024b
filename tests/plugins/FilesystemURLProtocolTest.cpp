// "hbrfile" URLs loaded through the platform's URL loading, as the page engine loads them: the
// file with its MIME type, 404 for what cannot be read, and 404 (not a request that never
// ends) for a file system nobody registered.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "HBRFilesystemURLProtocol.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/foundation/NSURLConnection.h"
#include "support/FilePluginTest.h"

using namespace harbor;

namespace {

struct Load {
  bool done = false;
  plat::NSHTTPURLResponsePtr response;
  plat::Data body;
  std::optional<plat::NSError> error;
  std::string text() const { return std::string(body.begin(), body.end()); }
};

class FilesystemURLProtocol : public harbor::testing::FilePluginTest {
 protected:
  Load load(const std::string& url) {
    Load result;
    auto request = plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString(url));
    plat::NSURLConnection::sendAsynchronousRequest(
        request, [&](const plat::NSURLResponsePtr& r, const plat::Data& d, const std::optional<plat::NSError>& e) {
          result.done = true;
          result.response = std::dynamic_pointer_cast<plat::NSHTTPURLResponse>(r);
          result.body = d;
          result.error = e;
        });
    // The photo library answers on a later turn of the main loop.
    for (int round = 0; round < 50 && !result.done; ++round) runUntilIdle();
    EXPECT_TRUE(result.done) << url;
    return result;
  }
};

TEST_F(FilesystemURLProtocol, ClaimsEveryHbrfileRequest) {
  auto request = [](const char* url) { return plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString(url)); };
  EXPECT_TRUE(HBRFilesystemURLProtocol::canInitWithRequest(request("hbrfile://localhost/persistent/a")));
  EXPECT_TRUE(HBRFilesystemURLProtocol::canInitWithRequest(request("hbrfile://elsewhere/persistent/a")));
  EXPECT_FALSE(HBRFilesystemURLProtocol::canInitWithRequest(request("file:///a")));
  EXPECT_FALSE(HBRFilesystemURLProtocol::canInitWithRequest(nullptr));
  EXPECT_TRUE(HBRFilesystemURLProtocol::requestIsCacheEquivalent(request("hbrfile://localhost/temporary/a"),
                                                                 request("hbrfile://localhost/temporary/a")));
  EXPECT_FALSE(HBRFilesystemURLProtocol::requestIsCacheEquivalent(request("hbrfile://localhost/temporary/a"),
                                                                  request("hbrfile://localhost/temporary/b")));
}

TEST_F(FilesystemURLProtocol, ServesFilesWithTheirType) {
  writeFile(documents("style/a b.css"), "body { color: red }");
  writeFile(documents("data.unknownext"), "raw");
  struct Case {
    std::string url;
    std::string body;
    std::optional<std::string> type;
  } cases[] = {
      {fileURL("persistent", "/style/a%20b.css"), "body { color: red }", "text/css"},
      {fileURL("documents", "/style/a%20b.css"), "body { color: red }", "text/css"},
      {fileURL("persistent", "/data.unknownext"), "raw", "*/*"},
  };
  for (const auto& c : cases) {
    auto result = load(c.url);
    ASSERT_TRUE(result.response) << c.url;
    EXPECT_FALSE(result.error);
    EXPECT_EQ(result.response->statusCode(), 200);
    EXPECT_EQ(result.response->valueForHTTPHeaderField("Content-Type"), c.type);
    EXPECT_EQ(result.response->valueForHTTPHeaderField("Cache-Control"), "no-cache");
    EXPECT_EQ(result.text(), c.body);
  }
}

TEST_F(FilesystemURLProtocol, ServesPhotosFromTheLibrary) {
  std::string jpeg = "\xFF\xD8\xFF-photo";
  auto asset = plat::SimulatedPhotoLibrary::addAsset(plat::Data(jpeg.begin(), jpeg.end()), "JPG");
  ASSERT_TRUE(asset);
  auto result = load("hbrfile://localhost/assets-library" + asset->absoluteString().substr(16));
  ASSERT_TRUE(result.response);
  EXPECT_EQ(result.response->statusCode(), 200);
  EXPECT_EQ(result.response->valueForHTTPHeaderField("Content-Type"), "image/jpeg");
  EXPECT_EQ(result.text(), jpeg);
}

TEST_F(FilesystemURLProtocol, AnswersNotFound) {
  writeFile(documents("folder/f.txt"), "f");
  for (const std::string& url : {fileURL("persistent", "/missing.txt"), fileURL("persistent", "/folder"),
                                 fileURL("nope", "/folder/f.txt"), std::string("hbrfile://elsewhere/persistent/f.txt"),
                                 std::string("hbrfile://localhost/"),
                                 std::string("hbrfile://localhost/assets-library/asset/asset.JPG?id=0&ext=JPG")}) {
    auto result = load(url);
    ASSERT_TRUE(result.response) << url;
    EXPECT_EQ(result.response->statusCode(), 404) << url;
    EXPECT_TRUE(result.body.empty()) << url;
    EXPECT_EQ(result.response->valueForHTTPHeaderField("Cache-Control"), "no-cache");
    EXPECT_FALSE(result.response->valueForHTTPHeaderField("Content-Type")) << url;
  }
}

}  // namespace
