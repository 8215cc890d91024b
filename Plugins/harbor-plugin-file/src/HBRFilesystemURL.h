#pragma once
// The parsed form of a URL that names a file the File plugin serves:
// "hbrfile://localhost/<file system><full path>", or a photo-library "assets-library:" URL.
//
// A URL of another scheme, or an "hbrfile" URL whose host is not "localhost" or whose path has
// no file-system component, parses with both fileSystemName and fullPath absent: it names
// nothing. Nothing here touches the disk; the file systems decide what a full path may reach.
//
// Objects are made once and only read afterwards; the fields are guarded by the object's own
// lock all the same, so one object may be read from any thread.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"

namespace harbor {

inline constexpr char kHBRFileScheme[] = "hbrfile";
inline constexpr char kHBRAssetsLibraryScheme[] = "assets-library";

class HBRFilesystemURL;
using HBRFilesystemURLPtr = std::shared_ptr<HBRFilesystemURL>;

class HBRFilesystemURL : public plat::Object {
 public:
  // The text goes through the platform's URL parser first; a text that is no valid URL gives an
  // object without URL, file system or full path.
  static HBRFilesystemURLPtr fileSystemURLWithString(std::string_view text);
  static HBRFilesystemURLPtr fileSystemURLWithURL(const plat::NSURLPtr& url);

  void initWithString(std::string_view text);
  void initWithURL(const plat::NSURLPtr& url);

  // "persistent" for hbrfile://localhost/persistent/a.txt, "assets-library" for any
  // assets-library URL; nothing otherwise.
  static std::optional<std::string> filesystemNameForLocalURI(const plat::NSURLPtr& url);
  // "/a.txt" for hbrfile://localhost/persistent/a.txt (path decoded once, query appended as
  // written), "" for the file system's root; for assets-library the text after "assets-library:/".
  static std::optional<std::string> fullPathForLocalURI(const plat::NSURLPtr& url);

  plat::NSURLPtr url() const;
  void setUrl(plat::NSURLPtr url);
  std::optional<std::string> fileSystemName() const;
  void setFileSystemName(std::optional<std::string> name);
  std::optional<std::string> fullPath() const;
  void setFullPath(std::optional<std::string> path);

  // "hbrfile://localhost/<name><full path>" with nothing escaped: a blank in the full path stays
  // a blank. An absent field counts as empty.
  std::string absoluteURL() const;

 private:
  mutable std::mutex mutex_;
  plat::NSURLPtr url_;
  std::optional<std::string> fileSystemName_;
  std::optional<std::string> fullPath_;
};

}  // namespace harbor
