// Data change throughput and latency, from the simulation server's scan to
// the application's OnDatachange handler, which reads every listed item's
// value and time stamp.
//
// The server holds N analog items with random values (each changes on every
// scan) and one probe item that stores the steady clock's reading in its
// value whenever a scan samples it; the probe is the group's first item, so
// its value tells when the group's scan began.
//
//   BM_EndToEnd        manual scans on the component's thread: one pass of
//                      the server (sampling, change detection, the call into
//                      the sink), the sink's work on the items, the posted
//                      message and the handler. items/s is updates/s.
//   BM_ServerAlone     the same pass with a sink that does nothing: the
//                      server's own share of BM_EndToEnd.
//   BM_ClientPath      the client's share alone: the group's data callback
//                      called with ready arrays, the message, the handler.
//   BM_BareLoop        the limit: the same values and time stamps copied
//                      into plain structs in a plain loop.
//   BM_Latency         the server's own scan thread at the group's rate; the
//                      delay from a scan's start to the handler (median and
//                      99th percentile over the passes, in microseconds).
//   BM_LatencyManual   the same delay with manual scans on one thread.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "benchserver.h"
#include "core/qOPC.h"
#include "core/tqopcdatacallback.h"
#include "opc/classregistry.h"
#include "opc/filetime.h"
#include "simulator/simulator.h"

namespace {

namespace sim = veze6::sim;
using namespace std::chrono_literals;

constexpr DWORD kBaseRateMs = 10;

double steadyNs() {
  return double(std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count());
}

// The probe's generator: every sample is a new value, the scan's moment.
class ScanProbe final : public sim::ValueGenerator {
 public:
  bool next(double, VARIANT& value) override {
    value.vt = VT_R8;
    value.dblVal = steadyNs();
    return true;
  }
};

using bench::itemId;

// What the next server created holds and how it scans.
std::atomic<int> g_items{0};
std::atomic<bool> g_manual{true};

constexpr CLSID kBenchServer{
    0x3E0A7C21, 0x6B2D, 0x4C8E, {0x91, 0x5A, 0x0D, 0x7E, 0x44, 0x2B, 0xC3, 0x18}};

QString benchServerName() {
  static const QString name =
      bench::registerServer(kBenchServer, u"veze6 benchmark: random analog items", [] {
        sim::SimulationOptions options;
        options.defaultItems = false;
        options.baseScanRateMs = kBaseRateMs;
        options.manualScan = g_manual.load();
        if (options.manualScan) options.clock = std::make_shared<sim::ManualClock>();
        const int n = g_items.load();
        options.extendAddressSpace = [n](sim::AddressSpace& space) {
          space.addItem(u"Bench.Probe", VT_R8, OPC_READABLE, OleVariant(0.0), opc::fileTimeNow())
              ->generator = std::make_unique<ScanProbe>();
          bench::addRandomItems(space, n);
        };
        return options;
      });
  return name;
}

// A connected component with one active group holding the probe and the N
// items; the handler reads every listed item.
struct Subscription {
  Subscription(int n, bool manual, int rateMs) {
    g_items = n;
    g_manual = manual;
    server.SetServer(benchServerName());
    server.SetActive(true);
    control = server.GetOPCServer().as<sim::SimulationControl>();
    server.OPCGroupDefault()->UpdateRate = rateMs;
    server.SetBatchMode(true);
    group = server.OPCGroups()->Add(QStringLiteral("bench"));
    TqOPCItems* items = group->OPCItems();
    probe = items->AddItem(QStringLiteral("Bench.Probe"));
    for (int i = 0; i < n; ++i) items->AddItem(QString::fromStdU16String(itemId(i)));
    items->OPCAddAllItems();
    server.SetBatchMode(false);
    server.OnDatachange = [this](QObject*, TqOPCItemList* list) { handle(*list); };
  }

  void handle(const TqOPCItemList& list) {
    const double entered = steadyNs();
    double sum = 0.0;
    TDateTime latest = 0;
    for (int i = 0; i < list.Count(); ++i) {
      const TqOPCItem* item = list.Items(i);
      sum += item->Value().get().dblVal;
      latest = std::max(latest, item->TimeStamp());
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(latest);
    updates += list.Count();
    ++changes;
    if (list.Count() > 0 && list.Items(0) == probe)
      latencies.push_back(entered - probe->Value().get().dblVal);
  }

  /// Delivers what the sink posted.
  static void deliver() { QCoreApplication::sendPostedEvents(); }

  TqOPCServer server;
  ComPtr<sim::SimulationControl> control;
  TqOPCGroup* group = nullptr;
  TqOPCItem* probe = nullptr;
  std::int64_t updates = 0;
  std::int64_t changes = 0;
  std::vector<double> latencies;  // ns
};

void perItemCounters(benchmark::State& state, std::int64_t items) {
  state.SetItemsProcessed(items);
}

void percentiles(benchmark::State& state, std::vector<double> ns) {
  if (ns.empty()) {
    state.SkipWithError("no pass reached the handler");
    return;
  }
  std::sort(ns.begin(), ns.end());
  const auto at = [&](double q) { return ns[std::min(ns.size() - 1, std::size_t(q * ns.size()))]; };
  state.counters["median_us"] = at(0.5) / 1000.0;
  state.counters["p99_us"] = at(0.99) / 1000.0;
  state.counters["passes"] = double(ns.size());
}

void BM_EndToEnd(benchmark::State& state) {
  const int n = int(state.range(0));
  Subscription s(n, true, int(kBaseRateMs));
  s.control->runScan();  // the first report of every item
  Subscription::deliver();
  s.updates = 0;
  for (auto _ : state) {
    s.control->advance(std::chrono::milliseconds(kBaseRateMs));
    Subscription::deliver();
  }
  if (s.updates != std::int64_t(state.iterations()) * (n + 1))
    state.SkipWithError("not every item changed on every scan");
  perItemCounters(state, s.updates);
}
BENCHMARK(BM_EndToEnd)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A sink that takes nothing but the call.
class NullCallback final : public opc::ComObject<IOPCDataCallback> {
 public:
  HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE*, VARIANT*, WORD*,
                       FILETIME*, HRESULT*) override {
    items += count;
    return S_OK;
  }
  HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                         FILETIME*, HRESULT*) override {
    return S_OK;
  }
  HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
    return S_OK;
  }
  HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
  std::int64_t items = 0;
};

void BM_ServerAlone(benchmark::State& state) {
  const int n = int(state.range(0));
  Subscription s(n, true, int(kBaseRateMs));
  // The component's sink goes; a sink that does nothing takes its place.
  IOPCItemMgt* itemMgt = s.group->ItemMgt();
  ComPtr<IConnectionPointContainer> container =
      ComPtr<IOPCItemMgt>(itemMgt).as<IConnectionPointContainer>();
  ComPtr<IConnectionPoint> point;
  container->FindConnectionPoint(IID_IOPCDataCallback, point.put());
  point->Unadvise(s.group->DataCallback()->Cookie());
  const auto sink = opc::makeCom<NullCallback>();
  DWORD cookie = 0;
  point->Advise(static_cast<IOPCDataCallback*>(sink.get()), &cookie);
  s.control->runScan();
  sink->items = 0;
  for (auto _ : state) s.control->advance(std::chrono::milliseconds(kBaseRateMs));
  if (sink->items != std::int64_t(state.iterations()) * (n + 1))
    state.SkipWithError("not every item changed on every scan");
  perItemCounters(state, sink->items);
  point->Unadvise(cookie);
}
BENCHMARK(BM_ServerAlone)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Arrays as a server hands them to the data callback.
struct Arrays {
  explicit Arrays(const Subscription& s) {
    const TqOPCItems* items = s.group->OPCItems();
    const int n = items->Count();
    handles.resize(std::size_t(n));
    values.resize(std::size_t(n));
    qualities.assign(std::size_t(n), OPC_QUALITY_GOOD);
    times.resize(std::size_t(n));
    errors.assign(std::size_t(n), S_OK);
    const std::uint64_t now = opc::fileTimeTicks(opc::fileTimeNow());
    for (int i = 0; i < n; ++i) {
      handles[std::size_t(i)] = items->Items(i)->GetClientHandle();
      times[std::size_t(i)] = opc::fileTimeFromTicks(now + std::uint64_t(i) * 10000);
    }
    refill(0);
  }
  void refill(int round) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i].vt = VT_R8;
      values[i].dblVal = double(round) + double(i) * 0.001;
    }
  }
  std::vector<OPCHANDLE> handles;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> times;
  std::vector<HRESULT> errors;
};

void BM_ClientPath(benchmark::State& state) {
  const int n = int(state.range(0));
  Subscription s(n, true, int(kBaseRateMs));
  Arrays a(s);
  IOPCDataCallback* sink = s.group->DataCallback();
  const DWORD count = DWORD(a.handles.size());
  int round = 0;
  s.updates = 0;
  for (auto _ : state) {
    sink->OnDataChange(0, s.group->ClientHandle(), S_OK, S_OK, count, a.handles.data(),
                       a.values.data(), a.qualities.data(), a.times.data(), a.errors.data());
    Subscription::deliver();
    state.PauseTiming();
    a.refill(++round);
    state.ResumeTiming();
  }
  if (s.updates != std::int64_t(state.iterations()) * count)
    state.SkipWithError("not every item was delivered");
  perItemCounters(state, s.updates);
}
BENCHMARK(BM_ClientPath)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_BareLoop(benchmark::State& state) {
  const std::size_t n = std::size_t(state.range(0)) + 1;
  std::vector<VARIANT> values(n);
  std::vector<FILETIME> times(n);
  for (std::size_t i = 0; i < n; ++i) {
    values[i].vt = VT_R8;
    values[i].dblVal = double(i);
    times[i] = opc::fileTimeFromTicks(133000000000000000ULL + i);
  }
  struct Plain {
    VARIANT value;
    FILETIME time;
  };
  std::vector<Plain> out(n);
  for (auto _ : state) {
    for (std::size_t i = 0; i < n; ++i) {
      out[i].value = values[i];
      out[i].time = times[i];
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perItemCounters(state, std::int64_t(state.iterations()) * std::int64_t(n));
}
BENCHMARK(BM_BareLoop)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Latency(benchmark::State& state) {
  const int n = int(state.range(0));
  const int rate = int(state.range(1));
  constexpr int kPasses = 60;
  Subscription s(n, false, rate);
  for (auto _ : state) {
    s.latencies.clear();
    // The first pass reports every item after the sink's advise; skip it.
    QDeadlineTimer deadline(60s);
    while (s.latencies.size() < kPasses + 1 && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  }
  if (!s.latencies.empty()) s.latencies.erase(s.latencies.begin());
  if (s.updates < std::int64_t(kPasses) * (n + 1)) state.SkipWithError("updates were missing");
  percentiles(state, s.latencies);
}
BENCHMARK(BM_Latency)
    ->Args({10000, 100})
    ->Args({100000, 500})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_LatencyManual(benchmark::State& state) {
  const int n = int(state.range(0));
  Subscription s(n, true, int(kBaseRateMs));
  s.control->runScan();
  Subscription::deliver();
  std::vector<double> ns;
  for (auto _ : state) {
    s.latencies.clear();
    s.control->advance(std::chrono::milliseconds(kBaseRateMs));
    Subscription::deliver();
    if (!s.latencies.empty()) ns.push_back(s.latencies.front());
  }
  percentiles(state, ns);
}
BENCHMARK(BM_LatencyManual)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
