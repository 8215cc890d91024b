// Reading config.xml against the cost no reader of it can avoid:
//   bare       one libxml2 SAX pass over the file (read from disk, every element seen, nothing
//              kept);
//   container  the container's loader and parser over the same file, keeping every preference
//              by its lower-cased name.
// The file is the largest that start-up reads (HBRConfigLoader::kMaxConfigFileBytes, to the
// byte): as many preferences with distinct names as fit, as a hostile or generated bundle might
// hold. The last line:
//   config: <N> preferences (<MiB> MiB) in <ms> ms, <R> of a bare libxml2 SAX pass over the same file
// R is the bare pass's time over the container's: 1 would mean no cost beyond the parse.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HBRConfigLoader.h"
#include "HBRConfigParser.h"
#include "bench_support.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"

namespace {

std::string gConfigPath;
long gPreferences = 0;  // in the file

// A config.xml of exactly `bytes` bytes, as many preferences as fit; counts them in `preferences`.
std::string largestConfig(std::uint64_t bytes, long& preferences) {
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"org.harbor.bench\" version=\"1.0\">\n";
  const std::string tail = "</widget>\n";
  std::string xml = head;
  preferences = 0;
  for (;;) {
    std::string n = std::to_string(preferences);
    std::string line = "  <preference name=\"Preference" + n + "\" value=\"value " + n + "\"/>\n";
    if (xml.size() + line.size() + tail.size() > bytes) break;
    xml += line;
    ++preferences;
  }
  // The rest, less than one more preference, as the blank space an editor might leave.
  xml.append(bytes - xml.size() - tail.size(), ' ');
  return xml + tail;
}

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
    if (xmlSAXUserParseFile(&sax, &count, gConfigPath.c_str()) != 0 || count != gPreferences + 1) {
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
    if (parser->settings().size() != static_cast<std::size_t>(gPreferences)) {
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
  // The loader's own limit, so that the file cannot outgrow what start-up accepts when it changes.
  constexpr std::uint64_t kBytes = harbor::HBRConfigLoader::kMaxConfigFileBytes;
  std::string xml = largestConfig(kBytes, gPreferences);
  if (!plat::writeFileContentsAtomically(gConfigPath, xml)) {
    std::fprintf(stderr, "cannot write %s\n", gConfigPath.c_str());
    return 1;
  }

  auto rates = harbor::bench::runBenchmarks(argc, argv);
  plat::NSFileManager::defaultManager().removeItemAtPath(folder);
  if (!rates) return 1;
  double bare = (*rates)["BM_BareSAXPass"];
  double container = (*rates)["BM_ContainerConfig"];
  std::printf("config: %ld preferences (%.1f MiB) in %.1f ms, %.2f of a bare libxml2 SAX pass over the same file\n",
              gPreferences, static_cast<double>(kBytes) / (1 << 20), container > 0 ? 1000.0 / container : 0.0,
              bare > 0 ? container / bare : 0.0);
  return 0;
}
