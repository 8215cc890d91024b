#include "plat/foundation/NSPathUtilities.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "plat/foundation/NSFileManager.h"

namespace plat {
namespace {

std::mutex& homeMutex() {
  static std::mutex m;
  return m;
}

std::string& homeStorage() {
  static std::string home;
  return home;
}

std::string_view trimTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

std::string joinComponents(const std::vector<std::string>& parts, bool absolute) {
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += '/';
    out += parts[i];
  }
  return out;
}

std::string resolvedPath(const std::string& path);

}  // namespace

bool isAbsolutePath(std::string_view path) { return !path.empty() && (path[0] == '/' || path[0] == '~'); }

std::vector<std::string> pathComponents(std::string_view path) {
  std::vector<std::string> out;
  if (path.empty()) return out;
  if (path[0] == '/') out.emplace_back("/");
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '/') ++i;
    std::size_t start = i;
    while (i < path.size() && path[i] != '/') ++i;
    if (i > start) out.emplace_back(path.substr(start, i - start));
  }
  return out;
}

std::string lastPathComponent(std::string_view path) {
  path = trimTrailingSlashes(path);
  if (path == "/") return "/";
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string pathExtension(std::string_view path) {
  std::string last = lastPathComponent(path);
  std::size_t dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return {};
  return last.substr(dot + 1);
}

std::string stringByAppendingPathComponent(std::string_view path, std::string_view component) {
  std::string out(trimTrailingSlashes(path));
  while (!component.empty() && component.front() == '/') component.remove_prefix(1);
  component = trimTrailingSlashes(component);
  if (component == "/") component = {};
  if (!component.empty()) {
    if (!out.empty() && out.back() != '/') out += '/';
    out += component;
  }
  // Collapse repeated separators the component may have brought in.
  std::string collapsed;
  collapsed.reserve(out.size());
  for (char c : out)
    if (!(c == '/' && !collapsed.empty() && collapsed.back() == '/')) collapsed += c;
  return collapsed;
}

std::string stringByDeletingLastPathComponent(std::string_view path) {
  path = trimTrailingSlashes(path);
  if (path == "/") return "/";
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  if (slash == 0) return "/";
  return std::string(trimTrailingSlashes(path.substr(0, slash)));
}

std::string stringByDeletingPathExtension(std::string_view path) {
  std::string ext = pathExtension(path);
  std::string_view trimmed = trimTrailingSlashes(path);
  if (ext.empty()) return std::string(trimmed);
  return std::string(trimmed.substr(0, trimmed.size() - ext.size() - 1));
}

std::string stringByAppendingPathExtension(std::string_view path, std::string_view extension) {
  std::string out(trimTrailingSlashes(path));
  out += '.';
  out += extension;
  return out;
}

std::string stringByStandardizingPath(std::string_view path) {
  if (path.empty()) return {};
  std::string expanded;
  if (path[0] == '~' && (path.size() == 1 || path[1] == '/')) {
    expanded = NSHomeDirectory();
    expanded += path.substr(1);
  } else {
    expanded = std::string(path);
  }
  bool absolute = expanded[0] == '/';
  std::vector<std::string> parts;
  for (const std::string& c : pathComponents(expanded)) {
    if (c == "/" || c == ".") continue;
    if (c == ".." && absolute) {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    if (c == ".." && !parts.empty() && parts.back() != "..") {
      // Relative paths keep ".." only where nothing precedes it to cancel.
      parts.pop_back();
      continue;
    }
    parts.push_back(c);
  }
  std::string out = joinComponents(parts, absolute);
  return out.empty() ? std::string(absolute ? "/" : "") : out;
}

bool pathIsInsideFolder(std::string_view path, std::string_view root) {
  if (path.empty() || root.empty() || path[0] != '/' || root[0] != '/') return false;
  std::string p = stringByStandardizingPath(path);
  std::string r = stringByStandardizingPath(root);
  if (r == "/") return true;
  return p == r || (p.size() > r.size() && p.compare(0, r.size(), r) == 0 && p[r.size()] == '/');
}

std::string NSHomeDirectory() {
  std::lock_guard<std::mutex> lock(homeMutex());
  if (homeStorage().empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp && *tmp == '/') ? tmp : "/tmp";
    homeStorage() = resolvedPath(stringByAppendingPathComponent(base, "harbor-home"));
  }
  return homeStorage();
}

std::string NSTemporaryDirectory() { return stringByAppendingPathComponent(NSHomeDirectory(), "tmp") + "/"; }

namespace {

// The path with its symbolic links resolved as far as it exists, so that every folder derived
// from the home passes a plain prefix test against paths the system resolved (a /tmp that is a
// link, say).
std::string resolvedPath(const std::string& path) {
  std::error_code ec;
  auto resolved = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : stringByStandardizingPath(resolved.string());
}

}  // namespace

void setHomeDirectory(std::string_view path) {
  std::string standardized;
  if (!path.empty() && path[0] == '/') standardized = resolvedPath(stringByStandardizingPath(path));
  std::lock_guard<std::mutex> lock(homeMutex());
  homeStorage() = standardized;
}

bool createSandboxFolders(std::string_view home, NSError* error) {
  auto& fm = NSFileManager::defaultManager();
  for (const char* sub : {"Documents", "Library/Caches", "Library/Preferences", "tmp"}) {
    if (!fm.createDirectoryAtPath(stringByAppendingPathComponent(home, sub), true, error)) return false;
  }
  return true;
}

std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory, unsigned domainMask,
                                                             bool expandTilde) {
  if (!(domainMask & NSUserDomainMask)) return {};
  const char* sub = nullptr;
  switch (directory) {
    case NSApplicationDirectory: sub = "Applications"; break;
    case NSLibraryDirectory: sub = "Library"; break;
    case NSDocumentDirectory: sub = "Documents"; break;
    case NSCachesDirectory: sub = "Library/Caches"; break;
    case NSApplicationSupportDirectory: sub = "Library/Application Support"; break;
  }
  if (!sub) return {};
  std::string base = expandTilde ? NSHomeDirectory() : std::string("~");
  return {stringByAppendingPathComponent(base, sub)};
}

}  // namespace plat
