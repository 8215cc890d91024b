#pragma once
// The URL-protocol registry: how a URL of some scheme is loaded. A protocol class answers, for
// a request, whether it can load it (class-level canInitWithRequest); an instance is made per
// load, started, and reports to its client: a response, data, then finished or failed.
//
// Registered classes are asked before the built-in ones (file:, data:, http:, https:), the most
// recently registered first, so an application can take over a scheme.
//
// Threads: registration and lookups from any thread. startLoading and stopLoading are called on
// the thread that drives the load (the main thread for NSURLConnection); a protocol may report
// to its client from any thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/NSURLResponse.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

class NSURLProtocol;
using NSURLProtocolPtr = std::shared_ptr<NSURLProtocol>;

enum class NSURLCacheStoragePolicy { Allowed = 0, AllowedInMemoryOnly = 1, NotAllowed = 2 };

// What a protocol reports to. Each load reports one response before any data, then either
// finished or failed, once; a failure may also come without a response.
class NSURLProtocolClient {
 public:
  virtual ~NSURLProtocolClient() = default;
  virtual void URLProtocolDidReceiveResponseCacheStoragePolicy(NSURLProtocol& protocol,
                                                              const NSURLResponsePtr& response,
                                                              NSURLCacheStoragePolicy policy) = 0;
  virtual void URLProtocolDidLoadData(NSURLProtocol& protocol, const Data& data) = 0;
  // The same, for a protocol that gives up the bytes: a client may keep them without a copy.
  virtual void URLProtocolDidLoadOwnedData(NSURLProtocol& protocol, Data&& data) { URLProtocolDidLoadData(protocol, data); }
  // Some of the request's body has gone out: this piece, all so far, and the whole body's
  // length (-1 when unknown). Reported by protocols that send bodies, before the response.
  virtual void URLProtocolDidSendBodyData(NSURLProtocol& protocol, std::int64_t bytesWritten,
                                          std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) {}
  virtual void URLProtocolDidFinishLoading(NSURLProtocol& protocol) = 0;
  virtual void URLProtocolDidFailWithError(NSURLProtocol& protocol, const NSError& error) = 0;
  // A protocol that reads its body a piece at a time asks for the next piece here, after handing
  // over the last: the client runs next, on the main thread, once it has taken the pieces so
  // far, and drops it when it wants no more. So a body of any length passes through a piece of
  // memory at a time, however slowly the client's reader takes it. By default next runs on a
  // later turn of the main run loop.
  virtual void URLProtocolWhenReadyForMoreData(NSURLProtocol& protocol, std::function<void()> next);
};

class NSURLProtocol : public Object {
 public:
  // The class-level side of a protocol.
  struct Class {
    std::string name;
    std::function<bool(const NSURLRequestPtr& request)> canInitWithRequest;
    std::function<NSURLProtocolPtr()> make;
  };

  // Registers P, which has `static bool canInitWithRequest(const NSURLRequestPtr&)` and can be
  // made with make_shared. Registering a name again replaces the earlier class.
  template <class P>
  static void registerClass(const std::string& name) {
    registerClass(Class{name, [](const NSURLRequestPtr& r) { return P::canInitWithRequest(r); },
                        [] { return std::static_pointer_cast<NSURLProtocol>(std::make_shared<P>()); }});
  }
  static void registerClass(Class protocolClass);
  static void unregisterClass(const std::string& name);
  // The registered or built-in class that loads the request; null when none can.
  static std::shared_ptr<const Class> classForRequest(const NSURLRequestPtr& request);

  // Second creation step: the request to load and the client to report to (kept until the
  // load has finished, failed or been stopped).
  virtual void initWithRequestCachedResponseClient(const NSURLRequestPtr& request,
                                                   const NSURLResponsePtr& cachedResponse,
                                                   const std::shared_ptr<NSURLProtocolClient>& client);
  virtual void startLoading() = 0;
  // The load is no longer wanted: report nothing more.
  virtual void stopLoading() = 0;

  const NSURLRequestPtr& request() const { return request_; }
  const NSURLResponsePtr& cachedResponse() const { return cachedResponse_; }
  std::shared_ptr<NSURLProtocolClient> client() const { return client_; }

 private:
  NSURLRequestPtr request_;
  NSURLResponsePtr cachedResponse_;
  std::shared_ptr<NSURLProtocolClient> client_;
};

// Reads up to size bytes of a body at offset into buffer: the count, 0 at its end, -1 on a failure.
using NSURLBodyReader = std::function<long(std::uint64_t offset, std::uint8_t* buffer, std::size_t size)>;

// Hands the protocol's client a body of length bytes a piece at a time (at most
// kNSURLBodyPieceSize), each read when the client is ready for it
// (URLProtocolWhenReadyForMoreData), then the end of the load. A read that fails, or a body that
// ends before its length, fails the load with NSURLErrorNetworkConnectionLost, as a connection
// cut short does. Reading stops when the protocol is let go (its load ended or was stopped).
// Starts on the calling thread; the later pieces are read on the main thread.
inline constexpr std::size_t kNSURLBodyPieceSize = 256 * 1024;
void NSURLProtocolSendBodyInPieces(const NSURLProtocolPtr& protocol, std::uint64_t length, NSURLBodyReader read);

}  // namespace plat
