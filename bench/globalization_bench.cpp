// The globalization plugin's dateToString against the one cost it cannot avoid: ICU writing a
// date with a formatter that is already built. Two measurements in one process:
//   bare     icu::DateFormat::format of a new date each time, into UTF-8, with one formatter
//            built before the loop (short date and time, en_US, the default time zone);
//   command  one page command per iteration through the native command path: the batch text is
//            parsed, the command goes to the plugin, which builds its formatter description,
//            formats, and answers; the result becomes the callback script (not evaluated).
// The last line compares them: globalization: <N> dateToString/s through the command path, <R>
// of a bare ICU format call, where R is the command rate over the bare rate. Without the
// formatter cache each command would build its ICU formatter afresh and R would be tiny.
#include <benchmark/benchmark.h>
#include <unicode/datefmt.h>
#include <unicode/timezone.h>

#include <cstdio>
#include <memory>
#include <string>

#include "HBRGlobalization.h"
#include "bench_support.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSTimeZone.h"
#include "support/ScriptRecordingEngine.h"
#include "support/StubBridgeController.h"

namespace {

// 2016-02-01 21:00 UTC; each iteration moves on a minute so that no text repeats.
constexpr double kFirstDate = 1454360400000.0;

void BM_BareICUFormat(benchmark::State& state) {
  icu::Locale locale("en_US");
  std::unique_ptr<icu::DateFormat> formatter(
      icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort, icu::DateFormat::kShort, locale));
  const std::string& zone = plat::NSTimeZone::defaultTimeZone()->name();
  formatter->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone)));
  double date = kFirstDate;
  for (auto _ : state) {
    icu::UnicodeString text;
    formatter->format(date, text);
    std::string utf8;
    text.toUTF8String(utf8);
    benchmark::DoNotOptimize(utf8);
    date += 60000;
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DateToStringCommand(benchmark::State& state) {
  auto engine = std::make_shared<harbor::testing::ScriptRecordingEngine>();
  engine->record = false;
  auto controller = std::make_shared<harbor::testing::StubBridgeController>();
  controller->initWithWebViewEngine(engine);
  controller->addPlugin<harbor::HBRGlobalization>("Globalization");
  auto queue = controller->commandQueue();
  double date = kFirstDate;
  std::uint64_t id = 1000000000;
  for (auto _ : state) {
    char batch[160];
    std::snprintf(batch, sizeof batch, R"([["Globalization%llu","Globalization","dateToString",[{"date":%.0f}]]])",
                  static_cast<unsigned long long>(id++), date);
    queue->enqueueCommandBatch(batch);
    queue->executePending();
    date += 60000;
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  controller->removeAllObjects();
}

BENCHMARK(BM_BareICUFormat);
BENCHMARK(BM_DateToStringCommand);

}  // namespace

int main(int argc, char** argv) {
  plat::RunLoop::main().bindToCurrentThread();
  plat::NSLocale::setCurrentLocaleIdentifier("en_US");
  auto rates = harbor::bench::runBenchmarks(argc, argv);
  if (!rates) return 1;

  double bare = (*rates)["BM_BareICUFormat"];
  double command = (*rates)["BM_DateToStringCommand"];
  std::printf("globalization: %.0f dateToString/s through the command path, %.2f of a bare ICU format call\n", command,
              bare > 0 ? command / bare : 0.0);
  return 0;
}
