// Fan-out of data changes into bound widgets.
//
// 1,000 items with random values, each bound to 10 controls (5 QLineEdit
// "text", 5 QLabel "text"); every item changes before every delivery (the
// server's scan runs outside the timed part).
//
//   BM_BindingFanOut  TqOPCGUI::OnDataChange with the list of all items:
//                     10,000 property writes per delivery.
//   BM_BareSetProperty the same writes as a plain loop: for each item and
//                     each of its controls, the value as text and
//                     QObject::setProperty("text", ...).
//
// writes/s is property writes per second of CPU time (the machine may be
// busy with other work; the ratio is what counts). After both ran, the program
// prints how much the binding adds to the bare writes.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "benchmain.h"
#include "benchserver.h"
#include "binding/qOPCGUI.h"
#include "core/qOPC.h"
#include "opc/classregistry.h"
#include "opc/filetime.h"
#include "simulator/simulator.h"

namespace {

namespace sim = veze6::sim;

constexpr int kItems = 1000;
constexpr int kControlsPerItem = 10;
constexpr DWORD kRateMs = 10;

constexpr CLSID kBenchServer{
    0x5B1C2E7A, 0x3D4F, 0x4A61, {0x8E, 0x27, 0x6C, 0x90, 0xB3, 0x14, 0x5D, 0xA2}};

using bench::itemId;

/// A server of kItems random analog items on a manual clock.
QString benchServerName() {
  static const QString name =
      bench::registerServer(kBenchServer, u"veze6 benchmark: bound items", [] {
        sim::SimulationOptions options;
        options.defaultItems = false;
        options.baseScanRateMs = kRateMs;
        options.manualScan = true;
        options.clock = std::make_shared<sim::ManualClock>();
        options.extendAddressSpace = [](sim::AddressSpace& space) {
          bench::addRandomItems(space, kItems);
        };
        return options;
      });
  return name;
}

/// A form with the server component, one group of kItems items and the
/// bound controls.
struct Fixture {
  Fixture() {
    server = new TqOPCServer(&form);
    server->SetServer(benchServerName());
    server->SetActive(true);
    control = server->GetOPCServer().as<sim::SimulationControl>();
    server->OPCGroupDefault()->UpdateRate = kRateMs;
    server->SetBatchMode(true);
    group = server->OPCGroups()->Add(QStringLiteral("bench"));
    TqOPCItems* items = group->OPCItems();
    for (int i = 0; i < kItems; ++i) items->AddItem(QString::fromStdU16String(itemId(i)));
    items->OPCAddAllItems();
    server->SetBatchMode(false);
    gui = new TqOPCGUI(&form);
    gui->SetOPCServer(server);
    // The timed part calls OnDataChange itself; deliveries during the
    // untimed scan only refresh the values.
    QObject::disconnect(server, &TqOPCServer::dataChanged, gui, nullptr);
    controls.reserve(std::size_t(kItems) * kControlsPerItem);
    for (int i = 0; i < kItems; ++i) {
      for (int c = 0; c < kControlsPerItem; ++c) {
        QWidget* w = c % 2 ? static_cast<QWidget*>(new QLabel(&form))
                           : static_cast<QWidget*>(new QLineEdit(&form));
        gui->AddItem(items->Items(i), w, QString());
        controls.push_back(w);
      }
    }
    list = TqOPCItemList(items);
  }

  /// One scan: every item gets a new value.
  void refresh() {
    control->advance(std::chrono::milliseconds(kRateMs));
    QCoreApplication::sendPostedEvents();
  }

  QWidget form;
  TqOPCServer* server = nullptr;
  ComPtr<sim::SimulationControl> control;
  TqOPCGroup* group = nullptr;
  TqOPCGUI* gui = nullptr;
  std::vector<QWidget*> controls;
  TqOPCItemList list;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void writeCounters(benchmark::State& state) {
  const double writes = double(state.iterations()) * kItems * kControlsPerItem;
  state.counters["writes/s"] = benchmark::Counter(writes, benchmark::Counter::kIsRate);
  state.counters["time/write"] =
      benchmark::Counter(writes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_BindingFanOut(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    state.PauseTiming();
    f.refresh();
    state.ResumeTiming();
    f.gui->OnDataChange(f.server, &f.list);
  }
  // Every control shows its item's latest value.
  const QString last = VarToStr(f.list.Items(kItems - 1)->Value());
  if (static_cast<QLabel*>(f.controls.back())->text() != last)
    state.SkipWithError("a control missed its value");
  writeCounters(state);
}
BENCHMARK(BM_BindingFanOut)->Unit(benchmark::kMillisecond);

void BM_BareSetProperty(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    state.PauseTiming();
    f.refresh();
    state.ResumeTiming();
    for (int i = 0; i < kItems; ++i) {
      const TqOPCItem* item = f.list.Items(i);
      for (int c = 0; c < kControlsPerItem; ++c) {
        f.controls[std::size_t(i) * kControlsPerItem + std::size_t(c)]->setProperty(
            "text", QVariant(VarToStr(item->Value())));
      }
    }
  }
  writeCounters(state);
}
BENCHMARK(BM_BareSetProperty)->Unit(benchmark::kMillisecond);

/// Collects the per-write times of the two runs (the mean over repetitions)
/// for the closing ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("time/write");
      if (it == run.counters.end() || run.error_occurred || run.run_type != Run::RT_Iteration)
        continue;
      const double ns = it->second.value * 1e9;  // the counter is in seconds
      if (run.benchmark_name().rfind("BM_BindingFanOut", 0) == 0) binding.add(ns);
      if (run.benchmark_name().rfind("BM_BareSetProperty", 0) == 0) bare.add(ns);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  struct Mean {
    double sum = 0;
    int count = 0;
    void add(double v) { sum += v, ++count; }
    double value() const { return count ? sum / count : 0.0; }
  };
  Mean binding;
  Mean bare;
};

RatioReporter g_reporter;

void printRatio() {
  const double bindingNs = g_reporter.binding.value();
  const double bareNs = g_reporter.bare.value();
  if (bindingNs > 0 && bareNs > 0) {
    std::printf(
        "binding: %.0f writes/s (%.0f ns/write), bare setProperty: %.0f writes/s (%.0f "
        "ns/write), binding/bare time: %.3f (the binding adds %+.1f%%; goal at most "
        "+50%%)\n",
        1e9 / bindingNs, bindingNs, 1e9 / bareNs, bareNs, bindingNs / bareNs,
        (bindingNs / bareNs - 1.0) * 100.0);
  }
}

const bool g_hooked = [] {
  veze6::bench::mainHooks().reporter = &g_reporter;
  veze6::bench::mainHooks().summary = printRatio;
  return true;
}();

}  // namespace
