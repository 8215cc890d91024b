#pragma once
// Serves "hbrfile" URLs to the web views: the whole file with status 200, the header
// "Cache-Control: no-cache" and "Content-Type" (left out when the file system knows no MIME
// type); 404 with only "Cache-Control" and no body when the read fails, the URL names no
// registered file system or no File plugin exists yet. Responses are never cached.
//
// Installed by HBRFile::pluginInitialize; the registry is reached through HBRFile::filePlugin().
// Every "hbrfile" request is claimed, any host; one other than "localhost" names nothing (404).
//
// Threads: started on the thread that drives the load. A local file is read inside
// startLoading; the photo library answers later on its own thread. The answer holds the
// protocol weakly: a load the loading system has dropped hears nothing. stopLoading lets a read
// under way run to its end.
#include "plat/foundation/NSURLProtocol.h"
#include "plat/foundation/NSURLRequest.h"

namespace harbor {

class HBRFilesystemURLProtocol : public plat::NSURLProtocol {
 public:
  static constexpr char kClassName[] = "HBRFilesystemURLProtocol";

  static void registerClass();

  static bool canInitWithRequest(const plat::NSURLRequestPtr& request);
  static plat::NSURLRequestPtr canonicalRequestForRequest(const plat::NSURLRequestPtr& request) { return request; }
  // Equal resource specifiers (the text after "hbrfile:").
  static bool requestIsCacheEquivalent(const plat::NSURLRequestPtr& a, const plat::NSURLRequestPtr& b);

  void startLoading() override;
  void stopLoading() override {}
};

}  // namespace harbor
