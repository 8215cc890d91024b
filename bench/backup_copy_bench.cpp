// What a web storage backup pays for never leaving a cut-off copy: the copy made beside the
// destination, flushed to the disk and renamed over it, against the same bytes copied in place
// with plain reads and writes (what a copy without those guarantees costs). One 8 MiB file, the
// size of a busy localStorage database. The last line:
//   backup: safe copy at <r> of a plain in-place copy (8 MiB)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "HBRLocalStorage.h"
#include "bench_support.h"
#include "plat/foundation/NSFileManager.h"

namespace {

constexpr std::size_t kSize = 8u << 20;

std::string& folder() {
  static std::string path;
  return path;
}

void BM_PlainInPlaceCopy(benchmark::State& state) {
  std::string source = folder() + "/live.db", destination = folder() + "/plain.db";
  std::string buffer(64 * 1024, '\0');
  for (auto _ : state) {
    int in = ::open(source.c_str(), O_RDONLY);
    int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ssize_t n;
    while ((n = ::read(in, buffer.data(), buffer.size())) > 0)
      if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) state.SkipWithError("write failed");
    ::close(out);
    ::close(in);
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SafeCopy(benchmark::State& state) {
  std::string source = folder() + "/live.db", destination = folder() + "/backup.db";
  for (auto _ : state) {
    plat::NSError error;
    if (!harbor::HBRLocalStorage::copyFrom(source, destination, &error)) state.SkipWithError("copy failed");
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_PlainInPlaceCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SafeCopy)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/harbor-bench-storage-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  folder() = pattern;
  std::string contents(kSize, 'x');
  if (!plat::writeFileContentsAtomically(folder() + "/live.db", contents)) return 1;
  auto rates = harbor::bench::runBenchmarks(argc, argv);
  plat::NSFileManager::defaultManager().removeItemAtPath(folder());
  if (!rates) return 1;
  double plain = (*rates)["BM_PlainInPlaceCopy"];
  double safe = (*rates)["BM_SafeCopy"];
  std::printf("backup: safe copy at %.2f of a plain in-place copy (8 MiB)\n", plain > 0 ? safe / plain : 0.0);
  return 0;
}
