#pragma once
// Path texts and the application's sandbox home.
//
// Path helpers work on texts only (no file system access) and follow the platform's rules: "/"
// separates components, repeated separators count as one, and a trailing "/" is dropped from
// results (except for the root "/").
//
// The sandbox home is process-wide: Documents, Library (with Caches and Preferences) and tmp
// live in it. The runner and the tests choose it with setHomeDirectory; until then it is
// "<system temporary folder>/harbor-home".
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/NSError.h"

namespace plat {

// "/a/b.txt" -> "b.txt"; "/a/b/" -> "b"; "/" -> "/"; "" -> "".
std::string lastPathComponent(std::string_view path);
// Text after the last "." of the last component: "a/b.tar.gz" -> "gz". A leading dot does not
// start an extension (".profile" has none), nor does a trailing one.
std::string pathExtension(std::string_view path);
// "a" + "b" -> "a/b"; "a/" + "/b" -> "a/b"; "" + "b" -> "b"; "/" + "b" -> "/b".
std::string stringByAppendingPathComponent(std::string_view path, std::string_view component);
// "/a/b" -> "/a"; "/a" -> "/"; "a" -> ""; "/" -> "/".
std::string stringByDeletingLastPathComponent(std::string_view path);
// "a/b.txt" -> "a/b"; "a/.profile" stays.
std::string stringByDeletingPathExtension(std::string_view path);
// "a/b" + "txt" -> "a/b.txt".
std::string stringByAppendingPathExtension(std::string_view path, std::string_view extension);
// Expands a leading "~" to the sandbox home, collapses "//" and "/./", drops a trailing "/",
// and in absolute paths resolves ".." against the previous component ("/.." stays "/").
// Relative paths keep their leading ".." components. No symbolic links are resolved.
std::string stringByStandardizingPath(std::string_view path);
// "/a/b/" -> {"/", "a", "b"}; "a//b" -> {"a", "b"}.
std::vector<std::string> pathComponents(std::string_view path);
bool isAbsolutePath(std::string_view path);
// Lexically: whether the standardized path is root itself or lies below it. Both must be absolute.
bool pathIsInsideFolder(std::string_view path, std::string_view root);

// The sandbox home, without a trailing "/".
std::string NSHomeDirectory();
// "<home>/tmp/", with the trailing "/" the platform gives it.
std::string NSTemporaryDirectory();
// Runner and tests: makes path the sandbox home of this process, standardized and with its
// symbolic links resolved as far as it exists (the runner and the tests create it first).
void setHomeDirectory(std::string_view path);
// Creates Documents, Library/Caches, Library/Preferences and tmp under home (missing parents
// too). Existing folders are fine.
bool createSandboxFolders(std::string_view home, NSError* error = nullptr);

enum NSSearchPathDirectory {
  NSApplicationDirectory = 1,
  NSLibraryDirectory = 5,
  NSDocumentDirectory = 9,
  NSCachesDirectory = 13,
  NSApplicationSupportDirectory = 14,
};

enum NSSearchPathDomainMask {
  NSUserDomainMask = 1,
  NSLocalDomainMask = 2,
  NSNetworkDomainMask = 4,
  NSSystemDomainMask = 8,
  NSAllDomainsMask = 0x0ffff,
};

// The standard folders of the sandbox. Only the user domain has folders here; other domains
// give nothing. With expandTilde false the paths start with "~".
std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory, unsigned domainMask,
                                                             bool expandTilde);

}  // namespace plat
