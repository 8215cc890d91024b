#include "HBRFilesystemURLProtocol.h"

#include "HBRFile.h"
#include "HBRFilesystemURL.h"
#include "plat/foundation/NSURLResponse.h"

namespace harbor {
namespace {

constexpr long kNotFound = 404;
constexpr long kOK = 200;

void answer(plat::NSURLProtocol& protocol, long status, const plat::Data* data,
            const std::optional<std::string>& mimeType) {
  auto client = protocol.client();
  if (!client) return;
  plat::NSHTTPURLResponse::HeaderFields headers{{"Cache-Control", "no-cache"}};
  if (mimeType) headers.emplace_back("Content-Type", *mimeType);
  auto url = protocol.request() ? protocol.request()->URL() : nullptr;
  auto response = plat::NSHTTPURLResponse::responseWithURL(url, status, std::move(headers));
  client->URLProtocolDidReceiveResponseCacheStoragePolicy(protocol, response,
                                                          plat::NSURLCacheStoragePolicy::NotAllowed);
  if (data) client->URLProtocolDidLoadData(protocol, *data);
  client->URLProtocolDidFinishLoading(protocol);
}

}  // namespace

void HBRFilesystemURLProtocol::registerClass() {
  plat::NSURLProtocol::registerClass<HBRFilesystemURLProtocol>(kClassName);
}

bool HBRFilesystemURLProtocol::canInitWithRequest(const plat::NSURLRequestPtr& request) {
  return request && request->URL() && request->URL()->scheme() == kHBRFileScheme;
}

bool HBRFilesystemURLProtocol::requestIsCacheEquivalent(const plat::NSURLRequestPtr& a,
                                                        const plat::NSURLRequestPtr& b) {
  if (!a || !b || !a->URL() || !b->URL()) return false;
  return a->URL()->resourceSpecifier() == b->URL()->resourceSpecifier();
}

void HBRFilesystemURLProtocol::startLoading() {
  auto url = HBRFilesystemURL::fileSystemURLWithURL(request() ? request()->URL() : nullptr);
  auto plugin = HBRFile::filePlugin();
  auto fileSystem = plugin ? plugin->filesystemForURL(url) : nullptr;
  // A request that reaches no file system still ends, or the page would wait on it forever.
  if (!fileSystem) return answer(*this, kNotFound, nullptr, std::nullopt);
  std::weak_ptr<HBRFilesystemURLProtocol> weak = weakSelf<HBRFilesystemURLProtocol>();
  fileSystem->readFileAtURL(url, 0, -1,
                            [weak](std::optional<plat::Data> data, std::optional<std::string> mimeType,
                                   std::int32_t error) {
                              auto self = weak.lock();
                              if (!self) return;
                              if (error != 0 || !data) return answer(*self, kNotFound, nullptr, std::nullopt);
                              answer(*self, kOK, &*data, mimeType);
                            });
}

}  // namespace harbor
