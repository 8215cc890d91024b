// The contacts plugin on a real address-book file, through the command path (batch -> queue ->
// plugin -> global queue -> access answer -> main thread -> result script):
//   read     a fresh address book reading every person of the store: the baseline, the least any
//            search over all contacts must do;
//   save     10,000 contacts saved one after another, each its own transaction;
//   search   a search by name over those 10,000 that finds one of them.
// The last line: contacts: save <N>/s, search of 10000 in <ms> ms.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "ContactsPlugin.h"
#include "HBRCommandQueue.h"
#include "HBRContacts.h"
#include "bench_support.h"
#include "plat/addressbook/ABAddressBook.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/NSPathUtilities.h"
#include "support/ScriptRecordingEngine.h"
#include "support/StubBridgeController.h"

namespace {

constexpr int kContacts = 10000;

struct Bench {
  std::shared_ptr<harbor::testing::ScriptRecordingEngine> engine;
  std::shared_ptr<harbor::testing::StubBridgeController> controller;

  void start() {
    engine = std::make_shared<harbor::testing::ScriptRecordingEngine>();
    controller = std::make_shared<harbor::testing::StubBridgeController>();
    controller->initWithWebViewEngine(engine);
    controller->addPlugin<harbor::HBRContacts>("Contacts");
  }
  // Sends one command and waits for its answer; false when none came.
  bool call(const std::string& action, const plat::Array& arguments) {
    engine->scripts.clear();
    auto batch = plat::json::write(plat::Array{plat::Array{"cb", "Contacts", action, arguments}});
    controller->commandQueue()->enqueueCommandBatch(*batch);
    controller->commandQueue()->executePending();
    return harbor::bench::pumpUntil([&] { return !engine->scripts.empty(); }) &&
           engine->scripts[0].find("'cb',1,") != std::string::npos;
  }
};

Bench& bench() {
  static Bench* b = [] {
    auto* created = new Bench();
    created->start();
    return created;
  }();
  return *b;
}

plat::Dictionary contactNumber(int i) {
  return plat::Dictionary{
      {"name", plat::Dictionary{{"givenName", "Given" + std::to_string(i)}, {"familyName", "Family" + std::to_string(i)}}},
      {"phoneNumbers", plat::Array{plat::Dictionary{{"type", "mobile"}, {"value", "+1 555 " + std::to_string(i)}}}},
      {"emails", plat::Array{plat::Dictionary{{"type", "work"}, {"value", "p" + std::to_string(i) + "@example.org"}}}},
      {"note", "A note about person number " + std::to_string(i)},
  };
}

void BM_Save(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    if (!bench().call("save", plat::Array{contactNumber(i++)})) {
      state.SkipWithError("a save failed");
      return;
    }
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ReadAllPeople(benchmark::State& state) {
  for (auto _ : state) {
    auto book = plat::ABAddressBookCreateWithOptions();
    auto people = book->copyArrayOfAllPeople();
    if (people.size() != static_cast<std::size_t>(kContacts)) {
      state.SkipWithError("the store does not hold every contact");
      return;
    }
    benchmark::DoNotOptimize(people);
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SearchByName(benchmark::State& state) {
  const plat::Array arguments{plat::Array{"name"},
                              plat::Dictionary{{"filter", "family4711"}, {"multiple", true},
                                               {"desiredFields", plat::Array{"name", "phoneNumbers"}}}};
  for (auto _ : state) {
    if (!bench().call("search", arguments) || bench().engine->scripts[0].find("Given4711") == std::string::npos) {
      state.SkipWithError("the search did not find the contact");
      return;
    }
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Save)->Iterations(kContacts)->UseRealTime();
BENCHMARK(BM_ReadAllPeople)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchByName)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  plat::RunLoop::main().bindToCurrentThread();
  std::string pattern = (std::filesystem::temp_directory_path() / "harbor-contacts-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return 1;
  plat::createSandboxFolders(pattern);
  plat::setHomeDirectory(pattern);
  harbor::registerContactsPlugin();
  plat::SimulatedAddressBookAccess::setAuthorizationStatus(plat::ABAuthorizationStatus::Authorized);

  auto rates = harbor::bench::runBenchmarks(argc, argv);
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  if (!rates) return 1;
  double save = (*rates)["BM_Save"];
  double read = (*rates)["BM_ReadAllPeople"];
  double search = (*rates)["BM_SearchByName"];
  std::printf("contacts: a search costs %.2f plain reads of every contact\n", search > 0 ? read / search : 0.0);
  std::printf("contacts: save %.0f/s, search of %d in %.1f ms\n", save, kContacts, search > 0 ? 1000.0 / search : 0.0);
  return 0;
}
