#include "bench_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "HBRUIWebViewEngine.h"
#include "HBRViewController.h"
#include "HBRWKWebViewEngine.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/web/WebPage.h"
#include "support/EchoPlugin.h"
#include "support/FakeWebViewEngine.h"

extern char** environ;

namespace harbor::bench {

bool brief() {
  static const bool on = [] {
    const char* value = std::getenv("HARBOR_BENCH_BRIEF");
    return value && *value && std::string_view(value) != "0";
  }();
  return on;
}

double secondsUntil(const std::vector<std::string>& command, const std::string& marker, int timeoutMs) {
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
    auto left = timeoutMs - std::chrono::duration_cast<std::chrono::milliseconds>(
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
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
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

plat::web::WebPage* startEchoContainer(std::shared_ptr<harbor::HBRViewController>& controller, const std::string& engine) {
  controller = std::make_shared<harbor::HBRViewController>();
  controller->init();
  controller->setPreferenceOverrides(plat::Dictionary{{harbor::kHBRWebViewEngineSetting, engine}});
  controller->view();
  plat::web::WebPage* page = nullptr;
  if (auto ui = std::dynamic_pointer_cast<harbor::HBRUIWebViewEngine>(controller->webViewEngine()))
    page = engine == "HBRUIWebViewEngine" ? ui->uiWebView()->page() : nullptr;
  if (auto wk = std::dynamic_pointer_cast<harbor::HBRWKWebViewEngine>(controller->webViewEngine()))
    page = engine == "HBRWKWebViewEngine" ? wk->wkWebView()->page() : nullptr;
  auto echo = std::dynamic_pointer_cast<harbor::testing::EchoPlugin>(controller->getCommandInstance("Echo"));
  if (!page || !echo) return nullptr;
  echo->setRecording(false);
  return page;
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::size_t n = times.size();
  return n == 0 ? 0 : n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

void compareLaunches(benchmark::State& state, const Launch& bare, const Launch& runner, int timeoutMs,
                     LaunchMedians& medians) {
  std::vector<double> bareTimes, runnerTimes;
  for (auto _ : state) {
    double b = secondsUntil(bare.command, bare.marker, timeoutMs);
    double r = secondsUntil(runner.command, runner.marker, timeoutMs);
    if (b < 0 || r < 0) {
      std::string what = b < 0 ? bare.command.front() : runner.command.front();
      state.SkipWithError((what + " never said \"" + (b < 0 ? bare.marker : runner.marker) + "\"").c_str());
      return;
    }
    state.SetIterationTime(r);
    bareTimes.push_back(b);
    runnerTimes.push_back(r);
  }
  medians.bare = median(bareTimes);
  medians.runner = median(runnerTimes);
  state.counters["bare_ms"] = medians.bare * 1000;
  state.counters["runner_ms"] = medians.runner * 1000;
}


void BM_RawCallbackEvaluation(benchmark::State& state) {
  auto engine = std::make_shared<harbor::testing::FakeWebViewEngine>();
  if (!engine->initWithBridgeMode(harbor::testing::FakeWebViewEngine::BridgeMode::Iframe)) {
    state.SkipWithError("harbor.js did not load");
    return;
  }
  plat::JSContext& js = engine->context();
  std::uint64_t id = 1000000000;
  for (auto _ : state) {
    std::string script =
        "harbor.require('harbor/exec').nativeCallback('Echo" + std::to_string(id++) + "',1,\"payload\",0, 0)";
    auto result = js.evaluate(script);
    benchmark::DoNotOptimize(result);
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

bool pumpUntil(const std::function<bool()>& done) {
  plat::RunLoop& loop = plat::RunLoop::main();
  for (int rounds = 0; rounds < 100000; ++rounds) {
    loop.runUntilIdle();
    if (done()) return true;
    if (!loop.hasReadyWork() && !loop.waitForPost(5)) return false;
  }
  return false;
}

void RateReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.error_occurred) failures[run.benchmark_name()] = run.error_message;
    if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
    auto it = run.counters.find("rate");
    if (it != run.counters.end()) rates[run.run_name.function_name] = it->second.value;
  }
}

std::optional<std::map<std::string, double>> runBenchmarks(int argc, char** argv) {
  // The brief minimum time goes first, so that one on the command line overrides it.
  std::string briefMinTime = "--benchmark_min_time=" + std::to_string(kBriefMinTime);
  std::vector<char*> arguments(argv, argv + argc);
  if (brief() && argc > 0) arguments.insert(arguments.begin() + 1, briefMinTime.data());
  int count = static_cast<int>(arguments.size());
  arguments.push_back(nullptr);
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return std::nullopt;
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::fflush(stdout);
  if (!reporter.failures.empty()) {
    for (const auto& [name, message] : reporter.failures)
      std::fprintf(stderr, "%s failed: %s\n", name.c_str(), message.c_str());
    return std::nullopt;
  }
  return std::move(reporter.rates);
}

}  // namespace harbor::bench
