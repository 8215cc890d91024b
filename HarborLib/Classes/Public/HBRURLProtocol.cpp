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
        plat::Data data(static_cast<std::size_t>(std::max<std::int64_t>(representation->size(), 0)));
        std::size_t read = representation->getBytes(data.data(), 0, data.size());
        data.resize(read);
        self->sendResponseWithResponseCode(200, data, mimeType);
      },
      [self](const plat::NSError&) { self->sendResponseWithResponseCode(401, std::nullopt, std::nullopt); });
}

void HBRURLProtocol::sendResponseWithResponseCode(long statusCode, const std::optional<plat::Data>& data,
                                                  const std::optional<std::string>& mimeType) {
  auto client = this->client();
  if (!client) return;
  auto response = plat::NSHTTPURLResponse::responseWithURL(request() ? request()->URL() : nullptr, statusCode,
                                                           {{"Content-Type", mimeType.value_or(kDefaultMIMEType)}});
  client->URLProtocolDidReceiveResponseCacheStoragePolicy(*this, response, plat::NSURLCacheStoragePolicy::NotAllowed);
  if (data) client->URLProtocolDidLoadData(*this, *data);
  client->URLProtocolDidFinishLoading(*this);
}

}  // namespace harbor
