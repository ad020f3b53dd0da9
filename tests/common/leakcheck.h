// The one leak check of the test suites: every counter of what the platform
// layer hands out (task memory, BSTRs, global blocks, safe arrays, objects)
// must be back where it started.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "opc/diag.h"

namespace veze6::test {

/// Takes a snapshot of the counters when made; expectBalanced() fails the
/// running test for each counter that moved since.
class LeakCheck {
 public:
  LeakCheck() : start_(opc::diag::snapshot()) {}

  void expectBalanced(std::string_view what = {}) const;
  /// Whether every counter is back where it started, for tests that wait
  /// for another thread or process to let go.
  bool balanced() const { return opc::diag::snapshot() == start_; }
  void restart() { start_ = opc::diag::snapshot(); }
  const opc::diag::Counters& start() const { return start_; }

 private:
  opc::diag::Counters start_;
};

/// A fixture checked for leaks after everything it holds is gone: the check
/// runs in the base destructor, after the derived fixture's members.
class LeakCheckedTest : public ::testing::Test {
 protected:
  ~LeakCheckedTest() override { leaks_.expectBalanced(); }

  LeakCheck leaks_;
};

}  // namespace veze6::test
