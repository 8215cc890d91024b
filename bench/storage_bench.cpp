// A page's localStorage in the headless page engine, values of 100 bytes, against baselines
// measured in the same run:
//   setItem    localStorage.setItem in bursts of 100 (1000 keys in turn, 100 in brief mode, where
//              storing them all first would take most of the run), each written through
//              to the page's SQLite database;  baseline: the same upsert straight into SQLite,
//              one autocommit statement per value, in the same folder;
//   getItem    localStorage.getItem in bursts of 100;  baseline: reading a plain script object
//              in the same page.
// The last line:
//   storage: setItem <N>/s, getItem <M>/s
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "bench_support.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/uikit/UIWebView.h"
#include "plat/web/WebStorage.h"

namespace {

using harbor::bench::kBurst;

// The keys the page stores first, then sets and gets in turn.
const int kKeys = harbor::bench::fullOrBrief(1000, 100);

// After "var count = <kKeys>;".
constexpr char kSetup[] =
    "var value = new Array(51).join('v\\u00e9');"  // 100 UTF-16 units
    "var keys = []; for (var i = 0; i < count; i++) keys.push('key' + i);"
    "var plain = {}; keys.forEach(function (k) { plain[k] = value; });"
    "var next = 0, sink;"
    "function setBurst(n) { for (var i = 0; i < n; i++) localStorage.setItem(keys[next++ % count], value + next); }"
    "function getBurst(n) { for (var i = 0; i < n; i++) sink = localStorage.getItem(keys[next++ % count]); }"
    "function plainBurst(n) { for (var i = 0; i < n; i++) sink = plain[keys[next++ % count]]; }"
    "setBurst(count); 'ready'";

plat::UIWebViewPtr view;
std::string folder;

void burst(benchmark::State& state, const char* function) {
  std::string script = std::string(function) + "(" + std::to_string(kBurst) + ")";
  for (auto _ : state) view->stringByEvaluatingJavaScriptFromString(script);
  state.counters["rate"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kBurst, benchmark::Counter::kIsRate);
}

void BM_SQLiteUpsert(benchmark::State& state) {
  sqlite3* db = nullptr;
  std::string path = folder + "/baseline.sqlite";
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode=DELETE; CREATE TABLE IF NOT EXISTS t (key BLOB PRIMARY KEY, value BLOB NOT NULL)",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* upsert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?1, ?2) ON CONFLICT (key) DO UPDATE SET value = excluded.value", -1,
                     &upsert, nullptr);
  std::string value(200, 'v');
  long n = 0;
  for (auto _ : state) {
    std::string key = "key" + std::to_string(n++ % kKeys);
    sqlite3_bind_blob(upsert, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(upsert, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(upsert) != SQLITE_DONE) state.SkipWithError("the upsert failed");
    sqlite3_reset(upsert);
  }
  sqlite3_finalize(upsert);
  sqlite3_close(db);
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
void BM_SetItem(benchmark::State& state) { burst(state, "setBurst"); }
void BM_PlainObjectRead(benchmark::State& state) { burst(state, "plainBurst"); }
void BM_GetItem(benchmark::State& state) { burst(state, "getBurst"); }

BENCHMARK(BM_SQLiteUpsert)->UseRealTime();
BENCHMARK(BM_SetItem)->UseRealTime();
BENCHMARK(BM_PlainObjectRead)->UseRealTime();
BENCHMARK(BM_GetItem)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  plat::RunLoop::main().bindToCurrentThread();
  plat::setLogSink([](std::string_view) {});
  char pattern[] = "/tmp/harbor-storage-bench-XXXXXX";
  if (!::mkdtemp(pattern)) {
    std::fprintf(stderr, "cannot make a sandbox\n");
    return 1;
  }
  std::string root = pattern;
  plat::setHomeDirectory(root);
  plat::createSandboxFolders(root);
  plat::writeFileContentsAtomically(root + "/index.html", "<p>storage</p>");
  folder = plat::web::localStorageFolder();

  view = std::make_shared<plat::UIWebView>();
  view->initWithFrame(plat::CGRectMake(0, 0, 320, 480));
  view->loadRequest(plat::NSURLRequest::requestWithURL(plat::NSURL::fileURLWithPath(root + "/index.html")));
  plat::RunLoop::main().runUntilIdle();
  bool ready = view->stringByEvaluatingJavaScriptFromString("var count = " + std::to_string(kKeys) + ";" + kSetup) ==
               "ready";

  auto rates = ready ? harbor::bench::runBenchmarks(argc, argv) : std::nullopt;
  view.reset();
  plat::RunLoop::main().runUntilIdle();
  plat::NSFileManager::defaultManager().removeItemAtPath(root);
  if (!ready) std::fprintf(stderr, "the page did not load\n");
  if (!rates) return 1;

  double upsert = (*rates)["BM_SQLiteUpsert"];
  double set = (*rates)["BM_SetItem"];
  double plain = (*rates)["BM_PlainObjectRead"];
  double get = (*rates)["BM_GetItem"];
  std::printf("baseline: SQLite upsert %.0f/s, script object read %.0f/s; setItem %.2f of SQLite, getItem %.2f of object\n",
              upsert, plain, upsert > 0 ? set / upsert : 0.0, plain > 0 ? get / plain : 0.0);
  std::printf("storage: setItem %.0f/s, getItem %.0f/s\n", set, get);
  return 0;
}
