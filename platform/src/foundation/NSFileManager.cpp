#include "plat/foundation/NSFileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "FileErrors.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/FileFaults.h"
#include "plat/foundation/FileWrites.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSUUID.h"
#include "plat/foundation/Strings.h"

namespace plat {
namespace {

enum class Op { Read, Write, Remove, Copy, Move, Create };

constexpr std::string_view kPartialMarker = ".harbor-partial-";
constexpr std::string_view kAsideMarker = ".harbor-aside-";
// Leaves room in a file name for "." + marker + random part.
constexpr std::size_t kMaxNameInSibling = NAME_MAX - 32;

std::string quoted(std::string_view path) { return "\xE2\x80\x9C" + lastPathComponent(path) + "\xE2\x80\x9D"; }

void fail(NSError* error, long code, std::string description, const std::string& path, int err = 0) {
  if (!error) return;
  error->domain = NSCocoaErrorDomain;
  error->code = code;
  error->localizedDescription = std::move(description);
  Dictionary info{{NSFilePathErrorKey, path}};
  if (err) info.set(NSPOSIXErrorCodeKey, err);
  error->userInfo = std::move(info);
}

// Maps a system error to the platform's code and wording for the operation that met it; a
// reason given replaces the wording of the error.
void failWithErrno(NSError* error, Op op, const std::string& path, int err, const std::string& givenReason = {}) {
  if (!error) return;
  long code;
  std::string name = quoted(path);
  std::string reason;
  bool reading = op == Op::Read;
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      code = reading ? NSFileReadNoSuchFileError : NSFileNoSuchFileError;
      reason = "there is no such file";
      break;
    case EACCES:
    case EPERM:
      code = reading ? NSFileReadNoPermissionError : NSFileWriteNoPermissionError;
      reason = "you don\xE2\x80\x99t have permission";
      break;
    case EEXIST:
    case ENOTEMPTY:
      code = NSFileWriteFileExistsError;
      reason = "an item with the same name already exists";
      break;
    case ENOSPC:
    case EDQUOT:
      code = NSFileWriteOutOfSpaceError;
      reason = "there isn\xE2\x80\x99t enough space";
      break;
    case EROFS:
      code = NSFileWriteVolumeReadOnlyError;
      reason = "the volume is read only";
      break;
    case ENAMETOOLONG:
      code = reading ? NSFileReadInvalidFileNameError : NSFileWriteInvalidFileNameError;
      reason = "the file name is invalid";
      break;
    default:
      code = reading ? NSFileReadUnknownError : NSFileWriteUnknownError;
      reason = std::strerror(err);
      break;
  }
  if (!givenReason.empty()) reason = givenReason;
  const char* verb = "opened";
  switch (op) {
    case Op::Read: verb = "opened"; break;
    case Op::Write: verb = "saved"; break;
    case Op::Remove: verb = "removed"; break;
    case Op::Copy: verb = "copied"; break;
    case Op::Move: verb = "moved"; break;
    case Op::Create: verb = "created"; break;
  }
  fail(error, code, "The file " + name + " couldn\xE2\x80\x99t be " + verb + " because " + reason + ".", path, err);
}

}  // namespace

void detail::failSaving(NSError* error, const std::string& path, int err) { failWithErrno(error, Op::Write, path, err); }

void detail::failSavingBecause(NSError* error, const std::string& path, int err, const std::string& reason) {
  failWithErrno(error, Op::Write, path, err, reason);
}

namespace {

double toReferenceDate(const struct timespec& ts) {
  return static_cast<double>(static_cast<long long>(ts.tv_sec) - static_cast<long long>(kReferenceDateOffset)) +
         static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct timespec fromReferenceDate(double date) {
  double whole = std::floor(date);
  long long nanos = std::llround((date - whole) * 1e9);
  long long secs = static_cast<long long>(whole) + static_cast<long long>(kReferenceDateOffset);
  if (nanos >= 1000000000LL) {
    nanos -= 1000000000LL;
    ++secs;
  }
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(secs);
  ts.tv_nsec = static_cast<long>(nanos);
  return ts;
}

bool listFolder(const std::string& path, std::vector<std::string>& names, int& err) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) {
    err = errno;
    return false;
  }
  errno = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  err = errno;
  ::closedir(dir);
  if (err) return false;
  std::sort(names.begin(), names.end());
  return true;
}

void walk(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
  std::vector<std::string> names;
  int err = 0;
  if (!listFolder(relative.empty() ? root : stringByAppendingPathComponent(root, relative), names, err)) return;
  for (const std::string& name : names) {
    std::string sub = relative.empty() ? name : relative + "/" + name;
    out.push_back(sub);
    struct stat st;
    if (::lstat(stringByAppendingPathComponent(root, sub).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      walk(root, sub, out);
  }
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = fileio::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string realParent(const std::string& path) {
  std::string parent = stringByDeletingLastPathComponent(path);
  if (parent.empty()) parent = ".";
  char buffer[PATH_MAX];
  if (!::realpath(parent.c_str(), buffer)) return {};
  return stringByAppendingPathComponent(buffer, lastPathComponent(path));
}

class Copier {
 public:
  Copier(NSFileManager& manager, NSError* error) : manager_(manager), error_(error) {}

  bool copy(const std::string& source, const std::string& destination) {
    if (!manager_.shouldProceedCopying(destination, copied_, error_)) return false;
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0) {
      failWithErrno(error_, Op::Read, source, errno);
      return false;
    }
    if (S_ISREG(st.st_mode)) return copyFile(source, destination);
    if (S_ISLNK(st.st_mode)) return copyLink(source, destination, st);
    if (S_ISDIR(st.st_mode)) return copyFolder(source, destination, st);
    // Opening a pipe or device to copy it could block forever or never end.
    fail(error_, NSFileReadUnknownError,
         quoted(source) + " couldn\xE2\x80\x99t be copied because it is not a file, folder or symbolic link.", source);
    return false;
  }

 private:
  bool copyFile(const std::string& source, const std::string& destination) {
    int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
      failWithErrno(error_, Op::Read, source, errno);
      return false;
    }
    struct stat st;
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
      // Replaced by something else since it was looked at.
      ::close(in);
      fail(error_, NSFileReadUnknownError, quoted(source) + " couldn\xE2\x80\x99t be copied because it changed.", source);
      return false;
    }
    int out = fileio::open(destination, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
      failWithErrno(error_, Op::Copy, destination, errno);
      ::close(in);
      return false;
    }
    bool ok = true;
    int err = 0;
    char buffer[64 * 1024];
    for (;;) {
      ssize_t n = ::read(in, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        err = errno;
        failWithErrno(error_, Op::Read, source, err);
        ok = false;
        break;
      }
      if (n == 0) break;
      if (!manager_.shouldProceedCopying(destination, copied_, error_)) {
        ok = false;
        break;
      }
      if (!writeAll(out, buffer, static_cast<std::size_t>(n))) {
        failWithErrno(error_, Op::Copy, destination, errno);
        ok = false;
        break;
      }
      copied_ += static_cast<std::uint64_t>(n);
    }
    if (ok) {
      // The copy takes its final name by a rename; its contents must be on the disk by then, or
      // a crash of the machine could leave a whole-looking empty file under that name.
      struct timespec times[2] = {st.st_atim, st.st_mtim};
      if (::fchmod(out, st.st_mode & 07777) != 0 || ::futimens(out, times) != 0 || ::fsync(out) != 0) {
        failWithErrno(error_, Op::Copy, destination, errno);
        ok = false;
      }
    }
    if (::close(out) != 0 && ok) {
      failWithErrno(error_, Op::Copy, destination, errno);
      ok = false;
    }
    ::close(in);
    if (!ok) ::unlink(destination.c_str());
    return ok;
  }

  bool copyLink(const std::string& source, const std::string& destination, const struct stat& st) {
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
    ssize_t n = ::readlink(source.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
      failWithErrno(error_, Op::Read, source, n < 0 ? errno : ENAMETOOLONG);
      return false;
    }
    target.resize(static_cast<std::size_t>(n));
    if (fileio::symlink(target, destination) != 0) {
      failWithErrno(error_, Op::Copy, destination, errno);
      return false;
    }
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, destination.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return true;
  }

  bool copyFolder(const std::string& source, const std::string& destination, const struct stat& st) {
    // Listed before the destination exists, so a copy into the folder itself cannot see itself.
    std::vector<std::string> names;
    int err = 0;
    if (!listFolder(source, names, err)) {
      failWithErrno(error_, Op::Read, source, err);
      return false;
    }
    if (fileio::mkdir(destination, 0700) != 0) {
      failWithErrno(error_, Op::Copy, destination, errno);
      return false;
    }
    for (const std::string& name : names) {
      if (!copy(stringByAppendingPathComponent(source, name), stringByAppendingPathComponent(destination, name)))
        return false;
    }
    // The folder's date last: filling it changed the date.
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::chmod(destination.c_str(), st.st_mode & 07777) != 0 ||
        ::utimensat(AT_FDCWD, destination.c_str(), times, 0) != 0) {
      failWithErrno(error_, Op::Copy, destination, errno);
      return false;
    }
    return true;
  }

  NSFileManager& manager_;
  NSError* error_;
  std::uint64_t copied_ = 0;
};

// A hidden sibling of path: ".<name><marker><random>". Names too long to carry whole are cut
// when the sibling only has to be unique (a partial copy, which is removed, never restored).
std::string siblingPath(const std::string& path, std::string_view marker, bool mayCutName) {
  std::string name = lastPathComponent(path);
  if (name.size() > kMaxNameInSibling) {
    if (!mayCutName) return {};
    name.resize(kMaxNameInSibling);
  }
  std::string random = NSUUIDString();
  random.erase(std::remove(random.begin(), random.end(), '-'), random.end());
  random.resize(12);
  return stringByAppendingPathComponent(stringByDeletingLastPathComponent(path),
                                        "." + name + std::string(marker) + random);
}

// Renames without replacing anything that stands at to.
int renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: check first (a small window, but no worse than before).
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool removeRecursively(const std::string& path, NSError* error) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    failWithErrno(error, Op::Remove, path, errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    std::vector<std::string> names;
    int err = 0;
    if (!listFolder(path, names, err)) {
      failWithErrno(error, Op::Remove, path, err);
      return false;
    }
    for (const std::string& name : names)
      if (!removeRecursively(stringByAppendingPathComponent(path, name), error)) return false;
    if (fileio::rmdir(path) != 0) {
      failWithErrno(error, Op::Remove, path, errno);
      return false;
    }
    return true;
  }
  if (fileio::unlink(path) != 0) {
    failWithErrno(error, Op::Remove, path, errno);
    return false;
  }
  return true;
}

// Copies source into a fresh hidden sibling of destination; the sibling's path, or "" after a
// failure that left nothing behind.
std::string stageCopy(NSFileManager& manager, const std::string& source, const std::string& destination,
                      NSError* error) {
  char resolved[PATH_MAX];
  std::string realSource = ::realpath(source.c_str(), resolved) ? std::string(resolved) : source;
  std::string realDestination = realParent(destination);
  if (!realDestination.empty() && pathIsInsideFolder(realDestination, realSource)) {
    fail(error, NSFileWriteInvalidFileNameError,
         quoted(source) + " couldn\xE2\x80\x99t be copied because the destination is inside it.", destination);
    return {};
  }
  std::string staged = partialCopyPathFor(destination);
  Copier copier(manager, error);
  if (copier.copy(source, staged)) return staged;
  struct stat left;
  if (::lstat(staged.c_str(), &left) == 0) removeRecursively(staged, nullptr);
  // The caller asked about the destination; the hidden name means nothing to it.
  if (error) {
    std::string stagedName = lastPathComponent(staged);
    std::string& text = error->localizedDescription;
    if (std::size_t at = text.find(stagedName); at != std::string::npos)
      text.replace(at, stagedName.size(), lastPathComponent(destination));
    if (error->userInfo.isDictionary()) {
      Dictionary& info = error->userInfo.asDictionary();
      const Value& path = info.get(NSFilePathErrorKey);
      if (path.isString() && path.asString().compare(0, staged.size(), staged) == 0)
        info.set(NSFilePathErrorKey, destination + path.asString().substr(staged.size()));
    }
  }
  return {};
}

}  // namespace

NSFileManager& NSFileManager::defaultManager() {
  static std::shared_ptr<NSFileManager>* manager = new std::shared_ptr<NSFileManager>(std::make_shared<NSFileManager>());
  return **manager;
}

bool NSFileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    if (isDirectory) *isDirectory = false;
    return false;
  }
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
  return true;
}

std::optional<NSFileAttributes> NSFileManager::attributesOfItemAtPath(const std::string& path, NSError* error) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    failWithErrno(error, Op::Read, path, errno);
    return std::nullopt;
  }
  NSFileAttributes attributes;
  if (S_ISREG(st.st_mode))
    attributes.type = NSFileType::Regular;
  else if (S_ISDIR(st.st_mode))
    attributes.type = NSFileType::Directory;
  else if (S_ISLNK(st.st_mode))
    attributes.type = NSFileType::SymbolicLink;
  attributes.size = static_cast<std::uint64_t>(st.st_size);
  attributes.modificationDate = toReferenceDate(st.st_mtim);
  attributes.posixPermissions = st.st_mode & 07777;
  return attributes;
}

bool NSFileManager::setModificationDate(double date, const std::string& path, NSError* error) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = fromReferenceDate(date);
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    failWithErrno(error, Op::Write, path, errno);
    return false;
  }
  return true;
}

std::optional<std::vector<std::string>> NSFileManager::contentsOfDirectoryAtPath(const std::string& path,
                                                                                 NSError* error) {
  std::vector<std::string> names;
  int err = 0;
  if (!listFolder(path, names, err)) {
    failWithErrno(error, Op::Read, path, err);
    return std::nullopt;
  }
  return names;
}

std::optional<std::vector<std::string>> NSFileManager::subpathsOfDirectoryAtPath(const std::string& path,
                                                                                 NSError* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    failWithErrno(error, Op::Read, path, errno);
    return std::nullopt;
  }
  if (!S_ISDIR(st.st_mode)) {
    failWithErrno(error, Op::Read, path, ENOTDIR);
    return std::nullopt;
  }
  std::vector<std::string> out;
  walk(path, "", out);
  return out;
}

std::vector<std::string> NSFileManager::enumeratorAtPath(const std::string& path) {
  auto paths = subpathsOfDirectoryAtPath(path);
  return paths ? std::move(*paths) : std::vector<std::string>{};
}

bool NSFileManager::createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories, NSError* error) {
  if (path.empty()) {
    failWithErrno(error, Op::Create, path, ENOENT);
    return false;
  }
  if (!withIntermediateDirectories) {
    if (fileio::mkdir(path, 0777) != 0) {
      failWithErrno(error, Op::Create, path, errno);
      return false;
    }
    return true;
  }
  std::string current;
  for (const std::string& component : pathComponents(path)) {
    current = current.empty() ? component : stringByAppendingPathComponent(current, component);
    struct stat st;
    if (::stat(current.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) continue;
      failWithErrno(error, Op::Create, current, EEXIST);
      return false;
    }
    if (fileio::mkdir(current, 0777) != 0 && errno != EEXIST) {
      failWithErrno(error, Op::Create, current, errno);
      return false;
    }
  }
  return true;
}

bool NSFileManager::copyItemAtPath(const std::string& source, const std::string& destination, NSError* error) {
  struct stat st;
  if (::lstat(source.c_str(), &st) != 0) {
    failWithErrno(error, Op::Read, source, errno);
    return false;
  }
  if (::lstat(destination.c_str(), &st) == 0) {
    fail(error, NSFileWriteFileExistsError,
         quoted(source) + " couldn\xE2\x80\x99t be copied to " + quoted(stringByDeletingLastPathComponent(destination)) +
             " because an item with the same name already exists.",
         destination, EEXIST);
    return false;
  }
  std::string staged = stageCopy(*this, source, destination, error);
  if (staged.empty()) return false;
  if (int err = renameNoReplace(staged, destination)) {
    removeRecursively(staged, nullptr);
    failWithErrno(error, Op::Copy, destination, err);
    return false;
  }
  return true;
}

bool NSFileManager::replaceItemAtPathWithCopyOfItemAtPath(const std::string& destination, const std::string& source,
                                                          NSError* error) {
  struct stat st;
  if (::lstat(source.c_str(), &st) != 0) {
    failWithErrno(error, Op::Read, source, errno);
    return false;
  }
  std::string staged = stageCopy(*this, source, destination, error);
  if (staged.empty()) return false;
  bool newIsFolder = S_ISDIR(st.st_mode);
  struct stat old;
  bool oldExists = ::lstat(destination.c_str(), &old) == 0;
  if (!oldExists || (!newIsFolder && !S_ISDIR(old.st_mode))) {
    // One rename: readers and a stop see the old item or the new one.
    if (::rename(staged.c_str(), destination.c_str()) != 0) {
      int err = errno;
      removeRecursively(staged, nullptr);
      failWithErrno(error, Op::Copy, destination, err);
      return false;
    }
    return true;
  }
  // A folder cannot be renamed over: the old item steps aside first. A stop between the two
  // renames leaves the destination missing and the old item aside, which the next start puts
  // back (recoverInterruptedCopies).
  std::string aside = siblingPath(destination, kAsideMarker, false);
  int err = aside.empty() ? ENAMETOOLONG : 0;
  if (!err && ::rename(destination.c_str(), aside.c_str()) != 0) err = errno;
  if (err) {
    removeRecursively(staged, nullptr);
    failWithErrno(error, Op::Copy, destination, err);
    return false;
  }
  if (::rename(staged.c_str(), destination.c_str()) != 0) {
    err = errno;
    ::rename(aside.c_str(), destination.c_str());
    removeRecursively(staged, nullptr);
    failWithErrno(error, Op::Copy, destination, err);
    return false;
  }
  // Should this fail, the old item stays aside until the next start removes it.
  removeRecursively(aside, nullptr);
  return true;
}

bool NSFileManager::shouldProceedCopying(const std::string& item, std::uint64_t, NSError* error) {
  if (!cancelled_.load()) return true;
  fail(error, NSUserCancelledError, "The copy of " + quoted(item) + " was cancelled.", item);
  return false;
}

std::string partialCopyPathFor(const std::string& destination) {
  return siblingPath(destination, kPartialMarker, true);
}

std::string setAsidePathFor(const std::string& destination) { return siblingPath(destination, kAsideMarker, false); }

std::vector<NSInterruptedCopy> recoverInterruptedCopies(const std::string& folder) {
  std::vector<NSInterruptedCopy> done;
  std::vector<std::string> names;
  int err = 0;
  if (!listFolder(folder, names, err)) return done;
  for (const std::string& name : names) {
    if (name.empty() || name[0] != '.') continue;
    std::string path = stringByAppendingPathComponent(folder, name);
    if (name.find(kPartialMarker) != std::string::npos) {
      if (removeRecursively(path, nullptr)) done.push_back({path, NSInterruptedCopyAction::RemovedPartialCopy});
      continue;
    }
    std::size_t marker = name.rfind(kAsideMarker);
    if (marker == std::string::npos || marker <= 1) continue;
    std::string original = stringByAppendingPathComponent(folder, name.substr(1, marker - 1));
    struct stat st;
    if (::lstat(original.c_str(), &st) != 0 && errno == ENOENT) {
      if (::rename(path.c_str(), original.c_str()) == 0)
        done.push_back({path, NSInterruptedCopyAction::PutBackSetAside});
    } else if (removeRecursively(path, nullptr)) {
      done.push_back({path, NSInterruptedCopyAction::RemovedSetAside});
    }
  }
  return done;
}

namespace {

bool isMkstempLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// prefix followed by exactly six of mkstemp's letters.
bool isMkstempName(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(), isMkstempLetter);
}

// ".<name><marker><12 hexadecimal digits>", <name> not empty: siblingPath's names.
bool isSiblingName(std::string_view name, std::string_view marker) {
  constexpr std::size_t kRandom = 12;
  if (name.size() < 2 + marker.size() + kRandom || name[0] != '.') return false;
  std::string_view random = name.substr(name.size() - kRandom);
  std::string_view before = name.substr(0, name.size() - kRandom);
  return std::all_of(random.begin(), random.end(), isHexDigit) && before.size() > marker.size() + 1 &&
         before.substr(before.size() - marker.size()) == marker;
}

bool isReplacedEntryName(std::string_view name) {
  constexpr std::string_view kPrefix = ".hbr-replaced-";
  if (name.size() != kPrefix.size() + 36 || name.substr(0, kPrefix.size()) != kPrefix) return false;
  std::string_view uuid = name.substr(kPrefix.size());
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? uuid[i] != '-' : !isHexDigit(uuid[i])) return false;
  }
  return true;
}

bool isRecordingName(std::string_view name) {
  constexpr std::string_view kSuffix = ".recording";
  return name.size() > kSuffix.size() + 1 && name[0] == '.' && name.substr(name.size() - kSuffix.size()) == kSuffix;
}

}  // namespace

bool isInterruptedWriteName(std::string_view name) {
  return isMkstempName(name, ".hbr-") || isMkstempName(name, ".download-") || isUndoRecordName(name) ||
         isSiblingName(name, kPartialMarker) || isSiblingName(name, kAsideMarker) || isReplacedEntryName(name) ||
         isRecordingName(name);
}

std::vector<NSSweptLeftover> sweepInterruptedWrites(const std::string& folder) {
  std::vector<NSSweptLeftover> done;
  // Depth first, by hand: a deep tree cannot exhaust the stack.
  std::vector<std::string> pending{folder};
  while (!pending.empty()) {
    std::string current = std::move(pending.back());
    pending.pop_back();
    std::vector<std::string> names;
    int err = 0;
    if (!listFolder(current, names, err)) continue;
    std::vector<std::string> below;
    for (const std::string& name : names) {
      std::string path = stringByAppendingPathComponent(current, name);
      if (isInterruptedWriteName(name)) {
        if (isUndoRecordName(name)) {
          std::string file;
          NSUndoOutcome outcome = undoInterruptedWrite(path, &file);
          if (outcome == NSUndoOutcome::Kept) continue;
          if (outcome == NSUndoOutcome::Undone) {
            if (::unlink(path.c_str()) == 0) done.push_back({path, NSSweptLeftoverAction::Undone, file});
            continue;
          }
        }
        if (isSiblingName(name, kAsideMarker)) {
          std::string original =
              stringByAppendingPathComponent(current, name.substr(1, name.rfind(kAsideMarker) - 1));
          struct stat st;
          if (::lstat(original.c_str(), &st) != 0 && errno == ENOENT) {
            if (::rename(path.c_str(), original.c_str()) == 0) done.push_back({path, NSSweptLeftoverAction::PutBack, {}});
            continue;
          }
        }
        if (removeRecursively(path, nullptr)) done.push_back({path, NSSweptLeftoverAction::Removed, {}});
        continue;
      }
      struct stat st;
      if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) below.push_back(std::move(path));
    }
    // Walked in name order: the last pushed is taken first.
    pending.insert(pending.end(), below.rbegin(), below.rend());
  }
  return done;
}

bool NSFileManager::moveItemAtPath(const std::string& source, const std::string& destination, NSError* error) {
  struct stat st;
  if (::lstat(source.c_str(), &st) != 0) {
    failWithErrno(error, Op::Move, source, errno);
    return false;
  }
  if (::lstat(destination.c_str(), &st) == 0) {
    failWithErrno(error, Op::Move, destination, EEXIST);
    return false;
  }
  if (fileio::rename(source, destination) == 0) return true;
  if (errno != EXDEV) {
    failWithErrno(error, Op::Move, source, errno);
    return false;
  }
  if (!copyItemAtPath(source, destination, error)) return false;
  return removeItemAtPath(source, error);
}

bool NSFileManager::removeItemAtPath(const std::string& path, NSError* error) {
  if (path.empty()) {
    failWithErrno(error, Op::Remove, path, ENOENT);
    return false;
  }
  return removeRecursively(path, error);
}

bool NSFileManager::createFileAtPath(const std::string& path, const Data& contents, NSError* error) {
  return writeFileContentsAtomically(
      path, std::string_view(reinterpret_cast<const char*>(contents.data()), contents.size()), error);
}

std::optional<Data> NSFileManager::contentsAtPath(const std::string& path, NSError* error) {
  auto text = readFileContents(path, error);
  if (!text) return std::nullopt;
  return Data(text->begin(), text->end());
}

std::optional<NSFileSystemAttributes> NSFileManager::attributesOfFileSystemForPath(const std::string& path,
                                                                                  NSError* error) {
  struct statvfs vfs {};
  if (path.empty() || ::statvfs(path.c_str(), &vfs) != 0) {
    failWithErrno(error, Op::Read, path, path.empty() ? ENOENT : errno);
    return std::nullopt;
  }
  NSFileSystemAttributes attributes;
  attributes.size = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;
  attributes.freeSize = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return attributes;
}

std::optional<std::string> readFileContents(const std::string& path, NSError* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failWithErrno(error, Op::Read, path, errno);
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    // Only whole regular files: a pipe could block and a device never end.
    int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    failWithErrno(error, Op::Read, path, err);
    return std::nullopt;
  }
  std::string out;
  out.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      failWithErrno(error, Op::Read, path, err);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

}  // namespace plat
