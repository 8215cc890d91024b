// The contacts plugin on a real address-book file, through the command path (batch -> queue ->
// plugin -> global queue -> access answer -> main thread -> result script):
//   read     a fresh address book reading every person of the store: the baseline, the least any
//            search over all contacts must do;
//   save     10,000 contacts saved one after another, each its own transaction;
//   search   a search by name over those 10,000 that finds one of them;
//   update   a save of a stored contact, changed, in that book of 10,000;
//   remove   a remove from it (each followed, untimed, by a save that brings it back to 10,000).
// In brief mode, a book of 500 and 50 removes. The last lines: contacts: save <N>/s, search of
// 10000 in <ms> ms, and contacts: in a book of 10000, an update takes <U> ms and a remove <R> ms.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

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

const int kContacts = harbor::bench::fullOrBrief(10000, 500);
const int kRemoves = harbor::bench::fullOrBrief(1000, 50);
// The one contact the search finds: its family name is no part of any other's.
const int kSought = kContacts * 4711 / 10000;

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
  const std::string sought = std::to_string(kSought);
  const plat::Array arguments{plat::Array{"name"},
                              plat::Dictionary{{"filter", "family" + sought}, {"multiple", true},
                                               {"desiredFields", plat::Array{"name", "phoneNumbers"}}}};
  for (auto _ : state) {
    if (!bench().call("search", arguments) || bench().engine->scripts[0].find("Given" + sought) == std::string::npos) {
      state.SkipWithError("the search did not find the contact");
      return;
    }
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The ids of the stored contacts; nothing, and the benchmark stopped with an error, when the store
// does not hold all of them.
std::vector<plat::ABRecordID> storedIds(benchmark::State& state) {
  std::vector<plat::ABRecordID> ids;
  for (const auto& person : plat::ABAddressBookCreateWithOptions()->copyArrayOfAllPeople())
    ids.push_back(person->recordID());
  if (ids.size() == static_cast<std::size_t>(kContacts)) return ids;
  state.SkipWithError("the store does not hold every contact");
  return {};
}

void BM_Update(benchmark::State& state) {
  auto ids = storedIds(state);
  if (ids.empty()) return;
  std::size_t i = 0;
  for (auto _ : state) {
    // Spread over the book, as a user's edits would be.
    plat::ABRecordID id = ids[(i * 7919) % ids.size()];
    auto contact = contactNumber(static_cast<int>(id));
    contact.set("id", id);
    contact.set("note", "Changed " + std::to_string(i++));
    if (!bench().call("save", plat::Array{contact})) {
      state.SkipWithError("an update failed");
      return;
    }
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// 1,000 removes (50 in brief mode), each of another stored contact (7919 is prime to the size of
// the book, so no id comes twice).
void BM_Remove(benchmark::State& state) {
  auto ids = storedIds(state);
  if (ids.empty()) return;
  std::size_t i = 0;
  for (auto _ : state) {
    plat::ABRecordID id = ids[(i * 7919) % ids.size()];
    if (!bench().call("remove", plat::Array{id})) {
      state.SkipWithError("a remove failed");
      return;
    }
    state.PauseTiming();
    bool saved = bench().call("save", plat::Array{contactNumber(kContacts + static_cast<int>(i++))});
    state.ResumeTiming();
    if (!saved) {
      state.SkipWithError("a save failed");
      return;
    }
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Save)->Iterations(kContacts)->UseRealTime();
BENCHMARK(BM_ReadAllPeople)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchByName)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Update)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Remove)->Iterations(kRemoves)->UseRealTime()->Unit(benchmark::kMillisecond);

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
  double update = (*rates)["BM_Update"];
  double remove = (*rates)["BM_Remove"];
  std::printf("contacts: in a book of %d, an update takes %.2f ms and a remove %.2f ms\n", kContacts,
              update > 0 ? 1000.0 / update : 0.0, remove > 0 ? 1000.0 / remove : 0.0);
  return 0;
}
