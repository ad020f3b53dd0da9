// The cost of asking the simulation server for its status: the raw server
// call against the component's getter (conversion of times and vendor text
// included), and a whole connect/disconnect cycle.
#include <benchmark/benchmark.h>

#include "core/qOPC.h"
#include "simulator/registration.h"

namespace {

TqOPCServer& connectedServer() {
  static TqOPCServer* server = [] {
    veze6::sim::registerSimulationServer();
    auto* s = new TqOPCServer();  // lives for the whole benchmark run
    s->SetServer(QStringLiteral("Veze6.Simulation.1"));
    s->SetActive(true);
    return s;
  }();
  return *server;
}

void BM_RawGetStatus(benchmark::State& state) {
  ComPtr<IOPCServer> server = connectedServer().GetOPCServer();
  for (auto _ : state) {
    opc::TaskOut<OPCSERVERSTATUS> status;
    benchmark::DoNotOptimize(server->GetStatus(status.put()));
    if (status) CoTaskMemFree(status.get()->szVendorInfo);
  }
}
BENCHMARK(BM_RawGetStatus);

void BM_ComponentGetState(benchmark::State& state) {
  TqOPCServer& server = connectedServer();
  for (auto _ : state) benchmark::DoNotOptimize(server.GetState());
}
BENCHMARK(BM_ComponentGetState);

void BM_ConnectDisconnect(benchmark::State& state) {
  veze6::sim::registerSimulationServer();
  TqOPCServer server;
  server.SetServer(QStringLiteral("Veze6.Simulation.1"));
  for (auto _ : state) {
    server.SetActive(true);
    server.SetActive(false);
  }
}
BENCHMARK(BM_ConnectDisconnect);

}  // namespace
