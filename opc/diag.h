// Live counters of task memory, wide strings and objects, so that tests can
// prove that memory handed across the server boundary is released.
#pragma once

#include <cstdint>

namespace opc::diag {

struct Counters {
  std::int64_t taskAllocations;  ///< CoTaskMemAlloc blocks not yet freed
  std::int64_t bstrs;            ///< SysAllocString strings not yet freed
  std::int64_t objects;          ///< ComObject instances alive
  std::int64_t globals;          ///< GlobalAlloc blocks not yet freed
  std::int64_t safeArrays;       ///< SAFEARRAYs not yet destroyed

  friend bool operator==(const Counters&, const Counters&) = default;
};

/// A snapshot of all counters; compare two snapshots around an operation.
Counters snapshot();

void objectCreated();
void objectDestroyed();

// Bookkeeping of the allocators of this layer (called by them only).
void taskAllocated();
void taskFreed();
void bstrAllocated();
void bstrFreed();
void globalAllocated();
void globalFreed();
void safeArrayCreated();
void safeArrayDestroyed();

}  // namespace opc::diag
