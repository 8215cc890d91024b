#include "plat/foundation/FileWrites.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "FileErrors.h"
#include "plat/foundation/FileFaults.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"

namespace plat {
namespace {

constexpr int kMaxLinkHops = 40;
// How often a write starts again because other writers made or removed its file meanwhile.
constexpr int kMaxTurns = 64;
constexpr std::size_t kChunk = 64 * 1024;
// The temporaries: a whole new content (also writeFileContentsAtomically's), and an undo record.
constexpr std::string_view kTemporaryPrefix = ".hbr-";
constexpr std::string_view kUndoPrefix = ".hbr-undo-";

// An undo record: the magic, the file's device, inode, length and the change's position (each
// 8 bytes, in this machine's order), the length of the file's name (4 bytes) and the name, the
// file's bytes from the position to its end, and the seal. Only a sealed record is whole.
constexpr char kUndoMagic[8] = {'H', 'B', 'R', 'U', 'N', 'D', 'O', '1'};
constexpr char kUndoSeal[8] = {'H', 'B', 'R', 'U', 'N', 'D', 'O', '.'};
constexpr std::size_t kUndoHeader = sizeof kUndoMagic + 4 * sizeof(std::uint64_t) + sizeof(std::uint32_t);

bool failed(NSError* error, const std::string& path, int err) {
  detail::failSaving(error, path, err);
  return false;
}

bool failedBecause(NSError* error, const std::string& path, int err, const std::string& reason) {
  detail::failSavingBecause(error, path, err, reason);
  return false;
}

bool refuseKind(NSError* error, const std::string& path, mode_t mode) {
  if (S_ISDIR(mode)) return failedBecause(error, path, EISDIR, "it is a folder");
  return failedBecause(error, path, EINVAL, "it is not a regular file");
}

// A temporary file that could not be made: a full disk says so; anything else says that the
// write could not be kept whole.
bool failedBeside(NSError* error, const std::string& path, int err) {
  if (err == ENOSPC || err == EDQUOT) return failed(error, path, err);
  return failedBecause(error, path, err,
                       std::string("no file can be made beside it to keep the write whole (") +
                           std::strerror(err) + ")");
}

std::string folderOf(const std::string& path) {
  std::string folder = stringByDeletingLastPathComponent(path);
  return folder.empty() ? "." : folder;
}

// A temporary file beside path, under a name of its own that the start-up sweep knows (short:
// the file's name with a prefix could pass the limit of a name that is itself near it); -1
// with errno set.
int makeTemporaryBeside(const std::string& path, std::string_view prefix, std::string& temporary) {
  temporary = stringByAppendingPathComponent(folderOf(path), std::string(prefix) + "XXXXXX");
  return fileio::mkstemp(temporary);
}

bool isMkstempLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Opens the regular file at path for writing (no link followed, nothing that could block) and
// waits for our other writers of it to finish; st is its state then. -1 with errno set.
int openForChange(const std::string& path, struct stat& st) {
  int fd = fileio::open(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  ::fstat(fd, &st);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// Copies the extended attributes that belong to what a file is (the user's, the mark that
// excludes it from backup among them, and its access list) from one file to another; what
// cannot be read or set is left.
void copyExtendedAttributes(const std::string& from, const std::string& to) {
  ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
  if (size <= 0) return;
  std::string names(static_cast<std::size_t>(size), '\0');
  size = ::listxattr(from.c_str(), names.data(), names.size());
  if (size <= 0) return;
  names.resize(static_cast<std::size_t>(size));
  for (std::size_t start = 0; start < names.size();) {
    std::string name(names.c_str() + start);
    start += name.size() + 1;
    if (name.rfind("user.", 0) != 0 && name != "system.posix_acl_access") continue;
    ssize_t length = fileio::getxattr(from, name, nullptr, 0);
    if (length < 0) continue;
    std::string value(static_cast<std::size_t>(length), '\0');
    length = fileio::getxattr(from, name, value.data(), value.size());
    if (length >= 0) fileio::setxattr(to, name, value.data(), static_cast<std::size_t>(length));
  }
}

// Gives the temporary file what the file it replaces has besides its contents: owner (where
// allowed), permissions and extended attributes. st is that file's state.
bool takeAttributes(int temporaryFd, const std::string& temporary, const std::string& from, const struct stat& st) {
  struct stat own {};
  if (::fstat(temporaryFd, &own) == 0 && (own.st_uid != st.st_uid || own.st_gid != st.st_gid))
    (void)::fchown(temporaryFd, st.st_uid, st.st_gid);
  if (::fchmod(temporaryFd, st.st_mode & 07777) != 0) return false;
  copyExtendedAttributes(from, temporary);
  return true;
}

// Flushes and closes the temporary file and renames it over path. The descriptor is closed
// either way; on failure the temporary is removed and errno says why.
bool renameInto(int& temporaryFd, std::string& temporary, const std::string& path) {
  bool ok = ::fsync(temporaryFd) == 0;
  int err = errno;
  if (::close(temporaryFd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  temporaryFd = -1;
  if (ok && fileio::rename(temporary, path) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    errno = err;
  }
  temporary.clear();
  return ok;
}

// New bytes: in memory, or the first size bytes of a file.
struct Source {
  std::string_view memory;
  int fd = -1;
  std::uint64_t size = 0;
};

// Writes source bytes [from, from + count) into fd at offset at.
bool copyInto(int fd, std::uint64_t at, const Source& source, std::uint64_t from, std::uint64_t count) {
  if (source.fd < 0)
    return fileio::pwriteAll(fd, source.memory.data() + from, static_cast<std::size_t>(count), static_cast<off_t>(at));
  std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, count)));
  while (count > 0) {
    auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), count));
    ssize_t n = ::pread(source.fd, buffer.data(), wanted, static_cast<off_t>(from));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    if (!fileio::pwriteAll(fd, buffer.data(), static_cast<std::size_t>(n), static_cast<off_t>(at))) return false;
    from += static_cast<std::uint64_t>(n);
    at += static_cast<std::uint64_t>(n);
    count -= static_cast<std::uint64_t>(n);
  }
  return true;
}

// ---- Undo records ----

struct UndoRecord {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t length = 0;    // the file's length before the change
  std::uint64_t position = 0;  // where the change began
  std::string name;            // the file's name in the record's folder
  std::uint64_t keptAt = 0;    // where the kept bytes begin in the record
  std::uint64_t kept() const { return position < length ? length - position : 0; }
};

void put64(std::string& out, std::uint64_t value) { out.append(reinterpret_cast<const char*>(&value), sizeof value); }

template <class T>
T take(const char*& p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  p += sizeof value;
  return value;
}

bool readAt(int fd, void* into, std::size_t size, std::uint64_t at) {
  auto* p = static_cast<char*>(into);
  while (size > 0) {
    ssize_t n = ::pread(fd, p, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    at += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Keeps in a record beside path what a change at position overwrites or cuts off of the open
// file fd (st: its state), flushed to disk. The record's descriptor (its path in record), or -1
// with errno set and nothing left behind.
int writeUndoRecord(int fd, const struct stat& st, const std::string& path, std::uint64_t position,
                    std::string& record) {
  int out = makeTemporaryBeside(path, kUndoPrefix, record);
  if (out < 0) return -1;
  std::string name = lastPathComponent(path);
  std::string header(kUndoMagic, sizeof kUndoMagic);
  put64(header, static_cast<std::uint64_t>(st.st_dev));
  put64(header, static_cast<std::uint64_t>(st.st_ino));
  put64(header, static_cast<std::uint64_t>(st.st_size));
  put64(header, position);
  auto nameLength = static_cast<std::uint32_t>(name.size());
  header.append(reinterpret_cast<const char*>(&nameLength), sizeof nameLength);
  header += name;
  bool ok = fileio::writeAll(out, header.data(), header.size());
  auto length = static_cast<std::uint64_t>(st.st_size);
  std::vector<char> buffer(kChunk);
  for (std::uint64_t at = position; ok && at < length;) {
    ssize_t n = ::pread(fd, buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, length - at)),
                        static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Shorter than it was a moment ago: another process is changing it.
      if (n == 0) errno = EIO;
      ok = false;
      break;
    }
    ok = fileio::writeAll(out, buffer.data(), static_cast<std::size_t>(n));
    at += static_cast<std::uint64_t>(n);
  }
  ok = ok && fileio::writeAll(out, kUndoSeal, sizeof kUndoSeal) && ::fsync(out) == 0;
  if (!ok) {
    int err = errno;
    ::close(out);
    ::unlink(record.c_str());
    errno = err;
    return -1;
  }
  return out;
}

// The record, when it is whole (sealed, and exactly as long as it says).
std::optional<UndoRecord> readUndoRecord(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  char header[kUndoHeader];
  if (!readAt(fd, header, sizeof header, 0) || std::memcmp(header, kUndoMagic, sizeof kUndoMagic) != 0)
    return std::nullopt;
  const char* p = header + sizeof kUndoMagic;
  UndoRecord record;
  record.device = take<std::uint64_t>(p);
  record.inode = take<std::uint64_t>(p);
  record.length = take<std::uint64_t>(p);
  record.position = take<std::uint64_t>(p);
  auto nameLength = take<std::uint32_t>(p);
  if (nameLength == 0 || nameLength > NAME_MAX) return std::nullopt;
  record.name.resize(nameLength);
  if (!readAt(fd, record.name.data(), nameLength, kUndoHeader)) return std::nullopt;
  if (record.name == "." || record.name == ".." || record.name.find('/') != std::string::npos ||
      record.name.find('\0') != std::string::npos)
    return std::nullopt;
  record.keptAt = kUndoHeader + nameLength;
  auto size = static_cast<std::uint64_t>(st.st_size);
  if (size < record.keptAt + sizeof kUndoSeal || size - record.keptAt - sizeof kUndoSeal != record.kept())
    return std::nullopt;
  char seal[sizeof kUndoSeal];
  if (!readAt(fd, seal, sizeof seal, size - sizeof seal) || std::memcmp(seal, kUndoSeal, sizeof seal) != 0)
    return std::nullopt;
  return record;
}

// Puts the file fd back as the record says: its bytes from the position on, and its length.
bool applyUndo(int fd, int recordFd, const UndoRecord& record) {
  Source kept;
  kept.fd = recordFd;
  return copyInto(fd, record.position, kept, record.keptAt, record.kept()) &&
         fileio::ftruncate(fd, static_cast<off_t>(record.length)) == 0 && ::fsync(fd) == 0;
}

// Removes a record whose change is done or undone. One that stayed would undo a finished change
// at the next start: a record that cannot be removed is emptied, which the sweep takes for one
// cut short.
void dropUndoRecord(int recordFd, const std::string& record) {
  if (fileio::unlink(record) != 0) (void)::ftruncate(recordFd, 0);
  ::close(recordFd);
}

// Changes the file fd in place (st: its state, path: its name, for the record), under an undo
// record: bytes at position, whatever followed dropped.
bool changeInPlace(int fd, const struct stat& st, const std::string& path, std::uint64_t position,
                   const Source& bytes, NSError* error) {
  auto length = static_cast<std::uint64_t>(st.st_size);
  if (position == kFileWriteAtEnd) position = length;
  constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  if (position > kLargest || bytes.size > kLargest - position)
    return failedBecause(error, path, EFBIG, "the position lies past what a file can hold");
  std::uint64_t end = position + bytes.size;
  if (bytes.size == 0) {
    // A change of the length alone is one system call: no stop can cut it in half.
    if (position == length) return true;
    if (fileio::ftruncate(fd, static_cast<off_t>(position)) != 0 || ::fsync(fd) != 0) return failed(error, path, errno);
    return true;
  }
  std::string record;
  int recordFd = writeUndoRecord(fd, st, path, position, record);
  if (recordFd < 0) return failedBeside(error, path, errno);
  // What lies past the old end first: a full disk is met before any old byte has changed.
  bool ok = true;
  if (end > length) {
    std::uint64_t from = std::max(position, length);
    ok = copyInto(fd, from, bytes, from - position, end - from);
  }
  if (ok && position < length) ok = copyInto(fd, position, bytes, 0, std::min(end, length) - position);
  if (ok && end < length) ok = fileio::ftruncate(fd, static_cast<off_t>(end)) == 0;
  if (ok) ok = ::fsync(fd) == 0;
  if (ok) {
    dropUndoRecord(recordFd, record);
    return true;
  }
  int err = errno;
  auto kept = readUndoRecord(recordFd);
  if (kept && applyUndo(fd, recordFd, *kept)) {
    dropUndoRecord(recordFd, record);
  } else {
    ::close(recordFd);
    NSLog("A failed write to " + logEscaped(path) + " could not be undone yet; " + logEscaped(record) +
          " keeps what it changed for the next start");
  }
  return failed(error, path, err);
}

// Puts the whole contents of the temporary file in place at path by the rule, and removes the
// temporary either way. With newOnly, only as a new file: when a file stands at path, nothing
// changes and taken says so (another writer made it first, and this write is to come after it).
bool putInPlace(int& temporaryFd, std::string& temporary, const std::string& path, NSError* error,
                bool newOnly = false, bool* taken = nullptr) {
  auto dropTemporary = [&] {
    if (temporaryFd >= 0) ::close(temporaryFd);
    temporaryFd = -1;
    if (!temporary.empty()) ::unlink(temporary.c_str());
    temporary.clear();
  };
  for (int turn = 0; turn < kMaxTurns; ++turn) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      int err = errno;
      if (err != ENOENT) {
        dropTemporary();
        return failed(error, path, err);
      }
      // A new file takes the name only while it is free: two writers that both found no file
      // must not both make it, the second one unseen over the first.
      if (::fchmod(temporaryFd, newFileMode()) != 0 || ::fsync(temporaryFd) != 0) {
        err = errno;
        dropTemporary();
        return failed(error, path, err);
      }
      if (fileio::renameNoReplace(temporary, path) == 0) {
        ::close(temporaryFd);
        temporaryFd = -1;
        temporary.clear();
        return true;
      }
      err = errno;
      if (err != EEXIST || newOnly) {
        dropTemporary();
        if (taken) *taken = err == EEXIST;
        return err == EEXIST ? false : failed(error, path, err);
      }
      continue;  // made meanwhile: replaced below, as any file that stands there
    }
    if (!S_ISREG(st.st_mode)) {
      dropTemporary();
      return refuseKind(error, path, st.st_mode);
    }
    if (newOnly) {
      dropTemporary();
      if (taken) *taken = true;
      return false;
    }
    int fd = openForChange(path, st);
    if (fd < 0 && errno == ENOENT) continue;  // removed meanwhile: made anew
    if (fd < 0) {
      int err = errno;
      dropTemporary();
      return failed(error, path, err);
    }
    bool ok;
    if (st.st_nlink <= 1) {
      ok = takeAttributes(temporaryFd, temporary, path, st) && renameInto(temporaryFd, temporary, path);
      if (!ok) {
        int err = errno;
        dropTemporary();
        failed(error, path, err);
      }
    } else {
      // A rename would leave the other names with the old file: the contents go into the file.
      struct stat staged {};
      Source whole;
      whole.fd = temporaryFd;
      whole.size = ::fstat(temporaryFd, &staged) == 0 ? static_cast<std::uint64_t>(staged.st_size) : 0;
      ok = changeInPlace(fd, st, path, 0, whole, error);
      dropTemporary();
    }
    ::close(fd);
    return ok;
  }
  dropTemporary();
  return failedBecause(error, path, EBUSY, "other writers kept making and removing it");
}

}  // namespace

std::optional<std::string> fileWriteLocation(const std::string& localPath) {
  if (!isAbsolutePath(localPath)) return std::nullopt;
  std::filesystem::path path(localPath);
  // A link may stand as the last component and point anywhere, even at something that does
  // not exist yet; writing through it writes at its target. So it is followed by hand, link
  // after link, until the name is no link.
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    std::error_code ec;
    auto parent = std::filesystem::weakly_canonical(path.parent_path(), ec);
    if (ec) return std::nullopt;
    auto name = path.filename();
    if (name.empty() || name == "." || name == "..") {
      auto whole = std::filesystem::weakly_canonical(path, ec);
      if (ec) return std::nullopt;
      return whole.string();
    }
    auto candidate = parent / name;
    struct stat st {};
    if (::lstat(candidate.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return candidate.string();
    auto target = std::filesystem::read_symlink(candidate, ec);
    if (ec) return std::nullopt;
    path = target.is_absolute() ? target : parent / target;
  }
  return std::nullopt;  // a loop of links
}

mode_t newFileMode() {
  // Reading the umask through umask(2) means setting it, for every thread at once: the kernel
  // shows it here instead (since Linux 4.7).
  // Asked for every new file: one read of the file's start (the line is among the first few),
  // no stream.
  constexpr mode_t kUsual = 0644;  // the usual umask, 022
  int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kUsual;
  char text[4096];
  ssize_t length;
  do {
    length = ::read(fd, text, sizeof text - 1);
  } while (length < 0 && errno == EINTR);
  ::close(fd);
  if (length <= 0) return kUsual;
  text[length] = '\0';
  const char* line = std::strstr(text, "\nUmask:");
  if (!line) return kUsual;
  return 0666 & ~static_cast<mode_t>(std::strtoul(line + 7, nullptr, 8));
}

bool writeFileContentsAtPosition(const std::string& path, std::uint64_t position, std::string_view bytes,
                                 NSError* error) {
  // Each turn starts again because another writer made, replaced or removed the file meanwhile;
  // this write then comes after that one.
  for (int turn = 0; turn < kMaxTurns; ++turn) {
    struct stat st {};
    bool missing = ::lstat(path.c_str(), &st) != 0;
    if (missing && errno != ENOENT) return failed(error, path, errno);
    if (missing && bytes.empty()) return true;
    if (!missing && !S_ISREG(st.st_mode)) return refuseKind(error, path, st.st_mode);
    if (missing) {
      // A new file holds the bytes alone (before them there is nothing to keep), put in place
      // only while no other writer has made the file; one that has is written as it stands.
      std::string temporary;
      int fd = makeTemporaryBeside(path, kTemporaryPrefix, temporary);
      if (fd < 0) return failedBeside(error, path, errno);
      if (!fileio::writeAll(fd, bytes.data(), bytes.size())) {
        int err = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return failed(error, path, err);
      }
      bool taken = false;
      if (putInPlace(fd, temporary, path, error, true, &taken)) return true;
      if (taken) continue;
      return false;
    }
    if (position == 0 && !bytes.empty() && st.st_nlink <= 1) {
      // A whole new content: beside the file, then in its place (where the links are counted again).
      StagedFileContents staged;
      return staged.begin(path, error) && staged.append(bytes.data(), bytes.size(), error) && staged.commit(error);
    }
    int fd = openForChange(path, st);
    if (fd < 0 && errno == ENOENT) continue;
    if (fd < 0) return failed(error, path, errno);
    Source source;
    source.memory = bytes;
    source.size = bytes.size();
    bool ok = changeInPlace(fd, st, path, position, source, error);
    ::close(fd);
    return ok;
  }
  return failedBecause(error, path, EBUSY, "other writers kept making and removing it");
}

bool StagedFileContents::begin(const std::string& path, NSError* error) {
  discard();
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return refuseKind(error, path, st.st_mode);
  std::string temporary;
  int fd = makeTemporaryBeside(path, kTemporaryPrefix, temporary);
  if (fd < 0) return failedBeside(error, path, errno);
  path_ = path;
  temporary_ = std::move(temporary);
  fd_ = fd;
  return true;
}

bool StagedFileContents::append(const void* bytes, std::size_t size, NSError* error) {
  if (fd_ < 0) return failed(error, path_, EBADF);
  if (!fileio::writeAll(fd_, bytes, size)) return failed(error, path_, errno);
  return true;
}

bool StagedFileContents::commit(NSError* error) {
  if (fd_ < 0) return failed(error, path_, EBADF);
  bool ok = putInPlace(fd_, temporary_, path_, error);
  fd_ = -1;
  temporary_.clear();
  return ok;
}

void StagedFileContents::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

bool writeFileContentsAtomically(const std::string& path, std::string_view bytes, NSError* error) {
  std::string name = lastPathComponent(path);
  if (name.empty() || name == "/") return failed(error, path, EISDIR);
  std::string temporary;
  int fd = makeTemporaryBeside(path, kTemporaryPrefix, temporary);
  if (fd < 0) return failed(error, path, errno);
  // The name is replaced, also when it is a link; what it named lends the new file its
  // permissions, owner and extended attributes. A new file gets what the umask leaves of 0666.
  struct stat existing {};
  bool replacing = ::stat(path.c_str(), &existing) == 0;
  bool ok = fileio::writeAll(fd, bytes.data(), bytes.size()) &&
            (replacing ? takeAttributes(fd, temporary, path, existing) : ::fchmod(fd, newFileMode()) == 0) &&
            renameInto(fd, temporary, path);
  if (!ok) {
    int err = errno;
    if (fd >= 0) ::close(fd);
    if (!temporary.empty()) ::unlink(temporary.c_str());
    return failed(error, path, err);
  }
  return true;
}

bool isUndoRecordName(std::string_view name) {
  return name.size() == kUndoPrefix.size() + 6 && name.substr(0, kUndoPrefix.size()) == kUndoPrefix &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kUndoPrefix.size()), name.end(), isMkstempLetter);
}

NSUndoOutcome undoInterruptedWrite(const std::string& recordPath, std::string* file) {
  int recordFd = ::open(recordPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (recordFd < 0) return errno == ENOENT ? NSUndoOutcome::Kept : NSUndoOutcome::Discarded;
  auto record = readUndoRecord(recordFd);
  if (!record) {
    // Cut short while it was written, before anything of the file changed.
    ::close(recordFd);
    return NSUndoOutcome::Discarded;
  }
  std::string target = stringByAppendingPathComponent(folderOf(recordPath), record->name);
  struct stat found {};
  if (::lstat(target.c_str(), &found) == 0 && !S_ISREG(found.st_mode)) {
    // Something else in its place (a link, a pipe, a device): never opened, never written.
    ::close(recordFd);
    return NSUndoOutcome::Discarded;
  }
  int fd = ::open(target.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    ::close(recordFd);
    // Gone, or a link in its place: not the file the record was made for.
    return err == ENOENT || err == ELOOP ? NSUndoOutcome::Discarded : NSUndoOutcome::Kept;
  }
  struct stat st {};
  NSUndoOutcome outcome = NSUndoOutcome::Discarded;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_dev) == record->device &&
      static_cast<std::uint64_t>(st.st_ino) == record->inode) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    outcome = applyUndo(fd, recordFd, *record) ? NSUndoOutcome::Undone : NSUndoOutcome::Kept;
    if (outcome == NSUndoOutcome::Undone && file) *file = target;
  }
  ::close(fd);
  ::close(recordFd);
  return outcome;
}

}  // namespace plat
