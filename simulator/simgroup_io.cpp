// The group's reads and writes: IOPCSyncIO, IOPCAsyncIO2 and IOPCAsyncIO.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "generators.h"
#include "opc/connectionpoint.h"
#include "opc/itemresults.h"
#include "opc/taskmem.h"
#include "scan_p.h"
#include "servercore_p.h"
#include "simgroup.h"
#include "simgroup_p.h"

namespace veze6::sim {

using detail::allocArray;
using detail::injectedFailure;
using detail::isDataSource;
using detail::keepValue;

// ---- IOPCSyncIO ---------------------------------------------------------------------

HRESULT SimGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                       OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
  if (ppItemValues) *ppItemValues = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(SimCall::SyncRead)) {
    return injectedFailure(*core_, *injected, dwCount, ppItemValues, ppErrors);
  }
  if (dwCount == 0 || !phServer || !ppItemValues || !ppErrors || !isDataSource(dwSource)) {
    return E_INVALIDARG;
  }
  opc::TaskMem<OPCITEMSTATE> states(allocArray<OPCITEMSTATE>(dwCount));
  opc::TaskMem<HRESULT> errors(allocArray<HRESULT>(dwCount));
  if (!states || !errors) return E_OUTOFMEMORY;
  bool anyFailed = false;
  {
    std::lock_guard lock(core_->mutex);
    const detail::PassTime now = core_->nowLocked();
    for (DWORD i = 0; i < dwCount; ++i) {
      OPCITEMSTATE& st = states.get()[i];
      st = OPCITEMSTATE{};
      st.vDataValue.vt = VT_EMPTY;
      HRESULT hr = OPC_E_INVALIDHANDLE;
      if (GroupItem* gi = findItemLocked(phServer[i])) {
        st.hClient = gi->clientHandle;
        hr = readLocked(*gi, dwSource == OPC_DS_DEVICE, now, st.vDataValue, st.wQuality,
                        st.ftTimeStamp);
      }
      anyFailed = anyFailed || FAILED(hr);
      errors.get()[i] = hr;
    }
  }
  const HRESULT result = anyFailed ? S_FALSE : S_OK;
  if (core_->quirk(Quirk::NullItemArrays)) {
    for (DWORD i = 0; i < dwCount; ++i) VariantClear(&states.get()[i].vDataValue);
    return result;
  }
  *ppItemValues = states.release();
  *ppErrors = errors.release();
  return result;
}

HRESULT SimGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                        HRESULT** ppErrors) {
  std::optional<detail::PassTime> now;
  return forEachHandle(SimCall::SyncWrite, dwCount, phServer, ppErrors, pItemValues != nullptr,
                       [&](GroupItem& item, DWORD i) {
                         if (!now) now = core_->nowLocked();
                         return detail::writeItem(*item.item, pItemValues[i], *now);
                       });
}

// ---- Asynchronous requests -------------------------------------------------------------

template <class Connected>
HRESULT SimGroup::queueItems(SimCall call, detail::AsyncRequest&& request, DWORD count,
                             const OPCHANDLE* handles, const VARIANT* values, HRESULT** ppErrors,
                             DWORD* id, Connected connected) {
  if (id) *id = 0;
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(call)) {
    return injectedFailure(*core_, *injected, count, nullptr, ppErrors);
  }
  const bool write = request.kind == detail::AsyncRequest::Kind::Write;
  if (count == 0 || !handles || (write && !values) || !id || !ppErrors ||
      !isDataSource(request.source)) {
    return E_INVALIDARG;
  }
  if (!connected()) return CONNECT_E_NOCONNECTION;
  opc::ItemResults arrays;
  if (HRESULT hr = arrays.start(count, handles, ppErrors); FAILED(hr)) return hr;
  bool queued = false;
  {
    std::lock_guard lock(core_->mutex);
    request.serverHandles.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
      const GroupItem* gi = findItemLocked(handles[i]);
      HRESULT hr = gi ? S_OK : OPC_E_INVALIDHANDLE;
      if (gi && write) {
        if (!(gi->item->accessRights & OPC_WRITEABLE)) {
          hr = OPC_E_BADRIGHTS;
        } else {
          OleVariant kept;
          hr = keepValue(values[i], kept);
          if (SUCCEEDED(hr)) request.values.push_back(std::move(kept));
        }
      }
      // Items refused here take no part in the completion.
      if (SUCCEEDED(hr)) request.serverHandles.push_back(handles[i]);
      arrays.error(i) = hr;
    }
    if (!request.serverHandles.empty()) {
      request.cancelId = core_->nextRequestIdLocked();
      if (request.da10) request.transactionId = request.cancelId;
      *id = request.cancelId;
      pending_.push_back(std::move(request));
      queued = true;
    }
  }
  if (queued) core_->wakeScanner();
  return detail::withheldArrays(*core_, arrays.handOut(nullptr, ppErrors), nullptr, ppErrors);
}

template <class Connected>
HRESULT SimGroup::queueRefresh(detail::AsyncRequest&& request, DWORD* id, Connected connected) {
  if (id) *id = 0;
  if (auto injected = core_->enter(SimCall::Refresh)) return *injected;
  if (!id || !isDataSource(request.source)) return E_INVALIDARG;
  if (!connected()) return CONNECT_E_NOCONNECTION;
  {
    std::lock_guard lock(core_->mutex);
    if (!active_) return E_FAIL;
    for (const GroupItem& gi : items_) {
      if (gi.active) request.serverHandles.push_back(gi.serverHandle);
    }
    if (request.serverHandles.empty()) return E_FAIL;
    request.cancelId = core_->nextRequestIdLocked();
    if (request.da10) request.transactionId = request.cancelId;
    *id = request.cancelId;
    pending_.push_back(std::move(request));
  }
  core_->wakeScanner();
  return S_OK;
}

// ---- IOPCAsyncIO2 -------------------------------------------------------------------------

HRESULT SimGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                       DWORD* pdwCancelID, HRESULT** ppErrors) {
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Read;
  r.source = OPC_DS_DEVICE;
  r.transactionId = dwTransactionID;
  return queueItems(SimCall::AsyncRead, std::move(r), dwCount, phServer, nullptr, ppErrors,
                    pdwCancelID, [this] { return callbackPoint_->sinks().size() != 0; });
}

HRESULT SimGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                        DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) {
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Write;
  r.transactionId = dwTransactionID;
  return queueItems(SimCall::AsyncWrite, std::move(r), dwCount, phServer, pItemValues, ppErrors,
                    pdwCancelID, [this] { return callbackPoint_->sinks().size() != 0; });
}

HRESULT SimGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Refresh;
  r.source = dwSource;
  r.transactionId = dwTransactionID;
  return queueRefresh(std::move(r), pdwCancelID,
                      [this] { return callbackPoint_->sinks().size() != 0; });
}

HRESULT SimGroup::Cancel2(DWORD dwCancelID) {
  if (auto injected = core_->enter(SimCall::Cancel)) return *injected;
  std::lock_guard lock(core_->mutex);
  for (detail::AsyncRequest& r : pending_) {
    if (!r.da10 && !r.cancelled && r.cancelId == dwCancelID) {
      r.cancelled = true;  // OnCancelComplete at the next pass, in place of the completion
      return S_OK;
    }
  }
  return E_FAIL;  // unknown, or already completed
}

HRESULT SimGroup::SetEnable(BOOL bEnable) {
  if (callbackPoint_->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  {
    std::lock_guard lock(core_->mutex);
    // Switched back on, the client hears of every active item again.
    if (bEnable && !enabled_) markAllInitialLocked();
    enabled_ = bEnable != FALSE;
  }
  core_->wakeScanner();
  return S_OK;
}

HRESULT SimGroup::GetEnable(BOOL* pbEnable) {
  if (!pbEnable) return E_INVALIDARG;
  if (callbackPoint_->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  std::lock_guard lock(core_->mutex);
  *pbEnable = enabled_ ? TRUE : FALSE;
  return S_OK;
}

// ---- IOPCAsyncIO ----------------------------------------------------------------------------
//
// Any advise connection of the group names a request; read and refresh
// results go to the group's data advise, write results to its write-result
// advise (when there is none, the write still happens).

HRESULT SimGroup::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                       OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) {
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Read;
  r.da10 = true;
  r.source = dwSource;
  return queueItems(SimCall::AsyncRead, std::move(r), dwCount, phServer, nullptr, ppErrors,
                    pTransactionID,
                    [&] { return advises_->find(dwConnection) && adviseOf(false); });
}

HRESULT SimGroup::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                        VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors) {
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Write;
  r.da10 = true;
  return queueItems(SimCall::AsyncWrite, std::move(r), dwCount, phServer, pItemValues, ppErrors,
                    pTransactionID, [&] { return advises_->find(dwConnection) != nullptr; });
}

HRESULT SimGroup::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Refresh;
  r.da10 = true;
  r.source = dwSource;
  return queueRefresh(std::move(r), pTransactionID,
                      [&] { return advises_->find(dwConnection) && adviseOf(false); });
}

HRESULT SimGroup::Cancel(DWORD dwTransactionID) {
  if (auto injected = core_->enter(SimCall::Cancel)) return *injected;
  std::lock_guard lock(core_->mutex);
  const auto it = std::find_if(pending_.begin(), pending_.end(), [&](const auto& r) {
    return r.da10 && r.cancelId == dwTransactionID;
  });
  if (it == pending_.end()) return E_FAIL;
  pending_.erase(it);  // DA 1.0 sends no notice of a cancel
  return S_OK;
}

}  // namespace veze6::sim
