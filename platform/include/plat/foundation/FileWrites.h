#pragma once
// How the contents of a page's file change where the file stands: the one rule that the File
// plugin's writes (at any position) and a download's target follow.
//
// A write changes the file that its path names once the path's symbolic links are followed
// (fileWriteLocation; the caller confines that location), and keeps everything else about that
// file: its permissions, owner and extended attributes (the mark that excludes it from backup
// among them), every hard link to it and every symbolic link that leads to it. It is whole or
// nothing at every position: a failure leaves the file as it was, and so does a stop at any
// moment (SIGKILL included) once the next start has swept the home (sweepInterruptedWrites).
//
//   - A missing file is written whole under a temporary name beside it (".hbr-XXXXXX") and
//     renamed into place, only while the name is still free, with the permissions of a new
//     file (newFileMode).
//   - A regular file with one name whose contents are replaced whole (a write at position 0, a
//     download) gets the same temporary, which takes the file's permissions, owner and extended
//     attributes and is then renamed over it: readers see the old file or the new one.
//   - Any other change of a regular file (one that keeps the file's beginning, or of a file
//     with several hard links, which a rename would split) is made in the file itself, after
//     the bytes it overwrites or cuts off, and the file's length, are kept in an undo record
//     beside it (".hbr-undo-XXXXXX", flushed to disk first). The record is removed once the
//     change is on disk. A change that fails is undone from it at once; one that a stop cut
//     short is undone by the next start's sweep (undoInterruptedWrite). Such a change costs what
//     it overwrites, not the whole file: an append to a long file copies nothing of it.
//   - Anything that is not a regular file (a folder, pipe, socket or device) is refused and
//     left as it is.
// Both ways need a new file beside the file, so in a folder that takes no new file every write
// is refused, at every position, and the file is left as it was. A change of the length alone
// (empty bytes) is one system call, which no stop can cut in half: it needs no record.
//
// Writers of one path take turns, in this process and in others that follow this rule, whether
// or not the file exists yet: a change of an existing file holds an exclusive flock on it, and
// a new file takes its name only while no file stands there (a rename that refuses an existing
// name), so of two writers that both found no file, the second one finds the first one's file
// and makes its change there, as if it had come after it. Nothing is locked or left beside the
// file for it. Readers may see a change in the file itself while it is made. Any thread.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/NSError.h"

namespace plat {

// The file a write to path changes: path with its folders' links resolved and a final symbolic
// link followed, link after link (a dangling one gives the file the write would make). Nothing
// for a relative path, a loop of links or a folder that cannot be resolved.
std::optional<std::string> fileWriteLocation(const std::string& path);

// The permissions of a new file: 0666 less the process's umask, as open(2) makes a file. Every
// file and folder a page makes follows the umask this way (folders from 0777).
mode_t newFileMode();

// A position that means the end of the file, whatever its length then.
inline constexpr std::uint64_t kFileWriteAtEnd = std::numeric_limits<std::uint64_t>::max();

// Puts bytes at position in the file at path (a location as above: no link is followed here),
// dropping whatever followed; a position past the end fills the gap with zero bytes. A missing
// file is made holding the bytes (before them there is nothing to keep). Empty bytes cut (or
// extend) an existing file to position and make nothing. Refused: anything but a regular file
// and a position past what a file can hold. Errors as the file manager's (a full disk is
// NSFileWriteOutOfSpaceError), saying why.
bool writeFileContentsAtPosition(const std::string& path, std::uint64_t position, std::string_view bytes,
                                 NSError* error = nullptr);

// New contents for a file, built up in a temporary file beside it and put in place by the rule
// above once whole (a download). Discarded unless committed. One thread at a time.
class StagedFileContents {
 public:
  StagedFileContents() = default;
  ~StagedFileContents() { discard(); }
  StagedFileContents(const StagedFileContents&) = delete;
  StagedFileContents& operator=(const StagedFileContents&) = delete;

  // Makes the temporary file beside path (a location as above). Refuses a path that names
  // anything but a regular file, and a folder that takes no new file.
  bool begin(const std::string& path, NSError* error = nullptr);
  bool append(const void* bytes, std::size_t size, NSError* error = nullptr);
  // Puts the contents in place; the temporary file is gone afterwards, whatever the outcome.
  bool commit(NSError* error = nullptr);
  // Removes the temporary file; nothing changes at path.
  void discard();
  bool isOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
};

// The start-up sweep's part (see sweepInterruptedWrites). Whether a file name is an undo record's.
bool isUndoRecordName(std::string_view name);
enum class NSUndoOutcome {
  Undone,     // the file is as it was before the write: remove the record
  Discarded,  // nothing to undo (a record cut short, or its file gone or replaced): remove it
  Kept,       // the file could not be put back now: keep the record for the next start
};
// Puts the file that the undo record at recordPath was made for back as it was; file receives
// that file's path.
NSUndoOutcome undoInterruptedWrite(const std::string& recordPath, std::string* file = nullptr);

}  // namespace plat
