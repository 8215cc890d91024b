#pragma once
// What the bridge benchmarks share: the baseline they all report against, the main-loop pump
// that waits for a page's answers, and the reporter that keeps each benchmark's rate for the
// summary line.
#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat::web {
class WebPage;
}
namespace harbor {
class HBRViewController;
}

namespace harbor::bench {

// Page calls per burst.
inline constexpr int kBurst = 100;

// Brief mode, for CI (scripts/bench.sh --brief sets HARBOR_BENCH_BRIEF=1): every benchmark runs
// a few iterations only, and a smaller workload where its set-up alone would take long, to show
// that it still runs and still prints its summary line. Its figures then mean nothing.
bool brief();
// The minimum time of a benchmark in brief mode, in seconds: each one runs until it has taken
// that long, at least one iteration. A --benchmark_min_time on the command line still wins.
inline constexpr double kBriefMinTime = 0.01;
// `full` normally, `few` in brief mode: for fixed iteration counts, minimum times and workloads.
template <typename T>
T fullOrBrief(T full, T few) {
  return brief() ? few : full;
}

// The page both benchmarks load after harbor.js: send() makes one call to the echo plugin,
// sendBurst(n) makes n; `received` counts the answers.
inline constexpr char kEchoPage[] = R"JS(
var received = 0;
function okCallback(message) { received++; }
function failCallback(message) { throw new Error('echo failed: ' + message); }
function send() { harbor.exec(okCallback, failCallback, 'Echo', 'echo', ['payload']); }
function sendBurst(n) { for (var i = 0; i < n; i++) harbor.exec(okCallback, failCallback, 'Echo', 'echo', ['payload']); }
)JS";

// The one cost the bridge cannot avoid: evaluating
// "harbor.require('harbor/exec').nativeCallback('Echo<n>',1,"payload",0, 0)" in a bare context
// with harbor.js, a fresh id each time so that the engine's code cache helps no more than in real
// use. Counter "rate": evaluations per second.
void BM_RawCallbackEvaluation(benchmark::State& state);

// A container whose engine is the one named, made and shown; its Echo plugin answers without
// keeping a record. Gives the page behind the engine's view, or null when that engine did not
// come up (another stood in).
plat::web::WebPage* startEchoContainer(std::shared_ptr<harbor::HBRViewController>& controller, const std::string& engine);

// Runs the main loop until `done` holds. Large batches are parsed on a worker, so this waits for
// its post when nothing else is ready; false when nothing more arrives (or after too many rounds).
bool pumpUntil(const std::function<bool()>& done);

// Starts the program `command` (its path first) with its standard error on a pipe and returns the
// seconds until a line of it contains `marker`; then waits for the program to end (ending it
// after timeoutMs). A negative result: it never said it within timeoutMs.
double secondsUntil(const std::vector<std::string>& command, const std::string& marker, int timeoutMs);
double median(std::vector<double> times);

// A start-up against its baseline: each round launches the baseline and then the runner, so that
// both meet the same load on the machine, and the benchmark's time is the runner's. Fills the
// medians (seconds) and the counters "bare_ms" and "runner_ms"; skips with a reason when a
// launch never says its line.
struct Launch {
  std::vector<std::string> command;
  std::string marker;  // the line that says it is up
};
struct LaunchMedians {
  double bare = 0;
  double runner = 0;
};
void compareLaunches(benchmark::State& state, const Launch& bare, const Launch& runner, int timeoutMs,
                     LaunchMedians& medians);

// Prints as usual and keeps each benchmark's "rate" counter by function name, and the failures
// (a benchmark that stopped with an error) by benchmark name.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  // No colours: their trailing reset would otherwise start the summary line.
  RateReporter() : ConsoleReporter(OO_Tabular) {}
  std::map<std::string, double> rates;
  std::map<std::string, std::string> failures;

  void ReportRuns(const std::vector<Run>& runs) override;
};

// Runs the benchmarks named on the command line (all by default) and returns each one's rate by
// function name. Nothing when the command line has arguments the library does not know, or when
// a benchmark failed (said on standard error): a summary line of its zeros would pass for figures.
// In brief mode, runs each for kBriefMinTime unless the command line says otherwise.
std::optional<std::map<std::string, double>> runBenchmarks(int argc, char** argv);

}  // namespace harbor::bench
