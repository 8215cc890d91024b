// Transfers over loopback through the platform's URL connection as the file transfer plugin
// drives it, against the curl command line in the same run:
//   download  256 MiB from a server on 127.0.0.1, reported on an operation queue of its own and
//             written piece by piece into a temporary file that is renamed over the target;
//             baseline: curl -s -o <file> <url>;
//   upload    128 MiB from a file, read by the connection as it sends (the form's text around
//             the file, as the plugin streams a file on disk), with its length announced;
//             baseline: curl -s -T <file> -X POST <url>.
// Memory growth is the peak resident size during our runs over the size before them.
// The last line:
//   transfer: download <R1>x curl, upload <R2>x curl, peak memory growth <MiB> MiB
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "HTTPTestServer.h"
#include "bench_support.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSStream.h"
#include "plat/foundation/NSURLConnection.h"

namespace {

using harbor::testing::HTTPTestServer;

constexpr std::int64_t kDownloadBytes = 256LL * 1024 * 1024;
constexpr std::int64_t kUploadBytes = 128LL * 1024 * 1024;

HTTPTestServer* server = nullptr;
std::string folder;
long peakGrowthKiB = 0;

long statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return 0;
}

// Resets the peak to the present size (Linux), so each run measures its own growth.
long startMemoryWatch() {
  if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
  return statusKiB("VmRSS:");
}

void endMemoryWatch(long before) { peakGrowthKiB = std::max(peakGrowthKiB, statusKiB("VmHWM:") - before); }

// The delegate the download runs: each piece written as it comes, the file renamed when whole.
class FileWriter : public plat::NSURLConnectionDataDelegate {
 public:
  explicit FileWriter(std::string target) : target_(std::move(target)), temporary_(target_ + ".part") {
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  }
  void connectionDidReceiveData(plat::NSURLConnection&, const plat::Data& data) override {
    ok_ = ok_ && writeAll(data);
    received += static_cast<std::int64_t>(data.size());
  }
  void connectionDidSendBodyData(plat::NSURLConnection&, std::int64_t, std::int64_t total, std::int64_t) override {
    sent = total;
  }
  void connectionDidFinishLoading(plat::NSURLConnection&) override { end(true); }
  void connectionDidFailWithError(plat::NSURLConnection&, const plat::NSError&) override { end(false); }
  bool wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(120), [&] { return done_; });
    return done_ && ok_;
  }
  std::int64_t received = 0;
  std::int64_t sent = 0;

 private:
  bool writeAll(const plat::Data& data) {
    for (std::size_t done = 0; done < data.size();) {
      ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  void end(bool finished) {
    ::close(fd_);
    bool renamed = finished && ok_ && ::rename(temporary_.c_str(), target_.c_str()) == 0;
    std::lock_guard<std::mutex> lock(mutex_);
    ok_ = renamed;
    done_ = true;
    changed_.notify_all();
  }
  std::string target_, temporary_;
  int fd_ = -1;
  bool ok_ = true;
  bool done_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
};

bool runCurl(const std::vector<std::string>& arguments) {
  pid_t child = ::fork();
  if (child == 0) {
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp("curl", argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void report(benchmark::State& state, std::int64_t bytes) {
  state.counters["rate"] = benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kIsRate);
}

void BM_CurlDownload(benchmark::State& state) {
  for (auto _ : state)
    if (!runCurl({"curl", "-s", "--noproxy", "*", "-o", folder + "/curl.bin", server->url("/download")}))
      state.SkipWithError("curl failed");
  report(state, kDownloadBytes * state.iterations());
}

void BM_Download(benchmark::State& state) {
  auto queue = std::make_shared<plat::NSOperationQueue>();
  for (auto _ : state) {
    long before = startMemoryWatch();
    auto writer = std::make_shared<FileWriter>(folder + "/ours.bin");
    auto connection = std::make_shared<plat::NSURLConnection>();
    connection->initWithRequestDelegateStartImmediately(
        plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString(server->url("/download"))), writer, false);
    connection->setDelegateQueue(queue);
    connection->start();
    if (!writer->wait() || writer->received != kDownloadBytes) state.SkipWithError("download failed");
    endMemoryWatch(before);
  }
  report(state, kDownloadBytes * state.iterations());
}

void BM_CurlUpload(benchmark::State& state) {
  for (auto _ : state)
    if (!runCurl({"curl", "-s", "--noproxy", "*", "-H", "Expect:", "-o", "/dev/null", "-T", folder + "/upload.bin", "-X", "POST",
                  server->url("/upload")}))
      state.SkipWithError("curl failed");
  report(state, kUploadBytes * state.iterations());
}

void BM_Upload(benchmark::State& state) {
  auto queue = std::make_shared<plat::NSOperationQueue>();
  for (auto _ : state) {
    long before = startMemoryWatch();
    auto request = plat::NSMutableURLRequest::requestWithURL(plat::NSURL::URLWithString(server->url("/upload")));
    request->setHTTPMethod("POST");
    request->setValueForHTTPHeaderField(std::to_string(kUploadBytes), "Content-Length");
    request->setHTTPBodyStream(plat::NSInputStream::inputStreamWithStreams(
        {plat::NSInputStream::inputStreamWithData({}), plat::NSInputStream::inputStreamWithFileAtPath(folder + "/upload.bin"),
         plat::NSInputStream::inputStreamWithData({})}));
    auto writer = std::make_shared<FileWriter>(folder + "/reply.txt");
    auto connection = std::make_shared<plat::NSURLConnection>();
    connection->initWithRequestDelegateStartImmediately(request, writer, false);
    connection->setDelegateQueue(queue);
    connection->start();
    bool ok = writer->wait();
    if (!ok || writer->sent != kUploadBytes) state.SkipWithError("upload failed");
    endMemoryWatch(before);
  }
  report(state, kUploadBytes * state.iterations());
}

const int kRounds = harbor::bench::fullOrBrief(3, 1);
BENCHMARK(BM_CurlDownload)->UseRealTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Download)->UseRealTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlUpload)->UseRealTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Upload)->UseRealTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  plat::RunLoop::main().bindToCurrentThread();
  plat::setLogSink([](std::string_view) {});
  char pattern[] = "/tmp/harbor-transfer-bench-XXXXXX";
  if (!::mkdtemp(pattern)) {
    std::fprintf(stderr, "cannot make a folder\n");
    return 1;
  }
  folder = pattern;
  {
    std::ofstream upload(folder + "/upload.bin", std::ios::binary);
    std::string block(1 << 20, 'u');
    for (std::int64_t i = 0; i < kUploadBytes / static_cast<std::int64_t>(block.size()); ++i) upload << block;
  }
  HTTPTestServer loopback(HTTPTestServer::Scheme::HTTP, 600);
  server = &loopback;
  HTTPTestServer::Response big;
  big.generatedLength = kDownloadBytes;
  loopback.route("/download", big);
  loopback.route("/upload", HTTPTestServer::reply(200, "ok"));

  auto rates = loopback.ok() ? harbor::bench::runBenchmarks(argc, argv) : std::nullopt;
  plat::NSFileManager::defaultManager().removeItemAtPath(folder);
  if (!loopback.ok()) std::fprintf(stderr, "the loopback server did not start\n");
  if (!rates) return 1;
  auto ratio = [&](const char* baseline, const char* ours) {
    double b = (*rates)[baseline], o = (*rates)[ours];
    return o > 0 ? b / o : 0.0;  // our time over curl's
  };
  std::printf("transfer: download %.2fx curl, upload %.2fx curl, peak memory growth %.1f MiB\n",
              ratio("BM_CurlDownload", "BM_Download"), ratio("BM_CurlUpload", "BM_Upload"), peakGrowthKiB / 1024.0);
  return 0;
}
