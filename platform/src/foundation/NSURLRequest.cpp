#include "plat/foundation/NSURLRequest.h"

#include "plat/foundation/Strings.h"

namespace plat {

NSURLRequestPtr NSURLRequest::requestWithURL(NSURLPtr url) {
  return requestWithURL(std::move(url), NSURLRequestCachePolicy::UseProtocolCachePolicy, kDefaultTimeoutInterval);
}

NSURLRequestPtr NSURLRequest::requestWithURL(NSURLPtr url, NSURLRequestCachePolicy cachePolicy,
                                             double timeoutInterval) {
  auto request = std::make_shared<NSURLRequest>();
  request->url_ = std::move(url);
  request->cachePolicy_ = cachePolicy;
  request->timeoutInterval_ = timeoutInterval;
  return request;
}

std::optional<std::string> NSURLRequest::valueForHTTPHeaderField(std::string_view field) const {
  for (const auto& [name, value] : headers_)
    if (equalsIgnoringCaseASCII(name, field)) return value;
  return std::nullopt;
}

NSMutableURLRequestPtr NSURLRequest::mutableCopy() const {
  auto copy = std::make_shared<NSMutableURLRequest>();
  copy->setURL(url_);
  copy->setCachePolicy(cachePolicy_);
  copy->setTimeoutInterval(timeoutInterval_);
  copy->setHTTPMethod(method_);
  for (const auto& [name, value] : headers_) copy->setValueForHTTPHeaderField(value, name);
  copy->setHTTPBody(body_);
  copy->setHTTPBodyStream(bodyStream_);
  copy->setHTTPShouldHandleCookies(handleCookies_);
  copy->setAllowsAnyHTTPSCertificate(allowsAnyCertificate_);
  copy->setMainDocumentURL(mainDocumentURL_);
  return copy;
}

NSMutableURLRequestPtr NSMutableURLRequest::requestWithURL(NSURLPtr url) {
  return requestWithURL(std::move(url), NSURLRequestCachePolicy::UseProtocolCachePolicy, kDefaultTimeoutInterval);
}

NSMutableURLRequestPtr NSMutableURLRequest::requestWithURL(NSURLPtr url, NSURLRequestCachePolicy cachePolicy,
                                                           double timeoutInterval) {
  auto request = std::make_shared<NSMutableURLRequest>();
  request->setURL(std::move(url));
  request->setCachePolicy(cachePolicy);
  request->setTimeoutInterval(timeoutInterval);
  return request;
}

void NSMutableURLRequest::setValueForHTTPHeaderField(std::optional<std::string> value, std::string_view field) {
  for (auto it = headers_.begin(); it != headers_.end(); ++it) {
    if (!equalsIgnoringCaseASCII(it->first, field)) continue;
    if (value)
      it->second = std::move(*value);
    else
      headers_.erase(it);
    return;
  }
  if (value) headers_.emplace_back(std::string(field), std::move(*value));
}

void NSMutableURLRequest::addValueForHTTPHeaderField(const std::string& value, std::string_view field) {
  for (auto& [name, existing] : headers_) {
    if (!equalsIgnoringCaseASCII(name, field)) continue;
    existing += ',';
    existing += value;
    return;
  }
  headers_.emplace_back(std::string(field), value);
}

NSURLRequestPtr NSMutableURLRequest::copy() const {
  auto request = std::make_shared<NSURLRequest>();
  request->url_ = url_;
  request->cachePolicy_ = cachePolicy_;
  request->timeoutInterval_ = timeoutInterval_;
  request->method_ = method_;
  request->headers_ = headers_;
  request->body_ = body_;
  request->bodyStream_ = bodyStream_;
  request->handleCookies_ = handleCookies_;
  request->allowsAnyCertificate_ = allowsAnyCertificate_;
  request->mainDocumentURL_ = mainDocumentURL_;
  return request;
}

}  // namespace plat
