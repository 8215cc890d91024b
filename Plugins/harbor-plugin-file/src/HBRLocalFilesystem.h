#pragma once
// A file system over one directory of the device, its root: "temporary", "persistent" and the
// extra ones ("documents", "library", "cache", "bundle", "root", ...). It maps full paths to
// local paths and back, makes entry dictionaries and carries out the page's file operations.
// It is also the MIME-type lookup of the whole File plugin.
//
// Confinement: a full path that arrives in a URL is mapped to a local path only when it holds
// no ".." component and no NUL byte, and when the path, with its symbolic links resolved, still
// lies inside the root (itself resolved). A link as the last component is followed too, also
// when its target does not exist yet, so nothing is created, appended, cut or marked through a
// link that points out of the root. A name longer than the system's limit (NAME_MAX bytes, or
// PATH_MAX for the whole path) is refused too: no such file can exist. Everything else answers
// ENCODING_ERR (status 6): no operation reaches outside its root. Relative paths given to getFileForURL are normalised
// first, so "../../x" there names "/x" inside the root.
//
// Operations run on the caller's thread; the callbacks of reads, metadata and local copies run
// before the operation returns. The object keeps no state but its name, root and transformer.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "HBRFileSystem.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/Object.h"

namespace harbor {

class HBRLocalFilesystem;
using HBRLocalFilesystemPtr = std::shared_ptr<HBRLocalFilesystem>;

class HBRLocalFilesystem : public plat::Object, public HBRFileSystemIdentity {
 public:
  void initWithName(std::string name, std::string root);

  // MIME type from the path's extension by the platform's type registry, with fallbacks for
  // m4a audio, "wav" and "css" extensions; nothing when unknown.
  static std::optional<std::string> getMimeTypeFromPath(const std::optional<std::string>& path);
  // The text before the first "?".
  static std::string stripQueryParametersFromPath(std::string_view path);
  // Resolves ".." against the component before it (a leading one is dropped); "." stays.
  static std::string normalizePath(std::string_view path);
  static bool valueForKeyIsNumber(const plat::Dictionary& dict, std::string_view key);
  // False when dest is src or lies inside the directory src, at a "/" boundary (copying a
  // directory into itself); "/a/dir" may go to "/a/dir-backup" or "/a/dirx/copy".
  static bool canCopyMoveSrc(const std::string& src, const std::string& dest);

  const std::string& fsRoot() const { return fsRoot_; }
  // A read-only file system (the application bundle) answers every change (create, write,
  // truncate, remove, metadata, a copy or move into it, a move out of it) with
  // NO_MODIFICATION_ALLOWED_ERR (status 6) and changes nothing; reads are as usual.
  void setReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool isReadOnly() const { return readOnly_; }

  // Root and full path (query stripped) joined; nothing when the path is refused (see above).
  std::optional<std::string> filesystemPathForFullPath(const std::optional<std::string>& fullPath) const;
  // The full path (beginning with "/", or "" for the root itself) of a local path inside the
  // root; nothing for a path outside it.
  std::optional<std::string> fullPathForFileSystemPath(const std::string& path) const;
  // "hbrfile://localhost/<name><escaped full path>", parsed; null for a missing full path.
  HBRFilesystemURLPtr URLforFullPath(const std::optional<std::string>& fullPath) const;

  // Removes the item, a directory with everything in it; status 1 or 6 with 1, 6 or 3.
  HBRPluginResultPtr doRemove(const std::string& path);
  // Cuts or extends a regular file to position and returns its new length; nothing when the
  // file cannot be opened or cut (a missing file is not created).
  std::optional<std::uint64_t> truncateFile(const std::string& path, std::uint64_t position);

  // HBRFileSystem
  HBRPluginResultPtr entryForLocalURI(const HBRFilesystemURLPtr& url) override;
  HBRPluginResultPtr getFileForURL(const HBRFilesystemURLPtr& url, const std::optional<std::string>& requestedPath,
                                   const plat::Dictionary& options) override;
  HBRPluginResultPtr getParentForURL(const HBRFilesystemURLPtr& url) override;
  HBRPluginResultPtr setMetadataForURL(const HBRFilesystemURLPtr& url, const plat::Dictionary& metadata) override;
  HBRPluginResultPtr removeFileAtURL(const HBRFilesystemURLPtr& url) override;
  HBRPluginResultPtr recursiveRemoveFileAtURL(const HBRFilesystemURLPtr& url) override;
  HBRPluginResultPtr readEntriesAtURL(const HBRFilesystemURLPtr& url) override;
  HBRPluginResultPtr truncateFileAtURL(const HBRFilesystemURLPtr& url, std::uint64_t position) override;
  // Writes follow the platform's rule for the page's files (plat/foundation/FileWrites.h): through
  // a link (inside the root) to the file it names, keeping the file's permissions, owner,
  // extended attributes (the backup-exclusion mark) and hard links, and whole or not at all at
  // every position. Anything but a regular file is refused and left as it is, and so is every
  // write in a folder that takes no new file. Status 1 with the byte count; a full disk answers
  // 9/QUOTA_EXCEEDED_ERR, other failures 9/INVALID_MODIFICATION_ERR, logged with the reason
  // ("File: <full path> was not written: ..."). Empty data answers 1 with 0 and, at a
  // position, cuts the file there.
  // Replacing writes at position 0, appending at the end.
  HBRPluginResultPtr writeToFileAtURL(const HBRFilesystemURLPtr& url, const plat::Data& data, bool append) override;
  HBRPluginResultPtr writeToFileAtURLAtPosition(const HBRFilesystemURLPtr& url, const plat::Data& data,
                                                std::uint64_t position) override;
  void copyFileToURL(const HBRFilesystemURLPtr& destURL, const std::optional<std::string>& newName,
                     const HBRFileSystemPtr& srcFs, const HBRFilesystemURLPtr& srcURL, bool copy,
                     HBRResultCallback callback) override;
  void readFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                     HBRReadCallback callback) override;
  // A regular file only: its length when opened, cut to the range asked for.
  void openFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                     HBROpenCallback callback) override;
  void getFileMetadataForURL(const HBRFilesystemURLPtr& url, HBRResultCallback callback) override;
  std::optional<plat::Dictionary> makeEntryForLocalURL(const HBRFilesystemURLPtr& url) override;
  plat::Dictionary makeEntryForPath(const std::string& fullPath, bool isDirectory) override;
  std::optional<std::string> filesystemPathForURL(const HBRFilesystemURLPtr& url) override;
  HBRFilesystemURLPtr URLforFilesystemPath(const std::string& path) override;

 protected:
  // The platform's file manager; a test puts one in that fails on purpose.
  virtual plat::NSFileManager& fileManager();

 private:
  // Root and full path joined as text, without any check.
  std::string joinedLocalPath(const std::string& fullPath) const;
  // No ".." component, no NUL, and inside the root once symbolic links are resolved.
  bool isConfined(const std::string& localPath) const;
  bool isRoot(const std::string& localPath) const;
  void moveReplacing(const std::string& src, const std::string& dest, bool destExists, const HBRResultCallback& callback,
                     const std::string& newFullPath, bool srcIsDir);

  std::string fsRoot_;  // fixed by initWithName
  bool readOnly_ = false;  // set once, before the file system is registered
};

}  // namespace harbor
