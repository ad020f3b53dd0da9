// What a benchmark program may add to the one main (main.cpp): its own
// reporter, and a summary printed after the runs.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>

namespace veze6::bench {

struct MainHooks {
  benchmark::BenchmarkReporter* reporter = nullptr;  ///< null: the console reporter
  std::function<void()> summary;                     ///< after the runs, when set
};

/// The program's hooks; set them from a static initializer.
MainHooks& mainHooks();

}  // namespace veze6::bench
