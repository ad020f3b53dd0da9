// Putting items on the server: N items created in batch mode and added with
// one OPCAddAllItems call, against N items added one by one (one AddItems
// call each), the batch call alone, and the simulator's own AddItems work per
// item measured on its IOPCItemMgt directly. BM_Memory reports the bytes a local item costs the
// client, and what adding it to the server costs (client and simulator
// together, and the simulator alone), from the heap's own count (mallinfo2).
//
// Scans are manual, so the simulator's scan thread never competes.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <vector>

#include "core/qOPC.h"
#include "simulator/simulator.h"

namespace {

namespace sim = veze6::sim;

// Short ids of the simulator's address space.
const char* const kIds[] = {"Static.Int4",    "Static.Real8",   "Static.String", "Writable.Int2",
                            "Writable.Real4", "Static.Boolean", "Writable.Date", "Static.UInt1"};
constexpr int kIdCount = int(std::size(kIds));

/// A connected component with one inactive group (nothing to scan).
struct Connected {
  Connected() {
    sim::registerSimulationServer();
    server.SetServer(QStringLiteral("Veze6.Simulation.1"));
    server.SetActive(true);
    group = server.OPCGroups()->Add(QStringLiteral("bench"));
    group->SetIsActive(false);
  }
  sim::ScopedCreationHook manual{[](sim::SimulationControl& c) { c.setManualScan(true); }};
  TqOPCServer server;
  TqOPCGroup* group = nullptr;
};

/// The ids, made once: every item shares its id's text.
QStringList sharedIds(int n) {
  QStringList ids;
  ids.reserve(n);
  for (int i = 0; i < n; ++i) ids.append(QString::fromLatin1(kIds[i % kIdCount]));
  return ids;
}

void perItemCounters(benchmark::State& state, int n) {
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["per_item"] = benchmark::Counter(
      double(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_AddBatch(benchmark::State& state) {
  const int n = int(state.range(0));
  Connected c;
  TqOPCItems* items = c.group->OPCItems();
  const QStringList ids = sharedIds(n);
  const auto control = c.server.GetOPCServer().as<sim::SimulationControl>();
  for (auto _ : state) {
    const std::size_t calls = control->callCount(sim::SimCall::AddItems);
    c.server.SetBatchMode(true);
    for (const QString& id : ids) items->AddItem(id);
    items->OPCAddAllItems();
    state.PauseTiming();
    if (items->Items(n - 1)->ServerHandle() == TqOPCItem::kNoServerHandle ||
        control->callCount(sim::SimCall::AddItems) != calls + 1)
      state.SkipWithError("the items did not reach the server in one call");
    items->RemoveAll();
    state.ResumeTiming();
  }
  perItemCounters(state, n);
}
BENCHMARK(BM_AddBatch)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The batch call alone: the items exist (made in batch mode, outside the
// timing); what is timed is OPCAddAllItems, the client's work around the
// one AddItems call and the simulator's work in it.
void BM_AddAllItemsCall(benchmark::State& state) {
  const int n = int(state.range(0));
  Connected c;
  TqOPCItems* items = c.group->OPCItems();
  const QStringList ids = sharedIds(n);
  for (auto _ : state) {
    state.PauseTiming();
    c.server.SetBatchMode(true);
    for (const QString& id : ids) items->AddItem(id);
    state.ResumeTiming();
    items->OPCAddAllItems();
    state.PauseTiming();
    if (items->Items(n - 1)->ServerHandle() == TqOPCItem::kNoServerHandle)
      state.SkipWithError("items not on the server");
    items->RemoveAll();
    state.ResumeTiming();
  }
  perItemCounters(state, n);
}
BENCHMARK(BM_AddAllItemsCall)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_AddOneByOne(benchmark::State& state) {
  const int n = int(state.range(0));
  Connected c;
  TqOPCItems* items = c.group->OPCItems();
  const QStringList ids = sharedIds(n);
  for (auto _ : state) {
    for (const QString& id : ids) items->AddItem(id);
    state.PauseTiming();
    if (items->Items(n - 1)->ServerHandle() == TqOPCItem::kNoServerHandle)
      state.SkipWithError("items not on the server");
    c.server.SetBatchMode(true);  // the items leave in one call
    items->RemoveAll();
    c.server.SetBatchMode(false);
    state.ResumeTiming();
  }
  perItemCounters(state, n);
}
BENCHMARK(BM_AddOneByOne)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

/// The definitions of n items, strings included, for calling the server
/// directly.
struct Definitions {
  explicit Definitions(int n) {
    for (int i = 0; i < n; ++i) strings.push_back(opc::utf8ToUtf16(kIds[i % kIdCount]));
    defs.resize(std::size_t(n));
    for (int i = 0; i < n; ++i)
      defs[std::size_t(i)] = OPCITEMDEF{empty.data(),
                                        strings[std::size_t(i)].data(),
                                        TRUE,
                                        OPCHANDLE(i),
                                        0,
                                        nullptr,
                                        VT_EMPTY,
                                        0};
  }
  std::u16string empty;
  std::vector<std::u16string> strings;
  std::vector<OPCITEMDEF> defs;
};

/// Adds the definitions on the server and returns the handles it gave.
std::vector<OPCHANDLE> addRaw(IOPCItemMgt* itemMgt, Definitions& d, HRESULT* hr = nullptr) {
  opc::TaskOut<OPCITEMRESULT> results;
  opc::TaskOut<HRESULT> errors;
  const HRESULT result =
      itemMgt->AddItems(DWORD(d.defs.size()), d.defs.data(), results.put(), errors.put());
  if (hr) *hr = result;
  std::vector<OPCHANDLE> handles;
  if (results) {
    handles.reserve(d.defs.size());
    for (std::size_t i = 0; i < d.defs.size(); ++i) handles.push_back(results[i].hServer);
  }
  return handles;
}

void removeRaw(IOPCItemMgt* itemMgt, std::vector<OPCHANDLE>& handles) {
  opc::TaskOut<HRESULT> errors;
  itemMgt->RemoveItems(DWORD(handles.size()), handles.data(), errors.put());
}

void BM_SimulatorAddItems(benchmark::State& state) {
  const int n = int(state.range(0));
  Connected c;
  IOPCItemMgt* itemMgt = c.group->ItemMgt();
  Definitions d(n);
  for (auto _ : state) {
    opc::TaskOut<OPCITEMRESULT> results;
    opc::TaskOut<HRESULT> errors;
    benchmark::DoNotOptimize(
        itemMgt->AddItems(DWORD(n), d.defs.data(), results.put(), errors.put()));
    state.PauseTiming();
    std::vector<OPCHANDLE> handles;
    for (int i = 0; i < n; ++i) handles.push_back(results[std::size_t(i)].hServer);
    removeRaw(itemMgt, handles);
    results.put();  // the arrays are freed outside the timing
    errors.put();
    state.ResumeTiming();
  }
  perItemCounters(state, n);
}
BENCHMARK(BM_SimulatorAddItems)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

std::size_t heapInUse() { return mallinfo2().uordblks; }

void BM_Memory(benchmark::State& state) {
  const int n = int(state.range(0));
  for (auto _ : state) {
    Connected c;
    TqOPCItems* items = c.group->OPCItems();
    c.server.SetBatchMode(true);
    const std::size_t start = heapInUse();
    // Ids read from a configuration: each item holds its own text.
    for (int i = 0; i < n; ++i) items->AddItem(QString::fromLatin1(kIds[i % kIdCount]));
    const std::size_t local = heapInUse();
    items->OPCAddAllItems();
    const std::size_t added = heapInUse();

    // The simulator alone: the same number of items added straight to an
    // empty group object of its own.
    IOPCItemMgt* raw = c.server.OPCGroups()->Add(QStringLiteral("raw"))->ItemMgt();
    Definitions d(n);
    const std::size_t rawStart = heapInUse();
    std::vector<OPCHANDLE> handles = addRaw(raw, d);
    const std::size_t rawAdded = heapInUse();
    const std::size_t handlesBytes = handles.capacity() * sizeof(OPCHANDLE);
    removeRaw(raw, handles);

    const double per = 1.0 / n;
    state.counters["local_item_B"] = double(local - start) * per;
    state.counters["added_client_and_sim_B"] = double(added - local) * per;
    state.counters["sim_per_item_B"] = double(rawAdded - rawStart - handlesBytes) * per;
    state.counters["client_on_server_B"] =
        double(std::ptrdiff_t(added - local) - std::ptrdiff_t(rawAdded - rawStart - handlesBytes)) *
        per;
    state.counters["sizeof_TqOPCItem"] = double(sizeof(TqOPCItem));
  }
}
BENCHMARK(BM_Memory)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
