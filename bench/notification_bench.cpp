// The local-notification plugin on a real store in a sandbox home, through the command path
// (batch -> queue -> plugin -> its chain on the global queue -> store -> result script):
//   append    2,000 lines of the size one schedule stores, each written as JSON and appended to
//             a file: the baseline, the least a store that keeps every change must do;
//   schedule  2,000 schedule calls into a store that starts empty, each a notification of its
//             own id, each answered before the next is sent.
// The last line: notifications: 2000 schedules in <ms> ms.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "HBRCommandQueue.h"
#include "LCNLocalNotification.h"
#include "LocalNotificationPlugin.h"
#include "bench_support.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/uikit/UIApplication.h"
#include "support/ScriptRecordingEngine.h"
#include "support/StubBridgeController.h"

namespace {

constexpr int kSchedules = 2000;

std::string& root() {
  static std::string folder;
  return folder;
}

// A fresh sandbox home under the benchmark's folder.
std::string freshHome() {
  static int count = 0;
  std::string home = plat::stringByAppendingPathComponent(root(), "home" + std::to_string(++count));
  plat::createSandboxFolders(home);
  return home;
}

plat::Dictionary optionsNumber(int i) {
  return plat::Dictionary{{"id", i},
                          {"title", "Reminder " + std::to_string(i)},
                          {"text", "Something to do, number " + std::to_string(i)},
                          {"at", 1900000000 + i},
                          {"data", plat::Dictionary{{"list", "groceries"}, {"item", i}}}};
}

struct Page {
  std::shared_ptr<harbor::testing::ScriptRecordingEngine> engine;
  std::shared_ptr<harbor::testing::StubBridgeController> controller;

  Page() {
    engine = std::make_shared<harbor::testing::ScriptRecordingEngine>();
    controller = std::make_shared<harbor::testing::StubBridgeController>();
    controller->initWithWebViewEngine(engine);
    controller->addPlugin<harbor::LCNLocalNotification>("LocalNotification");
  }
  // Sends one command and waits for its answer; false when none came.
  bool call(const std::string& action, const plat::Array& arguments) {
    engine->scripts.clear();
    auto batch = plat::json::write(plat::Array{plat::Array{"cb", "LocalNotification", action, arguments}});
    controller->commandQueue()->enqueueCommandBatch(*batch);
    controller->commandQueue()->executePending();
    auto answered = [&] {
      for (const auto& script : engine->scripts)
        if (script.find("nativeCallback('cb',1,") != std::string::npos) return true;
      return false;
    };
    return harbor::bench::pumpUntil(answered);
  }
};

void BM_AppendLines(benchmark::State& state) {
  std::string line = *plat::json::write(plat::Dictionary{{"set", plat::Array{optionsNumber(0)}}});
  for (auto _ : state) {
    std::string path = plat::stringByAppendingPathComponent(freshHome(), "lines");
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    for (int i = 0; i < kSchedules; ++i) {
      auto text = plat::json::write(plat::Dictionary{{"set", plat::Array{optionsNumber(i)}}});
      text->push_back('\n');
      if (::write(fd, text->data(), text->size()) != static_cast<ssize_t>(text->size())) {
        state.SkipWithError("a write failed");
        break;
      }
    }
    ::close(fd);
  }
  benchmark::DoNotOptimize(line);
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Schedule(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    plat::setHomeDirectory(freshHome());
    plat::UIApplication::resetSharedApplication();
    Page page;
    state.ResumeTiming();
    for (int i = 0; i < kSchedules; ++i) {
      if (!page.call("schedule", plat::Array{optionsNumber(i)})) {
        state.SkipWithError("a schedule was not answered");
        return;
      }
    }
    state.PauseTiming();
    if (plat::UIApplication::sharedApplication()->scheduledLocalNotifications().size() != kSchedules)
      state.SkipWithError("the store does not hold every notification");
    state.ResumeTiming();
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

const int kRounds = harbor::bench::fullOrBrief(3, 1);
BENCHMARK(BM_AppendLines)->Iterations(kRounds)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Schedule)->Iterations(kRounds)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  plat::RunLoop::main().bindToCurrentThread();
  std::string pattern = (std::filesystem::temp_directory_path() / "harbor-notification-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return 1;
  root() = pattern;
  harbor::registerLocalNotificationPlugin();

  auto rates = harbor::bench::runBenchmarks(argc, argv);
  plat::UIApplication::resetSharedApplication();
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  if (!rates) return 1;
  double append = (*rates)["BM_AppendLines"];
  double schedule = (*rates)["BM_Schedule"];
  std::printf("notifications: %d schedules cost %.1f plain appends of as many lines\n", kSchedules,
              schedule > 0 ? append / schedule : 0.0);
  std::printf("notifications: %d schedules in %.0f ms\n", kSchedules, schedule > 0 ? 1000.0 / schedule : 0.0);
  return 0;
}
