#include "HBRContactPhotoLoader.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLConnection.h"

namespace harbor {
namespace {

// Symbolic links resolved, so that a link inside the home cannot lead out of it.
bool isInside(const std::string& path, const std::string& root) {
  std::error_code ec;
  auto real = std::filesystem::weakly_canonical(path, ec);
  if (ec) return false;
  auto realRoot = std::filesystem::weakly_canonical(root, ec);
  if (ec) return false;
  return plat::pathIsInsideFolder(real.string(), realRoot.string());
}

plat::Result<plat::Data> readLocalFile(const std::string& path) {
  auto bundle = plat::NSBundle::mainBundle();
  if (!isInside(path, plat::NSHomeDirectory()) && !(bundle && isInside(path, bundle->bundlePath())))
    return plat::Failure{"the photo " + path + " is outside the application's folders"};
  std::ifstream in(path, std::ios::binary);
  if (!in) return plat::Failure{"the photo " + path + " cannot be read"};
  plat::Data data;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    data.insert(data.end(), buffer, buffer + in.gcount());
    if (data.size() > kHBRContactPhotoMaxBytes) return plat::Failure{"the photo " + path + " is too large"};
  }
  return data;
}

// Collects the body on the main thread and hands it to the waiting thread.
class PhotoLoad : public plat::NSURLConnectionDataDelegate {
 public:
  void connectionDidReceiveData(plat::NSURLConnection& connection, const plat::Data& data) override {
    std::lock_guard<std::mutex> lock(mutex);
    body.insert(body.end(), data.begin(), data.end());
    if (body.size() > kHBRContactPhotoMaxBytes) {
      connection.cancel();
      finishLocked("the photo is larger than " + std::to_string(kHBRContactPhotoMaxBytes) + " bytes");
    }
  }
  void connectionDidFinishLoading(plat::NSURLConnection&) override {
    std::lock_guard<std::mutex> lock(mutex);
    finishLocked("");
  }
  void connectionDidFailWithError(plat::NSURLConnection&, const plat::NSError& error) override {
    std::lock_guard<std::mutex> lock(mutex);
    finishLocked(error.localizedDescription.empty() ? "the photo could not be loaded" : error.localizedDescription);
  }
  void finishLocked(std::string failure) {
    if (done) return;
    done = true;
    error = std::move(failure);
    finished.notify_all();
  }

  std::mutex mutex;
  std::condition_variable finished;
  plat::Data body;
  std::string error;
  bool done = false;
  plat::NSURLConnectionPtr connection;  // main thread only
};

}  // namespace

plat::Result<plat::Data> readContactPhoto(const std::string& urlText) {
  auto url = plat::NSURL::URLWithString(urlText);
  if (!url || !url->scheme()) return plat::Failure{"no URL in \"" + urlText + "\""};
  if (url->isFileURL()) return readLocalFile(url->path());
  if (plat::isMainThread()) return plat::Failure{"remote photos are read off the main thread only"};

  auto load = std::make_shared<PhotoLoad>();
  auto request = plat::NSURLRequest::requestWithURL(url, plat::NSURLRequestCachePolicy::ReloadIgnoringLocalCacheData,
                                                    kHBRContactPhotoTimeout);
  plat::dispatch::mainAsync([load, request] {
    load->connection = plat::NSURLConnection::connectionWithRequest(request, load);
  });
  std::unique_lock<std::mutex> lock(load->mutex);
  // The request's own timeout ends a stalled load; this bound also covers a main loop that
  // stopped turning.
  if (!load->finished.wait_for(lock, std::chrono::duration<double>(kHBRContactPhotoTimeout + 5),
                               [&] { return load->done; })) {
    lock.unlock();
    plat::dispatch::mainAsync([load] {
      if (load->connection) load->connection->cancel();
    });
    return plat::Failure{"the photo did not arrive in time"};
  }
  if (!load->error.empty()) return plat::Failure{load->error};
  plat::dispatch::mainAsync([load] { load->connection.reset(); });
  return load->body;
}

}  // namespace harbor
