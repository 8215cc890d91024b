#include <cstdio>

#include "bench_support.h"

#include <cstdint>

#include "plat/dispatch/RunLoop.h"
#include "support/FakeWebViewEngine.h"

namespace harbor::bench {

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
    if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
    auto it = run.counters.find("rate");
    if (it != run.counters.end()) rates[run.run_name.function_name] = it->second.value;
  }
}

std::optional<std::map<std::string, double>> runBenchmarks(int& argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return std::nullopt;
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::fflush(stdout);
  return std::move(reporter.rates);
}

}  // namespace harbor::bench
