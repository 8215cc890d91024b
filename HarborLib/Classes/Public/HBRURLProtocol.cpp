#include "HBRURLProtocol.h"

#include <algorithm>

#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/foundation/NSURLResponse.h"
#include "plat/foundation/Strings.h"
#include "plat/mobilecoreservices/UTType.h"

namespace harbor {
namespace {

constexpr char kDefaultMIMEType[] = "text/plain";

std::string urlText(const plat::NSURLRequestPtr& request) {
  return request && request->URL() ? request->URL()->absoluteString() : std::string();
}

}  // namespace

void HBRURLProtocol::registerClass() { plat::NSURLProtocol::registerClass<HBRURLProtocol>(kClassName); }

void HBRURLProtocol::unregisterClass() { plat::NSURLProtocol::unregisterClass(kClassName); }

bool HBRURLProtocol::canInitWithRequest(const plat::NSURLRequestPtr& request) {
  return plat::startsWith(urlText(request), kAssetsLibraryPrefix);
}

void HBRURLProtocol::startLoading() {
  if (!canInitWithRequest(request())) {
    std::string url = request() && request()->URL() ? request()->URL()->description() : "(null)";
    std::string body = "Access not allowed to URL: " + url;
    sendResponseWithResponseCode(401, plat::Data(body.begin(), body.end()), std::nullopt);
    return;
  }
  // The answer must come even if the load is stopped meanwhile, so the blocks keep this
  // protocol object alive until the library has answered.
  auto self = this->self<HBRURLProtocol>();
  auto library = std::make_shared<plat::ALAssetsLibrary>();
  library->assetForURL(
      request()->URL(),
      [self](const plat::ALAssetPtr& asset) {
        auto representation = asset ? asset->defaultRepresentation() : nullptr;
        if (!representation) {
          self->sendResponseWithResponseCode(404, std::nullopt, std::nullopt);
          return;
        }
        auto mimeType = plat::UTTypeCopyPreferredTagWithClass(representation->UTI(), plat::kUTTagClassMIMEType);
        auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(representation->size(), 0));
        if (!self->sendResponse(200, mimeType)) return;
        // A piece at a time, each when the client is ready for it: an asset of any size passes
        // through a piece of memory, and a load that is let go reads no further.
        plat::NSURLProtocolSendBodyInPieces(
            self, size, [representation](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
              return representation->readBytes(buffer, static_cast<std::int64_t>(offset), length);
            });
      },
      [self](const plat::NSError&) { self->sendResponseWithResponseCode(401, std::nullopt, std::nullopt); });
}

void HBRURLProtocol::sendResponseWithResponseCode(long statusCode, const std::optional<plat::Data>& data,
                                                  const std::optional<std::string>& mimeType) {
  if (!sendResponse(statusCode, mimeType)) return;
  auto client = this->client();
  if (data) client->URLProtocolDidLoadData(*this, *data);
  client->URLProtocolDidFinishLoading(*this);
}

bool HBRURLProtocol::sendResponse(long statusCode, const std::optional<std::string>& mimeType) {
  auto client = this->client();
  if (!client) return false;
  auto response = plat::NSHTTPURLResponse::responseWithURL(request() ? request()->URL() : nullptr, statusCode,
                                                           {{"Content-Type", mimeType.value_or(kDefaultMIMEType)}});
  client->URLProtocolDidReceiveResponseCacheStoragePolicy(*this, response, plat::NSURLCacheStoragePolicy::NotAllowed);
  return true;
}

}  // namespace harbor
