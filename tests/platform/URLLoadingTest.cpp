#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "LoopbackServer.h"
#include "plat/foundation/NSURLConnection.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSURLError.h"
#include "plat/testing/SandboxTest.h"

using namespace plat;

namespace {

struct Outcome {
  bool done = false;
  NSURLResponsePtr response;
  std::string body;
  std::optional<NSError> error;
};

NSURLRequestPtr requestFor(const std::string& url) { return NSURLRequest::requestWithURL(NSURL::URLWithString(url)); }

// Records every report in order.
class RecordingDelegate : public NSURLConnectionDataDelegate {
 public:
  void connectionDidReceiveResponse(NSURLConnection&, const NSURLResponsePtr& r) override { events.push_back("response"); response = r; }
  void connectionDidReceiveData(NSURLConnection&, const Data& d) override {
    events.push_back("data");
    body.append(d.begin(), d.end());
  }
  void connectionDidFinishLoading(NSURLConnection&) override { events.push_back("finish"); }
  void connectionDidFailWithError(NSURLConnection&, const NSError& e) override { events.push_back("fail " + std::to_string(e.code)); }
  std::vector<std::string> events;
  NSURLResponsePtr response;
  std::string body;
};

// Answers "test:" URLs with the text after the colon, as an application's own scheme would.
class EchoProtocol : public NSURLProtocol {
 public:
  static bool canInitWithRequest(const NSURLRequestPtr& r) { return r->URL()->scheme() == std::optional<std::string>("test"); }
  void startLoading() override {
    std::string text = request()->URL()->resourceSpecifier();
    client()->URLProtocolDidReceiveResponseCacheStoragePolicy(
        *this, NSURLResponse::responseWithURL(request()->URL(), "text/x-echo", -1, std::nullopt), NSURLCacheStoragePolicy::NotAllowed);
    client()->URLProtocolDidLoadData(*this, Data(text.begin(), text.end()));
    client()->URLProtocolDidFinishLoading(*this);
  }
  void stopLoading() override {}
};

}  // namespace

class URLLoadingTest : public plat::testing::SandboxTest {
 protected:
  void TearDown() override {
    NSURLProtocol::unregisterClass("echo");
    SandboxTest::TearDown();
  }
  Outcome load(const std::string& url, double realTimeout = 0) {
    Outcome outcome;
    NSURLConnection::sendAsynchronousRequest(requestFor(url), [&](const NSURLResponsePtr& r, const Data& d,
                                                                   const std::optional<NSError>& e) {
      outcome = Outcome{true, r, std::string(d.begin(), d.end()), e};
    });
    EXPECT_FALSE(outcome.done) << "reports come on a later turn";
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(realTimeout);
    runUntilIdle();
    while (!outcome.done && std::chrono::steady_clock::now() < until) waitForMain(0.5);
    return outcome;
  }
};

TEST_F(URLLoadingTest, LocalURLsGiveTheirBytesAndTheirType) {
  writeFile(inHome("www/index.html"), "<p>hi</p>");
  writeFile(inHome("www/app.js"), "var a;");
  writeFile(inHome("www/blob.weird"), "x");
  writeFile(inHome("www/a b.txt"), "spaced");
  struct Case {
    std::string url;
    std::string mime;
    std::string body;
    std::optional<std::string> charset;
  } cases[] = {
      {"file://" + inHome("www/index.html"), "text/html", "<p>hi</p>", std::nullopt},
      {"file://" + inHome("www/app.js"), "application/javascript", "var a;", std::nullopt},
      {"file://" + inHome("www/blob.weird"), "application/octet-stream", "x", std::nullopt},
      {"file://" + inHome("www/a%20b.txt"), "text/plain", "spaced", std::nullopt},
      {"data:,hello%20there", "text/plain", "hello there", "US-ASCII"},
      {"data:text/html;base64,PGI+aGk8L2I+", "text/html", "<b>hi</b>", std::nullopt},
      {"data:text/plain;charset=utf-8;base64,4pyT", "text/plain", "\xE2\x9C\x93", "utf-8"},
      {"data:application/json,%7B%7D#ignored", "application/json", "{}", std::nullopt},
      {"data:;base64,YWI", "text/plain", "ab", "US-ASCII"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    Outcome outcome = load(c.url);
    ASSERT_TRUE(outcome.done);
    ASSERT_FALSE(outcome.error) << outcome.error->description();
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->MIMEType(), c.mime);
    EXPECT_EQ(outcome.response->textEncodingName(), c.charset);
    EXPECT_EQ(outcome.body, c.body);
    EXPECT_EQ(outcome.response->expectedContentLength(), static_cast<std::int64_t>(c.body.size()));
  }
}

TEST_F(URLLoadingTest, UnloadableURLsFailWithThePlatformsCodes) {
  writeFile(inHome("www/index.html"), "x");
  // Neither a pipe without a writer nor an endless device may hold the main thread.
  ASSERT_EQ(::mkfifo(inHome("www/pipe").c_str(), 0600), 0);
  struct Case {
    std::string url;
    long code;
    bool canHandle;
  } cases[] = {
      {"file://" + inHome("www/missing.html"), NSURLErrorFileDoesNotExist, true},
      {"file://" + inHome("www"), NSURLErrorFileIsDirectory, true},
      {"file://" + inHome("www/pipe"), NSURLErrorNoPermissionsToReadFile, true},
      {"file:///dev/zero", NSURLErrorNoPermissionsToReadFile, true},
      {"data:no-comma", NSURLErrorBadURL, true},
      {"data:;base64,@@@@", NSURLErrorBadURL, true},
      {"ftp://example.com/x", NSURLErrorUnsupportedURL, false},
      {"mailto:a@example.com", NSURLErrorUnsupportedURL, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(NSURLConnection::canHandleRequest(requestFor(c.url)), c.canHandle);
    Outcome outcome = load(c.url);
    ASSERT_TRUE(outcome.done);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, NSURLErrorDomain);
    EXPECT_EQ(outcome.error->code, c.code);
    EXPECT_EQ(outcome.error->localizedDescription, NSURLErrorDescription(c.code));
    EXPECT_EQ(outcome.error->userInfo[NSURLErrorFailingURLStringErrorKey].stringOr(), requestFor(c.url)->URL()->absoluteString());
  }
  EXPECT_FALSE(NSURLConnection::canHandleRequest(nullptr));
}

TEST_F(URLLoadingTest, RegisteredProtocolsAnswerTheirSchemeAndGoAway) {
  EXPECT_FALSE(NSURLConnection::canHandleRequest(requestFor("test:abc")));
  NSURLProtocol::registerClass<EchoProtocol>("echo");
  EXPECT_TRUE(NSURLConnection::canHandleRequest(requestFor("test:abc")));
  Outcome outcome = load("test:abc");
  ASSERT_TRUE(outcome.done);
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(outcome.response->MIMEType(), "text/x-echo");
  EXPECT_EQ(outcome.body, "abc");
  // A registered class is asked before the built-in ones.
  NSURLProtocol::registerClass(NSURLProtocol::Class{
      "echo", [](const NSURLRequestPtr& r) { return r->URL()->scheme() == std::optional<std::string>("data"); },
      [] { return std::static_pointer_cast<NSURLProtocol>(std::make_shared<EchoProtocol>()); }});
  EXPECT_EQ(load("data:,x").body, ",x");
  NSURLProtocol::unregisterClass("echo");
  EXPECT_FALSE(NSURLConnection::canHandleRequest(requestFor("test:abc")));
  EXPECT_EQ(load("data:,x").body, "x");
}

TEST_F(URLLoadingTest, ReportsComeInOrderAndStopAtCancel) {
  writeFile(inHome("page.html"), "abc");
  auto delegate = std::make_shared<RecordingDelegate>();
  auto connection = NSURLConnection::connectionWithRequest(requestFor("file://" + inHome("page.html")), delegate);
  EXPECT_TRUE(delegate->events.empty());
  runUntilIdle();
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"response", "data", "finish"}));
  EXPECT_TRUE(connection->isFinished());

  auto cancelled = std::make_shared<RecordingDelegate>();
  auto second = NSURLConnection::connectionWithRequest(requestFor("file://" + inHome("page.html")), cancelled);
  second->cancel();
  runUntilIdle();
  EXPECT_TRUE(cancelled->events.empty());

  // A connection nobody holds still reports, then lets go of its delegate.
  auto unheld = std::make_shared<RecordingDelegate>();
  std::weak_ptr<NSURLConnection> weak = NSURLConnection::connectionWithRequest(requestFor("data:,z"), unheld);
  runUntilIdle();
  EXPECT_EQ(unheld->events.back(), "finish");
  EXPECT_TRUE(weak.expired());
}

// Bytes this process has read from files so far.
std::uint64_t bytesReadByProcess() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return 0;
}

// Stops the load once it has seen the first piece of data, as a client with a size limit does.
class CancelAfterFirstData : public RecordingDelegate {
 public:
  void connectionDidReceiveData(NSURLConnection& connection, const Data& d) override {
    RecordingDelegate::connectionDidReceiveData(connection, d);
    connection.cancel();
  }
};

TEST_F(URLLoadingTest, AHugeFileIsReadInPiecesThatStopWithTheLoad) {
  // Sparse: a gigabyte on disk costs nothing, but read whole it would cost a gigabyte of memory.
  std::string path = inHome("huge.html");
  writeFile(path, "");
  ASSERT_EQ(::truncate(path.c_str(), off_t{1} << 30), 0);
  std::uint64_t readBefore = bytesReadByProcess();
  auto delegate = std::make_shared<CancelAfterFirstData>();
  auto connection = NSURLConnection::connectionWithRequest(requestFor("file://" + path), delegate);
  runUntilIdle();
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"response", "data"}));
  EXPECT_LE(delegate->body.size(), std::size_t{1} << 20);
  EXPECT_EQ(delegate->response->expectedContentLength(), std::int64_t{1} << 30);
  EXPECT_FALSE(RunLoop::main().hasReadyWork());
  EXPECT_LT(bytesReadByProcess() - readBefore, std::uint64_t{16} << 20) << "no piece is read after the cancel";

  // Uncancelled, every piece arrives, in order, then the finish.
  std::string text(600 * 1024, 'x');
  for (std::size_t i = 0; i < text.size(); i += 4096) text[i] = static_cast<char>('a' + i / 4096 % 26);
  writeFile(inHome("big.html"), text);
  auto whole = std::make_shared<RecordingDelegate>();
  auto second = NSURLConnection::connectionWithRequest(requestFor("file://" + inHome("big.html")), whole);
  runUntilIdle();
  EXPECT_EQ(whole->events.back(), "finish");
  EXPECT_GT(whole->events.size(), 3u);
  EXPECT_TRUE(whole->body == text);
}

TEST_F(URLLoadingTest, HttpLoadsThroughCurlOnLoopback) {
  harbor::testing::LoopbackServer server;
  if (!server.ok()) GTEST_SKIP() << "no loopback socket";
  server.route("/page", {200, "text/html; charset=\"utf-8\"", "<p>x</p>", {{"X-Test", "1"}}, false});
  server.route("/moved", {302, "text/plain", "", {{"Location", "/page"}}, false});
  server.route("/missing", {404, "text/plain", "gone", {}, false});
  server.route("/to-file", {302, "text/plain", "", {{"Location", "file:///etc/passwd"}}, false});

  Outcome page = load(server.url("/page"), 5);
  ASSERT_TRUE(page.done);
  ASSERT_FALSE(page.error) << page.error->description();
  auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(page.response);
  ASSERT_TRUE(http);
  EXPECT_EQ(http->statusCode(), 200);
  EXPECT_EQ(http->MIMEType(), "text/html");
  EXPECT_EQ(http->textEncodingName(), "utf-8");
  EXPECT_EQ(http->valueForHTTPHeaderField("x-test"), "1");
  EXPECT_EQ(page.body, "<p>x</p>");

  Outcome moved = load(server.url("/moved"), 5);
  ASSERT_TRUE(moved.done);
  EXPECT_EQ(moved.response->URL()->absoluteString(), server.url("/page")) << "the URL the data came from";
  EXPECT_EQ(moved.body, "<p>x</p>");

  Outcome missing = load(server.url("/missing"), 5);
  ASSERT_TRUE(missing.done);
  EXPECT_FALSE(missing.error) << "an HTTP error status is a response";
  EXPECT_EQ(std::dynamic_pointer_cast<NSHTTPURLResponse>(missing.response)->statusCode(), 404);
  EXPECT_EQ(missing.body, "gone");

  Outcome escape = load(server.url("/to-file"), 5);
  ASSERT_TRUE(escape.done);
  ASSERT_TRUE(escape.error) << "a redirect may not leave http";
  EXPECT_EQ(escape.error->code, NSURLErrorUnsupportedURL);
}

TEST_F(URLLoadingTest, HttpFailuresAndCancelsOnLoopback) {
  harbor::testing::LoopbackServer server;
  if (!server.ok()) GTEST_SKIP() << "no loopback socket";
  server.route("/hang", {200, "text/plain", "", {}, true});

  // A port nobody listens on: take one from a server that is gone.
  std::string closedURL;
  {
    harbor::testing::LoopbackServer gone(0.1);
    closedURL = gone.url("/x");
  }
  Outcome refused = load(closedURL, 5);
  ASSERT_TRUE(refused.done);
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code, NSURLErrorCannotConnectToHost);

  auto delegate = std::make_shared<RecordingDelegate>();
  auto connection = NSURLConnection::connectionWithRequest(requestFor(server.url("/hang")), delegate);
  for (int i = 0; i < 100 && server.requests().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  connection->cancel();
  waitForMain(0.2);
  EXPECT_TRUE(delegate->events.empty());
}
