#include "HBRFileTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <regex>

#include "HBRFileTransferDelegate.h"
#include "HBRLocalFilesystem.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSStream.h"
#include "plat/foundation/NSURLConnection.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIApplication.h"

namespace harbor {
namespace {

using plat::Value;

// The text a page value gives when asked for one: strings as they are, numbers in decimal,
// booleans as 1 and 0; nothing for other kinds.
std::optional<std::string> stringValueOf(const Value& value) {
  if (value.isString()) return value.asString();
  if (value.isBool()) return std::string(value.asBool() ? "1" : "0");
  if (value.isNumber()) return value.description();
  return std::nullopt;
}

bool isToken(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (c <= 0x20 || c >= 0x7f || std::string_view("()<>@,;:\\\"/[]?={}").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  return true;
}

bool holdsLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A quoted form-data name or file name must not end its quotes or its line early.
std::string escapeQuoted(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '"') out += "%22";
    else if (c == '\r') out += "%0D";
    else if (c == '\n') out += "%0A";
    else out += c;
  }
  return out;
}

// A part's header value must not end its line early either: the page's MIME type with CR, LF
// and NUL written as escapes, so it cannot add header lines of its own to the file part.
std::string escapeHeaderValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "%0D";
    else if (c == '\n') out += "%0A";
    else if (c == '\0') out += "%00";
    else out += c;
  }
  return out;
}

void append(plat::Data& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

// Writes the run whole; the last write's result (<= 0 when the stream gave up).
long writeRun(const plat::NSOutputStreamPtr& stream, const std::uint8_t* bytes, std::size_t size) {
  long result = 1;
  for (std::size_t done = 0; done < size;) {
    result = stream->write(bytes + done, size - done);
    if (result < 0) {
      auto error = stream->streamError();
      plat::NSLogf("WriteStreamError domain: %ld error: %ld", error && error->domain == plat::NSPOSIXErrorDomain ? 1L : 0L,
                   error ? error->code : 0L);
      return result;
    }
    if (result == 0) return 0;
    done += static_cast<std::size_t>(result);
  }
  return result;
}

// A range a file system opened, as a request body: the connection reads it a piece at a time
// straight into what it sends, so an upload holds no more of its file than that piece.
class FileReaderInputStream : public plat::NSInputStream {
 public:
  explicit FileReaderInputStream(HBRFileReaderPtr reader) : reader_(std::move(reader)) {}
  bool open() override { return true; }
  // The reader stays until the stream goes: a close from another thread (a stopped load) must
  // not take it from under a read.
  void close() override { closed_ = true; }
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (closed_) return 0;
    long n = reader_->read(offset_, buffer, maxLength);
    if (n < 0) {
      failed_ = true;
      return -1;
    }
    offset_ += static_cast<std::uint64_t>(n);
    return n;
  }
  std::optional<plat::NSError> streamError() const override {
    if (!failed_) return std::nullopt;
    return plat::NSError{plat::NSPOSIXErrorDomain, EIO, "The file could not be read", Value()};
  }

 private:
  HBRFileReaderPtr reader_;
  std::uint64_t offset_ = 0;
  std::atomic<bool> closed_{false};
  std::atomic<bool> failed_{false};
};

std::optional<std::string> realPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (!::realpath(path.c_str(), resolved)) return std::nullopt;
  return std::string(resolved);
}

}  // namespace

HBRFileTransfer::HBRFileTransfer() {
  registerAction("upload", &HBRFileTransfer::upload);
  registerAction("download", &HBRFileTransfer::download);
  registerAction("abort", &HBRFileTransfer::abort);
}

void HBRFileTransfer::pluginInitialize() {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  activeTransfers_.clear();
}

HBRFilePtr HBRFileTransfer::filePlugin() {
  auto delegate = commandDelegate();
  return delegate ? std::dynamic_pointer_cast<HBRFile>(delegate->getCommandInstance("File")) : nullptr;
}

plat::NSOperationQueuePtr HBRFileTransfer::queue() {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  if (!queue_) queue_ = std::make_shared<plat::NSOperationQueue>();
  return queue_;
}

std::vector<HBRFileTransferDelegatePtr> HBRFileTransfer::activeTransfers() const {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  return activeTransfers_;
}

HBRFileTransferDelegatePtr HBRFileTransfer::transferForObjectId(const std::string& objectId) const {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  for (auto it = activeTransfers_.rbegin(); it != activeTransfers_.rend(); ++it)
    if ((*it)->objectId == objectId) return *it;
  return nullptr;
}

bool HBRFileTransfer::removeTransfer(const HBRFileTransferDelegate* transfer) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  for (auto it = activeTransfers_.begin(); it != activeTransfers_.end(); ++it) {
    if (it->get() != transfer) continue;
    auto task = (*it)->backgroundTaskID.exchange(plat::UIBackgroundTaskInvalid);
    if (task != plat::UIBackgroundTaskInvalid) plat::UIApplication::sharedApplication()->endBackgroundTask(task);
    activeTransfers_.erase(it);
    return true;
  }
  return false;
}

plat::Dictionary HBRFileTransfer::createFileTransferError(std::int32_t code, const std::optional<std::string>& source,
                                                          const std::optional<std::string>& target) {
  plat::Dictionary error;
  error.set("code", Value(static_cast<std::int64_t>(code)));
  if (source) error.set("source", Value(*source));
  if (target) error.set("target", Value(*target));
  plat::NSLogf("FileTransferError %s", Value(error).description().c_str());
  return error;
}

plat::Dictionary HBRFileTransfer::createFileTransferError(std::int32_t code, const std::optional<std::string>& source,
                                                          const std::optional<std::string>& target,
                                                          std::int32_t httpStatus,
                                                          const std::optional<std::string>& body) {
  plat::Dictionary error;
  error.set("code", Value(static_cast<std::int64_t>(code)));
  if (source) error.set("source", Value(*source));
  if (target) error.set("target", Value(*target));
  error.set("http_status", Value(static_cast<std::int64_t>(httpStatus)));
  if (body) error.set("body", Value(*body));
  plat::NSLogf("FileTransferError %s", Value(error).description().c_str());
  return error;
}

std::string HBRFileTransfer::escapePathComponentForUrlString(const std::string& urlString) {
  static const std::regex authority("://.*?/");
  std::smatch match;
  if (!std::regex_search(urlString, match, authority)) return urlString;
  std::size_t split = static_cast<std::size_t>(match.position(0) + match.length(0));
  // What a URL may hold as it is (the reserved characters) stays; everything else is escaped.
  return urlString.substr(0, split) + plat::percentEscape(urlString.substr(split), "/:?#[]@!$&'()*+,;=");
}

void HBRFileTransfer::sendError(const HBRInvokedUrlCommandPtr& command, HBRCommandStatus status,
                                const plat::Dictionary& error) {
  if (auto delegate = commandDelegate())
    delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsDictionary(status, error), command->callbackId());
}

void HBRFileTransfer::applyRequestHeaders(const Value& headers, const plat::NSMutableURLRequestPtr& request) {
  request->setValueForHTTPHeaderField("XMLHttpRequest", "X-Requested-With");
  if (auto delegate = commandDelegate()) {
    std::string agent = delegate->userAgent();
    if (!agent.empty()) request->setValueForHTTPHeaderField(agent, "User-Agent");
  }
  if (!headers.isDictionary()) return;
  for (const auto& [name, given] : headers.asDictionary()) {
    Value value = given.isNil() ? Value("null") : given;
    plat::Array elements = value.isArray() ? value.asArray() : plat::Array{value};
    std::vector<std::string> texts;
    for (const auto& element : elements)
      if (auto text = stringValueOf(element)) texts.push_back(*text);
    bool unsafe = !isToken(name);
    for (const auto& text : texts) unsafe = unsafe || holdsLineBreakOrNul(text);
    if (unsafe) {
      // A line break would let the page write header fields (or a whole request) of its own.
      plat::NSLogf("File Transfer: header dropped, its name or value is not allowed in a request: %s",
                   plat::sanitizeUTF8(name).c_str());
      continue;
    }
    request->setValueForHTTPHeaderField(std::nullopt, name);
    for (const auto& text : texts) request->addValueForHTTPHeaderField(text, name);
  }
}

// ---- Upload ------------------------------------------------------------------------------------

void HBRFileTransfer::upload(const HBRInvokedUrlCommandPtr& command) { fileDataForUploadCommand(command); }

void HBRFileTransfer::fileDataForUploadCommand(const HBRInvokedUrlCommandPtr& command) {
  std::string source = command->argumentAtIndex(0).stringOr();
  std::string server = command->argumentAtIndex(1).stringOr();
  auto fail = [&](std::int32_t code) {
    sendError(command, HBRCommandStatus::Error, createFileTransferError(code, source, server));
  };

  if (plat::startsWith(source, "data:") && plat::contains(source, "base64")) {
    std::size_t comma = source.find(',');
    if (comma == std::string::npos) return fail(INVALID_URL_ERR);
    // Characters outside the alphabet are ignored, as the page's own decoder would.
    std::string compact;
    for (char c : source.substr(comma + 1))
      if (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/') compact += c;
    if (compact.size() % 4 == 1) compact.pop_back();
    while (compact.size() % 4 != 0) compact += '=';
    HBRUploadSource bytes;
    bytes.bytes = plat::base64Decode(compact);
    if (bytes.bytes) bytes.length = bytes.bytes->size();
    return uploadData(bytes, command);
  }

  auto files = filePlugin();
  if (files) {
    auto url = HBRFilesystemURL::fileSystemURLWithString(source);
    if (auto fileSystem = url ? files->filesystemForURL(url) : nullptr) {
      // A file of a folder of the device is streamed from disk. Any other file system's is
      // opened by that file system and read from it as the body goes out: the photo library's
      // paths name no file on disk.
      auto local = std::dynamic_pointer_cast<HBRLocalFilesystem>(fileSystem);
      if (auto path = local ? local->filesystemPathForURL(url) : std::nullopt) {
        struct stat st {};
        if (::stat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return fail(FILE_NOT_FOUND_ERR);
        HBRUploadSource file;
        file.path = *path;
        file.length = static_cast<std::uint64_t>(st.st_size);
        return uploadData(file, command);
      }
      std::weak_ptr<HBRFileTransfer> weak = self<HBRFileTransfer>();
      fileSystem->openFileAtURL(url, 0, -1,
                                [weak, command, source, server](HBRFileReaderPtr reader, std::optional<std::string>,
                                                                std::int32_t error) {
                                  auto self = weak.lock();
                                  if (!self) return;
                                  if (error != 0 || !reader) {
                                    self->sendError(command, HBRCommandStatus::Error,
                                                    self->createFileTransferError(FILE_NOT_FOUND_ERR, source, server));
                                    return;
                                  }
                                  HBRUploadSource file;
                                  file.length = reader->length();
                                  file.reader = std::move(reader);
                                  self->uploadData(file, command);
                                });
      return;
    }
  }

  std::string path = source;
  if (!plat::startsWith(source, "/")) {
    auto url = plat::NSURL::URLWithString(source);
    path = url ? url->path() : "";
  }
  if (path.empty()) return fail(FILE_NOT_FOUND_ERR);
  // Only what some file system holds may leave the device: the sandbox home and the bundle.
  auto resolved = realPath(path);
  struct stat st {};
  std::string why;
  if (!resolved || ::stat(resolved->c_str(), &st) != 0) why = "No such file or directory";
  else if (!S_ISREG(st.st_mode)) why = "Not a regular file";
  else if (!files || !files->fileSystemURLforLocalPath(*resolved)) why = "Outside the application's file systems";
  if (!why.empty()) {
    plat::NSLogf("Error opening file %s: %s", source.c_str(), why.c_str());
    return fail(FILE_NOT_FOUND_ERR);
  }
  HBRUploadSource file;
  file.path = *resolved;
  file.length = static_cast<std::uint64_t>(st.st_size);
  uploadData(file, command);
}

void HBRFileTransfer::uploadData(const HBRUploadSource& source, const HBRInvokedUrlCommandPtr& command) {
  auto request = requestForUploadCommand(command, source);
  if (!request) return;
  startTransfer(delegateForUploadCommand(command), request);
}

HBRFileTransferDelegatePtr HBRFileTransfer::delegateForUploadCommand(const HBRInvokedUrlCommandPtr& command) {
  auto transfer = std::make_shared<HBRFileTransferDelegate>();
  transfer->command = self<HBRFileTransfer>();
  transfer->callbackId = command->callbackId();
  transfer->direction = TRANSFER_UPLOAD;
  const Value& objectId = command->argumentAtIndex(9);
  if (objectId.isString()) transfer->objectId = objectId.asString();
  transfer->source = command->argumentAtIndex(0).stringOr();
  transfer->target = command->argumentAtIndex(1).stringOr();
  transfer->trustAllHosts = command->argumentAtIndex(6, Value(false)).isBool() && command->argumentAtIndex(6).asBool();
  transfer->filePlugin = filePlugin();
  return transfer;
}

plat::NSMutableURLRequestPtr HBRFileTransfer::requestForUploadCommand(const HBRInvokedUrlCommandPtr& command,
                                                                       const HBRUploadSource& source) {
  std::string sourceText = command->argumentAtIndex(0).stringOr();
  std::string server = command->argumentAtIndex(1).stringOr();
  std::string fileKey = command->argumentAtIndex(2, Value("file")).stringOr("file");
  std::string fileName = command->argumentAtIndex(3, Value("image.jpg")).stringOr("image.jpg");
  Value mimeType = command->argumentAtIndex(4, Value("image/jpeg"));
  Value params = command->argumentAtIndex(5);
  bool trustAllHosts = command->argumentAtIndex(6).isBool() && command->argumentAtIndex(6).asBool();
  Value chunked = command->argumentAtIndex(7, Value(true));
  bool chunkedMode = !chunked.isBool() || chunked.asBool();
  Value headers = command->argumentAtIndex(8);
  std::string method = command->argumentAtIndex(10, Value("POST")).stringOr("POST");

  auto url = plat::NSURL::URLWithString(server);
  if (!url) {
    plat::NSLogf("File Transfer Error: Invalid server URL %s", server.c_str());
    sendError(command, HBRCommandStatus::Error, createFileTransferError(INVALID_URL_ERR, sourceText, server));
    return nullptr;
  }
  if (!source.present()) {
    sendError(command, HBRCommandStatus::Error, createFileTransferError(FILE_NOT_FOUND_ERR, sourceText, server));
    return nullptr;
  }
  if (!isToken(method)) {
    // A method is written into the request line as it is: anything but a token would rewrite it.
    plat::NSLogf("File Transfer Error: Invalid HTTP method %s", plat::sanitizeUTF8(method).c_str());
    sendError(command, HBRCommandStatus::Error, createFileTransferError(CONNECTION_ERR, sourceText, server));
    return nullptr;
  }

  auto request = plat::NSMutableURLRequest::requestWithURL(url);
  request->setHTTPMethod(method);
  request->setAllowsAnyHTTPSCertificate(trustAllHosts);
  if (params.isDictionary()) {
    if (const Value* cookie = params.asDictionary().find("__cookie")) {
      if (auto text = stringValueOf(*cookie)) request->setValueForHTTPHeaderField(*text, "Cookie");
      request->setHTTPShouldHandleCookies(false);
    }
  }
  bool multipart = !(headers.isDictionary() && headers.asDictionary().contains("Content-Type"));
  if (multipart) request->setValueForHTTPHeaderField(plat::format("multipart/form-data; boundary=%s", kHBRFormBoundary),
                                                     "Content-Type");
  applyRequestHeaders(headers, request);

  plat::Data before;
  if (params.isDictionary()) {
    for (const auto& [key, value] : params.asDictionary()) {
      if (key == "__cookie" || value.isNil()) continue;
      auto text = stringValueOf(value);
      if (!text) continue;
      append(before, plat::format("--%s\r\n", kHBRFormBoundary));
      append(before, "Content-Disposition: form-data; name=\"" + escapeQuoted(key) + "\"\r\n\r\n");
      append(before, *text);
      append(before, "\r\n");
    }
  }
  append(before, plat::format("--%s\r\n", kHBRFormBoundary));
  append(before, "Content-Disposition: form-data; name=\"" + escapeQuoted(fileKey) + "\"; filename=\"" +
                     escapeQuoted(fileName) + "\"\r\n");
  if (auto type = stringValueOf(mimeType)) append(before, "Content-Type: " + escapeHeaderValue(*type) + "\r\n");
  append(before, plat::format("Content-Length: %llu\r\n\r\n", static_cast<unsigned long long>(source.length)));
  plat::Data after;
  append(after, plat::format("\r\n--%s--\r\n", kHBRFormBoundary));

  std::uint64_t total = multipart ? before.size() + source.length + after.size() : source.length;
  request->setValueForHTTPHeaderField(std::to_string(total), "Content-Length");

  if (!source.bytes) {
    // A file is read by the connection itself as the body goes out, in either mode (the wire
    // is the same, the length stated first): no copy of it in memory and no writer thread
    // between the file and the socket.
    auto file = source.reader ? std::make_shared<FileReaderInputStream>(source.reader)
                              : plat::NSInputStream::inputStreamWithFileAtPath(source.path);
    if (!file) {
      plat::NSLogf("Error opening file %s: %s", sourceText.c_str(), "Could not read the file");
      sendError(command, HBRCommandStatus::Error, createFileTransferError(FILE_NOT_FOUND_ERR, sourceText, server));
      return nullptr;
    }
    std::vector<plat::NSInputStreamPtr> parts;
    if (multipart) parts.push_back(plat::NSInputStream::inputStreamWithData(std::move(before)));
    parts.push_back(file);
    if (multipart) parts.push_back(plat::NSInputStream::inputStreamWithData(std::move(after)));
    request->setHTTPBodyStream(plat::NSInputStream::inputStreamWithStreams(std::move(parts)));
  } else if (chunkedMode) {
    auto [input, output] = plat::CFStreamCreateBoundPair(kHBRStreamBufferSize);
    request->setHTTPBodyStream(input);
    auto writer = [output = output, before = std::move(before), after = std::move(after), source, multipart] {
      if (!output->open()) {
        plat::NSLog("FileTransfer: Failed to open writeStream");
        return;
      }
      auto writeBytes = [&](const plat::Data& bytes) {
        return bytes.empty() || writeRun(output, bytes.data(), bytes.size()) > 0;
      };
      auto writeSource = [&] { return writeBytes(*source.bytes); };
      if (multipart) {
        (void)(writeBytes(before) && writeSource() && writeBytes(after));
      } else {
        writeSource();
      }
      output->close();
    };
    if (auto delegate = commandDelegate())
      delegate->runInBackground(std::move(writer));
    else
      plat::dispatch::GlobalQueue::shared().async(std::move(writer));
  } else {
    plat::Data body;
    if (multipart) body = std::move(before);
    body.insert(body.end(), source.bytes->begin(), source.bytes->end());
    if (multipart) body.insert(body.end(), after.begin(), after.end());
    request->setHTTPBody(std::move(body));
  }
  return request;
}

// ---- Download ----------------------------------------------------------------------------------

void HBRFileTransfer::download(const HBRInvokedUrlCommandPtr& command) {
  std::string source = command->argumentAtIndex(0).stringOr();
  std::string target = command->argumentAtIndex(1).stringOr();
  auto files = filePlugin();
  plat::NSURLPtr targetURL;
  if (plat::startsWith(target, "/")) {
    std::string path = target;
    for (std::size_t at; (at = path.find("//")) != std::string::npos;) path.replace(at, 2, "/");
    if (auto url = files ? files->fileSystemURLforLocalPath(path) : nullptr) targetURL = url->url();
  } else {
    targetURL = plat::NSURL::URLWithString(target);
  }
  auto sourceURL = plat::NSURL::URLWithString(source);
  if (!sourceURL) {
    plat::NSLogf("File Transfer Error: Invalid server URL %s", source.c_str());
    sendError(command, HBRCommandStatus::Error, createFileTransferError(INVALID_URL_ERR, source, target));
    return;
  }
  if (sourceURL->isFileURL()) {
    // A local source under the rule an upload's follows: only what some file system holds (the
    // sandbox home and the bundle), links resolved, and the resolved file is what is read.
    auto resolved = realPath(sourceURL->path());
    std::string why;
    if (!resolved) why = "No such file or directory";
    else if (!files || !files->fileSystemURLforLocalPath(*resolved)) why = "Outside the application's file systems";
    else if (!plat::NSURL::fileURLWithPath(*resolved)) why = "Not a usable path";
    if (!why.empty()) {
      plat::NSLogf("Error opening file %s: %s", source.c_str(), why.c_str());
      sendError(command, HBRCommandStatus::Error, createFileTransferError(FILE_NOT_FOUND_ERR, source, target));
      return;
    }
    sourceURL = plat::NSURL::fileURLWithPath(*resolved);
  }
  auto request = plat::NSMutableURLRequest::requestWithURL(sourceURL);
  bool trustAllHosts = command->argumentAtIndex(2).isBool() && command->argumentAtIndex(2).asBool();
  request->setAllowsAnyHTTPSCertificate(trustAllHosts);
  applyRequestHeaders(command->argumentAtIndex(4), request);

  auto transfer = std::make_shared<HBRFileTransferDelegate>();
  transfer->command = self<HBRFileTransfer>();
  transfer->direction = TRANSFER_DOWNLOAD;
  transfer->callbackId = command->callbackId();
  if (command->argumentAtIndex(3).isString()) transfer->objectId = command->argumentAtIndex(3).asString();
  transfer->source = source;
  transfer->target = targetURL ? targetURL->absoluteString() : "";
  transfer->targetURL = targetURL;
  transfer->trustAllHosts = trustAllHosts;
  transfer->filePlugin = files;
  startTransfer(transfer, request);
}

void HBRFileTransfer::startTransfer(const HBRFileTransferDelegatePtr& transfer, const plat::NSURLRequestPtr& request) {
  std::weak_ptr<HBRFileTransferDelegate> weak = transfer;
  transfer->backgroundTaskID = plat::UIApplication::sharedApplication()->beginBackgroundTaskWithExpirationHandler([weak] {
    if (auto expiring = weak.lock()) expiring->cancelTransfer();
  });
  auto connection = std::make_shared<plat::NSURLConnection>();
  connection->initWithRequestDelegateStartImmediately(request, transfer, false);
  transfer->connection = connection;
  connection->setDelegateQueue(queue());
  {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    activeTransfers_.push_back(transfer);
  }
  connection->start();
}

void HBRFileTransfer::abort(const HBRInvokedUrlCommandPtr& command) {
  const Value& objectId = command->argumentAtIndex(0);
  if (!objectId.isString()) return;
  auto transfer = transferForObjectId(objectId.asString());
  // Only the call that ends the transfer answers for it: a transfer that finished first has
  // already sent its one result.
  if (!transfer || !transfer->cancelTransfer()) return;
  auto result = HBRPluginResult::resultWithStatusMessageAsDictionary(
      HBRCommandStatus::Error, createFileTransferError(CONNECTION_ABORTED, transfer->source, transfer->target));
  // Posted, not answered at once from this action: progress the transfer sent from its queue
  // just before it ended already waits on the main loop, and reaches the page first.
  std::weak_ptr<HBRCommandDelegate> weak = commandDelegate();
  plat::dispatch::mainAsync([weak, result, callbackId = transfer->callbackId] {
    if (auto delegate = weak.lock()) delegate->sendPluginResult(result, callbackId);
  });
}

void HBRFileTransfer::onReset() {
  for (const auto& transfer : activeTransfers()) transfer->cancelTransfer();
}

}  // namespace harbor
