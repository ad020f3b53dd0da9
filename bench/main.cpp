// The one main of the benchmark programs: the application object their
// components need (a widget application on the offscreen platform where
// VEZE6_BENCH_WIDGETS is defined, none where VEZE6_BENCH_NO_QT is), the
// benchmarks, then the program's own summary.
#include "benchmain.h"

#if defined(VEZE6_BENCH_WIDGETS)
#include <QApplication>
#elif !defined(VEZE6_BENCH_NO_QT)
#include <QCoreApplication>
#endif

namespace veze6::bench {

MainHooks& mainHooks() {
  static MainHooks hooks;
  return hooks;
}

}  // namespace veze6::bench

int main(int argc, char** argv) {
#if defined(VEZE6_BENCH_WIDGETS)
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
#elif !defined(VEZE6_BENCH_NO_QT)
  QCoreApplication app(argc, argv);
#endif
  const veze6::bench::MainHooks& hooks = veze6::bench::mainHooks();
  if (hooks.instead) {
    if (const auto code = hooks.instead()) return *code;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (hooks.reporter) {
    benchmark::RunSpecifiedBenchmarks(hooks.reporter);
  } else {
    benchmark::RunSpecifiedBenchmarks();
  }
  if (hooks.summary) hooks.summary();
  benchmark::Shutdown();
  return 0;
}
