#include "HBRFileSystem.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <unistd.h>

#include "plat/foundation/Log.h"

namespace harbor {
namespace {

// Bytes already in memory, served as a reader.
class DataReader : public HBRFileReader {
 public:
  explicit DataReader(plat::Data bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t length() const override { return bytes_.size(); }
  long read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
    if (offset >= bytes_.size()) return 0;
    std::size_t count = std::min<std::uint64_t>(size, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, count);
    return static_cast<long>(count);
  }

 private:
  plat::Data bytes_;
};

// What one read asks of the file at a time when each piece is checked: large enough to cost
// nothing per call, small enough that the check stops a read early.
constexpr std::size_t kWholeReadPiece = 1024 * 1024;

}  // namespace

void HBRFileSystem::openFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                                  HBROpenCallback callback) {
  readFileAtURL(url, start, end,
                [callback](std::optional<plat::Data> data, std::optional<std::string> mimeType, std::int32_t error) {
                  if (error != 0 || !data) return callback(nullptr, std::move(mimeType), error ? error : NOT_FOUND_ERR);
                  callback(std::make_shared<DataReader>(std::move(*data)), std::move(mimeType), 0);
                });
}

template <class Bytes>
std::optional<Bytes> readWholeRange(HBRFileReader& reader, std::int32_t& error, const HBRPieceCheck& check) {
  // A range larger than memory (a sparse file of a terabyte costs a page nothing to make) is a
  // read the runner cannot hold: refused, never an abort. One larger than the machine's memory
  // is not even asked for.
  auto refuse = [&] {
    plat::NSLog("File: a read of " + std::to_string(reader.length()) + " bytes was refused: not enough memory");
    error = NOT_READABLE_ERR;
    return std::nullopt;
  };
  static const std::uint64_t machineMemory =
      static_cast<std::uint64_t>(::sysconf(_SC_PHYS_PAGES)) * static_cast<std::uint64_t>(::sysconf(_SC_PAGE_SIZE));
  if (reader.length() > machineMemory || reader.length() > SIZE_MAX) return refuse();
  auto length = static_cast<std::size_t>(reader.length());
  Bytes bytes;
  try {
    // Reserved, not filled: memory is touched only as far as pieces come in, so a read that
    // the check stops early holds no more than it read.
    bytes.reserve(length);
  } catch (const std::bad_alloc&) {
    return refuse();
  }
  std::size_t have = 0;
  while (have < length) {
    // Without a check the rest is asked for at once, as a plain read of the file would.
    std::size_t piece = check ? std::min(kWholeReadPiece, length - have) : length - have;
    bytes.resize(have + piece);
    long n = reader.read(have, reinterpret_cast<std::uint8_t*>(bytes.data()) + have, piece);
    if (n < 0) {
      error = NOT_FOUND_ERR;
      return std::nullopt;
    }
    bytes.resize(have + static_cast<std::size_t>(n));
    if (n == 0) break;  // the file has shrunk meanwhile: what it still holds
    have += static_cast<std::size_t>(n);
    if (std::int32_t stop = check ? check({reinterpret_cast<const char*>(bytes.data()), have}) : 0) {
      error = stop;
      return std::nullopt;
    }
  }
  error = 0;
  return bytes;
}

template std::optional<plat::Data> readWholeRange(HBRFileReader&, std::int32_t&, const HBRPieceCheck&);
template std::optional<std::string> readWholeRange(HBRFileReader&, std::int32_t&, const HBRPieceCheck&);

void readThroughReader(HBRFileSystem& fileSystem, const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                       HBRReadCallback callback) {
  fileSystem.openFileAtURL(
      url, start, end, [callback](HBRFileReaderPtr reader, std::optional<std::string> mimeType, std::int32_t error) {
        if (!reader) return callback(std::nullopt, std::move(mimeType), error);
        auto bytes = readWholeRange(*reader, error);
        callback(std::move(bytes), std::move(mimeType), error);
      });
}

}  // namespace harbor
