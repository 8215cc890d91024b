#pragma once
// The File plugin (service "File"): the registry of file systems, the shared file service that
// other plugins call, and the page's file actions.
//
// ---- Registry ----
// Built once by pluginInitialize, in this order (each position is the "type" a page asks
// requestFileSystem for):
//   0 "temporary"       the platform's temporary folder (created; left out, with the log line
//                       "Unable to create temporary directory: <error>", when it cannot be)
//   1 "persistent"      by the preference "iospersistentfilelocation" (letter case ignored):
//                       "compatibility" (also when absent, or when the view controller is not a
//                       HBRViewController) is Documents itself; "library" is Library/files,
//                       created ("Unable to create library directory: <error>" and left out
//                       when it cannot be); anything else stops the application with the
//                       assertion failure kHBRFileConfigurationError
//   2 "assets-library"  the photo library, read-only (HBRAssetLibraryFilesystem)
//   3... the extra file systems the preference "iosextrafilesystems" names, comma-separated
//       and lower-cased, blanks not trimmed (default kHBRDefaultExtraFileSystems), each once:
//       "library", "library-nosync" (Library/NoCloud), "documents", "documents-nosync"
//       (Documents/NoCloud), "cache", "bundle" (the application bundle, read-only: every
//       change answers 6/NO_MODIFICATION_ALLOWED_ERR) and "root" (the
//       sandbox home: nothing a page names reaches past it). The two "-nosync" folders are
//       created and excluded from backup. Other names are logged as
//       "Unrecognized extra filesystem identifier: <name>" and skipped.
// Every root is taken with its symbolic links resolved, so plain prefix tests against resolved
// paths hold. The registry only grows; reads and registrations may come from any thread.
//
// ---- Shared file service ----
// Other plugins (transfer, media, capture) reach the one File plugin through their command
// delegate: std::dynamic_pointer_cast<HBRFile>(commandDelegate()->getCommandInstance("File")).
// Then, from any thread:
//   fileSystemURLWithString (HBRFilesystemURL) / fileSystemURLforArg   text -> parsed URL
//   filesystemForURL             parsed URL -> its file system, or null
//   fileSystemURLforLocalPath    local path -> URL under the file system whose full path for
//                                it is shortest (ties: the earlier registered), or null
//   filesystemPathForURL         parsed URL -> local path, or nothing
//   isWritableLocalPath          local path -> whether a page may change it (in some file
//                                system, in no read-only one)
//   makeEntryForURL / makeEntryForLocalURL / makeEntryForPath / getDirectoryEntry -> entry
//                                dictionaries (see HBRFileSystem.h), or nothing
//   getMimeTypeFromPath          path -> MIME type by extension, or nothing
//   checkFreeDiskSpace           path -> free bytes of its volume, or nothing
// and the file system's own operations (HBRFileSystem.h): a transfer reads an upload with
// readFileAtURL(url, 0, -1, ...), maps a download target with filesystemPathForURL and answers
// it with makeEntryForURL; media turns an hbrfile source into a path with filesystemPathForURL;
// capture reports a file's "localURL" as fileSystemURLforLocalPath(path)->absoluteURL() and its
// "type" with getMimeTypeFromPath. Nothing a URL names resolves outside its file system's root.
//
// ---- Page actions ----
// Arguments by position; URL arguments are "hbrfile://localhost/<fs><path>", "assets-library:"
// or "file://" URLs. Failures are status 6 (IO error) or 9 (Error) with a bare FileError code
// (HBRFileError.h), written n/c below. Main thread; the reads and write do their file work on
// the global queue and answer from there. No callback is kept.
//   requestFileSystem [type, size]   {"name", "root"}; 9/1 for no such type (logged "No
//                                    filesystem of type requested"); 6/10 when the Documents
//                                    volume has less free space than size
//   requestAllFileSystems []         [root entries] in registry order
//   requestAllPaths []               {"applicationDirectory", "applicationStorageDirectory",
//                                    "dataDirectory", "syncedDataDirectory",
//                                    "documentsDirectory", "cacheDirectory", "tempDirectory"}
//                                    as file: URLs (creates Library/Cloud and Library/NoCloud)
//   resolveLocalFileSystemURI [url]  the entry; 9/5 when the URL is unusable or names no
//                                    registered file system
//   getFile [dirURL, path, options]  options {"create", "exclusive"} (numbers); the entry
//   getDirectory [dirURL, path, options]  the same for a directory
//   getParent [url]                  the parent's entry
//   setMetadata [url, {"com.apple.MobileBackup": n}]   status 1, or 9 without message
//   remove [url] / removeRecursively [url]   status 1; 6/6 for a file system's root
//   copyTo / moveTo [srcURL, destDirURL, newName]   the new entry; 6/1 without source or
//                                    destination, 6/5 for a name with ":"
//   getFileMetadata [url]            {"size", "name", "fullPath", "type", "lastModifiedDate"}
//   readEntries [dirURL]             [entries], hidden ones included
//   readAsText [url, encoding, start, end]   the text; 6/5 for an encoding other than UTF-8
//                                    (logged "Only UTF-8 encodings are currently supported by
//                                    readAsText") or bytes that are no UTF-8
//   readAsDataURL [url, start, end]  "data:<mime>;base64,<bytes>"
//   readAsArrayBuffer [url, start, end]  the bytes as binary
//   readAsBinaryString [url, start, end]  each byte as the character U+0000-U+00FF
//   truncate [url, size]             the new length
//   write [url, data, position]      puts the text (as UTF-8) or bytes at position and drops
//                                    what followed: the count written; 9 "Invalid parameter
//                                    type" for other data (the file cut at position); 9/10 on
//                                    a full disk, 9/9 for anything but a regular file. Whole or
//                                    not at all at every position, through links, keeping the
//                                    file's permissions, attributes and hard links
//                                    (HBRLocalFilesystem.h)
//   testFileExists [path] / testDirectoryExists [path]   1 or 0 (0 outside the sandbox home
//                                    and the application bundle)
//   getFreeDiskSpace []              the Documents volume's free bytes as decimal text
//   _getLocalFilesystemPath [url]    the local path; 9 "Cannot resolve URL to a file"
// Reads take the range [start, end), an end below 0 meaning the end of the file; a failed read
// answers 6 with the read's code. A read whose answer would be more JSON text than the bridge
// carries (HBRPluginResult::kMaxMessageJSONBytes, 256 MiB) answers 6/4 (NOT_READABLE_ERR, the
// code for a file too large to read), logged, before its bytes are held. When a URL names no
// registered file system, every action answers 6/1 (NOT_FOUND_ERR, as hbrfile loading answers
// 404), except resolveLocalFileSystemURI (9/5) and _getLocalFilesystemPath (its text). An action
// whose first argument is missing answers 6/1 (resolveLocalFileSystemURI 9/5).
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "HBRFileSystem.h"
#include "HBRFilesystemURL.h"
#include "HBRPlugin.h"
#include "plat/foundation/NSURL.h"

namespace harbor {

inline constexpr char kHBRFileConfigurationError[] =
    "File plugin configuration error: Please set iosPersistentFileLocation in config.xml to one of \"library\" "
    "(for new applications) or \"compatibility\" (for compatibility with previous versions)";
inline constexpr char kHBRDefaultExtraFileSystems[] =
    "library,library-nosync,documents,documents-nosync,cache,bundle,root";

class HBRFile;
using HBRFilePtr = std::shared_ptr<HBRFile>;

class HBRFile : public HBRPlugin {
 public:
  HBRFile();

  // Builds the registry (above) and installs the "hbrfile" URL protocol. Main thread.
  void pluginInitialize() override;

  // The File plugin most recently initialised in this process (kept alive by this reference),
  // or null before any; the "hbrfile" protocol reaches the registry through it.
  static HBRFilePtr filePlugin();

  // ---- Registry ----

  // Appends the file system, after giving it a URL transformer that forwards to the command
  // delegate's current one (asked afresh on each call; the URL unchanged when there is none).
  void registerFilesystem(const HBRFileSystemPtr& fileSystem);
  // A snapshot of the registry, in order.
  std::vector<HBRFileSystemPtr> fileSystems() const;
  // The names of "iosextrafilesystems" (or the default list), split at every ",".
  std::vector<std::string> getExtraFileSystemsPreference() const;
  // The extra file systems that can be installed: name and root, in the order listed above.
  static std::vector<std::pair<std::string, std::string>> getAvailableFileSystems();
  // Installs the named ones among those available (see above).
  void registerExtraFileSystems(const std::vector<std::string>& names,
                                const std::vector<std::pair<std::string, std::string>>& available);
  // Creates the folder (with missing parents) and excludes it from backup; failures ignored.
  static void makeNonSyncable(const std::string& path);

  const std::string& rootDocsPath() const { return rootDocsPath_; }
  const std::string& appLibraryPath() const { return appLibraryPath_; }
  const std::string& appTempPath() const { return appTempPath_; }
  const std::string& appDocsPath() const { return appDocsPath_; }

  // ---- Shared file service (any thread) ----

  // The first registered file system of that name, or null.
  HBRFileSystemPtr fileSystemByName(const std::string& name) const;
  // The file system a URL names, or null (no name, or none registered under it).
  HBRFileSystemPtr filesystemForURL(const HBRFilesystemURLPtr& url) const;
  // A "file://" URL (links resolved) through fileSystemURLforLocalPath; anything else parsed
  // as it is. Never null: a text that names nothing gives a URL without file system.
  HBRFilesystemURLPtr fileSystemURLforArg(const std::string& arg) const;
  // The URL with the shortest full path over every file system that has local paths; null
  // when the path lies in none of them.
  HBRFilesystemURLPtr fileSystemURLforLocalPath(const std::string& localPath) const;
  // Whether a page may change what stands at a local path (made of real folders, links
  // resolved): some file system holds it and no read-only one (the bundle) does.
  bool isWritableLocalPath(const std::string& localPath) const;
  // The local path of the entry, from the first file system of the URL's name that has local
  // paths; nothing when none does or the path leaves its root.
  std::optional<std::string> filesystemPathForURL(const HBRFilesystemURLPtr& url) const;
  // The entry the named file system makes for the full path, without looking at the disk.
  std::optional<plat::Dictionary> makeEntryForPath(const std::string& fullPath, const std::string& fileSystemName,
                                                   bool isDirectory) const;
  // The entry of an existing item, or nothing.
  std::optional<plat::Dictionary> makeEntryForLocalURL(const HBRFilesystemURLPtr& url) const;
  // The same for a platform URL (its text parsed with fileSystemURLforArg).
  std::optional<plat::Dictionary> makeEntryForURL(const plat::NSURLPtr& url) const;
  // The entry of a local path, under the file system fileSystemURLforLocalPath finds.
  std::optional<plat::Dictionary> getDirectoryEntry(const std::string& localPath, bool isDirectory) const;
  static std::optional<std::string> getMimeTypeFromPath(const std::optional<std::string>& path);
  // Free bytes of the volume that holds the path; nothing when it cannot be read.
  static std::optional<std::uint64_t> checkFreeDiskSpace(const std::string& path);
  // The text with its percent escapes undone and done again, both as UTF-8 (a "#" of a name
  // stays escaped, so it cannot turn into a fragment); nothing when the escapes are no UTF-8.
  static std::optional<std::string> encodePath(const std::string& text);

  // ---- Page actions (see above) ----

  void requestFileSystem(const HBRInvokedUrlCommandPtr& command);
  void requestAllFileSystems(const HBRInvokedUrlCommandPtr& command);
  void requestAllPaths(const HBRInvokedUrlCommandPtr& command);
  void resolveLocalFileSystemURI(const HBRInvokedUrlCommandPtr& command);
  void getDirectory(const HBRInvokedUrlCommandPtr& command);
  void getFile(const HBRInvokedUrlCommandPtr& command);
  void getParent(const HBRInvokedUrlCommandPtr& command);
  void setMetadata(const HBRInvokedUrlCommandPtr& command);
  void remove(const HBRInvokedUrlCommandPtr& command);
  void removeRecursively(const HBRInvokedUrlCommandPtr& command);
  void copyTo(const HBRInvokedUrlCommandPtr& command);
  void moveTo(const HBRInvokedUrlCommandPtr& command);
  void getFileMetadata(const HBRInvokedUrlCommandPtr& command);
  void readEntries(const HBRInvokedUrlCommandPtr& command);
  void readAsText(const HBRInvokedUrlCommandPtr& command);
  void readAsDataURL(const HBRInvokedUrlCommandPtr& command);
  void readAsArrayBuffer(const HBRInvokedUrlCommandPtr& command);
  void readAsBinaryString(const HBRInvokedUrlCommandPtr& command);
  void truncate(const HBRInvokedUrlCommandPtr& command);
  void write(const HBRInvokedUrlCommandPtr& command);
  void testFileExists(const HBRInvokedUrlCommandPtr& command);
  void testDirectoryExists(const HBRInvokedUrlCommandPtr& command);
  void getFreeDiskSpace(const HBRInvokedUrlCommandPtr& command);
  void getLocalFilesystemPath(const HBRInvokedUrlCommandPtr& command);

  // copyTo and moveTo.
  void doCopyMove(const HBRInvokedUrlCommandPtr& command, bool isCopy);

 private:
  // How a read's bytes become the answer.
  enum class ReadKind { Text, DataURL, ArrayBuffer, BinaryString };
  void readAs(const HBRInvokedUrlCommandPtr& command, ReadKind kind);
  // The answer to a read of the reader's range. One whose JSON text would pass the bridge's
  // bound (HBRPluginResult::kMaxMessageJSONBytes) is refused with 6/NOT_READABLE_ERR and the
  // log line "File: <what> refused: its answer would pass the bridge's bound of ... bytes":
  // before reading when its length alone tells, else as soon as the bytes in tell.
  static HBRPluginResultPtr readWithinBound(ReadKind kind, HBRFileReader& reader,
                                            const std::optional<std::string>& mimeType,
                                            const std::function<std::string()>& what);
  // The answer to a read as a data URL or an ArrayBuffer.
  static HBRPluginResultPtr base64Result(ReadKind kind, const plat::Data& bytes,
                                         const std::optional<std::string>& mimeType);
  void send(const HBRInvokedUrlCommandPtr& command, const HBRPluginResultPtr& result) const;
  // Sends what work answers for the first argument's URL and its file system; 6/1 without the
  // argument or when it names no registered file system.
  using FileSystemWork = std::function<HBRPluginResultPtr(const HBRFilesystemURLPtr&, const HBRFileSystemPtr&)>;
  void answerFromFileSystem(const HBRInvokedUrlCommandPtr& command, const FileSystemWork& work);
  // The URL argument at index, or null when it is missing or not text.
  HBRFilesystemURLPtr urlArgument(const HBRInvokedUrlCommandPtr& command, std::size_t index) const;
  // Whether a plain path lies inside the sandbox home or the application bundle.
  static bool isInsideSandbox(const std::string& path);

  mutable std::mutex mutex_;  // guards fileSystems_
  std::vector<HBRFileSystemPtr> fileSystems_;
  std::string rootDocsPath_;
  std::string appLibraryPath_;
  std::string appTempPath_;
  std::string appDocsPath_;
};

}  // namespace harbor
