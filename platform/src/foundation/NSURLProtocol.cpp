#include "plat/foundation/NSURLProtocol.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "BuiltInURLProtocols.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSURLError.h"

namespace plat {
namespace {

std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<std::shared_ptr<const NSURLProtocol::Class>>& registered() {
  static std::vector<std::shared_ptr<const NSURLProtocol::Class>> classes;
  return classes;
}

// One body read a piece at a time; each piece asks the client for the next.
struct BodyInPieces : std::enable_shared_from_this<BodyInPieces> {
  std::weak_ptr<NSURLProtocol> protocol;
  std::uint64_t length = 0;
  std::uint64_t offset = 0;
  NSURLBodyReader read;

  void sendNextPiece() {
    auto owner = protocol.lock();
    auto client = owner ? owner->client() : nullptr;
    if (!client) return;
    if (offset >= length) return client->URLProtocolDidFinishLoading(*owner);
    Data piece(static_cast<std::size_t>(std::min<std::uint64_t>(kNSURLBodyPieceSize, length - offset)));
    long n = read(offset, piece.data(), piece.size());
    if (n <= 0) {
      NSURLPtr url = owner->request() ? owner->request()->URL() : nullptr;
      return client->URLProtocolDidFailWithError(*owner, NSURLErrorWithCode(NSURLErrorNetworkConnectionLost, url));
    }
    offset += static_cast<std::uint64_t>(n);
    piece.resize(static_cast<std::size_t>(n));
    client->URLProtocolDidLoadOwnedData(*owner, std::move(piece));
    if (offset >= length) return client->URLProtocolDidFinishLoading(*owner);
    client->URLProtocolWhenReadyForMoreData(*owner, [self = shared_from_this()] { self->sendNextPiece(); });
  }
};

}  // namespace

void NSURLProtocolClient::URLProtocolWhenReadyForMoreData(NSURLProtocol&, std::function<void()> next) {
  RunLoop::main().post(std::move(next));
}

void NSURLProtocolSendBodyInPieces(const NSURLProtocolPtr& protocol, std::uint64_t length, NSURLBodyReader read) {
  auto body = std::make_shared<BodyInPieces>();
  body->protocol = protocol;
  body->length = length;
  body->read = std::move(read);
  body->sendNextPiece();
}

void NSURLProtocol::registerClass(Class protocolClass) {
  std::lock_guard<std::mutex> lock(registryMutex());
  auto& classes = registered();
  std::erase_if(classes, [&](const auto& c) { return c->name == protocolClass.name; });
  classes.push_back(std::make_shared<const Class>(std::move(protocolClass)));
}

void NSURLProtocol::unregisterClass(const std::string& name) {
  std::lock_guard<std::mutex> lock(registryMutex());
  std::erase_if(registered(), [&](const auto& c) { return c->name == name; });
}

std::shared_ptr<const NSURLProtocol::Class> NSURLProtocol::classForRequest(const NSURLRequestPtr& request) {
  if (!request || !request->URL()) return nullptr;
  std::vector<std::shared_ptr<const Class>> candidates;
  {
    // Asked outside the lock: a protocol's answer may itself look at the registry.
    std::lock_guard<std::mutex> lock(registryMutex());
    candidates.assign(registered().rbegin(), registered().rend());
  }
  for (const auto& c : builtInURLProtocolClasses()) candidates.push_back(c);
  for (const auto& c : candidates)
    if (c->canInitWithRequest && c->canInitWithRequest(request)) return c;
  return nullptr;
}

void NSURLProtocol::initWithRequestCachedResponseClient(const NSURLRequestPtr& request,
                                                        const NSURLResponsePtr& cachedResponse,
                                                        const std::shared_ptr<NSURLProtocolClient>& client) {
  request_ = request;
  cachedResponse_ = cachedResponse;
  client_ = client;
}

}  // namespace plat
