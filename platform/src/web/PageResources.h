#pragma once
// What the page engine needs around the URL loading system: whole-resource fetches with a size
// limit and an optional read-access folder for file URLs, text decoding, and URL helpers for the
// DOM stand-in.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURLConnection.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/NSURLResponse.h"
#include "plat/foundation/Value.h"

namespace plat::web {

// Loads one resource whole. The completion runs once, on a later turn of the main run loop,
// unless the fetch is cancelled first.
class ResourceFetch : public NSURLConnectionDataDelegate, public std::enable_shared_from_this<ResourceFetch> {
 public:
  using Completion = std::function<void(const NSURLResponsePtr& response, Data body, std::optional<NSError> error)>;

  static std::shared_ptr<ResourceFetch> start(const NSURLRequestPtr& request, const std::optional<std::string>& readAccessPath,
                                              std::size_t maxBytes, Completion completion);
  void cancel();
  // Reports along the way, for loads that show their progress (XMLHttpRequest): the response,
  // then the bytes received so far after each piece. Set right after start (reports come on
  // later turns).
  void observe(std::function<void(const NSURLResponsePtr& response)> onResponse,
               std::function<void(std::size_t received)> onData);

  void connectionDidReceiveResponse(NSURLConnection& connection, const NSURLResponsePtr& response) override;
  void connectionDidReceiveData(NSURLConnection& connection, const Data& data) override;
  void connectionDidFinishLoading(NSURLConnection& connection) override;
  void connectionDidFailWithError(NSURLConnection& connection, const NSError& error) override;

 private:
  void complete(std::optional<NSError> error);

  NSURLConnectionPtr connection_;
  NSURLRequestPtr request_;
  NSURLResponsePtr response_;
  Data body_;
  std::size_t maxBytes_ = 0;
  Completion completion_;
  std::function<void(const NSURLResponsePtr&)> onResponse_;
  std::function<void(std::size_t)> onData_;
};

// Whether a file URL may be read under the read-access path: its path, decoded once, may not
// climb with "..", and with symbolic links resolved it must be the path itself or lie below it.
// The error code when it may not; nothing for other URLs.
std::optional<long> readAccessError(const NSURLPtr& url, const std::string& readAccessPath);

// The body as UTF-8: a UTF-8 byte-order mark is dropped, Latin-1 charsets converted, invalid
// sequences replaced.
std::string decodeText(const Data& body, const std::optional<std::string>& charset);

bool isHTMLType(std::string_view mimeType);
// A script element's type attribute (absent: nothing) names a classic script.
bool isClassicScriptType(const std::string* type);

// A URL text of the page resolved against base as a browser would take it: surrounding blanks,
// tabs and line breaks dropped, characters outside the URL alphabet percent-escaped. Null when
// it still is no URL.
NSURLPtr resolvePageURL(std::string_view text, const NSURLPtr& base);
// location's parts of a URL: protocol, host, hostname, port, pathname, search, hash, origin.
Dictionary locationParts(const NSURLPtr& url);
// The absolute text up to its fragment.
std::string withoutFragment(const NSURLPtr& url);

// A request with its mainDocumentURL set (a copy when it must change).
NSURLRequestPtr withMainDocumentURL(const NSURLRequestPtr& request, const NSURLPtr& mainDocumentURL);

}  // namespace plat::web
