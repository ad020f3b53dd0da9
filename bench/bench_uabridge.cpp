// The UA bridge end to end: item updates per second from the node-opcua test
// server through the bridge and the server component to OnDatachange, at
// 1,000 and 10,000 items, beside node-opcua's own client subscribing to the
// same items on the same server, with the processor time one update costs
// this process; and adding 10,000 node ids to a group, with the number of UA
// requests it took.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "core/qOPC.h"
#include "testserver_process.h"
#include "uabridge/uaregistration.h"
#include "uabridge/uaserver.h"
#include "uapeer.h"

namespace {

using veze6bench::bankServer;
using veze6bench::peerFigure;

using namespace std::chrono_literals;

constexpr int kBank = veze6bench::kBankSize;

QString bankId(int i) { return QString::asprintf("ns=2;s=Bank.%04d", i); }

/// Runs the event loop for a while (the component's thread is this one),
/// asleep between events: a loop of processEvents calls would spin and take
/// the processor from the server being measured.
void pump(std::chrono::milliseconds span) {
  QEventLoop loop;
  QTimer::singleShot(span, &loop, &QEventLoop::quit);
  loop.exec();
}

/// CPU time of this process, every thread (the server and the peer are others).
double processCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_DataChangesToTheComponent(benchmark::State& state) {
  auto* server = bankServer();
  if (!server) {
    state.SkipWithError("the node-opcua test server did not start");
    return;
  }
  const int items = int(state.range(0));
  constexpr auto kMeasured = 5s;
  double ours = 0;
  double cpuPerUpdate = 0;
  for (auto _ : state) {
    TqOPCServer component;
    std::uint64_t updates = 0;
    bool counting = false;
    component.OnDatachange = [&](QObject*, TqOPCItemList* list) {
      if (counting) updates += std::uint64_t(list->Count());
    };
    component.Connect(QString::fromStdString(server->url()));
    component.OPCGroupDefault()->UpdateRate = 100;
    TqOPCGroup* g = component.OPCGroups()->Add("bank");
    component.SetBatchMode(true);
    for (int i = 0; i < items; ++i) g->OPCItems()->AddItem(bankId(i));
    component.SetBatchMode(false);
    g->OPCItems()->OPCAddAllItems();
    pump(1s);  // the initial values go by, as the peer lets them
    counting = true;
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = processCpuSeconds();
    pump(kMeasured);
    counting = false;
    ours = double(updates) /
           std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpuPerUpdate = updates ? (processCpuSeconds() - cpu0) * 1e6 / double(updates) : 0;
  }
  state.counters["updates_per_second"] = ours;
  // What one update costs this process (UA I/O thread, bridge, component).
  state.counters["cpu_us_per_update"] = cpuPerUpdate;
  state.counters["peer_updates_per_second"] = peerFigure(
      server->url() + " subscribe " + std::to_string(items) + " 100 5", "updates_per_second");
}
BENCHMARK(BM_DataChangesToTheComponent)
    ->Arg(1000)
    ->Arg(kBank)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

void BM_AddItems10k(benchmark::State& state) {
  auto* server = bankServer();
  if (!server) {
    state.SkipWithError("the node-opcua test server did not start");
    return;
  }
  TqOPCServer component;
  component.Connect(QString::fromStdString(server->url()));
  component.OPCGroupDefault()->IsActive = false;  // the adding alone
  // The component holds the bridge's server object itself.
  const auto* bridge = static_cast<const veze6::uab::UaServer*>(component.GetOPCServer().get());
  std::uint64_t calls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TqOPCGroup* g = component.OPCGroups()->Add("bank");
    component.SetBatchMode(true);
    for (int i = 0; i < kBank; ++i) g->OPCItems()->AddItem(bankId(i));
    component.SetBatchMode(false);
    const std::uint64_t before = bridge->uaCallCount();
    state.ResumeTiming();
    g->OPCItems()->OPCAddAllItems();
    state.PauseTiming();
    calls = bridge->uaCallCount() - before;
    g->Free();
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
  state.counters["ua_requests"] = double(calls);
}
BENCHMARK(BM_AddItems10k)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// The bridge serves the "opc.tcp" server names before any benchmark runs.
const bool g_registered = [] {
  veze6::uab::registerUaBridge();
  return true;
}();

}  // namespace
