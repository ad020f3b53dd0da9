// Internal to the bridge, not API: the pieces of a group its interface files
// share.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "opc/OPCDA.h"
#include "opc/taskmem.h"
#include "uabatch_p.h"
#include "uagroup.h"
#include "uasession.h"
#include "uavalue.h"

namespace veze6::uab {

/// An asynchronous request on its way to the worker.
struct UaGroup::Pending {
  enum class Kind { Read, Write, Refresh };
  /// A read may be cancelled until its completion goes out, a write only
  /// while queued (once sent to the server it happens).
  enum State { Queued, Started, Cancelled, Done };
  Kind kind = Kind::Read;
  OPCDATASOURCE source = OPC_DS_DEVICE;
  DWORD transactionId = 0;
  DWORD cancelId = 0;
  std::vector<OPCHANDLE> handles;
  std::vector<OleVariant> values;  ///< writes: one per handle
  std::atomic<int> state{Queued};
};

namespace detail {

/// The code of a failed UA call for a client: never a success.
inline HRESULT failureOf(ua::StatusCode s) {
  const HRESULT hr = resultFromStatus(s);
  return SUCCEEDED(hr) ? E_FAIL : hr;
}

template <class T>
T* allocArray(DWORD count) {
  return static_cast<T*>(CoTaskMemAlloc(sizeof(T) * std::size_t(count)));
}

/// Reads items for a client: from the cache (items not reported yet are
/// read with the group's update rate as maximum age) or from the device
/// (maximum age 0). Entries of unknown handles stay empty (clientHandle 0,
/// error OPC_E_INVALIDHANDLE); `out` gets one entry per handle.
void readItems(UaSession& session, UaGroupData& data, const std::vector<OPCHANDLE>& handles,
               bool fromDevice, ItemBatch& out);

/// Writes values to items' Value attributes; one result per handle
/// (OPC_E_INVALIDHANDLE, OPC_E_BADRIGHTS, conversion and server results).
std::vector<HRESULT> writeItems(UaSession& session, UaGroupData& data,
                                const std::vector<OPCHANDLE>& handles, const VARIANT* values,
                                std::vector<OPCHANDLE>* clientHandles = nullptr);

/// Sends the cached values of the active items to the callback, on the
/// client's I/O thread after what is queued there (a reactivated group, a
/// new sink).
void resendCache(UaSession& session, const std::shared_ptr<UaGroupData>& data);

}  // namespace detail
}  // namespace veze6::uab
