#include "HBRLocalFilesystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <exception>
#include <filesystem>
#include <limits>

#include "plat/foundation/FileFaults.h"
#include "plat/foundation/FileWrites.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSUUID.h"
#include "plat/mobilecoreservices/UTType.h"

namespace harbor {

namespace {

constexpr char kMobileBackupKey[] = "com.apple.MobileBackup";
// Seconds from 1970-01-01 to the platform's reference date 2001-01-01.
constexpr double kReferenceDateOffset = 978307200.0;
// Characters that may stand unescaped in the path of a URL.
constexpr char kPathAllowed[] = "/!$&'()*+,;=:@";

HBRPluginResultPtr ioError(HBRFileError code) { return fileErrorResult(HBRCommandStatus::IOException, code); }
HBRPluginResultPtr plainError(HBRFileError code) { return fileErrorResult(HBRCommandStatus::Error, code); }
HBRPluginResultPtr refused() { return ioError(ENCODING_ERR); }
HBRPluginResultPtr readOnlyRefusal() { return ioError(NO_MODIFICATION_ALLOWED_ERR); }

bool hasDotDotComponent(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    auto end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

// Longer than the system takes: a component past NAME_MAX bytes, or the whole past PATH_MAX.
bool exceedsNameLimits(std::string_view path) {
  if (path.size() >= PATH_MAX) return true;
  std::size_t start = 0;
  while (start <= path.size()) {
    auto end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end - start > NAME_MAX) return true;
    start = end + 1;
  }
  return false;
}

// Joins as path components: one "/" between them, none doubled or trailing; a leading "/" of
// the second does not make it absolute.
std::string joinComponents(std::string_view dir, std::string_view relative) {
  std::string joined(dir);
  joined += '/';
  joined += relative;
  std::string collapsed;
  for (char c : joined) {
    if (c == '/' && !collapsed.empty() && collapsed.back() == '/') continue;
    collapsed += c;
  }
  if (collapsed.size() > 1 && collapsed.back() == '/') collapsed.pop_back();
  return collapsed;
}

bool directoryHasEntries(plat::NSFileManager& fm, const std::string& path) {
  auto names = fm.contentsOfDirectoryAtPath(path);
  return names && !names->empty();
}

std::int32_t copyErrorCode(long platformError) {
  switch (platformError) {
    case plat::NSFileReadUnknownError:
    case 263:  // file too large
      return NOT_READABLE_ERR;
    case plat::NSFileWriteOutOfSpaceError:
      return QUOTA_EXCEEDED_ERR;
    case plat::NSFileWriteNoPermissionError:
      return NO_MODIFICATION_ALLOWED_ERR;
    default:
      return INVALID_MODIFICATION_ERR;
  }
}

// Opens a regular file without blocking on pipes or devices; -1 for anything else.
int openRegular(const std::string& path, int flags, mode_t mode = 0) {
  int fd = plat::fileio::open(path, flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  // Regular files never block; plain blocking I/O from here on.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// A range of an open local file. The descriptor keeps the file that was opened, also when its
// name is given to another file meanwhile.
class LocalFileReader : public HBRFileReader {
 public:
  LocalFileReader(int fd, std::uint64_t from, std::uint64_t length) : fd_(fd), from_(from), length_(length) {}
  ~LocalFileReader() override { ::close(fd_); }
  std::uint64_t length() const override { return length_; }
  long read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
    if (offset >= length_) return 0;
    auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, length_ - offset));
    ssize_t n;
    do {
      n = ::pread(fd_, buffer, count, static_cast<off_t>(from_ + offset));
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
  }

 private:
  int fd_;
  std::uint64_t from_;
  std::uint64_t length_;
};

// Answers a failed write: a full disk is QUOTA_EXCEEDED_ERR, anything else INVALID_MODIFICATION_ERR.
HBRPluginResultPtr writeFailure(const plat::NSError& error) {
  bool full = error.code == plat::NSFileWriteOutOfSpaceError;
  return fileErrorResult(HBRCommandStatus::Error, full ? QUOTA_EXCEEDED_ERR : INVALID_MODIFICATION_ERR);
}

}  // namespace

plat::NSFileManager& HBRLocalFilesystem::fileManager() { return plat::NSFileManager::defaultManager(); }

void HBRLocalFilesystem::initWithName(std::string name, std::string root) {
  setName(std::move(name));
  fsRoot_ = std::move(root);
}

// --- Names and paths ---

std::optional<std::string> HBRLocalFilesystem::getMimeTypeFromPath(const std::optional<std::string>& path) {
  if (!path) return std::nullopt;
  std::string extension = plat::pathExtension(*path);
  auto uti = plat::UTTypeCreatePreferredIdentifierForTag(plat::kUTTagClassFilenameExtension, extension);
  if (uti) {
    if (auto mime = plat::UTTypeCopyPreferredTagWithClass(*uti, plat::kUTTagClassMIMEType)) return mime;
    if (uti->find("m4a-audio") != std::string::npos) return std::string("audio/mp4");
  }
  if (extension.find("wav") != std::string::npos) return std::string("audio/wav");
  if (extension.find("css") != std::string::npos) return std::string("text/css");
  return std::nullopt;
}

std::string HBRLocalFilesystem::stripQueryParametersFromPath(std::string_view path) {
  return std::string(path.substr(0, path.find('?')));
}

std::string HBRLocalFilesystem::normalizePath(std::string_view path) {
  bool absolute = !path.empty() && path.front() == '/';
  if (absolute) path.remove_prefix(1);
  std::vector<std::string> kept;
  std::size_t start = 0;
  while (start <= path.size()) {
    auto end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string component(path.substr(start, end - start));
    if (component == "..") {
      if (!kept.empty()) kept.pop_back();
    } else {
      kept.push_back(std::move(component));
    }
    start = end + 1;
  }
  std::string result = absolute ? "/" : "";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) result += '/';
    result += kept[i];
  }
  return result;
}

bool HBRLocalFilesystem::valueForKeyIsNumber(const plat::Dictionary& dict, std::string_view key) {
  const plat::Value* value = dict.find(key);
  return value && value->isNumber();
}

bool HBRLocalFilesystem::canCopyMoveSrc(const std::string& src, const std::string& dest) {
  if (src.empty()) return true;
  if (dest == src) return false;
  // Inside exactly when the source is followed by a "/" ("/a/dir-backup" is a sibling of "/a/dir").
  std::string folder = src.back() == '/' ? src : src + "/";
  return dest.compare(0, folder.size(), folder) != 0;
}

std::string HBRLocalFilesystem::joinedLocalPath(const std::string& fullPath) const {
  std::string path = fsRoot_ + stripQueryParametersFromPath(fullPath);
  if (path.size() >= 2 && path.back() == '/') path.pop_back();
  return path;
}

bool HBRLocalFilesystem::isConfined(const std::string& localPath) const {
  if (localPath.find('\0') != std::string::npos || hasDotDotComponent(localPath)) return false;
  // A name or path longer than the file system takes names nothing that can exist, and could
  // not be told from an escape once links are to be resolved: refused like any unusable name.
  if (exceedsNameLimits(localPath)) return false;
  std::error_code ec;
  auto root = std::filesystem::weakly_canonical(fsRoot_, ec);
  if (ec) return false;
  auto resolved = plat::fileWriteLocation(localPath);
  if (!resolved) return false;
  return plat::pathIsInsideFolder(*resolved, root.string());
}

bool HBRLocalFilesystem::isRoot(const std::string& localPath) const {
  std::error_code ec;
  auto root = std::filesystem::weakly_canonical(fsRoot_, ec);
  if (ec) return false;
  auto resolved = std::filesystem::weakly_canonical(localPath, ec);
  return !ec && plat::stringByStandardizingPath(resolved.string()) == plat::stringByStandardizingPath(root.string());
}

std::optional<std::string> HBRLocalFilesystem::filesystemPathForFullPath(
    const std::optional<std::string>& fullPath) const {
  if (!fullPath) return std::nullopt;
  std::string path = joinedLocalPath(*fullPath);
  if (!isConfined(path)) return std::nullopt;
  return path;
}

std::optional<std::string> HBRLocalFilesystem::filesystemPathForURL(const HBRFilesystemURLPtr& url) {
  if (!url) return std::nullopt;
  return filesystemPathForFullPath(url->fullPath());
}

std::optional<std::string> HBRLocalFilesystem::fullPathForFileSystemPath(const std::string& path) const {
  if (path.compare(0, fsRoot_.size(), fsRoot_) != 0) return std::nullopt;
  std::string rest = path.substr(fsRoot_.size());
  if (rest.empty() || rest.front() == '/') return rest;
  // A root written with a trailing "/" (the whole disk's "/") leaves the rest without its
  // leading "/"; any other root followed by more name ("/a/rootx" under "/a/root") is outside.
  if (!fsRoot_.empty() && fsRoot_.back() == '/') return "/" + rest;
  return std::nullopt;
}

HBRFilesystemURLPtr HBRLocalFilesystem::URLforFullPath(const std::optional<std::string>& fullPath) const {
  if (!fullPath) return nullptr;
  std::string escaped = plat::percentEscape(*fullPath, kPathAllowed);
  std::string text = std::string(kHBRFileScheme) + "://localhost/" + name();
  if (fullPath->empty() || fullPath->front() != '/') text += '/';
  text += escaped;
  return HBRFilesystemURL::fileSystemURLWithString(text);
}

HBRFilesystemURLPtr HBRLocalFilesystem::URLforFilesystemPath(const std::string& path) {
  auto fullPath = fullPathForFileSystemPath(path);
  if (!fullPath) return nullptr;
  return URLforFullPath(fullPath);
}

// --- Entries ---

plat::Dictionary HBRLocalFilesystem::makeEntryForPath(const std::string& fullPath, bool isDirectory) {
  std::string entryPath = fullPath;
  if (isDirectory && (entryPath.empty() || entryPath.back() != '/')) entryPath += '/';
  std::string nativeURL = transformedURLText(plat::NSURL::fileURLWithPath(joinedLocalPath(fullPath)));
  return plat::Dictionary{
      {"isFile", !isDirectory},
      {"isDirectory", isDirectory},
      {"fullPath", entryPath},
      // The root's full path is empty in a URL; its entry is "/" by name too, however reached.
      {"name", fullPath.empty() ? std::string("/") : plat::lastPathComponent(stripQueryParametersFromPath(fullPath))},
      {"filesystemName", name()},
      {"nativeURL", nativeURL},
  };
}

std::optional<plat::Dictionary> HBRLocalFilesystem::makeEntryForLocalURL(const HBRFilesystemURLPtr& url) {
  auto path = filesystemPathForURL(url);
  bool isDirectory = false;
  if (!path || !fileManager().fileExistsAtPath(*path, &isDirectory)) return std::nullopt;
  return makeEntryForPath(*url->fullPath(), isDirectory);
}

HBRPluginResultPtr HBRLocalFilesystem::entryForLocalURI(const HBRFilesystemURLPtr& url) {
  if (!filesystemPathForURL(url)) return refused();
  if (auto entry = makeEntryForLocalURL(url)) {
    return HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(*entry));
  }
  return ioError(NOT_FOUND_ERR);
}

HBRPluginResultPtr HBRLocalFilesystem::getFileForURL(const HBRFilesystemURLPtr& url,
                                                      const std::optional<std::string>& requestedPath,
                                                      const plat::Dictionary& options) {
  auto flag = [&](std::string_view key) { return valueForKeyIsNumber(options, key) && options.get(key).asBool(); };
  bool create = flag("create");
  bool exclusive = flag("exclusive");
  bool getDir = flag("getDir");

  if (!requestedPath || requestedPath->find(':') != std::string::npos) return ioError(ENCODING_ERR);
  if (!url || !url->fullPath()) return refused();

  std::string combined = normalizePath(joinComponents(*url->fullPath(), *requestedPath));
  auto target = URLforFullPath(combined);
  auto path = filesystemPathForURL(target);
  if (!path) return refused();

  auto& fm = fileManager();
  bool isDirectory = false;
  bool exists = fm.fileExistsAtPath(*path, &isDirectory);

  if (!create && exists && isDirectory != getDir) return ioError(TYPE_MISMATCH_ERR);
  if (!create && !exists) return ioError(NOT_FOUND_ERR);
  if (create && exclusive && exists) return ioError(PATH_EXISTS_ERR);
  if (create && !exists) {
    if (readOnly_) return readOnlyRefusal();
    plat::NSError error;
    if (getDir) {
      if (!fm.createDirectoryAtPath(*path, false, &error)) {
        plat::NSLog("error creating directory: " + error.description());
        return ioError(ABORT_ERR);
      }
    } else {
      // Exclusive creation: a file that appeared since the test above is left alone. The umask
      // decides its permissions, as for every file a page makes (newFileMode).
      int fd = plat::fileio::open(*path, O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
      if (fd < 0) return ioError(ABORT_ERR);
      ::close(fd);
    }
  }
  return HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK,
                                                               makeEntryForPath(*target->fullPath(), getDir));
}

HBRPluginResultPtr HBRLocalFilesystem::getParentForURL(const HBRFilesystemURLPtr& url) {
  if (!url || !url->fullPath()) return refused();
  HBRFilesystemURLPtr parent = url;
  std::string fullPath = stripQueryParametersFromPath(*url->fullPath());
  if (!fullPath.empty()) parent = URLforFullPath(plat::stringByDeletingLastPathComponent(fullPath));
  auto path = filesystemPathForURL(parent);
  if (!path) return refused();
  bool isDirectory = false;
  if (!fileManager().fileExistsAtPath(*path, &isDirectory)) return ioError(NOT_FOUND_ERR);
  return HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK,
                                                               makeEntryForPath(*parent->fullPath(), isDirectory));
}

HBRPluginResultPtr HBRLocalFilesystem::setMetadataForURL(const HBRFilesystemURLPtr& url,
                                                          const plat::Dictionary& metadata) {
  auto path = filesystemPathForURL(url);
  if (!path) return refused();
  if (readOnly_) return readOnlyRefusal();
  if (!valueForKeyIsNumber(metadata, kMobileBackupKey)) {
    return HBRPluginResult::resultWithStatus(HBRCommandStatus::Error);
  }
  auto fileURL = plat::NSURL::fileURLWithPath(*path);
  bool excluded = metadata.get(kMobileBackupKey).asBool();
  if (fileURL && fileURL->setResourceValue(plat::Value(excluded), plat::NSURLIsExcludedFromBackupKey)) {
    return HBRPluginResult::resultWithStatus(HBRCommandStatus::OK);
  }
  return HBRPluginResult::resultWithStatus(HBRCommandStatus::Error);
}

// --- Removal ---

HBRPluginResultPtr HBRLocalFilesystem::doRemove(const std::string& path) {
  try {
    plat::NSError error;
    if (fileManager().removeItemAtPath(path, &error)) {
      return HBRPluginResult::resultWithStatus(HBRCommandStatus::OK);
    }
    plat::NSLog("error removing filesystem entry at " + path + ": " + error.description());
    if (error.code == plat::NSFileNoSuchFileError) return ioError(NOT_FOUND_ERR);
    if (error.code == plat::NSFileWriteNoPermissionError) return ioError(NO_MODIFICATION_ALLOWED_ERR);
    return ioError(ABORT_ERR);
  } catch (const std::exception&) {
    return plainError(SYNTAX_ERR);
  }
}

HBRPluginResultPtr HBRLocalFilesystem::removeFileAtURL(const HBRFilesystemURLPtr& url) {
  auto path = filesystemPathForURL(url);
  if (!path) return refused();
  if (readOnly_) return readOnlyRefusal();
  if (isRoot(*path)) return ioError(NO_MODIFICATION_ALLOWED_ERR);
  bool isDirectory = false;
  if (!fileManager().fileExistsAtPath(*path, &isDirectory)) return ioError(NOT_FOUND_ERR);
  if (isDirectory && directoryHasEntries(fileManager(), *path)) return ioError(INVALID_MODIFICATION_ERR);
  return doRemove(*path);
}

HBRPluginResultPtr HBRLocalFilesystem::recursiveRemoveFileAtURL(const HBRFilesystemURLPtr& url) {
  auto path = filesystemPathForURL(url);
  if (!path) return refused();
  if (readOnly_) return readOnlyRefusal();
  // However the URL spells it ("/.", say), the root itself is never emptied.
  if (isRoot(*path)) return ioError(NO_MODIFICATION_ALLOWED_ERR);
  return doRemove(*path);
}

// --- Reading and writing ---

HBRPluginResultPtr HBRLocalFilesystem::readEntriesAtURL(const HBRFilesystemURLPtr& url) {
  auto path = filesystemPathForURL(url);
  if (!path) return refused();
  auto& fm = fileManager();
  auto names = fm.contentsOfDirectoryAtPath(*path);
  if (!names) return ioError(NOT_FOUND_ERR);
  plat::Array entries;
  for (const auto& child : *names) {
    std::string childPath = plat::stringByAppendingPathComponent(*path, child);
    auto childFullPath = fullPathForFileSystemPath(childPath);
    if (!childFullPath) continue;
    bool isDirectory = false;
    fm.fileExistsAtPath(childPath, &isDirectory);
    entries.emplace_back(makeEntryForPath(*childFullPath, isDirectory));
  }
  return HBRPluginResult::resultWithStatusMessageAsArray(HBRCommandStatus::OK, std::move(entries));
}

void HBRLocalFilesystem::readFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                                       HBRReadCallback callback) {
  readThroughReader(*this, url, start, end, std::move(callback));
}

void HBRLocalFilesystem::openFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                                       HBROpenCallback callback) {
  auto path = filesystemPathForURL(url);
  std::string mimeType = getMimeTypeFromPath(path).value_or("*/*");
  if (!path) return callback(nullptr, mimeType, ENCODING_ERR);
  // Only regular files: a directory has no bytes, and a pipe or a device could block forever.
  int fd = openRegular(*path, O_RDONLY);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) != 0) ::close(std::exchange(fd, -1));
  if (fd < 0) return callback(nullptr, mimeType, NOT_FOUND_ERR);
  // The range is the file's length now, cut to what was asked: only what the file holds is
  // ever read, however large an end the page names.
  auto from = static_cast<std::uint64_t>(std::max<std::int64_t>(start, 0));
  auto size = static_cast<std::uint64_t>(st.st_size);
  std::uint64_t length = size > from ? size - from : 0;
  if (end >= 0) length = std::min<std::uint64_t>(length, static_cast<std::uint64_t>(end) > from ? end - from : 0);
  callback(std::make_shared<LocalFileReader>(fd, from, length), mimeType, 0);
}

std::optional<std::uint64_t> HBRLocalFilesystem::truncateFile(const std::string& path, std::uint64_t position) {
  int fd = openRegular(path, O_WRONLY);
  if (fd < 0) return std::nullopt;
  std::optional<std::uint64_t> length;
  struct stat st {};
  bool cut = position <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) &&
             plat::fileio::ftruncate(fd, static_cast<off_t>(position)) == 0;
  if (cut && ::fsync(fd) == 0 && ::fstat(fd, &st) == 0) length = static_cast<std::uint64_t>(st.st_size);
  ::close(fd);
  return length;
}

HBRPluginResultPtr HBRLocalFilesystem::truncateFileAtURL(const HBRFilesystemURLPtr& url, std::uint64_t position) {
  auto path = filesystemPathForURL(url);
  if (!path) return refused();
  if (readOnly_) return readOnlyRefusal();
  if (!fileManager().fileExistsAtPath(*path)) return ioError(NOT_FOUND_ERR);
  auto length = truncateFile(*path, position);
  if (!length) return ioError(INVALID_MODIFICATION_ERR);
  return HBRPluginResult::resultWithStatusMessageAsNSUInteger(HBRCommandStatus::OK, *length);
}

HBRPluginResultPtr HBRLocalFilesystem::writeToFileAtURL(const HBRFilesystemURLPtr& url, const plat::Data& data,
                                                         bool append) {
  if (data.empty() && url && url->fullPath()) {
    // Nothing to write: nothing is opened, made or cut, as a stream of no bytes leaves a file.
    if (!filesystemPathForURL(url)) return refused();
    if (readOnly_) return readOnlyRefusal();
    return HBRPluginResult::resultWithStatusMessageAsInt(HBRCommandStatus::OK, 0);
  }
  return writeToFileAtURLAtPosition(url, data, append ? plat::kFileWriteAtEnd : 0);
}

HBRPluginResultPtr HBRLocalFilesystem::writeToFileAtURLAtPosition(const HBRFilesystemURLPtr& url,
                                                                  const plat::Data& data, std::uint64_t position) {
  if (!url || !url->fullPath()) return plainError(NOT_FOUND_ERR);
  auto path = filesystemPathForURL(url);
  if (!path) return refused();
  if (readOnly_) return readOnlyRefusal();
  // Through a link, to the file it names (inside the root, as the mapping checked).
  auto location = plat::fileWriteLocation(*path);
  if (!location) return refused();
  std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  plat::NSError error;
  bool written = plat::writeFileContentsAtPosition(*location, position, bytes, &error);
  // No bytes answer 0 whatever the cut did: the cut is the write action's first step, whose
  // answer the page never hears.
  if (data.empty()) return HBRPluginResult::resultWithStatusMessageAsInt(HBRCommandStatus::OK, 0);
  if (!written) {
    plat::NSLog("File: " + plat::logEscaped(*url->fullPath()) +
                " was not written: " + plat::logEscaped(error.localizedDescription));
    return writeFailure(error);
  }
  return HBRPluginResult::resultWithStatusMessageAsNSUInteger(HBRCommandStatus::OK, data.size());
}

// --- Copy and move ---

void HBRLocalFilesystem::copyFileToURL(const HBRFilesystemURLPtr& destURL, const std::optional<std::string>& newName,
                                       const HBRFileSystemPtr& srcFs, const HBRFilesystemURLPtr& srcURL, bool copy,
                                       HBRResultCallback callback) {
  auto& fm = fileManager();
  auto destPath = filesystemPathForURL(destURL);
  if (!destPath) return callback(refused());
  if (readOnly_) return callback(readOnlyRefusal());
  if (!fm.fileExistsAtPath(*destPath)) return callback(ioError(NOT_FOUND_ERR));
  if (!newName || newName->empty()) return callback(ioError(ENCODING_ERR));
  std::string newPath = plat::stringByAppendingPathComponent(*destPath, *newName);
  auto newFullPath = fullPathForFileSystemPath(newPath);
  if (!newFullPath || !isConfined(newPath) || isRoot(newPath)) return callback(refused());

  bool newIsDir = false;
  bool newExists = fm.fileExistsAtPath(newPath, &newIsDir);

  auto local = std::dynamic_pointer_cast<HBRLocalFilesystem>(srcFs);
  if (!local) {
    if (!srcFs) return callback(ioError(NOT_FOUND_ERR));
    auto self = this->self<HBRLocalFilesystem>();
    std::string fullPath = *newFullPath;
    srcFs->readFileAtURL(srcURL, 0, -1,
                         [self, newPath, fullPath, callback](std::optional<plat::Data> data,
                                                              std::optional<std::string>, std::int32_t error) {
                           if (!data) return callback(fileErrorResult(HBRCommandStatus::IOException,
                                                                      static_cast<HBRFileError>(error)));
                           std::string_view bytes(reinterpret_cast<const char*>(data->data()), data->size());
                           if (!plat::writeFileContentsAtomically(newPath, bytes)) {
                             return callback(fileErrorResult(HBRCommandStatus::IOException, ABORT_ERR));
                           }
                           callback(HBRPluginResult::resultWithStatusMessageAsDictionary(
                               HBRCommandStatus::OK, self->makeEntryForPath(fullPath, false)));
                         });
    return;
  }

  auto srcPath = local->filesystemPathForURL(srcURL);
  if (!srcPath) return callback(refused());
  if (!copy && local->isReadOnly()) return callback(readOnlyRefusal());
  bool srcIsDir = false;
  if (!fm.fileExistsAtPath(*srcPath, &srcIsDir)) return callback(ioError(NOT_FOUND_ERR));
  if (*srcPath == newPath) return callback(ioError(INVALID_MODIFICATION_ERR));
  if (local->isRoot(*srcPath)) return callback(ioError(INVALID_MODIFICATION_ERR));
  if (srcIsDir && newExists && !newIsDir) return callback(ioError(INVALID_MODIFICATION_ERR));

  if (copy) {
    if (srcIsDir && !canCopyMoveSrc(*srcPath, newPath)) return callback(ioError(INVALID_MODIFICATION_ERR));
    if (newExists) return callback(ioError(PATH_EXISTS_ERR));
    plat::NSError error;
    if (!fm.copyItemAtPath(*srcPath, newPath, &error)) {
      return callback(fileErrorResult(HBRCommandStatus::IOException, static_cast<HBRFileError>(copyErrorCode(error.code))));
    }
    return callback(HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK,
                                                                         makeEntryForPath(*newFullPath, srcIsDir)));
  }

  if (!srcIsDir && newExists && newIsDir) return callback(ioError(INVALID_MODIFICATION_ERR));
  if (srcIsDir && !canCopyMoveSrc(*srcPath, newPath)) return callback(ioError(INVALID_MODIFICATION_ERR));
  if (newExists && newIsDir && directoryHasEntries(fm, newPath)) return callback(ioError(INVALID_MODIFICATION_ERR));
  moveReplacing(*srcPath, newPath, newExists, callback, *newFullPath, srcIsDir);
}

// The entry being replaced is set aside first and only removed once the move has succeeded,
// so a failed move loses neither the source nor what stood at the destination. It is set aside
// under the platform's hidden sibling name, so that after a stop between the two renames the
// next start's sweep puts it back in its place (the source has not moved yet).
void HBRLocalFilesystem::moveReplacing(const std::string& src, const std::string& dest, bool destExists,
                                       const HBRResultCallback& callback, const std::string& newFullPath,
                                       bool srcIsDir) {
  auto& fm = fileManager();
  std::string aside;
  if (destExists) {
    aside = plat::setAsidePathFor(dest);
    // A name too long to carry in the sibling's: a name of its own, which the sweep removes.
    if (aside.empty()) aside = plat::stringByDeletingLastPathComponent(dest) + "/.hbr-replaced-" + plat::NSUUIDString();
    if (!fm.moveItemAtPath(dest, aside)) return callback(ioError(INVALID_MODIFICATION_ERR));
  }
  plat::NSError error;
  if (!fm.moveItemAtPath(src, dest, &error)) {
    if (!aside.empty() && !fm.moveItemAtPath(aside, dest)) plat::NSLog("error restoring " + dest + " from " + aside);
    return callback(fileErrorResult(HBRCommandStatus::IOException, static_cast<HBRFileError>(copyErrorCode(error.code))));
  }
  if (!aside.empty() && !fm.removeItemAtPath(aside)) plat::NSLog("error removing replaced entry " + aside);
  callback(HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK,
                                                               makeEntryForPath(newFullPath, srcIsDir)));
}

// --- Metadata ---

void HBRLocalFilesystem::getFileMetadataForURL(const HBRFilesystemURLPtr& url, HBRResultCallback callback) {
  auto path = filesystemPathForURL(url);
  if (!path) return callback(refused());
  plat::NSError error;
  auto attributes = fileManager().attributesOfItemAtPath(*path, &error);
  if (!attributes) {
    plat::NSLog("error getting metadata: " + error.description());
    bool missing = error.code == plat::NSFileNoSuchFileError || error.code == plat::NSFileReadNoSuchFileError;
    return callback(plainError(missing ? NOT_FOUND_ERR : ABORT_ERR));
  }
  plat::Dictionary metadata{
      {"fullPath", url->fullPath().value_or("")},
      {"type", ""},
      {"name", plat::lastPathComponent(*path)},
      {"size", attributes->type == plat::NSFileType::Regular ? attributes->size : std::uint64_t{0}},
      {"lastModifiedDate", (attributes->modificationDate + kReferenceDateOffset) * 1000.0},
  };
  callback(HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(metadata)));
}

}  // namespace harbor
