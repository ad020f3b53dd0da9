// The group's connection point (IOPCDataCallback) and the data changes the
// subscription delivers to it.
#include "opc/filetime.h"
#include "uagroup_p.h"

namespace veze6::uab {

void UaGroupData::onDataChange(const std::vector<ua::MonitoredItemNotification>& changes) {
  std::shared_ptr<opc::Connection> callback;
  std::shared_ptr<detail::ItemBatch> batch;
  {
    std::lock_guard lock(mutex);
    if (active && enabled && inNameSpace) callback = callbackPoint->sinks().first();
    for (const auto& change : changes) {
      const auto it = items.find(change.clientHandle);
      if (it == items.end()) continue;  // removed since
      UaGroupItem& item = it->second;
      ItemValue v = itemValueFromUa(change.value);
      item.value = std::move(v.value);
      item.quality = v.quality;
      item.timestamp = v.timestamp;
      item.valueError = v.error;
      item.haveValue = true;
      if (!callback || !item.active) continue;
      if (!batch) {
        batch = std::make_shared<detail::ItemBatch>();
        batch->clientGroup = clientGroup;
        batch->reserve(changes.size());
      }
      detail::addValue(*batch, item);
    }
  }
  if (batch) {
    lastUpdate->store(opc::fileTimeTicks(opc::fileTimeNow()));
    opc::sendBatch(callback, opc::DataCallback::DataChange, std::move(batch));
  }
}

namespace detail {

void resendCache(UaSession& session, const std::shared_ptr<UaGroupData>& data) {
  // On the I/O thread: after the notifications that arrived before, and
  // before the ones that follow.
  session.client.post([data] {
    std::shared_ptr<opc::Connection> callback;
    auto batch = std::make_shared<ItemBatch>();
    {
      std::lock_guard lock(data->mutex);
      if (!data->active || !data->enabled || !data->inNameSpace) return;
      callback = data->callbackPoint->sinks().first();
      if (!callback) return;
      batch->clientGroup = data->clientGroup;
      for (OPCHANDLE h : data->order) {
        const UaGroupItem& item = data->items.at(h);
        if (item.active && item.haveValue) addValue(*batch, item);
      }
    }
    if (batch->size() == 0) return;
    data->lastUpdate->store(opc::fileTimeTicks(opc::fileTimeNow()));
    opc::sendBatch(callback, opc::DataCallback::DataChange, std::move(batch));
  });
}

}  // namespace detail

HRESULT UaGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  if (!ppEnum) return E_POINTER;
  *ppEnum = opc::makeEnumConnectionPoints({ComPtr<IConnectionPoint>(data_->callbackPoint.get())})
                .detach();
  return S_OK;
}

HRESULT UaGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (ppCP) *ppCP = nullptr;
  if (!ppCP) return E_POINTER;
  if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
  return ComPtr<IConnectionPoint>(data_->callbackPoint.get()).copyTo(ppCP);
}

}  // namespace veze6::uab
