#pragma once
// Real POSIX files behind the platform's file manager.
//
// Every failing call returns false (or nothing) and, when given an NSError, fills it with the
// domain NSCocoaErrorDomain, one of the NSFile...Error codes below, a plain-English description
// naming the item, and userInfo {"NSFilePath": path, "NSPOSIXErrorCode": errno} where the
// system gave a reason.
//
// Dates are seconds since the reference date with sub-second precision, so that a copy whose
// dates were preserved compares equal to its original. Enumeration is stable: names in byte
// order, each folder followed by its contents, symbolic links listed but not followed.
//
// Copies never show a half-made item under the final name, even when the process is killed
// part-way: the copy is made under a hidden sibling name in the destination's own folder and
// renamed into place once it is whole. A stop leaves only that sibling, which
// recoverInterruptedCopies removes at the next start.
//
// The methods are virtual so that a test can fail one of them on purpose; everything else uses
// defaultManager(). Any thread: the calls keep no state, apart from cancelCopies on an instance
// of one's own.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

inline constexpr char NSCocoaErrorDomain[] = "NSCocoaErrorDomain";
inline constexpr char NSFilePathErrorKey[] = "NSFilePath";
inline constexpr char NSPOSIXErrorCodeKey[] = "NSPOSIXErrorCode";

enum NSFileErrorCode : long {
  NSFileNoSuchFileError = 4,
  NSFileReadUnknownError = 256,
  NSFileReadNoPermissionError = 257,
  NSFileReadInvalidFileNameError = 258,
  NSFileReadCorruptFileError = 259,
  NSFileReadNoSuchFileError = 260,
  NSFileWriteUnknownError = 512,
  NSFileWriteNoPermissionError = 513,
  NSFileWriteInvalidFileNameError = 514,
  NSFileWriteFileExistsError = 516,
  NSFileWriteOutOfSpaceError = 640,
  NSFileWriteVolumeReadOnlyError = 642,
  NSUserCancelledError = 3072,
};

enum class NSFileType { Regular, Directory, SymbolicLink, Other };

struct NSFileAttributes {
  NSFileType type = NSFileType::Other;
  std::uint64_t size = 0;
  double modificationDate = 0;  // seconds since the reference date
  unsigned posixPermissions = 0;
};

// What the volume that holds an item reports about itself, in bytes.
struct NSFileSystemAttributes {
  std::uint64_t size = 0;
  // Free to this application: what an unprivileged writer may still use.
  std::uint64_t freeSize = 0;
};

class NSFileManager : public Object {
 public:
  static NSFileManager& defaultManager();

  // Whether something exists at path, following a final symbolic link; isDirectory tells
  // whether it is a folder.
  virtual bool fileExistsAtPath(const std::string& path, bool* isDirectory = nullptr);
  // The item itself (a symbolic link is described, not followed).
  virtual std::optional<NSFileAttributes> attributesOfItemAtPath(const std::string& path, NSError* error = nullptr);
  // Sets the item's modification date (a symbolic link's own date).
  virtual bool setModificationDate(double date, const std::string& path, NSError* error = nullptr);

  // Names in a folder, sorted, without "." and "..".
  virtual std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                            NSError* error = nullptr);
  // Every path below the folder, relative to it, in the stable order described above.
  virtual std::optional<std::vector<std::string>> subpathsOfDirectoryAtPath(const std::string& path,
                                                                            NSError* error = nullptr);
  // The same walk; empty when the folder cannot be read.
  std::vector<std::string> enumeratorAtPath(const std::string& path);

  // With intermediates, missing parents are created and an existing folder is success. New
  // folders get 0777 less the umask, as mkdir(2) makes them.
  virtual bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                     NSError* error = nullptr);
  // Copies a file, symbolic link or whole folder. Refuses an existing destination
  // (NSFileWriteFileExistsError), a missing parent of the destination, a folder copied into
  // itself and items that are neither files, folders nor links (pipes, sockets, devices).
  // Modification dates and permissions are preserved, and file contents reach the disk before
  // the copy takes the destination's name. A copy that fails part-way removes what it created,
  // so the destination is either whole or absent.
  virtual bool copyItemAtPath(const std::string& source, const std::string& destination, NSError* error = nullptr);
  // Copies source over whatever stands at destination, whole or not at all: the copy is made
  // beside the destination and then takes its place, a file by one rename over it; a folder
  // (or a file replacing a folder, or the reverse) by setting the old item aside beside it,
  // renaming the copy in and removing the old item. On failure the destination is as it was.
  // The destination's parent folder must exist.
  virtual bool replaceItemAtPathWithCopyOfItemAtPath(const std::string& destination, const std::string& source,
                                                     NSError* error = nullptr);
  // Asked by every copy of this manager before each item it makes and each block it writes,
  // with the item being written (the top item under its hidden sibling name) and the bytes
  // copied so far. Answering false stops the copy
  // with the error filled in here, and the copy removes what it made. The default answers
  // false (NSUserCancelledError) once cancelCopies was called. Tests fail copies part-way here.
  virtual bool shouldProceedCopying(const std::string& item, std::uint64_t bytesCopied, NSError* error);
  // Stops this manager's copies in progress and refuses later ones: for work that runs out of
  // time. Use an instance of one's own, not defaultManager().
  void cancelCopies() { cancelled_.store(true); }
  bool copiesCancelled() const { return cancelled_.load(); }
  // Renames, or copies and removes across file systems. Refuses an existing destination.
  virtual bool moveItemAtPath(const std::string& source, const std::string& destination, NSError* error = nullptr);
  // Removes a file, link or whole folder. On failure part of a folder may already be gone.
  virtual bool removeItemAtPath(const std::string& path, NSError* error = nullptr);

  // Writes the file atomically (a whole new file or the old one), replacing what was there.
  virtual bool createFileAtPath(const std::string& path, const Data& contents, NSError* error = nullptr);
  virtual std::optional<Data> contentsAtPath(const std::string& path, NSError* error = nullptr);

  // The volume's size and free space (statvfs); nothing when the path cannot be asked about.
  virtual std::optional<NSFileSystemAttributes> attributesOfFileSystemForPath(const std::string& path,
                                                                              NSError* error = nullptr);

 private:
  std::atomic<bool> cancelled_{false};
};

// What a stop in the middle of a copy can leave in the destination's folder, and what the next
// start does about it. The names are hidden siblings of the destination <name>:
//   ".<name>.harbor-partial-<random>"  a copy still being made: removed;
//   ".<name>.harbor-aside-<random>"    the old item set aside while a folder was replaced: put
//                                      back when <name> is missing, else removed.
enum class NSInterruptedCopyAction { RemovedPartialCopy, PutBackSetAside, RemovedSetAside };
struct NSInterruptedCopy {
  std::string path;  // the leftover
  NSInterruptedCopyAction action;
};
// Tidies one folder (not below it). Missing or unreadable folders give nothing. Not while
// copies into the folder may be running.
std::vector<NSInterruptedCopy> recoverInterruptedCopies(const std::string& folder);
// The hidden sibling names above, with a fresh random part; exposed so that tests can make
// what a stop leaves behind.
std::string partialCopyPathFor(const std::string& destination);
std::string setAsidePathFor(const std::string& destination);

// The start-up sweep of a sandbox home. Every temporary this project's writes and copies make
// is a hidden sibling of its file, under one of these names, and a stop (SIGKILL included) can
// leave one behind:
//   ".hbr-XXXXXX"                      a whole new content (writeFileContentsAtomically, the
//                                      page's writes and downloads; mkstemp's six letters or
//                                      digits);
//   ".hbr-undo-XXXXXX"                 an undo record of a change made in a file itself
//                                      (FileWrites.h): the file is put back as it was before
//                                      the change, then the record removed (a record cut short,
//                                      or one whose file is gone or was replaced, is removed
//                                      alone; one that cannot be applied now stays for the next
//                                      start);
//   ".download-XXXXXX"                 a file transfer's download (older versions);
//   ".<name>.harbor-partial-<random>"  a copy still being made (12 hexadecimal digits);
//   ".<name>.harbor-aside-<random>"    an item set aside while it was replaced: put back when
//                                      <name> is missing, else removed;
//   ".hbr-replaced-<uuid>"             an entry set aside by a File move (older versions);
//   ".<name>.recording"                a sound recording not yet renamed over <name>.
// The sweep walks the whole folder (symbolic links are listed, never followed), acts on exactly
// these names and leaves everything else alone: a store's own files (a journal, say) are never
// touched. What it finds it does not descend into. Only at start, before anything writes.
enum class NSSweptLeftoverAction { Removed, PutBack, Undone };
struct NSSweptLeftover {
  std::string path;  // the leftover, as it was found
  NSSweptLeftoverAction action;
  std::string file;  // Undone: the file put back as it was
};
// Whether a file name is one of the temporaries above.
bool isInterruptedWriteName(std::string_view name);
// Sweeps the folder (the sandbox home) and says what it did, in walking order. A folder that
// cannot be read is skipped; a missing home gives nothing.
std::vector<NSSweptLeftover> sweepInterruptedWrites(const std::string& folder);

// Whole-file helpers with the same errors. The write goes to a temporary file in the same
// folder, is flushed, and then renamed over path, so readers see the old file or the new one.
// The name is replaced, a link included; the file it named lends the new one its permissions,
// owner and extended attributes (a new file gets newFileMode(): 0666 less the umask). For the
// page's files, which keep their links, see FileWrites.h.
std::optional<std::string> readFileContents(const std::string& path, NSError* error = nullptr);
bool writeFileContentsAtomically(const std::string& path, std::string_view bytes, NSError* error = nullptr);

}  // namespace plat
