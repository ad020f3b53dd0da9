// What the files of the simulator's group share: task-memory arrays, the
// injected failures of item calls, data sources and kept write values.
#pragma once

#include <algorithm>
#include <utility>

#include "opc/itemresults.h"
#include "opc/taskmem.h"
#include "opc/variant.h"
#include "servercore_p.h"
#include "simgroup.h"

namespace veze6::sim::detail {

template <class T>
inline T* allocArray(DWORD count) {
  return static_cast<T*>(CoTaskMemAlloc(sizeof(T) * std::size_t(count)));
}

// An injected failure of an item call. A server with the ArraysWithFailure
// quirk hands out per-item arrays anyway (each entry carrying the failure,
// results and item states zeroed), which a careful client still frees.
template <class Result = OPCITEMRESULT>
HRESULT injectedFailure(const ServerCore& core, HRESULT result, DWORD count, Result** ppResults,
                        HRESULT** ppErrors) {
  if (!core.quirk(Quirk::ArraysWithFailure) || count == 0 || !ppErrors) return result;
  opc::TaskMem<HRESULT> errors(allocArray<HRESULT>(count));
  opc::TaskMem<Result> results(ppResults ? allocArray<Result>(count) : nullptr);
  if (!errors || (ppResults && !results)) return result;
  std::fill_n(errors.get(), count, result);
  if (ppResults) {
    std::fill_n(results.get(), count, Result{});
    *ppResults = results.release();
  }
  *ppErrors = errors.release();
  return result;
}
inline HRESULT injectedFailure(const ServerCore& core, HRESULT result, DWORD count, std::nullptr_t,
                               HRESULT** ppErrors) {
  return injectedFailure<OPCITEMRESULT>(core, result, count, nullptr, ppErrors);
}

// The NullItemArrays quirk: the call's answer, but not the per-item arrays
// it made.
inline HRESULT withheldArrays(const ServerCore& core, HRESULT result, OPCITEMRESULT** ppResults,
                              HRESULT** ppErrors) {
  if (!core.quirk(Quirk::NullItemArrays)) return result;
  if (ppResults) CoTaskMemFree(std::exchange(*ppResults, nullptr));
  if (ppErrors) CoTaskMemFree(std::exchange(*ppErrors, nullptr));
  return result;
}

inline bool isDataSource(OPCDATASOURCE s) { return s == OPC_DS_CACHE || s == OPC_DS_DEVICE; }

// A write value kept for a later pass: a reference is resolved now, while
// what it points at still exists.
inline HRESULT keepValue(const VARIANT& value, OleVariant& kept) {
  if (!(value.vt & VT_BYREF)) return VariantCopy(kept.ptr(), &value);
  if (value.vt & VT_ARRAY) return OPC_E_BADTYPE;
  const HRESULT hr = VariantChangeType(kept.ptr(), &value, 0, value.vt & VT_TYPEMASK);
  return FAILED(hr) ? OPC_E_BADTYPE : S_OK;
}

}  // namespace veze6::sim::detail

namespace veze6::sim {

// Item calls that walk a list of server handles, defined here for the
// files that make them.
template <class PerItem>
HRESULT SimGroup::forEachHandle(SimCall call, DWORD count, const OPCHANDLE* handles,
                                HRESULT** ppErrors, bool argumentsValid, PerItem perItem) {
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(call)) {
    return detail::injectedFailure(*core_, *injected, count, nullptr, ppErrors);
  }
  const HRESULT hr = opc::forEachItemHandle(
      core_->mutex, count, handles, ppErrors, argumentsValid,
      [this](OPCHANDLE h) { return findItemLocked(h); }, perItem);
  return detail::withheldArrays(*core_, hr, nullptr, ppErrors);
}

}  // namespace veze6::sim
