// The per-item arrays of the IOPCItemMgt calls, as the groups of every
// server object answer them whatever stands behind their items: the
// argument checks, the arrays in task memory, and the walk of the calls
// that take server handles.
#pragma once

#include <mutex>

#include "OPCDA.h"
#include "opcexport.h"
#include "taskmem.h"

namespace opc {

/// The arrays of one item call: the errors and, for AddItems and
/// ValidateItems, the results (zeroed). A failed item hands out a zeroed
/// result whatever was filled in for it, so a step that fails an item after
/// its result was filled in (the server behind it refused) needs no undo.
class VEZE6_OPC_EXPORT ItemResults {
 public:
  /// AddItems' and ValidateItems' start: the outputs nulled; E_INVALIDARG
  /// for no items or a missing pointer, E_OUTOFMEMORY when the arrays
  /// cannot be had.
  HRESULT start(DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT** ppResults, HRESULT** ppErrors);
  /// The start of a call that takes server handles (errors only);
  /// `argumentsValid` is false when a per-item array it needs is missing.
  HRESULT start(DWORD count, const OPCHANDLE* handles, HRESULT** ppErrors,
                bool argumentsValid = true);

  DWORD count() const { return count_; }
  OPCITEMRESULT& result(DWORD i) { return results_.get()[i]; }
  HRESULT& error(DWORD i) { return errors_.get()[i]; }
  HRESULT* errors() { return errors_.get(); }

  /// Hands the arrays out: S_FALSE when any item failed, else S_OK.
  HRESULT handOut(OPCITEMRESULT** ppResults, HRESULT** ppErrors);

 private:
  HRESULT allocate(DWORD count, bool withResults);

  DWORD count_ = 0;
  TaskMem<OPCITEMRESULT> results_;
  TaskMem<HRESULT> errors_;
};

/// RemoveItems, SetActiveState, SetClientHandles, SetDatatypes: each
/// handle's item is looked up with `find(handle)` (null:
/// OPC_E_INVALIDHANDLE) and given to `perItem(item, index)`, which answers
/// its code; both run under `lock`. S_FALSE when any item failed.
template <class Find, class PerItem>
HRESULT forEachItemHandle(std::mutex& lock, DWORD count, const OPCHANDLE* handles,
                          HRESULT** ppErrors, bool argumentsValid, Find&& find, PerItem&& perItem) {
  ItemResults arrays;
  if (HRESULT hr = arrays.start(count, handles, ppErrors, argumentsValid); FAILED(hr)) return hr;
  {
    std::lock_guard guard(lock);
    for (DWORD i = 0; i < count; ++i) {
      auto* item = find(handles[i]);
      arrays.error(i) = item ? perItem(*item, i) : OPC_E_INVALIDHANDLE;
    }
  }
  return arrays.handOut(nullptr, ppErrors);
}

}  // namespace opc
