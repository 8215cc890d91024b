#include "plat/foundation/NSStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace plat {
namespace {

NSError posixError(int number) {
  return NSError{NSPOSIXErrorDomain, number, std::strerror(number), Value()};
}

class DataInputStream : public NSInputStream {
 public:
  explicit DataInputStream(Data data) : data_(std::move(data)) {}
  bool open() override { return true; }
  void close() override {}
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    std::size_t n = std::min(maxLength, data_.size() - offset_);
    if (n) std::memcpy(buffer, data_.data() + offset_, n);
    offset_ += n;
    return static_cast<long>(n);
  }
  std::optional<NSError> streamError() const override { return std::nullopt; }

 private:
  Data data_;
  std::size_t offset_ = 0;
};

// Reads hold the lock, so a close from another thread cannot pull the descriptor from under a
// read (reads of a regular file are short).
class FileInputStream : public NSInputStream {
 public:
  explicit FileInputStream(int fd) : fd_(fd) {}
  ~FileInputStream() override { close(); }
  bool open() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return fd_ >= 0;
  }
  void close() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) return 0;
    for (;;) {
      ssize_t n = ::read(fd_, buffer, maxLength);
      if (n >= 0) return static_cast<long>(n);
      if (errno == EINTR) continue;
      error_ = posixError(errno);
      return -1;
    }
  }
  std::optional<NSError> streamError() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }

 private:
  mutable std::mutex mutex_;
  int fd_;
  std::optional<NSError> error_;
};

class JoinedInputStream : public NSInputStream {
 public:
  explicit JoinedInputStream(std::vector<NSInputStreamPtr> parts) : parts_(std::move(parts)) {}
  bool open() override {
    for (const auto& part : parts_)
      if (!part->open()) return false;
    return true;
  }
  void close() override {
    for (const auto& part : parts_) part->close();
  }
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    while (current_ < parts_.size()) {
      long n = parts_[current_]->read(buffer, maxLength);
      if (n != 0) {
        if (n < 0) error_ = parts_[current_]->streamError();
        return n;
      }
      ++current_;
    }
    return 0;
  }
  std::optional<NSError> streamError() const override { return error_; }

 private:
  std::vector<NSInputStreamPtr> parts_;
  std::size_t current_ = 0;
  std::optional<NSError> error_;
};

// The ring buffer both ends of a bound pair share.
struct BoundBuffer {
  explicit BoundBuffer(std::size_t size) : bytes(std::max<std::size_t>(size, 1)) {}
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::uint8_t> bytes;
  std::size_t head = 0;  // next byte to read
  std::size_t count = 0;
  bool writerClosed = false;
  bool readerClosed = false;
};

class BoundInputStream : public NSInputStream {
 public:
  explicit BoundInputStream(std::shared_ptr<BoundBuffer> buffer) : buffer_(std::move(buffer)) {}
  ~BoundInputStream() override { close(); }
  bool open() override { return true; }
  void close() override {
    std::lock_guard<std::mutex> lock(buffer_->mutex);
    buffer_->readerClosed = true;
    buffer_->changed.notify_all();
  }
  long read(std::uint8_t* out, std::size_t maxLength) override {
    BoundBuffer& b = *buffer_;
    std::unique_lock<std::mutex> lock(b.mutex);
    // Waiting for half a buffer (or all that was asked) saves a thread switch per few bytes.
    std::size_t enough = std::max<std::size_t>(1, std::min(maxLength, b.bytes.size() / 2));
    b.changed.wait(lock, [&] { return b.count >= enough || b.writerClosed || b.readerClosed; });
    if (b.count == 0 || b.readerClosed) return 0;
    std::size_t n = std::min(maxLength, b.count);
    for (std::size_t done = 0; done < n;) {
      std::size_t run = std::min(n - done, b.bytes.size() - b.head);
      std::memcpy(out + done, b.bytes.data() + b.head, run);
      b.head = (b.head + run) % b.bytes.size();
      done += run;
    }
    b.count -= n;
    b.changed.notify_all();
    return static_cast<long>(n);
  }
  std::optional<NSError> streamError() const override { return std::nullopt; }

 private:
  std::shared_ptr<BoundBuffer> buffer_;
};

class BoundOutputStream : public NSOutputStream {
 public:
  explicit BoundOutputStream(std::shared_ptr<BoundBuffer> buffer) : buffer_(std::move(buffer)) {}
  ~BoundOutputStream() override { close(); }
  bool open() override {
    std::lock_guard<std::mutex> lock(buffer_->mutex);
    return !buffer_->readerClosed;
  }
  void close() override {
    std::lock_guard<std::mutex> lock(buffer_->mutex);
    buffer_->writerClosed = true;
    buffer_->changed.notify_all();
  }
  long write(const std::uint8_t* in, std::size_t length) override {
    BoundBuffer& b = *buffer_;
    std::unique_lock<std::mutex> lock(b.mutex);
    if (length == 0) return 0;
    std::size_t room = std::max<std::size_t>(1, std::min(length, b.bytes.size() / 2));
    b.changed.wait(lock, [&] { return b.bytes.size() - b.count >= room || b.readerClosed || b.writerClosed; });
    if (b.readerClosed || b.writerClosed) {
      error_ = posixError(EPIPE);
      return -1;
    }
    std::size_t n = std::min(length, b.bytes.size() - b.count);
    std::size_t tail = (b.head + b.count) % b.bytes.size();
    for (std::size_t done = 0; done < n;) {
      std::size_t run = std::min(n - done, b.bytes.size() - tail);
      std::memcpy(b.bytes.data() + tail, in + done, run);
      tail = (tail + run) % b.bytes.size();
      done += run;
    }
    b.count += n;
    b.changed.notify_all();
    return static_cast<long>(n);
  }
  std::optional<NSError> streamError() const override {
    std::lock_guard<std::mutex> lock(buffer_->mutex);
    return error_;
  }

 private:
  std::shared_ptr<BoundBuffer> buffer_;
  std::optional<NSError> error_;
};

}  // namespace

NSInputStreamPtr NSInputStream::inputStreamWithData(Data data) {
  return std::make_shared<DataInputStream>(std::move(data));
}

NSInputStreamPtr NSInputStream::inputStreamWithFileAtPath(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_shared<FileInputStream>(fd);
}

NSInputStreamPtr NSInputStream::inputStreamWithStreams(std::vector<NSInputStreamPtr> streams) {
  return std::make_shared<JoinedInputStream>(std::move(streams));
}

std::pair<NSInputStreamPtr, NSOutputStreamPtr> CFStreamCreateBoundPair(std::size_t bufferSize) {
  auto buffer = std::make_shared<BoundBuffer>(bufferSize);
  return {std::make_shared<BoundInputStream>(buffer), std::make_shared<BoundOutputStream>(buffer)};
}

}  // namespace plat
