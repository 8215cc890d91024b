#pragma once
// The photo library as a read-only file system, registered as "assets-library". Its entries are
// addressed by the library's own URLs (assets-library://asset/asset.JPG?id=<id>&ext=JPG) or by
// hbrfile://localhost/assets-library/asset/asset.JPG?id=<id>&ext=JPG; the full path is the
// library URL without "assets-library:" and one "/", query included.
//
// It reads bytes and metadata and makes entries; everything that would change or list the
// library is refused at once:
//   getFile 5 "getFile not supported for assets-library URLs.", getParent 6/4, setMetadata 9,
//   remove 6/9, removeRecursively 5 "removeRecursively not supported for assets-library URLs.",
//   readEntries 5 "readEntries not supported for assets-library URLs.", truncate 6/6, write 6/6,
//   copy or move into the library 6/9 (through the callback).
// Resolving a URL answers an entry without asking the library whether the asset exists.
//
// Threads: reads and metadata ask a new library instance each time and call back on the
// library's thread (the main run loop), never on the caller's; everything else answers at once.
// No mutable state but the name and transformer.
#include <cstdint>
#include <optional>
#include <string>

#include "HBRFileSystem.h"
#include "plat/foundation/Object.h"

namespace harbor {

inline constexpr char kHBRAssetsLibraryFileSystemName[] = "assets-library";

class HBRAssetLibraryFilesystem : public plat::Object, public HBRFileSystemIdentity {
 public:
  void initWithName(std::string name);

  // The library URL to ask for: an hbrfile URL's text after "hbrfile://localhost/assets-library"
  // put behind "assets-library:/"; an assets-library URL as it is. Null when there is none.
  static plat::NSURLPtr assetLibraryURLForLocalURL(const HBRFilesystemURLPtr& url);
  // As the local file system's lookup.
  static std::optional<std::string> getMimeTypeFromPath(const std::optional<std::string>& path);

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
  HBRPluginResultPtr writeToFileAtURL(const HBRFilesystemURLPtr& url, const plat::Data& data, bool append) override;
  void copyFileToURL(const HBRFilesystemURLPtr& destURL, const std::optional<std::string>& newName,
                     const HBRFileSystemPtr& srcFs, const HBRFilesystemURLPtr& srcURL, bool copy,
                     HBRResultCallback callback) override;
  // Bytes [start, end) of the asset; an end not above start reads to the end. The range is
  // clamped to the asset before anything is allocated (a negative start reads from 0). Errors:
  // 1 no such asset, 2 access refused (logged "Error: <error>").
  void readFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                     HBRReadCallback callback) override;
  // The same range and errors, opened to be read a piece at a time.
  void openFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                     HBROpenCallback callback) override;
  // {"size", "fullPath", "name", "type", "lastModifiedDate"}; 6/1 for no such asset, status 6
  // with the library's description when access is refused.
  void getFileMetadataForURL(const HBRFilesystemURLPtr& url, HBRResultCallback callback) override;
  std::optional<plat::Dictionary> makeEntryForLocalURL(const HBRFilesystemURLPtr& url) override;
  plat::Dictionary makeEntryForPath(const std::string& fullPath, bool isDirectory) override;
  // Names no file on disk: the library URL's path (assets-library URLs) or the full path with its
  // query (hbrfile URLs), without a trailing "/".
  std::optional<std::string> filesystemPathForURL(const HBRFilesystemURLPtr& url) override;
};

}  // namespace harbor
