#include "PageResources.h"

#include <climits>
#include <cstdlib>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURLError.h"
#include "plat/foundation/Strings.h"

namespace plat::web {

std::shared_ptr<ResourceFetch> ResourceFetch::start(const NSURLRequestPtr& request,
                                                    const std::optional<std::string>& readAccessPath,
                                                    std::size_t maxBytes, Completion completion) {
  auto fetch = std::make_shared<ResourceFetch>();
  fetch->request_ = request;
  fetch->maxBytes_ = maxBytes;
  fetch->completion_ = std::move(completion);
  std::optional<long> refused =
      readAccessPath && request && request->URL() ? readAccessError(request->URL(), *readAccessPath) : std::nullopt;
  if (refused) {
    NSError error = NSURLErrorWithCode(*refused, request->URL());
    // A cancelled fetch has no completion left, so this reports nothing then.
    RunLoop::main().post([fetch, error] { fetch->complete(error); });
    return fetch;
  }
  fetch->connection_ = NSURLConnection::connectionWithRequest(request, fetch);
  return fetch;
}

void ResourceFetch::cancel() {
  completion_ = nullptr;
  onResponse_ = nullptr;
  onData_ = nullptr;
  if (auto connection = std::exchange(connection_, nullptr)) connection->cancel();
}

void ResourceFetch::observe(std::function<void(const NSURLResponsePtr&)> onResponse,
                            std::function<void(std::size_t)> onData) {
  onResponse_ = std::move(onResponse);
  onData_ = std::move(onData);
}

void ResourceFetch::connectionDidReceiveResponse(NSURLConnection&, const NSURLResponsePtr& response) {
  response_ = response;
  // A length announced over the limit is refused before anything is read; the count in
  // connectionDidReceiveData still holds for lengths that were not announced, or were wrong.
  if (response && response->expectedContentLength() > 0 &&
      static_cast<std::uint64_t>(response->expectedContentLength()) > maxBytes_) {
    if (auto connection = std::exchange(connection_, nullptr)) connection->cancel();
    complete(NSURLErrorWithCode(NSURLErrorDataLengthExceedsMaximum, request_->URL()));
    return;
  }
  if (onResponse_ && completion_) onResponse_(response);
}

void ResourceFetch::connectionDidReceiveData(NSURLConnection&, const Data& data) {
  if (body_.size() + data.size() > maxBytes_) {
    if (auto connection = std::exchange(connection_, nullptr)) connection->cancel();
    complete(NSURLErrorWithCode(NSURLErrorDataLengthExceedsMaximum, request_->URL()));
    return;
  }
  body_.insert(body_.end(), data.begin(), data.end());
  if (onData_ && completion_) onData_(body_.size());
}

void ResourceFetch::connectionDidFinishLoading(NSURLConnection&) { complete(std::nullopt); }

void ResourceFetch::connectionDidFailWithError(NSURLConnection&, const NSError& error) { complete(error); }

void ResourceFetch::complete(std::optional<NSError> error) {
  connection_.reset();
  if (auto completion = std::exchange(completion_, nullptr)) completion(response_, std::move(body_), std::move(error));
}

std::optional<long> readAccessError(const NSURLPtr& url, const std::string& readAccessPath) {
  if (!url || !url->isFileURL()) return std::nullopt;
  std::string path = url->path();
  for (const std::string& component : pathComponents(path))
    if (component == "..") return NSURLErrorNoPermissionsToReadFile;
  char resolved[PATH_MAX];
  char root[PATH_MAX];
  if (!::realpath(path.c_str(), resolved)) return NSURLErrorFileDoesNotExist;
  if (!::realpath(readAccessPath.c_str(), root)) return NSURLErrorNoPermissionsToReadFile;
  if (!pathIsInsideFolder(resolved, root)) return NSURLErrorNoPermissionsToReadFile;
  return std::nullopt;
}

std::string decodeText(const Data& body, const std::optional<std::string>& charset) {
  std::string_view bytes(reinterpret_cast<const char*>(body.data()), body.size());
  if (startsWith(bytes, "\xEF\xBB\xBF")) return sanitizeUTF8(bytes.substr(3));
  std::string name = charset ? toLowerASCII(*charset) : std::string();
  if (name == "iso-8859-1" || name == "latin1" || name == "windows-1252" || name == "us-ascii" || name == "ascii") {
    return latin1ToUTF8(bytes);
  }
  return sanitizeUTF8(bytes);
}

bool isHTMLType(std::string_view mimeType) {
  std::string type = toLowerASCII(mimeType);
  return type == "text/html" || type == "application/xhtml+xml";
}

bool isClassicScriptType(const std::string* type) {
  if (!type) return true;
  std::string t = toLowerASCII(*type);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.erase(t.begin());
  static const char* const kinds[] = {"",
                                      "text/javascript",
                                      "application/javascript",
                                      "text/ecmascript",
                                      "application/ecmascript",
                                      "application/x-javascript",
                                      "text/x-javascript",
                                      "text/jscript",
                                      "text/livescript"};
  for (const char* kind : kinds)
    if (t == kind) return true;
  return false;
}

NSURLPtr resolvePageURL(std::string_view text, const NSURLPtr& base) {
  std::string cleaned;
  std::size_t begin = 0, end = text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  static const char hex[] = "0123456789ABCDEF";
  for (std::size_t i = begin; i < end; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\t' || c == '\n' || c == '\r') continue;
    bool escape = c < 0x20 || c >= 0x7F || c == ' ' || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
                  c == '`' || c == '{' || c == '|' || c == '}';
    if (escape) {
      cleaned += '%';
      cleaned += hex[c >> 4];
      cleaned += hex[c & 15];
    } else {
      cleaned += static_cast<char>(c);
    }
  }
  NSURLPtr url = NSURL::URLWithStringRelativeToURL(cleaned, base);
  if (!url || !url->scheme()) return nullptr;
  return url->absoluteURL();
}

Dictionary locationParts(const NSURLPtr& url) {
  Dictionary parts;
  if (!url) return parts;
  std::string scheme = toLowerASCII(url->scheme().value_or(""));
  std::string hostname = url->host().value_or("");
  std::string port = url->port() ? std::to_string(*url->port()) : std::string();
  std::string host = hostname + (port.empty() ? "" : ":" + port);
  bool hierarchical = scheme == "http" || scheme == "https" || scheme == "file" || !hostname.empty();
  parts.set("protocol", scheme + ":");
  parts.set("hostname", hostname);
  parts.set("port", port);
  parts.set("host", host);
  parts.set("pathname", hierarchical ? (url->rawPath().empty() ? "/" : url->rawPath()) : url->resourceSpecifier());
  parts.set("search", url->query() && !url->query()->empty() ? "?" + *url->query() : "");
  parts.set("hash", url->fragment() && !url->fragment()->empty() ? "#" + *url->fragment() : "");
  parts.set("origin", (scheme == "http" || scheme == "https") ? scheme + "://" + host : "null");
  if (!hierarchical) {
    std::string spec = url->resourceSpecifier();
    parts.set("pathname", spec.substr(0, spec.find_first_of("?#")));
  }
  return parts;
}

std::string withoutFragment(const NSURLPtr& url) {
  if (!url) return {};
  const std::string& text = url->absoluteString();
  return text.substr(0, text.find('#'));
}

NSURLRequestPtr withMainDocumentURL(const NSURLRequestPtr& request, const NSURLPtr& mainDocumentURL) {
  if (request->mainDocumentURL() && mainDocumentURL && request->mainDocumentURL()->isEqual(*mainDocumentURL))
    return request;
  auto copy = request->mutableCopy();
  copy->setMainDocumentURL(mainDocumentURL);
  return copy;
}

}  // namespace plat::web
