// The bridge against the one cost it cannot avoid: evaluating a result's callback script in
// JavaScriptCore. Three measurements in one process:
//   raw     evaluating "harbor.require('harbor/exec').nativeCallback('Echo<n>',1,"payload",0, 0)"
//           (a fresh id each time, so the engine's code cache helps no more than in real use);
//   single  one page call per signal: exec -> signal -> fetch -> parse -> echo plugin ->
//           result script -> the page's success callback;
//   burst   100 page calls per signal, fetched and executed as one batch.
// The last line compares them: bridge: <N> round trips/s single, <M> round trips/s burst,
// <R> of raw evaluation, where R is the burst rate over the raw rate.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench_support.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "support/EchoPlugin.h"
#include "support/FakeWebViewEngine.h"
#include "support/StubBridgeController.h"

namespace {

using harbor::bench::BM_RawCallbackEvaluation;
using harbor::bench::kBurst;
using harbor::bench::kEchoPage;
using harbor::testing::EchoPlugin;
using harbor::testing::FakeWebViewEngine;
using harbor::testing::StubBridgeController;

struct Bridge {
  std::shared_ptr<FakeWebViewEngine> engine;
  std::shared_ptr<StubBridgeController> controller;
  plat::JSValue send;
  plat::JSValue sendBurst;
  plat::JSValue global;

  bool start() {
    engine = std::make_shared<FakeWebViewEngine>();
    if (!engine->initWithBridgeMode(FakeWebViewEngine::BridgeMode::Iframe)) return false;
    engine->recordEvaluatedScripts(false);
    controller = std::make_shared<StubBridgeController>();
    controller->initWithWebViewEngine(engine);
    engine->setBridgeController(controller);
    controller->addPlugin<EchoPlugin>("Echo")->setRecording(false);
    if (!engine->context().evaluate(kEchoPage)) return false;
    global = engine->context().globalObject();
    send = global.property("send");
    sendBurst = global.property("sendBurst");
    return send.isFunction() && sendBurst.isFunction();
  }

  double received() { return global.property("received").toNumber(); }

  bool pumpUntil(double expected) {
    return harbor::bench::pumpUntil([&] { return received() >= expected; });
  }
};

void BM_RoundTripSingle(benchmark::State& state) {
  Bridge bridge;
  if (!bridge.start()) {
    state.SkipWithError("bridge did not start");
    return;
  }
  double expected = 0;
  for (auto _ : state) {
    bridge.send.call();
    expected += 1;
    if (!bridge.pumpUntil(expected)) {
      state.SkipWithError("a round trip did not complete");
      return;
    }
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RoundTripBurst(benchmark::State& state) {
  Bridge bridge;
  if (!bridge.start()) {
    state.SkipWithError("bridge did not start");
    return;
  }
  double expected = 0;
  const plat::Array burst{kBurst};
  for (auto _ : state) {
    bridge.sendBurst.callWithArguments(burst);
    expected += kBurst;
    if (!bridge.pumpUntil(expected)) {
      state.SkipWithError("a burst did not complete");
      return;
    }
  }
  state.counters["rate"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kBurst, benchmark::Counter::kIsRate);
}

// Wall-clock time throughout: large batches are parsed on a worker thread.
BENCHMARK(BM_RawCallbackEvaluation)->UseRealTime();
BENCHMARK(BM_RoundTripSingle)->UseRealTime();
BENCHMARK(BM_RoundTripBurst)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  plat::RunLoop::main().bindToCurrentThread();
  auto rates = harbor::bench::runBenchmarks(argc, argv);
  if (!rates) return 1;

  double raw = (*rates)["BM_RawCallbackEvaluation"];
  double single = (*rates)["BM_RoundTripSingle"];
  double burst = (*rates)["BM_RoundTripBurst"];
  std::printf("bridge: %.0f round trips/s single, %.0f round trips/s burst, %.2f of raw evaluation\n", single, burst,
              raw > 0 ? burst / raw : 0.0);
  return 0;
}
