#include "plat/foundation/NSURLConnection.h"

#include <condition_variable>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSURLError.h"

namespace plat {

// Bytes handed to the delegate queue but not yet delivered. The loading thread waits while there
// are more than kMaxPending, so a fast server cannot fill memory while the delegate writes.
struct NSURLConnection::Flow {
  static constexpr std::size_t kMaxPending = 4 * 1024 * 1024;
  std::mutex mutex;
  std::condition_variable drained;
  std::size_t pending = 0;
  bool cancelled = false;

  void admit(std::size_t size) {
    std::unique_lock<std::mutex> lock(mutex);
    drained.wait(lock, [&] { return pending < kMaxPending || cancelled; });
    pending += size;
  }
  void release(std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex);
    pending -= size;
    drained.notify_all();
  }
  void cancel() {
    std::lock_guard<std::mutex> lock(mutex);
    cancelled = true;
    drained.notify_all();
  }
};

// Moves the protocol's reports, from whatever thread, onto the delegate queue or the main run
// loop, in order.
class NSURLConnection::Client : public NSURLProtocolClient {
 public:
  Client(std::weak_ptr<NSURLConnection> connection, std::shared_ptr<Flow> flow)
      : connection_(std::move(connection)), flow_(std::move(flow)) {}

  void URLProtocolDidSendBodyData(NSURLProtocol&, std::int64_t written, std::int64_t total,
                                  std::int64_t expected) override {
    post([=](NSURLConnection& c) { c.deliverBodyProgress(written, total, expected); });
  }
  void URLProtocolDidReceiveResponseCacheStoragePolicy(NSURLProtocol&, const NSURLResponsePtr& response,
                                                      NSURLCacheStoragePolicy) override {
    post([response](NSURLConnection& c) { c.deliverResponse(response); });
  }
  void URLProtocolDidLoadData(NSURLProtocol& protocol, const Data& data) override {
    URLProtocolDidLoadOwnedData(protocol, Data(data));
  }
  void URLProtocolDidLoadOwnedData(NSURLProtocol&, Data&& data) override {
    auto connection = connection_.lock();
    if (!connection) return;
    NSOperationQueuePtr queue = connection->queue_;
    connection.reset();
    // Only a loading thread of its own may wait: the main thread or the delegate queue itself
    // would wait for themselves.
    if (!queue || queue->isCurrentQueue() || isMainThread()) {
      post([data = std::move(data)](NSURLConnection& c) { c.deliverData(data); });
      return;
    }
    std::size_t size = data.size();
    flow_->admit(size);
    queue->addOperationWithBlock([weak = connection_, flow = flow_, data = std::move(data), size] {
      if (auto c = weak.lock()) c->deliverData(data);
      flow->release(size);
    });
  }
  void URLProtocolWhenReadyForMoreData(NSURLProtocol&, std::function<void()> next) override {
    auto connection = connection_.lock();
    if (!connection || connection->finished_) return;
    // After the reports before it: on the delegate queue, then back to the main thread where the
    // protocol reads; or on the main run loop, behind the reports already posted there.
    if (NSOperationQueuePtr queue = connection->queue_)
      queue->addOperationWithBlock([next = std::move(next)]() mutable { RunLoop::main().post(std::move(next)); });
    else
      RunLoop::main().post(std::move(next));
  }
  void URLProtocolDidFinishLoading(NSURLProtocol&) override {
    post([](NSURLConnection& c) { c.deliverFinish(); });
  }
  void URLProtocolDidFailWithError(NSURLProtocol&, const NSError& error) override {
    post([error](NSURLConnection& c) { c.deliverFailure(error); });
  }

 private:
  void post(std::function<void(NSURLConnection&)> report) {
    if (auto connection = connection_.lock()) connection->post(std::move(report));
  }
  std::weak_ptr<NSURLConnection> connection_;
  std::shared_ptr<Flow> flow_;
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
  flow_ = std::make_shared<Flow>();
  client_ = std::make_shared<Client>(weakSelf<NSURLConnection>(), flow_);
  if (startImmediately) start();
}

void NSURLConnection::setDelegateQueue(NSOperationQueuePtr queue) {
  if (!started_) queue_ = std::move(queue);
}

void NSURLConnection::post(std::function<void(NSURLConnection&)> report) {
  auto deliver = [weak = weakSelf<NSURLConnection>(), report = std::move(report)] {
    if (auto connection = weak.lock()) report(*connection);
  };
  if (queue_)
    queue_->addOperationWithBlock(std::move(deliver));
  else
    RunLoop::main().post(std::move(deliver));
}

void NSURLConnection::start() {
  NSURLProtocolPtr protocol;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_ || finished_) return;
    started_ = true;
    keepAlive_ = self<NSURLConnection>();
    auto protocolClass = NSURLProtocol::classForRequest(request_);
    if (protocolClass) protocol_ = protocolClass->make();
    protocol = protocol_;
  }
  if (!protocol) {
    NSError error = NSURLErrorWithCode(NSURLErrorUnsupportedURL, request_ ? request_->URL() : nullptr);
    post([error](NSURLConnection& c) { c.deliverFailure(error); });
    return;
  }
  protocol->initWithRequestCachedResponseClient(request_, nullptr, client_);
  protocol->startLoading();
}

void NSURLConnection::cancel() {
  NSURLProtocolPtr protocol;
  NSURLConnectionPtr self;
  std::shared_ptr<NSURLConnectionDataDelegate> delegate;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    protocol = protocol_;
    self = keepAlive_;
    delegate = delegate_;  // let go of outside the lock
    end();
  }
  flow_->cancel();
  if (protocol) protocol->stopLoading();
}

std::shared_ptr<NSURLConnectionDataDelegate> NSURLConnection::liveDelegate() {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_ ? nullptr : delegate_;
}

void NSURLConnection::deliverBodyProgress(std::int64_t written, std::int64_t total, std::int64_t expected) {
  if (auto keep = liveDelegate()) keep->connectionDidSendBodyData(*this, written, total, expected);
}

void NSURLConnection::deliverResponse(const NSURLResponsePtr& response) {
  if (auto keep = liveDelegate()) keep->connectionDidReceiveResponse(*this, response);
}

void NSURLConnection::deliverData(const Data& data) {
  if (auto keep = liveDelegate()) keep->connectionDidReceiveData(*this, data);
}

void NSURLConnection::deliverFinish() {
  std::shared_ptr<NSURLConnectionDataDelegate> keep;
  NSURLConnectionPtr self;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    keep = delegate_;
    self = keepAlive_;
    end();
  }
  if (keep) keep->connectionDidFinishLoading(*this);
}

void NSURLConnection::deliverFailure(const NSError& error) {
  std::shared_ptr<NSURLConnectionDataDelegate> keep;
  NSURLConnectionPtr self;
  NSURLProtocolPtr protocol;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    keep = delegate_;
    self = keepAlive_;
    protocol = protocol_;
    end();
  }
  flow_->cancel();
  if (protocol) protocol->stopLoading();
  if (keep) keep->connectionDidFailWithError(*this, error);
}

// Called with mutex_ held.
void NSURLConnection::end() {
  protocol_.reset();
  delegate_.reset();
  keepAlive_.reset();
}

}  // namespace plat
