#include "HBRFileTransferDelegate.h"

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "HBRFileTransfer.h"
#include "plat/foundation/FileWrites.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

using plat::Value;

std::optional<std::string> decodeUTF8(const plat::Data& data) {
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (!plat::isValidUTF8(text)) return std::nullopt;
  return std::string(text);
}

// UTF-8, else each byte as the Latin-1 character.
std::string decodeText(const plat::Data& data) {
  if (auto text = decodeUTF8(data)) return *text;
  std::string out;
  for (std::uint8_t byte : data) plat::appendUTF8(out, byte);
  return out;
}

// Where a folder will lie once its missing parts are made: its deepest existing folder with the
// links resolved, then the missing names. Walked by component, from the whole path up to "/"
// (which always exists), so the walk ends by construction. Nothing for a relative path, a
// missing name that is "." or "..", or a folder that cannot be resolved at all.
std::optional<std::string> plannedLocation(const std::string& folder) {
  if (!plat::isAbsolutePath(folder)) return std::nullopt;
  std::vector<std::string> names = plat::pathComponents(folder);
  if (!names.empty() && names.front() == "/") names.erase(names.begin());
  char resolved[PATH_MAX];
  for (std::size_t existing = names.size() + 1; existing-- > 0;) {
    std::string prefix = "/";
    for (std::size_t i = 0; i < existing; ++i) prefix = plat::stringByAppendingPathComponent(prefix, names[i]);
    if (!::realpath(prefix.c_str(), resolved)) continue;
    std::string planned = resolved;
    for (std::size_t i = existing; i < names.size(); ++i) {
      if (names[i] == "." || names[i] == "..") return std::nullopt;
      planned = plat::stringByAppendingPathComponent(planned, names[i]);
    }
    return planned;
  }
  return std::nullopt;
}

// Whether a target's path, as written, ends in "/" (a query after it aside).
bool namesFolder(const std::string& target) {
  if (plat::startsWith(target, "/")) return target.back() == '/';
  auto url = plat::NSURL::URLWithString(target);
  return url && !url->rawPath().empty() && url->rawPath().back() == '/';
}

}  // namespace

// ---- Length request ----------------------------------------------------------------------------

void HBRFileTransferEntityLengthRequest::initWithOriginalRequest(const plat::NSURLRequestPtr& request,
                                                                 const std::shared_ptr<HBRFileTransferDelegate>& delegate,
                                                                 const plat::NSOperationQueuePtr& queue) {
  auto head = request->mutableCopy();
  head->setHTTPMethod("HEAD");
  head->setValueForHTTPHeaderField("identity", "Accept-Encoding");
  delegate_ = delegate;
  connection_ = std::make_shared<plat::NSURLConnection>();
  // A weak hop, so the connection (which keeps its delegate while it runs) does not keep this.
  connection_->initWithRequestDelegateStartImmediately(head, std::static_pointer_cast<HBRFileTransferEntityLengthRequest>(shared_from_this()), false);
  // The transfer's own queue, so the length and the data are never counted at once.
  connection_->setDelegateQueue(queue);
  connection_->start();
}

void HBRFileTransferEntityLengthRequest::cancel() {
  if (connection_) connection_->cancel();
}

void HBRFileTransferEntityLengthRequest::connectionDidReceiveResponse(plat::NSURLConnection&,
                                                                      const plat::NSURLResponsePtr& response) {
  if (auto delegate = delegate_.lock()) delegate->updateBytesExpected(response->expectedContentLength());
}

// ---- Transfer ----------------------------------------------------------------------------------

HBRFileTransferDelegate::~HBRFileTransferDelegate() = default;

plat::Dictionary HBRFileTransferDelegate::errorWith(std::int32_t code, const std::optional<std::string>& body) {
  return command->createFileTransferError(code, source, target, responseCode, body);
}

bool HBRFileTransferDelegate::claimEnd() {
  std::lock_guard<std::mutex> lock(resultMutex_);
  if (ended_) return false;
  ended_ = true;
  return true;
}

void HBRFileTransferDelegate::sendProgress(plat::Dictionary progress) {
  auto result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(progress));
  result->setKeepCallbackAsBool(true);
  std::lock_guard<std::mutex> lock(resultMutex_);
  // Under the lock, so a final result sent from another thread cannot overtake it.
  if (ended_) return;
  if (auto delegate = command->commandDelegate()) delegate->sendPluginResult(result, callbackId);
}

bool HBRFileTransferDelegate::sendFinal(const HBRPluginResultPtr& result) {
  if (!claimEnd()) return false;
  sendClaimed(result);
  return true;
}

void HBRFileTransferDelegate::sendClaimed(const HBRPluginResultPtr& result) {
  if (auto delegate = command->commandDelegate()) delegate->sendPluginResult(result, callbackId);
  if (entityLengthRequest) entityLengthRequest->cancel();
  command->removeTransfer(this);
}

bool HBRFileTransferDelegate::cancelTransfer() {
  if (!claimEnd()) return false;
  if (connection) connection->cancel();
  command->removeTransfer(this);
  // The length request and the file belong to the queue; tidy them there, after any report
  // that is already running.
  auto self = std::static_pointer_cast<HBRFileTransferDelegate>(shared_from_this());
  command->queue()->addOperationWithBlock([self] {
    if (self->entityLengthRequest) self->entityLengthRequest->cancel();
    self->staged_.discard();
  });
  return true;
}

void HBRFileTransferDelegate::cancelTransferWithError(const std::string& message) {
  auto result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::IOException,
                                                                     errorWith(FILE_NOT_FOUND_ERR, message));
  plat::NSLogf("File Transfer Error: %s", plat::logEscaped(message).c_str());
  if (connection) connection->cancel();
  staged_.discard();
  sendFinal(result);
}

std::optional<std::string> HBRFileTransferDelegate::targetFilePath() {
  // A target that ends in "/" names a folder, in whichever form it comes; the parsed forms drop
  // that "/", and a file named after the folder would be made in its place.
  if (namesFolder(target)) return std::nullopt;
  std::optional<std::string> path;
  auto url = HBRFilesystemURL::fileSystemURLWithString(target);
  if (url && url->fileSystemName()) {
    if (auto fileSystem = filePlugin ? filePlugin->filesystemForURL(url) : nullptr)
      path = fileSystem->filesystemPathForURL(url);
  } else if (plat::startsWith(target, "/")) {
    path = target;
  } else if (auto parsed = plat::NSURL::URLWithString(target); parsed && !parsed->path().empty()) {
    path = parsed->path();
  }
  // Only an absolute path names a file: a relative one would land wherever the process runs.
  if (!path || !plat::isAbsolutePath(*path) || path->back() == '/') return std::nullopt;
  return path;
}

void HBRFileTransferDelegate::connectionDidReceiveResponse(plat::NSURLConnection& conn,
                                                           const plat::NSURLResponsePtr& response) {
  mimeType = response->MIMEType();
  staged_.discard();
  if (auto http = std::dynamic_pointer_cast<plat::NSHTTPURLResponse>(response)) {
    responseCode = static_cast<std::int32_t>(http->statusCode());
    bytesExpected = http->expectedContentLength();
    responseHeaders = plat::Dictionary();
    for (const auto& [name, value] : http->allHeaderFields()) {
      if (Value* existing = responseHeaders.find(name))
        *existing = Value(existing->asString() + ", " + value);
      else
        responseHeaders.set(name, Value(value));
    }
    if (direction == TRANSFER_DOWNLOAD && responseCode == 200 && bytesExpected == -1) {
      entityLengthRequest = std::make_shared<HBRFileTransferEntityLengthRequest>();
      entityLengthRequest->initWithOriginalRequest(
          conn.currentRequest(), std::static_pointer_cast<HBRFileTransferDelegate>(shared_from_this()), command->queue());
    }
  } else {
    responseCode = 200;
    bytesExpected = response->expectedContentLength();
  }
  if (direction != TRANSFER_DOWNLOAD || responseCode < 200 || responseCode > 299) return;

  auto path = targetFilePath();
  if (!path) return cancelTransferWithError("Could not create target file");
  std::string parent = plat::stringByDeletingLastPathComponent(*path);
  std::string name = plat::lastPathComponent(*path);
  // Confined before anything is made: a target outside every file system, in a read-only one
  // or behind a link out of one makes no folder at all.
  auto planned = plannedLocation(parent);
  if (name == "." || name == ".." || !planned || !filePlugin ||
      !filePlugin->isWritableLocalPath(plat::stringByAppendingPathComponent(*planned, name)))
    return cancelTransferWithError("Could not create target file");
  plat::NSError folderError;
  if (!plat::NSFileManager::defaultManager().createDirectoryAtPath(*planned, true, &folderError)) {
    return cancelTransferWithError("Could not create path to save downloaded file: " +
                                   folderError.localizedDescription);
  }
  // The folder as it really is now (a link made meanwhile may not carry the file out either),
  // and the file a link in the target's place names: the download is written through it.
  char resolved[PATH_MAX];
  auto location = ::realpath(planned->c_str(), resolved)
                      ? plat::fileWriteLocation(plat::stringByAppendingPathComponent(resolved, name))
                      : std::nullopt;
  if (!location || !filePlugin->isWritableLocalPath(*location))
    return cancelTransferWithError("Could not create target file");
  targetPath_ = *location;
  // Written beside the target and put in its place once whole: what stood there stays until then.
  plat::NSError stageError;
  if (!staged_.begin(targetPath_, &stageError)) {
    plat::NSLog("File Transfer Error: " + plat::logEscaped(stageError.localizedDescription));
    return cancelTransferWithError("Could not create target file");
  }
}

void HBRFileTransferDelegate::connectionDidReceiveData(plat::NSURLConnection&, const plat::Data& data) {
  bytesTransfered += static_cast<std::int64_t>(data.size());
  if (staged_.isOpen()) {
    if (!staged_.append(data.data(), data.size())) return cancelTransferWithError("Could not write to target file");
  } else {
    responseData.insert(responseData.end(), data.begin(), data.end());
  }
  updateProgress();
}

void HBRFileTransferDelegate::updateBytesExpected(std::int64_t expected) {
  bytesExpected = expected;
  updateProgress();
}

void HBRFileTransferDelegate::updateProgress() {
  if (direction != TRANSFER_DOWNLOAD) return;
  if (bytesExpected == -1 && entityLengthRequest) return;
  plat::Dictionary progress;
  progress.set("lengthComputable", Value(bytesExpected != -1));
  progress.set("loaded", Value(bytesTransfered));
  progress.set("total", Value(bytesExpected));
  sendProgress(std::move(progress));
}

void HBRFileTransferDelegate::connectionDidSendBodyData(plat::NSURLConnection&, std::int64_t,
                                                        std::int64_t totalBytesWritten,
                                                        std::int64_t totalBytesExpectedToWrite) {
  if (direction == TRANSFER_UPLOAD) {
    plat::Dictionary progress;
    progress.set("lengthComputable", Value(true));
    progress.set("loaded", Value(totalBytesWritten));
    progress.set("total", Value(totalBytesExpectedToWrite));
    sendProgress(std::move(progress));
  }
  bytesTransfered = totalBytesWritten;
}

void HBRFileTransferDelegate::connectionDidFinishLoading(plat::NSURLConnection&) {
  plat::NSLogf("File Transfer Finished with response code %d", responseCode);
  HBRPluginResultPtr result;
  if (direction == TRANSFER_UPLOAD) {
    std::string text = decodeText(responseData);
    if (responseCode >= 200 && responseCode <= 299) {
      plat::Dictionary answer;
      answer.set("response", Value(text));
      answer.set("headers", Value(responseHeaders));
      answer.set("bytesSent", Value(bytesTransfered));
      answer.set("responseCode", Value(static_cast<std::int64_t>(responseCode)));
      result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(answer));
    } else {
      result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::Error, errorWith(CONNECTION_ERR, text));
    }
  } else if (staged_.isOpen()) {
    // Claimed before the file is put in place: an abort that came first keeps what stood at the
    // target, and one that comes later finds the transfer over.
    if (!claimEnd()) return;
    plat::NSError error;
    if (!staged_.commit(&error)) {
      plat::NSLog("File Transfer Error: Could not write to target file: " +
                  plat::logEscaped(error.localizedDescription));
      return sendClaimed(HBRPluginResult::resultWithStatusMessageAsDictionary(
          HBRCommandStatus::IOException, errorWith(FILE_NOT_FOUND_ERR, std::string("Could not write to target file"))));
    }
    auto entry = filePlugin && targetURL ? filePlugin->makeEntryForURL(targetURL) : std::nullopt;
    if (!entry) entry = filePlugin ? filePlugin->getDirectoryEntry(targetPath_, false) : std::nullopt;
    return sendClaimed(
        HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, entry.value_or(plat::Dictionary())));
  } else {
    std::int32_t code = responseCode == 404 ? FILE_NOT_FOUND_ERR : responseCode == 304 ? NOT_MODIFIED_ERR : CONNECTION_ERR;
    result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::Error,
                                                                  errorWith(code, decodeText(responseData)));
  }
  sendFinal(result);
}

void HBRFileTransferDelegate::connectionDidFailWithError(plat::NSURLConnection&, const plat::NSError& error) {
  auto body = decodeUTF8(responseData);
  if (body && body->empty()) body.reset();
  auto result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::Error, errorWith(CONNECTION_ERR, body));
  plat::NSLogf("File Transfer Error: %s", error.localizedDescription.c_str());
  staged_.discard();
  sendFinal(result);
}

}  // namespace harbor
