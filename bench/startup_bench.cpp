// What a user waits for at start: the harbor runner launched on the sample application until its
// page says "deviceready", against a bare launch of a program that only creates a JavaScriptCore
// context and evaluates harbor.js in it (bare_launch). Each is launched 20 times as a new process,
// in turns, so that both meet the same load; the time runs from the spawn to the line on its
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

constexpr int kLaunches = 20;
// A launch that has not said its line by then is stuck; it is ended and the benchmark fails.
constexpr int kLaunchTimeoutMs = 20000;

std::string scratch;  // a folder of this run, for the runner's sandbox home

// The medians of the last run, in seconds.
double bareMedian = 0;
double runnerMedian = 0;

// Each round launches the baseline and then the runner, so that both meet the same load on the
// machine. The benchmark's time is the runner's.
void BM_Startup(benchmark::State& state) {
  const std::vector<std::string> bare = {HARBOR_BARE_LAUNCH, HARBOR_SCRIPT};
  // The headless page engine, as the baseline is bare JavaScriptCore (bench/webkit_bench measures
  // the start-up on WebKit against a bare WebKitGTK launch).
  const std::vector<std::string> runner = {HARBOR_RUNNER, "--home", scratch + "/home", "--web-backend", "headless",
                                           "--until", "hello: deviceready", HARBOR_SAMPLE};
  std::vector<double> bareTimes, runnerTimes;
  for (auto _ : state) {
    double b = harbor::bench::secondsUntil(bare, "bare_launch: deviceready", kLaunchTimeoutMs);
    double r = harbor::bench::secondsUntil(runner, "hello: deviceready", kLaunchTimeoutMs);
    if (b < 0 || r < 0) {
      state.SkipWithError(b < 0 ? "bare_launch said nothing" : "the runner's page did not say \"deviceready\"");
      return;
    }
    state.SetIterationTime(r);
    bareTimes.push_back(b);
    runnerTimes.push_back(r);
  }
  bareMedian = harbor::bench::median(bareTimes);
  runnerMedian = harbor::bench::median(runnerTimes);
  state.counters["bare_ms"] = bareMedian * 1000;
  state.counters["runner_ms"] = runnerMedian * 1000;
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

  if (bareMedian <= 0 || runnerMedian <= 0) {
    std::printf("startup: not measured\n");
    return 1;
  }
  std::printf("startup: deviceready in %.1f ms, %.2fx a bare launch\n", runnerMedian * 1000, runnerMedian / bareMedian);
  return 0;
}
