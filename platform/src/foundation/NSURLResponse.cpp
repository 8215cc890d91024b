#include "plat/foundation/NSURLResponse.h"

#include <cstdlib>
#include <map>

#include "plat/foundation/Strings.h"
#include "plat/mobilecoreservices/UTType.h"

namespace plat {
namespace {

std::string trim(std::string_view text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

// "text/html; charset=UTF-8" -> ("text/html", "UTF-8"). The type is lower-cased, as the platform
// reports it; quotes around the charset are dropped.
std::pair<std::string, std::optional<std::string>> splitContentType(std::string_view value) {
  std::size_t semicolon = value.find(';');
  std::string type = toLowerASCII(trim(value.substr(0, semicolon)));
  std::optional<std::string> charset;
  while (semicolon != std::string_view::npos) {
    std::size_t next = value.find(';', semicolon + 1);
    std::string parameter = trim(value.substr(semicolon + 1, next == std::string_view::npos ? next : next - semicolon - 1));
    std::size_t equals = parameter.find('=');
    if (equals != std::string::npos && equalsIgnoringCaseASCII(trim(parameter.substr(0, equals)), "charset")) {
      std::string name = trim(parameter.substr(equals + 1));
      if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
      if (!name.empty()) charset = name;
    }
    semicolon = next;
  }
  return {type, charset};
}

}  // namespace

std::string MIMETypeForPathExtension(std::string_view extension) {
  auto uti = UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension, extension);
  auto mime = uti ? UTTypeCopyPreferredTagWithClass(*uti, kUTTagClassMIMEType) : std::nullopt;
  return mime.value_or("application/octet-stream");
}

NSURLResponsePtr NSURLResponse::responseWithURL(NSURLPtr url, std::string MIMEType, std::int64_t expectedContentLength,
                                                std::optional<std::string> textEncodingName) {
  auto response = std::make_shared<NSURLResponse>();
  response->url_ = std::move(url);
  response->mimeType_ = std::move(MIMEType);
  response->expectedContentLength_ = expectedContentLength;
  response->textEncodingName_ = std::move(textEncodingName);
  return response;
}

std::string NSURLResponse::suggestedFilename() const {
  std::string name = url_ ? url_->lastPathComponent() : std::string();
  return name.empty() || name == "/" ? "Unknown" : name;
}

NSHTTPURLResponsePtr NSHTTPURLResponse::responseWithURL(NSURLPtr url, long statusCode, HeaderFields headerFields) {
  auto response = std::make_shared<NSHTTPURLResponse>();
  response->url_ = std::move(url);
  response->statusCode_ = statusCode;
  response->headers_ = std::move(headerFields);
  if (auto type = response->valueForHTTPHeaderField("Content-Type")) {
    auto [mime, charset] = splitContentType(*type);
    response->mimeType_ = mime;
    response->textEncodingName_ = charset;
  }
  if (auto length = response->valueForHTTPHeaderField("Content-Length")) {
    char* end = nullptr;
    long long n = std::strtoll(length->c_str(), &end, 10);
    if (end && *end == '\0' && !length->empty() && n >= 0) response->expectedContentLength_ = n;
  }
  return response;
}

std::optional<std::string> NSHTTPURLResponse::valueForHTTPHeaderField(std::string_view field) const {
  for (const auto& [name, value] : headers_)
    if (equalsIgnoringCaseASCII(name, field)) return value;
  return std::nullopt;
}

std::string NSHTTPURLResponse::localizedStringForStatusCode(long statusCode) {
  static const std::map<long, const char*> texts = {
      {100, "continue"}, {200, "no error"}, {201, "created"}, {202, "accepted"}, {204, "no content"},
      {206, "partial content"}, {301, "moved permanently"}, {302, "found"}, {303, "see other"},
      {304, "not modified"}, {307, "temporarily redirected"}, {400, "bad request"}, {401, "unauthorized"},
      {403, "forbidden"}, {404, "not found"}, {405, "method not allowed"}, {408, "request timed out"},
      {409, "conflict"}, {410, "no longer exists"}, {413, "request too large"}, {415, "unsupported media type"},
      {500, "internal server error"}, {501, "unimplemented"}, {502, "bad gateway"},
      {503, "service unavailable"}, {504, "gateway timed out"}};
  auto it = texts.find(statusCode);
  if (it != texts.end()) return it->second;
  if (statusCode >= 100 && statusCode < 200) return "informational";
  if (statusCode >= 200 && statusCode < 300) return "success";
  if (statusCode >= 300 && statusCode < 400) return "redirected";
  if (statusCode >= 400 && statusCode < 500) return "client error";
  if (statusCode >= 500 && statusCode < 600) return "server error";
  return "unknown";
}

}  // namespace plat
