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
// The methods are virtual so that a test can fail one of them on purpose; everything else uses
// defaultManager(). Any thread: the calls keep no state.
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

  // With intermediates, missing parents are created and an existing folder is success.
  virtual bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                     NSError* error = nullptr);
  // Copies a file, symbolic link or whole folder. Refuses an existing destination
  // (NSFileWriteFileExistsError), a missing parent of the destination, a folder copied into
  // itself and items that are neither files, folders nor links (pipes, sockets, devices).
  // Modification dates and permissions are preserved. A copy that fails part-way removes what
  // it created, so the destination is either whole or absent.
  virtual bool copyItemAtPath(const std::string& source, const std::string& destination, NSError* error = nullptr);
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
};

// Whole-file helpers with the same errors. The write goes to a temporary file in the same
// folder, is flushed, and then renamed over path, so readers see the old file or the new one.
std::optional<std::string> readFileContents(const std::string& path, NSError* error = nullptr);
bool writeFileContentsAtomically(const std::string& path, std::string_view bytes, NSError* error = nullptr);

}  // namespace plat
