// What a user waits for at start: the harbor runner launched on the sample application until its
// page says "deviceready", against a bare launch of a program that only creates a JavaScriptCore
// context and evaluates harbor.js in it (bare_launch). Each is launched 20 times as a new process,
// in turns, so that both meet the same load; the time runs from the spawn to the line on its
// standard error, and the medians count. The last line:
//   startup: deviceready in <ms> ms, <R>x a bare launch
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"

extern char** environ;

namespace {

constexpr int kLaunches = 20;
// A launch that has not said its line by then is stuck; it is ended and the benchmark fails.
constexpr int kLaunchTimeoutMs = 20000;

std::string scratch;  // a folder of this run, for the runner's sandbox home

// Starts the program with its standard error on a pipe and returns the seconds until a line of it
// contains `marker`; then waits for the program to end. A negative result: it never said it.
double secondsUntil(const std::vector<std::string>& command, const std::string& marker) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  std::vector<char*> argv;
  for (const std::string& part : command) argv.push_back(const_cast<char*>(part.c_str()));
  argv.push_back(nullptr);

  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (spawned != 0) {
    ::close(pipeEnds[0]);
    return -1;
  }

  double seconds = -1;
  std::string seen;
  char buffer[4096];
  pollfd watch{pipeEnds[0], POLLIN, 0};
  while (seconds < 0) {
    auto left = kLaunchTimeoutMs - std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - start).count();
    if (left <= 0 || ::poll(&watch, 1, static_cast<int>(left)) <= 0) break;
    ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
    if (seen.find(marker) != std::string::npos)
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  // The runner stops by itself once it saw the line (--until); its remaining output is read
  // away so that it never blocks on a full pipe. One that does not end in time is ended here.
  bool ended = false;
  if (seconds >= 0) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLaunchTimeoutMs);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0 || ::poll(&watch, 1, static_cast<int>(left)) <= 0) break;
      if (::read(pipeEnds[0], buffer, sizeof buffer) <= 0) {
        ended = true;
        break;
      }
    }
  }
  if (!ended) ::kill(pid, SIGKILL);
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return seconds;
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::size_t n = times.size();
  return n == 0 ? 0 : n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

// The medians of the last run, in seconds.
double bareMedian = 0;
double runnerMedian = 0;

// Each round launches the baseline and then the runner, so that both meet the same load on the
// machine. The benchmark's time is the runner's.
void BM_Startup(benchmark::State& state) {
  const std::vector<std::string> bare = {HARBOR_BARE_LAUNCH, HARBOR_SCRIPT};
  const std::vector<std::string> runner = {HARBOR_RUNNER, "--home", scratch + "/home", "--until", "hello: deviceready",
                                           HARBOR_SAMPLE};
  std::vector<double> bareTimes, runnerTimes;
  for (auto _ : state) {
    double b = secondsUntil(bare, "bare_launch: deviceready");
    double r = secondsUntil(runner, "hello: deviceready");
    if (b < 0 || r < 0) {
      state.SkipWithError(b < 0 ? "bare_launch said nothing" : "the runner's page did not say \"deviceready\"");
      return;
    }
    state.SetIterationTime(r);
    bareTimes.push_back(b);
    runnerTimes.push_back(r);
  }
  bareMedian = median(bareTimes);
  runnerMedian = median(runnerTimes);
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
