// URL connections as transfers use them: a delegate queue, any method, bodies from memory or
// streamed, cookies, TLS trust, upload progress, HEAD, cut bodies and cancel, against a real
// server on 127.0.0.1.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "HTTPTestServer.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSHTTPCookieStorage.h"
#include "plat/foundation/NSStream.h"
#include "plat/foundation/NSURLConnection.h"
#include "plat/foundation/NSURLError.h"
#include "plat/testing/PlatformTest.h"

using namespace plat;
using harbor::testing::HTTPTestServer;

namespace {

// Records every report, the thread it ran on, and wakes the test when the load ends.
class QueueDelegate : public NSURLConnectionDataDelegate {
 public:
  void connectionDidSendBodyData(NSURLConnection&, std::int64_t, std::int64_t total, std::int64_t expected) override {
    record("sent " + std::to_string(total) + "/" + std::to_string(expected), false);
  }
  void connectionDidReceiveResponse(NSURLConnection&, const NSURLResponsePtr& r) override {
    std::lock_guard<std::mutex> lock(mutex);
    response = r;
    events.push_back("response");
    offMain = offMain && !isMainThread();
  }
  void connectionDidReceiveData(NSURLConnection& c, const Data& d) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      body.append(d.begin(), d.end());
      if (events.empty() || events.back() != "data") events.push_back("data");
      changed.notify_all();
    }
    if (cancelOnData) c.cancel();
  }
  void connectionDidFinishLoading(NSURLConnection&) override { record("finish", true); }
  void connectionDidFailWithError(NSURLConnection&, const NSError& e) override {
    record("fail " + std::to_string(e.code), true);
  }
  bool waitForData(double seconds = 10) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return !body.empty(); });
  }
  bool waitEnded(double seconds = 10) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return ended; });
  }
  std::vector<std::string> eventsCopy() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> events;
  NSURLResponsePtr response;
  std::string body;
  bool ended = false;
  bool offMain = true;
  bool cancelOnData = false;

 private:
  void record(const std::string& event, bool end) {
    std::lock_guard<std::mutex> lock(mutex);
    // Progress reports are many; the last one is what tells the whole story.
    if (event.rfind("sent ", 0) == 0 && !events.empty() && events.back().rfind("sent ", 0) == 0) events.pop_back();
    events.push_back(event);
    offMain = offMain && !isMainThread();
    ended = ended || end;
    changed.notify_all();
  }
};

NSMutableURLRequestPtr requestFor(const std::string& url) {
  return NSMutableURLRequest::requestWithURL(NSURL::URLWithString(url));
}

std::shared_ptr<QueueDelegate> load(const NSURLRequestPtr& request, const NSOperationQueuePtr& queue) {
  auto delegate = std::make_shared<QueueDelegate>();
  auto connection = std::make_shared<NSURLConnection>();
  connection->initWithRequestDelegateStartImmediately(request, delegate, false);
  connection->setDelegateQueue(queue);
  connection->start();
  return delegate;
}

std::string text(const Data& d) { return std::string(d.begin(), d.end()); }

}  // namespace

class URLTransferTest : public plat::testing::PlatformTest {
 protected:
  NSOperationQueuePtr queue_ = std::make_shared<NSOperationQueue>();
  HTTPTestServer server_;
};

TEST_F(URLTransferTest, BodiesOfEveryKindReachTheServerWithProgressOnTheDelegateQueue) {
  ASSERT_TRUE(server_.ok());
  server_.route("/echo", [](const HTTPTestServer::Request& r) {
    return HTTPTestServer::reply(201, r.body, {{"X-Method", r.method}});
  });
  std::string payload(100000, 'x');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('0' + i % 10);
  struct Case {
    const char* name;
    const char* method;
    int body;  // 0 memory, 1 stream with length, 2 stream without length
  } cases[] = {{"memory POST", "POST", 0}, {"streamed PUT with length", "PUT", 1}, {"chunked PATCH", "PATCH", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto request = requestFor(server_.url("/echo"));
    request->setHTTPMethod(c.method);
    std::thread writer;
    if (c.body == 0) {
      request->setHTTPBody(Data(payload.begin(), payload.end()));
    } else {
      auto [input, output] = CFStreamCreateBoundPair(32768);
      request->setHTTPBodyStream(input);
      if (c.body == 1) request->setValueForHTTPHeaderField(std::to_string(payload.size()), "Content-Length");
      writer = std::thread([output = output, &payload] {
        output->open();
        for (std::size_t done = 0; done < payload.size();) {
          long n = output->write(reinterpret_cast<const std::uint8_t*>(payload.data()) + done, payload.size() - done);
          if (n <= 0) break;
          done += static_cast<std::size_t>(n);
        }
        output->close();
      });
    }
    auto delegate = load(request, queue_);
    ASSERT_TRUE(delegate->waitEnded());
    if (writer.joinable()) writer.join();
    ASSERT_TRUE(queue_->waitUntilAllOperationsAreFinished());
    std::string expected = c.body == 2 ? "-1" : std::to_string(payload.size());
    EXPECT_EQ(delegate->eventsCopy(), (std::vector<std::string>{"sent " + std::to_string(payload.size()) + "/" + expected,
                                                                "response", "data", "finish"}));
    EXPECT_TRUE(delegate->offMain);
    EXPECT_EQ(delegate->body, payload);
    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(delegate->response);
    ASSERT_TRUE(http);
    EXPECT_EQ(http->statusCode(), 201);
    EXPECT_EQ(http->valueForHTTPHeaderField("x-method"), std::optional<std::string>(c.method));
    auto seen = server_.requests().back();
    EXPECT_EQ(seen.body, payload);
    EXPECT_EQ(seen.chunked, c.body == 2);
    if (c.body != 2) {
      EXPECT_EQ(seen.header("Content-Length"), std::optional<std::string>(std::to_string(payload.size())));
    }
  }
}

TEST_F(URLTransferTest, FieldsThatCouldSmuggleHeadersAreLeftOutAndBadMethodsRefused) {
  ASSERT_TRUE(server_.ok());
  server_.route("/h", HTTPTestServer::reply(200, "ok"));
  auto request = requestFor(server_.url("/h"));
  request->setValueForHTTPHeaderField("1", "X-Good");
  request->setValueForHTTPHeaderField(std::string("a\r\nX-Injected: 1"), "X-Value");
  request->setValueForHTTPHeaderField(std::string("a\0b", 3), "X-Nul");
  request->setValueForHTTPHeaderField("1", "X-Bad\r\nX-Injected");
  request->setValueForHTTPHeaderField("1", "X Space");
  ASSERT_TRUE(load(request, queue_)->waitEnded());
  auto head = server_.requests().back().head;
  EXPECT_NE(head.find("X-Good: 1"), std::string::npos);
  EXPECT_EQ(head.find("X-Injected"), std::string::npos) << head;
  EXPECT_EQ(head.find("X-Value"), std::string::npos);
  EXPECT_EQ(head.find("X-Nul"), std::string::npos);
  EXPECT_EQ(head.find("X Space"), std::string::npos);

  for (const char* method : {"GET /x HTTP/1.1\r\nX:", "PO ST", ""}) {
    auto bad = requestFor(server_.url("/h"));
    bad->setHTTPMethod(method);
    auto delegate = load(bad, queue_);
    ASSERT_TRUE(delegate->waitEnded());
    EXPECT_EQ(delegate->eventsCopy(), (std::vector<std::string>{"fail " + std::to_string(NSURLErrorBadURL)}));
  }
  EXPECT_EQ(server_.requests().size(), 1u);
}

TEST_F(URLTransferTest, HeadAnswersTheLengthWithoutABodyAndNamesItsOwnEncoding) {
  ASSERT_TRUE(server_.ok());
  HTTPTestServer::Response big;
  big.generatedLength = 5000;
  server_.route("/file", big);
  auto request = requestFor(server_.url("/file"));
  request->setHTTPMethod("HEAD");
  request->setValueForHTTPHeaderField("identity", "Accept-Encoding");
  auto delegate = load(request, queue_);
  ASSERT_TRUE(delegate->waitEnded());
  EXPECT_EQ(delegate->eventsCopy(), (std::vector<std::string>{"response", "finish"}));
  EXPECT_EQ(delegate->response->expectedContentLength(), 5000);
  auto seen = server_.requests().back();
  EXPECT_EQ(seen.method, "HEAD");
  EXPECT_EQ(seen.header("Accept-Encoding"), std::optional<std::string>("identity"));
}

TEST_F(URLTransferTest, ABodyCutShortFailsAndAClosedOneFinishes) {
  ASSERT_TRUE(server_.ok());
  HTTPTestServer::Response cut;
  cut.generatedLength = 300000;
  cut.cutAfter = 1000;
  server_.route("/cut", cut);
  HTTPTestServer::Response open;
  open.generatedLength = 3000;
  open.closeDelimited = true;
  server_.route("/open", open);
  auto failed = load(requestFor(server_.url("/cut")), queue_);
  ASSERT_TRUE(failed->waitEnded());
  EXPECT_EQ(failed->eventsCopy().back(), "fail " + std::to_string(NSURLErrorNetworkConnectionLost));
  auto whole = load(requestFor(server_.url("/open")), queue_);
  ASSERT_TRUE(whole->waitEnded());
  EXPECT_EQ(whole->eventsCopy().back(), "finish");
  EXPECT_EQ(whole->body.size(), 3000u);
  EXPECT_EQ(whole->response->expectedContentLength(), -1);
}

TEST_F(URLTransferTest, CookiesGoThroughTheSharedJarUnlessTheRequestHandlesItsOwn) {
  ASSERT_TRUE(server_.ok());
  server_.route("/set", HTTPTestServer::reply(200, "", {{"Set-Cookie", "harbor=jar; Path=/"}}));
  server_.route("/read", HTTPTestServer::reply(200, ""));
  ASSERT_TRUE(load(requestFor(server_.url("/set")), queue_)->waitEnded());
  ASSERT_TRUE(load(requestFor(server_.url("/read")), queue_)->waitEnded());
  EXPECT_EQ(server_.requests().back().header("Cookie"), std::optional<std::string>("harbor=jar"));

  auto own = requestFor(server_.url("/read"));
  own->setHTTPShouldHandleCookies(false);
  own->setValueForHTTPHeaderField("mine=1", "Cookie");
  ASSERT_TRUE(load(own, queue_)->waitEnded());
  EXPECT_EQ(server_.requests().back().header("Cookie"), std::optional<std::string>("mine=1"));
}

TEST_F(URLTransferTest, AnUntrustedCertificateFailsUnlessTheRequestAllowsIt) {
  HTTPTestServer tls(HTTPTestServer::Scheme::HTTPS);
  ASSERT_TRUE(tls.ok());
  tls.route("/secure", HTTPTestServer::reply(200, "secret"));
  auto refused = load(requestFor(tls.url("/secure")), queue_);
  ASSERT_TRUE(refused->waitEnded());
  EXPECT_EQ(refused->eventsCopy(), (std::vector<std::string>{"fail " + std::to_string(NSURLErrorServerCertificateUntrusted)}));
  auto trusting = requestFor(tls.url("/secure"));
  trusting->setAllowsAnyHTTPSCertificate(true);
  auto allowed = load(trusting, queue_);
  ASSERT_TRUE(allowed->waitEnded());
  EXPECT_EQ(allowed->eventsCopy(), (std::vector<std::string>{"response", "data", "finish"}));
  EXPECT_EQ(allowed->body, "secret");
}

TEST_F(URLTransferTest, CancelFromAReportOrAnotherThreadStopsEveryLaterReport) {
  ASSERT_TRUE(server_.ok());
  std::promise<void> resume;
  std::shared_future<void> resumed = resume.get_future().share();
  HTTPTestServer::Response slow;
  slow.generatedLength = 2000000;
  slow.pauseAfter = 1000;
  slow.pause = [resumed] { resumed.wait_for(std::chrono::seconds(10)); };
  server_.route("/slow", slow);

  // From inside a report, on the delegate queue.
  auto inside = std::make_shared<QueueDelegate>();
  inside->cancelOnData = true;
  auto connection = std::make_shared<NSURLConnection>();
  connection->initWithRequestDelegateStartImmediately(requestFor(server_.url("/slow")), inside, false);
  connection->setDelegateQueue(queue_);
  connection->start();
  // From the test's thread, once the first data is in.
  auto outside = std::make_shared<QueueDelegate>();
  auto other = std::make_shared<NSURLConnection>();
  other->initWithRequestDelegateStartImmediately(requestFor(server_.url("/slow")), outside, false);
  other->setDelegateQueue(queue_);
  other->start();
  ASSERT_TRUE(outside->waitForData());
  ASSERT_TRUE(inside->waitForData());
  other->cancel();
  resume.set_value();
  ASSERT_TRUE(server_.waitForRequests(2));
  ASSERT_TRUE(queue_->waitUntilAllOperationsAreFinished());
  EXPECT_EQ(inside->eventsCopy(), (std::vector<std::string>{"response", "data"}));
  EXPECT_EQ(outside->eventsCopy(), (std::vector<std::string>{"response", "data"}));
  EXPECT_TRUE(connection->isFinished());
  EXPECT_LT(outside->body.size(), 2000000u);
}

TEST_F(URLTransferTest, PageLoadsWithoutAQueueStillReportOnTheMainLoop) {
  ASSERT_TRUE(server_.ok());
  server_.route("/page", HTTPTestServer::reply(200, "<p>hi</p>", {{"Content-Type", "text/html"}}));
  std::optional<std::string> body;
  NSURLConnection::sendAsynchronousRequest(requestFor(server_.url("/page")),
                                           [&](const NSURLResponsePtr&, const Data& data, const std::optional<NSError>&) {
                                             EXPECT_TRUE(isMainThread());
                                             body = text(data);
                                           });
  for (int i = 0; i < 100 && !body; ++i) waitForMain(0.1);
  EXPECT_EQ(body, std::optional<std::string>("<p>hi</p>"));
}

TEST(BoundStreamPair, PassesBytesInOrderThroughTheBufferAndTellsTheWriterWhenTheReaderHasGone) {
  auto [input, output] = CFStreamCreateBoundPair(7);
  ASSERT_TRUE(output->open());
  std::string sent;
  for (int i = 0; i < 1000; ++i) sent += static_cast<char>('A' + i % 50);
  std::thread writer([output = output, &sent] {
    for (std::size_t done = 0; done < sent.size();) {
      long n = output->write(reinterpret_cast<const std::uint8_t*>(sent.data()) + done, sent.size() - done);
      ASSERT_GT(n, 0);
      ASSERT_LE(n, 7);
      done += static_cast<std::size_t>(n);
    }
    output->close();
  });
  std::string received;
  std::uint8_t buffer[5];
  for (long n; (n = input->read(buffer, sizeof buffer)) > 0;) received.append(buffer, buffer + n);
  writer.join();
  EXPECT_EQ(received, sent);

  auto [reader, writerEnd] = CFStreamCreateBoundPair(4);
  const std::uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(writerEnd->write(bytes, 8), 4);
  std::thread closer([reader = reader] { reader->close(); });
  EXPECT_EQ(writerEnd->write(bytes, 8), -1);  // waited on the full buffer until the reader went
  closer.join();
  ASSERT_TRUE(writerEnd->streamError());
  EXPECT_EQ(writerEnd->streamError()->domain, NSPOSIXErrorDomain);
}
