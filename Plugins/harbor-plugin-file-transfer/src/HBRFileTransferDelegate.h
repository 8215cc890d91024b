#pragma once
// One running upload or download: the connection's delegate. It writes a download into a
// temporary sibling of its target and puts it in the target's place when the body is complete,
// by the rule the File plugin's writes follow (plat/foundation/FileWrites.h: through a link to
// the file it names, keeping that file's permissions, attributes and hard links; a new file
// takes what the umask leaves of 0666), counts bytes, sends progress and the one final result,
// and leaves the plugin's table when it ends.
//
// Final results (a transfer sends exactly one, or none when it is cancelled silently):
//   finish  upload 2xx: status 1 {"response", "headers", "bytesSent", "responseCode"}
//           ("bytesSent" counts the body and the response's bytes);
//           upload other status: 9 {code 3, source, target, http_status, body};
//           download 2xx: status 1 with the target's entry;
//           download 404 / 304 / other: 9 with code 1 / 5 / 3, http_status and body.
//   failure 9 {code 3, http_status (0 without a response), body when it is UTF-8};
//           "File Transfer Error: <description>" logged. A body cut short is a failure.
//   target  6 {code 1, http_status, body: "Could not create target file",
//           "Could not create path to save downloaded file[: <error>]",
//           "Could not open target file for writing" or "Could not write to target file"}.
// A download whose 200 response states no length sends a HEAD request ("Accept-Encoding"
// "identity") for it and holds progress back until it answers; it is cancelled when the
// transfer ends.
//
// Threads: connection reports on the plugin's queue; cancelTransfer from any thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "HBRFile.h"
#include "HBRPluginResult.h"
#include "plat/foundation/FileWrites.h"
#include "plat/foundation/NSURLConnection.h"
#include "plat/uikit/UIApplication.h"

namespace harbor {

class HBRFileTransfer;
class HBRFileTransferDelegate;

// Asks the server for the length of a download whose response did not state it.
class HBRFileTransferEntityLengthRequest : public plat::Object, public plat::NSURLConnectionDataDelegate {
 public:
  // Sends the HEAD request at once; its report comes on the queue the transfer runs on.
  void initWithOriginalRequest(const plat::NSURLRequestPtr& request,
                               const std::shared_ptr<HBRFileTransferDelegate>& delegate,
                               const plat::NSOperationQueuePtr& queue);
  void cancel();
  void connectionDidReceiveResponse(plat::NSURLConnection& connection, const plat::NSURLResponsePtr& response) override;

 private:
  plat::NSURLConnectionPtr connection_;
  std::weak_ptr<HBRFileTransferDelegate> delegate_;
};

class HBRFileTransferDelegate : public plat::Object, public plat::NSURLConnectionDataDelegate {
 public:
  HBRFileTransferDelegate() = default;
  ~HBRFileTransferDelegate() override;

  // Connection reports (the plugin's queue).
  void connectionDidReceiveResponse(plat::NSURLConnection& connection, const plat::NSURLResponsePtr& response) override;
  void connectionDidReceiveData(plat::NSURLConnection& connection, const plat::Data& data) override;
  void connectionDidSendBodyData(plat::NSURLConnection& connection, std::int64_t bytesWritten,
                                 std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) override;
  void connectionDidFinishLoading(plat::NSURLConnection& connection) override;
  void connectionDidFailWithError(plat::NSURLConnection& connection, const plat::NSError& error) override;

  // Ends the transfer without a result: stops the connection, leaves the table, ends the
  // background task, removes the temporary file. True when this call ended it (false when it had
  // already sent its final result or been cancelled).
  bool cancelTransfer();
  // Ends it with status 6, code 1 and the message as "body".
  void cancelTransferWithError(const std::string& message);

  // The local path of the download target, or nothing when it cannot be one: no absolute path
  // (a relative one, "x/y.bin" or "file:rel.bin", names no file of the sandbox) or a folder.
  std::optional<std::string> targetFilePath();
  void updateBytesExpected(std::int64_t expected);
  void updateProgress();

  // Set by the plugin before the connection starts.
  std::shared_ptr<HBRFileTransfer> command;
  std::int32_t direction = 0;
  plat::NSURLConnectionPtr connection;
  std::optional<std::string> callbackId;
  std::optional<std::string> objectId;
  std::string source;
  std::string target;
  plat::NSURLPtr targetURL;
  bool trustAllHosts = false;
  HBRFilePtr filePlugin;
  std::atomic<plat::UIBackgroundTaskIdentifier> backgroundTaskID{plat::UIBackgroundTaskInvalid};

  // Kept as the transfer runs (queue only).
  plat::Data responseData;
  plat::Dictionary responseHeaders;
  std::string mimeType;
  std::int32_t responseCode = 0;
  std::int64_t bytesTransfered = 0;
  std::int64_t bytesExpected = -1;
  std::shared_ptr<HBRFileTransferEntityLengthRequest> entityLengthRequest;

 private:
  // Sends a progress result unless the transfer has ended.
  void sendProgress(plat::Dictionary progress);
  // Sends the final result when no other end came first; then leaves the table.
  bool sendFinal(const HBRPluginResultPtr& result);
  // Sends the final result of a transfer this caller has already claimed.
  void sendClaimed(const HBRPluginResultPtr& result);
  // Marks the transfer ended; true for the first caller.
  bool claimEnd();
  plat::Dictionary errorWith(std::int32_t code, const std::optional<std::string>& body);

  std::mutex resultMutex_;  // orders progress before the final result; guards ended_
  bool ended_ = false;
  plat::StagedFileContents staged_;  // the download's contents until they are whole (queue only)
  std::string targetPath_;            // the file they go to, links followed
};

}  // namespace harbor
