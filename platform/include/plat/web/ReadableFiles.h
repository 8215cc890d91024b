#pragma once
// Which files a page may read: the one rule that both the WebKit engine (in our process) and its
// web extension (inside WebKit's content processes) apply. A file URL names a file a page may
// read when the file, with its links resolved, lies inside one of the roots (the sandbox home
// and the application bundle) and, when the view was given a read-access folder or file, inside
// that too. A ".." that climbs is refused before anything is resolved; a query or fragment never
// changes which file is meant. Header-only and free of the rest of the platform, so that the
// extension can be built from it alone.
#include <glib.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace plat::web::readable {

// The local path a file: URI names (percent-decoded, without query and fragment); nothing for a
// URI that names no local path.
inline std::optional<std::string> filePathOfURI(const std::string& uri) {
  std::string bare = uri.substr(0, uri.find_first_of("?#"));
  char* host = nullptr;
  char* path = g_filename_from_uri(bare.c_str(), &host, nullptr);
  // A file URL with a host names a file of that machine, not of ours.
  bool local = !host || g_ascii_strcasecmp(host, "localhost") == 0;
  g_free(host);
  if (!path) return std::nullopt;
  std::string out(path);
  g_free(path);
  if (!local) return std::nullopt;
  return out;
}

// The path with its links resolved; a path that does not exist yet is resolved through its
// nearest existing folder (it cannot be read, but must not pass as inside a root either).
inline std::optional<std::string> resolvedPath(const std::string& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer)) return std::string(buffer);
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return std::nullopt;
  auto parent = resolvedPath(path.substr(0, slash));
  if (!parent) return std::nullopt;
  return *parent + path.substr(slash);
}

inline bool isInside(const std::string& path, const std::string& root) {
  if (root.empty()) return false;
  if (path == root) return true;
  std::string folder = root.back() == '/' ? root : root + "/";
  return path.compare(0, folder.size(), folder) == 0;
}

inline bool climbs(const std::string& path) {
  return path.find("/../") != std::string::npos || (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0);
}

// Whether a page may read the file a file: URI names. roots are resolved already; readAccess is
// the view's read-access folder or file, when it has one ("" reads nothing).
inline bool mayReadFile(const std::string& uri, const std::vector<std::string>& roots,
                        const std::optional<std::string>& readAccess) {
  auto path = filePathOfURI(uri);
  if (!path || climbs(*path)) return false;
  auto real = resolvedPath(*path);
  if (!real) return false;
  bool inRoot = false;
  for (const std::string& root : roots) inRoot = inRoot || isInside(*real, root);
  if (!inRoot) return false;
  if (!readAccess) return true;
  auto folder = resolvedPath(*readAccess);
  return folder && isInside(*real, *folder);
}

}  // namespace plat::web::readable
