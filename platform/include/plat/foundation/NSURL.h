#pragma once
// URLs as the platform parses them (RFC 3986), immutable and shared.
//
// URLWithString refuses what a real URL parser refuses: characters outside the URL alphabet
// (spaces, quotes, backslashes, angle brackets, braces, "|", "^", "`", control characters and
// any byte outside ASCII), a "%" not followed by two hex digits, a second "#", brackets in the
// path, user or host name (other than around an IP-literal host), a colon in the first segment
// of a relative path, and a port that is not a number up to 65535. A text without a scheme is a
// relative URL; with a base URL it resolves against it by RFC 3986, section 5.
//
// Accessors answer for the resolved (absolute) URL. `path` is percent-decoded once and has no
// trailing "/" (except the root); `query` and `fragment` are returned as written.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

// Escapes every byte except the unreserved characters A-Z a-z 0-9 "-" "." "_" "~" (and those in
// `alsoAllowed`), as "%XX" with upper-case hex.
std::string percentEscape(std::string_view text, std::string_view alsoAllowed = {});
// Decodes each "%XX" once ("%2541" -> "%41"); nothing when a "%" is not followed by two hex digits.
std::optional<std::string> percentDecode(std::string_view text);

// Resource keys of file URLs.
inline constexpr char NSURLIsExcludedFromBackupKey[] = "NSURLIsExcludedFromBackupKey";
inline constexpr char NSURLIsDirectoryKey[] = "NSURLIsDirectoryKey";

// Where items excluded from backup are recorded when their file system keeps no extended
// attributes: "<home>/Library/.excluded-from-backup", the real path of each item on a line.
std::string NSURLBackupExclusionRecordPath();

class NSURL;
using NSURLPtr = std::shared_ptr<NSURL>;

class NSURL : public Object {
 public:
  // Null when the text is not a valid URL (see above).
  static NSURLPtr URLWithString(std::string_view text);
  // Why URLWithString refuses the text ("a space at character 12, which a URL must escape"), or
  // "" when it does not.
  static std::string refusalReason(std::string_view text);
  // Resolves text against base (text alone when base is null). Null when text is invalid.
  static NSURLPtr URLWithStringRelativeToURL(std::string_view text, const NSURLPtr& base);
  // "file://" and the percent-escaped absolute path (relative paths are taken from the current
  // folder); a trailing "/" when the path names an existing folder. Null for an empty path.
  static NSURLPtr fileURLWithPath(std::string_view path);
  static NSURLPtr fileURLWithPath(std::string_view path, bool isDirectory);

  // The text as given, and the base it is relative to (null for an absolute URL).
  const std::string& relativeString() const { return relative_; }
  const NSURLPtr& baseURL() const { return base_; }
  // The resolved text.
  const std::string& absoluteString() const { return absolute_; }
  // This URL when it has no base, else a new URL of the absolute text.
  NSURLPtr absoluteURL() const;

  // As written ("HTTP" stays "HTTP"); nothing for a relative URL without base.
  const std::optional<std::string>& scheme() const { return scheme_; }
  // Without IP-literal brackets; nothing when there is no authority or its host is empty.
  std::optional<std::string> host() const;
  std::optional<int> port() const { return port_; }
  std::optional<std::string> user() const;
  std::string path() const;
  // The path as written (still escaped, trailing "/" kept).
  const std::string& rawPath() const { return path_; }
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::string>& fragment() const { return fragment_; }
  // Everything after "scheme:".
  std::string resourceSpecifier() const;
  bool isFileURL() const;
  std::string lastPathComponent() const;
  std::string pathExtension() const;

  // A new absolute URL with the component escaped and appended to the path (before query and
  // fragment). "/" inside the component separates further components.
  NSURLPtr URLByAppendingPathComponent(std::string_view component) const;
  NSURLPtr URLByAppendingPathComponent(std::string_view component, bool isDirectory) const;

  // Same relative text and equal bases (so "b" relative to X differs from X/b written out).
  bool isEqual(const NSURL& other) const;
  std::string description() const { return absolute_; }

  // File URLs only. NSURLIsExcludedFromBackupKey (a boolean, kept as an extended attribute of
  // the item, or in the record below where the file system has no user attributes) can be set
  // and read; NSURLIsDirectoryKey read.
  bool setResourceValue(const Value& value, std::string_view key, NSError* error = nullptr) const;
  std::optional<Value> resourceValue(std::string_view key, NSError* error = nullptr) const;

  // Use the factories; public only for make_shared.
  NSURL() = default;

  // The pieces of a parsed URL; for the implementation.
  struct Parts;

 private:
  static NSURLPtr make(std::string relative, NSURLPtr base, const Parts& parts);

  std::string relative_;
  NSURLPtr base_;
  std::string absolute_;
  std::optional<std::string> scheme_;
  std::optional<std::string> authority_;
  std::optional<std::string> userinfo_;
  std::string host_;
  std::optional<int> port_;
  std::string path_;
  std::optional<std::string> query_;
  std::optional<std::string> fragment_;
};

// Null-safe equality of two URL references (both null counts as equal).
bool isEqualURL(const NSURLPtr& a, const NSURLPtr& b);

}  // namespace plat
