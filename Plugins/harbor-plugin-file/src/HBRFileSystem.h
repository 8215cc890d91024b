#pragma once
// What every file system of the File plugin offers: the local ones over a directory of the
// device and the photo library. Operations that answer the page return a HBRPluginResult; those
// with a callback call it exactly once, possibly later and on another thread.
//
// The entry dictionary that names an entry to the page has exactly six keys:
//   "isFile", "isDirectory" (booleans, opposites), "fullPath" (a directory's ends with "/"),
//   "name" (last component), "filesystemName", "nativeURL" (the entry's URL on the device,
//   after the file system's URL transformer).
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "HBRFileError.h"
#include "HBRFilesystemURL.h"
#include "HBRPluginResult.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Value.h"

namespace harbor {

class HBRFileSystem;
using HBRFileSystemPtr = std::shared_ptr<HBRFileSystem>;

// Applied to the native URL of every entry a file system makes (the registry sets it).
using HBRURLTransformer = std::function<plat::NSURLPtr(const plat::NSURLPtr&)>;
// Receives one result.
using HBRResultCallback = std::function<void(HBRPluginResultPtr)>;
// Receives the bytes and the MIME type (each may be missing) and an error code, 0 on success.
using HBRReadCallback =
    std::function<void(std::optional<plat::Data> data, std::optional<std::string> mimeType, std::int32_t error)>;

// A range of a file opened for reading a piece at a time: its bytes are [0, length()).
// Read from one thread at a time; the file stays open until the reader is let go.
class HBRFileReader {
 public:
  virtual ~HBRFileReader() = default;
  // Known when the reader was opened; a file that grows meanwhile is read no further.
  virtual std::uint64_t length() const = 0;
  // Up to size bytes at offset into buffer: the count, 0 past the end (or when the file has
  // shrunk), -1 when the read fails.
  virtual long read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) = 0;
};
using HBRFileReaderPtr = std::shared_ptr<HBRFileReader>;
// Receives the reader (or nothing), the MIME type (may be missing) and an error code, 0 on success.
using HBROpenCallback =
    std::function<void(HBRFileReaderPtr reader, std::optional<std::string> mimeType, std::int32_t error)>;

class HBRFileSystem {
 public:
  virtual ~HBRFileSystem() = default;

  // Status 1 with the entry of the URL, or an error.
  virtual HBRPluginResultPtr entryForLocalURI(const HBRFilesystemURLPtr& url) = 0;
  // Looks up or creates requestedPath below the directory url. Options: the numbers "create",
  // "exclusive" and "getDir", each optional.
  virtual HBRPluginResultPtr getFileForURL(const HBRFilesystemURLPtr& url, const std::optional<std::string>& requestedPath,
                                           const plat::Dictionary& options) = 0;
  virtual HBRPluginResultPtr getParentForURL(const HBRFilesystemURLPtr& url) = 0;
  virtual HBRPluginResultPtr setMetadataForURL(const HBRFilesystemURLPtr& url, const plat::Dictionary& metadata) = 0;
  // A file or an empty directory.
  virtual HBRPluginResultPtr removeFileAtURL(const HBRFilesystemURLPtr& url) = 0;
  // A file or a directory with everything in it.
  virtual HBRPluginResultPtr recursiveRemoveFileAtURL(const HBRFilesystemURLPtr& url) = 0;
  virtual HBRPluginResultPtr readEntriesAtURL(const HBRFilesystemURLPtr& url) = 0;
  virtual HBRPluginResultPtr truncateFileAtURL(const HBRFilesystemURLPtr& url, std::uint64_t position) = 0;
  virtual HBRPluginResultPtr writeToFileAtURL(const HBRFilesystemURLPtr& url, const plat::Data& data, bool append) = 0;
  // The write action's change: data put at position, whatever followed dropped (a position past
  // the end fills the gap with zero bytes; empty data only cuts). Status 1 with the byte count.
  // Here as its two steps, a cut whose answer is dropped and an append, for file systems that
  // take no writes; a local file system makes it one change, whole or not at all.
  virtual HBRPluginResultPtr writeToFileAtURLAtPosition(const HBRFilesystemURLPtr& url, const plat::Data& data,
                                                        std::uint64_t position) {
    truncateFileAtURL(url, position);
    return writeToFileAtURL(url, data, true);
  }
  // Copies (copy true) or moves the entry srcURL of srcFs into the directory destURL of this
  // file system under newName.
  virtual void copyFileToURL(const HBRFilesystemURLPtr& destURL, const std::optional<std::string>& newName,
                             const HBRFileSystemPtr& srcFs, const HBRFilesystemURLPtr& srcURL, bool copy,
                             HBRResultCallback callback) = 0;
  // Bytes [start, end); an end below 0 reads to the end of the file.
  virtual void readFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                             HBRReadCallback callback) = 0;
  // The same range as readFileAtURL, opened to be read a piece at a time (the hbrfile loader,
  // reads that must know the length first), so that no read has to hold a whole file. The
  // callback runs when readFileAtURL's would, with the same error codes. By default the range is
  // read whole and served from memory, for file systems that can only do that.
  virtual void openFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                             HBROpenCallback callback);
  virtual void getFileMetadataForURL(const HBRFilesystemURLPtr& url, HBRResultCallback callback) = 0;
  // The entry of an existing item, or nothing.
  virtual std::optional<plat::Dictionary> makeEntryForLocalURL(const HBRFilesystemURLPtr& url) = 0;
  // The entry for a full path, without looking at the disk.
  virtual plat::Dictionary makeEntryForPath(const std::string& fullPath, bool isDirectory) = 0;

  virtual std::string name() const = 0;
  virtual void setName(std::string name) = 0;
  virtual HBRURLTransformer urlTransformer() const = 0;
  virtual void setUrlTransformer(HBRURLTransformer transformer) = 0;

  // Optional: the local path of the entry, or nothing (also when the file system has no local
  // paths at all).
  virtual std::optional<std::string> filesystemPathForURL(const HBRFilesystemURLPtr& url) { return std::nullopt; }
  // Optional: the URL of this file system for a local path, or nothing.
  virtual HBRFilesystemURLPtr URLforFilesystemPath(const std::string& path) { return nullptr; }
};

// Asked after each piece of a whole read with the bytes in so far: 0 to go on, or the error
// code to stop the read with (an answer that would grow past what may be sent).
using HBRPieceCheck = std::function<std::int32_t(std::string_view in)>;
// The reader's whole range in memory, read a piece at a time; nothing, with error set, when a
// read fails (NOT_FOUND_ERR), the memory cannot be had (NOT_READABLE_ERR: the file is too large
// to be read so, logged) or the check stops it (its code). A file that shrank meanwhile gives
// what it still holds. Bytes is plat::Data or std::string: a text is read straight into the
// string that answers with it.
template <class Bytes = plat::Data>
std::optional<Bytes> readWholeRange(HBRFileReader& reader, std::int32_t& error, const HBRPieceCheck& check = {});
extern template std::optional<plat::Data> readWholeRange(HBRFileReader&, std::int32_t&, const HBRPieceCheck&);
extern template std::optional<std::string> readWholeRange(HBRFileReader&, std::int32_t&, const HBRPieceCheck&);
// readFileAtURL for a file system that opens ranges: the range opened, then read whole.
void readThroughReader(HBRFileSystem& fileSystem, const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                       HBRReadCallback callback);

// The name and URL transformer that every file system keeps, readable from any thread while the
// registry sets them.
class HBRFileSystemIdentity : public HBRFileSystem {
 public:
  std::string name() const override {
    std::lock_guard lock(identityMutex_);
    return name_;
  }
  void setName(std::string name) override {
    std::lock_guard lock(identityMutex_);
    name_ = std::move(name);
  }
  HBRURLTransformer urlTransformer() const override {
    std::lock_guard lock(identityMutex_);
    return urlTransformer_;
  }
  void setUrlTransformer(HBRURLTransformer transformer) override {
    std::lock_guard lock(identityMutex_);
    urlTransformer_ = std::move(transformer);
  }

 protected:
  // The text of a native URL after the transformer; "" for no URL.
  std::string transformedURLText(plat::NSURLPtr url) const {
    if (auto transformer = urlTransformer(); transformer && url) url = transformer(url);
    return url ? url->absoluteString() : std::string();
  }

 private:
  mutable std::mutex identityMutex_;
  std::string name_;
  HBRURLTransformer urlTransformer_;
};

}  // namespace harbor
