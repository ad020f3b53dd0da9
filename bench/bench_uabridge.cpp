// The UA bridge end to end: item updates per second from the node-opcua test
// server through the bridge and the server component to OnDatachange, at
// 1,000 and 10,000 items, beside node-opcua's own client subscribing to the
// same items on the same server; and adding 10,000 node ids to a group, with
// the number of UA requests it took.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <chrono>
#include <cstdio>
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

/// Runs the event loop for a while (the component's thread is this one).
void pump(std::chrono::milliseconds span) {
  QDeadlineTimer deadline(span);
  while (!deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                    int(std::max<qint64>(deadline.remainingTime(), 1)));
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
    pump(kMeasured);
    counting = false;
    ours = double(updates) /
           std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.counters["updates_per_second"] = ours;
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
