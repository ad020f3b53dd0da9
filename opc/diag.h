// Live counters of task memory, wide strings and objects, so that tests can
// prove that memory handed across the server boundary is released.
#pragma once

#include <cstdint>

#include "opcexport.h"

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
VEZE6_OPC_EXPORT Counters snapshot();

VEZE6_OPC_EXPORT void objectCreated();
VEZE6_OPC_EXPORT void objectDestroyed();

// Bookkeeping of the allocators of this layer (called by them only).
VEZE6_OPC_EXPORT void taskAllocated();
VEZE6_OPC_EXPORT void taskFreed();
VEZE6_OPC_EXPORT void bstrAllocated();
VEZE6_OPC_EXPORT void bstrFreed();
VEZE6_OPC_EXPORT void globalAllocated();
VEZE6_OPC_EXPORT void globalFreed();
VEZE6_OPC_EXPORT void safeArrayCreated();
VEZE6_OPC_EXPORT void safeArrayDestroyed();

}  // namespace opc::diag
