#pragma once
// Serves "hbrfile" URLs to the web views: the file with status 200, the headers
// "Cache-Control: no-cache", "Content-Type" (left out when the file system knows no MIME type),
// "Content-Length" and "Accept-Ranges: bytes"; one range of bytes asked for with "Range" as 206
// with "Content-Range" (416 when it starts past the end); 404 with only "Cache-Control" and no
// body when the file cannot be opened, the URL names no registered file system or no File
// plugin exists yet. Responses are never cached.
//
// The body goes out a piece at a time, each read when the client is ready for it, so a file of
// any size is served in a piece of memory; one that shrinks while it is served fails the load.
//
// Installed by HBRFile::pluginInitialize; the registry is reached through HBRFile::filePlugin().
// Every "hbrfile" request is claimed, any host; one other than "localhost" names nothing (404).
//
// Threads: started on the thread that drives the load. A local file is opened inside
// startLoading; the photo library answers later on the main thread; later pieces are read on
// the main thread. The protocol is held weakly: a load the loading system has dropped or
// stopped reads no further.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "HBRFileSystem.h"
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

  // First and last byte, both inside a file of length bytes.
  struct ByteRange {
    std::uint64_t first;
    std::uint64_t last;
  };
  // The one range of a "Range" header ("bytes=a-b", "bytes=a-", "bytes=-n"); nothing when the
  // whole file is to be served, and then satisfiable false when the range lies past its end.
  static std::optional<ByteRange> byteRange(std::string_view header, std::uint64_t length, bool& satisfiable);

  void startLoading() override;
  void stopLoading() override {}

 private:
  void serve(HBRFileReaderPtr reader, const std::optional<std::string>& mimeType, std::int32_t error);
};

}  // namespace harbor
