// Internal to the remote transport; not API.
//
// Small pieces the group's proxies share: number arrays into requests, and
// per-item errors out of an answer, all or nothing.
#pragma once

#include "opc/remote/marshal_p.h"
#include "opc/remote/objectref_p.h"
#include "opc/taskmem.h"

namespace opc::remote {

/// Copies list.size() numbers from `from` into a request's list.
template <class List, class T>
void putNumbers(List list, const T* from) {
  for (unsigned i = 0; i < list.size(); ++i) list.set(i, from[i]);
}

/// The call's code, with its per-item errors as task memory when it
/// succeeded; RPC_E_INVALID_DATA (nothing allocated) when the answer holds
/// another number of them.
template <class List>
HRESULT takeErrors(HRESULT hr, List errors, DWORD count, HRESULT** out) {
  if (FAILED(hr)) return hr;
  return taskArray<HRESULT>(errors, count, out) ? hr : RPC_E_INVALID_DATA;
}

}  // namespace opc::remote
