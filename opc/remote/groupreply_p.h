// Internal to the remote transport; not API.
//
// Small pieces the group's proxies share: number arrays into requests, and
// the out-parameters of an answer, all or nothing.
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

/// The call's code, with the object of the answer as `iid` in *out when it
/// succeeded. A success without an object (S_FALSE of an empty
/// enumeration) leaves *out null.
inline HRESULT takeObject(const std::shared_ptr<Session>& session, HRESULT hr,
                          wire::ObjectRef::Reader ref, REFIID iid, IUnknown** out) {
  if (FAILED(hr)) return hr;
  if (!ref.hasObject()) return hr == S_OK ? RPC_E_INVALID_DATA : hr;
  const HRESULT made = proxyFromRef(session, ref, iid, reinterpret_cast<void**>(out));
  return FAILED(made) ? made : hr;
}

}  // namespace opc::remote
