#pragma once
// What a URL load answers before its data: the URL it finally came from, the MIME type, the
// expected length and the text encoding; HTTP responses add the status code and header fields.
// Immutable once made; any thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"

namespace plat {

class NSURLResponse;
class NSHTTPURLResponse;
using NSURLResponsePtr = std::shared_ptr<NSURLResponse>;
using NSHTTPURLResponsePtr = std::shared_ptr<NSHTTPURLResponse>;

// The MIME type the platform gives a file of that extension (compared without regard to case);
// "application/octet-stream" for one it does not know.
std::string MIMETypeForPathExtension(std::string_view extension);

class NSURLResponse : public Object {
 public:
  static constexpr std::int64_t kUnknownLength = -1;

  static NSURLResponsePtr responseWithURL(NSURLPtr url, std::string MIMEType, std::int64_t expectedContentLength,
                                          std::optional<std::string> textEncodingName);

  const NSURLPtr& URL() const { return url_; }
  const std::string& MIMEType() const { return mimeType_; }
  std::int64_t expectedContentLength() const { return expectedContentLength_; }
  const std::optional<std::string>& textEncodingName() const { return textEncodingName_; }
  // The last path component of the URL, or "Unknown" when it has none.
  std::string suggestedFilename() const;

  NSURLResponse() = default;

 protected:
  NSURLPtr url_;
  std::string mimeType_;
  std::int64_t expectedContentLength_ = kUnknownLength;
  std::optional<std::string> textEncodingName_;
};

class NSHTTPURLResponse : public NSURLResponse {
 public:
  using HeaderFields = std::vector<std::pair<std::string, std::string>>;

  // The MIME type and the encoding come from the "Content-Type" field, the expected length
  // from "Content-Length".
  static NSHTTPURLResponsePtr responseWithURL(NSURLPtr url, long statusCode, HeaderFields headerFields);

  long statusCode() const { return statusCode_; }
  // In the order received; names as written.
  const HeaderFields& allHeaderFields() const { return headers_; }
  // The first field of that name, compared without regard to case.
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;

  // "not found", "internal server error", ... as the platform words them.
  static std::string localizedStringForStatusCode(long statusCode);

 private:
  long statusCode_ = 0;
  HeaderFields headers_;
};

}  // namespace plat
