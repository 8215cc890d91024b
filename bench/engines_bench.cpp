// The bridge's round trip through each web view engine on a loaded page, against the same
// baseline as the bridge benchmark: evaluating a result's callback script in JavaScriptCore.
//   raw        "harbor.require('harbor/exec').nativeCallback('Echo<n>',1,"payload",0, 0)" evaluated
//              in a bare context with harbor.js;
//   UIWebView  a container view controller with the UIWebView engine on a page that loaded
//              harbor.js: 100 page calls to the echo plugin, signalled by an hbr: frame
//              navigation, fetched, executed and answered into the page;
//   WKWebView  the same with the WKWebView engine: each call a script message, each answer an
//              asynchronous evaluation.
//   single     one call at a time under each engine, each answered before the next is made.
// A headless page, one process. The last line:
//   engines: <N> round trips/s UIWebView, <M> round trips/s WKWebView, burst of 100; single <S1>/s UIWebView,
//   <S2>/s WKWebView
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "HBRContainerClasses.h"
#include "HBRViewController.h"
#include "bench_support.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/web/WebPage.h"
#include "support/EchoPlugin.h"
#include "support/FakeWebViewEngine.h"

namespace {

using harbor::HBRViewController;
using harbor::bench::BM_RawCallbackEvaluation;
using harbor::bench::kBurst;
using harbor::bench::kEchoPage;
using harbor::testing::EchoPlugin;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A sandbox home with an application bundle whose start page loads harbor.js.
class Sandbox {
 public:
  bool make() {
    char pattern[] = "/tmp/harbor-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return false;
    root_ = pattern;
    std::string bundle = root_ + "/Harbor.app";
    auto& files = plat::NSFileManager::defaultManager();
    if (!files.createDirectoryAtPath(bundle + "/www", true)) return false;
    plat::setHomeDirectory(root_ + "/home");
    plat::createSandboxFolders(root_ + "/home");
    bool ok = plat::writeFileContentsAtomically(bundle + "/Info.plist",
                                                "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                                                "<key>CFBundleIdentifier</key><string>org.harbor.bench</string></dict></plist>") &&
              plat::writeFileContentsAtomically(
                  bundle + "/config.xml",
                  "<widget><feature name=\"Echo\"><param name=\"ios-package\" value=\"EchoPlugin\"/></feature></widget>") &&
              plat::writeFileContentsAtomically(bundle + "/www/harbor.js", readFile(harbor::testing::harborScriptPath())) &&
              plat::writeFileContentsAtomically(bundle + "/www/index.html",
                                                std::string("<script src=\"harbor.js\"></script><script>") + kEchoPage +
                                                    "</script>");
    plat::NSBundle::setMainBundlePath(bundle);
    return ok;
  }
  ~Sandbox() {
    if (!root_.empty()) plat::NSFileManager::defaultManager().removeItemAtPath(root_);
  }

 private:
  std::string root_;
};

// A container on the loaded page with the named engine.
struct Container {
  std::shared_ptr<HBRViewController> controller;
  plat::web::WebPage* page = nullptr;

  bool start(const std::string& engine) {
    page = harbor::bench::startEchoContainer(controller, engine);
    if (!page) return false;
    plat::RunLoop::main().runUntilIdle();
    auto ready = page->evaluate("typeof sendBurst");
    return ready && ready->toString() == "function";
  }

  double received() {
    auto value = page->evaluate("received");
    return value ? value->toNumber() : -1;
  }

  bool pumpUntil(double expected) {
    return harbor::bench::pumpUntil([&] { return received() >= expected; });
  }
};

// Rounds of `calls` page calls, each round waiting for all its answers. A burst (many calls per
// round) measures throughput; single calls (one per round, each answered before the next) what a
// page that awaits every answer feels, where a burst hides each call's turns of the main loop
// behind the others.
void roundTrips(benchmark::State& state, const std::string& engine, int calls) {
  Container container;
  if (!container.start(engine)) {
    state.SkipWithError("the page did not load");
    return;
  }
  double expected = container.received();
  std::string send = calls == 1 ? std::string("send()") : "sendBurst(" + std::to_string(calls) + ")";
  for (auto _ : state) {
    container.page->evaluate(send);
    expected += calls;
    if (!container.pumpUntil(expected)) {
      state.SkipWithError("a round was not answered");
      return;
    }
  }
  state.counters["rate"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * calls, benchmark::Counter::kIsRate);
}

void BM_UIWebViewBurst(benchmark::State& state) { roundTrips(state, "HBRUIWebViewEngine", kBurst); }
void BM_WKWebViewBurst(benchmark::State& state) { roundTrips(state, "HBRWKWebViewEngine", kBurst); }
void BM_UIWebViewSingle(benchmark::State& state) { roundTrips(state, "HBRUIWebViewEngine", 1); }
void BM_WKWebViewSingle(benchmark::State& state) { roundTrips(state, "HBRWKWebViewEngine", 1); }

BENCHMARK(BM_RawCallbackEvaluation)->UseRealTime();
BENCHMARK(BM_UIWebViewBurst)->UseRealTime();
BENCHMARK(BM_WKWebViewBurst)->UseRealTime();
BENCHMARK(BM_UIWebViewSingle)->UseRealTime();
BENCHMARK(BM_WKWebViewSingle)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  plat::RunLoop::main().bindToCurrentThread();
  // The container's log lines would drown the report.
  plat::setLogSink([](std::string_view) {});
  Sandbox sandbox;
  if (!sandbox.make()) {
    std::fprintf(stderr, "cannot make a sandbox\n");
    return 1;
  }
  harbor::registerContainerClasses();
  plat::ClassRegistry::shared().registerClass<EchoPlugin>("EchoPlugin");

  auto rates = harbor::bench::runBenchmarks(argc, argv);
  if (!rates) return 1;

  double raw = (*rates)["BM_RawCallbackEvaluation"];
  double ui = (*rates)["BM_UIWebViewBurst"];
  double wk = (*rates)["BM_WKWebViewBurst"];
  std::printf("raw callback evaluation: %.0f/s; UIWebView %.2f of raw, WKWebView %.2f of raw\n", raw,
              raw > 0 ? ui / raw : 0.0, raw > 0 ? wk / raw : 0.0);
  double uiSingle = (*rates)["BM_UIWebViewSingle"];
  double wkSingle = (*rates)["BM_WKWebViewSingle"];
  std::printf(
      "engines: %.0f round trips/s UIWebView, %.0f round trips/s WKWebView, burst of %d; single %.0f/s UIWebView, "
      "%.0f/s WKWebView\n",
      ui, wk, kBurst, uiSingle, wkSingle);
  return 0;
}
