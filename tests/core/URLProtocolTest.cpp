#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "HBRURLProtocol.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/foundation/NSURLConnection.h"
#include "plat/foundation/NSURLResponse.h"
#include "plat/testing/SandboxTest.h"

using namespace harbor;

namespace {

plat::Data bytesOf(std::string_view text) { return plat::Data(text.begin(), text.end()); }

// Records what a protocol reports, in order.
class RecordingClient : public plat::NSURLProtocolClient {
 public:
  void URLProtocolDidReceiveResponseCacheStoragePolicy(plat::NSURLProtocol&, const plat::NSURLResponsePtr& r,
                                                      plat::NSURLCacheStoragePolicy p) override {
    events.push_back("response");
    response = std::dynamic_pointer_cast<plat::NSHTTPURLResponse>(r);
    policy = p;
  }
  void URLProtocolDidLoadData(plat::NSURLProtocol&, const plat::Data& d) override {
    events.push_back("data");
    data.insert(data.end(), d.begin(), d.end());
  }
  void URLProtocolDidFinishLoading(plat::NSURLProtocol&) override { events.push_back("finish"); }
  void URLProtocolDidFailWithError(plat::NSURLProtocol&, const plat::NSError&) override { events.push_back("fail"); }

  std::vector<std::string> events;
  plat::NSHTTPURLResponsePtr response;
  std::optional<plat::NSURLCacheStoragePolicy> policy;
  plat::Data data;
};

class URLProtocolTest : public plat::testing::SandboxTest {
 protected:
  void TearDown() override {
    HBRURLProtocol::unregisterClass();
    SandboxTest::TearDown();
  }

  std::shared_ptr<RecordingClient> load(const std::string& url) {
    auto client = std::make_shared<RecordingClient>();
    auto protocol = std::make_shared<HBRURLProtocol>();
    protocol->initWithRequestCachedResponseClient(plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString(url)),
                                                  nullptr, client);
    protocol->startLoading();
    runUntilIdle();
    return client;
  }
};

}  // namespace

TEST(HBRURLProtocol, ClaimsOnlyPhotoLibraryUrls) {
  struct Case {
    const char* url;
    bool claimed;
  };
  const Case cases[] = {
      {"assets-library://asset/asset.JPG?id=1&ext=JPG", true},
      {"assets-library://anything", true},
      {"ASSETS-LIBRARY://asset/asset.JPG", false},
      {"assets-library:/asset/asset.JPG", false},
      {"file:///var/mobile/Media/DCIM/a.JPG", false},
      {"https://example.com/assets-library://x", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HBRURLProtocol::canInitWithRequest(plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString(c.url))),
              c.claimed)
        << c.url;
  EXPECT_FALSE(HBRURLProtocol::canInitWithRequest(nullptr));
  auto a = plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString("assets-library://asset/a"));
  EXPECT_EQ(HBRURLProtocol::canonicalRequestForRequest(a), a);
  EXPECT_FALSE(HBRURLProtocol::requestIsCacheEquivalent(a, a));
}

TEST_F(URLProtocolTest, ServesAPhotoWithItsBytesAndMimeTypeUncached) {
  plat::Data jpeg = bytesOf(std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0 and more", 20));
  auto url = plat::SimulatedPhotoLibrary::addAsset(jpeg, "JPG");
  ASSERT_TRUE(url);
  auto client = load(url->absoluteString());
  EXPECT_EQ(client->events, (std::vector<std::string>{"response", "data", "finish"}));
  ASSERT_TRUE(client->response);
  EXPECT_EQ(client->response->statusCode(), 200);
  EXPECT_EQ(client->response->URL()->absoluteString(), url->absoluteString());
  EXPECT_EQ(client->response->MIMEType(), "image/jpeg");
  EXPECT_EQ(client->response->allHeaderFields(),
            (plat::NSHTTPURLResponse::HeaderFields{{"Content-Type", "image/jpeg"}}));
  EXPECT_EQ(client->policy, plat::NSURLCacheStoragePolicy::NotAllowed);
  EXPECT_EQ(client->data, jpeg);
}

TEST_F(URLProtocolTest, AnswersStatusesForMissingRefusedAndForeignUrls) {
  auto video = plat::SimulatedPhotoLibrary::addAsset(bytesOf("moov"), "MOV");
  auto odd = plat::SimulatedPhotoLibrary::addAsset(bytesOf("??"), "XYZ");
  ASSERT_TRUE(video && odd);
  struct Case {
    std::string url;
    long status;
    std::string mime;
    std::optional<std::string> body;
  };
  const std::vector<Case> cases = {
      {video->absoluteString(), 200, "video/quicktime", "moov"},
      // A type without MIME type is served as plain text.
      {odd->absoluteString(), 200, "text/plain", "??"},
      {"assets-library://asset/asset.JPG?id=00000000-0000-0000-0000-000000000000&ext=JPG", 404, "text/plain", {}},
      {"assets-library://asset/asset.JPG?id=..%2F..%2FLibrary&ext=JPG", 404, "text/plain", {}},
      {"file:///etc/passwd", 401, "text/plain", "Access not allowed to URL: file:///etc/passwd"},
      {"https://example.com/a?b=c", 401, "text/plain", "Access not allowed to URL: https://example.com/a?b=c"},
  };
  for (const auto& c : cases) {
    auto client = load(c.url);
    ASSERT_TRUE(client->response) << c.url;
    EXPECT_EQ(client->response->statusCode(), c.status) << c.url;
    EXPECT_EQ(client->response->MIMEType(), c.mime) << c.url;
    EXPECT_EQ(client->policy, plat::NSURLCacheStoragePolicy::NotAllowed);
    const std::vector<std::string> withBody{"response", "data", "finish"}, withoutBody{"response", "finish"};
    EXPECT_EQ(client->events, c.body ? withBody : withoutBody) << c.url;
    if (c.body) {
      EXPECT_EQ(std::string(client->data.begin(), client->data.end()), *c.body) << c.url;
    }
  }

  plat::SimulatedPhotoLibrary::setAuthorizationStatus(plat::ALAuthorizationStatus::Denied);
  auto refused = load(video->absoluteString());
  ASSERT_TRUE(refused->response);
  EXPECT_EQ(refused->response->statusCode(), 401);
  EXPECT_EQ(refused->events, (std::vector<std::string>{"response", "finish"}));
}

TEST_F(URLProtocolTest, AStoppedLoadStillAnswersAndNothingBreaks) {
  auto url = plat::SimulatedPhotoLibrary::addAsset(bytesOf("\xFF\xD8\xFF"), "JPG");
  auto client = std::make_shared<RecordingClient>();
  {
    auto protocol = std::make_shared<HBRURLProtocol>();
    protocol->initWithRequestCachedResponseClient(plat::NSURLRequest::requestWithURL(url), nullptr, client);
    protocol->startLoading();
    protocol->stopLoading();
  }  // the loading system lets go of the protocol object
  runUntilIdle();
  EXPECT_EQ(client->events, (std::vector<std::string>{"response", "data", "finish"}));
}

TEST_F(URLProtocolTest, LoadsThroughTheUrlLoadingSystemOnlyOnceRegistered) {
  plat::Data png = bytesOf("\x89PNG\r\n\x1A\n-pixels-");
  auto url = plat::SimulatedPhotoLibrary::addAsset(png, "PNG");
  auto request = plat::NSURLRequest::requestWithURL(url);
  EXPECT_FALSE(plat::NSURLConnection::canHandleRequest(request));

  HBRURLProtocol::registerClass();
  EXPECT_TRUE(plat::NSURLConnection::canHandleRequest(request));
  plat::NSURLResponsePtr response;
  plat::Data body;
  std::optional<plat::NSError> error;
  bool done = false;
  plat::NSURLConnection::sendAsynchronousRequest(
      request, [&](const plat::NSURLResponsePtr& r, const plat::Data& d, const std::optional<plat::NSError>& e) {
        response = r;
        body = d;
        error = e;
        done = true;
      });
  runUntilIdle();
  ASSERT_TRUE(done);
  EXPECT_FALSE(error);
  auto http = std::dynamic_pointer_cast<plat::NSHTTPURLResponse>(response);
  ASSERT_TRUE(http);
  EXPECT_EQ(http->statusCode(), 200);
  EXPECT_EQ(http->MIMEType(), "image/png");
  EXPECT_EQ(body, png);
  HBRURLProtocol::unregisterClass();
  EXPECT_FALSE(plat::NSURLConnection::canHandleRequest(request));
}

// A photo-library asset of any size (a film of many gigabytes) is served a piece at a time through
// the URL loading system: a connection that stops after a few pieces leaves the rest unread,
// where the whole asset was once read into memory first.
TEST_F(URLProtocolTest, AnAssetOfAnySizeIsServedAPieceAtATime) {
  auto url = plat::SimulatedPhotoLibrary::addAsset(bytesOf("\x00\x00\x00\x18"
                                                           "ftypmp42"),
                                                   "MOV");
  ASSERT_TRUE(url);
  std::string id = url->query()->substr(3, 36);
  std::string file = plat::SimulatedPhotoLibrary::folderPath() + "/" + id + ".MOV";
  ASSERT_EQ(::truncate(file.c_str(), off_t{1} << 40), 0) << file;
  HBRURLProtocol::registerClass();
  struct Counting : plat::NSURLConnectionDataDelegate {
    long status = 0;
    std::size_t received = 0;
    int pieces = 0;
    void connectionDidReceiveResponse(plat::NSURLConnection&, const plat::NSURLResponsePtr& r) override {
      if (auto http = std::dynamic_pointer_cast<plat::NSHTTPURLResponse>(r)) status = http->statusCode();
    }
    void connectionDidReceiveData(plat::NSURLConnection& connection, const plat::Data& data) override {
      received += data.size();
      if (++pieces == 3) connection.cancel();
    }
  };
  auto delegate = std::make_shared<Counting>();
  plat::NSURLConnection::connectionWithRequest(plat::NSURLRequest::requestWithURL(url), delegate);
  for (int turn = 0; turn < 100 && delegate->pieces < 3; ++turn) runUntilIdle();
  runUntilIdle();
  EXPECT_EQ(delegate->status, 200);
  EXPECT_EQ(delegate->pieces, 3);
  EXPECT_EQ(delegate->received, 3 * plat::kNSURLBodyPieceSize);
}
