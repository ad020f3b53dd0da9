// What a benchmark program may add to the one main (main.cpp): its own
// reporter, and a summary printed after the runs.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <optional>

namespace veze6::bench {

struct MainHooks {
  benchmark::BenchmarkReporter* reporter = nullptr;  ///< null: the console reporter
  std::function<void()> summary;                     ///< after the runs, when set
  /// Runs before the benchmarks, when set; a value ends the program with it
  /// instead (a helper process the program started of itself).
  std::function<std::optional<int>()> instead;
};

/// The program's hooks; set them from a static initializer.
MainHooks& mainHooks();

}  // namespace veze6::bench
