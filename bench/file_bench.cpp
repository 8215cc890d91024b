// The File plugin against raw file I/O, measured in one process on a 16 MiB file in a sandbox
// home of its own (the page cache warm, as a page's second read would find it):
//   raw read        pread of the whole file into one buffer;
//   read            the local file system's readFileAtURL of the whole file;
//   raw write       16 MiB in plain system calls as a whole new file is written: into a new
//                   file beside the old one, flushed, renamed over it;
//   write           what the write action does at position 0 (writeToFileAtURLAtPosition);
//   raw write near the end  64 KiB written in place over the last 64 KiB of the 16 MiB file,
//                   flushed;
//   write near the end  the write action's same change: in the file itself under an undo
//                   record of the 64 KiB it overwrites, so its cost follows the change, not the
//                   file's length;
//   readAsArrayBuffer  the whole page call: a command batch through the queue, the read on the
//                   global queue, the Base64 and JSON of the answer, the callback script handed
//                   to the engine;
//   readAsText      the same page call for 16 MiB of UTF-8 text, checked as it is read and
//                   escaped for JSON;
//   hbrfile         loads of a 4 KiB file through the platform's URL loading, which the page
//                   engine's scripts, frames and requests go through.
// The last line: file: read <R1> of raw, write <R2> of raw, write near the end <R3> of raw,
// readAsArrayBuffer <MB/s> MB/s, readAsText <MB/s> MB/s, hbrfile <N> loads/s.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "FilePlugin.h"
#include "HBRCommandQueue.h"
#include "HBRFile.h"
#include "HBRLocalFilesystem.h"
#include "bench_support.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURLConnection.h"
#include "support/ScriptRecordingEngine.h"
#include "support/StubBridgeController.h"

namespace {

constexpr std::size_t kBigFile = 16u << 20;
constexpr std::size_t kSmallFile = 4u << 10;

// The sandbox home, the plugin and the files every benchmark shares.
struct Fixture {
  std::string root;
  std::string big;    // local path of the 16 MiB file
  std::string small;  // local path of the 4 KiB file
  std::size_t textSize = 0;  // of text.txt, 16 MiB of UTF-8 text
  std::string scratch;
  std::shared_ptr<harbor::testing::ScriptRecordingEngine> engine;
  std::shared_ptr<harbor::testing::StubBridgeController> controller;
  std::shared_ptr<harbor::HBRFile> file;
  std::size_t delivered = 0;

  bool start() {
    std::string pattern = plat::stringByAppendingPathComponent(
        std::getenv("TMPDIR") && *std::getenv("TMPDIR") == '/' ? std::getenv("TMPDIR") : "/tmp", "harbor-bench-XXXXXX");
    if (!::mkdtemp(pattern.data())) return false;
    root = pattern;
    if (!plat::createSandboxFolders(root)) return false;
    plat::setHomeDirectory(root);
    std::string documents = plat::NSSearchPathForDirectoriesInDomains(plat::NSDocumentDirectory,
                                                                      plat::NSUserDomainMask, true)
                                .front();
    big = documents + "/big.bin";
    small = documents + "/small.txt";
    scratch = documents + "/scratch.bin";
    std::string bytes(kBigFile, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + 7);
    if (!plat::writeFileContentsAtomically(big, bytes)) return false;
    if (!plat::writeFileContentsAtomically(small, std::string(kSmallFile, 'x'))) return false;
    // Mostly ASCII with characters of two, three and four bytes, as a page's text holds them.
    std::string text;
    const std::string line = "Gr\xc3\xbc\xc3\x9f" "e, \xe4\xb8\x96\xe7\x95\x8c \xf0\x9f\x8c\x8d: the quick brown fox.\n";
    while (text.size() < kBigFile) text += line;
    textSize = text.size();
    if (!plat::writeFileContentsAtomically(documents + "/text.txt", text)) return false;

    harbor::registerFilePlugin();
    engine = std::make_shared<harbor::testing::ScriptRecordingEngine>();
    engine->record = false;
    engine->respond = [this](const std::string&) {
      ++delivered;
      return plat::Value();
    };
    controller = std::make_shared<harbor::testing::StubBridgeController>();
    controller->initWithWebViewEngine(engine);
    file = std::dynamic_pointer_cast<harbor::HBRFile>(plat::ClassRegistry::shared().create("HBRFile"));
    if (!file) return false;
    file->initWithWebViewEngine(engine);
    file->setCommandDelegate(controller->delegate());
    controller->registerObject("File", file);
    file->pluginInitialize();
    return true;
  }

  void stop() {
    plat::NSFileManager::defaultManager().removeItemAtPath(root);
  }

  harbor::HBRFilesystemURLPtr url(const std::string& name) {
    return harbor::HBRFilesystemURL::fileSystemURLWithString("hbrfile://localhost/persistent/" + name);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void setBytes(benchmark::State& state, std::size_t perIteration) {
  double bytes = static_cast<double>(state.iterations()) * static_cast<double>(perIteration);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["rate"] = benchmark::Counter(bytes, benchmark::Counter::kIsRate);
}

// Into a new buffer each time, left uninitialised, as any read that hands its bytes on must.
void BM_RawRead(benchmark::State& state) {
  for (auto _ : state) {
    auto buffer = std::make_unique_for_overwrite<char[]>(kBigFile);
    int fd = ::open(fixture().big.c_str(), O_RDONLY | O_CLOEXEC);
    std::size_t done = 0;
    while (done < kBigFile) {
      ssize_t n = ::pread(fd, buffer.get() + done, kBigFile - done, static_cast<off_t>(done));
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    benchmark::DoNotOptimize(buffer.get());
  }
  setBytes(state, kBigFile);
}

void BM_FileSystemRead(benchmark::State& state) {
  auto fileSystem = fixture().file->fileSystemByName("persistent");
  auto url = fixture().url("big.bin");
  for (auto _ : state) {
    std::size_t got = 0;
    fileSystem->readFileAtURL(url, 0, -1, [&](std::optional<plat::Data> data, auto, std::int32_t) {
      got = data ? data->size() : 0;
    });
    if (got != kBigFile) {
      state.SkipWithError("short read");
      return;
    }
  }
  setBytes(state, kBigFile);
}

constexpr std::size_t kNearEnd = 64u << 10;

bool writeWhole(int fd, const char* bytes, std::size_t size, off_t at) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, bytes + done, size - done, at + static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A whole new file in plain system calls: beside the old one, flushed, renamed over it.
void BM_RawWrite(benchmark::State& state) {
  std::string bytes(kBigFile, 'w');
  std::string temporary = fixture().scratch + ".raw";
  for (auto _ : state) {
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && writeWhole(fd, bytes.data(), bytes.size(), 0) && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!ok || ::rename(temporary.c_str(), fixture().scratch.c_str()) != 0) {
      state.SkipWithError("raw write failed");
      return;
    }
  }
  setBytes(state, kBigFile);
}

void BM_FileSystemWrite(benchmark::State& state) {
  auto fileSystem = fixture().file->fileSystemByName("persistent");
  auto url = fixture().url("scratch.bin");
  plat::Data bytes(kBigFile, 'w');
  for (auto _ : state) {
    auto result = fileSystem->writeToFileAtURLAtPosition(url, bytes, 0);
    if (result->status() != harbor::HBRCommandStatus::OK) {
      state.SkipWithError("write failed");
      return;
    }
  }
  setBytes(state, kBigFile);
}

void BM_RawWriteNearEnd(benchmark::State& state) {
  std::string bytes(kNearEnd, 'e');
  int fd = ::open(fixture().big.c_str(), O_WRONLY | O_CLOEXEC);
  for (auto _ : state) {
    if (!writeWhole(fd, bytes.data(), bytes.size(), static_cast<off_t>(kBigFile - kNearEnd)) || ::fsync(fd) != 0) {
      state.SkipWithError("raw write failed");
      break;
    }
  }
  ::close(fd);
  setBytes(state, kNearEnd);
}

void BM_FileSystemWriteNearEnd(benchmark::State& state) {
  auto fileSystem = fixture().file->fileSystemByName("persistent");
  auto url = fixture().url("big.bin");
  plat::Data bytes(kNearEnd, 'e');
  for (auto _ : state) {
    auto result = fileSystem->writeToFileAtURLAtPosition(url, bytes, kBigFile - kNearEnd);
    if (result->status() != harbor::HBRCommandStatus::OK) {
      state.SkipWithError("write failed");
      return;
    }
  }
  setBytes(state, kNearEnd);
}

// The whole page call of a read action with these arguments, whose file holds size bytes.
void pageRead(benchmark::State& state, const char* action, plat::Array arguments, std::size_t size) {
  auto& f = fixture();
  plat::Array entry{"File1", "File", action, std::move(arguments)};
  auto batch = plat::json::write(plat::Value(plat::Array{plat::Value(entry)}));
  if (!batch.ok()) {
    state.SkipWithError("no batch");
    return;
  }
  for (auto _ : state) {
    std::size_t expected = f.delivered + 1;
    f.controller->commandQueue()->enqueueCommandBatch(*batch);
    f.controller->commandQueue()->executePending();
    if (!harbor::bench::pumpUntil([&] { return f.delivered >= expected; })) {
      state.SkipWithError("no answer");
      return;
    }
  }
  setBytes(state, size);
}

void BM_ReadAsArrayBuffer(benchmark::State& state) {
  pageRead(state, "readAsArrayBuffer", plat::Array{"hbrfile://localhost/persistent/big.bin", 0, -1}, kBigFile);
}

void BM_ReadAsText(benchmark::State& state) {
  pageRead(state, "readAsText", plat::Array{"hbrfile://localhost/persistent/text.txt", "UTF-8", 0, -1},
           fixture().textSize);
}

void BM_HbrfileLoad(benchmark::State& state) {
  auto request = plat::NSURLRequest::requestWithURL(plat::NSURL::URLWithString("hbrfile://localhost/persistent/small.txt"));
  for (auto _ : state) {
    bool done = false;
    std::size_t size = 0;
    plat::NSURLConnection::sendAsynchronousRequest(
        request, [&](const plat::NSURLResponsePtr&, const plat::Data& data, const std::optional<plat::NSError>&) {
          size = data.size();
          done = true;
        });
    if (!harbor::bench::pumpUntil([&] { return done; }) || size != kSmallFile) {
      state.SkipWithError("load failed");
      return;
    }
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_RawRead)->UseRealTime();
BENCHMARK(BM_FileSystemRead)->UseRealTime();
BENCHMARK(BM_RawWrite)->UseRealTime();
BENCHMARK(BM_FileSystemWrite)->UseRealTime();
BENCHMARK(BM_RawWriteNearEnd)->UseRealTime();
BENCHMARK(BM_FileSystemWriteNearEnd)->UseRealTime();
// A few seconds, so that one slow wake-up of the worker or the main loop weighs little.
BENCHMARK(BM_ReadAsArrayBuffer)->UseRealTime()->MinTime(harbor::bench::fullOrBrief(3.0, harbor::bench::kBriefMinTime));
BENCHMARK(BM_ReadAsText)->UseRealTime()->MinTime(harbor::bench::fullOrBrief(3.0, harbor::bench::kBriefMinTime));
BENCHMARK(BM_HbrfileLoad)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  plat::RunLoop::main().bindToCurrentThread();
  plat::setLogSink([](std::string_view) {});
  if (!fixture().start()) {
    std::fprintf(stderr, "file bench: could not set up its sandbox\n");
    fixture().stop();
    return 1;
  }
  auto rates = harbor::bench::runBenchmarks(argc, argv);
  fixture().stop();
  if (!rates) return 1;
  auto ratio = [&](const char* a, const char* b) {
    double base = (*rates)[b];
    return base > 0 ? (*rates)[a] / base : 0.0;
  };
  std::printf(
      "file: read %.2f of raw, write %.2f of raw, write near the end %.2f of raw, readAsArrayBuffer %.0f MB/s, "
      "readAsText %.0f MB/s, hbrfile %.0f loads/s\n",
      ratio("BM_FileSystemRead", "BM_RawRead"), ratio("BM_FileSystemWrite", "BM_RawWrite"),
      ratio("BM_FileSystemWriteNearEnd", "BM_RawWriteNearEnd"), (*rates)["BM_ReadAsArrayBuffer"] / 1e6,
      (*rates)["BM_ReadAsText"] / 1e6, (*rates)["BM_HbrfileLoad"]);
  return 0;
}
