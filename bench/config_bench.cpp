// Reading config.xml against the cost no reader of it can avoid:
//   bare       one libxml2 SAX pass over the file (read from disk, every element seen, nothing
//              kept);
//   container  the container's loader and parser over the same file, keeping every preference
//              by its lower-cased name.
// The file holds 100000 preferences with distinct names, as a hostile or generated bundle might.
// The last line:
//   config: 100000 preferences in <ms> ms, <R> of a bare libxml2 SAX pass over the same file
// R is the bare pass's time over the container's: 1 would mean no cost beyond the parse.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "HBRConfigLoader.h"
#include "HBRConfigParser.h"
#include "bench_support.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"

namespace {

constexpr int kPreferences = 100000;
std::string gConfigPath;

void countElement(void* count, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**, int, int,
                  const xmlChar**) {
  ++*static_cast<long*>(count);
}

void BM_BareSAXPass(benchmark::State& state) {
  xmlSAXHandler sax{};
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = countElement;
  for (auto _ : state) {
    long count = 0;
    if (xmlSAXUserParseFile(&sax, &count, gConfigPath.c_str()) != 0 || count != kPreferences + 1) {
      state.SkipWithError("the bare pass failed");
      return;
    }
    benchmark::DoNotOptimize(count);
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ContainerConfig(benchmark::State& state) {
  harbor::HBRConfigLoader loader;
  loader.setConfigFile(gConfigPath);
  for (auto _ : state) {
    auto parser = std::make_shared<harbor::HBRConfigParser>();
    loader.parseSettingsWithParser(parser);
    if (parser->settings().size() != static_cast<std::size_t>(kPreferences)) {
      state.SkipWithError("the container's parse lost preferences");
      return;
    }
    benchmark::DoNotOptimize(parser->settings());
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_BareSAXPass)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainerConfig)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  plat::setLogSink([](std::string_view) {});
  char folder[] = "/tmp/harbor-config-bench-XXXXXX";
  if (!::mkdtemp(folder)) {
    std::fprintf(stderr, "cannot make a scratch folder\n");
    return 1;
  }
  gConfigPath = std::string(folder) + "/config.xml";
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"org.harbor.bench\" version=\"1.0\">\n";
  for (int i = 0; i < kPreferences; ++i)
    xml += "  <preference name=\"Preference" + std::to_string(i) + "\" value=\"value " + std::to_string(i) + "\"/>\n";
  xml += "</widget>\n";
  if (!plat::writeFileContentsAtomically(gConfigPath, xml)) {
    std::fprintf(stderr, "cannot write %s\n", gConfigPath.c_str());
    return 1;
  }

  auto rates = harbor::bench::runBenchmarks(argc, argv);
  plat::NSFileManager::defaultManager().removeItemAtPath(folder);
  if (!rates) return 1;
  double bare = (*rates)["BM_BareSAXPass"];
  double container = (*rates)["BM_ContainerConfig"];
  std::printf("config: %d preferences in %.1f ms, %.2f of a bare libxml2 SAX pass over the same file\n", kPreferences,
              container > 0 ? 1000.0 / container : 0.0, bare > 0 ? container / bare : 0.0);
  return 0;
}
