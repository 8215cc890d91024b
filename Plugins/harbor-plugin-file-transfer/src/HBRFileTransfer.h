#pragma once
// The file transfer plugin (service "FileTransfer"): uploads a file to an HTTP(S) server as a
// multipart form (or as a bare body) and downloads a URL into a file, with progress.
//
// Page actions (main thread; arguments by position, "default" when missing or null):
//   upload [source, server, fileKey="file", fileName="image.jpg", mimeType="image/jpeg",
//           params={}, trustAllHosts=false, chunkedMode=true, headers={}, objectId,
//           httpMethod="POST"]
//       source: a path, a file: or hbrfile: URL, an assets-library: URL (read a piece at a
//       time through the photo library's own file system), or a data URL with "base64". A
//       file of any size is read as the body goes out, in either mode. Progress results
//       (status 1, keep-callback) {"lengthComputable": true, "loaded", "total"} as the body goes
//       out; then one final result: status 1 {"response", "headers", "bytesSent",
//       "responseCode"}, or status 9 (6 for a target-file failure) with a transfer error.
//       At once: 9 with code 1 (unreadable source, or a path outside every file system),
//       code 2 (bad server URL, data URL without a comma), code 3 (a method that is no HTTP
//       token).
//   download [source, target, trustAllHosts=false, objectId, headers={}]
//       target: an absolute path, or a file: or hbrfile: URL. Progress results as data arrives
//       ("lengthComputable" false and "total" -1 while the length is unknown); then status 1
//       with the File plugin's entry of the target, or a transfer error. The file is written
//       to a temporary sibling and put in the target's place only when the whole body is in,
//       by the rule the File plugin's writes follow (plat/foundation/FileWrites.h: through a
//       link, keeping the file's permissions, attributes and hard links; a new file, and each
//       folder made for it, as the umask leaves 0666 and 0777); any failure or abort leaves
//       what stood at the target as it was. A target that names no file (a relative path, a
//       folder, one that ends in "/", a pipe) fails with 6 {code 1, "Could not create target
//       file"} when the response comes.
//   abort [objectId]
//       nothing to its own callback; the transfer's callback gets 9 with code 4 on a later
//       turn, after any progress already sent, unless the transfer had already sent its final
//       result.
// Every transfer sends exactly one final result; no progress follows it. A page load (reset)
// and an expired background task cancel their transfers without any result.
//
// Transfer error (the message of a failure): {"code", "source", "target", "http_status",
// "body"}, each present as described in HBRFileTransferDelegate.h; logged as
// "FileTransferError <dictionary>".
//
// Threads: actions on the main thread; connection reports on the plugin's own operation
// queue; a file is read on the connection's own thread as it sends, a data URL's bytes written
// into their stream on the global queue; results may be sent from any of them.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "HBRFile.h"
#include "HBRPlugin.h"
#include "plat/foundation/NSOperationQueue.h"
#include "plat/foundation/NSURLRequest.h"

namespace harbor {

class HBRFileTransferDelegate;
using HBRFileTransferDelegatePtr = std::shared_ptr<HBRFileTransferDelegate>;

enum HBRFileTransferError : std::int32_t {
  FILE_NOT_FOUND_ERR = 1,
  INVALID_URL_ERR = 2,
  CONNECTION_ERR = 3,
  CONNECTION_ABORTED = 4,
  NOT_MODIFIED_ERR = 5,
};

enum HBRFileTransferDirection : std::int32_t {
  TRANSFER_UPLOAD = 1,
  TRANSFER_DOWNLOAD = 2,
};

inline constexpr char kHBRFormBoundary[] = "+++++org.harbor.formBoundary";
inline constexpr std::size_t kHBRStreamBufferSize = 32768;

// What an upload sends: bytes already in memory, or a file read as the body goes out, in either
// mode (so no file is ever held whole): one on disk by its path, or a range its file system
// opened (the photo library's).
struct HBRUploadSource {
  std::optional<plat::Data> bytes;
  std::string path;
  HBRFileReaderPtr reader;
  std::uint64_t length = 0;
  bool present() const { return bytes.has_value() || !path.empty() || reader; }
};

class HBRFileTransfer : public HBRPlugin {
 public:
  HBRFileTransfer();

  void pluginInitialize() override;
  // Cancels every live transfer, without results.
  void onReset() override;

  void upload(const HBRInvokedUrlCommandPtr& command);
  void download(const HBRInvokedUrlCommandPtr& command);
  void abort(const HBRInvokedUrlCommandPtr& command);

  // Upload steps: resolve the source, build the request, start the transfer.
  void fileDataForUploadCommand(const HBRInvokedUrlCommandPtr& command);
  void uploadData(const HBRUploadSource& source, const HBRInvokedUrlCommandPtr& command);
  // The request, or null after the page has had its error.
  plat::NSMutableURLRequestPtr requestForUploadCommand(const HBRInvokedUrlCommandPtr& command,
                                                        const HBRUploadSource& source);
  HBRFileTransferDelegatePtr delegateForUploadCommand(const HBRInvokedUrlCommandPtr& command);
  // "X-Requested-With", "User-Agent", then the page's headers (which replace those of the same
  // name). A header whose name is no token or whose name or value holds CR, LF or NUL is dropped
  // with a log line.
  void applyRequestHeaders(const plat::Value& headers, const plat::NSMutableURLRequestPtr& request);

  plat::Dictionary createFileTransferError(std::int32_t code, const std::optional<std::string>& source,
                                           const std::optional<std::string>& target);
  plat::Dictionary createFileTransferError(std::int32_t code, const std::optional<std::string>& source,
                                           const std::optional<std::string>& target, std::int32_t httpStatus,
                                           const std::optional<std::string>& body);
  // Everything after the first "://.../" percent-escaped as UTF-8.
  static std::string escapePathComponentForUrlString(const std::string& urlString);

  // The table of live transfers. Any thread.
  std::vector<HBRFileTransferDelegatePtr> activeTransfers() const;
  // The live transfer the page knows by this id (the newest, when one id was used twice).
  HBRFileTransferDelegatePtr transferForObjectId(const std::string& objectId) const;
  // Removes exactly this transfer and ends its background task; false when it was not there.
  bool removeTransfer(const HBRFileTransferDelegate* transfer);
  plat::NSOperationQueuePtr queue();
  HBRFilePtr filePlugin();

 private:
  void startTransfer(const HBRFileTransferDelegatePtr& transfer, const plat::NSURLRequestPtr& request);
  void sendError(const HBRInvokedUrlCommandPtr& command, HBRCommandStatus status, const plat::Dictionary& error);

  mutable std::recursive_mutex lock_;  // guards activeTransfers_ and queue_
  std::vector<HBRFileTransferDelegatePtr> activeTransfers_;
  plat::NSOperationQueuePtr queue_;
};

}  // namespace harbor
