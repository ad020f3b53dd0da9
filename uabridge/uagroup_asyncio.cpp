// IOPCAsyncIO2: requests are checked now, run in order on the server's
// worker thread and completed through the group's callback.
#include <algorithm>

#include "opc/taskmem.h"
#include "uagroup_p.h"
#include "uaservercore_p.h"

namespace veze6::uab {

namespace {

// A write value kept for the worker: a reference is resolved now, while
// what it points at still exists.
HRESULT keepValue(const VARIANT& value, OleVariant& kept) {
  if (!(value.vt & VT_BYREF)) return VariantCopy(kept.ptr(), &value);
  if (value.vt & VT_ARRAY) return OPC_E_BADTYPE;
  const HRESULT hr = VariantChangeType(kept.ptr(), &value, 0, value.vt & VT_TYPEMASK);
  return FAILED(hr) ? OPC_E_BADTYPE : S_OK;
}

using Pending = UaGroup::Pending;

/// Runs one request on the worker thread.
void complete(UaSession& session, const std::shared_ptr<UaGroupData>& data,
              const std::shared_ptr<Pending>& request) {
  const auto callback = data->callbackPoint->sinks().first();
  auto batch = std::make_shared<detail::ItemBatch>();
  batch->transactionId = request->transactionId;
  OPCHANDLE clientGroup;
  {
    std::lock_guard lock(data->mutex);
    clientGroup = data->clientGroup;
  }
  batch->clientGroup = clientGroup;
  int queued = Pending::Queued;
  if (!request->state.compare_exchange_strong(queued, Pending::Started)) {
    // Cancelled while queued: the client hears of that instead.
    if (request->state.load() == Pending::Cancelled) {
      opc::sendBatch(callback, opc::DataCallback::CancelComplete, std::move(batch));
    }
    return;
  }
  switch (request->kind) {
    case Pending::Kind::Write: {
      // An accepted write happens even when nobody is left to hear of it.
      std::vector<VARIANT> values;
      values.reserve(request->values.size());
      for (const auto& v : request->values) values.push_back(v.get());
      std::vector<OPCHANDLE> clientHandles;
      const auto results =
          detail::writeItems(session, *data, request->handles, values.data(), &clientHandles);
      for (std::size_t i = 0; i < results.size(); ++i) {
        // An item removed since is no longer the client's concern.
        if (results[i] != OPC_E_INVALIDHANDLE) batch->addResult(clientHandles[i], results[i]);
      }
      request->state.store(Pending::Done);
      opc::sendBatch(callback, opc::DataCallback::WriteComplete, std::move(batch));
      return;
    }
    case Pending::Kind::Read:
    case Pending::Kind::Refresh: {
      detail::ItemBatch read;
      detail::readItems(session, *data, request->handles, request->source == OPC_DS_DEVICE, read);
      batch->reserve(read.size());
      for (std::size_t i = 0; i < read.size(); ++i) {
        if (read.errors[i] == OPC_E_INVALIDHANDLE) continue;  // removed since
        batch->clientHandles.push_back(read.clientHandles[i]);
        batch->values.push_back(read.values[i]);
        read.values[i].vt = VT_EMPTY;
        batch->qualities.push_back(read.qualities[i]);
        batch->timeStamps.push_back(read.timeStamps[i]);
        batch->errors.push_back(read.errors[i]);
      }
      int started = Pending::Started;
      if (!request->state.compare_exchange_strong(started, Pending::Done)) {
        batch = std::make_shared<detail::ItemBatch>();
        batch->transactionId = request->transactionId;
        batch->clientGroup = clientGroup;
        opc::sendBatch(callback, opc::DataCallback::CancelComplete, std::move(batch));
        return;
      }
      // A refresh answers through OnDataChange, with its transaction id.
      opc::sendBatch(callback,
                     request->kind == Pending::Kind::Refresh ? opc::DataCallback::DataChange
                                                             : opc::DataCallback::ReadComplete,
                     std::move(batch));
      return;
    }
  }
}

}  // namespace

HRESULT UaGroup::queueRequest(std::shared_ptr<Pending> request, DWORD* cancelId) {
  request->cancelId = core_->nextRequestId();
  *cancelId = request->cancelId;
  {
    std::lock_guard lock(data_->mutex);
    std::erase_if(pending_, [](const auto& p) {
      const int state = p->state.load();
      return state == Pending::Done || state == Pending::Cancelled;
    });
    pending_.push_back(request);
  }
  core_->worker.post(
      [session = session_, data = data_, request] { complete(*session, data, request); });
  return S_OK;
}

HRESULT UaGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                      HRESULT** ppErrors) {
  if (pdwCancelID) *pdwCancelID = 0;
  if (ppErrors) *ppErrors = nullptr;
  if (dwCount == 0 || !phServer || !pdwCancelID || !ppErrors) return E_INVALIDARG;
  return queueItems(false, dwCount, phServer, nullptr, dwTransactionID, pdwCancelID, ppErrors);
}

HRESULT UaGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                       DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) {
  if (pdwCancelID) *pdwCancelID = 0;
  if (ppErrors) *ppErrors = nullptr;
  if (dwCount == 0 || !phServer || !pItemValues || !pdwCancelID || !ppErrors) return E_INVALIDARG;
  return queueItems(true, dwCount, phServer, pItemValues, dwTransactionID, pdwCancelID, ppErrors);
}

HRESULT UaGroup::queueItems(bool write, DWORD dwCount, const OPCHANDLE* phServer,
                            const VARIANT* pItemValues, DWORD dwTransactionID, DWORD* pdwCancelID,
                            HRESULT** ppErrors) {
  if (data_->callbackPoint->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  opc::TaskMem<HRESULT> errors(detail::allocArray<HRESULT>(dwCount));
  if (!errors) return E_OUTOFMEMORY;
  auto request = std::make_shared<Pending>();
  request->kind = write ? Pending::Kind::Write : Pending::Kind::Read;
  request->transactionId = dwTransactionID;
  bool anyFailed = false;
  {
    std::lock_guard lock(data_->mutex);
    for (DWORD i = 0; i < dwCount; ++i) {
      const auto it = data_->items.find(phServer[i]);
      HRESULT hr = it != data_->items.end() ? S_OK : OPC_E_INVALIDHANDLE;
      if (SUCCEEDED(hr) && write) {
        if (!(it->second.accessRights & OPC_WRITEABLE)) {
          hr = OPC_E_BADRIGHTS;
        } else {
          OleVariant kept;
          hr = keepValue(pItemValues[i], kept);
          if (SUCCEEDED(hr)) request->values.push_back(std::move(kept));
        }
      }
      // Items refused here take no part in the completion.
      if (SUCCEEDED(hr)) request->handles.push_back(phServer[i]);
      anyFailed = anyFailed || FAILED(hr);
      errors.get()[i] = hr;
    }
  }
  if (!request->handles.empty()) queueRequest(std::move(request), pdwCancelID);
  *ppErrors = errors.release();
  return anyFailed ? S_FALSE : S_OK;
}

HRESULT UaGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
  if (pdwCancelID) *pdwCancelID = 0;
  if (!pdwCancelID || (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE)) return E_INVALIDARG;
  if (data_->callbackPoint->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  auto request = std::make_shared<Pending>();
  request->kind = Pending::Kind::Refresh;
  request->source = dwSource;
  request->transactionId = dwTransactionID;
  {
    std::lock_guard lock(data_->mutex);
    if (!data_->active) return E_FAIL;
    for (OPCHANDLE h : data_->order) {
      if (data_->items.at(h).active) request->handles.push_back(h);
    }
  }
  // An inactive group, or one without active items, has nothing to refresh.
  if (request->handles.empty()) return E_FAIL;
  return queueRequest(std::move(request), pdwCancelID);
}

HRESULT UaGroup::Cancel2(DWORD dwCancelID) {
  std::lock_guard lock(data_->mutex);
  for (const auto& p : pending_) {
    if (p->cancelId != dwCancelID) continue;
    int state = Pending::Queued;
    if (p->state.compare_exchange_strong(state, Pending::Cancelled)) return S_OK;
    // A read under way is dropped when it returns; a write under way happens.
    if (state == Pending::Started && p->kind != Pending::Kind::Write &&
        p->state.compare_exchange_strong(state, Pending::Cancelled)) {
      return S_OK;  // OnCancelComplete in place of the completion
    }
    return E_FAIL;
  }
  return E_FAIL;  // unknown, or already under way
}

HRESULT UaGroup::SetEnable(BOOL bEnable) {
  if (data_->callbackPoint->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  bool reenabled;
  {
    std::lock_guard lock(data_->mutex);
    reenabled = bEnable && !data_->enabled;
    data_->enabled = bEnable != FALSE;
  }
  // Switched back on, the client hears of every active item again.
  if (reenabled) detail::resendCache(*session_, data_);
  return S_OK;
}

HRESULT UaGroup::GetEnable(BOOL* pbEnable) {
  if (!pbEnable) return E_INVALIDARG;
  if (data_->callbackPoint->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  std::lock_guard lock(data_->mutex);
  *pbEnable = data_->enabled ? TRUE : FALSE;
  return S_OK;
}

}  // namespace veze6::uab
