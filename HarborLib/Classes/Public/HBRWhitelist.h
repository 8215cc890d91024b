#pragma once
// An allow-list of URLs, compiled from the entries of config.xml ("allow-navigation" or
// "allow-intent" hrefs): "*", "https://*.example.com/docs/*", "tel:*", "example.com:8080", ...
//
// An entry without a scheme stands for http and https. The entry "*" allows every URL from then
// on (later entries are ignored). Entries are only matched against URLs; no part of a URL is ever
// used as a pattern, and matching time is linear in the URL's length (see HBRWhitelistPattern).
//
// Built once, then read: any thread once built; not safe to add entries while others read.
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "HBRWhitelistPattern.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"

namespace harbor {

class HBRWhitelist;
using HBRWhitelistPtr = std::shared_ptr<HBRWhitelist>;

class HBRWhitelist : public plat::Object {
 public:
  static constexpr char kDefaultRejectionFormat[] = "ERROR whitelist rejection: url='%@'";

  // Starts empty (allowing nothing), then adds each entry in order.
  void initWithArray(const std::vector<std::string>& entries);
  void addWhiteListEntry(std::string_view entry);

  // "http", "https", "ftp" and "ftps" always; others when an entry named them (exactly as
  // written) or when the list allows everything.
  bool schemeIsAllowed(const std::optional<std::string>& scheme) const;
  // Logs the rejection text when the URL is refused.
  bool URLIsAllowed(const plat::NSURLPtr& url) const { return URLIsAllowedLogFailure(url, true); }
  bool URLIsAllowedLogFailure(const plat::NSURLPtr& url, bool logFailure) const;
  // The rejection format with its "%@" replaced by the URL's absolute text, cut as every page
  // text is for the log (plat::logPageText).
  std::string errorStringForURL(const plat::NSURLPtr& url) const;

  // Four dot-separated parts, each "*" or a number from 0 to 255.
  static bool isIPv4Address(std::string_view text);

  // Nothing when every URL is allowed.
  const std::optional<std::vector<HBRWhitelistPatternPtr>>& whitelist() const { return whitelist_; }
  // Nothing when every scheme passes the scheme test.
  const std::optional<std::set<std::string>>& permittedSchemes() const { return permittedSchemes_; }
  const std::string& whitelistRejectionFormatString() const { return rejectionFormat_; }
  // Only the first "%@" is filled in; "%%" stands for "%". The text is never used as a printf
  // format, so any text is safe here.
  void setWhitelistRejectionFormatString(std::string format) { rejectionFormat_ = std::move(format); }

 private:
  void addPattern(const std::optional<std::string>& scheme, const std::optional<std::string>& host,
                  const std::optional<std::string>& port, const std::optional<std::string>& path);

  // An uninitialised list allows nothing, as one built from no entries.
  std::optional<std::vector<HBRWhitelistPatternPtr>> whitelist_ = std::vector<HBRWhitelistPatternPtr>{};
  std::optional<std::set<std::string>> permittedSchemes_ = std::set<std::string>{};
  std::string rejectionFormat_ = kDefaultRejectionFormat;
};

}  // namespace harbor
