#include "HBRFilesystemURL.h"

#include "plat/foundation/NSPathUtilities.h"

namespace harbor {

namespace {

constexpr char kLocalhost[] = "localhost";
// "assets-library:/": the scheme, its colon and the first "/" of the library URL.
constexpr std::size_t kAssetsLibraryPrefixLength = 16;

bool isLocalFileURL(const plat::NSURL& url) {
  return url.scheme() == kHBRFileScheme && url.host() == kLocalhost;
}

}  // namespace

HBRFilesystemURLPtr HBRFilesystemURL::fileSystemURLWithString(std::string_view text) {
  auto url = std::make_shared<HBRFilesystemURL>();
  url->initWithString(text);
  return url;
}

HBRFilesystemURLPtr HBRFilesystemURL::fileSystemURLWithURL(const plat::NSURLPtr& url) {
  auto result = std::make_shared<HBRFilesystemURL>();
  result->initWithURL(url);
  return result;
}

void HBRFilesystemURL::initWithString(std::string_view text) { initWithURL(plat::NSURL::URLWithString(text)); }

void HBRFilesystemURL::initWithURL(const plat::NSURLPtr& url) {
  setUrl(url);
  setFileSystemName(filesystemNameForLocalURI(url));
  setFullPath(fullPathForLocalURI(url));
}

std::optional<std::string> HBRFilesystemURL::filesystemNameForLocalURI(const plat::NSURLPtr& url) {
  if (!url) return std::nullopt;
  if (isLocalFileURL(*url)) {
    auto components = plat::pathComponents(url->path());
    if (components.size() < 2 || components[0] != "/") return std::nullopt;
    return components[1];
  }
  if (url->scheme() == kHBRAssetsLibraryScheme) return std::string(kHBRAssetsLibraryScheme);
  return std::nullopt;
}

std::optional<std::string> HBRFilesystemURL::fullPathForLocalURI(const plat::NSURLPtr& url) {
  if (!url) return std::nullopt;
  if (isLocalFileURL(*url)) {
    // Without a file system the URL names nothing, so it has no full path either.
    if (!filesystemNameForLocalURI(url)) return std::nullopt;
    std::string path = url->path();
    // The query belongs to the entry's name (a photo's id, say), so it is kept as written.
    if (url->query()) path += "?" + *url->query();
    auto slash = path.find('/', 1);
    if (slash == std::string::npos) return std::string();
    return path.substr(slash);
  }
  if (url->scheme() == kHBRAssetsLibraryScheme) {
    const std::string& text = url->absoluteString();
    if (text.size() <= kAssetsLibraryPrefixLength) return std::string();
    return text.substr(kAssetsLibraryPrefixLength);
  }
  return std::nullopt;
}

plat::NSURLPtr HBRFilesystemURL::url() const {
  std::lock_guard lock(mutex_);
  return url_;
}

void HBRFilesystemURL::setUrl(plat::NSURLPtr url) {
  std::lock_guard lock(mutex_);
  url_ = std::move(url);
}

std::optional<std::string> HBRFilesystemURL::fileSystemName() const {
  std::lock_guard lock(mutex_);
  return fileSystemName_;
}

void HBRFilesystemURL::setFileSystemName(std::optional<std::string> name) {
  std::lock_guard lock(mutex_);
  fileSystemName_ = std::move(name);
}

std::optional<std::string> HBRFilesystemURL::fullPath() const {
  std::lock_guard lock(mutex_);
  return fullPath_;
}

void HBRFilesystemURL::setFullPath(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  fullPath_ = std::move(path);
}

std::string HBRFilesystemURL::absoluteURL() const {
  std::lock_guard lock(mutex_);
  return std::string(kHBRFileScheme) + "://localhost/" + fileSystemName_.value_or("") + fullPath_.value_or("");
}

}  // namespace harbor
