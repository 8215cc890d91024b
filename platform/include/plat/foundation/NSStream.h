#pragma once
// Byte streams for request bodies: an input stream is a pull source (read until 0 = end),
// an output stream a sink. A bound pair joins an output stream to an input stream through a
// fixed buffer, so a writer on one thread feeds a reader on another without ever holding more
// than the buffer: a write blocks while the buffer is full, a read while it is empty.
//
// Threads: one reader and one writer, each on any thread; close() from any thread wakes both.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

class NSInputStream;
class NSOutputStream;
using NSInputStreamPtr = std::shared_ptr<NSInputStream>;
using NSOutputStreamPtr = std::shared_ptr<NSOutputStream>;

// The domain of stream errors that carry a POSIX error number as their code.
inline constexpr char NSPOSIXErrorDomain[] = "NSPOSIXErrorDomain";

class NSInputStream : public Object {
 public:
  // Reads the bytes from memory.
  static NSInputStreamPtr inputStreamWithData(Data data);
  // Reads the file at the path a piece at a time; null when it cannot be opened.
  static NSInputStreamPtr inputStreamWithFileAtPath(const std::string& path);
  // Reads each stream to its end in turn (a form's text around a file read from disk).
  static NSInputStreamPtr inputStreamWithStreams(std::vector<NSInputStreamPtr> streams);

  virtual bool open() = 0;
  virtual void close() = 0;
  // Up to maxLength bytes into buffer: the count read, 0 at the end, -1 on an error.
  virtual long read(std::uint8_t* buffer, std::size_t maxLength) = 0;
  // Set after a read returned -1.
  virtual std::optional<NSError> streamError() const = 0;
};

class NSOutputStream : public Object {
 public:
  virtual bool open() = 0;
  virtual void close() = 0;
  // Up to length bytes: the count written (at least 1 unless length is 0), or -1 when the
  // stream failed or the other end has gone.
  virtual long write(const std::uint8_t* buffer, std::size_t length) = 0;
  virtual std::optional<NSError> streamError() const = 0;
};

// An input and an output stream bound through a buffer of bufferSize bytes. Closing the input
// makes later writes fail (EPIPE); closing the output ends the input once the buffer is read.
std::pair<NSInputStreamPtr, NSOutputStreamPtr> CFStreamCreateBoundPair(std::size_t bufferSize);

}  // namespace plat
