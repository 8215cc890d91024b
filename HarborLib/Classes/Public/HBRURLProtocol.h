#pragma once
// Serves photo-library URLs ("assets-library://asset/asset.JPG?id=...&ext=JPG") to the web view:
// the asset's bytes with its MIME type (200), a piece at a time as the client takes them (an
// asset of any size passes through a piece of memory), 404 when the library has no such asset, and 401
// when the library refuses access. Every other URL it is handed answers 401 with the text
// "Access not allowed to URL: <url>". Responses are never cached.
//
// The container does not register it: pages see the photo library only when the application
// (or a test) calls registerClass(). Only the photo library's scheme is ever claimed, so
// registering it takes no other URL away from the built-in loaders.
//
// Threads: the URL loading system starts it on the thread that drives the load; the library
// answers on the main run loop, and the answer goes to the client from there. A load that is
// stopped still answers when its lookup is already under way (the client ignores it).
#include <optional>
#include <string>

#include "plat/foundation/NSURLProtocol.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/Value.h"

namespace harbor {

class HBRURLProtocol : public plat::NSURLProtocol {
 public:
  static constexpr char kClassName[] = "HBRURLProtocol";
  static constexpr char kAssetsLibraryPrefix[] = "assets-library://";

  // Adds the class to the URL loading system, or takes it away again.
  static void registerClass();
  static void unregisterClass();

  // Exactly the requests whose URL text begins with "assets-library://".
  static bool canInitWithRequest(const plat::NSURLRequestPtr& request);
  static plat::NSURLRequestPtr canonicalRequestForRequest(const plat::NSURLRequestPtr& request) { return request; }
  static bool requestIsCacheEquivalent(const plat::NSURLRequestPtr&, const plat::NSURLRequestPtr&) {
    return false;
  }

  void startLoading() override;
  void stopLoading() override {}

  // Hands the client an HTTP response for the request's URL with the status and the one header
  // "Content-Type" (the MIME type, "text/plain" when none), not to be cached; then the data when
  // there is some; then the end of the load.
  void sendResponseWithResponseCode(long statusCode, const std::optional<plat::Data>& data,
                                    const std::optional<std::string>& mimeType);

 private:
  // The response alone; false when the load has no client.
  bool sendResponse(long statusCode, const std::optional<std::string>& mimeType);
};

}  // namespace harbor
