#pragma once
// A URL load request: the URL, the cache policy, the timeout, the HTTP method, header fields
// (names compared without regard to case, kept in first-set order) and an optional body.
// NSURLRequest is read-only; NSMutableURLRequest adds the setters. Copies are cheap values.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
  void setHTTPBody(std::optional<Data> body) { body_ = std::move(body); }
  void setMainDocumentURL(NSURLPtr url) { mainDocumentURL_ = std::move(url); }

  // A read-only copy.
  NSURLRequestPtr copy() const;
};

}  // namespace plat
