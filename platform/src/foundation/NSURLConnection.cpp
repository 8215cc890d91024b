#include "plat/foundation/NSURLConnection.h"

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSURLError.h"

namespace plat {

// Moves the protocol's reports, from whatever thread, onto the main run loop in order.
class NSURLConnection::Client : public NSURLProtocolClient {
 public:
  explicit Client(std::weak_ptr<NSURLConnection> connection) : connection_(std::move(connection)) {}

  void URLProtocolDidReceiveResponseCacheStoragePolicy(NSURLProtocol&, const NSURLResponsePtr& response,
                                                      NSURLCacheStoragePolicy) override {
    post([response](NSURLConnection& c) { c.deliverResponse(response); });
  }
  void URLProtocolDidLoadData(NSURLProtocol&, const Data& data) override {
    post([data](NSURLConnection& c) { c.deliverData(data); });
  }
  void URLProtocolDidFinishLoading(NSURLProtocol&) override {
    post([](NSURLConnection& c) { c.deliverFinish(); });
  }
  void URLProtocolDidFailWithError(NSURLProtocol&, const NSError& error) override {
    post([error](NSURLConnection& c) { c.deliverFailure(error); });
  }

 private:
  void post(std::function<void(NSURLConnection&)> report) {
    RunLoop::main().post([weak = connection_, report = std::move(report)] {
      if (auto connection = weak.lock()) report(*connection);
    });
  }
  std::weak_ptr<NSURLConnection> connection_;
};

namespace {

// Gathers a whole body for sendAsynchronousRequest.
class CompletionDelegate : public NSURLConnectionDataDelegate {
 public:
  explicit CompletionDelegate(NSURLConnection::CompletionHandler handler) : handler_(std::move(handler)) {}
  void connectionDidReceiveResponse(NSURLConnection&, const NSURLResponsePtr& response) override {
    response_ = response;
  }
  void connectionDidReceiveData(NSURLConnection&, const Data& data) override {
    data_.insert(data_.end(), data.begin(), data.end());
  }
  void connectionDidFinishLoading(NSURLConnection&) override {
    if (handler_) handler_(response_, data_, std::nullopt);
  }
  void connectionDidFailWithError(NSURLConnection&, const NSError& error) override {
    if (handler_) handler_(response_, Data(), error);
  }

 private:
  NSURLConnection::CompletionHandler handler_;
  NSURLResponsePtr response_;
  Data data_;
};

}  // namespace

bool NSURLConnection::canHandleRequest(const NSURLRequestPtr& request) {
  return NSURLProtocol::classForRequest(request) != nullptr;
}

NSURLConnectionPtr NSURLConnection::connectionWithRequest(const NSURLRequestPtr& request,
                                                          const std::shared_ptr<NSURLConnectionDataDelegate>& delegate) {
  auto connection = std::make_shared<NSURLConnection>();
  connection->initWithRequestDelegateStartImmediately(request, delegate, true);
  return connection;
}

NSURLConnectionPtr NSURLConnection::sendAsynchronousRequest(const NSURLRequestPtr& request, CompletionHandler handler) {
  return connectionWithRequest(request, std::make_shared<CompletionDelegate>(std::move(handler)));
}

void NSURLConnection::initWithRequestDelegateStartImmediately(const NSURLRequestPtr& request,
                                                              const std::shared_ptr<NSURLConnectionDataDelegate>& delegate,
                                                              bool startImmediately) {
  request_ = request;
  delegate_ = delegate;
  client_ = std::make_shared<Client>(weakSelf<NSURLConnection>());
  if (startImmediately) start();
}

void NSURLConnection::start() {
  if (started_ || finished_) return;
  started_ = true;
  keepAlive_ = self<NSURLConnection>();
  auto protocolClass = NSURLProtocol::classForRequest(request_);
  if (!protocolClass || !(protocol_ = protocolClass->make())) {
    NSError error = NSURLErrorWithCode(NSURLErrorUnsupportedURL, request_ ? request_->URL() : nullptr);
    RunLoop::main().post([weak = weakSelf<NSURLConnection>(), error] {
      if (auto connection = weak.lock()) connection->deliverFailure(error);
    });
    return;
  }
  protocol_->initWithRequestCachedResponseClient(request_, nullptr, client_);
  protocol_->startLoading();
}

void NSURLConnection::cancel() {
  if (finished_) return;
  finished_ = true;
  auto self = keepAlive_;
  if (protocol_) protocol_->stopLoading();
  end();
}

void NSURLConnection::deliverResponse(const NSURLResponsePtr& response) {
  if (finished_) return;
  auto keep = delegate_;
  if (keep) keep->connectionDidReceiveResponse(*this, response);
}

void NSURLConnection::deliverData(const Data& data) {
  if (finished_) return;
  auto keep = delegate_;
  if (keep) keep->connectionDidReceiveData(*this, data);
}

void NSURLConnection::deliverFinish() {
  if (finished_) return;
  finished_ = true;
  auto keep = delegate_;
  auto self = keepAlive_;
  end();
  if (keep) keep->connectionDidFinishLoading(*this);
}

void NSURLConnection::deliverFailure(const NSError& error) {
  if (finished_) return;
  finished_ = true;
  auto keep = delegate_;
  auto self = keepAlive_;
  if (protocol_) protocol_->stopLoading();
  end();
  if (keep) keep->connectionDidFailWithError(*this, error);
}

void NSURLConnection::end() {
  protocol_.reset();
  delegate_.reset();
  keepAlive_.reset();
}

}  // namespace plat
