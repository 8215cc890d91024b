#pragma once
// Loading a URL request: a connection picks the protocol class for the request (NSURLProtocol)
// and reports to its delegate, each report on a later turn of the main run loop or, when the
// connection was given a delegate queue, as a block on that queue, in order: body progress (for
// a request with a body), a response, data, then finished or failed (a failure may come
// without a response).
//
// http and https go through libcurl on a thread of the load's own; file: and data: URLs are read
// when the load starts. Redirects are followed (at most 16, http and https only); the response
// tells the URL the data finally came from. HTTP error statuses are responses, not failures; a
// body that ends before the length its response announced is a failure
// (NSURLErrorNetworkConnectionLost). Any method that is an HTTP token is sent; a header field
// whose name is no token, or whose name or value holds CR, LF or NUL, is left out.
//
// With a delegate queue, data waiting for the delegate is bounded: a fast server waits while
// the delegate is busy, so a large download never piles up in memory.
//
// Threads: without a delegate queue, create, start and cancel on the main thread. With one,
// start from any thread and cancel from any thread, also from inside a report; after cancel
// returns, no report begins. canHandleRequest from any thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSOperationQueue.h"
#include "plat/foundation/NSURLProtocol.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/NSURLResponse.h"
#include "plat/foundation/Object.h"

namespace plat {

class NSURLConnection;
using NSURLConnectionPtr = std::shared_ptr<NSURLConnection>;

class NSURLConnectionDataDelegate {
 public:
  virtual ~NSURLConnectionDataDelegate() = default;
  // Body progress: this piece, all so far, and the body's whole length (-1 when unknown).
  virtual void connectionDidSendBodyData(NSURLConnection& connection, std::int64_t bytesWritten,
                                         std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) {}
  virtual void connectionDidReceiveResponse(NSURLConnection& connection, const NSURLResponsePtr& response) {}
  virtual void connectionDidReceiveData(NSURLConnection& connection, const Data& data) {}
  virtual void connectionDidFinishLoading(NSURLConnection& connection) {}
  virtual void connectionDidFailWithError(NSURLConnection& connection, const NSError& error) {}
};

class NSURLConnection : public Object {
 public:
  // The response (null when none came), the whole body, and the error when the load failed.
  using CompletionHandler =
      std::function<void(const NSURLResponsePtr& response, const Data& data, const std::optional<NSError>& error)>;

  // Whether some protocol class (registered or built in) can load the request.
  static bool canHandleRequest(const NSURLRequestPtr& request);

  // A started connection. While it loads, the connection keeps itself and its delegate alive;
  // both are let go when it finishes, fails or is cancelled.
  static NSURLConnectionPtr connectionWithRequest(const NSURLRequestPtr& request,
                                                  const std::shared_ptr<NSURLConnectionDataDelegate>& delegate);
  // Loads the request and calls the handler once, on the main run loop.
  static NSURLConnectionPtr sendAsynchronousRequest(const NSURLRequestPtr& request, CompletionHandler handler);

  // Second creation step; with startImmediately false, start() begins the load.
  void initWithRequestDelegateStartImmediately(const NSURLRequestPtr& request,
                                               const std::shared_ptr<NSURLConnectionDataDelegate>& delegate,
                                               bool startImmediately);
  // Before start: the queue that runs the delegate's reports instead of the main run loop.
  void setDelegateQueue(NSOperationQueuePtr queue);
  // Begins the load (once). A request no protocol can load fails with NSURLErrorUnsupportedURL.
  void start();
  // Stops the load; the delegate hears nothing more, also of reports already on their way.
  void cancel();

  const NSURLRequestPtr& originalRequest() const { return request_; }
  const NSURLRequestPtr& currentRequest() const { return request_; }
  bool isFinished() const { return finished_; }

  NSURLConnection() = default;

 private:
  class Client;
  struct Flow;
  // Runs the report on the delegate queue or a later turn of the main run loop.
  void post(std::function<void(NSURLConnection&)> report);
  // The delegate, unless the connection has ended.
  std::shared_ptr<NSURLConnectionDataDelegate> liveDelegate();
  void deliverBodyProgress(std::int64_t written, std::int64_t total, std::int64_t expected);
  void deliverResponse(const NSURLResponsePtr& response);
  void deliverData(const Data& data);
  void deliverFinish();
  void deliverFailure(const NSError& error);
  void end();

  std::mutex mutex_;  // guards what the reports and cancel share: delegate, protocol, keep-alive
  NSOperationQueuePtr queue_;
  std::shared_ptr<Flow> flow_;
  NSURLRequestPtr request_;
  std::shared_ptr<NSURLConnectionDataDelegate> delegate_;
  std::shared_ptr<Client> client_;
  NSURLProtocolPtr protocol_;
  NSURLConnectionPtr keepAlive_;
  bool started_ = false;
  std::atomic<bool> finished_{false};
};

}  // namespace plat
