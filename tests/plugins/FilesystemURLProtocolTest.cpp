// "hbrfile" URLs loaded through the platform's URL loading, as the page engine loads them: the
// file with its MIME type, 404 for what cannot be read, and 404 (not a request that never
// ends) for a file system nobody registered.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "HBRFilesystemURLProtocol.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/foundation/NSURLConnection.h"
#include "plat/foundation/NSURLError.h"
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

namespace {

// The client of one load, driven by the test: it keeps what the protocol hands over and holds
// back the protocol's next piece until the test lets it have it.
class HoldingClient : public plat::NSURLProtocolClient {
 public:
  plat::NSHTTPURLResponsePtr response;
  std::vector<std::size_t> pieces;
  std::string body;  // the first bytes, for the ranges
  std::function<void()> next;
  bool finished = false;
  std::optional<plat::NSError> error;

  void URLProtocolDidReceiveResponseCacheStoragePolicy(plat::NSURLProtocol&, const plat::NSURLResponsePtr& r,
                                                      plat::NSURLCacheStoragePolicy) override {
    response = std::dynamic_pointer_cast<plat::NSHTTPURLResponse>(r);
  }
  void URLProtocolDidLoadData(plat::NSURLProtocol&, const plat::Data& data) override {
    pieces.push_back(data.size());
    if (body.size() < 4096) body.append(data.begin(), data.begin() + std::min<std::size_t>(data.size(), 4096));
  }
  void URLProtocolWhenReadyForMoreData(plat::NSURLProtocol&, std::function<void()> more) override {
    next = std::move(more);
  }
  void URLProtocolDidFinishLoading(plat::NSURLProtocol&) override { finished = true; }
  void URLProtocolDidFailWithError(plat::NSURLProtocol&, const plat::NSError& e) override { error = e; }
};

class FilesystemURLStreaming : public FilesystemURLProtocol {
 protected:
  std::shared_ptr<HBRFilesystemURLProtocol> start(const std::string& url, const std::shared_ptr<HoldingClient>& client,
                                                  std::optional<std::string> range = std::nullopt) {
    auto request = plat::NSMutableURLRequest::requestWithURL(plat::NSURL::URLWithString(url));
    if (range) request->setValueForHTTPHeaderField(*range, "Range");
    auto protocol = std::make_shared<HBRFilesystemURLProtocol>();
    protocol->initWithRequestCachedResponseClient(request, nullptr, client);
    protocol->startLoading();
    return protocol;
  }
  // A file of that length that holds no data (a page's truncate makes one at no cost).
  void sparseFile(const std::string& path, std::uint64_t length) {
    writeFile(path, "");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(length)), 0) << path;
  }
};

// A terabyte file is served with its length, a piece at a time, each only once the client asks
// for it: nothing more is read while the client holds back, and nothing once it lets the load go.
TEST_F(FilesystemURLStreaming, ServesAnyLengthAPieceAtATimeAsTheClientTakesThem) {
  constexpr std::uint64_t kTerabyte = std::uint64_t{1} << 40;
  sparseFile(inHome("tmp/huge.bin"), kTerabyte);
  auto client = std::make_shared<HoldingClient>();
  auto protocol = start(fileURL("temporary", "/huge.bin"), client);
  ASSERT_TRUE(client->response);
  EXPECT_EQ(client->response->statusCode(), 200);
  EXPECT_EQ(client->response->expectedContentLength(), static_cast<std::int64_t>(kTerabyte));
  EXPECT_EQ(client->response->valueForHTTPHeaderField("Accept-Ranges"), "bytes");
  for (int piece = 1; piece <= 3; ++piece) {
    ASSERT_EQ(client->pieces.size(), static_cast<std::size_t>(piece));
    EXPECT_EQ(client->pieces.back(), plat::kNSURLBodyPieceSize);
    runUntilIdle();  // a client that does not ask gets nothing more
    ASSERT_EQ(client->pieces.size(), static_cast<std::size_t>(piece));
    ASSERT_TRUE(client->next);
    std::exchange(client->next, nullptr)();
  }
  auto next = std::exchange(client->next, nullptr);
  protocol.reset();  // the load let go
  next();
  runUntilIdle();
  EXPECT_EQ(client->pieces.size(), 4u);
  EXPECT_FALSE(client->finished);
  EXPECT_FALSE(client->error);
}

// Through the platform's URL loading, as the headless page engine fetches: a connection that
// stops after a few pieces (as the engine does at its size limit) leaves the rest unread.
TEST_F(FilesystemURLStreaming, AConnectionThatStopsLeavesTheRestUnread) {
  sparseFile(inHome("tmp/huge.bin"), std::uint64_t{1} << 40);
  struct Counting : plat::NSURLConnectionDataDelegate {
    std::int64_t announced = 0;
    std::size_t received = 0;
    int pieces = 0;
    void connectionDidReceiveResponse(plat::NSURLConnection&, const plat::NSURLResponsePtr& r) override {
      announced = r->expectedContentLength();
    }
    void connectionDidReceiveData(plat::NSURLConnection& connection, const plat::Data& data) override {
      received += data.size();
      if (++pieces == 3) connection.cancel();
    }
  };
  auto delegate = std::make_shared<Counting>();
  auto request = plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString(fileURL("temporary", "/huge.bin")));
  plat::NSURLConnection::connectionWithRequest(request, delegate);
  runUntilIdle();
  EXPECT_EQ(delegate->announced, std::int64_t{1} << 40);
  EXPECT_EQ(delegate->pieces, 3);
  EXPECT_EQ(delegate->received, 3 * plat::kNSURLBodyPieceSize);
}

// One range of bytes, as a media element asks for it; what is no single satisfiable range of
// bytes gets the whole file, or 416 when it starts past the end.
TEST_F(FilesystemURLStreaming, ServesOneRangeOfBytes) {
  writeFile(inHome("tmp/digits.txt"), "0123456789");
  struct Case {
    std::optional<std::string> range;
    long status;
    std::optional<std::string> contentRange;
    std::string body;
  } cases[] = {
      {std::nullopt, 200, std::nullopt, "0123456789"},
      {"bytes=2-4", 206, "bytes 2-4/10", "234"},
      {"bytes=7-", 206, "bytes 7-9/10", "789"},
      {"bytes=-3", 206, "bytes 7-9/10", "789"},
      {"bytes=-30", 206, "bytes 0-9/10", "0123456789"},
      {"bytes=8-1000", 206, "bytes 8-9/10", "89"},
      {"bytes=10-", 416, "bytes */10", ""},
      {"bytes=-0", 416, "bytes */10", ""},
      {"bytes=4-2", 200, std::nullopt, "0123456789"},
      {"bytes=0-1,5-6", 200, std::nullopt, "0123456789"},
      {"items=0-1", 200, std::nullopt, "0123456789"},
      {"bytes=x-1", 200, std::nullopt, "0123456789"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range.value_or("no range"));
    auto client = std::make_shared<HoldingClient>();
    auto protocol = start(fileURL("temporary", "/digits.txt"), client, c.range);
    while (client->next) std::exchange(client->next, nullptr)();
    ASSERT_TRUE(client->response);
    EXPECT_EQ(client->response->statusCode(), c.status);
    EXPECT_EQ(client->response->valueForHTTPHeaderField("Content-Range"), c.contentRange);
    EXPECT_EQ(client->body, c.body);
    if (c.status != 416) {
      EXPECT_EQ(client->response->expectedContentLength(), static_cast<std::int64_t>(c.body.size()));
    }
    EXPECT_TRUE(client->finished);
  }
}

// A file cut shorter while it is served ends the load as a failure, not as a whole body.
TEST_F(FilesystemURLStreaming, AFileCutShortWhileServedFailsTheLoad) {
  std::string path = inHome("tmp/shrinking.bin");
  sparseFile(path, 4 * plat::kNSURLBodyPieceSize);
  auto client = std::make_shared<HoldingClient>();
  auto protocol = start(fileURL("temporary", "/shrinking.bin"), client);
  ASSERT_EQ(client->pieces.size(), 1u);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(plat::kNSURLBodyPieceSize)), 0);
  while (client->next) std::exchange(client->next, nullptr)();
  EXPECT_FALSE(client->finished);
  ASSERT_TRUE(client->error);
  EXPECT_EQ(client->error->code, plat::NSURLErrorNetworkConnectionLost);
}

}  // namespace
