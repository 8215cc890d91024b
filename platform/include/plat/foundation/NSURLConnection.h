#pragma once
// Loading a URL request: a connection picks the protocol class for the request (NSURLProtocol)
// and reports to its delegate on the main run loop, each report on a later turn, in order:
// a response, data, then finished or failed (a failure may come without a response).
//
// http and https go through libcurl on a thread of the load's own; file: and data: URLs are read
// when the load starts. Redirects are followed (at most 16, http and https only); the response
// tells the URL the data finally came from. HTTP error statuses are responses, not failures.
//
// Threads: create, start and cancel on the main thread; canHandleRequest from any thread.
#include <functional>
#include <memory>
#include <optional>

#include "plat/foundation/NSError.h"
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
  // Begins the load (once). A request no protocol can load fails with NSURLErrorUnsupportedURL.
  void start();
  // Stops the load; the delegate hears nothing more, also of reports already on their way.
  void cancel();

  const NSURLRequestPtr& originalRequest() const { return request_; }
  bool isFinished() const { return finished_; }

  NSURLConnection() = default;

 private:
  class Client;
  void deliverResponse(const NSURLResponsePtr& response);
  void deliverData(const Data& data);
  void deliverFinish();
  void deliverFailure(const NSError& error);
  void end();

  NSURLRequestPtr request_;
  std::shared_ptr<NSURLConnectionDataDelegate> delegate_;
  std::shared_ptr<Client> client_;
  NSURLProtocolPtr protocol_;
  NSURLConnectionPtr keepAlive_;
  bool started_ = false;
  bool finished_ = false;
};

}  // namespace plat
