// Many clients in one process: 50 server components, each on its own
// simulation server (Veze6.Simulation.1) with one group of 1,000 items at
// 100 ms over the server's live items, and 20 bound widgets each (QLineEdit
// and QLabel in turn). The servers scan on their own threads; everything the
// client does runs on the main thread's event loop.
//
//   BM_Load  each iteration lets one second of deliveries through the event
//            loop, after a warm-up of two seconds.
//
// Counters (over the timed seconds):
//   updates/s     item values delivered to the components' OnDatachange
//                 (the binding's handler passes them on); ideal 500,000.
//   thread_load   CPU time of the main thread over wall time (1 = one core
//                 busy with the components, binding and widgets).
//   p50_ms p99_ms time from the item's scan (its time stamp) to the handler;
//                 stamps have whole milliseconds, so each figure is +-1 ms.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "binding/qOPCGUI.h"
#include "core/qOPC.h"
#include "core/qopcconversions.h"
#include "opc/filetime.h"
#include "simulator/simulator.h"

namespace {

namespace sim = veze6::sim;

constexpr int kComponents = 50;
constexpr int kItemsPerComponent = 1000;
constexpr int kRateMs = 100;
constexpr int kBoundPerComponent = 20;

/// Latencies in whole milliseconds; the last bin takes everything slower.
class LatencyHistogram {
 public:
  void add(double ms) {
    const auto bin = ms <= 0 ? 0 : std::size_t(ms + 0.5);
    ++bins_[std::min(bin, bins_.size() - 1)];
    ++count_;
  }
  void clear() {
    bins_.fill(0);
    count_ = 0;
  }
  /// The latency below which the fraction q of the samples lie.
  double quantile(double q) const {
    const auto wanted = std::uint64_t(q * double(count_));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < bins_.size(); ++i) {
      seen += bins_[i];
      if (seen > wanted) return double(i);
    }
    return double(bins_.size() - 1);
  }

 private:
  std::array<std::uint64_t, 60001> bins_{};
  std::uint64_t count_ = 0;
};

/// The server's items whose values change on every scan.
std::vector<QString> liveItemIds() {
  std::vector<QString> out;
  for (const char* branch : {"Random", "Ramp"}) {
    for (const char* leaf :
         {"Int1", "Int2", "Int4", "Real4", "Real8", "Money", "UInt1", "UInt2", "UInt4"})
      out.push_back(QStringLiteral("%1.%2").arg(QLatin1String(branch), QLatin1String(leaf)));
  }
  return out;
}

/// CPU time of the calling thread in seconds.
double threadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

/// Lets the event loop run for the given time.
void pump(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms)
    QCoreApplication::processEvents(QEventLoop::AllEvents, int(ms - timer.elapsed()));
}

struct Load {
  Load() {
    sim::registerSimulationServer();
    const std::vector<QString> ids = liveItemIds();
    for (int c = 0; c < kComponents; ++c) {
      auto* server = new TqOPCServer(&form);
      server->SetServer(QString::fromStdU16String(std::u16string(sim::kSimulationProgId)));
      server->SetConnectDelay(0);  // the server is in this process: nothing to wait for
      server->OnDatachange = [this](QObject*, TqOPCItemList* list) { delivered(list); };
      auto* gui = new TqOPCGUI(&form);
      gui->SetOPCServer(server);
      TqOPCGroup* group = server->OPCGroups()->Add(QStringLiteral("load"));
      group->SetUpdateRate(kRateMs);
      group->SetIsActive(false);
      groups.push_back(group);
      for (int i = 0; i < kItemsPerComponent; ++i)
        group->OPCItems()->AddItem(ids[std::size_t(i) % ids.size()]);
      for (int w = 0; w < kBoundPerComponent; ++w) {
        QWidget* control = w % 2 ? static_cast<QWidget*>(new QLabel(&form))
                                 : static_cast<QWidget*>(new QLineEdit(&form));
        gui->AddItem(group->OPCItems()->Items(w * (kItemsPerComponent / kBoundPerComponent)),
                     control, QString());
      }
      servers.push_back(server);
    }
    // The groups start scanning together once all are connected, so no
    // component's deliveries queue up while the others connect.
    for (TqOPCServer* server : servers) server->SetActive(true);
    for (TqOPCGroup* group : groups) group->SetIsActive(true);
  }

  void delivered(TqOPCItemList* list) {
    if (!list) return;
    const int n = list->Count();
    updates += n;
    const TDateTime now = FileTimeToDateTime(opc::fileTimeNow());
    for (int i = 0; i < n; ++i)
      if (const TqOPCItem* item = list->Items(i))
        latency.add((now - item->TimeStamp()) * 86400000.0);
  }

  QWidget form;
  std::vector<TqOPCServer*> servers;
  std::vector<TqOPCGroup*> groups;
  std::int64_t updates = 0;
  LatencyHistogram latency;
};

void BM_Load(benchmark::State& state) {
  auto load = std::make_unique<Load>();
  for (TqOPCServer* server : load->servers) {
    if (!server->Active()) {
      state.SkipWithError("a component did not connect");
      return;
    }
  }
  pump(2000);
  load->updates = 0;
  load->latency.clear();
  QElapsedTimer wall;
  wall.start();
  const double cpuStart = threadCpuSeconds();
  for (auto _ : state) pump(1000);
  const double seconds = double(wall.nsecsElapsed()) * 1e-9;
  const double cpu = threadCpuSeconds() - cpuStart;

  state.counters["updates/s"] = double(load->updates) / seconds;
  state.counters["thread_load"] = cpu / seconds;
  state.counters["p50_ms"] = load->latency.quantile(0.50);
  state.counters["p99_ms"] = load->latency.quantile(0.99);
  for (TqOPCServer* server : load->servers) server->SetActive(false);
  load.reset();
}
BENCHMARK(BM_Load)->Iterations(10)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
