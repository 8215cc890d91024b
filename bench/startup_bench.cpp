// What a user waits for at start: the harbor runner launched on the sample application until its
// page says "deviceready", against a bare launch of a program that only creates a JavaScriptCore
// context and evaluates harbor.js in it (bare_launch). Each is launched 20 times (3 in brief mode)
// as a new process, in turns, so that both meet the same load; the time runs from the spawn to the line on its
// standard error, and the medians count. The last line:
//   startup: deviceready in <ms> ms, <R>x a bare launch
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

const int kLaunches = harbor::bench::fullOrBrief(20, 3);
// A launch that has not said its line by then is stuck; it is ended and the benchmark fails.
constexpr int kLaunchTimeoutMs = 20000;

std::string scratch;  // a folder of this run, for the runner's sandbox home

// The medians of the last run, in seconds.
harbor::bench::LaunchMedians medians;

void BM_Startup(benchmark::State& state) {
  const std::vector<std::string> bare = {HARBOR_BARE_LAUNCH, HARBOR_SCRIPT};
  // The headless page engine, as the baseline is bare JavaScriptCore (bench/webkit_bench measures
  // the start-up on WebKit against a bare WebKitGTK launch).
  const std::vector<std::string> runner = {HARBOR_RUNNER, "--home", scratch + "/home", "--web-backend", "headless",
                                           "--until", "hello: deviceready", HARBOR_SAMPLE};
  harbor::bench::compareLaunches(state, {bare, "bare_launch: deviceready"}, {runner, "hello: deviceready"},
                                 kLaunchTimeoutMs, medians);
}

BENCHMARK(BM_Startup)->Iterations(kLaunches)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/harbor-startup-bench-XXXXXX";
  if (!::mkdtemp(pattern)) {
    std::fprintf(stderr, "cannot make a scratch folder\n");
    return 1;
  }
  scratch = pattern;
  auto rates = harbor::bench::runBenchmarks(argc, argv);
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  if (!rates) return 1;

  if (medians.bare <= 0 || medians.runner <= 0) {
    std::printf("startup: not measured\n");
    return 1;
  }
  std::printf("startup: deviceready in %.1f ms, %.2fx a bare launch\n", medians.runner * 1000, medians.runner / medians.bare);
  return 0;
}
