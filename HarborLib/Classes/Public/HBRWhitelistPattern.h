#pragma once
// One allow-list entry in compiled form: a URL matches when its scheme, host, port and path each
// pass the test the entry gave (an absent test passes everything).
//
// The tests are written as anchored regular expressions (see regexFromPattern), but they are
// never run by a regular-expression engine: the only shapes an entry can produce are literal
// text, "*" wildcards, an optional "*." subdomain prefix and an optional "/*" folder suffix, so
// they are matched by hand in time linear in the URL for each literal piece. A hostile URL of any
// length cannot make matching slow, and nothing in a URL is ever interpreted as a pattern.
//
// Immutable after initWithScheme; any thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"

namespace harbor {

class HBRWhitelistPattern;
using HBRWhitelistPatternPtr = std::shared_ptr<HBRWhitelistPattern>;

class HBRWhitelistPattern : public plat::Object {
 public:
  // The expression text for a pattern: every regular-expression metacharacter escaped; with
  // wildcards, each "*" becomes ".*" and a final "/*" becomes an optional folder suffix
  // ("(\/.*)?"); always ends in "$". For logs and tests: matching does not parse it.
  static std::string regexFromPattern(std::string_view pattern, bool allowWildcards);

  // Each part may be absent; absent or "*" (for the path "/*") means "any". A host starting with
  // "*." matches that domain and its subdomains; any other "*" in a host is a literal star.
  // The port is read as an integer the way a number text is read (leading digits, else 0).
  void initWithScheme(const std::optional<std::string>& scheme, const std::optional<std::string>& host,
                      const std::optional<std::string>& port, const std::optional<std::string>& path);

  bool matches(const plat::NSURL& url) const;
  bool matches(const plat::NSURLPtr& url) const { return url && matches(*url); }

  // The expressions of the present tests, as regexFromPattern writes them (the host's with its
  // subdomain group), for logs and tests.
  const std::optional<std::string>& schemeExpression() const { return schemeExpression_; }
  const std::optional<std::string>& hostExpression() const { return hostExpression_; }
  const std::optional<std::int64_t>& port() const { return port_; }
  const std::optional<std::string>& pathExpression() const { return pathExpression_; }

  // A compiled test: literal pieces joined by wildcards, optionally also matching
  // "<pattern>/<anything>" (the folder form) or "<anything>.<pattern>" (the subdomain form).
  // Public only so that the implementation's helpers can see it.
  struct Glob {
    std::vector<std::string> pieces;  // split at the wildcards; size() - 1 wildcards
    bool caseInsensitive = false;
    bool folderSuffix = false;        // also "<pattern>/..." (the "(\/.*)?" group)
    bool subdomainPrefix = false;     // also "<[a-z0-9.-]*.><pattern>" (the "*." host form)
  };

 private:
  std::optional<Glob> scheme_;
  std::optional<Glob> host_;
  std::optional<std::int64_t> port_;
  std::optional<Glob> path_;
  std::optional<std::string> schemeExpression_;
  std::optional<std::string> hostExpression_;
  std::optional<std::string> pathExpression_;
};

}  // namespace harbor
