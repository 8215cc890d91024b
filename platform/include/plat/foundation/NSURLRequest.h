#pragma once
// A URL load request: the URL, the cache policy, the timeout, the HTTP method, header fields
// (names compared without regard to case, kept in first-set order) and an optional body, given
// either whole or as a stream that is read as it is sent; whether the shared cookie store is
// used; and whether an https server must prove itself with a certificate the system trusts.
// NSURLRequest is read-only; NSMutableURLRequest adds the setters. Copies are cheap values.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plat/foundation/NSStream.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

enum class NSURLRequestCachePolicy {
  UseProtocolCachePolicy = 0,
  ReloadIgnoringLocalCacheData = 1,
  ReturnCacheDataElseLoad = 2,
  ReturnCacheDataDontLoad = 3,
};

class NSURLRequest;
class NSMutableURLRequest;
using NSURLRequestPtr = std::shared_ptr<NSURLRequest>;
using NSMutableURLRequestPtr = std::shared_ptr<NSMutableURLRequest>;

class NSURLRequest : public Object {
 public:
  static constexpr double kDefaultTimeoutInterval = 60.0;

  // The protocol's cache policy and a 60-second timeout.
  static NSURLRequestPtr requestWithURL(NSURLPtr url);
  static NSURLRequestPtr requestWithURL(NSURLPtr url, NSURLRequestCachePolicy cachePolicy, double timeoutInterval);

  const NSURLPtr& URL() const { return url_; }
  NSURLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
  double timeoutInterval() const { return timeoutInterval_; }
  const std::string& HTTPMethod() const { return method_; }
  const std::vector<std::pair<std::string, std::string>>& allHTTPHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
  const std::optional<Data>& HTTPBody() const { return body_; }
  // A body read as it is sent; its length comes from the "Content-Length" field, or the body is
  // sent in chunks when there is none. A request has a body or a body stream, not both.
  const NSInputStreamPtr& HTTPBodyStream() const { return bodyStream_; }
  // Cookies of the shared store go with the request and cookies of the response go into it
  // (as its accept policy allows). On by default.
  bool HTTPShouldHandleCookies() const { return handleCookies_; }
  // Off by default: an https server whose certificate the system does not trust fails the load.
  bool allowsAnyHTTPSCertificate() const { return allowsAnyCertificate_; }
  // The URL of the top-level document the request belongs to (a web view sets it on the
  // requests it makes); null when unknown.
  const NSURLPtr& mainDocumentURL() const { return mainDocumentURL_; }

  NSMutableURLRequestPtr mutableCopy() const;

  NSURLRequest() = default;

 protected:
  friend class NSMutableURLRequest;
  NSURLPtr url_;
  NSURLRequestCachePolicy cachePolicy_ = NSURLRequestCachePolicy::UseProtocolCachePolicy;
  double timeoutInterval_ = kDefaultTimeoutInterval;
  std::string method_ = "GET";
  std::vector<std::pair<std::string, std::string>> headers_;
  std::optional<Data> body_;
  NSInputStreamPtr bodyStream_;
  bool handleCookies_ = true;
  bool allowsAnyCertificate_ = false;
  NSURLPtr mainDocumentURL_;
};

class NSMutableURLRequest : public NSURLRequest {
 public:
  static NSMutableURLRequestPtr requestWithURL(NSURLPtr url);
  static NSMutableURLRequestPtr requestWithURL(NSURLPtr url, NSURLRequestCachePolicy cachePolicy,
                                               double timeoutInterval);

  void setURL(NSURLPtr url) { url_ = std::move(url); }
  void setCachePolicy(NSURLRequestCachePolicy policy) { cachePolicy_ = policy; }
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }
  void setHTTPMethod(std::string method) { method_ = std::move(method); }
  // Replaces the field (nothing removes it).
  void setValueForHTTPHeaderField(std::optional<std::string> value, std::string_view field);
  // Appends to the field, joining values with ",".
  void addValueForHTTPHeaderField(const std::string& value, std::string_view field);
  void setHTTPBody(std::optional<Data> body) {
    body_ = std::move(body);
    if (body_) bodyStream_.reset();
  }
  void setHTTPBodyStream(NSInputStreamPtr stream) {
    bodyStream_ = std::move(stream);
    if (bodyStream_) body_.reset();
  }
  void setHTTPShouldHandleCookies(bool handle) { handleCookies_ = handle; }
  void setAllowsAnyHTTPSCertificate(bool allow) { allowsAnyCertificate_ = allow; }
  void setMainDocumentURL(NSURLPtr url) { mainDocumentURL_ = std::move(url); }

  // A read-only copy.
  NSURLRequestPtr copy() const;
};

}  // namespace plat
